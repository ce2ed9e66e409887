// The event list: the song's events are read, written out and read again (the second
// serialisation is a fixed point), looked up, renumbered, and a new take event is placed and the
// list written back through the song, as an import does.
#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>

#include "disk/DiskLayout.h"
#include "disk/EventTable.h"
#include "disk/Song.h"
#include "fuzz/Harnesses.h"
#include "fuzz/MemoryDiskFiles.h"

namespace korvo::fuzz {

namespace {

// Songs and tables are half a megabyte each; they are made once and reused, since reading starts
// every one afresh (a fresh allocation per input would cost more than the parsing).
CSong& reusedSong(int which, const SongListEntry& entry) {
    static std::unique_ptr<CSong> songs[2];
    if (!songs[which]) {
        songs[which] = std::make_unique<CSong>(entry, kFamilyKrv);
    }
    return *songs[which];
}

// Reads the bytes into the reused table; null when the table refuses them.
const CEventTable* tableFrom(const Bytes& bytes) {
    static const auto table = std::make_unique<CEventTable>();
    MemoryDiskFiles disk;
    disk.put("EVENTLS0.KRV", bytes);
    auto stream = disk.open("EVENTLS0.KRV", OpenMode::read);
    if (!stream || !table->read(*stream)) {
        return nullptr;
    }
    return table.get();
}

// The serialised list with the in-memory link fields of every record cleared: those name slot
// numbers, which depend on the order the slots were taken in.
Bytes withoutLinks(Bytes bytes) {
    std::size_t at = 0;
    for (int section = 0; section < 1 + kVirtualTracks; ++section) {
        KORVO_PROMISE(at + 2 <= bytes.size());
        const std::size_t count = std::size_t{bytes[at]} << 8 | bytes[at + 1];
        at += 2;
        for (std::size_t i = 0; i < count; ++i, at += kEventRecordBytes) {
            KORVO_PROMISE(at + kEventRecordBytes <= bytes.size());
            std::memset(bytes.data() + at + offsetof(EventRecord, previous), 0, 4);
        }
    }
    KORVO_PROMISE(at == bytes.size());
    return bytes;
}

// Every list's links reach exactly its count of distinct slots, in start order for chains.
void checkLinks(const CEventTable& table) {
    std::size_t used = table.history().count + table.freeList().count;
    for (int v = 0; v < kVirtualTracks; ++v) {
        const ListHeader& chain = table.chain(v);
        used += chain.count;
        std::uint16_t slot = chain.empty() ? kNoSlot : chain.head;
        std::uint32_t lastStart = 0;
        for (std::uint16_t i = 0; i < chain.count; ++i) {
            KORVO_PROMISE(slot < kEventCapacity);
            KORVO_PROMISE(table.slot(slot).start >= lastStart);
            lastStart = table.slot(slot).start;
            slot = table.slot(slot).next;
        }
        KORVO_PROMISE(slot == kNoSlot);
    }
    KORVO_PROMISE(used == kEventCapacity);
}

}  // namespace

int eventListHarness(const std::uint8_t* data, std::size_t size) {
    SongListEntry entry;
    entry.number = 0;
    std::memcpy(entry.name, "FUZZ", 4);
    entry.dataType = 2;
    MemoryDiskFiles disk;
    const std::string listPath = songFilePath(kFamilyKrv, 0, kEventListFileName);
    disk.put(listPath, data, size);

    CSong* song = &reusedSong(0, entry);
    if (!song->read(disk)) {
        return 0;
    }
    CEventTable& events = song->events();
    checkLinks(events);

    // What was read is written out unchanged but for the links, and reads back the same.
    const Bytes first = events.serialise();
    const CEventTable* second = tableFrom(first);
    KORVO_PROMISE(second != nullptr);
    KORVO_PROMISE(withoutLinks(second->serialise()) == withoutLinks(first));

    // Lookups with blocks the input gives.
    std::uint32_t block = 0;
    std::memcpy(&block, data, std::min<std::size_t>(size, sizeof block));
    for (int v = 0; v < kVirtualTracks; ++v) {
        (void)events.trackExtent(v);
        const std::uint16_t found = events.findAtOrBefore(v, block);
        KORVO_PROMISE(found == kNoSlot || events.slot(found).start <= block);
    }

    // An import onto a virtual track the input chooses.
    events.renumberHistoryGroupsAndIncrement();
    EventRecord take;
    take.start = block % 100000;
    take.end = take.start + 500;
    take.firstCluster = take.lastCluster = take.firstClusterAgain = take.lastClusterAgain = 2;
    take.clusterCount = 1;
    take.virtualTrack = static_cast<std::uint8_t>((size > 4 ? data[4] : 0) % kVirtualTracks);
    if (!song->placeEvent(take)) {
        return 0;
    }
    KORVO_PROMISE(song->used(take.virtualTrack) && events.chain(take.virtualTrack).count == 1);
    checkLinks(events);
    KORVO_PROMISE(song->write(disk, kEventListPart));

    CSong* reread = &reusedSong(1, entry);
    KORVO_PROMISE(reread->read(disk));
    KORVO_PROMISE(withoutLinks(reread->events().serialise()) == withoutLinks(events.serialise()));
    return 0;
}

}  // namespace korvo::fuzz
