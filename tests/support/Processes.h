#pragma once
// Other programs run by the tests (mkfs.fat, mtools, sox, ffmpeg ...), through the host's
// process calls. A Windows build of the tests runs none: the tests that need such a program
// skip there, as they do on a machine without it.

#include <chrono>
#include <string>
#include <vector>

namespace korvo::test {

// Runs the program with the arguments (no shell), standard input empty, its standard output
// into `outPath` (or nowhere), standard error nowhere. Its exit status; -1 when it could not run.
int spawnProgram(const std::vector<std::string>& arguments, const std::string& outPath);

// Starts the program (no shell), standard input empty, standard output and standard error into
// the files named ("" for nowhere). Its process id; -1 when it could not start.
int startProgram(const std::vector<std::string>& arguments, const std::string& outPath,
                 const std::string& errPath);

// Waits for a program startProgram started: its exit status, or 128 + the signal that ended it.
int waitForProgram(int process);

// Waits up to the limit (asking at least once) for a started program to end; true when it has,
// with its status as waitForProgram gives it in `exit`.
bool awaitProgram(int process, std::chrono::milliseconds limit, int* exit = nullptr);

// Runs a shell command line; its exit status (-1 when it could not run) and its standard output.
struct ShellResult {
    int status = -1;
    std::string output;
};
ShellResult runShell(const std::string& command);

}  // namespace korvo::test
