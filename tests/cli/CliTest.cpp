// korvowav-cli end to end: the real program on fixture disks (folders and FAT images), its
// output, its JSON, and every status code the engine can set with its exact message and exit
// status.

#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <thread>

#include "convert/StatusMessages.h"
#include "tests/support/CliRunner.h"
#include "tests/support/DiskFixture.h"
#include "tests/support/EngineFixture.h"
#include "tests/support/FatImages.h"
#include "tests/support/FuseMount.h"

namespace korvo::test {
namespace {

using korvo::testing::CliResult;
using korvo::testing::runCli;
using korvo::testing::runCliUnprivileged;
using nlohmann::json;

constexpr std::uint32_t kSecondFrames = 44100;

void expectStatus(const CliResult& result, int code) {
    EXPECT_EQ(result.exitStatus, code) << result.err;
    EXPECT_EQ(result.lastErrorLine(), statusMessage(code)) << result.err;
}

std::vector<std::int16_t> monoMusic(std::uint32_t frames) {
    auto samples = musicSignal((frames + 15) / 16);
    samples.resize(frames);
    return samples;
}

// A KRV disk with song 1 (stored 0): a take on 1.1 and one on 2.1.
struct Disk {
    DiskFixture disk{kFamilyKrv};
    TemporaryFolder work;
    std::uint32_t blocks = (kSecondFrames >> 4) + 100;
    explicit Disk(std::uint8_t flags = kRate44100) {
        disk.addSong(songEntry(0, "CLI SONG", flags));
        disk.addSong(songEntry(4, "OTHER"));
        EventListDescription events;
        events.chains[0] = {takeEvent(0, 0, blocks, 0x0002)};
        events.chains[8] = {takeEvent(8, 0, blocks, 0x0003)};
        disk.setEvents(0, events);
        disk.addTake(0, 0x0002, encodeBlocks(musicSignal(blocks, 1), 5));
        disk.addTake(0, 0x0003, encodeBlocks(musicSignal(blocks, 2), 5));
        chmod(work.path().c_str(), 0755);
    }
    std::string root() const { return disk.root(); }
    std::string file(const std::string& name) const { return work.path() + "/" + name; }
    std::string wave(const std::string& name, std::uint16_t channels, std::uint32_t rate,
                     std::uint32_t frames) const {
        std::vector<std::int16_t> interleaved;
        for (const auto sample : monoMusic(frames)) {
            for (std::uint16_t c = 0; c < channels; ++c) {
                interleaved.push_back(sample);
            }
        }
        EXPECT_TRUE(writeWave(file(name), channels, rate, interleaved));
        return file(name);
    }
    // The same disk as a FAT16 image with 32 KiB clusters.
    std::string image() const {
        const std::string path = file("disk.img");
        EXPECT_TRUE(imageFromFolder(root(), path, fat::FatType::fat16, 32768,
                                    smallVolumeBytes(fat::FatType::fat16, 32768)));
        return path;
    }
};

TEST(Cli, InfoSongsAndTracksPrintTheDocumentedJson) {
    Disk fixture;
    const auto info = runCli({"info", fixture.root(), "--json"});
    ASSERT_EQ(info.exitStatus, 0) << info.err;
    EXPECT_EQ(json::parse(info.out),
              json({{"family", "KRV"}, {"writable", true}, {"songs", 2}, {"kind", "folder"}}));

    const auto songs = runCli({"songs", fixture.root(), "--json"});
    ASSERT_EQ(songs.exitStatus, 0) << songs.err;
    const auto list = json::parse(songs.out);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0], json({{"song", 1},
                             {"number", 0},
                             {"name", "CLI SONG"},
                             {"sample_rate", 44100},
                             {"data_type", "LV1"},
                             {"block_width", 5},
                             {"protected", false}}));
    EXPECT_EQ(list[1]["song"], 5);

    const auto tracks = runCli({"tracks", fixture.root(), "--song", "1", "--json"});
    ASSERT_EQ(tracks.exitStatus, 0) << tracks.err;
    const auto table = json::parse(tracks.out);
    ASSERT_EQ(table.size(), 64u);
    EXPECT_EQ(table[8], json({{"track", 2},
                              {"vtrack", 1},
                              {"index", 8},
                              {"name", "2 - 1"},
                              {"used", true},
                              {"end_block", fixture.blocks}}));
    EXPECT_EQ(table[63]["used"], false);
    EXPECT_EQ(table[63]["end_block"], 0);

