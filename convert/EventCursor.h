#pragma once
// Walks one virtual track's events block by block during an export. The track is cut into
// segments: an event that covers the block, or a gap without one. The cursor tells which take
// (if any) plays in the current segment and fades the first and last blocks of each segment in
// and out (about 15 ms), so that event edges do not click.

#include <cstdint>

#include "codec/BlockBuffer.h"
#include "disk/DiskTypes.h"
#include "disk/EventTable.h"

namespace korvo {

class CEventCursor {
public:
    CEventCursor(const CEventTable& events, int virtualTrack, BlockRange range,
                 std::uint32_t sampleRate);

    // Makes the segment that holds block b current.
    void moveTo(std::uint32_t block);

    std::uint32_t segmentStart() const { return segmentStart_; }
    std::uint32_t segmentEnd() const { return segmentEnd_; }
    // The event that plays in the current segment; kNoSlot for a gap, an event without audio
    // (first cluster 0) or one shorter than a second.
    std::uint16_t currentEvent() const;
    // Fades the block in or out when it lies within the fade length of the segment's edges.
    void applyFade(std::uint32_t block, BlockBuffer& buffer) const;
    // The same for a run of `blocks` blocks from `firstBlock`, all inside the segment
    // [segmentStart, segmentEnd), their samples consecutive. Needs no cursor, so a run can be
    // faded on another thread while the cursor moves on.
    static void fadeRun(std::uint32_t segmentStart, std::uint32_t segmentEnd,
                        std::uint32_t fadeBlocks, std::uint32_t firstBlock, std::int16_t* samples,
                        std::uint32_t blocks);

    std::uint32_t fadeBlocks() const { return fadeBlocks_; }
    std::uint32_t blocksPerSecond() const { return blocksPerSecond_; }

private:
    const CEventTable& events_;
    int virtualTrack_;
    BlockRange range_;
    std::uint32_t blocksPerSecond_;
    std::uint32_t fadeBlocks_;
    std::uint32_t segmentStart_;
    std::uint32_t segmentEnd_;
    std::uint16_t segmentEvent_ = kNoSlot;
};

}  // namespace korvo
