#include "convert/TrackReader.h"

#include <algorithm>

namespace korvo {

void invertPolarity(std::int16_t* samples, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        const std::int16_t sample = samples[i];
        samples[i] = sample == -32768 ? std::int16_t{32767} : static_cast<std::int16_t>(-sample);
    }
}

void invertPolarity(BlockBuffer& buffer) {
    invertPolarity(buffer.samples.data(), buffer.samples.size());
}

CTrackReader::CTrackReader(IDiskFiles& disk, const CSong& song, int virtualTrack, BlockRange range,
                           bool invertPolarity)
    : disk_(disk),
      song_(song),
      geometry_(TakeGeometry::of(song.family(), song.blockWidth())),
      invertPolarity_(invertPolarity),
      block_(range.start),
      range_(range),
      cursor_(song.events(), virtualTrack, range, song.sampleRate()),
      runDecoder_(song.blockWidth()) {}

bool CTrackReader::openTakeForSegment() {
    take_.reset();
    const std::uint16_t slot = cursor_.currentEvent();
    if (slot == kNoSlot) {
        return true;  // a gap, or an event that plays silence
    }
    if (!geometry_) {
        return false;  // no codec for the song's data type
    }
    const EventRecord& event = song_.events().slot(slot);
    auto take = std::make_unique<CTakeFile>(disk_, *geometry_);
    // The segment may begin before this block when events overlap; play from this block's
    // place in the take.
    const std::uint32_t offset = event.takeOffset + (block_ - event.start);
    if (!take->openForReading(song_, event.firstCluster, offset)) {
        return false;
    }
    take_ = std::move(take);
    return true;
}

bool CTrackReader::readBlock(BlockBuffer& buffer) {
    if (block_ == cursor_.segmentEnd()) {
        cursor_.moveTo(block_);
        if (cursor_.segmentStart() == range_.end) {
            return false;  // past the range
        }
        // Every new segment decides its take anew, so a take never plays past its event.
        if (!openTakeForSegment()) {
            return false;
        }
    }
    if (take_) {
        if (!take_->readBlock(buffer.bytes.data())) {
            return false;
        }
        buffer.decode();
        if (invertPolarity_) {
            invertPolarity(buffer);
        }
        cursor_.applyFade(block_, buffer);
    } else {
        buffer.reset();
    }
    ++block_;
    return true;
}

bool CTrackReader::seek(std::uint32_t block, BlockBuffer& buffer) {
    if (block < range_.start || block > range_.end) {
        return false;
    }
    buffer.reset();
    runDecoder_.carried = 0;
    take_.reset();
    block_ = range_.start;
    if (range_.start == range_.end) {
        cursor_.moveTo(block_);
        return true;
    }
    // Start one block early so that the carried sample is the one a whole run would have.
    const std::uint32_t first = block > range_.start ? block - 1 : block;
    // Cut the track into segments from the start of the range, as a whole run does, so that
    // overlapping events and the fades at segment edges come out the same.
    cursor_.moveTo(range_.start);
    while (cursor_.segmentEnd() <= first && cursor_.segmentEnd() < range_.end) {
        const std::uint32_t end = cursor_.segmentEnd();
        cursor_.moveTo(end);
        if (cursor_.segmentEnd() <= end) {
            return false;  // a chain that does not move forward
        }
    }
    block_ = first;
    if (!openTakeForSegment()) {
        return false;
    }
    if (block_ != block && !readBlock(buffer)) {
        return false;
    }
    // Runs read from here go on from the same carried sample.
    runDecoder_.carried = buffer.carried;
    return true;
}

bool CTrackReader::readRun(TrackRun& run, std::uint32_t blocks) {
    run.start = block_;
    run.blocks = 0;
    run.pieces.clear();
    const std::size_t blockBytes = geometry_ ? geometry_->blockBytes : 0;
    if (run.bytes.size() < blocks * blockBytes) {
        run.bytes.resize(blocks * blockBytes);
    }
    while (run.blocks < blocks) {
        if (block_ == cursor_.segmentEnd()) {
            cursor_.moveTo(block_);
            if (cursor_.segmentStart() == range_.end || !openTakeForSegment()) {
                return false;
            }
        }
        const std::uint32_t count = std::min(blocks - run.blocks, cursor_.segmentEnd() - block_);
        if (count == 0) {
            return false;
        }
        if (take_ && !take_->readBlocks(run.bytes.data() + run.blocks * blockBytes, count)) {
            return false;
        }
        run.pieces.push_back({block_, count, cursor_.segmentStart(), cursor_.segmentEnd(),
                              take_ != nullptr});
        run.blocks += count;
        block_ += count;
    }
    return true;
}

void CTrackReader::decodeRun(const TrackRun& run, std::int16_t* samples) {
    const std::size_t blockBytes = geometry_ ? geometry_->blockBytes : 0;
    for (const TrackRun::Piece& piece : run.pieces) {
        const std::size_t offset = piece.start - run.start;
        std::int16_t* out = samples + offset * BlockBuffer::kSamples;
        const std::size_t count = std::size_t{piece.blocks} * BlockBuffer::kSamples;
        if (!piece.audio) {
            // Silence, and the next take's first block is predicted as after silence.
            std::fill(out, out + count, std::int16_t{0});
            runDecoder_.carried = 0;
            continue;
        }
        runDecoder_.decodeRun(run.bytes.data() + offset * blockBytes, out, piece.blocks);
        if (invertPolarity_) {
            invertPolarity(out, count);
        }
        CEventCursor::fadeRun(piece.segmentStart, piece.segmentEnd, cursor_.fadeBlocks(),
                              piece.start, out, piece.blocks);
    }
}

}  // namespace korvo
