#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "volume/FolderDiskFiles.h"
#include "disk/Song.h"
#include "tests/support/DiskFixture.h"

namespace korvo {
namespace {

using test::DiskFixture;
using test::songEntry;

std::unique_ptr<CSong> loadSong(DiskFixture& disk, const SongListEntry& entry) {
    CFolderDiskFiles files(disk.root(), {});
    auto song = std::make_unique<CSong>(entry, disk.family());
    return song->read(files) ? std::move(song) : nullptr;
}

std::array<std::string, kVirtualTracks> qmtNames() {
    std::array<std::string, kVirtualTracks> names;
    for (int v = 0; v < kVirtualTracks; ++v) {
        names[v] = "TRK" + std::to_string(v);
    }
    names[7] = "NINECHARS";
    return names;
}

TEST(Song, KrvAndQmsFamiliesNameVirtualTracksByTrackAndVTrack) {
    for (DiskFamily family : {kFamilyKrv, kFamilyQms}) {
        DiskFixture disk(family);
        SongListEntry entry = songEntry(0, "S");
        disk.addSong(entry);
        auto song = loadSong(disk, entry);
        ASSERT_TRUE(song);
        EXPECT_EQ(song->name(0), "1 - 1");
        EXPECT_EQ(song->name(10), "2 - 3");
        EXPECT_EQ(song->name(63), "8 - 8");
    }
}

TEST(Song, QmtNamesComeFromTheSongFile) {
    DiskFixture disk(kFamilyQmt);
    SongListEntry entry = songEntry(3, "S");
    disk.addSong(entry);
    disk.setTrackNames(3, qmtNames());
    auto song = loadSong(disk, entry);
    ASSERT_TRUE(song);
    EXPECT_EQ(song->name(0), "TRK0");
    EXPECT_EQ(song->name(63), "TRK63");
    EXPECT_EQ(song->name(7), "NINECHARS");
}

TEST(Song, RenamingKeepsEveryOtherByteOfTheSongFile) {
    DiskFixture disk(kFamilyQmt);
    SongListEntry entry = songEntry(0, "S");
    disk.addSong(entry);
    test::Bytes original = test::songFileBytes(qmtNames(), 1700);
    original[368 + 16 * 20 + 6] = 0x5A;  // a byte after the zero that ends a name
    disk.writeFile(disk.songPath(0, "SONG.QMT"), original);
    auto song = loadSong(disk, entry);
    ASSERT_TRUE(song);

    song->setName(5, "ABCDE");
    CFolderDiskFiles files(disk.root(), {});
    ASSERT_TRUE(song->write(files, kSongFilePart));

    test::Bytes expected = original;
    const std::uint8_t slot[9] = {'A', 'B', 'C', 'D', 'E', 0, 0, 0, 0};
    std::copy(slot, slot + 9, expected.begin() + 368 + 16 * 5);
    EXPECT_EQ(disk.readFile(disk.songPath(0, "SONG.QMT")), expected);
}

TEST(Song, AShortQmtSongFileFailsTheLoad) {
    DiskFixture disk(kFamilyQmt);
    SongListEntry entry = songEntry(0, "S");
    disk.addSong(entry);
    disk.writeFile(disk.songPath(0, "SONG.QMT"), test::songFileBytes(qmtNames(), 1599));
    EXPECT_FALSE(loadSong(disk, entry));
}

TEST(Song, AMissingOrTruncatedEventListFailsTheLoad) {
    DiskFixture disk(kFamilyKrv);
    SongListEntry entry = songEntry(0, "S");
    disk.addSong(entry);
    test::EventListDescription events;
    events.history = {test::takeEvent(1, 0, 10, 2)};
    events.chains[1] = {test::takeEvent(1, 0, 10, 2)};
    test::Bytes whole = test::eventListBytes(events);
    for (std::size_t length = 0; length < whole.size(); length += 5) {
        disk.writeFile(disk.songPath(0, "EVENTLS0.KRV"),
                       test::Bytes(whole.begin(), whole.begin() + length));
        EXPECT_FALSE(loadSong(disk, entry)) << length;
    }
    disk.writeFile(disk.songPath(0, "EVENTLS0.KRV"), whole);
    EXPECT_TRUE(loadSong(disk, entry));
    std::filesystem::remove(disk.hostPath(disk.songPath(0, "EVENTLS0.KRV")));
    EXPECT_FALSE(loadSong(disk, entry));
}

TEST(Song, UsedFlagsMarkExactlyTheVirtualTracksWithEvents) {
    DiskFixture disk(kFamilyKrv);
    SongListEntry entry = songEntry(0, "S");
    disk.addSong(entry);
    test::EventListDescription events;
    events.chains[0] = {test::takeEvent(0, 0, 100, 2)};
    events.chains[9] = {test::takeEvent(9, 0, 100, 3), test::takeEvent(9, 200, 300, 4)};
    disk.setEvents(0, events);
    auto song = loadSong(disk, entry);
    ASSERT_TRUE(song);
    for (int v = 0; v < kVirtualTracks; ++v) {
        EXPECT_EQ(song->used(v), v == 0 || v == 9) << v;
    }
}

TEST(Song, WritingAKrvSongFileChangesNothing) {
    DiskFixture disk(kFamilyKrv);
    SongListEntry entry = songEntry(0, "S");
    disk.addSong(entry);
    auto song = loadSong(disk, entry);
    ASSERT_TRUE(song);
    song->setName(3, "NEW");
    auto before = disk.readFile(disk.songPath(0, "SONG.KRV"));
    CFolderDiskFiles files(disk.root(), {});
    EXPECT_TRUE(song->write(files, kSongFilePart));
    EXPECT_EQ(disk.readFile(disk.songPath(0, "SONG.KRV")), before);
    EXPECT_EQ(disk.listFolder(disk.songFolder(0)),
              (std::vector<std::string>{"EVENTLS0.KRV", "SONG.KRV"}));
}

TEST(Song, AProtectedSongIsNeverWritten) {
    DiskFixture disk(kFamilyQmt);
    SongListEntry entry = songEntry(0, "S", test::kRate44100 | kProtectFlag);
    disk.addSong(entry);
    auto song = loadSong(disk, entry);
    ASSERT_TRUE(song);
    ASSERT_TRUE(song->isProtected());
    song->setName(0, "CHANGED");
    ASSERT_TRUE(song->placeEvent(test::takeEvent(0, 0, 10, 2)));
    auto songFile = disk.readFile(disk.songPath(0, "SONG.QMT"));
    auto eventList = disk.readFile(disk.songPath(0, "EVENTLS0.KRV"));
    CFolderDiskFiles files(disk.root(), {});
    EXPECT_FALSE(song->write(files, kSongFilePart | kEventListPart));
    EXPECT_FALSE(song->write(files, kEventListPart));
    EXPECT_EQ(disk.readFile(disk.songPath(0, "SONG.QMT")), songFile);
    EXPECT_EQ(disk.readFile(disk.songPath(0, "EVENTLS0.KRV")), eventList);
}

TEST(Song, ACopyIsIndependentOfItsOriginal) {
    DiskFixture disk(kFamilyQmt);
    SongListEntry entry = songEntry(0, "S");
    disk.addSong(entry);
    disk.setTrackNames(0, qmtNames());
    auto song = loadSong(disk, entry);
    ASSERT_TRUE(song);
    auto backup = std::make_unique<CSong>(*song);
    song->setName(1, "OTHER");
    ASSERT_TRUE(song->placeEvent(test::takeEvent(1, 0, 10, 2)));
    EXPECT_EQ(backup->name(1), "TRK1");
    EXPECT_FALSE(backup->used(1));
    EXPECT_TRUE(backup->events().chain(1).empty());
    EXPECT_EQ(backup->events().freeList().count, kEventCapacity);
    *song = *backup;
    EXPECT_EQ(song->name(1), "TRK1");
    EXPECT_TRUE(song->events().chain(1).empty());
}

}  // namespace
}  // namespace korvo
