#include "wavefile/AiffChunks.h"

#include "wavefile/ExtendedFloat.h"

namespace KorvoLib::Korvo {

using Chunks = CFormAiffFileChunks;

bool Chunks::CCommonChunk::readBody(CChunkStream& stream) {
    std::uint8_t rate[kExtendedBytes];
    if (header_.size < AiffLayout::kCommonBodyBytes || !stream.read16(channels) ||
        !stream.read32(sampleFrames) || !stream.read16(sampleSize) ||
        !stream.readLong(rate, kExtendedBytes)) {
        return false;
    }
    sampleRate = fromExtended(rate);
    return true;
}

bool Chunks::CCommonChunk::writeBody(CChunkStream& stream) {
    const auto rate = toExtended(sampleRate);
    return stream.write16(channels) && stream.write32(sampleFrames) && stream.write16(sampleSize) &&
           stream.writeLong(rate.data(), rate.size());
}

bool Chunks::CSoundDataChunk::readBody(CChunkStream& stream) {
    if (header_.size < AiffLayout::kSoundDataPrefixBytes || !stream.read32(offset) ||
        !stream.read32(blockSize) || !stream.seek(header_.bodyEnd())) {
        return false;
    }
    sampleCount = static_cast<std::uint32_t>(header_.size - AiffLayout::kSoundDataPrefixBytes) / 2;
    return true;
}

bool Chunks::CSoundDataChunk::writeBody(CChunkStream& stream) {
    if (!stream.write32(offset) || !stream.write32(blockSize)) {
        return false;
    }
    const std::int64_t position = stream.tell();
    return position >= 0 && stream.seek(position + 2 * static_cast<std::int64_t>(sampleCount));
}

std::unique_ptr<CChunk> Chunks::CFormAiffChunk::createChild(const std::string& identifier) {
    if (identifier == CCommonChunk::kIdentifier) {
        return std::make_unique<CCommonChunk>();
    }
    if (identifier == CSoundDataChunk::kIdentifier) {
        return std::make_unique<CSoundDataChunk>();
    }
    return nullptr;
}

}  // namespace KorvoLib::Korvo
