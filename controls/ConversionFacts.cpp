#include "controls/ConversionFacts.h"

#include "convert/TrackConverter.h"
#include "volume/HostVolume.h"

namespace korvo {

std::optional<std::uint64_t> CTrackConverterFacts::recorderFreeBytes() {
    return converter_.diskFreeBytes();
}

std::optional<std::uint64_t> CTrackConverterFacts::folderFreeBytes(const std::string& folder) {
    return hostFreeBytes(folder);
}

bool CTrackConverterFacts::openInputWave(const std::string& path) {
    return converter_.openInputWave(path);
}

KorvoLib::Korvo::WaveFormat CTrackConverterFacts::inputWave() const {
    const WaveDescription& wave = converter_.wave();
    // A file read through the conversion front shows its own rate; channels and length are
    // what the import will write.
    const std::uint32_t rate =
        wave.throughFactory ? converter_.sourceFormat().sampleRate : wave.sampleRate;
    return {wave.channels, rate, wave.frames};
}

void CTrackConverterFacts::computeImportRange() {
    converter_.computeImportRange();
}

std::uint64_t CTrackConverterFacts::neededDiskBytes() const {
    return converter_.neededDiskBytes();
}

std::uint32_t CTrackConverterFacts::songSampleRate() const {
    return converter_.song() != nullptr ? converter_.song()->sampleRate() : 0;
}

std::uint64_t CTrackConverterFacts::neededHostBytes(int fileType) const {
    return converter_.neededHostBytes(fileType);
}

}  // namespace korvo
