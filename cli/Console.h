#pragma once
// What the command line needs of the host's console: the arguments as UTF-8, whether standard
// error is a terminal (the progress bar is drawn only there), and Ctrl-C caught as a flag that
// the progress step reads, so that a run stops at its next step and cleans up as a cancel does.

#include <string>
#include <vector>

namespace korvo::cli {

// The program's arguments in UTF-8 (on Windows taken from the wide command line, since the
// narrow one holds only what the code page can show).
std::vector<std::string> utf8Arguments(int argc, char** argv);
bool standardErrorIsTerminal();
void catchInterrupt();
bool interruptRequested();

}  // namespace korvo::cli
