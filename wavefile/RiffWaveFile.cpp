#include "wavefile/RiffWaveFile.h"

namespace KorvoLib::Korvo {

CRiffWaveFile::CRiffWaveFile() : CIffWaveFile(ByteOrder::kLittle) {}

bool CRiffWaveFile::describe(const CRiffWaveFileChunks::CFormatChunk& formatChunk,
                             const CRiffWaveFileChunks::CDataChunk& dataChunk,
                             WaveFormat& format) const {
    if (formatChunk.formatTag != RiffWaveLayout::kFormatTagPcm ||
        formatChunk.bitsPerSample != RiffWaveLayout::kBitsPerSample) {
        return false;
    }
    format.channels = formatChunk.channels;
    format.sampleRate = formatChunk.sampleRate;
    // A header that declares no channels has no frames; the import refuses it by its channel
    // count.
    format.frames = formatChunk.channels == 0 ? 0 : dataChunk.sampleCount / formatChunk.channels;
    return true;
}

bool CRiffWaveFile::prepare(const WaveFormat& format,
                            CRiffWaveFileChunks::CFormatChunk& formatChunk,
                            CRiffWaveFileChunks::CDataChunk& dataChunk) const {
    const std::uint32_t bytesPerFrame = 2u * format.channels;
    formatChunk.formatTag = RiffWaveLayout::kFormatTagPcm;
    formatChunk.channels = format.channels;
    formatChunk.sampleRate = format.sampleRate;
    formatChunk.byteRate = bytesPerFrame * format.sampleRate;
    formatChunk.blockAlign = static_cast<std::uint16_t>(bytesPerFrame);
    formatChunk.bitsPerSample = RiffWaveLayout::kBitsPerSample;
    formatChunk.extraSize = 0;
    dataChunk.sampleCount = format.channels * format.frames;
    return true;
}

}  // namespace KorvoLib::Korvo
