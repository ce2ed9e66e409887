#include "controls/ConversionEngine.h"

#include "convert/TrackConverter.h"
#include "volume/HostVolume.h"

namespace korvo {

std::optional<std::uint64_t> CConverterEngine::recorderFreeBytes() {
    return converter_.diskFreeBytes();
}

std::optional<std::uint64_t> CConverterEngine::folderFreeBytes(const std::string& folder) {
    return hostFreeBytes(folder);
}

bool CConverterEngine::openInputWave(const std::string& path) {
    return converter_.openInputWave(path);
}

KorvoLib::Korvo::WaveFormat CConverterEngine::inputWave() const {
    const WaveDescription& wave = converter_.wave();
    return {wave.channels, wave.sampleRate, wave.frames};
}

void CConverterEngine::computeImportRange() { converter_.computeImportRange(); }

std::uint64_t CConverterEngine::neededDiskBytes() const { return converter_.neededDiskBytes(); }

std::uint64_t CConverterEngine::neededHostBytes(int fileType) const {
    return converter_.neededHostBytes(fileType);
}

}  // namespace korvo
