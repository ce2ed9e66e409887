#pragma once
// What a song's event list remembers of earlier operations, and which of their takes the disk
// still keeps.
//
// Every import or recording appends to the history list its range record (the span of the
// virtual track it replaced) and a copy of each take event it placed, all with one group
// number. A group is a run of records with the same stored number; groups are counted 1, 2,
// 3 ... in list order, as the next renumbering would number them. The take files of replaced
// events stay in the song folder, so an earlier version of a virtual track can be exported or
// put back as long as its takes are there and long enough.
//
//   CSongHistory history(song.events());
//   history.checkTakes(disk, song);
//   for (const HistoryGroup& group : history.groups()) { ... group.takeEvents(v) ... }

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "disk/DiskFiles.h"
#include "disk/EventTable.h"

namespace korvo {

class CSong;

// Whether the disk keeps what a take event plays.
enum class TakeState {
    noAudio,    // a range record, or an event without a take (first cluster 0)
    unchecked,  // not looked at yet
    present,    // the take file is there and long enough
    missing,    // no take file of that number
    tooShort,   // the file (or its cluster chain) ends before the event's last block
};

struct HistoryEntry {
    std::uint16_t slot = kNoSlot;
    EventRecord record;
    TakeState take = TakeState::noAudio;

    bool isRange() const { return record.historyRange != 0; }
    bool hasTake() const { return !isRange() && record.firstCluster != 0; }
    // A take event that can be played: present, or silent by nature (no take).
    bool playable() const { return !hasTake() || take == TakeState::present; }
};

struct HistoryGroup {
    std::uint16_t number = 0;           // 1, 2, 3 ... in list order
    std::vector<HistoryEntry> entries;  // in list order

    // The group's take events of a virtual track, ordered by start as a chain holds them.
    std::vector<EventRecord> takeEvents(int virtualTrack) const;
    bool touches(int virtualTrack) const;
    // True when the virtual track's chain plays exactly this group's take events (the same
    // blocks of the same takes).
    bool isCurrent(const CEventTable& events, int virtualTrack) const;
    // The virtual track's take events whose take is missing or short.
    std::vector<const HistoryEntry*> unplayable(int virtualTrack) const;
};

class CSongHistory {
public:
    explicit CSongHistory(const CEventTable& events);

    const std::vector<HistoryGroup>& groups() const { return groups_; }
    const HistoryGroup* group(std::uint16_t number) const;

    // Looks at every take the history refers to: its file size and, when the recorder volume
    // can be read, its cluster chain.
    void checkTakes(IDiskFiles& disk, const CSong& song);

private:
    std::vector<HistoryGroup> groups_;
};

// Blocks a take file of that many bytes holds (the last cluster ends after its last block).
std::uint32_t takeBlocks(std::uint64_t fileBytes, std::uint32_t clusterBytes,
                         std::uint32_t blockBytes, std::uint32_t blocksPerCluster);

// What the disk keeps of one take for an event playing `blocks` blocks from `offset`.
TakeState takeState(IDiskFiles& disk, const CSong& song, std::uint16_t take, std::uint32_t offset,
                    std::uint32_t blocks, bool readChain);

// A take given as its number ("01A3") or its file name ("TAKE01A3.KRV"), any case.
std::optional<std::uint16_t> parseTakeName(std::string_view text);
// "01A3"
std::string takeNumberText(std::uint16_t take);

struct OrphanTake {
    std::uint16_t take = 0;
    std::string fileName;  // as the disk stores it
    std::uint64_t bytes = 0;
};
// Take files in the song folder that neither a chain nor the history refers to; nullopt when
// the folder cannot be listed.
std::optional<std::vector<OrphanTake>> orphanTakes(IDiskFiles& disk, const CSong& song);

}  // namespace korvo
