// The song file of the QMT family: the song is read (names from the song file), two virtual
// tracks are renamed and the song file written back; only the renamed name slots may change.
#include <cstring>
#include <memory>
#include <string>

#include "disk/DiskLayout.h"
#include "disk/Song.h"
#include "disk/SongFileLayout.h"
#include "fuzz/Harnesses.h"
#include "fuzz/MemoryDiskFiles.h"

namespace korvo::fuzz {

namespace {

// A song holds half a megabyte of event table; it is made once and reused, since reading starts
// it afresh.
CSong& reusedSong(int which, const SongListEntry& entry) {
    static std::unique_ptr<CSong> songs[2];
    if (!songs[which]) {
        songs[which] = std::make_unique<CSong>(entry, kFamilyQmt);
    }
    return *songs[which];
}

}  // namespace

int songFileHarness(const std::uint8_t* data, std::size_t size) {
    SongListEntry entry;
    entry.number = 0;
    std::memcpy(entry.name, "FUZZ", 4);
    MemoryDiskFiles disk;
    const std::string songFile = songFilePath(kFamilyQmt, 0, kQmtSongFileName);
    disk.put(songFile, data, size);
    disk.put(songFilePath(kFamilyQmt, 0, kEventListFileName), Bytes(2 * (1 + kVirtualTracks), 0));

    CSong& song = reusedSong(0, entry);
    if (!song.read(disk)) {
        KORVO_PROMISE(size < kSongFileBytes);
        return 0;
    }
    KORVO_PROMISE(size >= kSongFileBytes);
    for (int v = 0; v < kVirtualTracks; ++v) {
        KORVO_PROMISE(song.name(v).size() <= kSongFileNameBytes);
        KORVO_PROMISE(!song.used(v));
    }

    // A short name and one longer than a slot, on tracks the input chooses.
    const int shortTrack = data[0] % kVirtualTracks;
    const int longTrack = data[1] % kVirtualTracks;
    const std::string longName(12, static_cast<char>('A' + data[2] % 26));
    song.setName(shortTrack, "KICK");
    song.setName(longTrack, longName);
    KORVO_PROMISE(song.write(disk, kSongFilePart));

    const Bytes* written = disk.file(songFile);
    KORVO_PROMISE(written != nullptr && written->size() == size);
    for (std::size_t i = 0; i < size; ++i) {
        const bool inRenamedSlot =
            i < kSongFileBytes && i >= kSongFileNamesOffset &&
            i < songFileNameOffset(kVirtualTracks) &&
            (i - kSongFileNamesOffset) % kSongFileNameSlotBytes < kSongFileNameBytes &&
            ((i - kSongFileNamesOffset) / kSongFileNameSlotBytes ==
                 static_cast<std::size_t>(shortTrack) ||
             (i - kSongFileNamesOffset) / kSongFileNameSlotBytes ==
                 static_cast<std::size_t>(longTrack));
        KORVO_PROMISE(inRenamedSlot || (*written)[i] == data[i]);
    }

    CSong& again = reusedSong(1, entry);
    KORVO_PROMISE(again.read(disk));
    for (int v = 0; v < kVirtualTracks; ++v) {
        if (v == longTrack) {
            KORVO_PROMISE(again.name(v) == longName.substr(0, kSongFileNameBytes));
        } else if (v == shortTrack) {
            KORVO_PROMISE(again.name(v) == "KICK");
        } else {
            KORVO_PROMISE(again.name(v) == song.name(v));
        }
    }
    return 0;
}

}  // namespace korvo::fuzz
