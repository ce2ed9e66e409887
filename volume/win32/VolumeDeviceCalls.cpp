#include <windows.h>

#include <winioctl.h>

#include <mutex>
#include <vector>

#include "volume/FreeSpace.h"
#include "volume/VolumeDevice.h"
#include "wavefile/win32/WideText.h"

namespace korvo {

namespace {

class CWin32VolumeDeviceCalls final : public IVolumeDeviceCalls {
public:
    std::vector<std::string> logicalDriveRoots() override {
        wchar_t text[512];
        const DWORD length = GetLogicalDriveStringsW(512, text);
        std::vector<std::string> roots;
        if (length == 0 || length > 512) {
            return roots;
        }
        for (const wchar_t* root = text; *root != L'\0'; root += wcslen(root) + 1) {
            roots.push_back(win32::utf8Of(root));
        }
        return roots;
    }

    DriveType driveType(const std::string& root) override {
        return static_cast<DriveType>(GetDriveTypeW(win32::wideOf(root).c_str()));
    }

    std::optional<std::uint32_t> bytesPerSector(const std::string& root) override {
        // The sector size comes with the cluster geometry the free-space call gives.
        const auto geometry = hostFreeSpaceCalls()->clusterFreeSpace(root);
        if (!geometry) {
            return std::nullopt;
        }
        return geometry->bytesPerSector;
    }

    Handle openVolume(char letter, bool writable) override {
        const std::wstring name = win32::wideOf(rawVolumeName(letter));
        HANDLE handle =
            CreateFileW(name.c_str(), GENERIC_READ | (writable ? GENERIC_WRITE : 0),
                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            return kNoHandle;
        }
        const std::lock_guard<std::mutex> hold(mutex_);
        for (std::size_t i = 0; i < handles_.size(); ++i) {
            if (handles_[i] == INVALID_HANDLE_VALUE) {
                handles_[i] = handle;
                return static_cast<Handle>(i);
            }
        }
        handles_.push_back(handle);
        return static_cast<Handle>(handles_.size() - 1);
    }

    void closeVolume(Handle volume) override {
        if (HANDLE handle = handleOf(volume); handle != INVALID_HANDLE_VALUE) {
            CloseHandle(handle);
            const std::lock_guard<std::mutex> hold(mutex_);
            handles_[static_cast<std::size_t>(volume)] = INVALID_HANDLE_VALUE;
        }
    }

    std::optional<std::uint64_t> lengthInfo(Handle volume) override {
        GET_LENGTH_INFORMATION information{};
        DWORD returned = 0;
        if (!DeviceIoControl(handleOf(volume), IOCTL_DISK_GET_LENGTH_INFO, nullptr, 0, &information,
                             sizeof information, &returned, nullptr)) {
            return std::nullopt;
        }
        return static_cast<std::uint64_t>(information.Length.QuadPart);
    }

    bool lockVolume(Handle volume) override { return control(volume, FSCTL_LOCK_VOLUME); }
    bool dismountVolume(Handle volume) override { return control(volume, FSCTL_DISMOUNT_VOLUME); }

    bool readSectors(Handle volume, std::uint64_t offset, std::uint8_t* out,
                     std::size_t length) override {
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        DWORD got = 0;
        return ReadFile(handleOf(volume), out, static_cast<DWORD>(length), &got, &at) &&
               got == length;
    }

    bool writeSectors(Handle volume, std::uint64_t offset, const std::uint8_t* data,
                      std::size_t length) override {
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        DWORD put = 0;
        return WriteFile(handleOf(volume), data, static_cast<DWORD>(length), &put, &at) &&
               put == length;
    }

    std::optional<RetrievalPointers> retrievalPointers(const std::string& path) override {
        HANDLE file = CreateFileW(win32::wideOf(path).c_str(), FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            return std::nullopt;
        }
        STARTING_VCN_INPUT_BUFFER from{};
        from.StartingVcn.QuadPart = 0;
        // Room for the header and one extent: the first is all that is asked for.
        union {
            RETRIEVAL_POINTERS_BUFFER pointers;
            std::uint8_t bytes[32];
        } answer{};
        DWORD returned = 0;
        const BOOL done = DeviceIoControl(file, FSCTL_GET_RETRIEVAL_POINTERS, &from, sizeof from,
                                          &answer, sizeof answer, &returned, nullptr);
        const DWORD error = done ? ERROR_SUCCESS : GetLastError();
        CloseHandle(file);
        if (!done && error != ERROR_MORE_DATA) {
            return std::nullopt;
        }
        RetrievalPointers result;
        result.extentCount = answer.pointers.ExtentCount;
        result.firstLogicalCluster = answer.pointers.Extents[0].Lcn.QuadPart;
        return result;
    }

private:
    HANDLE handleOf(Handle volume) {
        const std::lock_guard<std::mutex> hold(mutex_);
        if (volume < 0 || static_cast<std::size_t>(volume) >= handles_.size()) {
            return INVALID_HANDLE_VALUE;
        }
        return handles_[static_cast<std::size_t>(volume)];
    }

    bool control(Handle volume, DWORD code) {
        DWORD returned = 0;
        return DeviceIoControl(handleOf(volume), code, nullptr, 0, nullptr, 0, &returned,
                               nullptr) != 0;
    }

    std::mutex mutex_;
    std::vector<HANDLE> handles_;
};

}  // namespace

IVolumeDeviceCalls* hostVolumeDeviceCalls() {
    static CWin32VolumeDeviceCalls calls;
    return &calls;
}

}  // namespace korvo
