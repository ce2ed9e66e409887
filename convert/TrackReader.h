#pragma once
// Produces one virtual track's blocks for an export, one block per call, in order: the take of
// the event that covers the block, decoded, with its polarity inverted and its edges faded, or
// silence where no event plays.

#include <cstdint>
#include <memory>
#include <optional>

#include "codec/BlockBuffer.h"
#include "convert/EventCursor.h"
#include "disk/DiskFiles.h"
#include "disk/Song.h"
#include "disk/TakeFile.h"

namespace korvo {

class CTrackReader {
public:
    CTrackReader(IDiskFiles& disk, const CSong& song, int virtualTrack, BlockRange range,
                 bool invertPolarity);

    // The next block into the buffer; false when the take cannot be opened or read.
    bool readBlock(BlockBuffer& buffer);
    // Moves to any block of the range, so that the blocks read from there on are exactly the
    // ones a read from the start of the range gives (random access for a mount or a preview).
    // The buffer gets the carried sample those reads need: the block before is read again
    // (a block's carried sample follows from the one before it alone). False when that block's
    // take cannot be read or the block lies outside the range.
    bool seek(std::uint32_t block, BlockBuffer& buffer);
    std::uint32_t currentBlock() const { return block_; }

private:
    bool openTakeForSegment();

    IDiskFiles& disk_;
    const CSong& song_;
    std::optional<TakeGeometry> geometry_;
    bool invertPolarity_;
    std::uint32_t block_;
    BlockRange range_;
    CEventCursor cursor_;
    std::unique_ptr<CTakeFile> take_;
};

// Negates every sample; -32768 becomes +32767.
void invertPolarity(BlockBuffer& buffer);

}  // namespace korvo
