#pragma once
// Produces one virtual track's blocks for an export, in order: the take of the event that
// covers the block, decoded, with its polarity inverted and its edges faded, or silence where
// no event plays. Either one block per call (readBlock), or a run of blocks at a time in two
// steps: readRun takes the run's bytes from the disk and notes how the run splits into
// segments, decodeRun turns them into samples. The two steps of different runs may run on
// different threads (the next run read while the last one decodes), never two of one kind at
// once. Between two seeks a reader is read by blocks or by runs, not both.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "codec/BlockBuffer.h"
#include "convert/EventCursor.h"
#include "disk/DiskFiles.h"
#include "disk/Song.h"
#include "disk/TakeFile.h"

namespace korvo {

// One run of a virtual track between reading and decoding. Its arrays keep their capacity from
// run to run.
struct TrackRun {
    // A part of the run inside one segment.
    struct Piece {
        std::uint32_t start = 0;   // first block
        std::uint32_t blocks = 0;
        std::uint32_t segmentStart = 0;
        std::uint32_t segmentEnd = 0;
        bool audio = false;        // false: silence
    };
    std::uint32_t start = 0;
    std::uint32_t blocks = 0;
    std::vector<std::uint8_t> bytes;  // the take bytes of the run's blocks, 2w a block
    std::vector<Piece> pieces;
};

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

    // The next `blocks` blocks' take bytes and segments into the run; false when a take cannot
    // be opened or read, or the run would pass the range.
    bool readRun(TrackRun& run, std::uint32_t blocks);
    // The run's samples, 16 a block, into `samples`. Never fails.
    void decodeRun(const TrackRun& run, std::int16_t* samples);

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
    // The decoder and carried sample of the runs.
    BlockBuffer runDecoder_;
};

// Negates every sample; -32768 becomes +32767.
void invertPolarity(BlockBuffer& buffer);
void invertPolarity(std::int16_t* samples, std::size_t count);

}  // namespace korvo
