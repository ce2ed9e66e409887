// Earlier takes: exporting a virtual track as an earlier operation left it, exporting a take
// file whole, and putting an earlier version back. The exports hand the ordinary export run a
// song whose chains hold just the events to play, so they share its reader, fades and polarity.

#include <algorithm>
#include <utility>

#include "convert/TrackConverter.h"
#include "disk/DiskLayout.h"
#include "disk/Status.h"
#include "disk/TakeFile.h"

namespace korvo {

std::optional<CSongHistory> CTrackConverter::history() {
    if (!song_ || !disk_) {
        return std::nullopt;
    }
    CSongHistory history(song_->events());
    history.checkTakes(*disk_, *song_);
    return history;
}

bool CTrackConverter::runExportOf(std::unique_ptr<CSong> view, BlockRange range) {
    // The loaded song steps aside for the run and comes back whatever the outcome.
    std::swap(song_, view);
    const BlockRange savedRange = range_;
    range_ = range;
    const bool done = runExport();
    range_ = savedRange;
    std::swap(song_, view);
    return done;
}

bool CTrackConverter::runGroupExport(std::uint16_t group, bool allowMissing) {
    const auto songHistory = history();
    const HistoryGroup* found = songHistory ? songHistory->group(group) : nullptr;
    if (!found || selected_.empty()) {
        status_ = kStatusFailedReadTrack;
        return false;
    }
    // A fresh table holding only the group's events of the selected virtual tracks.
    auto view = std::make_unique<CSong>(song_->entry(), song_->family());
    CEventTable& events = view->events();
    BlockRange range;
    for (const std::uint8_t track : selected_) {
        for (const HistoryEntry& entry : found->entries) {
            if (entry.isRange() || entry.record.virtualTrack != track) {
                continue;
            }
            EventRecord event = entry.record;
            if (!entry.playable()) {
                if (!allowMissing) {
                    status_ = kStatusFailedReadTrack;
                    return false;
                }
                event.firstCluster = 0;  // plays silence; the range still reaches its end
            }
            if (entry.record.firstCluster != 0) {
                range.end = std::max(range.end, event.end);
            }
            const std::uint16_t slot = events.takeFreeSlot();
            if (slot == kNoSlot) {
                status_ = kStatusFailedReadTrack;
                return false;
            }
            events.slot(slot) = event;
            // Inserted in list order: equal starts keep their order, as in the chain then.
            events.insertByStart(track, slot);
        }
    }
    return runExportOf(std::move(view), range);
}

bool CTrackConverter::runTakeExport(std::uint16_t take) {
    if (!song_ || !disk_) {
        status_ = kStatusFailedReadTrack;
        return false;
    }
    const auto geometry = TakeGeometry::of(song_->family(), song_->blockWidth());
    auto stream = disk_->open(song_->path(takeFileName(take)), OpenMode::read);
    const auto bytes = stream ? stream->size() : std::nullopt;
    stream.reset();
    const std::uint32_t blocks = geometry && bytes
                                     ? takeBlocks(*bytes, geometry->clusterBytes,
                                                  geometry->blockBytes, geometry->blocksPerCluster)
                                     : 0;
    if (blocks == 0) {
        status_ = kStatusFailedReadTrack;
        return false;
    }
    auto view = std::make_unique<CSong>(song_->entry(), song_->family());
    EventRecord event;
    event.start = 0;
    event.end = blocks;
    event.firstCluster = take;
    event.lastCluster = take;
    event.virtualTrack = 0;
    const std::uint16_t slot = view->events().takeFreeSlot();
    view->events().slot(slot) = event;
    view->events().insertByStart(0, slot);

    const std::vector<std::uint8_t> savedSelection = std::exchange(selected_, {0});
    const bool done = runExportOf(std::move(view), {0, blocks});
    selected_ = savedSelection;
    return done;
}

bool CTrackConverter::restoreGroup(int virtualTrack, std::uint16_t group) {
    const int check = checkDisk();
    if (check != kDiskWritable) {
        status_ = check;
        return false;
    }
    if (!song_ || virtualTrack < 0 || virtualTrack >= kVirtualTracks) {
        status_ = kStatusFailedReadSong;
        return false;
    }
    if (song_->isProtected()) {
        status_ = kStatusSongProtected;
        return false;
    }
    const auto songHistory = history();
    const HistoryGroup* found = songHistory ? songHistory->group(group) : nullptr;
    const std::vector<EventRecord> events =
        found ? found->takeEvents(virtualTrack) : std::vector<EventRecord>{};
    // Only whole versions come back: an event whose take is gone would play silence.
    if (events.empty() || !found->unplayable(virtualTrack).empty()) {
        status_ = kStatusFailedReadTrack;
        return false;
    }
    const auto backup = std::make_unique<CSong>(*song_);
    song_->events().renumberHistoryGroupsAndIncrement();
    if (!song_->events().placeEvents(events)) {
        *song_ = *backup;
        status_ = kStatusEventFull;
        return false;
    }
    song_->updateUsedFlags();
    if (!writeSong(kSongFilePart | kEventListPart)) {
        *song_ = *backup;
        return false;
    }
    return true;
}

}  // namespace korvo
