#include "wavefile/WaveFile.h"

#include <cstring>

#include "wavefile/AiffChunks.h"
#include "wavefile/ChunkStream.h"
#include "wavefile/FormAiffFile.h"
#include "wavefile/RiffWaveChunks.h"
#include "wavefile/RiffWaveFile.h"

namespace KorvoLib::Korvo {

std::unique_ptr<IWaveFile> makeWaveFile(int fileType) {
    switch (fileType) {
        case kWaveTypeRiff:
            return std::make_unique<CRiffWaveFile>();
        case kWaveTypeAiff:
            return std::make_unique<CFormAiffFile>();
        default:
            return nullptr;
    }
}

int recognizeWaveFileType(const std::string& path) {
    CChunkStream stream(ByteOrder::kLittle);
    char head[12];
    if (!stream.open(path, CChunkStream::Access::kRead) || !stream.readBytes(head, sizeof head)) {
        return -1;
    }
    const auto is = [&head](int at, std::string_view text) {
        return std::memcmp(head + at, text.data(), 4) == 0;
    };
    if (is(0, CRiffWaveFileChunks::CRiffWaveChunk::kIdentifier) &&
        is(8, CRiffWaveFileChunks::CRiffWaveChunk::kFormType)) {
        return kWaveTypeRiff;
    }
    if (is(0, CFormAiffFileChunks::CFormAiffChunk::kIdentifier) &&
        is(8, CFormAiffFileChunks::CFormAiffChunk::kFormType)) {
        return kWaveTypeAiff;
    }
    return -1;
}

}  // namespace KorvoLib::Korvo
