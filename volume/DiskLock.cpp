#include "volume/DiskLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

namespace korvo {

namespace {

bool lockFile(int fd, CDiskLock::Mode mode) {
    if (fd < 0) {
        return true;
    }
    const int operation = mode == CDiskLock::Mode::exclusive ? LOCK_EX : LOCK_SH;
    while (::flock(fd, operation | LOCK_NB) != 0) {
        if (errno != EINTR) {
            return false;
        }
    }
    return true;
}

std::string busyMessage(const std::string& rootPath, CDiskLock::Mode mode) {
    return rootPath + (mode == CDiskLock::Mode::exclusive
                           ? " is in use by another korvowav program; a disk is written only "
                             "when nothing else has it open (unmount it, or let the other "
                             "command finish)"
                           : " is being written by another korvowav program (an import, a "
                             "rename or a mount); try again when it is done");
}

}  // namespace

std::unique_ptr<CDiskLock> CDiskLock::take(const std::string& rootPath, Mode mode,
                                           std::string& problem) {
    // A folder opens read-only like a file does; flock works on both.
    const int fd = rootPath.empty() ? -1 : ::open(rootPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (!lockFile(fd, mode)) {
        ::close(fd);
        problem = busyMessage(rootPath, mode);
        return nullptr;
    }
    return std::unique_ptr<CDiskLock>(new CDiskLock(rootPath, fd, mode));
}

CDiskLock::~CDiskLock() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

bool CDiskLock::change(Mode mode, std::string& problem) {
    if (mode == mode_) {
        return true;
    }
    if (lockFile(fd_, mode)) {
        mode_ = mode;
        return true;
    }
    // A refused conversion may have dropped the old lock on the way: take it again.
    lockFile(fd_, mode_);
    problem = busyMessage(rootPath_, mode);
    return false;
}

}  // namespace korvo
