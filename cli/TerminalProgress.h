#pragma once
// Progress of an export or import on standard error: a bar with the percentage and the time
// left, redrawn only when the whole percentage changes, and only when standard error is a
// terminal. Ctrl-C acts as the window's Cancel: the run stops at its next step and cleans up.

#include <chrono>
#include <string>

#include "convert/ProgressUI.h"

namespace korvo::cli {

class CTerminalProgress : public KorvoLib::Korvo::CProgressUI, public KorvoLib::Korvo::IProgressUI {
public:
    explicit CTerminalProgress(bool show);
    ~CTerminalProgress() override;

    void begin(std::int32_t low, std::int32_t high) override;
    bool step(std::int32_t position) override { return CProgressUI::step(position); }
    void setText(const std::string& text) override { text_ = text; }
    std::string text() const override { return text_; }
    // Ends the bar's line.
    void finish();

    // Installs the Ctrl-C handler; true once Ctrl-C was pressed.
    static void catchInterrupt();
    static bool interrupted();

protected:
    void handleEvents() override;
    void refresh() override;

private:
    bool show_;
    bool drawn_ = false;
    std::string text_;
    std::chrono::steady_clock::time_point started_;
};

}  // namespace korvo::cli
