#pragma once
// The AIFF file object: big-endian, "FORM"/"AIFF" with a "COMM" and an "SSND" chunk, 16-bit
// samples only. Made through makeWaveFile(kWaveTypeAiff); see WaveFile.h for use.
//
// The frame count is taken from the size of "SSND", not from the frame count of "COMM"; the
// offset field of "SSND" is not applied (the samples are taken to start right after the block
// size field). The sample rate is truncated towards zero to an integer.

#include "wavefile/AiffChunks.h"
#include "wavefile/IffWaveFile.h"

namespace KorvoLib::Korvo {

class CFormAiffFile
    : public CIffWaveFile<CFormAiffFileChunks::CFormAiffChunk, CFormAiffFileChunks::CCommonChunk,
                          CFormAiffFileChunks::CSoundDataChunk> {
public:
    CFormAiffFile();

    std::uint32_t headerSize() const override { return AiffLayout::kHeaderBytes; }

protected:
    bool describe(const CFormAiffFileChunks::CCommonChunk& formatChunk,
                  const CFormAiffFileChunks::CSoundDataChunk& dataChunk,
                  WaveFormat& format) const override;
    bool prepare(const WaveFormat& format, CFormAiffFileChunks::CCommonChunk& formatChunk,
                 CFormAiffFileChunks::CSoundDataChunk& dataChunk) const override;
    std::int64_t sampleDataOffset() const override { return AiffLayout::kSoundDataPrefixBytes; }
};

}  // namespace KorvoLib::Korvo
