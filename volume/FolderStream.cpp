#include "volume/FolderStream.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace korvo {

CFolderStream::CFolderStream(std::unique_ptr<CHostFile> file)
    : file_(std::move(file)), buffer_(new std::uint8_t[kBufferBytes]) {}

CFolderStream::~CFolderStream() {
    close();
}

bool CFolderStream::read(void* data, std::size_t n) {
    if (buffered_ == Buffered::fileBytes && position_ >= bufferStart_ && !failed_) {
        const std::uint64_t offset = position_ - bufferStart_;
        if (offset + n <= bufferLength_) {
            std::memcpy(data, buffer_.get() + offset, n);
            position_ += n;
            return true;
        }
    }
    return readSlow(data, n);
}

bool CFolderStream::readSlow(void* data, std::size_t n) {
    if (failed_ || !file_ || !flush()) {
        return fail();
    }
    auto* out = static_cast<std::uint8_t*>(data);
    while (n > 0) {
        if (buffered_ == Buffered::fileBytes && position_ >= bufferStart_ &&
            position_ < bufferStart_ + bufferLength_) {
            const std::size_t offset = static_cast<std::size_t>(position_ - bufferStart_);
            const std::size_t part = std::min(n, bufferLength_ - offset);
            std::memcpy(out, buffer_.get() + offset, part);
            out += part;
            n -= part;
            position_ += part;
            continue;
        }
        if (n >= kBufferBytes) {
            // A large read goes straight to the caller's memory.
            long long got = file_->readAt(position_, out, n);
            if (got < 0 || static_cast<std::size_t>(got) < n) {
                return fail();
            }
            position_ += n;
            return true;
        }
        long long got = file_->readAt(position_, buffer_.get(), kBufferBytes);
        if (got <= 0) {
            buffered_ = Buffered::nothing;
            return fail();
        }
        buffered_ = Buffered::fileBytes;
        bufferStart_ = position_;
        bufferLength_ = static_cast<std::size_t>(got);
    }
    return true;
}

bool CFolderStream::write(const void* data, std::size_t n) {
    if (buffered_ == Buffered::pendingWrites && position_ == bufferStart_ + bufferLength_ &&
        bufferLength_ + n <= kBufferBytes && !failed_) {
        std::memcpy(buffer_.get() + bufferLength_, data, n);
        bufferLength_ += n;
        position_ += n;
        return true;
    }
    return writeSlow(data, n);
}

bool CFolderStream::writeSlow(const void* data, std::size_t n) {
    if (failed_ || !file_ || !flush()) {
        return fail();
    }
    buffered_ = Buffered::nothing;  // file bytes read earlier may be overwritten now
    const auto* in = static_cast<const std::uint8_t*>(data);
    if (n >= kBufferBytes) {
        if (!file_->writeAt(position_, in, n)) {
            return fail();
        }
        position_ += n;
        return true;
    }
    std::memcpy(buffer_.get(), in, n);
    buffered_ = Buffered::pendingWrites;
    bufferStart_ = position_;
    bufferLength_ = n;
    position_ += n;
    return true;
}

bool CFolderStream::flush() {
    if (buffered_ != Buffered::pendingWrites) {
        return true;
    }
    buffered_ = Buffered::nothing;
    if (bufferLength_ > 0 && !file_->writeAt(bufferStart_, buffer_.get(), bufferLength_)) {
        bufferLength_ = 0;
        return fail();
    }
    bufferLength_ = 0;
    return true;
}

bool CFolderStream::seek(std::uint64_t position) {
    if (failed_ || !file_ || !flush()) {
        return fail();
    }
    position_ = position;
    return true;
}

std::optional<std::uint64_t> CFolderStream::size() {
    if (!file_) {
        return std::nullopt;
    }
    const auto fileSize = file_->size();
    if (!fileSize) {
        return std::nullopt;
    }
    std::uint64_t length = *fileSize;
    if (buffered_ == Buffered::pendingWrites) {
        length = std::max<std::uint64_t>(length, bufferStart_ + bufferLength_);
    }
    return length;
}

bool CFolderStream::truncate(std::uint64_t length) {
    if (failed_ || !file_ || !flush()) {
        return fail();
    }
    buffered_ = Buffered::nothing;
    return file_->truncate(length) || fail();
}

bool CFolderStream::sync() {
    if (failed_ || !file_ || !flush()) {
        return fail();
    }
    return file_->sync() || fail();
}

bool CFolderStream::close() {
    if (!file_) {
        return !failed_;
    }
    if (!failed_) {
        flush();
    }
    if (!file_->close()) {
        failed_ = true;
    }
    file_.reset();
    buffered_ = Buffered::nothing;
    bufferLength_ = 0;
    return !failed_;
}

}  // namespace korvo
