#include "volume/fat/FatFile.h"

#include <algorithm>
#include <cstring>

namespace korvo::fat {

namespace {
constexpr std::uint64_t kMaxFileBytes = 0xFFFFFFFFull;
}

FatFile::FatFile(FatFileSystem& fs, const EntryLocation& where, const DirectoryEntry& entry,
                 std::vector<std::uint32_t> chain, OpenMode mode, bool startEmpty)
    : fs_(fs),
      where_(where),
      entry_(entry),
      mode_(mode),
      clusterBytes_(fs.geometry().clusterBytes()) {
    if (startEmpty) {
        releaseOnCommit_ = std::move(chain);
        changed_ = true;
    } else {
        clusters_ = std::move(chain);
        committedClusters_ = clusters_.size();
        clustersOnDisk_ = clusters_.size();
        size_ = entry.size();
    }
    buffer_.resize(clusterBytes_);
}

FatFile::~FatFile() {
    close();
}

bool FatFile::fail() {
    failed_ = true;
    return false;
}

std::optional<std::uint64_t> FatFile::size() {
    if (closed_)
        return std::nullopt;
    return size_;
}

bool FatFile::seek(std::uint64_t position) {
    if (!good())
        return false;
    if (position > kMaxFileBytes)
        return fail();
    position_ = position;
    return true;
}

bool FatFile::ensureClusters(std::size_t count) {
    while (clusters_.size() < count) {
        const std::uint32_t last = tail();
        const auto next = fs_.allocateCluster(last);
        if (!next)
            return false;
        if (last != 0) {
            // Joining new clusters to a chain already on the disk is written after them.
            const bool link = clusters_.size() <= committedClusters_;
            fs_.fat().set(last, *next, link);
            if (cutAfter_ && *cutAfter_ == last)
                cutAfter_.reset();
        }
        clusters_.push_back(*next);
    }
    return true;
}

bool FatFile::loadCluster(std::size_t index, bool forWriting) {
    if (index == bufferIndex_)
        return true;
    if (!flushBuffer())
        return false;
    if (forWriting && !ensureClusters(index + 1))
        return false;
    if (index >= clusters_.size())
        return false;
    const std::uint64_t start = std::uint64_t{index} * clusterBytes_;
    if (index < clustersOnDisk_) {
        if (!fs_.readData(fs_.geometry().clusterOffset(clusters_[index]), buffer_.data(),
                          buffer_.size()))
            return false;
        // Bytes past the end of the file are whatever the disk held: seen as zeros.
        if (size_ < start + clusterBytes_) {
            const std::size_t keep = size_ > start ? static_cast<std::size_t>(size_ - start) : 0;
            std::memset(buffer_.data() + keep, 0, buffer_.size() - keep);
        }
    } else {
        std::memset(buffer_.data(), 0, buffer_.size());
    }
    bufferIndex_ = index;
    bufferDirty_ = false;
    return true;
}

bool FatFile::zeroFillTo(std::size_t count) {
    count = std::min(count, clusters_.size());
    if (clustersOnDisk_ >= count)
        return true;
    std::vector<std::uint8_t> zeros;
    for (std::size_t i = clustersOnDisk_; i < count; ++i) {
        if (i == bufferIndex_)
            continue;  // written from the buffer
        if (zeros.empty())
            zeros.assign(clusterBytes_, 0);
        if (!fs_.writeData(fs_.geometry().clusterOffset(clusters_[i]), zeros.data(), zeros.size()))
            return false;
    }
    return true;
}

bool FatFile::flushBuffer() {
    if (bufferIndex_ == kNoCluster || !bufferDirty_)
        return true;
    // Clusters skipped over by a seek past the end are written as zeros before this one.
    if (!zeroFillTo(bufferIndex_))
        return false;
    if (!fs_.writeData(fs_.geometry().clusterOffset(clusters_[bufferIndex_]), buffer_.data(),
                       buffer_.size()))
        return false;
    clustersOnDisk_ = std::max(clustersOnDisk_, bufferIndex_ + 1);
    bufferDirty_ = false;
    return true;
}

bool FatFile::zeroTail() {
    // The cluster holding the current end may carry old bytes after it; they become part of
    // the file when it grows, so they are cleared first.
    if (size_ % clusterBytes_ == 0)
        return true;
    const auto index = static_cast<std::size_t>(size_ / clusterBytes_);
    if (index >= clustersOnDisk_ || index >= clusters_.size())
        return true;
    if (!loadCluster(index, false))
        return false;
    bufferDirty_ = true;
    return true;
}

bool FatFile::read(void* data, std::size_t n) {
    if (!good())
        return false;
    if (position_ > size_ || n > size_ - position_)
        return fail();
    auto* out = static_cast<std::uint8_t*>(data);
    while (n > 0) {
        const auto index = static_cast<std::size_t>(position_ / clusterBytes_);
        const auto offset = static_cast<std::size_t>(position_ % clusterBytes_);
        if (index != bufferIndex_ && !loadCluster(index, false))
            return fail();
        const std::size_t take = std::min(n, std::size_t{clusterBytes_} - offset);
        std::memcpy(out, buffer_.data() + offset, take);
        out += take;
        n -= take;
        position_ += take;
    }
    return true;
}

bool FatFile::write(const void* data, std::size_t n) {
    if (!good() || mode_ == OpenMode::read)
        return fail();
    if (n == 0)
        return true;
    if (position_ > kMaxFileBytes || n > kMaxFileBytes - position_)
        return fail();
    if (position_ > size_ && !zeroTail())
        return fail();
    const auto* in = static_cast<const std::uint8_t*>(data);
    changed_ = true;
    while (n > 0) {
        const auto index = static_cast<std::size_t>(position_ / clusterBytes_);
        const auto offset = static_cast<std::size_t>(position_ % clusterBytes_);
        if (index != bufferIndex_ && !loadCluster(index, true))
            return fail();
        const std::size_t put = std::min(n, std::size_t{clusterBytes_} - offset);
        std::memcpy(buffer_.data() + offset, in, put);
        bufferDirty_ = true;
        in += put;
        n -= put;
        position_ += put;
        if (position_ > size_)
            size_ = position_;
    }
    return true;
}

bool FatFile::truncate(std::uint64_t length) {
    if (!good() || mode_ == OpenMode::read)
        return fail();
    if (length > kMaxFileBytes)
        return fail();
    changed_ = true;
    const std::size_t needed =
        static_cast<std::size_t>((length + clusterBytes_ - 1) / clusterBytes_);
    if (length > size_) {
        if (!zeroTail() || !ensureClusters(needed))
            return fail();
        size_ = length;
        return true;
    }
    if (clusters_.size() > needed) {
        if (bufferIndex_ != kNoCluster && bufferIndex_ >= needed) {
            bufferIndex_ = kNoCluster;
            bufferDirty_ = false;
        }
        const std::uint32_t endMark = endOfChainMark(fs_.geometry().type);
        // Clusters added since the last commit are not on the disk's chain: freed at once.
        for (std::size_t i = std::max(needed, committedClusters_); i < clusters_.size(); ++i)
            fs_.fat().set(clusters_[i], kFreeCluster);
        if (needed >= committedClusters_) {
            if (needed > 0)
                fs_.fat().set(clusters_[needed - 1], endMark);
        } else {
            // Clusters the entry still refers to are freed only after it is rewritten.
            if (committedClusters_ < clusters_.size())
                fs_.fat().set(clusters_[committedClusters_ - 1], endMark);
            for (std::size_t i = needed; i < committedClusters_; ++i)
                releaseOnCommit_.push_back(clusters_[i]);
            if (needed > 0)
                cutAfter_ = clusters_[needed - 1];
        }
        clusters_.resize(needed);
        committedClusters_ = std::min(committedClusters_, needed);
        clustersOnDisk_ = std::min(clustersOnDisk_, needed);
    }
    size_ = length;
    // A later extension must read zeros after the new end.
    if (bufferIndex_ != kNoCluster && length < (std::uint64_t{bufferIndex_} + 1) * clusterBytes_) {
        const std::uint64_t start = std::uint64_t{bufferIndex_} * clusterBytes_;
        const std::size_t keep = length > start ? static_cast<std::size_t>(length - start) : 0;
        std::memset(buffer_.data() + keep, 0, buffer_.size() - keep);
        bufferDirty_ = true;
    }
    return true;
}

bool FatFile::commit() {
    if (!fs_.writable())
        return false;
    if (!flushBuffer() || !zeroFillTo(clusters_.size()))
        return false;
    clustersOnDisk_ = clusters_.size();
    // The data is on the disk before the FAT, and the FAT before the entry that refers to it.
    if (!fs_.commitFat() || !fs_.barrier())
        return false;
    // The slot may have been renamed since the file was opened: only the fields the file owns
    // are changed.
    if (!fs_.readData(where_.offset, &entry_, sizeof entry_))
        return false;
    entry_.setFirstCluster(clusters_.empty() ? 0 : clusters_.front(), fs_.geometry().isFat32());
    entry_.setSize(static_cast<std::uint32_t>(size_));
    entry_.attributes |= attribute::kArchive;
    stampEntry(entry_, false);
    if (!fs_.writeEntry(where_, entry_))
        return false;
    committedClusters_ = clusters_.size();
    changed_ = false;
    if (!releaseOnCommit_.empty() || cutAfter_) {
        for (std::uint32_t cluster : releaseOnCommit_)
            fs_.fat().set(cluster, kFreeCluster);
        if (cutAfter_)
            fs_.fat().set(*cutAfter_, endOfChainMark(fs_.geometry().type));
        releaseOnCommit_.clear();
        cutAfter_.reset();
        if (!fs_.commitFat())
            return false;
    }
    return true;
}

void FatFile::releaseUncommitted() {
    for (std::size_t i = committedClusters_; i < clusters_.size(); ++i)
        fs_.fat().set(clusters_[i], kFreeCluster);
    if (committedClusters_ > 0 && committedClusters_ < clusters_.size())
        fs_.fat().set(clusters_[committedClusters_ - 1], endOfChainMark(fs_.geometry().type));
    clusters_.resize(committedClusters_);
}

void FatFile::abandon() {
    releaseUncommitted();
    releaseOnCommit_.clear();
    cutAfter_.reset();
    bufferIndex_ = kNoCluster;
    bufferDirty_ = false;
    changed_ = false;
    failed_ = true;
    if (!closed_) {
        closed_ = true;
        fs_.fileClosed(this);
    }
}

bool FatFile::close() {
    if (closed_)
        return !failed_;
    bool ok = !failed_;
    if (mode_ != OpenMode::read && (changed_ || bufferDirty_)) {
        // What was written is kept even when the stream failed later, as long as the volume
        // still takes writes; clusters a failed commit allocated stay lost, never half-linked.
        if (!commit()) {
            ok = false;
            if (fs_.writable())
                releaseUncommitted();
        }
    }
    // A closed file is on the disk, including one that was only created.
    if (mode_ != OpenMode::read && ok && !fs_.barrier())
        ok = false;
    closed_ = true;
    fs_.fileClosed(this);
    if (!ok)
        failed_ = true;
    return ok;
}

}  // namespace korvo::fat
