#pragma once
// The song list file in the disk's root ("SONGLIST.QMT" or "SONGLIST.KRV"): every song's
// number, name, sample rate, protect flag and data type. Read only; never written.
//
//   offset 0   u16 count N (at most 200 are read)
//   offset 2   N entries of 20 bytes (SongListEntry), big-endian

#include <cstdint>
#include <map>
#include <string>

#include "disk/DiskFiles.h"
#include "disk/DiskTypes.h"

namespace korvo {

struct SongListEntry {
    std::uint16_t unknown0 = 0;  // carried along unchanged
    std::uint16_t unknown2 = 0;  // carried along unchanged
    SongNumber number = 0;
    char name[12] = {};  // no terminator required
    std::uint8_t flags = 0;     // bit 6 protect, other bits the sample-rate code
    std::uint8_t dataType = 0;  // 0, 1 "MT2", 2 "LV1", 4 "LV2"

    std::uint32_t sampleRate() const { return sampleRateOfFlags(flags); }
    bool isProtected() const { return (flags & kProtectFlag) != 0; }
    int blockWidth() const { return blockWidthOfDataType(dataType); }
    // The 12 name bytes up to the first zero byte.
    std::string nameText() const;
};

inline constexpr int kSongListCapacity = 200;
inline constexpr std::size_t kSongListEntryBytes = 20;

// Ascending song number; a later entry with the same number replaces an earlier one.
using SongList = std::map<SongNumber, SongListEntry>;

// Reads the count and entries; false (and `list` empty) when the stream ends early.
bool readSongList(IDiskStream& stream, SongList& list);

// "  1: NAME" — the song number plus one right-aligned in three characters, ": ", the name.
std::string songListItemText(const SongListEntry& entry);

}  // namespace korvo
