#pragma once
// A file of the host, named by a UTF-8 path and read and written at byte positions. Every part
// of the system that reaches host files by path goes through this one class (wave files, the
// files of a recorder disk kept in a folder, disk images), so that the host's own file calls sit
// in one place per platform: POSIX descriptors on Linux, wide-character handles on Windows,
// where the UTF-8 path becomes UTF-16 only at the call.
//
//   int error = 0;
//   auto file = CHostFile::open("take.wav", HostOpen::read, HostFileKinds::regularOnly, &error);
//   std::uint8_t header[12];
//   if (file && file->readAt(0, header, sizeof header) == sizeof header) ...
//
// Errors are values: open gives null and an errno-style number (ENOENT, EACCES, EISDIR ...),
// the other calls a false result or -1.

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace korvo {

enum class HostOpen {
    read,       // an existing file, read only
    readWrite,  // an existing file, read and write, its contents kept
    create,     // a new or emptied file, read and write
};

// What open accepts besides regular files.
enum class HostFileKinds {
    regularOnly,      // a folder, device or pipe is refused (EISDIR, ENODEV)
    regularOrDevice,  // also block devices and raw volumes, not folders
    anything,         // also a folder (read only), for holding a lock on it
};

class CHostFile {
public:
    static std::unique_ptr<CHostFile> open(const std::string& path, HostOpen mode,
                                           HostFileKinds kinds, int* errorNumber = nullptr);
    ~CHostFile();
    CHostFile(const CHostFile&) = delete;
    CHostFile& operator=(const CHostFile&) = delete;

    // Reads up to n bytes at the offset: the number read, short only at the end of the file,
    // or -1 on an error.
    long long readAt(std::uint64_t offset, void* data, std::size_t n);
    // Writes all n bytes at the offset.
    bool writeAt(std::uint64_t offset, const void* data, std::size_t n);
    // Length in bytes (for a device, the length of the medium).
    std::optional<std::uint64_t> size();
    bool truncate(std::uint64_t length);
    // Makes what was written durable; syncData leaves out what only describes the file (its
    // times), where the host tells the two apart.
    bool sync();
    bool syncData();
    // False when closing reported an error (a write that could not be completed).
    bool close();

    // Takes an advisory lock for the life of the handle without waiting: shared or exclusive;
    // changing the kind of a lock already held goes through here as well. False when another
    // holder is in the way.
    bool tryLock(bool exclusive);

private:
    explicit CHostFile(std::intptr_t handle) : handle_(handle) {}
    std::intptr_t handle_;
};

// Removes a file (not a folder).
bool removeHostFile(const std::string& path);

}  // namespace korvo
