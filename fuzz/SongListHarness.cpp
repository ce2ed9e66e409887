// The song list file: the disk check recognises the disk, then the list is read and every entry
// shown as the song list shows it.
#include "disk/DiskLayout.h"
#include "disk/SongList.h"
#include "fuzz/Harnesses.h"
#include "fuzz/MemoryDiskFiles.h"

namespace korvo::fuzz {

int songListHarness(const std::uint8_t* data, std::size_t size) {
    MemoryDiskFiles disk;
    disk.put("SYSTEM.KRV", Bytes(16, 0));
    disk.put("SONGLIST.KRV", data, size);
    DiskFamily family = kFamilyNone;
    KORVO_PROMISE(checkDisk(disk, family) == kDiskWritable && family == kFamilyKrv);

    auto stream = disk.open(songListFileName(family), OpenMode::read);
    KORVO_PROMISE(stream != nullptr);
    SongList list;
    list[0xFFFF] = SongListEntry{};
    if (!readSongList(*stream, list)) {
        KORVO_PROMISE(list.empty());
        return 0;
    }
    KORVO_PROMISE(list.size() <= static_cast<std::size_t>(kSongListCapacity));
    KORVO_PROMISE(size >= 2 + list.size() * kSongListEntryBytes);
    for (const auto& [number, entry] : list) {
        KORVO_PROMISE(number == entry.number);
        KORVO_PROMISE(entry.nameText().size() <= sizeof entry.name);
        const std::string item = songListItemText(entry);
        KORVO_PROMISE(item.size() >= 5 && item.size() <= 7 + sizeof entry.name);
        (void)entry.sampleRate();
        (void)dataTypeNameOfWidth(entry.blockWidth());
        (void)songFolderName(family, number);
    }
    return 0;
}

}  // namespace korvo::fuzz
