#pragma once
// The selected virtual tracks of a song as the samples an export writes, for listening and
// looking before exporting: one channel per virtual track (ascending), the export's block range,
// polarity and fades, from any block of the range on. It works on its own handle to the disk
// and its own copy of the song, so that a worker thread can read while the window goes on using
// the track converter.
//
//   auto samples = CTrackSamples::fromConverter(converter);   // null: nothing to read
//   samples->seek(block);
//   while (samples->readBlock(frames)) play(frames);          // 16 frames, interleaved

#include <cstdint>
#include <memory>
#include <vector>

#include "codec/BlockBuffer.h"
#include "convert/TrackConverter.h"
#include "convert/TrackReader.h"
#include "disk/DiskFiles.h"
#include "disk/Song.h"

namespace korvo {

class CTrackSamples {
public:
    // The converter's loaded song and selected tracks over the export range; null when no song
    // is loaded, nothing is selected or the disk cannot be opened again.
    static std::unique_ptr<CTrackSamples> fromConverter(CTrackConverter& converter);
    CTrackSamples(std::unique_ptr<IDiskFiles> disk, const CSong& song,
                  const std::vector<std::uint8_t>& tracks, BlockRange range, bool invertPolarity);
    CTrackSamples(const CTrackSamples&) = delete;
    CTrackSamples& operator=(const CTrackSamples&) = delete;

    int channels() const { return static_cast<int>(tracks_.size()); }
    std::uint32_t sampleRate() const { return song_.sampleRate(); }
    BlockRange range() const { return range_; }
    const CSong& song() const { return song_; }
    const std::vector<std::uint8_t>& tracks() const { return tracks_; }

    // Reads on from this block of the range; false when it lies outside or cannot be read.
    bool seek(std::uint32_t block);
    // The next block's frames, interleaved (16 × channels samples); false at the end of the
    // range or when a take cannot be read (failed() tells which).
    bool readBlock(std::int16_t* interleaved);
    bool failed() const { return failed_; }
    std::uint32_t currentBlock() const { return block_; }

private:
    std::unique_ptr<IDiskFiles> disk_;
    CSong song_;
    std::vector<std::uint8_t> tracks_;
    BlockRange range_;
    std::vector<BlockBuffer> buffers_;
    std::vector<CTrackReader> readers_;
    std::uint32_t block_;
    bool failed_ = false;
};

}  // namespace korvo