    const auto text = runCli({"songs", fixture.root()});
    EXPECT_NE(text.out.find("  1: CLI SONG"), std::string::npos) << text.out;
}

TEST(Cli, ExportWritesTheSameFileAsTheEngineFromFolderAndImage) {
    KORVO_SKIP_WITHOUT_FAT_TOOLS();
    Disk fixture;
    const std::string image = fixture.image();
    const auto fromFolder = runCli({"export", fixture.root(), "--song", "1", "--track", "2.1",
                                    "--track", "1.1", "--output", fixture.file("a.wav")});
    ASSERT_EQ(fromFolder.exitStatus, 0) << fromFolder.err;
    const auto fromImage = runCli({"export", image, "--song", "1", "--track", "1.1", "--track",
                                   "2.1", "--output", fixture.file("b.wav"), "--quiet"});
    ASSERT_EQ(fromImage.exitStatus, 0) << fromImage.err;
    const auto a = readWave(fixture.file("a.wav"));
    ASSERT_TRUE(a.ok);
    EXPECT_EQ(a.channels, 2);
    EXPECT_EQ(a.samples.size(), fixture.blocks * 32u);
    EXPECT_EQ(readHostFile(fixture.file("a.wav")), readHostFile(fixture.file("b.wav")));

    const auto aiff = runCli({"export", image, "--song", "1", "--track", "1.1", "--output",
                              fixture.file("c.data"), "--format", "aiff"});
    ASSERT_EQ(aiff.exitStatus, 0) << aiff.err;
    EXPECT_EQ(readHostFile(fixture.file("c.data"))[8], 'A');
}

TEST(Cli, ExportAllWritesEveryTrackWithDataAsItsOwnMonoFile) {
    Disk fixture;
    const std::string folder = fixture.file("all");
    const auto result =
        runCli({"export-all", fixture.root(), "--song", "1", "--output-dir", folder, "--quiet"});
    ASSERT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_EQ(result.out, folder + "/1.1 1 - 1.wav\n" + folder + "/2.1 2 - 1.wav\n");
    const auto one = readWave(folder + "/1.1 1 - 1.wav");
    ASSERT_TRUE(one.ok);
    EXPECT_EQ(one.channels, 1);
    EXPECT_EQ(one.samples.size(), fixture.blocks * 16u);
}

TEST(Cli, ImportThenRenameOnAnImage) {
    KORVO_SKIP_WITHOUT_FAT_TOOLS();
    Disk fixture;
    const std::string image = fixture.image();
    const std::string wave = fixture.wave("newtake.wav", 2, 44100, kSecondFrames + 32);
    const auto imported =
        runCli({"import", image, "--song", "1", "--track", "5.2", "--track", "3.3", wave});
    ASSERT_EQ(imported.exitStatus, 0) << imported.err;
    const auto tracks = json::parse(runCli({"tracks", image, "--song", "1", "--json"}).out);
    EXPECT_EQ(tracks[virtualTrackIndex(3, 3)]["used"], true);
    EXPECT_EQ(tracks[virtualTrackIndex(5, 2)]["used"], true);
    EXPECT_EQ(tracks[virtualTrackIndex(5, 2)]["end_block"], (kSecondFrames + 32 + 15) / 16);
    EXPECT_TRUE(fsckFat(image).clean());

    // The KRV family keeps no names: renaming succeeds and writes nothing.
    const auto before = readHostFile(image);
    EXPECT_EQ(runCli({"rename", image, "--song", "1", "--track", "1.1", "NEWNAME"}).exitStatus, 0);
    EXPECT_EQ(readHostFile(image), before);
}

TEST(Cli, RenameFollowsTheWindowsRules) {
    DiskFixture disk(kFamilyQmt);
    disk.addSong(songEntry(0, "NAMES"));
    disk.addSong(songEntry(1, "LOCKED", kRate44100 | kProtectFlag));
    const auto rename = [&](const std::string& name, const char* song = "1") {
        return runCli({"rename", disk.root(), "--song", song, "--track", "1.2", name});
    };
    ASSERT_EQ(rename("VERYLONGNAME").exitStatus, 0);
    auto tracks = json::parse(runCli({"tracks", disk.root(), "--song", "1", "--json"}).out);
    EXPECT_EQ(tracks[1]["name"], "VERYLONG");

    const auto before = disk.readFile("SONG0000.QMT/SONG.QMT");
    EXPECT_EQ(rename("VERYLONGER").exitStatus, 0);  // the same first 8 characters
    EXPECT_EQ(disk.readFile("SONG0000.QMT/SONG.QMT"), before);

    const auto refused = rename("caf\xc3\xa9");
    EXPECT_EQ(refused.exitStatus, 65);
    EXPECT_EQ(refused.lastErrorLine(), "Can't display these characters on Korvo");
    EXPECT_EQ(disk.readFile("SONG0000.QMT/SONG.QMT"), before);

    expectStatus(rename("X", "2"), 4);
}

