#include "volume/FolderStream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace korvo {

namespace {

// Reads up to n bytes at the offset; the number read (short only at the end of the file), or
// -1 on an error.
long long readAt(int fd, std::uint8_t* data, std::size_t n, std::uint64_t offset) {
    std::size_t done = 0;
    while (done < n) {
        ssize_t got = ::pread(fd, data + done, n - done, static_cast<off_t>(offset + done));
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return -1;
        }
        if (got == 0) {
            break;
        }
        done += static_cast<std::size_t>(got);
    }
    return static_cast<long long>(done);
}

bool writeAt(int fd, const std::uint8_t* data, std::size_t n, std::uint64_t offset) {
    std::size_t done = 0;
    while (done < n) {
        ssize_t put = ::pwrite(fd, data + done, n - done, static_cast<off_t>(offset + done));
        if (put < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        if (put == 0) {
            return false;
        }
        done += static_cast<std::size_t>(put);
    }
    return true;
}

}  // namespace

CFolderStream::CFolderStream(int fd) : fd_(fd), buffer_(new std::uint8_t[kBufferBytes]) {}

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
    if (failed_ || fd_ < 0 || !flush()) {
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
            long long got = readAt(fd_, out, n, position_);
            if (got < 0 || static_cast<std::size_t>(got) < n) {
                return fail();
            }
            position_ += n;
            return true;
        }
        long long got = readAt(fd_, buffer_.get(), kBufferBytes, position_);
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
    if (failed_ || fd_ < 0 || !flush()) {
        return fail();
    }
    buffered_ = Buffered::nothing;  // file bytes read earlier may be overwritten now
    const auto* in = static_cast<const std::uint8_t*>(data);
    if (n >= kBufferBytes) {
        if (!writeAt(fd_, in, n, position_)) {
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
    if (bufferLength_ > 0 && !writeAt(fd_, buffer_.get(), bufferLength_, bufferStart_)) {
        bufferLength_ = 0;
        return fail();
    }
    bufferLength_ = 0;
    return true;
}

bool CFolderStream::seek(std::uint64_t position) {
    if (failed_ || fd_ < 0 || !flush()) {
        return fail();
    }
    position_ = position;
    return true;
}

std::optional<std::uint64_t> CFolderStream::size() {
    if (fd_ < 0) {
        return std::nullopt;
    }
    struct stat status;
    if (::fstat(fd_, &status) != 0) {
        return std::nullopt;
    }
    std::uint64_t length = static_cast<std::uint64_t>(status.st_size);
    if (buffered_ == Buffered::pendingWrites) {
        length = std::max<std::uint64_t>(length, bufferStart_ + bufferLength_);
    }
    return length;
}

bool CFolderStream::truncate(std::uint64_t length) {
    if (failed_ || fd_ < 0 || !flush()) {
        return fail();
    }
    buffered_ = Buffered::nothing;
    int result;
    do {
        result = ::ftruncate(fd_, static_cast<off_t>(length));
    } while (result != 0 && errno == EINTR);
    return result == 0 || fail();
}

bool CFolderStream::sync() {
    if (failed_ || fd_ < 0 || !flush()) {
        return fail();
    }
    int result;
    do {
        result = ::fsync(fd_);
    } while (result != 0 && errno == EINTR);
    return result == 0 || errno == EINVAL || fail();
}

bool CFolderStream::close() {
    if (fd_ < 0) {
        return !failed_;
    }
    if (!failed_) {
        flush();
    }
    if (::close(fd_) != 0 && errno != EINTR) {
        failed_ = true;
    }
    fd_ = -1;
    buffered_ = Buffered::nothing;
    bufferLength_ = 0;
    return !failed_;
}

}  // namespace korvo
