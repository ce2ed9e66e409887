#pragma once
// The RIFF WAVE file object: little-endian, "RIFF"/"WAVE" with a "fmt " and a "data" chunk,
// 16-bit linear PCM only. Made through makeWaveFile(kWaveTypeRiff); see WaveFile.h for use.

#include "wavefile/IffWaveFile.h"
#include "wavefile/RiffWaveChunks.h"

namespace KorvoLib::Korvo {

class CRiffWaveFile
    : public CIffWaveFile<CRiffWaveFileChunks::CRiffWaveChunk, CRiffWaveFileChunks::CFormatChunk,
                          CRiffWaveFileChunks::CDataChunk> {
public:
    CRiffWaveFile();

    std::uint32_t headerSize() const override { return RiffWaveLayout::kHeaderBytes; }

protected:
    // Format tag 1 and 16 bits per sample; frames = data samples / channels (0 without
    // channels). Byte rate and block align are not checked.
    bool describe(const CRiffWaveFileChunks::CFormatChunk& formatChunk,
                  const CRiffWaveFileChunks::CDataChunk& dataChunk,
                  WaveFormat& format) const override;
    bool prepare(const WaveFormat& format, CRiffWaveFileChunks::CFormatChunk& formatChunk,
                 CRiffWaveFileChunks::CDataChunk& dataChunk) const override;
    std::int64_t sampleDataOffset() const override { return 0; }
};

}  // namespace KorvoLib::Korvo
