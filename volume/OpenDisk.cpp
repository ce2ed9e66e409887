#include <sys/stat.h>

#include "volume/OpenDisk.h"

#include "volume/FolderDiskFiles.h"
#include "volume/fat/ImageDiskFiles.h"

namespace korvo {

// A regular file or block device is a disk image (or an unmounted recorder disk); anything
// else, a folder or a path that does not exist (yet), is reached as a host folder.
std::unique_ptr<IDiskFiles> openDiskFiles(const std::string& rootPath, const DiskOptions& options) {
    struct stat status;
    if (!rootPath.empty() && ::stat(rootPath.c_str(), &status) == 0 &&
        (S_ISREG(status.st_mode) || S_ISBLK(status.st_mode))) {
        return openImageDiskFiles(rootPath, options.partition);
    }
    return std::make_unique<CFolderDiskFiles>(rootPath, options);
}

}  // namespace korvo
