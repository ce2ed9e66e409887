#pragma once
// The chunks of a RIFF WAVE file (little-endian) as this library writes it:
//
//   offset  size  field
//        0     4  "RIFF"             4  size: file size - 8      8  form type "WAVE"
//       12     4  "fmt "            16  size: 18
//       20     2  format tag 1      22  channels                24  sample rate (4)
//       28     4  byte rate         32  block align (2)         34  bits per sample 16 (2)
//       36     2  extra size 0
//       38     4  "data"            42  size: channels x frames x 2
//       46        samples, signed 16-bit, channels interleaved within a frame
//
// Reading also takes a 16-byte "fmt " chunk (no extra size) and passes over any other chunk.

#include <cstdint>
#include <memory>

#include "wavefile/Chunk.h"

namespace KorvoLib::Korvo {

namespace RiffWaveLayout {
inline constexpr std::int32_t kFormatBodyBytes = 18;
inline constexpr std::int32_t kShortFormatBodyBytes = 16;  // without the extra size field
inline constexpr std::uint16_t kFormatTagPcm = 1;
inline constexpr std::uint16_t kBitsPerSample = 16;
inline constexpr std::uint32_t kHeaderBytes = CChunk::kHeaderBytes + 4  // "RIFF", "WAVE"
                                              + CChunk::kHeaderBytes + kFormatBodyBytes  // "fmt "
                                              + CChunk::kHeaderBytes;                    // "data"
static_assert(kHeaderBytes == 46);
}  // namespace RiffWaveLayout

class CRiffWaveFileChunks {
public:
    // "fmt ": the sample format.
    class CFormatChunk : public CChunk {
    public:
        static constexpr std::string_view kIdentifier = "fmt ";
        CFormatChunk() : CChunk(kIdentifier) {}

        // Six fields from a 16-byte (or 17-byte) body, all seven from a longer one; a body
        // shorter than 16 bytes fails.
        bool readBody(CChunkStream& stream) override;
        // All seven fields, 18 bytes.
        bool writeBody(CChunkStream& stream) override;

        std::uint16_t formatTag = 0;
        std::uint16_t channels = 0;
        std::uint32_t sampleRate = 0;
        std::uint32_t byteRate = 0;
        std::uint16_t blockAlign = 0;
        std::uint16_t bitsPerSample = 0;
        std::uint16_t extraSize = 0;
    };

    // "data": the samples. The chunk itself only accounts for them; the file object reads and
    // writes the samples.
    class CDataChunk : public CChunk {
    public:
        static constexpr std::string_view kIdentifier = "data";
        CDataChunk() : CChunk(kIdentifier) {}

        // Passes over the body; sample count = size / 2.
        bool readBody(CChunkStream& stream) override;
        // Moves forward over sample count x 2 bytes, which the samples already fill.
        bool writeBody(CChunkStream& stream) override;

        std::uint32_t sampleCount = 0;  // 16-bit samples of all channels
    };

    // "RIFF" with form type "WAVE".
    class CRiffWaveChunk : public CContainerChunk {
    public:
        static constexpr std::string_view kIdentifier = "RIFF";
        static constexpr std::string_view kFormType = "WAVE";
        CRiffWaveChunk() : CContainerChunk(kIdentifier, kFormType) {}

        // A format chunk for "fmt ", a data chunk for "data", null otherwise.
        std::unique_ptr<CChunk> createChild(const std::string& identifier) override;
    };
};

}  // namespace KorvoLib::Korvo
