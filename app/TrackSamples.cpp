#include "app/TrackSamples.h"

#include "volume/OpenDisk.h"

namespace korvo {

std::unique_ptr<CTrackSamples> CTrackSamples::fromConverter(CTrackConverter& converter) {
    const CSong* song = converter.song();
    if (song == nullptr || converter.selectedTracks().empty()) {
        return nullptr;
    }
    std::unique_ptr<IDiskFiles> disk = openDiskFiles(converter.rootPath(), converter.diskOptions());
    if (!disk) {
        return nullptr;
    }
    converter.computeExportRange();
    return std::make_unique<CTrackSamples>(std::move(disk), *song, converter.selectedTracks(),
                                           converter.blockRange(), converter.polarity());
}

CTrackSamples::CTrackSamples(std::unique_ptr<IDiskFiles> disk, const CSong& song,
                             const std::vector<std::uint8_t>& tracks, BlockRange range,
                             bool invertPolarity)
    : disk_(std::move(disk)), song_(song), tracks_(tracks), range_(range), block_(range.start) {
    buffers_.reserve(tracks_.size());
    readers_.reserve(tracks_.size());
    for (const std::uint8_t track : tracks_) {
        buffers_.emplace_back(song_.blockWidth());
        readers_.emplace_back(*disk_, song_, track, range_, invertPolarity);
    }
}

bool CTrackSamples::seek(std::uint32_t block) {
    failed_ = false;
    for (std::size_t j = 0; j < readers_.size(); ++j) {
        if (!readers_[j].seek(block, buffers_[j])) {
            failed_ = true;
            return false;
        }
    }
    block_ = block;
    return true;
}

bool CTrackSamples::readBlock(std::int16_t* interleaved) {
    if (failed_ || block_ >= range_.end) {
        return false;
    }
    const std::size_t channels = readers_.size();
    for (std::size_t j = 0; j < channels; ++j) {
        if (!readers_[j].readBlock(buffers_[j])) {
            failed_ = true;
            return false;
        }
        for (std::size_t i = 0; i < BlockBuffer::kSamples; ++i) {
            interleaved[i * channels + j] = buffers_[j].samples[i];
        }
    }
    ++block_;
    return true;
}

}  // namespace korvo
