#pragma once
// One loaded song: its song list entry, the names and used flags of its 64 virtual tracks and
// its event table. Export reads it, import changes it and writes it back, renaming a virtual
// track changes one name and writes the song file.
//
// Song file (QMT family only) "SONGnnnn.QMT/SONG.QMT": of its first 1600 bytes, the 9 bytes at
// 368 + 16 v are the name of virtual track v; everything else is preserved. The KRV and QMS
// families keep no names: virtual track v is called "T - V".

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "disk/DiskFiles.h"
#include "disk/DiskTypes.h"
#include "disk/EventTable.h"
#include "disk/SongCommit.h"
#include "disk/SongList.h"

namespace korvo {

// Parts of write(): the song file (names) and the event list.
inline constexpr int kSongFilePart = 1;
inline constexpr int kEventListPart = 2;

class CSong {
public:
    // An empty song: names empty, used flags 0, event table initialised.
    CSong(const SongListEntry& entry, DiskFamily family);

    // Names, event lists and used flags from the disk; false when anything is missing or short.
    // A complete commit record in the song folder (SongCommit.h) is read as the song it
    // commits, so that even a read-only disk shows the song its last write made.
    bool read(IDiskFiles& disk);
    // Writes the parts in one commit (SongCommit.h): afterwards the disk holds either all of
    // them or none, whatever interrupts the write. False, writing nothing, for a protected song.
    bool write(IDiskFiles& disk, int parts) const;
    // The same, giving an import's new takes their final names in the same commit. `committed`
    // tells whether the commit point was passed (the takes then belong to the song on the disk
    // even when the write reports failure).
    bool write(IDiskFiles& disk, int parts, const std::vector<TakeRename>& takes,
               bool& committed) const;

    const SongListEntry& entry() const { return entry_; }
    SongNumber number() const { return entry_.number; }
    DiskFamily family() const { return family_; }
    std::uint32_t sampleRate() const { return entry_.sampleRate(); }
    int blockWidth() const { return entry_.blockWidth(); }
    const char* dataTypeName() const { return dataTypeNameOfWidth(blockWidth()); }
    bool isProtected() const { return entry_.isProtected(); }

    const std::string& name(int virtualTrack) const { return names_[virtualTrack]; }
    void setName(int virtualTrack, std::string name) { names_[virtualTrack] = std::move(name); }
    bool used(int virtualTrack) const { return used_[virtualTrack] != 0; }

    CEventTable& events() { return events_; }
    const CEventTable& events() const { return events_; }
    // Recomputes the used flags from the chains (after events were placed).
    void updateUsedFlags();
    // Places a new take event (CEventTable::placeEvent) and sets its virtual track's used flag.
    bool placeEvent(const EventRecord& event);

    // "SONG0001.KRV/" + fileName
    std::string path(const std::string& fileName) const;
    // "SONG0001.KRV"
    std::string folder() const;

private:
    void namesFromSongFile(const std::uint8_t* bytes);
    // The song file's first bytes with this song's names in their slots.
    bool songFileBytes(IDiskFiles& disk, std::vector<std::uint8_t>& bytes) const;

    SongListEntry entry_;
    DiskFamily family_;
    std::array<std::uint8_t, kVirtualTracks> used_{};
    std::array<std::string, kVirtualTracks> names_;
    CEventTable events_;
};

}  // namespace korvo
