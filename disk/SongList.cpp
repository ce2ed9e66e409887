#include "disk/SongList.h"

#include <cstdio>
#include <cstring>

#include "disk/BigEndian.h"

namespace korvo {

namespace {

// Where the fields of one 20-byte entry lie in the file.
constexpr std::size_t kEntryUnknown0 = 0;
constexpr std::size_t kEntryUnknown2 = 2;
constexpr std::size_t kEntryNumber = 4;
constexpr std::size_t kEntryName = 6;
constexpr std::size_t kEntryFlags = 18;
constexpr std::size_t kEntryDataType = 19;
static_assert(kEntryDataType + 1 == kSongListEntryBytes);

SongListEntry decodeEntry(const std::uint8_t* bytes) {
    SongListEntry entry;
    entry.unknown0 = readBigEndian16(bytes + kEntryUnknown0);
    entry.unknown2 = readBigEndian16(bytes + kEntryUnknown2);
    entry.number = readBigEndian16(bytes + kEntryNumber);
    std::memcpy(entry.name, bytes + kEntryName, sizeof entry.name);
    entry.flags = bytes[kEntryFlags];
    entry.dataType = bytes[kEntryDataType];
    return entry;
}

}  // namespace

std::string SongListEntry::nameText() const {
    const void* zero = std::memchr(name, 0, sizeof name);
    std::size_t length = zero ? static_cast<const char*>(zero) - name : sizeof name;
    return std::string(name, length);
}

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
        SongListEntry entry = decodeEntry(bytes);
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
