#include "wavefile/ChunkStream.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace KorvoLib {

CChunkStream::CChunkStream(ByteOrder order) : order_(order) {}

CChunkStream::~CChunkStream() {
    close();
}

bool CChunkStream::open(const std::string& path, Access access) {
    close();
    const korvo::HostOpen mode = access == Access::kRead     ? korvo::HostOpen::read
                                 : access == Access::kCreate ? korvo::HostOpen::create
                                                             : korvo::HostOpen::readWrite;
    auto file = korvo::CHostFile::open(path, mode, korvo::HostFileKinds::regularOnly);
    if (!file) {
        return false;
    }
    if (!buffer_) {
        buffer_ = std::make_unique<std::uint8_t[]>(kBufferSize);
    }
    file_ = std::move(file);
    access_ = access;
    failed_ = false;
    pos_ = 0;
    state_ = BufferState::kEmpty;
    bufferStart_ = 0;
    bufferFill_ = 0;
    return true;
}

bool CChunkStream::close() {
    if (!file_) {
        return true;
    }
    bool ok = flush();
    if (!file_->close()) {
        ok = false;
    }
    file_.reset();
    state_ = BufferState::kEmpty;
    bufferFill_ = 0;
    return ok;
}

bool CChunkStream::fail() {
    failed_ = true;
    return false;
}

bool CChunkStream::flush() {
    if (state_ != BufferState::kWriting) {
        state_ = BufferState::kEmpty;
        bufferFill_ = 0;
        return true;
    }
    if (bufferFill_ > 0 &&
        !file_->writeAt(static_cast<std::uint64_t>(bufferStart_), buffer_.get(), bufferFill_)) {
        state_ = BufferState::kEmpty;
        bufferFill_ = 0;
        return fail();
    }
    state_ = BufferState::kEmpty;
    bufferFill_ = 0;
    return true;
}

std::int64_t CChunkStream::tell() const {
    return good() ? pos_ : -1;
}

bool CChunkStream::seek(std::int64_t position) {
    if (!good()) {
        return false;
    }
    if (position < 0) {
        return fail();
    }
    pos_ = position;
    return true;
}

std::int64_t CChunkStream::length() {
    if (!good()) {
        return -1;
    }
    const auto fileSize = file_->size();
    if (!fileSize) {
        fail();
        return -1;
    }
    std::int64_t size = static_cast<std::int64_t>(*fileSize);
    if (state_ == BufferState::kWriting) {
        size = std::max<std::int64_t>(size, bufferStart_ + static_cast<std::int64_t>(bufferFill_));
    }
    return size;
}

std::size_t CChunkStream::fillForRead() {
    if (state_ == BufferState::kReading && pos_ >= bufferStart_ &&
        pos_ < bufferStart_ + static_cast<std::int64_t>(bufferFill_)) {
        return static_cast<std::size_t>(bufferStart_ + static_cast<std::int64_t>(bufferFill_) -
                                        pos_);
    }
    if (!flush()) {
        return 0;
    }
    const long long got = file_->readAt(static_cast<std::uint64_t>(pos_), buffer_.get(), kBufferSize);
    if (got <= 0) {
        return 0;
    }
    state_ = BufferState::kReading;
    bufferStart_ = pos_;
    bufferFill_ = static_cast<std::size_t>(got);
    return bufferFill_;
}

std::size_t CChunkStream::prepareWrite() {
    if (state_ == BufferState::kWriting &&
        pos_ == bufferStart_ + static_cast<std::int64_t>(bufferFill_) &&
        bufferFill_ < kBufferSize) {
        return kBufferSize - bufferFill_;
    }
    if (!flush()) {
        return 0;
    }
    state_ = BufferState::kWriting;
    bufferStart_ = pos_;
    bufferFill_ = 0;
    return kBufferSize;
}

bool CChunkStream::readBytes(void* out, std::size_t count) {
    if (!good()) {
        return false;
    }
    if (access_ == Access::kCreate) {
        return fail();
    }
    auto* dest = static_cast<std::uint8_t*>(out);
    while (count > 0) {
        const std::size_t available = fillForRead();
        if (available == 0) {
            return fail();
        }
        const std::size_t n = std::min(available, count);
        std::memcpy(dest, buffer_.get() + (pos_ - bufferStart_), n);
        dest += n;
        count -= n;
        pos_ += static_cast<std::int64_t>(n);
    }
    return true;
}

