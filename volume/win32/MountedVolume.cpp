#include <windows.h>

#include "volume/HostVolume.h"
#include "wavefile/win32/WideText.h"

namespace korvo {

// The drive that holds a folder: its root ("E:\") as the mount point and its volume file
// ("\\.\E:") as the device. A volume mounted on a folder rather than a drive letter has no
// volume file of that form and is not found.
std::optional<MountedVolume> findMountedVolume(const std::string& folder) {
    const std::wstring wide = win32::wideOf(folder);
    if (wide.empty() || GetFileAttributesW(wide.c_str()) == INVALID_FILE_ATTRIBUTES) {
        return std::nullopt;
    }
    wchar_t root[MAX_PATH + 1];
    if (!GetVolumePathNameW(wide.c_str(), root, MAX_PATH + 1)) {
        return std::nullopt;
    }
    const std::wstring mountPoint = root;
    if (mountPoint.size() != 3 || mountPoint[1] != L':') {
        return std::nullopt;
    }
    wchar_t fileSystem[MAX_PATH + 1] = L"";
    GetVolumeInformationW(root, nullptr, 0, nullptr, nullptr, nullptr, fileSystem, MAX_PATH + 1);
    MountedVolume volume;
    volume.mountPoint = win32::utf8Of(mountPoint);
    volume.device = "\\\\.\\" + volume.mountPoint.substr(0, 2);
    volume.fileSystem = win32::utf8Of(fileSystem);
    return volume;
}

}  // namespace korvo
