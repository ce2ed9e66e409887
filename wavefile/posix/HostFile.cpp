#include "wavefile/HostFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace korvo {

namespace {

int flagsOf(HostOpen mode) {
    switch (mode) {
        case HostOpen::read:
            return O_RDONLY | O_CLOEXEC;
        case HostOpen::readWrite:
            return O_RDWR | O_CLOEXEC;
        case HostOpen::create:
            return O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC;
    }
    return O_RDONLY | O_CLOEXEC;
}

bool accepted(const struct stat& status, HostFileKinds kinds, int& refusal) {
    if (S_ISREG(status.st_mode) || kinds == HostFileKinds::anything) {
        return true;
    }
    if (S_ISBLK(status.st_mode) && kinds == HostFileKinds::regularOrDevice) {
        return true;
    }
    refusal = S_ISDIR(status.st_mode) ? EISDIR : ENODEV;
    return false;
}

}  // namespace

std::unique_ptr<CHostFile> CHostFile::open(const std::string& path, HostOpen mode,
                                           HostFileKinds kinds, int* errorNumber) {
    if (errorNumber) {
        *errorNumber = 0;
    }
    // O_NONBLOCK: a FIFO named as a file must not make the open hang; it is refused below.
    int fd;
    do {
        fd = ::open(path.c_str(), flagsOf(mode) | O_NONBLOCK, 0666);
    } while (fd < 0 && errno == EINTR);
    int error = fd < 0 ? errno : 0;
    struct stat status {};
    if (fd >= 0 && ::fstat(fd, &status) != 0) {
        error = errno;
    } else if (fd >= 0) {
        accepted(status, kinds, error);
    }
    if (error != 0) {
        if (fd >= 0) {
            ::close(fd);
        }
        if (errorNumber) {
            *errorNumber = error;
        }
        return nullptr;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return std::unique_ptr<CHostFile>(new CHostFile(fd));
}

CHostFile::~CHostFile() {
    close();
}

long long CHostFile::readAt(std::uint64_t offset, void* data, std::size_t n) {
    auto* bytes = static_cast<std::uint8_t*>(data);
    std::size_t done = 0;
    while (done < n) {
        const ssize_t got = ::pread(static_cast<int>(handle_), bytes + done, n - done,
                                    static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return -1;
        }
        if (got == 0) {
            break;
        }
        done += static_cast<std::size_t>(got);
    }
    return static_cast<long long>(done);
}

bool CHostFile::writeAt(std::uint64_t offset, const void* data, std::size_t n) {
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    std::size_t done = 0;
    while (done < n) {
        const ssize_t put = ::pwrite(static_cast<int>(handle_), bytes + done, n - done,
                                     static_cast<off_t>(offset + done));
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(put);
    }
    return true;
}

std::optional<std::uint64_t> CHostFile::size() {
    const int fd = static_cast<int>(handle_);
    struct stat status {};
    if (handle_ < 0 || ::fstat(fd, &status) != 0) {
        return std::nullopt;
    }
    if (S_ISREG(status.st_mode)) {
        return static_cast<std::uint64_t>(status.st_size);
    }
    // Block devices report 0 in st_size; their length comes from seeking to the end.
    const off_t end = ::lseek(fd, 0, SEEK_END);
    if (end < 0) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(end);
}

bool CHostFile::truncate(std::uint64_t length) {
    int result;
    do {
        result = ::ftruncate(static_cast<int>(handle_), static_cast<off_t>(length));
    } while (result != 0 && errno == EINTR);
    return result == 0;
}

bool CHostFile::sync() {
    int result;
    do {
        result = ::fsync(static_cast<int>(handle_));
    } while (result != 0 && errno == EINTR);
    // Some hosts (and user-space drivers) cannot sync every kind of file; EINVAL says so.
    return result == 0 || errno == EINVAL || errno == ENOTSUP;
}

bool CHostFile::syncData() {
    int result;
    do {
        result = ::fdatasync(static_cast<int>(handle_));
    } while (result != 0 && errno == EINTR);
    return result == 0;
}

bool CHostFile::close() {
    if (handle_ < 0) {
        return true;
    }
    const bool closed = ::close(static_cast<int>(handle_)) == 0 || errno == EINTR;
    handle_ = -1;
    return closed;
}

bool CHostFile::tryLock(bool exclusive) {
    const int operation = exclusive ? LOCK_EX : LOCK_SH;
    while (::flock(static_cast<int>(handle_), operation | LOCK_NB) != 0) {
        if (errno != EINTR) {
            return false;
        }
    }
    return true;
}

bool removeHostFile(const std::string& path) {
    return ::unlink(path.c_str()) == 0;
}

}  // namespace korvo
