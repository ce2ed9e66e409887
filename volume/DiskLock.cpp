#include "volume/DiskLock.h"

namespace korvo {

namespace {

bool lockFile(CHostFile* file, CDiskLock::Mode mode) {
    return file == nullptr || file->tryLock(mode == CDiskLock::Mode::exclusive);
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
    // A folder opens read-only like a file does; the lock works on both.
    auto file = rootPath.empty()
                    ? nullptr
                    : CHostFile::open(rootPath, HostOpen::read, HostFileKinds::anything);
    if (!lockFile(file.get(), mode)) {
        problem = busyMessage(rootPath, mode);
        return nullptr;
    }
    return std::unique_ptr<CDiskLock>(new CDiskLock(rootPath, std::move(file), mode));
}

CDiskLock::~CDiskLock() = default;

bool CDiskLock::change(Mode mode, std::string& problem) {
    if (mode == mode_) {
        return true;
    }
    if (lockFile(file_.get(), mode)) {
        mode_ = mode;
        return true;
    }
    // A refused conversion may have dropped the old lock on the way: take it again.
    lockFile(file_.get(), mode_);
    problem = busyMessage(rootPath_, mode);
    return false;
}

}  // namespace korvo
