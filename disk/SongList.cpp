#include "disk/SongList.h"

#include <cstdio>
#include <cstring>

#include "wavefile/ByteOrder.h"

namespace korvo {

bool readSongList(IDiskStream& stream, SongList& list) {
    list.clear();
    std::uint8_t countBytes[2];
    if (!stream.read(countBytes, sizeof countBytes)) {
        return false;
    }
    int count = readBigEndian16(countBytes);
    if (count > kSongListCapacity) {
        count = kSongListCapacity;  // the entries beyond the capacity are not read
    }
    for (int i = 0; i < count; ++i) {
        std::uint8_t bytes[kSongListEntryBytes];
        if (!stream.read(bytes, sizeof bytes)) {
            list.clear();
            return false;
        }
        SongListEntry entry = decodeSongListEntry(bytes);
        list[entry.number] = entry;  // the last entry with a number wins
    }
    if (!stream.good()) {
        list.clear();
        return false;
    }
    return true;
}

std::string songListItemText(const SongListEntry& entry) {
    char number[8];
    std::snprintf(number, sizeof number, "%3u", static_cast<unsigned>(entry.number) + 1);
    return std::string(number) + ": " + entry.nameText();
}

}  // namespace korvo
