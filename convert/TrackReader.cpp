#include "convert/TrackReader.h"

namespace korvo {

void invertPolarity(BlockBuffer& buffer) {
    for (auto& sample : buffer.samples) {
        sample = sample == -32768 ? std::int16_t{32767} : static_cast<std::int16_t>(-sample);
    }
}

CTrackReader::CTrackReader(IDiskFiles& disk, const CSong& song, int virtualTrack, BlockRange range,
                           bool invertPolarity)
    : disk_(disk),
      song_(song),
      geometry_(TakeGeometry::of(song.family(), song.blockWidth())),
      invertPolarity_(invertPolarity),
      block_(range.start),
      range_(range),
      cursor_(song.events(), virtualTrack, range, song.sampleRate()) {}

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
    return block_ == block || readBlock(buffer);
}

}  // namespace korvo
