// korvowav-cli killed (SIGKILL: no handler runs, nothing is cleaned up) at many points of an
// import: the next command shows exactly the old song or exactly the new one, the image holds
// nothing worse than lost clusters, and running the import again completes it.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "disk/SongCommit.h"
#include "tests/support/CliRunner.h"
#include "tests/support/DiskFixture.h"
#include "tests/support/EngineFixture.h"
#include "tests/support/FatImages.h"

namespace korvo::test {
namespace {

using korvo::testing::runCli;
using korvo::testing::runCliKilledAfter;
using nlohmann::json;

TEST(CliKilled, AnImportKilledAnywhereLeavesTheOldOrTheNewSongAndARetryCompletes) {
    KORVO_SKIP_WITHOUT_FAT_TOOLS();
    // A QMT disk, so that the names are on the disk too: 1.1 holds a take, 2.1 is empty.
    DiskFixture folder(kFamilyQmt);
    folder.addSong(songEntry(0, "KILL"));
    std::array<std::string, kVirtualTracks> names;
    names[0] = "OLDTAKE";
    folder.setTrackNames(0, names);
    EventListDescription events;
    events.chains[0] = {takeEvent(0, 0, 300, 0x0002)};
    folder.setEvents(0, events);
    folder.addTake(0, 0x0002, patternBlocks(5, 300));
    TemporaryFolder work;
    const std::string pristine = work.path() + "/pristine.img";
    const std::string image = work.path() + "/disk.img";
    ASSERT_TRUE(imageFromFolder(folder.root(), pristine, fat::FatType::fat16, 2048,
                                smallVolumeBytes(fat::FatType::fat16, 2048)));
    const std::string wave = work.path() + "/stereo.wav";
    const auto left = musicSignal(3 * 44100 / 16, 3);
    const auto right = musicSignal(3 * 44100 / 16, 4);
    std::vector<std::int16_t> interleaved;
    for (std::size_t i = 0; i < left.size(); ++i) {
        interleaved.push_back(left[i]);
        interleaved.push_back(right[i]);
    }
    ASSERT_TRUE(writeWave(wave, 2, 44100, interleaved));

    const std::vector<std::string> import{"import", image,     "--song", "1",  "--track",
                                          "1.1",    "--track", "2.1",    wave, "--quiet"};
    const auto tracks = [&] {
        const auto shown = runCli({"tracks", image, "--song", "1", "--json"});
        EXPECT_EQ(shown.exitStatus, 0) << shown.err;
        return shown.exitStatus == 0 ? json::parse(shown.out) : json();
    };
    const auto fresh = [&] {
        std::filesystem::copy_file(pristine, image,
                                   std::filesystem::copy_options::overwrite_existing);
    };
    fresh();
    const json oldSong = tracks();
    const auto started = std::chrono::steady_clock::now();
    ASSERT_EQ(runCli(import).exitStatus, 0);
    const auto took = std::chrono::duration_cast<std::chrono::microseconds>(
                          std::chrono::steady_clock::now() - started)
                          .count();
    const json newSong = tracks();
    ASSERT_NE(oldSong, newSong);

    // Kill points spread over the whole run and a little past it, densest towards its end,
    // where the song is written.
    constexpr int kTrials = 30;
    int sawOld = 0;
    int sawNew = 0;
    for (int i = 0; i < kTrials; ++i) {
        fresh();
        const double share =
            1.2 * (1.0 - (1.0 - i / double(kTrials)) * (1.0 - i / double(kTrials)));
        runCliKilledAfter(import, static_cast<int>(share * static_cast<double>(took)));
        const std::string where = "killed at " + std::to_string(share) + " of the run";

        const auto check = fsckFat(image);
        std::string offending;
        EXPECT_TRUE(fsckFindingsHarmless(check.output, offending)) << where << ": " << offending;
        const json now = tracks();
        EXPECT_TRUE(now == oldSong || now == newSong) << where << ":\n" << now.dump();
        (now == newSong ? sawNew : sawOld) += 1;

        ASSERT_EQ(runCli(import).exitStatus, 0) << where;
        EXPECT_EQ(tracks(), newSong) << where;
        const auto listing = mdir(image, "SONG0000.QMT");
        ASSERT_TRUE(listing);
        for (std::size_t n = 0; n < listing->shortNames.size(); ++n) {
            const std::string& name =
                listing->longNames[n].empty() ? listing->shortNames[n] : listing->longNames[n];
            EXPECT_FALSE(isTemporaryTakeName(name) || name == kCommitRecordFileName)
                << where << ": " << name << " left behind";
        }
        if (HasFailure())
            break;
    }
    EXPECT_GT(sawOld, 0);
    EXPECT_GT(sawNew, 0);
}

}  // namespace
}  // namespace korvo::test
