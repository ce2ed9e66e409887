// korvowav-cli's earlier-take commands end to end: history (text, JSON, orphans), export of a
// history group and of a take file, and restore, on a folder holding what the recorder writes.

#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "convert/StatusMessages.h"
#include "tests/support/CliRunner.h"
#include "tests/support/EngineFixture.h"
#include "tests/support/FatImages.h"

namespace korvo::test {
namespace {

using korvo::testing::runCli;
using nlohmann::json;

constexpr int kWidth = 5;
constexpr std::uint32_t kSecond = 44100 >> 4;

// Song 1: 1.1 was recorded as two events playing take 0010 from offsets (group 1), then
// replaced by take 0020 (group 2, with its range record); 2.1 holds take 0030, whose file is
// gone, in group 1 only; take 0040 is on the disk with nothing referring to it.
struct Disk {
    DiskFixture disk{kFamilyKrv};
    TemporaryFolder work;
    EventRecord first = takeEvent(0, 0, kSecond + 5, 0x0010, 16);
    EventRecord second = takeEvent(0, 2 * kSecond, 3 * kSecond, 0x0010, kSecond + 100);
    EventRecord lost = takeEvent(8, 0, kSecond, 0x0030);
    EventRecord now = takeEvent(0, 0, kSecond + 1, 0x0020);
    Disk() {
        disk.addSong(songEntry(0, "HISTORY"));
        disk.addSong(songEntry(1, "LOCKED", kRate44100 | kProtectFlag));
        EventListDescription events;
        events.history = {inGroup(first, 3), inGroup(second, 3), inGroup(lost, 3),
                          rangeRecord(0, 0, 3 * kSecond, 4), inGroup(now, 4)};
        events.chains[0] = {now};
        events.chains[8] = {lost};
        disk.setEvents(0, events);
        disk.setEvents(1, events);
        disk.addTake(0, 0x0010, encodeBlocks(musicSignal(3 * kSecond, 1), kWidth));
        disk.addTake(0, 0x0020, encodeBlocks(musicSignal(kSecond + 1, 2), kWidth));
        disk.addTake(0, 0x0040, encodeBlocks(musicSignal(kSecond + 7, 4), kWidth));
        disk.addTake(1, 0x0010, encodeBlocks(musicSignal(3 * kSecond, 1), kWidth));
    }
    std::string root() const { return disk.root(); }
    std::string file(const std::string& name) const { return work.path() + "/" + name; }
};

json takeRecord(const EventRecord& e, const char* take, bool present) {
    const int track = e.virtualTrack / 8 + 1;
    const int vtrack = e.virtualTrack % 8 + 1;
    return {{"kind", "take"},
            {"track", std::to_string(track) + "." + std::to_string(vtrack)},
            {"index", e.virtualTrack},
            {"start_block", e.start},
            {"end_block", e.end},
            {"offset", e.takeOffset},
            {"take", take},
            {"take_file", std::string("TAKE") + take + ".KRV"},
            {"take_present", present}};
}

TEST(HistoryCli, ListsGroupsAsJsonWithCurrentTracksAndOrphans) {
    Disk fixture;
    const auto result = runCli({"history", fixture.root(), "--song", "1", "--json"});
    ASSERT_EQ(result.exitStatus, 0) << result.err;
    const json range = {{"kind", "range"},  {"track", "1.1"},           {"index", 0},
                        {"start_block", 0}, {"end_block", 3 * kSecond}, {"offset", 0},
                        {"take", nullptr},  {"take_file", nullptr},     {"take_present", false}};
    EXPECT_EQ(json::parse(result.out),
              json::array({{{"group", 1},
                            {"records",
                             {takeRecord(fixture.first, "0010", true),
                              takeRecord(fixture.second, "0010", true),
                              takeRecord(fixture.lost, "0030", false)}},
                            {"current", {"2.1"}}},
                           {{"group", 2},
                            {"records", {range, takeRecord(fixture.now, "0020", true)}},
                            {"current", {"1.1"}}}}));

    const auto onlyOne = json::parse(
        runCli({"history", fixture.root(), "--song", "1", "--track", "2.1", "--json"}).out);
    ASSERT_EQ(onlyOne.size(), 1u);
    EXPECT_EQ(onlyOne[0]["records"].size(), 1u);

    const auto text = runCli({"history", fixture.root(), "--song", "1"});
    EXPECT_NE(text.out.find("TAKE0030.KRV missing"), std::string::npos) << text.out;

    const auto orphans = runCli({"history", fixture.root(), "--song", "1", "--orphans", "--json"});
    ASSERT_EQ(orphans.exitStatus, 0) << orphans.err;
    const auto list = json::parse(orphans.out);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0]["take_file"], "TAKE0040.KRV");
    EXPECT_EQ(list[0]["blocks"], kSecond + 7);

