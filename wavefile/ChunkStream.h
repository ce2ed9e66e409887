#pragma once
// The host file through which every chunk of a wave file is read and written, together with
// the file's byte order (little-endian for RIFF WAVE, big-endian for AIFF). Values of 2 and 4
// bytes are converted on the way, longer values (the 10-byte extended float) are reversed as a
// whole in a little-endian file, single bytes and identifiers are copied as they are.
//
//   CChunkStream stream(ByteOrder::kBig);
//   if (!stream.open(path, CChunkStream::Access::kRead)) ...
//   std::uint32_t size; stream.read32(size);
//   stream.readSamples(samples, 32);       // a block of samples, swapped in one pass
//
// The stream keeps its own 64 KiB buffer (allocated once when it is opened), so a block of
// samples is one copy into or out of that buffer and nothing is allocated per block. Like a
// standard stream it has a sticky error state: after a failed read, write or seek every further
// operation fails until clearError() is called. Only regular files are opened, so a path to a
// FIFO or a device can never make a read hang.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "wavefile/ByteOrder.h"
#include "wavefile/HostFile.h"

namespace KorvoLib {

class CChunkStream {
public:
    enum class Access { kRead, kCreate, kUpdate };
    static constexpr std::size_t kBufferSize = 64 * 1024;

    explicit CChunkStream(ByteOrder order);
    ~CChunkStream();
    CChunkStream(const CChunkStream&) = delete;
    CChunkStream& operator=(const CChunkStream&) = delete;

    ByteOrder byteOrder() const { return order_; }

    // kRead: an existing file, read only. kCreate: a new or emptied file, write only.
    // kUpdate: an existing file, read and write, its contents kept. A stream already open is
    // closed first. Reading a kCreate stream or writing a kRead stream fails at once.
    bool open(const std::string& path, Access access);
    // Writes what is buffered and closes the file; false when either fails. True when the
    // stream was not open.
    bool close();
    bool isOpen() const { return file_ != nullptr; }

    // Open and no error so far.
    bool good() const { return file_ != nullptr && !failed_; }
    bool failed() const { return failed_; }
    void clearError() { failed_ = false; }

    // The current position; -1 when the stream is not open or in the error state.
    std::int64_t tell() const;
    // Moves to an absolute position, which may lie past the end of the file (a later write
    // fills the gap with zeros). A negative position fails.
    bool seek(std::int64_t position);
    // The length of the file including bytes still buffered; -1 on error.
    std::int64_t length();

    bool readBytes(void* out, std::size_t count);
    bool writeBytes(const void* in, std::size_t count);

    bool read16(std::uint16_t& value);
    bool read16(std::int16_t& value);
    bool read32(std::uint32_t& value);
    bool read32(std::int32_t& value);
    bool write16(std::uint16_t value);
    bool write16(std::int16_t value) { return write16(static_cast<std::uint16_t>(value)); }
    bool write32(std::uint32_t value);
    bool write32(std::int32_t value) { return write32(static_cast<std::uint32_t>(value)); }
    // A value of `count` bytes held most significant byte first in `bytes`.
    bool readLong(std::uint8_t* bytes, std::size_t count);
    bool writeLong(const std::uint8_t* bytes, std::size_t count);

    // `count` signed 16-bit samples in the stream's byte order. A run that lies inside the
    // buffer is converted in place without a further call.
    bool readSamples(std::int16_t* out, std::size_t count) {
        const std::int64_t bytes = static_cast<std::int64_t>(2 * count);
        if (state_ == BufferState::kReading && !failed_ && pos_ >= bufferStart_ &&
            pos_ + bytes <= bufferStart_ + static_cast<std::int64_t>(bufferFill_)) {
            loadSamples(out, buffer_.get() + (pos_ - bufferStart_), count, order_);
            pos_ += bytes;
            return true;
        }
        return readSamplesSlowly(out, count);
    }
    bool writeSamples(const std::int16_t* samples, std::size_t count) {
        if (state_ == BufferState::kWriting && !failed_ &&
            pos_ == bufferStart_ + static_cast<std::int64_t>(bufferFill_) &&
            2 * count <= kBufferSize - bufferFill_) {
            storeSamples(buffer_.get() + bufferFill_, samples, count, order_);
            bufferFill_ += 2 * count;
            pos_ += static_cast<std::int64_t>(2 * count);
            return true;
        }
        return writeSamplesSlowly(samples, count);
    }

private:
    enum class BufferState { kEmpty, kReading, kWriting };

    bool fail();
    bool flush();
    bool readSamplesSlowly(std::int16_t* out, std::size_t count);
    bool writeSamplesSlowly(const std::int16_t* samples, std::size_t count);
    // Makes [pos_, pos_ + count) available in the buffer for reading, as far as the file
    // holds it; returns the bytes available from pos_ (0 at the end of the file or on error).
    std::size_t fillForRead();
    // Makes room for writing at pos_; returns the bytes that fit from pos_.
    std::size_t prepareWrite();

    ByteOrder order_;
    std::unique_ptr<korvo::CHostFile> file_;
    Access access_ = Access::kRead;
    bool failed_ = false;
    std::int64_t pos_ = 0;
    std::unique_ptr<std::uint8_t[]> buffer_;
    BufferState state_ = BufferState::kEmpty;
    std::int64_t bufferStart_ = 0;  // file position of buffer_[0]
    std::size_t bufferFill_ = 0;    // valid bytes (reading) or pending bytes (writing)
};

}  // namespace KorvoLib
