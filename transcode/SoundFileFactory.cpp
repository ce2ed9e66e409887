#include "transcode/SoundFileFactory.h"

#include <sndfile.h>

#include "transcode/ConvertingReader.h"
#include "transcode/FlacWriter.h"
#include "transcode/SoundFileFormat.h"

namespace korvo::transcode {

bool CSoundFileFactory::inspect(const std::string& path, SourceFormat& format) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (!file) {
        return false;
    }
    sf_close(file);
    if (info.channels <= 0 || info.channels > 0xFFFF || info.samplerate <= 0 || info.frames < 0) {
        return false;
    }
    format.channels = static_cast<std::uint16_t>(info.channels);
    format.sampleRate = static_cast<std::uint32_t>(info.samplerate);
    format.frames = static_cast<std::uint64_t>(info.frames);
    format.linear16 = isLinear16(info.format);
    format.encoding = encodingName(info.format);
    return true;
}

std::unique_ptr<KorvoLib::Korvo::IWaveFile> CSoundFileFactory::makeReader(
    std::uint32_t sampleRate, const std::vector<std::uint16_t>& channels) {
    return std::make_unique<CConvertingReader>(sampleRate, channels);
}

std::unique_ptr<KorvoLib::Korvo::IWaveFile> CSoundFileFactory::makeWriter(
    int fileType, std::uint32_t sampleRate, std::uint16_t channels, const std::string& title) {
    if (fileType != KorvoLib::Korvo::kWaveTypeFlac) {
        return nullptr;
    }
    return std::make_unique<CFlacWriter>(sampleRate, channels, title);
}

std::shared_ptr<IWaveFileFactory> makeSoundFileFactory() {
    return std::make_shared<CSoundFileFactory>();
}

std::string describeSource(const SourceFormat& format) {
    return std::to_string(format.sampleRate) + " Hz, " + format.encoding;
}

}  // namespace korvo::transcode