    const auto take = runCli({"export-take", fixture.root(), "--song", "1", "take0040.krv",
                              "--output", fixture.file("orphan.wav")});
    ASSERT_EQ(take.exitStatus, 0) << take.err;
    const auto wave = readWave(fixture.file("orphan.wav"));
    ASSERT_TRUE(wave.ok);
    EXPECT_EQ(wave.channels, 1);
    EXPECT_EQ(wave.samples.size(), (kSecond + 7) * 16u);
}

TEST(HistoryCli, GroupExportRefusesMissingTakesUnlessAllowed) {
    Disk fixture;
    const auto refused =
        runCli({"export", fixture.root(), "--song", "1", "--track", "1.1", "--track", "2.1",
                "--group", "1", "--output", fixture.file("g.wav")});
    EXPECT_EQ(refused.exitStatus, 8);
    EXPECT_EQ(refused.lastErrorLine(), statusMessage(8));
    EXPECT_NE(refused.err.find("TAKE0030.KRV (2.1, group 1) is missing"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(fixture.file("g.wav")));

    const auto allowed =
        runCli({"export", fixture.root(), "--song", "1", "--track", "1.1", "--track", "2.1",
                "--group", "1", "--allow-missing", "--output", fixture.file("g.wav")});
    ASSERT_EQ(allowed.exitStatus, 0) << allowed.err;
    const auto wave = readWave(fixture.file("g.wav"));
    ASSERT_TRUE(wave.ok);
    EXPECT_EQ(wave.channels, 2);
    EXPECT_EQ(wave.samples.size(), 3 * kSecond * 32u);

    EXPECT_EQ(runCli({"export", fixture.root(), "--song", "1", "--track", "1.1", "--group", "3",
                      "--output", fixture.file("x.wav")})
                  .exitStatus,
              64);
}

TEST(HistoryCli, RestoreBringsAGroupBackAndRefusesWhatCannotBe) {
    Disk fixture;
    const auto missing =
        runCli({"restore", fixture.root(), "--song", "1", "--track", "2.1", "--group", "1"});
    EXPECT_EQ(missing.exitStatus, 8);
    EXPECT_NE(missing.err.find("cannot be restored"), std::string::npos);
    const auto locked =
        runCli({"restore", fixture.root(), "--song", "2", "--track", "1.1", "--group", "1"});
    EXPECT_EQ(locked.exitStatus, 4);
    EXPECT_EQ(locked.lastErrorLine(), statusMessage(4));

    const auto group1 = runCli({"export", fixture.root(), "--song", "1", "--track", "1.1",
                                "--group", "1", "--output", fixture.file("group1.wav")});
    ASSERT_EQ(group1.exitStatus, 0) << group1.err;
    const auto restored =
        runCli({"restore", fixture.root(), "--song", "1", "--track", "1.1", "--group", "1"});
    ASSERT_EQ(restored.exitStatus, 0) << restored.err;
    ASSERT_EQ(runCli({"export", fixture.root(), "--song", "1", "--track", "1.1", "--output",
                      fixture.file("now.wav")})
                  .exitStatus,
              0);
    EXPECT_EQ(readHostFile(fixture.file("now.wav")), readHostFile(fixture.file("group1.wav")));
    const auto history =
        json::parse(runCli({"history", fixture.root(), "--song", "1", "--json"}).out);
    ASSERT_EQ(history.size(), 3u);
    EXPECT_EQ(history[0]["current"], json({"1.1", "2.1"}));
    EXPECT_EQ(history[2]["current"], json({"1.1"}));
}

}  // namespace
}  // namespace korvo::test
