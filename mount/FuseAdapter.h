#pragma once
// Serves a recorder disk as a folder through libfuse (the kernel's user-space file systems),
// for `korvowav-cli mount`, and takes it away again for `korvowav-cli unmount`.
//
//   MountRequest request{.disk = "recorder.img", .mountPoint = "/mnt/recorder"};
//   int exit = serveMount(request, std::cerr);   // returns once unmounted
//
// Without `foreground` the call returns in the starting process as soon as the folder is live
// (after saying where), and a detached process serves the mount until it is unmounted; its log
// then goes to the system log.

#include <ostream>
#include <string>

#include "disk/DiskFiles.h"

namespace korvo::mount {

struct MountRequest {
    std::string disk;
    DiskOptions options;
    std::string mountPoint;
    bool readOnly = false;
    bool foreground = false;
};

// 0 once unmounted cleanly; otherwise a non-zero status after a sentence on `messages`.
int serveMount(const MountRequest& request, std::ostream& messages);

// Asks the kernel to take the mount away (fusermount3 -u); 0 on success.
int unmountFolder(const std::string& mountPoint, std::ostream& messages);

}  // namespace korvo::mount
