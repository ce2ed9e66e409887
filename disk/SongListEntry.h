#pragma once
// One 20-byte entry of the song list file: the same fields in the file (big-endian) and in
// memory (host order). The song list itself (disk/SongList.h) is a count and these entries.

#include <cstddef>
#include <cstdint>
#include <string>

#include "disk/DiskTypes.h"

namespace korvo {

struct SongListEntry {
    std::uint16_t unknown0 = 0;  //  0: carried along unchanged
    std::uint16_t unknown2 = 0;  //  2: carried along unchanged
    SongNumber number = 0;       //  4
    char name[12] = {};          //  6: no terminator required
    std::uint8_t flags = 0;      // 18: bit 6 protect, other bits the sample-rate code
    std::uint8_t dataType = 0;   // 19: 0, 1 "MT2", 2 "LV1", 4 "LV2"

    std::uint32_t sampleRate() const { return sampleRateOfFlags(flags); }
    bool isProtected() const { return (flags & kProtectFlag) != 0; }
    int blockWidth() const { return blockWidthOfDataType(dataType); }
    // The 12 name bytes up to the first zero byte.
    std::string nameText() const;
};

inline constexpr std::size_t kSongListEntryBytes = 20;

// Where each field lies in the file's 20 bytes.
namespace song_list_entry {
inline constexpr std::size_t kUnknown0 = 0;
inline constexpr std::size_t kUnknown2 = 2;
inline constexpr std::size_t kNumber = 4;
inline constexpr std::size_t kName = 6;
inline constexpr std::size_t kFlags = 18;
inline constexpr std::size_t kDataType = 19;
static_assert(kDataType + 1 == kSongListEntryBytes);
}  // namespace song_list_entry

// Big-endian file bytes <-> entry.
SongListEntry decodeSongListEntry(const std::uint8_t* bytes);
void encodeSongListEntry(const SongListEntry& entry, std::uint8_t* bytes);

}  // namespace korvo