TEST(Cli, UsageErrorsExitWith64) {
    Disk fixture;
    EXPECT_EQ(runCli({}).exitStatus, 64);
    EXPECT_EQ(runCli({"export", fixture.root(), "--song", "1"}).exitStatus, 64);
    EXPECT_EQ(runCli({"export", fixture.root(), "--song", "1", "--track", "1.1", "--track", "1.2",
                      "--output", fixture.file("x.wav")})
                  .exitStatus,
              64);
    EXPECT_EQ(runCli({"export", fixture.root(), "--song", "1", "--track", "9.1", "--output",
                      fixture.file("x.wav")})
                  .exitStatus,
              64);
    EXPECT_EQ(runCli({"export", fixture.root(), "--song", "1", "--track", "1.1", "--output",
                      fixture.file("x.mp3")})
                  .exitStatus,
              64);
    EXPECT_EQ(runCli({"--version"}).exitStatus, 0);
    EXPECT_EQ(runCli({"--help"}).exitStatus, 0);
}

TEST(Cli, DiskAndSongFailuresGiveTheirStatus) {
    TemporaryFolder empty;
    expectStatus(runCli({"info", empty.path()}), 1);

    Disk fixture;
    expectStatus(runCli({"tracks", fixture.root(), "--song", "9"}), 12);

    // A song list that promises five songs and holds four.
    DiskFixture truncated(kFamilyKrv);
    std::vector<SongListEntry> entries;
    for (SongNumber n = 0; n < 4; ++n) {
        entries.push_back(songEntry(n, "S"));
    }
    truncated.writeFile("SONGLIST.KRV", songListBytes(entries, 5));
    expectStatus(runCli({"songs", truncated.root()}), 5);

    fixture.disk.writeFile("SONG0000.KRV/EVENTLS0.KRV", Bytes(10, 0));
    expectStatus(runCli({"tracks", fixture.root(), "--song", "1"}), 6);
}

TEST(Cli, PermissionFailuresGiveTheirStatus) {
    if (!korvo::testing::unprivilegedRunsPossible()) {
        GTEST_SKIP() << "setpriv is missing: cannot drop root's privileges for this test";
    }
    Disk fixture;
    // Its folder is only the owner's: nobody else may even look inside.
    chmod(fixture.root().c_str(), 0700);
    expectStatus(runCliUnprivileged({"songs", fixture.root()}), 2);

    // Readable but not writable by others: listed, exported, never written.
    chmod(fixture.root().c_str(), 0755);
    const std::string wave = fixture.wave("a.wav", 1, 44100, kSecondFrames + 16);
    chmod(wave.c_str(), 0644);
    expectStatus(
        runCliUnprivileged({"import", fixture.root(), "--song", "1", "--track", "4.1", wave}), 3);
    chmod(fixture.work.path().c_str(), 01777);
    EXPECT_EQ(runCliUnprivileged({"export", fixture.root(), "--song", "1", "--track", "1.1",
                                  "--output", fixture.file("ro.wav")})
                  .exitStatus,
              0);

    DiskFixture qmt(kFamilyQmt);
    qmt.addSong(songEntry(0, "NAMES"));
    chmod(qmt.root().c_str(), 0755);
    chmod(qmt.hostPath("DISKINFO.QMT").c_str(), 0666);
    expectStatus(runCliUnprivileged({"rename", qmt.root(), "--song", "1", "--track", "1.1", "NEW"}),
                 7);
}

TEST(Cli, ExportFailuresGiveTheirStatus) {
    Disk fixture;
    expectStatus(runCli({"export", fixture.root(), "--song", "1", "--track", "1.1", "--output",
                         fixture.file("no/such/folder/x.wav")}),
                 11);
    std::filesystem::remove(fixture.disk.hostPath("SONG0000.KRV/TAKE0003.KRV"));
    expectStatus(runCli({"export", fixture.root(), "--song", "1", "--track", "2.1", "--output",
                         fixture.file("x.wav")}),
                 8);
    EXPECT_FALSE(std::filesystem::exists(fixture.file("x.wav")));
}

