#include "cli/TerminalProgress.h"

#include <cstdio>
#include <string>

#include "cli/Console.h"

namespace korvo::cli {

CTerminalProgress::CTerminalProgress(bool show) : show_(show) {}

CTerminalProgress::~CTerminalProgress() {
    finish();
}

void CTerminalProgress::catchInterrupt() {
    cli::catchInterrupt();
}

bool CTerminalProgress::interrupted() {
    return interruptRequested();
}

void CTerminalProgress::begin(std::int32_t low, std::int32_t high) {
    CProgressUI::begin(low, high);
    started_ = std::chrono::steady_clock::now();
    refresh();
}

void CTerminalProgress::handleEvents() {
    if (interruptRequested()) {
        setCancelled(true);
    }
}

void CTerminalProgress::refresh() {
    if (!show_) {
        return;
    }
    const int percent = percentage();
    constexpr int kWidth = 30;
    const int filled = percent * kWidth / 100;
    std::string bar(static_cast<std::size_t>(filled), '#');
    bar.append(static_cast<std::size_t>(kWidth - filled), '.');

    std::string left = "--:--";
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
    const double done = high_ > low_ ? double(position_ - low_ + 1) / double(high_ - low_) : 1.0;
    if (done > 0.0 && elapsed > 0.2) {
        const long seconds = static_cast<long>(elapsed / done - elapsed + 0.5);
        char buffer[32];
        std::snprintf(buffer, sizeof buffer, "%ld:%02ld", seconds / 60, seconds % 60);
        left = buffer;
    }
    std::fprintf(stderr, "\r%s [%s] %3d%%  %s left ", text_.c_str(), bar.c_str(), percent,
                 left.c_str());
    std::fflush(stderr);
    drawn_ = true;
}

void CTerminalProgress::finish() {
    if (drawn_) {
        std::fputc('\n', stderr);
        drawn_ = false;
    }
}

}  // namespace korvo::cli
