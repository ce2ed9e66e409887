#include "cli/MountCommands.h"

#include <iostream>

#include "mount/FuseAdapter.h"

namespace korvo::cli {

namespace {

int commandMount(const Options& options) {
    mount::MountRequest request;
    request.disk = options.disk;
    request.options = DiskOptions{options.device, options.partition};
    request.mountPoint = options.mountPoint;
    request.readOnly = options.readOnly;
    request.foreground = options.foreground;
    return mount::serveMount(request, std::cerr);
}

int commandUnmount(const Options& options) {
    return mount::unmountFolder(options.mountPoint, std::cerr);
}

}  // namespace

void addMountCommands(CommandLine& line) {
    Options& options = line.options();
    auto* mount =
        line.add("mount", "the disk as a folder of wave files, to read and to write", commandMount);
    line.diskArgument(mount);
    mount->add_option("MOUNTPOINT", options.mountPoint, "folder to show the disk in")->required();
    mount->add_flag("--read-only", options.readOnly, "refuse every write");
    mount->add_flag("--foreground", options.foreground,
                    "stay in the foreground until unmounted, log on standard error");
    auto* unmount = line.add("unmount", "take a mounted disk away", commandUnmount);
    unmount->add_option("MOUNTPOINT", options.mountPoint, "folder the disk is mounted on")
        ->required();
}

}  // namespace korvo::cli
