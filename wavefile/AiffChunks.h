#pragma once
// The chunks of an AIFF file (big-endian) as this library writes it:
//
//   offset  size  field
//        0     4  "FORM"             4  size: file size - 8      8  form type "AIFF"
//       12     4  "COMM"            16  size: 18
//       20     2  channels (signed) 22  sample frames (4)       26  sample size 16 (2)
//       28    10  sample rate, 80-bit extended float
//       38     4  "SSND"            42  size: 8 + channels x frames x 2
//       46     4  offset 0          50  block size 0
//       54        samples, signed 16-bit, channels interleaved within a frame

#include <cstdint>
#include <memory>

#include "wavefile/Chunk.h"

namespace KorvoLib::Korvo {

namespace AiffLayout {
inline constexpr std::int32_t kCommonBodyBytes = 18;
inline constexpr std::int32_t kSoundDataPrefixBytes = 8;  // offset and block size
inline constexpr std::int16_t kSampleSize = 16;
inline constexpr std::uint32_t kHeaderBytes = CChunk::kHeaderBytes + 4  // "FORM", "AIFF"
                                              + CChunk::kHeaderBytes + kCommonBodyBytes  // "COMM"
                                              + CChunk::kHeaderBytes +
                                              kSoundDataPrefixBytes;  // "SSND"
static_assert(kHeaderBytes == 54);
}  // namespace AiffLayout

class CFormAiffFileChunks {
public:
    // "COMM": channels, frames, sample size and rate.
    class CCommonChunk : public CChunk {
    public:
        static constexpr std::string_view kIdentifier = "COMM";
        CCommonChunk() : CChunk(kIdentifier) {}

        // The four fields (18 bytes); a shorter body fails.
        bool readBody(CChunkStream& stream) override;
        bool writeBody(CChunkStream& stream) override;

        std::int16_t channels = 0;
        std::uint32_t sampleFrames = 0;
        std::int16_t sampleSize = 0;
        double sampleRate = 0.0;
    };

    // "SSND": offset, block size, then the samples, which the file object reads and writes.
    class CSoundDataChunk : public CChunk {
    public:
        static constexpr std::string_view kIdentifier = "SSND";
        CSoundDataChunk() : CChunk(kIdentifier) {}

        // Offset and block size, then past the samples; sample count = (size - 8) / 2. A body
        // shorter than 8 bytes fails.
        bool readBody(CChunkStream& stream) override;
        // Offset and block size, then forward over sample count x 2 bytes.
        bool writeBody(CChunkStream& stream) override;

        std::uint32_t offset = 0;
        std::uint32_t blockSize = 0;
        std::uint32_t sampleCount = 0;  // 16-bit samples of all channels; not stored
    };

    // "FORM" with form type "AIFF".
    class CFormAiffChunk : public CContainerChunk {
    public:
        static constexpr std::string_view kIdentifier = "FORM";
        static constexpr std::string_view kFormType = "AIFF";
        CFormAiffChunk() : CContainerChunk(kIdentifier, kFormType) {}

        // A common chunk for "COMM", a sound data chunk for "SSND", null otherwise.
        std::unique_ptr<CChunk> createChild(const std::string& identifier) override;
    };
};

}  // namespace KorvoLib::Korvo
