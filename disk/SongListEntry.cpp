#include "disk/SongListEntry.h"

#include <cstring>

#include "wavefile/ByteOrder.h"

namespace korvo {

std::string SongListEntry::nameText() const {
    const void* zero = std::memchr(name, 0, sizeof name);
    const std::size_t length = zero ? static_cast<const char*>(zero) - name : sizeof name;
    return std::string(name, length);
}

SongListEntry decodeSongListEntry(const std::uint8_t* bytes) {
    namespace at = song_list_entry;
    SongListEntry entry;
    entry.unknown0 = readBigEndian16(bytes + at::kUnknown0);
    entry.unknown2 = readBigEndian16(bytes + at::kUnknown2);
    entry.number = readBigEndian16(bytes + at::kNumber);
    std::memcpy(entry.name, bytes + at::kName, sizeof entry.name);
    entry.flags = bytes[at::kFlags];
    entry.dataType = bytes[at::kDataType];
    return entry;
}

void encodeSongListEntry(const SongListEntry& entry, std::uint8_t* bytes) {
    namespace at = song_list_entry;
    writeBigEndian16(bytes + at::kUnknown0, entry.unknown0);
    writeBigEndian16(bytes + at::kUnknown2, entry.unknown2);
    writeBigEndian16(bytes + at::kNumber, entry.number);
    std::memcpy(bytes + at::kName, entry.name, sizeof entry.name);
    bytes[at::kFlags] = entry.flags;
    bytes[at::kDataType] = entry.dataType;
}

}  // namespace korvo
