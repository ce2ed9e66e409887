#include "cli/MountCommands.h"

namespace korvo::cli {

// A build without the mount adapter has no mount and unmount commands.
void addMountCommands(CommandLine&) {}

}  // namespace korvo::cli
