#pragma once
// korvowav-cli: the command-line front end. Every command runs what the desktop program's
// commands run, through the same track converter.
//
//   korvowav-cli COMMAND DISK [OPTIONS]     (see --help)
//
// Exit status: 0 success; 1 to 18 the status code of the failure, its message the last line on
// standard error; 64 a usage error; 65 a name the recorder cannot show; 130 interrupted.

namespace korvo::cli {

inline constexpr int kExitUsage = 64;
inline constexpr int kExitNameRefused = 65;
inline constexpr int kExitInterrupted = 130;

int run(int argc, char** argv);

}  // namespace korvo::cli
