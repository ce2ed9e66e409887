// Earlier takes through the track converter: the history of a song read as groups, a group
// exported as it left a virtual track, and an earlier version put back, on FAT images written
// by real imports and on folders holding what the recorder writes.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "disk/SongHistory.h"
#include "disk/Status.h"
#include "tests/support/EngineFixture.h"
#include "tests/support/FatImages.h"

namespace korvo::test {
namespace {

constexpr int kWidth = 5;  // LV1
constexpr std::uint32_t kSecond = 44100 >> 4;

using Converter = std::unique_ptr<CTrackConverter>;

std::vector<std::uint8_t> exportBytes(CTrackConverter& converter, std::vector<std::uint8_t> tracks,
                                      const std::string& path, int group = 0,
                                      bool allowMissing = false) {
    converter.setSelectedTracks(std::move(tracks));
    converter.computeExportRange();
    converter.setOutputWave(path, KorvoLib::Korvo::kWaveTypeRiff);
    const bool done =
        group == 0 ? converter.runExport()
                   : converter.runGroupExport(static_cast<std::uint16_t>(group), allowMissing);
    EXPECT_TRUE(done) << converter.status();
    return readHostFile(path);
}

TEST(History, ThreeImportsGiveThreeGroupsAndRestoringTheFirstBringsItsExportBack) {
    KORVO_SKIP_WITHOUT_FAT_TOOLS();
    TemporaryFolder work;
    const std::string image = work.path() + "/disk.img";
    {
        DiskFixture disk(kFamilyKrv);
        disk.addSong(songEntry(0, "HISTORY"));
        EventListDescription events;
        events.chains[8] = {takeEvent(8, 0, kSecond + 10, 0x0002)};
        disk.setEvents(0, events);
        disk.addTake(0, 0x0002, encodeBlocks(musicSignal(kSecond + 10, 3), kWidth));
        disk.addTake(0, 0x0005, encodeBlocks(musicSignal(kSecond, 4), kWidth));  // an orphan
        ASSERT_TRUE(imageFromFolder(disk.root(), image, fat::FatType::fat16, 32768,
                                    smallVolumeBytes(fat::FatType::fat16, 32768)));
    }
    std::vector<std::vector<std::uint8_t>> versions;
    for (int i = 0; i < 3; ++i) {
        // Each import a different length, so that every version is told apart.
        const std::string wave = work.path() + "/take" + std::to_string(i) + ".wav";
        ASSERT_TRUE(writeWave(wave, 1, 44100, musicSignal(kSecond + 40 + 30 * i, 20 + i)));
        Converter converter = converterOn(image, 0);
        converter->setSelectedTracks({0});
        ASSERT_TRUE(converter->openInputWave(wave));
        converter->computeImportRange();
        ASSERT_TRUE(converter->runImport()) << converter->status();
        versions.push_back(exportBytes(*converter, {0}, work.path() + "/now.wav"));
    }
    const auto otherTrack = exportBytes(*converterOn(image, 0), {8}, work.path() + "/other.wav");

    Converter converter = converterOn(image, 0);
    const auto orphans = orphanTakes(*converter->disk(), *converter->song());
    ASSERT_TRUE(orphans);
    ASSERT_EQ(orphans->size(), 1u);
    EXPECT_EQ(orphans->front().fileName, "TAKE0005.KRV");
    auto history = converter->history();
    ASSERT_EQ(history->groups().size(), 3u);
    EXPECT_TRUE(history->group(3)->isCurrent(converter->song()->events(), 0));
    EXPECT_FALSE(history->group(1)->isCurrent(converter->song()->events(), 0));
    for (int g = 1; g <= 3; ++g) {
        EXPECT_EQ(exportBytes(*converter, {0}, work.path() + "/group.wav", g), versions[g - 1])
            << "group " << g;
    }

    ASSERT_TRUE(converter->restoreGroup(0, 1)) << converter->status();
    EXPECT_TRUE(fsckFat(image).clean());
    Converter reloaded = converterOn(image, 0);
    EXPECT_EQ(exportBytes(*reloaded, {0}, work.path() + "/restored.wav"), versions[0]);
    EXPECT_EQ(exportBytes(*reloaded, {8}, work.path() + "/other.wav"), otherTrack);
    history = reloaded->history();
    ASSERT_EQ(history->groups().size(), 4u);
    // What the track played before the restore is kept: group 3 can still be exported.
    EXPECT_TRUE(history->group(4)->isCurrent(reloaded->song()->events(), 0));
    EXPECT_EQ(exportBytes(*reloaded, {0}, work.path() + "/group.wav", 3), versions[2]);
}

// What the recorder writes and import never does: several events in one group, playing one
// take from offsets, behind a range record.
struct RecorderDisk {
    DiskFixture disk{kFamilyKrv};
    TemporaryFolder work;
    std::uint32_t takeBlocks = 3 * kSecond;
    EventRecord first = takeEvent(0, 100, 100 + kSecond + 5, 0x0010, 200);
    EventRecord second = takeEvent(0, 2 * kSecond, 3 * kSecond + 20, 0x0010, kSecond);
    EventRecord now = takeEvent(0, 0, kSecond + 1, 0x0020);
    RecorderDisk() {
        disk.addSong(songEntry(0, "RECORDER"));
        disk.addSong(songEntry(1, "SAME", kRate44100));
        EventListDescription events;
        // Listed out of start order, as the recorder may write them.
        events.history = {inGroup(second, 7), inGroup(first, 7),
                          rangeRecord(0, 0, 3 * kSecond + 20, 9), inGroup(now, 9)};
        events.chains[0] = {now};
        disk.setEvents(0, events);
        disk.addTake(0, 0x0010, encodeBlocks(musicSignal(takeBlocks, 5), kWidth));
        disk.addTake(0, 0x0020, encodeBlocks(musicSignal(kSecond + 1, 6), kWidth));
        // Song 2 plays the first group as its current chain: the reference export.
        EventListDescription reference;
        reference.chains[0] = {first, second};
        disk.setEvents(1, reference);
        disk.addTake(1, 0x0010, encodeBlocks(musicSignal(takeBlocks, 5), kWidth));
    }
    std::string path(const std::string& name) const { return work.path() + "/" + name; }
};

TEST(History, RecorderGroupsWithSeveralEventsAndOffsetsExportAndRestoreAsTheirChain) {
    RecorderDisk fixture;
    Converter converter = converterOn(fixture.disk.root(), 0);
    const auto history = converter->history();
    ASSERT_EQ(history->groups().size(), 2u);
    const HistoryGroup& group = *history->group(1);
    ASSERT_EQ(group.entries.size(), 2u);
    const auto events = group.takeEvents(0);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].start, fixture.first.start);
    EXPECT_EQ(events[0].takeOffset, 200u);
    EXPECT_EQ(group.entries[0].take, TakeState::present);
    EXPECT_TRUE(history->group(2)->entries[0].isRange());
    EXPECT_TRUE(history->group(2)->isCurrent(converter->song()->events(), 0));

