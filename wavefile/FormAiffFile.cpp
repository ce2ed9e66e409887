#include "wavefile/FormAiffFile.h"

#include <cmath>
#include <limits>

namespace KorvoLib::Korvo {

CFormAiffFile::CFormAiffFile() : CIffWaveFile(ByteOrder::kBig) {}

bool CFormAiffFile::describe(const CFormAiffFileChunks::CCommonChunk& formatChunk,
                             const CFormAiffFileChunks::CSoundDataChunk& dataChunk,
                             WaveFormat& format) const {
    if (formatChunk.sampleSize != AiffLayout::kSampleSize) {
        return false;
    }
    // A negative channel count, or a rate that is no number or lies outside what a sample
    // rate can hold, is a broken header rather than a value to convert.
    const double rate = std::trunc(formatChunk.sampleRate);
    if (formatChunk.channels < 0 || !(rate >= 0.0) ||
        rate > double{std::numeric_limits<std::uint32_t>::max()}) {
        return false;
    }
    const auto channels = static_cast<std::uint16_t>(formatChunk.channels);
    format.channels = channels;
    format.sampleRate = static_cast<std::uint32_t>(rate);
    format.frames = channels == 0 ? 0 : dataChunk.sampleCount / channels;
    return true;
}

bool CFormAiffFile::prepare(const WaveFormat& format,
                            CFormAiffFileChunks::CCommonChunk& formatChunk,
                            CFormAiffFileChunks::CSoundDataChunk& dataChunk) const {
    if (format.channels > std::numeric_limits<std::int16_t>::max()) {
        return false;
    }
    formatChunk.channels = static_cast<std::int16_t>(format.channels);
    formatChunk.sampleFrames = format.frames;
    formatChunk.sampleSize = AiffLayout::kSampleSize;
    formatChunk.sampleRate = static_cast<double>(format.sampleRate);
    dataChunk.offset = 0;
    dataChunk.blockSize = 0;
    dataChunk.sampleCount = format.channels * format.frames;
    return true;
}

}  // namespace KorvoLib::Korvo
