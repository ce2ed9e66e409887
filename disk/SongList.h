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
#include "disk/SongListEntry.h"

namespace korvo {

inline constexpr int kSongListCapacity = 200;

// Ascending song number; a later entry with the same number replaces an earlier one.
using SongList = std::map<SongNumber, SongListEntry>;

// Reads the count and entries; false (and `list` empty) when the stream ends early.
bool readSongList(IDiskStream& stream, SongList& list);

// "  1: NAME" — the song number plus one right-aligned in three characters, ": ", the name.
std::string songListItemText(const SongListEntry& entry);

}  // namespace korvo
