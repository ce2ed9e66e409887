#include "volume/OpenDisk.h"

#include "volume/FolderDiskFiles.h"
#include "volume/HostFolder.h"
#include "volume/VolumeDevice.h"
#include "volume/fat/ImageDiskFiles.h"

namespace korvo {

// A regular file, a block device or a raw volume ("\\.\E:") is a disk image (or a recorder
// disk written directly); anything else, a folder or a path that does not exist (yet), is
// reached as a host folder.
std::unique_ptr<IDiskFiles> openDiskFiles(const std::string& rootPath, const DiskOptions& options) {
    const HostEntryKind kind = rootPath.empty() ? HostEntryKind::missing : hostEntry(rootPath).kind;
    if (kind == HostEntryKind::regular || kind == HostEntryKind::other ||
        (hostVolumeDeviceCalls() != nullptr && rawVolumeLetter(rootPath))) {
        return openImageDiskFiles(rootPath, options.partition);
    }
    return std::make_unique<CFolderDiskFiles>(rootPath, options);
}

}  // namespace korvo
