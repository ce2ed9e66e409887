#include "convert/TrackConverter.h"

#include "disk/DiskLayout.h"
#include "disk/SongCommit.h"
#include "disk/Status.h"
#include "volume/DiskLock.h"
#include "volume/OpenDisk.h"

namespace korvo {

CTrackConverter::CTrackConverter() = default;
CTrackConverter::~CTrackConverter() = default;

void CTrackConverter::setRootPath(const std::string& rootPath) {
    if (rootPath != rootPath_) {
        disk_.reset();
    }
    rootPath_ = rootPath;
}

void CTrackConverter::setDiskOptions(const DiskOptions& options) {
    options_ = options;
    disk_.reset();
}

bool CTrackConverter::takeLock() {
    if (lock_ && lock_->rootPath() == rootPath_) {
        return true;
    }
    lock_.reset();
    lockProblem_.clear();
    lock_ = CDiskLock::take(
        rootPath_, holdWriteLock_ ? CDiskLock::Mode::exclusive : CDiskLock::Mode::shared,
        lockProblem_);
    return lock_ != nullptr;
}

bool CTrackConverter::openDisk() {
    if (!takeLock()) {
        disk_.reset();
        return false;
    }
    // Opened anew for every check, so that a disk swapped or rewritten since the last command
    // (or an image changed by another program) is seen as it is now.
    disk_ = opener_ ? opener_(rootPath_, options_) : openDiskFiles(rootPath_, options_);
    return disk_ != nullptr;
}

int CTrackConverter::checkDisk() {
    OperationLock operation(*this);
    family_ = kFamilyNone;
    if (!openDisk()) {
        return lock_ ? kDiskNotRecorder : kDiskAccessDenied;
    }
    return korvo::checkDisk(*disk_, family_);
}

std::optional<std::uint64_t> CTrackConverter::diskFreeBytes() {
    if (!disk_ && !openDisk()) {
        return std::nullopt;
    }
    return disk_->freeBytes();
}

bool CTrackConverter::refreshSongList() {
    OperationLock operation(*this);
    const int check = checkDisk();
    if (check != kDiskWritable && check != kDiskReadOnly) {
        status_ = check;
        return false;
    }
    songList_.emplace();
    auto stream = disk_->open(songListFileName(family_), OpenMode::read);
    if (!stream || !readSongList(*stream, *songList_)) {
        songList_.reset();
        status_ = kStatusFailedReadSongList;
        return false;
    }
    status_ = kStatusOk;
    return true;
}

bool CTrackConverter::refreshSong(SongNumber number) {
    OperationLock operation(*this);
    const int check = checkDisk();
    if (check != kDiskWritable && check != kDiskReadOnly) {
        status_ = check;
        return false;
    }
    song_.reset();
    if (!songList_) {
        status_ = kStatusInvalidSongNumber;
        return false;
    }
    const auto entry = songList_->find(number);
    if (entry == songList_->end()) {
        status_ = kStatusInvalidSongNumber;
        return false;
    }
    // A song write that was interrupted is finished (or dropped) before the song is read, so
    // that every command starts from exactly the old song or exactly the new one, and what it
    // left is cleared. That takes the disk to itself: while another program reads it, and on a
    // read-only disk, the song is read as its commit record says it is (CSong::read).
    const std::string folder = songFolderName(family_, number);
    if (check == kDiskWritable && showsInterruptedWrite(*disk_, folder) && lockForWriting()) {
        recoverInterruptedWrites(number);
        endWriting();
    }
    auto song = std::make_unique<CSong>(entry->second, family_);
    if (!song->read(*disk_)) {
        status_ = kStatusFailedReadSong;
        return false;
    }
    song_ = std::move(song);
    status_ = kStatusOk;
    return true;
}

bool CTrackConverter::refreshSongNumber(std::int64_t number) {
    if (number < 0 || number > 0xFFFF) {
        song_.reset();
        status_ = kStatusInvalidSongNumber;
        return false;
    }
    return refreshSong(static_cast<SongNumber>(number));
}

bool CTrackConverter::writeSong(int parts) {
    OperationLock operation(*this);
    if (!takeLock()) {
        status_ = kStatusCantWriteDisk;
        return false;
    }
    if (!lockForWriting()) {
        status_ = kStatusCantWriteDisk;
        return false;
    }
    recoverInterruptedWrites();
    const bool written = song_ && disk_ && song_->write(*disk_, parts);
    endWriting();
    if (!written) {
        status_ = kStatusFailedWriteSong;
        return false;
    }
    status_ = kStatusOk;
    return true;
}

bool CTrackConverter::lockForWriting() {
    lockProblem_.clear();
    if (!lock_) {
        return true;  // no disk open: the write fails on its own
    }
    return lock_->change(CDiskLock::Mode::exclusive, lockProblem_);
}

void CTrackConverter::recoverInterruptedWrites(std::optional<SongNumber> only) {
    if (!disk_ || !songList_) {
        return;
    }
    std::vector<std::string> folders;
    for (const auto& [number, entry] : *songList_) {
        if (!only || *only == number) {
            folders.push_back(songFolderName(family_, number));
        }
    }
    korvo::recoverInterruptedWrites(*disk_, folders);
}

void CTrackConverter::endOperation() {
    if (--operations_ == 0 && !holdWriteLock_) {
        lock_.reset();
    }
}

void CTrackConverter::endWriting() {
    if (lock_ && !holdWriteLock_) {
        std::string ignored;
        lock_->change(CDiskLock::Mode::shared, ignored);
    }
}

}  // namespace korvo
