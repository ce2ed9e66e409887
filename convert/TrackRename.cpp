// Renaming a virtual track in place: the one set of rename rules the window and the command
// line share.

#include "convert/TrackConverter.h"
#include "convert/TrackNames.h"
#include "disk/Status.h"

namespace korvo {

namespace {

// A stored name up to its first zero byte, as the recorder shows it.
std::string shownName(const std::string& stored) {
    return stored.substr(0, stored.find('\0'));
}

}  // namespace

CTrackConverter::RenameResult CTrackConverter::renameTrack(int virtualTrack,
                                                           const std::string& name) {
    if (!song_ || virtualTrack < 0 || virtualTrack >= kVirtualTracks) {
        status_ = kStatusInvalidSongNumber;
        return RenameResult::failed;
    }
    if (song_->isProtected()) {
        status_ = kStatusSongProtected;
        return RenameResult::failed;
    }
    if (!isRecorderDisplayable(name)) {
        return RenameResult::undisplayable;
    }
    const std::string cut = name.substr(0, kTrackNameLength);
    const std::string old = song_->name(virtualTrack);
    if (cut == shownName(old)) {
        status_ = kStatusOk;
        return RenameResult::unchanged;
    }
    song_->setName(virtualTrack, cut);
    if (!writeSong(kSongFilePart)) {
        song_->setName(virtualTrack, old);
        return RenameResult::failed;
    }
    return RenameResult::renamed;
}

}  // namespace korvo
