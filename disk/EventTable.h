#pragma once
// A song's events in memory: a fixed table of 10000 slots of 48 bytes, linked by slot number
// into a free list, a history list and one chain per virtual track (ordered by start block).
// The table is a plain array inside the song object, so loading, copying and placing events
// allocate nothing per event.
//
// Event list file "EVENTLS0.KRV": 65 sections (history list, then the chains of virtual tracks
// 0..63), each a u16 count followed by that many 48-byte records.

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "disk/DiskFiles.h"
#include "disk/DiskTypes.h"
#include "disk/EventRecord.h"

namespace korvo {

struct ListHeader {
    std::uint16_t head = kNoSlot;
    std::uint16_t tail = kNoSlot;
    std::uint16_t count = 0;
    bool empty() const { return head == kNoSlot || tail == kNoSlot || count == 0; }
};

inline constexpr std::uint16_t kEventCapacity = 10000;

class CEventTable {
public:
    CEventTable() { initialise(); }

    // Every list empty, all slots free in ascending order, slot names "no name-xxxx".
    void initialise();

    // Reads the 65 sections. False when the stream ends early or more valid records come than
    // there are free slots.
    bool read(IDiskStream& stream);
    // The whole file's bytes, section by section, as write would put them.
    std::vector<std::uint8_t> serialise() const;

    std::uint16_t takeFreeSlot();  // kNoSlot when none is left
    void releaseSlot(std::uint16_t slot);
    void appendToHistory(std::uint16_t slot);
    void insertByStart(int virtualTrack, std::uint16_t slot);
    // The last event of the chain whose start is at or before block; kNoSlot if none.
    std::uint16_t findAtOrBefore(int virtualTrack, std::uint32_t block) const;
    bool unlink(int virtualTrack, std::uint16_t slot);
    // Smallest start and largest end of the chain's events that have audio; {0, 0} if none.
    BlockRange trackExtent(int virtualTrack) const;
    // Groups of the history list numbered 1, 2, 3 ... in list order; the counter then goes up
    // by one more, the group number of everything the next import adds.
    void renumberHistoryGroupsAndIncrement();
    // Puts a new take event on the virtual track of record byte 32; false when a free slot is
    // missing part-way (the caller restores its backup of the song).
    bool placeEvent(const EventRecord& event);
    // The same for several take events of one virtual track at once (bringing back what an
    // earlier operation had placed): one range record over the old and new extents, a copy of
    // each event in the history, then the chain holds exactly these events.
    bool placeEvents(std::span<const EventRecord> events);

    const EventRecord& slot(std::uint16_t index) const { return slots_[index]; }
    EventRecord& slot(std::uint16_t index) { return slots_[index]; }
    const ListHeader& freeList() const { return free_; }
    const ListHeader& history() const { return history_; }
    const ListHeader& chain(int virtualTrack) const { return chains_[virtualTrack]; }
    std::uint16_t groupCounter() const { return groupCounter_; }
    std::uint16_t capacity() const { return capacity_; }

private:
    void appendTo(ListHeader& list, std::uint16_t slot);

    std::array<EventRecord, kEventCapacity> slots_;
    ListHeader free_;
    ListHeader history_;
    std::array<ListHeader, kVirtualTracks> chains_;
    std::uint16_t groupCounter_ = 0;
    std::uint16_t capacity_ = kEventCapacity;
};

}  // namespace korvo
