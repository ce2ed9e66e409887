#include "disk/TakeFile.h"

#include <algorithm>

#include "disk/DiskLayout.h"
#include "disk/Song.h"
#include "disk/SongCommit.h"

namespace korvo {

std::optional<TakeGeometry> TakeGeometry::of(DiskFamily family, int width) {
    std::uint32_t clusterBytes = 0;
    switch (family) {
        case kFamilyKrv:
            clusterBytes = 0x8000;
            break;
        case kFamilyQmt:
        case kFamilyQms:
            clusterBytes = 0x10000;
            break;
        default:
            return std::nullopt;
    }
    // Blocks of 10 and 12 bytes fill 65520 bytes of a 64 KiB span, blocks of 8 and 16 all of
    // it; the KRV family's clusters hold half a span.
    std::uint32_t span = 0;
    switch (width) {
        case 4:
        case 8:
            span = 65536;
            break;
        case 5:
        case 6:
            span = 65520;
            break;
        default:
            return std::nullopt;
    }
    if (family == kFamilyKrv) {
        span /= 2;
    }
    TakeGeometry geometry;
    geometry.clusterBytes = clusterBytes;
    geometry.blockBytes = 2 * static_cast<std::uint32_t>(width);
    geometry.blocksPerCluster = span / geometry.blockBytes;
    geometry.slackBytes = clusterBytes - geometry.blocksPerCluster * geometry.blockBytes;
    return geometry;
}

std::uint64_t TakeGeometry::blockPosition(std::uint32_t block) const {
    if (blocksPerCluster == 0) {
        return 0;
    }
    return std::uint64_t{clusterBytes} * (block / blocksPerCluster) +
           std::uint64_t{blockBytes} * (block % blocksPerCluster);
}

CTakeFile::CTakeFile(IDiskFiles& disk, const TakeGeometry& geometry)
    : disk_(disk), geometry_(geometry) {}

bool CTakeFile::openForReading(const CSong& song, std::uint16_t take, std::uint32_t blockOffset) {
    close();
    path_ = song.path(takeFileName(take));
    writing_ = false;
    if (geometry_.blocksPerCluster == 0) {
        return false;
    }
    stream_ = disk_.open(path_, OpenMode::read);
    if (!stream_) {
        return false;
    }
    position_ = geometry_.blockPosition(blockOffset);
    clusterEnd_ = std::uint64_t{geometry_.clusterBytes} *
                  (std::uint64_t{blockOffset / geometry_.blocksPerCluster} + 1);
    return stream_->seek(position_) && stream_->good();
}

bool CTakeFile::nextClusterIfFull(const std::uint8_t* opening) {
    if (position_ + geometry_.blockBytes <= clusterEnd_ - geometry_.slackBytes) {
        return true;
    }
    if (writing_) {
        // The recorder fills the slack of the cluster it leaves with the block that opens the
        // next one, repeated where the slack is longer than a block (16 bytes of slack after
        // 10- and 12-byte blocks in 64 KiB clusters).
        while (position_ < clusterEnd_) {
            const std::size_t part = static_cast<std::size_t>(
                std::min<std::uint64_t>(geometry_.blockBytes, clusterEnd_ - position_));
            if (!stream_->write(opening, part)) {
                return false;
            }
            position_ += part;
        }
    } else if (position_ != clusterEnd_ && !stream_->seek(clusterEnd_)) {
        return false;
    }
    position_ = clusterEnd_;
    clusterEnd_ += geometry_.clusterBytes;
    return true;
}

std::size_t CTakeFile::blocksLeftInCluster() const {
    return static_cast<std::size_t>((clusterEnd_ - geometry_.slackBytes - position_) /
                                    geometry_.blockBytes);
}

bool CTakeFile::readBlock(std::uint8_t* block) {
    return readBlocks(block, 1);
}

bool CTakeFile::readBlocks(std::uint8_t* blocks, std::size_t count) {
    if (!stream_ || writing_) {
        return false;
    }
    while (count > 0) {
        // A block that would run into the slack opens the next cluster instead.
        if (!nextClusterIfFull(nullptr)) {
            return false;
        }
        const std::size_t run = std::min(count, blocksLeftInCluster());
        const std::size_t bytes = run * geometry_.blockBytes;
        if (!stream_->read(blocks, bytes)) {
            return false;
        }
        position_ += bytes;
        blocks += bytes;
        count -= run;
    }
    return true;
}

bool CTakeFile::createForWriting(const CSong& song, int virtualTrack) {
    close();
    path_ = song.path(temporaryTakeFileName(virtualTrack));
    writing_ = true;
    createdFile_ = false;
    if (geometry_.blocksPerCluster == 0) {
        return false;
    }
    stream_ = disk_.open(path_, OpenMode::write);
    if (!stream_) {
        return false;
    }
    createdFile_ = true;
    position_ = 0;
    clusterEnd_ = geometry_.clusterBytes;
    return stream_->good();
}

bool CTakeFile::writeBlock(const std::uint8_t* block) {
    return writeBlocks(block, 1);
}

bool CTakeFile::writeBlocks(const std::uint8_t* blocks, std::size_t count) {
    if (!stream_ || !writing_) {
        return false;
    }
    while (count > 0) {
        // A block that does not fit before the slack opens the next cluster.
        if (!nextClusterIfFull(blocks)) {
            return false;
        }
        const std::size_t run = std::min(count, blocksLeftInCluster());
        const std::size_t bytes = run * geometry_.blockBytes;
        if (!stream_->write(blocks, bytes)) {
            return false;
        }
        position_ += bytes;
        blocks += bytes;
        count -= run;
    }
    return true;
}

bool CTakeFile::close() {
    if (!stream_) {
        return true;
    }
    bool closed = stream_->close();
    stream_.reset();
    return closed;
}

std::string CTakeFile::fileName() const {
    const std::string::size_type slash = path_.rfind('/');
    return slash == std::string::npos ? path_ : path_.substr(slash + 1);
}

bool CTakeFile::finish() {
    if (!stream_ || !writing_) {
        return false;
    }
    // Durable before anything refers to it: a commit record naming the take must never reach
    // the disk ahead of the take's bytes.
    const bool synced = stream_->sync();
    if (!close() || !synced) {
        return false;
    }
    chain_.clear();
    if (!disk_.clusterChain(path_, chain_) || chain_.empty()) {
        chain_.clear();
        return false;
    }
    finalName_ = takeFileName(chain_.front());
    return true;
}

bool CTakeFile::complete() {
    if (!finish()) {
        return false;
    }
    // The same folder, the final name in place of the temporary one.
    std::string finalPath = path_.substr(0, path_.size() - fileName().size()) + finalName_;
    if (!disk_.rename(path_, finalPath)) {
        return false;
    }
    path_ = finalPath;
    return true;
}

CTakeWriter::CTakeWriter(IDiskFiles& disk, const TakeGeometry& geometry, const CSong& song,
                         int virtualTrack)
    : disk_(disk), take_(disk, geometry) {
    created_ = take_.createForWriting(song, virtualTrack);
}

CTakeWriter::~CTakeWriter() {
    take_.close();
    if (!completed_ && !handedOver_ && take_.createdFile()) {
        removeTemporaryTake(disk_, take_.path());
    }
}

bool CTakeWriter::writeBlock(const std::uint8_t* block) {
    return writeBlocks(block, 1);
}

bool CTakeWriter::writeBlocks(const std::uint8_t* blocks, std::size_t count) {
    return created_ && !finished_ && !completed_ && take_.writeBlocks(blocks, count);
}

bool CTakeWriter::finish() {
    if (!created_ || finished_ || completed_) {
        return finished_;
    }
    finished_ = take_.finish();
    return finished_;
}

bool CTakeWriter::complete() {
    if (!created_ || completed_ || finished_) {
        return completed_;
    }
    completed_ = take_.complete();
    return completed_;
}

}  // namespace korvo
