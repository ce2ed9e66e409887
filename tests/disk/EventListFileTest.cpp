#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <memory>

#include "volume/FolderDiskFiles.h"
#include "disk/Song.h"
#include "tests/support/DiskFixture.h"
#include "tests/support/FaultyDiskFiles.h"

namespace korvo {
namespace {

using test::DiskFixture;
using test::takeEvent;

const SongListEntry kEntry = test::songEntry(0, "S");

std::unique_ptr<CSong> loadSong(IDiskFiles& files) {
    auto song = std::make_unique<CSong>(kEntry, kFamilyKrv);
    return song->read(files) ? std::move(song) : nullptr;
}

std::unique_ptr<CSong> loadSong(DiskFixture& disk) {
    CFolderDiskFiles files(disk.root(), {});
    return loadSong(files);
}

// A list of what a user of the table sees: every list's records in order, links left out.
std::vector<test::Bytes> listContents(const CSong& song) {
    std::vector<test::Bytes> lists;
    const CEventTable& table = song.events();
    auto walk = [&](const ListHeader& list) {
        test::Bytes bytes;
        for (std::uint16_t s = list.empty() ? kNoSlot : list.head; s != kNoSlot;
             s = table.slot(s).next) {
            EventRecord record = table.slot(s);
            record.previous = record.next = 0;
            test::Bytes one = test::eventRecordBytes(record);
            bytes.insert(bytes.end(), one.begin(), one.end());
        }
        lists.push_back(bytes);
    };
    walk(table.history());
    for (int v = 0; v < kVirtualTracks; ++v) {
        walk(table.chain(v));
    }
    return lists;
}

// A song with a little history and events on three virtual tracks.
DiskFixture songWithEvents() {
    DiskFixture disk(kFamilyKrv);
    disk.addSong(kEntry);
    test::EventListDescription events;
    EventRecord old = takeEvent(2, 0, 500, 0x10);
    old.group = 4;
    events.history = {old, old};
    events.chains[2] = {takeEvent(2, 0, 500, 0x10)};
    events.chains[17] = {takeEvent(17, 900, 1000, 0x20), takeEvent(17, 100, 200, 0x21)};
    events.chains[63] = {takeEvent(63, 5, 6, 0x30)};
    disk.setEvents(0, events);
    return disk;
}

TEST(EventListFile, RecordsLoadIntoTheirListsInStartOrderWithFreshLinks) {
    DiskFixture disk = songWithEvents();
    auto song = loadSong(disk);
    ASSERT_TRUE(song);
    const CEventTable& table = song->events();
    EXPECT_EQ(table.history().count, 2);
    ASSERT_EQ(table.chain(17).count, 2);
    EXPECT_EQ(table.slot(table.chain(17).head).start, 100u);
    EXPECT_EQ(table.slot(table.chain(17).tail).start, 900u);
    EXPECT_EQ(table.slot(table.chain(17).head).previous, kNoSlot);
    EXPECT_EQ(table.slot(table.chain(17).head).next, table.chain(17).tail);
    EXPECT_EQ(table.freeList().count, kEventCapacity - 6);
}

TEST(EventListFile, WritingAndReadingBackKeepsEveryListAndClearsBytes30And31) {
    DiskFixture disk = songWithEvents();
    test::EventListDescription events;
    EventRecord marked = takeEvent(5, 10, 20, 0x40);
    marked.reserved30 = 0xBEEF;
    marked.reserved12 = 0x1234;
    events.chains[5] = {marked};
    disk.setEvents(0, events);
    auto song = loadSong(disk);
    ASSERT_TRUE(song);
    EXPECT_EQ(song->events().slot(song->events().chain(5).head).reserved30, 0);
    ASSERT_TRUE(song->placeEvent(takeEvent(40, 0, 77, 0x50)));

    CFolderDiskFiles files(disk.root(), {});
    ASSERT_TRUE(song->write(files, kEventListPart));
    auto again = loadSong(disk);
    ASSERT_TRUE(again);
    EXPECT_EQ(listContents(*again), listContents(*song));
    EXPECT_EQ(again->events().slot(again->events().chain(5).head).reserved12, 0x1234);
    EXPECT_TRUE(again->used(40));
    EXPECT_EQ(disk.readFile(disk.songPath(0, "EVENTLS0.KRV"))->size(),
              2 * 65 + 48 * std::size_t{1 + 1 + 1});
}

TEST(EventListFile, RecordsWithoutValidClustersAreDroppedAndTheRestLoads) {
    DiskFixture disk(kFamilyKrv);
    disk.addSong(kEntry);
    test::EventListDescription events;
    EventRecord noFirst = takeEvent(8, 0, 10, 0xFFFF);
    EventRecord noLast = takeEvent(8, 10, 20, 0x12);
    noLast.lastCluster = 0xFFFF;
    events.chains[8] = {noFirst, takeEvent(8, 20, 30, 0x13), noLast, takeEvent(8, 30, 40, 0x14)};
    events.chains[9] = {takeEvent(9, 0, 5, 0x15)};
    disk.setEvents(0, events);
    auto song = loadSong(disk);
    ASSERT_TRUE(song);
    ASSERT_EQ(song->events().chain(8).count, 2);
    EXPECT_EQ(song->events().slot(song->events().chain(8).head).firstCluster, 0x13);
    EXPECT_EQ(song->events().chain(9).count, 1);
}

TEST(EventListFile, ASectionCountPastTheCapacityReadsOnlyAsManyRecordsAsFit) {
    DiskFixture disk(kFamilyKrv);
    disk.addSong(kEntry);
    test::EventListDescription events;
    events.chains[0].assign(12000, takeEvent(0, 0, 10, 0x22));
    disk.setEvents(0, events);
    // The first 10000 records fill the table; the next "section" then starts inside the
    // remaining records, whose bytes run out before 64 more sections are read.
    EXPECT_FALSE(loadSong(disk));

    // More valid records than free slots, spread over sections.
    test::EventListDescription tooMany;
    tooMany.history.assign(6000, takeEvent(0, 0, 10, 0x22));
    tooMany.chains[1].assign(4001, takeEvent(1, 0, 10, 0x23));
    disk.setEvents(0, tooMany);
    EXPECT_FALSE(loadSong(disk));

    tooMany.chains[1].resize(4000);
    disk.setEvents(0, tooMany);
    auto full = loadSong(disk);
    ASSERT_TRUE(full);
    EXPECT_EQ(full->events().freeList().count, 0);
    EXPECT_EQ(full->events().takeFreeSlot(), kNoSlot);
}

// A rewrite that runs out of room part-way must leave a list that still loads: the old one,
// or (if it got that far) the new one, under the same name and with no other file made.
// A copy of the song with one more event, on a virtual track the fixture leaves empty.
CSong withOneEventMore(const CSong& song) {
    CSong grown = song;
    EXPECT_TRUE(grown.placeEvent(takeEvent(30, 0, 100, 0x99)));
    return grown;
}

TEST(EventListFile, RunningOutOfRoomWhileRewritingNeverLosesTheSong) {
    DiskFixture disk = songWithEvents();
    auto original = loadSong(disk);
    ASSERT_TRUE(original);
    CSong grown = *original;
    for (int v = 20; v < 30; ++v) {
        ASSERT_TRUE(grown.placeEvent(takeEvent(v, 0, 100, static_cast<std::uint16_t>(0x100 + v))));
    }
    const std::size_t oldSize = disk.readFile(disk.songPath(0, "EVENTLS0.KRV"))->size();
    const std::size_t newSize = grown.events().serialise().size();
    ASSERT_GT(newSize, oldSize);
    const auto folderBefore = disk.listFolder(disk.songFolder(0));
    const test::Bytes oldList = *disk.readFile(disk.songPath(0, "EVENTLS0.KRV"));

    CFolderDiskFiles folder(disk.root(), {});
    for (std::uint64_t room :
         {std::uint64_t{0}, std::uint64_t{1}, std::uint64_t{newSize - oldSize - 1}}) {
        disk.writeFile(disk.songPath(0, "EVENTLS0.KRV"), oldList);
        test::FaultyDiskFiles full(folder);
        full.setRoom(room);
        EXPECT_FALSE(grown.write(full, kEventListPart)) << room;
        auto reloaded = loadSong(folder);
        ASSERT_TRUE(reloaded) << "room " << room;
        EXPECT_EQ(listContents(*reloaded), listContents(*original));
        EXPECT_EQ(disk.listFolder(disk.songFolder(0)), folderBefore);
    }
    disk.writeFile(disk.songPath(0, "EVENTLS0.KRV"), oldList);
    // Room for the growth and for the commit record, which holds the new list.
    test::FaultyDiskFiles enough(folder);
    enough.setRoom(newSize - oldSize + newSize + 64);
    ASSERT_TRUE(grown.write(enough, kEventListPart));
    auto reloaded = loadSong(folder);
    ASSERT_TRUE(reloaded);
    EXPECT_EQ(listContents(*reloaded), listContents(grown));
    EXPECT_EQ(disk.readFile(disk.songPath(0, "EVENTLS0.KRV"))->size(), newSize);
}

TEST(EventListFile, AFailingWriteAtAnyPointLeavesALoadableList) {
    for (int k = 1; k <= 4; ++k) {
        DiskFixture disk = songWithEvents();
        auto original = loadSong(disk);
        ASSERT_TRUE(original);
        const CSong grown = withOneEventMore(*original);
        CFolderDiskFiles folder(disk.root(), {});
        test::FaultyDiskFiles faulty(folder);
        faulty.failWriteNumber(k);
        // Past the commit point the new list stands even when a later write fails.
        bool committed = false;
        grown.write(faulty, kEventListPart, {}, committed);
        auto reloaded = loadSong(folder);
        ASSERT_TRUE(reloaded) << "write " << k << " failed";
        EXPECT_EQ(listContents(*reloaded), listContents(committed ? grown : *original)) << k;
    }
}

TEST(EventListFile, AShorterListIsCutToItsNewLength) {
    DiskFixture disk = songWithEvents();
    test::Bytes padded = *disk.readFile(disk.songPath(0, "EVENTLS0.KRV"));
    padded.resize(padded.size() + 5000, 0x77);
    disk.writeFile(disk.songPath(0, "EVENTLS0.KRV"), padded);
    auto song = loadSong(disk);
    ASSERT_TRUE(song);
    CFolderDiskFiles folder(disk.root(), {});
    ASSERT_TRUE(song->write(folder, kEventListPart));
    EXPECT_EQ(disk.readFile(disk.songPath(0, "EVENTLS0.KRV"))->size(),
              song->events().serialise().size());
}

// Drivers that refuse to start a write at a file's end or to truncate still get a grown or
// rewritten list: the growth starts inside the old end and nothing is cut that did not shrink.
TEST(EventListFile, GrowsAndRewritesWithoutWritingAtTheEndOrTruncating) {
    DiskFixture disk = songWithEvents();
    auto original = loadSong(disk);
    ASSERT_TRUE(original);
    const CSong grown = withOneEventMore(*original);
    CFolderDiskFiles folder(disk.root(), {});
    test::FaultyDiskFiles strict(folder);
    strict.refuseWritesAtEndAndTruncates(true);
    ASSERT_TRUE(grown.write(strict, kEventListPart));
    ASSERT_TRUE(grown.write(strict, kEventListPart));  // the same length again
    auto reloaded = loadSong(folder);
    ASSERT_TRUE(reloaded);
    EXPECT_EQ(listContents(*reloaded), listContents(grown));
    EXPECT_EQ(disk.readFile(disk.songPath(0, "EVENTLS0.KRV"))->size(),
              grown.events().serialise().size());
}

// The same through a real host file that may not grow past a size limit.
TEST(EventListFile, AHostWriteFailureKeepsTheOldList) {
    DiskFixture disk = songWithEvents();
    auto original = loadSong(disk);
    ASSERT_TRUE(original);
    const CSong grown = withOneEventMore(*original);
    const std::size_t oldSize = disk.readFile(disk.songPath(0, "EVENTLS0.KRV"))->size();

    rlimit saved;
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = saved;
    limited.rlim_cur = oldSize + 10;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
    CFolderDiskFiles folder(disk.root(), {});
    bool written = grown.write(folder, kEventListPart);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);

    EXPECT_FALSE(written);
    auto reloaded = loadSong(folder);
    ASSERT_TRUE(reloaded);
    EXPECT_EQ(listContents(*reloaded), listContents(*original));
}

TEST(EventListFile, AMissingListIsCreated) {
    DiskFixture disk = songWithEvents();
    auto song = loadSong(disk);
    ASSERT_TRUE(song);
    std::filesystem::remove(disk.hostPath(disk.songPath(0, "EVENTLS0.KRV")));
    CFolderDiskFiles folder(disk.root(), {});
    ASSERT_TRUE(song->write(folder, kEventListPart));
    auto reloaded = loadSong(folder);
    ASSERT_TRUE(reloaded);
    EXPECT_EQ(listContents(*reloaded), listContents(*song));
}

}  // namespace
}  // namespace korvo
