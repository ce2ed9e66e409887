#include <gtest/gtest.h>

#include <cstring>

#include "disk/DiskLayout.h"
#include "volume/FolderDiskFiles.h"
#include "disk/SongList.h"
#include "tests/support/DiskFixture.h"

namespace korvo {
namespace {

using test::DiskFixture;
using test::songEntry;

// Reads the song list of a KRV-family fixture whose list file holds `bytes`.
bool readList(const test::Bytes& bytes, SongList& list) {
    DiskFixture disk(kFamilyKrv);
    disk.writeFile("SONGLIST.KRV", bytes);
    CFolderDiskFiles files(disk.root(), {});
    auto stream = files.open(songListFileName(kFamilyKrv), OpenMode::read);
    return stream && readSongList(*stream, list);
}

TEST(SongList, EmptyListReadsAsNoSongs) {
    SongList list;
    list[3] = songEntry(3, "STALE");
    ASSERT_TRUE(readList(test::songListBytes({}), list));
    EXPECT_TRUE(list.empty());
}

TEST(SongList, EntriesAreKeptFieldForFieldInAscendingSongNumber) {
    SongListEntry last = songEntry(7, "ABCDEFGHIJKL", 0x41, test::kDataTypeMt2);
    last.unknown0 = 0xFEDC;
    last.unknown2 = 0x0102;
    SongList list;
    ASSERT_TRUE(readList(test::songListBytes({last, songEntry(2, "B"), songEntry(0, "A")}), list));
    ASSERT_EQ(list.size(), 3u);
    std::vector<SongNumber> order;
    for (const auto& [number, entry] : list) {
        order.push_back(number);
    }
    EXPECT_EQ(order, (std::vector<SongNumber>{0, 2, 7}));
    const SongListEntry& read = list.at(7);
    EXPECT_EQ(read.unknown0, 0xFEDC);
    EXPECT_EQ(read.unknown2, 0x0102);
    EXPECT_EQ(read.nameText(), "ABCDEFGHIJKL");  // all 12 bytes, no terminator
    EXPECT_EQ(read.sampleRate(), 44100u);
    EXPECT_TRUE(read.isProtected());
    EXPECT_EQ(read.blockWidth(), 6);
}

TEST(SongList, ALaterEntryWithTheSameNumberWins) {
    SongList list;
    ASSERT_TRUE(readList(
        test::songListBytes({songEntry(4, "FIRST", test::kRate48000),
                             songEntry(4, "SECOND", test::kRate32000, test::kDataTypeLv2)}),
        list));
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list.at(4).nameText(), "SECOND");
    EXPECT_EQ(list.at(4).sampleRate(), 32000u);
    EXPECT_EQ(list.at(4).blockWidth(), 4);
}

TEST(SongList, OnlyTheFirst200EntriesAreRead) {
    std::vector<SongListEntry> entries;
    for (int i = 0; i < 250; ++i) {
        entries.push_back(songEntry(static_cast<SongNumber>(1000 - i), "S"));
    }
    SongList list;
    ASSERT_TRUE(readList(test::songListBytes(entries), list));
    ASSERT_EQ(list.size(), 200u);
    EXPECT_EQ(list.begin()->first, 801);
    EXPECT_EQ(list.rbegin()->first, 1000);
}

TEST(SongList, AListShorterThanItsCountFailsAndKeepsNoEntries) {
    std::vector<SongListEntry> four = {songEntry(0, "A"), songEntry(1, "B"), songEntry(2, "C"),
                                       songEntry(3, "D")};
    for (std::uint16_t count : {std::uint16_t{5}, std::uint16_t{65535}}) {
        SongList list;
        EXPECT_FALSE(readList(test::songListBytes(four, count), list)) << count;
        EXPECT_TRUE(list.empty());
    }
    // Cut anywhere: inside the count, or inside any field of an entry.
    test::Bytes whole = test::songListBytes({songEntry(0, "A"), songEntry(1, "B")});
    for (std::size_t length = 0; length < whole.size(); ++length) {
        SongList list;
        EXPECT_FALSE(readList(test::Bytes(whole.begin(), whole.begin() + length), list)) << length;
        EXPECT_TRUE(list.empty());
    }
    // Bytes after the last entry are ignored.
    whole.resize(whole.size() + 7, 0xEE);
    SongList list;
    EXPECT_TRUE(readList(whole, list));
    EXPECT_EQ(list.size(), 2u);
}

TEST(SongList, ItemTextShowsTheNumberPlusOneAndTheNameUpToItsFirstZero) {
    SongListEntry entry = songEntry(0, "DEMO");
    EXPECT_EQ(songListItemText(entry), "  1: DEMO");
    std::memcpy(entry.name, "AB\0CDEFGHIJK", 12);
    entry.number = 122;
    EXPECT_EQ(songListItemText(entry), "123: AB");
}

TEST(SongList, FlagsGiveTheSampleRateAndTheProtectFlag) {
    EXPECT_EQ(songEntry(0, "", 0x41).sampleRate(), 44100u);
    EXPECT_TRUE(songEntry(0, "", 0x41).isProtected());
    EXPECT_EQ(songEntry(0, "", 0x81).sampleRate(), 0u);
    EXPECT_FALSE(songEntry(0, "", 0x81).isProtected());
    EXPECT_EQ(songEntry(0, "", 0x42).sampleRate(), 32000u);
    EXPECT_EQ(songEntry(0, "", 0x00).sampleRate(), 48000u);
    EXPECT_EQ(songEntry(0, "", 0, 3).blockWidth(), 0);
}

}  // namespace
}  // namespace korvo
