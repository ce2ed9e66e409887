#pragma once
// Chunks of RIFF- and IFF-style files, independent of byte order: a 4-character identifier, a
// 32-bit body size and the body, padded to an even length. A container chunk's body starts with
// a 4-character form type and holds child chunks. The wave file kinds define their chunk kinds
// on top of these classes and read and write them through a CChunkStream.
//
//   CFormatChunk format;                  // a chunk kind: its identifier is fixed
//   if (!format.read(stream)) ...         // header checked, then the body
//   format.write(stream);                 // header, body, size patched, pad byte
//
// Reading a file's header walks the children of its container with CChildIterator, which reads
// each child's header and passes over the bodies of the ones the caller does not want.

#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <string_view>

#include "wavefile/ChunkStream.h"

namespace KorvoLib {

class CChunk {
public:
    static constexpr std::int64_t kHeaderBytes = 8;

    class CHeader {
    public:
        CHeader() = default;
        explicit CHeader(std::string_view identifier) : identifier(identifier) {}
        virtual ~CHeader() = default;
        CHeader(const CHeader&) = default;
        CHeader& operator=(const CHeader&) = default;

        // Four identifier bytes (a NUL among them ends the identifier) and the size in the
        // stream's byte order; the data position is the stream position after them.
        bool read(CChunkStream& stream);
        // Identifier and size at the current position; the data position is set after them.
        bool write(CChunkStream& stream);

        std::int64_t bodyEnd() const { return dataPosition + size; }
        // Where the next chunk starts: after the body and its pad byte.
        std::int64_t nextPosition() const { return bodyEnd() + (size & 1); }

        std::string identifier;
        std::int32_t size = 0;  // body bytes, without header and pad byte
        std::int64_t dataPosition = 0;
    };

    explicit CChunk(std::string_view identifier);
    virtual ~CChunk() = default;
    CChunk(const CChunk&) = delete;
    CChunk& operator=(const CChunk&) = delete;

    // Reads a header at the current position and checks it: read without error, size and data
    // position not negative, identifier equal to this kind's, body inside the file. A header
    // that fails the check leaves the chunk's header as it was. Then the body.
    virtual bool read(CChunkStream& stream);
    // Header with a placeholder size, body, then the size patched to the bytes the body took
    // and one zero pad byte when that size is odd. The stream ends after the chunk.
    virtual bool write(CChunkStream& stream);
    virtual bool readBody(CChunkStream& stream) = 0;
    virtual bool writeBody(CChunkStream& stream) = 0;

    const CHeader& header() const { return header_; }
    const std::string& identifier() const { return header_.identifier; }
    // Moves the stream to the chunk after this one.
    bool skip(CChunkStream& stream) const;

protected:
    // The header part of read(): read and check.
    bool readHeader(CChunkStream& stream);

    CHeader header_;
};

class CContainerChunk : public CChunk {
public:
    class CChildIterator;

    CContainerChunk(std::string_view identifier, std::string_view formType);
    ~CContainerChunk() override = default;

    // Header and form type (both must match), then every child: each is created by
    // createChild() and read; an identifier without a kind, or a child that fails to read,
    // fails the whole read.
    bool read(CChunkStream& stream) override;
    // Header and form type only; the stream is left at the first child.
    bool readHead(CChunkStream& stream);
    // A container is only read through read().
    bool readBody(CChunkStream& stream) override;
    // Form type, then every child in order.
    bool writeBody(CChunkStream& stream) override;
    // A new chunk of the kind with the given identifier, or null.
    virtual std::unique_ptr<CChunk> createChild(const std::string& identifier) = 0;

    const std::string& formType() const { return formType_; }
    void append(std::unique_ptr<CChunk> child) { children_.push_back(std::move(child)); }
    const std::list<std::unique_ptr<CChunk>>& children() const { return children_; }

private:
    std::string formType_;
    std::list<std::unique_ptr<CChunk>> children_;
};

// Walks the children of a container whose head has been read, from just after the form type to
// the end of the container's body. Each next() reads one child header and leaves the stream
// after it; the following next() passes over that child's body and pad byte. A child whose
// size is negative or whose body runs past the end of the container is bad input: the walk
// stops with failed() set.
class CContainerChunk::CChildIterator {
public:
    CChildIterator(CChunkStream& stream, const CContainerChunk& container);

    bool next();
    bool failed() const { return failed_; }
    const CChunk::CHeader& header() const { return header_; }
    // Position of the current child's identifier.
    std::int64_t headerPosition() const { return header_.dataPosition - CChunk::kHeaderBytes; }

private:
    CChunkStream& stream_;
    CChunk::CHeader header_;
    std::int64_t next_;
    std::int64_t end_;
    bool failed_ = false;
    bool done_ = false;
};

}  // namespace KorvoLib
