#pragma once
// One open file of a mounted FAT volume, as a recorder disk stream. It keeps one cluster in a
// buffer: reads and writes of single blocks are copies into that buffer, and the disk is touched
// once per cluster. Closing (or a failed stream being destroyed) commits the file: data
// clusters, then the FAT, then the directory entry.

#include <cstdint>
#include <optional>
#include <vector>

#include "disk/DiskFiles.h"
#include "volume/fat/FatFileSystem.h"

namespace korvo::fat {

class FatFile final : public IDiskStream {
public:
    // chain: the clusters the entry refers to now; startEmpty: the file is started anew (write
    // mode), its old chain freed once the new contents are committed.
    FatFile(FatFileSystem& fs, const EntryLocation& where, const DirectoryEntry& entry,
            std::vector<std::uint32_t> chain, OpenMode mode, bool startEmpty);
    ~FatFile() override;
    FatFile(const FatFile&) = delete;
    FatFile& operator=(const FatFile&) = delete;

    bool read(void* data, std::size_t n) override;
    bool write(const void* data, std::size_t n) override;
    bool seek(std::uint64_t position) override;
    std::uint64_t position() const override { return position_; }
    std::optional<std::uint64_t> size() override;
    bool truncate(std::uint64_t length) override;
    bool good() const override { return !failed_ && !closed_; }
    bool close() override;

    // ---- for the file system ----
    const EntryLocation& location() const { return where_; }
    void moved(const EntryLocation& where) { where_ = where; }
    bool writing() const { return mode_ != OpenMode::read && !closed_; }
    // The last cluster the file holds (0 for none).
    std::uint32_t tail() const { return clusters_.empty() ? 0 : clusters_.back(); }
    // The file was deleted while open: gives back the clusters not yet committed and fails.
    void abandon();

private:
    bool fail();
    bool ensureClusters(std::size_t count);
    bool loadCluster(std::size_t index, bool forWriting);
    bool flushBuffer();
    bool zeroFillTo(std::size_t count);
    bool zeroTail();
    bool commit();
    void releaseUncommitted();

    FatFileSystem& fs_;
    EntryLocation where_;
    DirectoryEntry entry_;
    OpenMode mode_;
    std::uint32_t clusterBytes_;
    std::vector<std::uint32_t> clusters_;
    std::size_t committedClusters_ = 0;  // leading clusters_ the entry's chain holds on disk
    std::size_t clustersOnDisk_ = 0;     // leading clusters_ whose bytes on disk are the file's
    std::vector<std::uint32_t> releaseOnCommit_;  // freed after the entry stops using them
    std::optional<std::uint32_t> cutAfter_;       // gets the end mark after the entry is written
    std::uint64_t size_ = 0;
    std::uint64_t position_ = 0;
    std::vector<std::uint8_t> buffer_;
    std::size_t bufferIndex_ = kNoCluster;
    bool bufferDirty_ = false;
    bool changed_ = false;
    bool failed_ = false;
    bool closed_ = false;

    static constexpr std::size_t kNoCluster = static_cast<std::size_t>(-1);
};

}  // namespace korvo::fat
