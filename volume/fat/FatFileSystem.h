#pragma once
// A mounted FAT12/16/32 volume that files can be created, written, renamed and deleted on: the
// file system behind the image disk (ImageDiskFiles.h builds the recorder disk interface on it).
//
// The FAT is held in memory (FatTable) and written to every copy when a file is committed.
// Order of writes for a file: its data clusters, then both FAT copies, then its directory entry;
// clusters a file gives up are freed only after the entry no longer refers to them. So an
// interrupted write leaves at most clusters that no entry refers to. Each step is made durable
// (the device is flushed) before the next one starts, so the order holds on the disk and not
// only in the order the writes were issued; closing a file, renaming and deleting end with a
// flush. After any failed write the volume takes no further writes.
//
// Allocation: a file that grows takes the cluster after its last one when that is free; a new
// file (or one whose next cluster is taken) starts at the beginning of the longest free run, or
// in its middle when a file being written ends just before that run, so that two takes written
// side by side both stay contiguous.
//
//   std::string reason;
//   auto fs = fat::FatFileSystem::mount(std::move(device), 0, reason);
//   auto file = fs ? fs->open("SONG0000.KRV/EVENTLS0.KRV", OpenMode::update) : nullptr;

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "disk/DiskFiles.h"
#include "volume/fat/BlockSource.h"
#include "volume/fat/DirectoryWalk.h"
#include "volume/fat/FatLayout.h"
#include "volume/fat/FatTable.h"

namespace korvo::fat {

class FatFile;

// Where a directory entry lives: its folder, its 8.3 slot, and that slot's byte offset.
struct EntryLocation {
    std::uint32_t directory = 0;  // first cluster of the folder; 0 for the root
    std::uint32_t slot = 0;
    std::uint64_t offset = 0;  // of the 8.3 slot, from the volume's start
};

// What went wrong with the last operation.
enum class FatError {
    none,
    missing,
    accessDenied,
    exists,
    invalidName,
    notAFile,
    readOnly,
    full,
    busy,
    ioError,
    damaged
};

class FatFileSystem {
public:
    // Finds the FAT volume in the device (partition as in locateFatVolume), checks its boot
    // sector and reads its FAT. Null with a one-line reason when that fails.
    static std::unique_ptr<FatFileSystem> mount(std::unique_ptr<IBlockTarget> device, int partition,
                                                std::string& reason);
    ~FatFileSystem();  // writes the free-cluster hint back; open files must be closed before
    FatFileSystem(const FatFileSystem&) = delete;
    FatFileSystem& operator=(const FatFileSystem&) = delete;

    const FatGeometry& geometry() const { return geometry_; }
    // Whether changes can be written: the device is writable and no write has failed.
    bool writable() const;
    FatError lastError() const { return error_; }

    LookupResult lookup(std::string_view path);
    ClusterChain chain(std::uint32_t first);
    // The names of the files (not folders) in a folder; nullopt when it cannot be read.
    std::optional<std::vector<std::string>> listFiles(std::string_view folder);
    std::uint64_t freeBytes() const {
        return std::uint64_t{fat_.freeCount()} * geometry_.clusterBytes();
    }

    // read: an existing file; write: creates the file or starts it anew (its old clusters are
    // freed when the new contents are committed); update: an existing file in place. Null with
    // lastError() set when refused.
    std::unique_ptr<FatFile> open(std::string_view path, OpenMode mode);
    // Renames within one folder; an 8.3 target name becomes a plain 8.3 entry.
    bool rename(std::string_view from, std::string_view to);
    bool remove(std::string_view path);
    // Creates a folder (with its "." and ".." entries); true when it exists afterwards.
    bool makeFolder(std::string_view path);
    // Writes the FAT and the free-cluster hint.
    bool sync();
    // Frees every cluster the FAT marks as used (a chain link or an end mark) that no file or
    // folder reaches. Refused while a file is open for writing (its new clusters are in no
    // entry yet), and when a folder cannot be read or two chains share a cluster or a chain is
    // broken: such a volume is left as it is. Bad-cluster marks stay.
    bool reclaimLostClusters(std::uint32_t& freed);

    // ---- for FatFile ----
    IBlockTarget& volume() { return volume_; }
    FatTable& fat() { return fat_; }
    // Takes one free cluster for a file whose last cluster is `after` (0 for none) and marks it
    // as the end of a chain; nullopt when the volume is full.
    std::optional<std::uint32_t> allocateCluster(std::uint32_t after);
    bool writeData(std::uint64_t offset, const void* data, std::size_t n);
    bool readData(std::uint64_t offset, void* out, std::size_t n);
    // Writes the changed FAT sectors to every copy, with a flush before (what the FAT is about
    // to refer to is on the disk first) and after.
    bool commitFat();
    // Makes every write so far durable before later ones; nothing to do when none is pending.
    bool barrier();
    bool writeEntry(const EntryLocation& where, const DirectoryEntry& entry);
    void fileClosed(FatFile* file);

private:
    struct DirectoryImage;
    FatFileSystem(std::unique_ptr<IBlockTarget> device, const VolumeExtent& extent,
                  const FatGeometry& geometry);

    bool fail(FatError error);
    bool noteWrite(bool ok);
    std::unique_ptr<FatFile> openExisting(const LookupResult& found, OpenMode mode);
    std::unique_ptr<FatFile> createFile(std::string_view path, OpenMode mode);
    std::optional<DirectoryImage> loadDirectory(std::uint32_t directory);
    std::uint64_t slotOffset(const DirectoryImage& image, std::uint32_t slot) const;
    bool writeSlots(const DirectoryImage& image, std::uint32_t first, std::uint32_t count);
    bool growDirectory(DirectoryImage& image);
    std::optional<std::uint32_t> findFreeSlots(DirectoryImage& image, std::uint32_t count,
                                               std::uint32_t ignoreFirst, std::uint32_t ignoreEnd);
    bool placeSlots(DirectoryImage& image, std::uint32_t at,
                    const std::vector<std::uint8_t>& slots);
    std::optional<std::vector<std::uint8_t>> slotsForName(const DirectoryImage& image,
                                                          std::string_view name,
                                                          const DirectoryEntry& entry,
                                                          const DirectoryItem* renaming);
    FatFile* openFileAt(const EntryLocation& where) const;
    bool writeFsInfo(bool known);

    std::unique_ptr<IBlockTarget> device_;
    VolumeWindow volume_;
    FatGeometry geometry_;
    FatTable fat_;
    FatVolumeReader reader_;
    std::vector<FatFile*> open_;
    FatError error_ = FatError::none;
    bool failed_ = false;       // a write failed: no more writes
    bool changed_ = false;      // something was written since mount
    bool unflushed_ = false;    // writes the device has not been asked to make durable
    bool fsInfoValid_ = false;  // the FSInfo sector exists and holds our signatures
};

// Splits "A/B/NAME" into "A/B" and "NAME" (no folder: "" and the path).
std::pair<std::string_view, std::string_view> splitParent(std::string_view path);

// Packs the host's local time into FAT date and time fields.
void stampEntry(DirectoryEntry& entry, bool creation);

}  // namespace korvo::fat
