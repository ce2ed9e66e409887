#pragma once
// One writer at a time on a recorder disk: every program that reads a disk holds a shared lock
// on it and one that writes it an exclusive one, so that an import, a rename or a mount never
// meets another writer half-way. The lock is an advisory flock(2) on the disk image or device,
// or, for a folder, on the folder itself, so that nothing is written onto the recorder's disk
// for it; the kernel drops it when the holder ends, however it ends. (A Windows host has no lock
// on a folder: there only disk images are held.)
//
//   std::string problem;
//   auto lock = CDiskLock::take("recorder.img", CDiskLock::Mode::shared, problem);
//   if (!lock) report(problem);                  // a writer holds the disk
//   if (!lock->change(CDiskLock::Mode::exclusive, problem)) report(problem);

#include <memory>
#include <string>

#include "wavefile/HostFile.h"

namespace korvo {

class CDiskLock {
public:
    enum class Mode { shared, exclusive };

    // The lock on the disk behind the root path, without waiting; null with a sentence when
    // another holder is in the way. A root that cannot be opened gets a lock that holds
    // nothing (the disk check reports that root on its own).
    static std::unique_ptr<CDiskLock> take(const std::string& rootPath, Mode mode,
                                           std::string& problem);
    ~CDiskLock();
    CDiskLock(const CDiskLock&) = delete;
    CDiskLock& operator=(const CDiskLock&) = delete;

    // Shared to exclusive or back, without waiting. A refused change leaves the shared lock.
    bool change(Mode mode, std::string& problem);
    Mode mode() const { return mode_; }
    const std::string& rootPath() const { return rootPath_; }

private:
    CDiskLock(std::string rootPath, std::unique_ptr<CHostFile> file, Mode mode)
        : rootPath_(std::move(rootPath)), file_(std::move(file)), mode_(mode) {}

    std::string rootPath_;
    std::unique_ptr<CHostFile> file_;  // null: the root could not be opened
    Mode mode_;
};

}  // namespace korvo