    const auto reference =
        exportBytes(*converterOn(fixture.disk.root(), 1), {0}, fixture.path("reference.wav"));
    EXPECT_EQ(exportBytes(*converter, {0}, fixture.path("group.wav"), 1), reference);

    ASSERT_TRUE(converter->restoreGroup(0, 1)) << converter->status();
    Converter reloaded = converterOn(fixture.disk.root(), 0);
    EXPECT_EQ(exportBytes(*reloaded, {0}, fixture.path("restored.wav")), reference);
    const CEventTable& table = reloaded->song()->events();
    ASSERT_EQ(table.chain(0).count, 2u);
    EXPECT_EQ(table.slot(table.chain(0).head).takeOffset, 200u);
    // The restore's group: a range record over old and new extents, then both copies.
    const auto after = reloaded->history();
    const HistoryGroup& restored = after->groups().back();
    ASSERT_EQ(restored.entries.size(), 3u);
    EXPECT_TRUE(restored.entries[0].isRange());
    EXPECT_EQ(restored.entries[0].record.start, 0u);
    EXPECT_EQ(restored.entries[0].record.end, fixture.second.end);
}

TEST(History, MissingAndShortTakesAreSilenceOnlyWhenAllowedAndNeverRestored) {
    RecorderDisk fixture;
    // Take 0x0010 cut short of the second event's blocks; a third event's take is gone.
    fixture.disk.addTake(0, 0x0010, encodeBlocks(musicSignal(2 * kSecond, 5), kWidth));
    Converter converter = converterOn(fixture.disk.root(), 0);
    const auto history = converter->history();
    const HistoryGroup& group = *history->group(1);
    EXPECT_EQ(group.entries[0].take, TakeState::tooShort);  // `second`, listed first
    EXPECT_EQ(group.entries[1].take, TakeState::present);
    fixture.disk.writeFile(fixture.disk.songPath(0, "TAKE0010.KRV"), {});
    EXPECT_EQ(converterOn(fixture.disk.root(), 0)->history()->group(1)->entries[1].take,
              TakeState::tooShort);
    std::filesystem::remove(fixture.disk.hostPath(fixture.disk.songPath(0, "TAKE0010.KRV")));
    converter = converterOn(fixture.disk.root(), 0);
    EXPECT_EQ(converter->history()->group(1)->entries[1].take, TakeState::missing);

    converter->setSelectedTracks({0});
    converter->setOutputWave(fixture.path("refused.wav"), KorvoLib::Korvo::kWaveTypeRiff);
    EXPECT_FALSE(converter->runGroupExport(1, false));
    EXPECT_EQ(converter->status(), kStatusFailedReadTrack);
    EXPECT_FALSE(std::filesystem::exists(fixture.path("refused.wav")));

    exportBytes(*converter, {0}, fixture.path("silent.wav"), 1, true);
    const auto silent = readWave(fixture.path("silent.wav"));
    ASSERT_TRUE(silent.ok);
    EXPECT_EQ(silent.samples.size(), fixture.second.end * 16u);  // the range keeps its length
    EXPECT_TRUE(std::all_of(silent.samples.begin(), silent.samples.end(),
                            [](std::int16_t s) { return s == 0; }));

    const auto before = fixture.disk.readFile(fixture.disk.songPath(0, "EVENTLS0.KRV"));
    EXPECT_FALSE(converter->restoreGroup(0, 1));
    EXPECT_EQ(converter->status(), kStatusFailedReadTrack);
    EXPECT_EQ(fixture.disk.readFile(fixture.disk.songPath(0, "EVENTLS0.KRV")), before);
}

