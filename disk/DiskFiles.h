#pragma once
// The files of one recorder disk, reached either through a host folder (the mount point of the
// recorder's FAT disk, or a copy of its files) or through our own FAT file system over a disk
// image or unmounted block device. Everything above this interface (disk check, song list, song,
// event list, take files, the conversion engine) is written once for both.
//
// Paths are relative to the disk's root, with '/' between components, for example
// "SONG0001.KRV/EVENTLS0.KRV". Recorder file names are matched without regard to case.
//
//   auto disk = openDiskFiles("/media/recorder", {});   // volume/OpenDisk.h
//   if (disk->exists("SYSTEM.KRV") == FileExistence::present) {
//       auto list = disk->open("SONGLIST.KRV", OpenMode::read);
//       std::uint8_t count[2];
//       if (list && list->read(count, 2)) { ... }
//   }

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korvo {

enum class FileExistence { present, missing, accessDenied };

enum class OpenMode {
    read,    // existing file, read only
    write,   // create, or cut an existing file to length 0
    update,  // existing file, read and write, no truncation
};

// One open file: raw bytes, buffered. Once an operation fails the stream stays failed and every
// later operation fails too, as a C++ stream's fail state does.
class IDiskStream {
public:
    virtual ~IDiskStream() = default;  // closes, ignoring errors

    // Reads exactly n bytes; false when fewer are left or the read failed.
    virtual bool read(void* data, std::size_t n) = 0;
    virtual bool write(const void* data, std::size_t n) = 0;
    // Moves the read/write position; seeking beyond the end is allowed, and a write there
    // fills the gap with zero bytes.
    virtual bool seek(std::uint64_t position) = 0;
    virtual std::uint64_t position() const = 0;
    // Current length of the file, including bytes still in the buffer.
    virtual std::optional<std::uint64_t> size() = 0;
    // Cuts (or extends with zeros) the file to the length; the position is kept.
    virtual bool truncate(std::uint64_t length) = 0;
    virtual bool good() const = 0;
    // Writes out what is buffered and makes the file's bytes durable (on the device, not only
    // in a cache), so that writes after it never reach the disk before them. Implementations
    // whose close() already does that need not override it.
    virtual bool sync() { return good(); }
    // Writes out what is buffered and closes the file; false when anything failed on the way.
    virtual bool close() = 0;
};

enum class DiskKind { folder, image };

class IDiskFiles {
public:
    virtual ~IDiskFiles() = default;

    virtual DiskKind kind() const = 0;
    // The root path as the user gave it (a folder, an image file or a block device).
    virtual const std::string& rootPath() const = 0;

    // Tells a missing file (or folder) from one whose test the host refused.
    virtual FileExistence exists(std::string_view path) = 0;
    // Null when the file cannot be opened in that mode (missing for read and update, not
    // writable, no room to create it ...).
    virtual std::unique_ptr<IDiskStream> open(std::string_view path, OpenMode mode) = 0;
    // Renames a file within its folder; false when the target exists or the rename fails.
    virtual bool rename(std::string_view from, std::string_view to) = 0;
    virtual bool remove(std::string_view path) = 0;
    // Makes the folder's entries (files created, renamed or removed in it) durable. Disks whose
    // every change is durable when it returns need not override it.
    virtual bool syncFolder(std::string_view path) {
        (void)path;
        return true;
    }
    // Creates a folder (its parent must exist); true when it exists afterwards. Used to lay out
    // new disks (the demo disk); the conversion itself never creates folders.
    virtual bool makeFolder(std::string_view path) {
        (void)path;
        return false;
    }

    // The names of the files in a folder (not its sub-folders), in no particular order; nullopt
    // when the folder cannot be read. Used to find take files that no event refers to.
    virtual std::optional<std::vector<std::string>> listFiles(std::string_view folder) {
        (void)folder;
        return std::nullopt;
    }

    // Frees the clusters that the FAT marks as used but that no file or folder reaches, what a
    // write cut off between allocating and naming its clusters leaves; `freed` counts them.
    // Only for a disk that shows such an interruption (a commit record, temporary takes), and
    // with no file of its open for writing. False when the volume is not sound enough to tell
    // lost clusters from used ones; nothing is freed then. Disks reached through a host folder
    // leave allocation to the host's FAT driver: nothing to do.
    virtual bool reclaimLostClusters(std::uint32_t& freed) {
        freed = 0;
        return true;
    }

    // Bytes the caller may still write on the disk; nullopt when that cannot be learnt.
    virtual std::optional<std::uint64_t> freeBytes() = 0;

    // Opens and identifies the FAT volume that cluster chains are read from. False, with a
    // one-line reason that names the device and says what is wrong, when it cannot be read.
    virtual bool checkVolume(std::string& reason) = 0;
    // The file's FAT clusters in chain order, each cut to its low 16 bits. False when the
    // volume cannot be read or the file has no first cluster.
    virtual bool clusterChain(std::string_view path, std::vector<std::uint16_t>& chain) = 0;
};

// How to reach the volume behind a disk: for a folder, the raw device or image that holds it
// (otherwise found from the mount table); for a whole-disk image, the partition (1-based; 0 means
// the first FAT partition).
struct DiskOptions {
    std::string device;
    int partition = 0;
};

}  // namespace korvo
