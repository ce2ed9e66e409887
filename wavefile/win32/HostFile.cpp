#include "wavefile/HostFile.h"

#include <windows.h>

#include <winioctl.h>

#include "wavefile/win32/WideText.h"

namespace korvo {

namespace {

HANDLE handleOf(std::intptr_t handle) {
    return reinterpret_cast<HANDLE>(handle);
}

// A lock far beyond any end of file: Win32 byte-range locks are mandatory, so a range that holds
// data would keep the holder's own other handles from reading it.
constexpr DWORD kLockOffsetHigh = 0x7FFFFFFF;
constexpr DWORD kLockOffsetLow = 0xFFFFFFF0;

// A positioned transfer: the file's offset travels in the OVERLAPPED record.
OVERLAPPED overlappedAt(std::uint64_t position) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(position);
    at.OffsetHigh = static_cast<DWORD>(position >> 32);
    return at;
}

// One call moves at most 1 GiB, well inside what a DWORD counts.
DWORD chunkOf(std::size_t left) {
    return static_cast<DWORD>(std::min<std::size_t>(left, 1u << 30));
}

}  // namespace

std::unique_ptr<CHostFile> CHostFile::open(const std::string& path, HostOpen mode,
                                           HostFileKinds kinds, int* errorNumber) {
    if (errorNumber) {
        *errorNumber = 0;
    }
    const DWORD access = mode == HostOpen::read ? GENERIC_READ : (GENERIC_READ | GENERIC_WRITE);
    const DWORD disposition = mode == HostOpen::create ? CREATE_ALWAYS : OPEN_EXISTING;
    // Others may read, write, rename and delete alongside, as POSIX descriptors allow.
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    const DWORD flags =
        FILE_ATTRIBUTE_NORMAL | (kinds == HostFileKinds::anything ? FILE_FLAG_BACKUP_SEMANTICS : 0);
    HANDLE handle = CreateFileW(win32::wideOf(path).c_str(), access, share, nullptr, disposition,
                                flags, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        if (errorNumber) {
            *errorNumber = win32::errnoOf(GetLastError());
        }
        return nullptr;
    }
    int refusal = 0;
    const bool device = win32::isDevicePath(path);
    if (device && kinds == HostFileKinds::regularOnly) {
        refusal = ENODEV;
    } else if (!device) {
        const DWORD type = GetFileType(handle);
        BY_HANDLE_FILE_INFORMATION information{};
        const bool folder = GetFileInformationByHandle(handle, &information) &&
                            (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        if (folder && kinds != HostFileKinds::anything) {
            refusal = EISDIR;
        } else if (type != FILE_TYPE_DISK && kinds != HostFileKinds::anything) {
            refusal = ENODEV;
        }
    }
    if (refusal != 0) {
        CloseHandle(handle);
        if (errorNumber) {
            *errorNumber = refusal;
        }
        return nullptr;
    }
    return std::unique_ptr<CHostFile>(new CHostFile(reinterpret_cast<std::intptr_t>(handle)));
}

CHostFile::~CHostFile() {
    close();
}

long long CHostFile::readAt(std::uint64_t offset, void* data, std::size_t n) {
    auto* bytes = static_cast<std::uint8_t*>(data);
    std::size_t done = 0;
    while (done < n) {
        OVERLAPPED at = overlappedAt(offset + done);
        const DWORD chunk = chunkOf(n - done);
        DWORD got = 0;
        if (!ReadFile(handleOf(handle_), bytes + done, chunk, &got, &at)) {
            if (GetLastError() == ERROR_HANDLE_EOF) {
                break;
            }
            return -1;
        }
        if (got == 0) {
            break;
        }
        done += got;
    }
    return static_cast<long long>(done);
}

bool CHostFile::writeAt(std::uint64_t offset, const void* data, std::size_t n) {
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    std::size_t done = 0;
    while (done < n) {
        OVERLAPPED at = overlappedAt(offset + done);
        const DWORD chunk = chunkOf(n - done);
        DWORD put = 0;
        if (!WriteFile(handleOf(handle_), bytes + done, chunk, &put, &at) || put == 0) {
            return false;
        }
        done += put;
    }
    return true;
}

std::optional<std::uint64_t> CHostFile::size() {
    LARGE_INTEGER length{};
    if (GetFileSizeEx(handleOf(handle_), &length)) {
        return static_cast<std::uint64_t>(length.QuadPart);
    }
    // A raw volume or disk answers its length to the device control call instead.
    GET_LENGTH_INFORMATION information{};
    DWORD returned = 0;
    if (DeviceIoControl(handleOf(handle_), IOCTL_DISK_GET_LENGTH_INFO, nullptr, 0, &information,
                        sizeof information, &returned, nullptr)) {
        return static_cast<std::uint64_t>(information.Length.QuadPart);
    }
    return std::nullopt;
}

bool CHostFile::truncate(std::uint64_t length) {
    FILE_END_OF_FILE_INFO end{};
    end.EndOfFile.QuadPart = static_cast<LONGLONG>(length);
    return SetFileInformationByHandle(handleOf(handle_), FileEndOfFileInfo, &end, sizeof end) != 0;
}

bool CHostFile::sync() {
    // A handle opened for reading only cannot be flushed; it has nothing of its own to flush.
    return FlushFileBuffers(handleOf(handle_)) != 0 || GetLastError() == ERROR_ACCESS_DENIED;
}

bool CHostFile::syncData() {
    return sync();
}

bool CHostFile::close() {
    if (handle_ == 0 || handleOf(handle_) == INVALID_HANDLE_VALUE) {
        return true;
    }
    const bool closed = CloseHandle(handleOf(handle_)) != 0;
    handle_ = reinterpret_cast<std::intptr_t>(INVALID_HANDLE_VALUE);
    return closed;
}

bool CHostFile::tryLock(bool exclusive) {
    BY_HANDLE_FILE_INFORMATION information{};
    if (GetFileInformationByHandle(handleOf(handle_), &information) &&
        (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        // Win32 has no lock on a folder; a folder disk is held by nothing.
        return true;
    }
    OVERLAPPED at{};
    at.Offset = kLockOffsetLow;
    at.OffsetHigh = kLockOffsetHigh;
    // A change of kind: the lock held so far is given up first, as flock does.
    UnlockFileEx(handleOf(handle_), 0, 1, 0, &at);
    const DWORD flags = LOCKFILE_FAIL_IMMEDIATELY | (exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0);
    return LockFileEx(handleOf(handle_), flags, 0, 1, 0, &at) != 0;
}

bool removeHostFile(const std::string& path) {
    return DeleteFileW(win32::wideOf(path).c_str()) != 0;
}

}  // namespace korvo