TEST(History, RestoreIsRefusedOnAProtectedSongAndWhenTheEventTableIsFull) {
    RecorderDisk fixture;
    fixture.disk.addSong(songEntry(2, "LOCKED", kRate44100 | kProtectFlag));
    EventListDescription locked;
    locked.history = {inGroup(fixture.now, 1)};
    fixture.disk.setEvents(2, locked);
    fixture.disk.addTake(2, 0x0020, encodeBlocks(musicSignal(kSecond + 1, 6), kWidth));
    Converter converter = converterOn(fixture.disk.root(), 2);
    EXPECT_FALSE(converter->restoreGroup(0, 1));
    EXPECT_EQ(converter->status(), kStatusSongProtected);

    // 9997 history records of song 1 leave two free slots; restoring group 1 needs a range
    // record and two copies before the chain's slot is released.
    EventListDescription full;
    full.history = {inGroup(fixture.first, 1), inGroup(fixture.second, 1)};
    for (int i = 0; i < 9995; ++i) {
        full.history.push_back(inGroup(takeEvent(9, 0, 10, 0), 2));
    }
    full.chains[0] = {fixture.now};
    fixture.disk.setEvents(1, full);
    fixture.disk.addTake(1, 0x0020, encodeBlocks(musicSignal(kSecond + 1, 6), kWidth));
    converter = converterOn(fixture.disk.root(), 1);
    const auto before = fixture.disk.readFile(fixture.disk.songPath(1, "EVENTLS0.KRV"));
    EXPECT_FALSE(converter->restoreGroup(0, 1));
    EXPECT_EQ(converter->status(), kStatusEventFull);
    EXPECT_EQ(converter->song()->events().freeList().count, 2u);  // the song as it was
    EXPECT_EQ(fixture.disk.readFile(fixture.disk.songPath(1, "EVENTLS0.KRV")), before);
}

}  // namespace
}  // namespace korvo::test
