#include "wavefile/Chunk.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace KorvoLib {
namespace {

constexpr std::int64_t kFormTypeBytes = 4;

// Four identifier bytes; a NUL ends the identifier early.
bool readFourCharacters(CChunkStream& stream, std::string& out) {
    char bytes[4];
    if (!stream.readBytes(bytes, sizeof bytes)) {
        return false;
    }
    out.assign(bytes, strnlen(bytes, sizeof bytes));
    return true;
}

// The identifier padded with NULs to four bytes.
bool writeFourCharacters(CChunkStream& stream, const std::string& text) {
    char bytes[4] = {};
    std::memcpy(bytes, text.data(), std::min<std::size_t>(text.size(), sizeof bytes));
    return stream.writeBytes(bytes, sizeof bytes);
}

}  // namespace

bool CChunk::CHeader::read(CChunkStream& stream) {
    if (!readFourCharacters(stream, identifier) || !stream.read32(size)) {
        return false;
    }
    dataPosition = stream.tell();
    return true;
}

bool CChunk::CHeader::write(CChunkStream& stream) {
    if (!writeFourCharacters(stream, identifier) || !stream.write32(size)) {
        return false;
    }
    dataPosition = stream.tell();
    return true;
}

CChunk::CChunk(std::string_view identifier) : header_(identifier) {}

bool CChunk::readHeader(CChunkStream& stream) {
    CHeader read;
    if (!read.read(stream)) {
        return false;
    }
    if (read.size < 0 || read.dataPosition < 0 || read.identifier != header_.identifier) {
        return false;
    }
    const std::int64_t length = stream.length();
    if (length < 0 || read.bodyEnd() > length) {
        return false;
    }
    header_ = read;
    return true;
}

bool CChunk::read(CChunkStream& stream) {
    return readHeader(stream) && readBody(stream);
}

bool CChunk::write(CChunkStream& stream) {
    if (!header_.write(stream) || !writeBody(stream)) {
        return false;
    }
    const std::int64_t end = stream.tell();
    const std::int64_t size = end - header_.dataPosition;
    if (end < 0 || size > std::numeric_limits<std::int32_t>::max()) {
        return false;
    }
    header_.size = static_cast<std::int32_t>(size);
    if (!stream.seek(header_.dataPosition - 4) || !stream.write32(header_.size) ||
        !stream.seek(end)) {
        return false;
    }
    if (header_.size & 1) {
        const std::uint8_t pad = 0;
        return stream.writeBytes(&pad, 1);
    }
    return true;
}

bool CChunk::skip(CChunkStream& stream) const {
    return stream.seek(header_.nextPosition());
}

CContainerChunk::CContainerChunk(std::string_view identifier, std::string_view formType)
    : CChunk(identifier), formType_(formType) {}

bool CContainerChunk::readHead(CChunkStream& stream) {
    const CHeader previous = header_;
    if (!readHeader(stream)) {
        return false;
    }
    std::string formType;
    if (header_.size < kFormTypeBytes || !readFourCharacters(stream, formType) ||
        formType != formType_) {
        header_ = previous;
        return false;
    }
    return true;
}

bool CContainerChunk::read(CChunkStream& stream) {
    if (!readHead(stream)) {
        return false;
    }
    children_.clear();
    CChildIterator children(stream, *this);
    while (children.next()) {
        std::unique_ptr<CChunk> child = createChild(children.header().identifier);
        if (!child || !stream.seek(children.headerPosition()) || !child->read(stream)) {
            return false;
        }
        children_.push_back(std::move(child));
    }
    return !children.failed();
}

bool CContainerChunk::readBody(CChunkStream&) {
    return false;
}

bool CContainerChunk::writeBody(CChunkStream& stream) {
    if (!writeFourCharacters(stream, formType_)) {
        return false;
    }
    for (const auto& child : children_) {
        if (!child->write(stream)) {
            return false;
        }
    }
    return true;
}

CContainerChunk::CChildIterator::CChildIterator(CChunkStream& stream,
                                                const CContainerChunk& container)
    : stream_(stream),
      next_(container.header().dataPosition + kFormTypeBytes),
      end_(container.header().bodyEnd()) {}

bool CContainerChunk::CChildIterator::next() {
    if (done_ || failed_) {
        return false;
    }
    // Fewer bytes than a header left in the body (a pad byte, say): the walk is over.
    if (next_ + CChunk::kHeaderBytes > end_) {
        done_ = true;
        return false;
    }
    if (!stream_.seek(next_) || !header_.read(stream_) || header_.size < 0 ||
        header_.bodyEnd() > end_) {
        failed_ = true;
        return false;
    }
    next_ = header_.nextPosition();
    return true;
}

}  // namespace KorvoLib
