#include <unistd.h>

#include <csignal>

#include "cli/Console.h"

namespace korvo::cli {

namespace {

volatile std::sig_atomic_t gInterrupted = 0;

extern "C" void onInterrupt(int) {
    gInterrupted = 1;
}

}  // namespace

std::vector<std::string> utf8Arguments(int argc, char** argv) {
    return std::vector<std::string>(argv, argv + argc);
}

bool standardErrorIsTerminal() {
    return isatty(STDERR_FILENO) != 0;
}

void catchInterrupt() {
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
}

bool interruptRequested() {
    return gInterrupted != 0;
}

}  // namespace korvo::cli