TEST(Cli, ImportRefusalsGiveTheirStatusInOrder) {
    Disk fixture;
    const auto import = [&](const std::string& wave) {
        return runCli({"import", fixture.root(), "--song", "1", "--track", "4.1", wave});
    };
    expectStatus(import(fixture.file("missing.wav")), 10);
    expectStatus(import(fixture.wave("none.wav", 0, 44100, 0)), 14);
    expectStatus(import(fixture.wave("rate.wav", 1, 48000, 2 * kSecondFrames)), 15);
    expectStatus(import(fixture.wave("short.wav", 1, 44100, kSecondFrames - 4)), 16);

    // A folder disk with no FAT volume behind it: the clusters of new takes cannot be read.
    const auto noVolume = import(fixture.wave("ok.wav", 1, 44100, kSecondFrames + 16));
    expectStatus(noVolume, 17);
    EXPECT_NE(noVolume.err.find("image"), std::string::npos) << noVolume.err;
    for (const auto& name : fixture.disk.listFolder("SONG0000.KRV")) {
        EXPECT_EQ(name.find("TMP"), std::string::npos) << name;
    }

    Disk locked(kRate44100 | kProtectFlag);
    expectStatus(runCli({"import", locked.root(), "--song", "1", "--track", "4.1",
                         locked.wave("ok.wav", 1, 44100, kSecondFrames + 16)}),
                 4);
}

TEST(Cli, ImportFailuresOnImagesGiveTheirStatus) {
    KORVO_SKIP_WITHOUT_FAT_TOOLS();
    {
        // The temporary take's name is taken by a folder.
        Disk fixture;
        const std::string image = fixture.image();
        ASSERT_TRUE(mmd(image, "SONG0000.KRV/TAKEXXXX.KRV.TMP24"));
        expectStatus(runCli({"import", image, "--song", "1", "--track", "4.1",
                             fixture.wave("a.wav", 1, 44100, kSecondFrames + 16)}),
                     9);
    }
    {
        // A volume with far less room than the wave needs.
        Disk fixture;
        const std::string image = fixture.file("small.img");
        ASSERT_TRUE(imageFromFolder(fixture.root(), image, fat::FatType::fat12, 32768, 1u << 20));
        expectStatus(runCli({"import", image, "--song", "1", "--track", "4.1",
                             fixture.wave("big.wav", 2, 44100, 60 * kSecondFrames)}),
                     13);
    }
    {
        // 9999 of the 10000 event slots in use, and virtual track 1.1 holds one of them.
        DiskFixture full(kFamilyKrv);
        full.addSong(songEntry(0, "FULL"));
        EventListDescription events;
        events.history.assign(9998, takeEvent(0, 0, 10, 0x0100));
        events.chains[0] = {takeEvent(0, 0, 10, 0x0100)};
        full.setEvents(0, events);
        TemporaryFolder work;
        const std::string image = work.path() + "/full.img";
        ASSERT_TRUE(imageFromFolder(full.root(), image, fat::FatType::fat16, 32768,
                                    smallVolumeBytes(fat::FatType::fat16, 32768)));
        const std::string wave = work.path() + "/a.wav";
        ASSERT_TRUE(writeWave(wave, 1, 44100, monoMusic(kSecondFrames + 16)));
        expectStatus(runCli({"import", image, "--song", "1", "--track", "1.1", wave}), 18);
        const auto names = mdir(image, "SONG0000.KRV");
        ASSERT_TRUE(names);
        for (const auto& name : names->shortNames) {
            EXPECT_EQ(name.rfind("TAKE", 0), std::string::npos) << name;  // no orphan takes
        }
    }
}

// Four upper-case hexadecimal digits, as in a take's name.
std::string hex4(std::uint32_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "%04X", static_cast<unsigned>(value & 0xFFFF));
    return text;
}

