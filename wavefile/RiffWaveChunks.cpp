#include "wavefile/RiffWaveChunks.h"

namespace KorvoLib::Korvo {

using Chunks = CRiffWaveFileChunks;

bool Chunks::CFormatChunk::readBody(CChunkStream& stream) {
    if (header_.size < RiffWaveLayout::kShortFormatBodyBytes) {
        return false;
    }
    if (!stream.read16(formatTag) || !stream.read16(channels) || !stream.read32(sampleRate) ||
        !stream.read32(byteRate) || !stream.read16(blockAlign) || !stream.read16(bitsPerSample)) {
        return false;
    }
    extraSize = 0;
    if (header_.size >= RiffWaveLayout::kFormatBodyBytes) {
        return stream.read16(extraSize);
    }
    return true;
}

bool Chunks::CFormatChunk::writeBody(CChunkStream& stream) {
    return stream.write16(formatTag) && stream.write16(channels) && stream.write32(sampleRate) &&
           stream.write32(byteRate) && stream.write16(blockAlign) &&
           stream.write16(bitsPerSample) && stream.write16(extraSize);
}

bool Chunks::CDataChunk::readBody(CChunkStream& stream) {
    if (!stream.seek(header_.bodyEnd())) {
        return false;
    }
    sampleCount = static_cast<std::uint32_t>(header_.size) / 2;
    return true;
}

bool Chunks::CDataChunk::writeBody(CChunkStream& stream) {
    const std::int64_t position = stream.tell();
    return position >= 0 && stream.seek(position + 2 * static_cast<std::int64_t>(sampleCount));
}

std::unique_ptr<CChunk> Chunks::CRiffWaveChunk::createChild(const std::string& identifier) {
    if (identifier == CFormatChunk::kIdentifier) {
        return std::make_unique<CFormatChunk>();
    }
    if (identifier == CDataChunk::kIdentifier) {
        return std::make_unique<CDataChunk>();
    }
    return nullptr;
}

}  // namespace KorvoLib::Korvo
