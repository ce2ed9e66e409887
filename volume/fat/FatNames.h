#pragma once
// Name rules of FAT directories: which names are stored as a plain 8.3 entry, the ~N short name
// generated for a long name, the long-name slots that carry it, and name comparison.
//
// Recorder files (TAKE0002.KRV, EVENTLS0.KRV, SONG.QMT ...) are plain 8.3 names and get a single
// slot; a name such as TAKEXXXX.KRV.TMP05 is not 8.3 and is stored as long-name slots followed by
// a generated short name (TAKEXX~1.TMP).

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "volume/fat/FatLayout.h"

namespace korvo::fat {

using ShortName = std::array<std::uint8_t, 11>;  // 8 + 3, space padded, as in the entry

// The 8.3 slot name of a name that fits 8.3 as it stands (1-8 characters, optionally a dot and
// 1-3 characters, from the characters an 8.3 name may hold), upper-cased. Nullopt otherwise.
std::optional<ShortName> plainShortName(std::string_view name);

// True when the name may be stored at all: 1 to 255 characters, no control characters, none of
// " * / : < > ? \ |, not "." or "..", and not ending in a dot or space.
bool isStorableName(std::string_view name);

// A short name for a long one in the usual ~N form ("TAKEXXXX.KRV.TMP05" gives TAKEXX~1.TMP,
// then ~2 ...); `taken` answers whether a candidate is already used in the folder. Nullopt when
// every candidate up to ~999999 is taken.
std::optional<ShortName> generateShortName(std::string_view longName,
                                           const std::function<bool(const ShortName&)>& taken);

// The checksum long-name slots carry of the 8.3 name they belong to.
std::uint8_t longNameChecksum(const std::uint8_t* name11);

// Long-name slots for a name, in the order they are stored (the last part first, marked with
// kLongNameLast). Nullopt when the name is not valid UTF-8 or too long.
std::optional<std::vector<LongNameEntry>> makeLongNameSlots(std::string_view name,
                                                            const ShortName& shortName);

// UTF-16 code units to UTF-8 (unpaired surrogates become U+FFFD).
std::string utf16ToUtf8(const std::vector<std::uint16_t>& units);

// Compares two names without regard to ASCII case.
bool sameName(std::string_view a, std::string_view b);

}  // namespace korvo::fat
