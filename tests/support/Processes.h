#pragma once
// Other programs run by the tests (mkfs.fat, mtools, sox, ffmpeg ...), through the host's
// process calls. A Windows build of the tests runs none: the tests that need such a program
// skip there, as they do on a machine without it.

#include <string>
#include <vector>

namespace korvo::test {

// Runs the program with the arguments (no shell), standard input empty, its standard output
// into `outPath` (or nowhere), standard error nowhere. Its exit status; -1 when it could not run.
int spawnProgram(const std::vector<std::string>& arguments, const std::string& outPath);

// Runs a shell command line; its exit status (-1 when it could not run) and its standard output.
struct ShellResult {
    int status = -1;
    std::string output;
};
ShellResult runShell(const std::string& command);

}  // namespace korvo::test