// The folder route over a real mount: the image mounted by fusefat, the program given only the
// folder, so that it must find the image behind the mount for the takes' cluster chains.
TEST(Cli, ExportAndImportThroughAMountedImageMatchTheImageItself) {
    KORVO_SKIP_WITHOUT_FAT_TOOLS();
    Disk fixture;
    const std::string image = fixture.image();
    const std::string wave = fixture.wave("mounted.wav", 2, 44100, kSecondFrames + 7);
    const std::string folder = fixture.file("mnt");
    FuseMount mount(image, folder);
    if (!mount.mounted()) {
        GTEST_SKIP() << mount.whyNot();
    }
    const auto exported = runCli({"export", folder, "--song", "1", "--track", "1.1", "--track",
                                  "2.1", "--output", fixture.file("mounted-old.wav"), "--quiet"});
    EXPECT_EQ(exported.exitStatus, 0) << exported.err;
    // Found behind the mount by the program itself, and given with --device.
    const auto imported = runCli({"import", folder, "--song", "1", "--track", "3.1", wave});
    EXPECT_EQ(imported.exitStatus, 0) << imported.err;
    const auto withDevice = runCli(
        {"import", folder, "--device", image, "--song", "1", "--track", "4.1", wave});
    EXPECT_EQ(withDevice.exitStatus, 0) << withDevice.err;
    const auto again = runCli({"export", folder, "--song", "1", "--track", "3.1", "--track",
                               "4.1", "--output", fixture.file("mounted-new.wav"), "--quiet"});
    EXPECT_EQ(again.exitStatus, 0) << again.err;
    std::vector<std::string> takes;
    for (const auto& entry : std::filesystem::directory_iterator(folder + "/SONG0000.KRV")) {
        takes.push_back(entry.path().filename().string());
    }
    ASSERT_TRUE(mount.unmount());

    EXPECT_TRUE(fsckFat(image).clean()) << fsckFat(image).output;
    for (const auto& [tracks, output] :
         {std::pair{std::vector<std::string>{"1.1", "2.1"}, "mounted-old.wav"},
          std::pair{std::vector<std::string>{"3.1", "4.1"}, "mounted-new.wav"}}) {
        const auto direct = runCli({"export", image, "--song", "1", "--track", tracks[0],
                                    "--track", tracks[1], "--output", fixture.file("direct.wav"),
                                    "--quiet"});
        ASSERT_EQ(direct.exitStatus, 0) << direct.err;
        EXPECT_EQ(readHostFile(fixture.file(output)), readHostFile(fixture.file("direct.wav")))
            << output;
    }
    // Each imported take is named after the first cluster the mount gave it.
    allowMtoolsOnFuseImages();
    int imports = 0;
    for (const auto& name : takes) {
        if (name.rfind("TAKE", 0) != 0 || name == "TAKE0002.KRV" || name == "TAKE0003.KRV") {
            continue;
        }
        ++imports;
        const auto clusters = mshowfat(image, "SONG0000.KRV/" + name);
        ASSERT_TRUE(clusters && !clusters->empty()) << name;
        EXPECT_EQ(name.substr(4, 4), hex4((*clusters)[0])) << name;
    }
    EXPECT_EQ(imports, 2);
}

bool catchesInterrupt(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("SigCgt:", 0) == 0) {
            return (std::stoull(line.substr(7), nullptr, 16) & (1ull << (SIGINT - 1))) != 0;
        }
    }
    return false;
}

TEST(Cli, CtrlCCancelsAnImportAndLeavesTheDiskAsItWas) {
    KORVO_SKIP_WITHOUT_FAT_TOOLS();
    Disk fixture;
    const std::string image = fixture.image();
    const std::string wave = fixture.wave("long.wav", 2, 44100, 60 * kSecondFrames);
    const auto before = mcopyOut(image, "SONG0000.KRV/EVENTLS0.KRV");

    std::vector<std::string> words{KORVOWAV_CLI_PATH, "import", image, "--song", "1",
                                   "--track", "6.1", wave, "--quiet"};
    std::vector<char*> argv;
    for (auto& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), nullptr), 0);
    // Ctrl-C as soon as the program has taken over SIGINT (its handler shows in SigCgt).
    for (int tries = 0; tries < 2000 && !catchesInterrupt(pid); ++tries) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    kill(pid, SIGINT);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 130);
    EXPECT_EQ(mcopyOut(image, "SONG0000.KRV/EVENTLS0.KRV"), before);
    const auto names = mdir(image, "SONG0000.KRV");
    ASSERT_TRUE(names);
    for (const auto& name : names->longNames) {
        EXPECT_EQ(name.find("TMP"), std::string::npos) << name;
    }
    EXPECT_TRUE(fsckFat(image).clean()) << fsckFat(image).output;
}

}  // namespace
}  // namespace korvo::test
