#pragma once
// korvowav-cli mount and unmount: the recorder disk as a folder of wave files.

#include "cli/CommandLine.h"

namespace korvo::cli {

void addMountCommands(CommandLine& line);

}  // namespace korvo::cli