bool CChunkStream::writeBytes(const void* in, std::size_t count) {
    if (!good()) {
        return false;
    }
    if (access_ == Access::kRead) {
        return fail();
    }
    const auto* source = static_cast<const std::uint8_t*>(in);
    while (count > 0) {
        const std::size_t room = prepareWrite();
        if (room == 0) {
            return fail();
        }
        const std::size_t n = std::min(room, count);
        std::memcpy(buffer_.get() + bufferFill_, source, n);
        source += n;
        count -= n;
        bufferFill_ += n;
        pos_ += static_cast<std::int64_t>(n);
    }
    return true;
}

bool CChunkStream::read16(std::uint16_t& value) {
    std::uint8_t bytes[2];
    if (!readBytes(bytes, 2)) {
        return false;
    }
    value = loadU16(bytes, order_);
    return true;
}

bool CChunkStream::read16(std::int16_t& value) {
    std::uint16_t raw;
    if (!read16(raw)) {
        return false;
    }
    value = static_cast<std::int16_t>(raw);
    return true;
}

bool CChunkStream::read32(std::uint32_t& value) {
    std::uint8_t bytes[4];
    if (!readBytes(bytes, 4)) {
        return false;
    }
    value = loadU32(bytes, order_);
    return true;
}

bool CChunkStream::read32(std::int32_t& value) {
    std::uint32_t raw;
    if (!read32(raw)) {
        return false;
    }
    value = static_cast<std::int32_t>(raw);
    return true;
}

bool CChunkStream::write16(std::uint16_t value) {
    std::uint8_t bytes[2];
    storeU16(bytes, value, order_);
    return writeBytes(bytes, 2);
}

bool CChunkStream::write32(std::uint32_t value) {
    std::uint8_t bytes[4];
    storeU32(bytes, value, order_);
    return writeBytes(bytes, 4);
}

bool CChunkStream::readLong(std::uint8_t* bytes, std::size_t count) {
    constexpr std::size_t kMaxLong = 16;
    std::uint8_t raw[kMaxLong];
    if (count > kMaxLong) {
        return fail();
    }
    if (!readBytes(raw, count)) {
        return false;
    }
    orderBytes(bytes, raw, count, order_);
    return true;
}

bool CChunkStream::writeLong(const std::uint8_t* bytes, std::size_t count) {
    constexpr std::size_t kMaxLong = 16;
    std::uint8_t raw[kMaxLong];
    if (count > kMaxLong) {
        return fail();
    }
    orderBytes(raw, bytes, count, order_);
    return writeBytes(raw, count);
}

bool CChunkStream::readSamplesSlowly(std::int16_t* out, std::size_t count) {
    if (!good()) {
        return false;
    }
    if (access_ == Access::kCreate) {
        return fail();
    }
    while (count > 0) {
        const std::size_t available = fillForRead();
        if (available >= 2) {
            const std::size_t n = std::min(available / 2, count);
            loadSamples(out, buffer_.get() + (pos_ - bufferStart_), n, order_);
            out += n;
            count -= n;
            pos_ += static_cast<std::int64_t>(2 * n);
        } else {
            // A sample split across the end of the buffer, or the end of the file.
            std::uint8_t bytes[2];
            if (!readBytes(bytes, 2)) {
                return false;
            }
            loadSamples(out, bytes, 1, order_);
            ++out;
            --count;
        }
    }
    return true;
}

bool CChunkStream::writeSamplesSlowly(const std::int16_t* samples, std::size_t count) {
    if (!good()) {
        return false;
    }
    if (access_ == Access::kRead) {
        return fail();
    }
    while (count > 0) {
        const std::size_t room = prepareWrite();
        if (room >= 2) {
            const std::size_t n = std::min(room / 2, count);
            storeSamples(buffer_.get() + bufferFill_, samples, n, order_);
            samples += n;
            count -= n;
            bufferFill_ += 2 * n;
            pos_ += static_cast<std::int64_t>(2 * n);
        } else if (room == 1) {
            std::uint8_t bytes[2];
            storeSamples(bytes, samples, 1, order_);
            if (!writeBytes(bytes, 2)) {
                return false;
            }
            ++samples;
            --count;
        } else {
            return fail();
        }
    }
    return true;
}

}  // namespace KorvoLib
