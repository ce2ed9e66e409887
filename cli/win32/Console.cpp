#include <windows.h>

#include <shellapi.h>

#include <atomic>
#include <cstdio>

#include "cli/Console.h"
#include "wavefile/win32/WideText.h"

namespace korvo::cli {

namespace {

std::atomic<bool> gInterrupted{false};

// Runs on a thread of its own that the console starts; answering TRUE keeps the process alive
// so that the run can stop at its next step and clean up.
BOOL WINAPI onConsoleControl(DWORD event) {
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) {
        gInterrupted = true;
        return TRUE;
    }
    return FALSE;
}

}  // namespace

std::vector<std::string> utf8Arguments(int argc, char** argv) {
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr || count != argc) {
        if (wide != nullptr) {
            LocalFree(wide);
        }
        return std::vector<std::string>(argv, argv + argc);
    }
    std::vector<std::string> arguments;
    for (int i = 0; i < count; ++i) {
        arguments.push_back(win32::utf8Of(wide[i]));
    }
    LocalFree(wide);
    // What the program prints is UTF-8 too.
    SetConsoleOutputCP(CP_UTF8);
    return arguments;
}

bool standardErrorIsTerminal() {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

void catchInterrupt() {
    SetConsoleCtrlHandler(onConsoleControl, TRUE);
}

bool interruptRequested() {
    return gInterrupted;
}

}  // namespace korvo::cli
