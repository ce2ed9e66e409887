// korvowav-cli mount end to end: the real program serves a FAT image through the kernel, and
// real tools (cmp-style byte comparison, dd-style reads, sox, ffmpeg, cp, mv) use the folder.

#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <random>
#include <thread>

#include "tests/support/CliMount.h"
#include "tests/support/CliRunner.h"
#include "tests/support/DiskFixture.h"
#include "tests/support/EngineFixture.h"
#include "tests/support/FatImages.h"
#include "tests/support/FuseMount.h"
#include "tests/support/Sox.h"

namespace korvo::test {
namespace {

using korvo::testing::runCli;
using nlohmann::json;

constexpr std::uint32_t kSecondBlocks = (44100 >> 4) + 1;

// A QMT disk (it keeps track names): song 1 with a long take on 1.1 and, on 2.1, two events
// with a gap between them that play parts of one take; song 2 protected.
struct MountDisk {
    DiskFixture disk{kFamilyQmt};
    TemporaryFolder work;
    std::uint32_t blocks;

    explicit MountDisk(std::uint32_t takeBlocks = 3 * kSecondBlocks) : blocks(takeBlocks) {
        disk.addSong(songEntry(0, "MOUNTED"));
        disk.addSong(songEntry(1, "LOCKED", kRate44100 | 0x40));
        EventListDescription events;
        events.chains[0] = {takeEvent(0, 0, blocks, 0x0002)};
        events.chains[8] = {takeEvent(8, 300, 300 + kSecondBlocks + 40, 0x0003),
                            takeEvent(8, 2 * kSecondBlocks, 3 * kSecondBlocks, 0x0003, 700)};
        disk.setEvents(0, events);
        disk.setEvents(1, events);
        std::array<std::string, kVirtualTracks> names;
        names[0] = "GUITAR";
        disk.setTrackNames(0, names);
        disk.addTake(0, 0x0002, encodeBlocks(musicSignal(blocks, 1), 5));
        disk.addTake(0, 0x0003, encodeBlocks(musicSignal(blocks, 2), 5));
        disk.addTake(1, 0x0002, encodeBlocks(musicSignal(blocks, 1), 5));
        disk.addTake(1, 0x0003, encodeBlocks(musicSignal(blocks, 2), 5));
    }
    std::string file(const std::string& name) const { return work.path() + "/" + name; }
    std::string image(fat::FatType type = fat::FatType::fat16, const std::string& name = "disk.img",
                      std::uint64_t roomBytes = 8u << 20,
                      std::uint32_t clusterBytes = 32768) const {
        const std::string path = file(name);
        EXPECT_TRUE(imageFromFolder(disk.root(), path, type, clusterBytes,
                                    smallVolumeBytes(type, clusterBytes) + roomBytes));
        return path;
    }
    std::string wave(const std::string& name, std::uint16_t channels, std::uint32_t rate,
                     std::uint32_t frames) const {
        auto mono = musicSignal((frames + 15) / 16, 7);
        mono.resize(frames);
        std::vector<std::int16_t> interleaved;
        for (const auto sample : mono) {
            for (std::uint16_t c = 0; c < channels; ++c) {
                interleaved.push_back(static_cast<std::int16_t>(sample / (c + 1)));
            }
        }
        EXPECT_TRUE(writeWave(file(name), channels, rate, interleaved));
        return file(name);
    }
    // What `export --track T.V` writes for the track.
    std::vector<std::uint8_t> exported(const std::string& image, int song,
                                       const std::string& track) const {
        const auto result = runCli({"export", image, "--song", std::to_string(song), "--track",
                                    track, "--output", file("export.wav"), "--quiet"});
        EXPECT_EQ(result.exitStatus, 0) << result.err;
        return readHostFile(file("export.wav"));
    }
};

std::vector<std::uint8_t> readRange(const std::string& path, std::uint64_t offset,
                                    std::size_t length) {
    std::vector<std::uint8_t> bytes(length);
    const int fd = ::open(path.c_str(), O_RDONLY);
    const ssize_t n = fd < 0 ? -1 : ::pread(fd, bytes.data(), length, static_cast<off_t>(offset));
    if (fd >= 0) {
        ::close(fd);
    }
    bytes.resize(n < 0 ? 0 : static_cast<std::size_t>(n));
    return bytes;
}

// A whole disk: an MBR with the volume as its first partition, at sector 2048.
std::string wholeDiskImage(const std::string& volume, const std::string& disk) {
    const auto bytes = readHostFile(volume);
    constexpr std::size_t kStart = 2048 * 512;
    std::vector<std::uint8_t> whole(kStart + bytes.size(), 0);
    std::copy(bytes.begin(), bytes.end(), whole.begin() + kStart);
    const auto sectors = static_cast<std::uint32_t>(bytes.size() / 512);
    whole[446 + 4] = 0x06;  // FAT16
    for (std::size_t i = 0; i < 4; ++i) {
        whole[446 + 8 + i] = static_cast<std::uint8_t>((2048u >> (8 * i)) & 0xFF);
        whole[446 + 12 + i] = static_cast<std::uint8_t>((sectors >> (8 * i)) & 0xFF);
    }
    whole[510] = 0x55;
    whole[511] = 0xAA;
    EXPECT_TRUE(writeHostFile(disk, whole));
    return disk;
}

class MountedImage : public ::testing::TestWithParam<std::string> {};

TEST_P(MountedImage, EveryFileIsTheExportByteForByteAtAnyOffset) {
    KORVO_SKIP_WITHOUT_FAT_TOOLS();
    MountDisk fixture;
    const std::string kind = GetParam();
    std::string image;
    if (kind == "fat12") {
        image = fixture.image(fat::FatType::fat12);
    } else if (kind == "fat32") {
        // Small clusters keep the smallest FAT32 volume small (65525 clusters at least).
        image = fixture.image(fat::FatType::fat32, "disk.img", 8u << 20, 512);
    } else if (kind == "whole-disk") {
        image = wholeDiskImage(fixture.image(), fixture.file("whole.img"));
    } else {
        image = fixture.image();
    }
    const auto guitar = fixture.exported(image, 1, "1.1");
    const auto gaps = fixture.exported(image, 1, "2.1");
    const auto tracks = runCli({"tracks", image, "--song", "1", "--json"}).out;
    const auto info = runCli({"info", image, "--json"}).out;
    const auto before = readHostFile(image);

    const std::string folder = fixture.file("mnt");
    CliMount mount(image, folder, {"--read-only"});
    if (!mount.mounted()) {
        GTEST_SKIP() << mount.whyNot();
    }
    const std::string song = folder + "/01 MOUNTED/";
    ASSERT_EQ(readHostFile(song + "1.1 GUITAR.wav"), guitar);
    ASSERT_EQ(readHostFile(song + "2.1.wav").size(), gaps.size());
    EXPECT_EQ(readHostFile(song + "2.1.wav"), gaps);
    EXPECT_EQ(std::filesystem::file_size(song + "2.1.wav"), gaps.size());
    EXPECT_EQ(readHostFile(song + "song.json"),
              std::vector<std::uint8_t>(tracks.begin(), tracks.end()));
    EXPECT_EQ(readHostFile(folder + "/disk.json"),
              std::vector<std::uint8_t>(info.begin(), info.end()));
    EXPECT_TRUE(std::filesystem::is_directory(folder + "/02 LOCKED"));

    std::mt19937 random(7);
    for (int i = 0; i < 40; ++i) {
        const std::uint64_t offset = random() % gaps.size();
        const std::size_t length = 1 + random() % 70000;
        const auto end = std::min<std::uint64_t>(gaps.size(), offset + length);
        EXPECT_EQ(readRange(song + "2.1.wav", offset, length),
                  std::vector<std::uint8_t>(gaps.begin() + offset, gaps.begin() + end))
            << "offset " << offset << " length " << length;
    }
    if (soxAvailable()) {
        const auto read = soxInfo(song + "1.1 GUITAR.wav");
        ASSERT_TRUE(read);
        EXPECT_EQ(read->channels, 1);
        EXPECT_EQ(read->sampleRate, 44100);
    }
    if (runCommand("command -v ffmpeg").status == 0) {
        EXPECT_EQ(
            runCommand("ffmpeg -v error -i " + shellQuote(song + "2.1.wav") + " -f null -").status,
            0);
    }
    ASSERT_TRUE(mount.unmount()) << mount.log();
    EXPECT_EQ(readHostFile(image), before);
    if (kind != "whole-disk") {  // fsck.fat checks bare volumes only
        EXPECT_TRUE(fsckFat(image).clean());
    }
}

INSTANTIATE_TEST_SUITE_P(Images, MountedImage,
                         ::testing::Values("fat12", "fat16", "fat32", "whole-disk"),
                         [](const auto& info) {
                             std::string name = info.param;
                             name.erase(std::remove(name.begin(), name.end(), '-'), name.end());
                             return name;
                         });

TEST(Mount, FourConcurrentReadersGetTheExport) {
    KORVO_SKIP_WITHOUT_FAT_TOOLS();
    MountDisk fixture(20 * kSecondBlocks);
    const std::string image = fixture.image();
    const auto guitar = fixture.exported(image, 1, "1.1");
    CliMount mount(image, fixture.file("mnt"));
    if (!mount.mounted()) {
        GTEST_SKIP() << mount.whyNot();
    }
    const std::string path = fixture.file("mnt") + "/01 MOUNTED/1.1 GUITAR.wav";
    std::vector<std::vector<std::uint8_t>> copies(4);
    std::vector<std::thread> readers;
    for (int r = 0; r < 4; ++r) {
        readers.emplace_back([&, r] {
            // Different read sizes, and one reader from the end backwards.
            const std::size_t chunk = std::size_t{4096} << (2 * (r % 3)) | (r == 3 ? 7 : 0);
            auto& copy = copies[r];
            copy.resize(guitar.size());
            const int fd = ::open(path.c_str(), O_RDONLY);
            for (std::size_t k = 0; k * chunk < copy.size(); ++k) {
                const std::size_t index = r == 3 ? (copy.size() - 1) / chunk - k : k;
                const std::size_t at = index * chunk;
                const std::size_t n = std::min(chunk, copy.size() - at);
                if (::pread(fd, copy.data() + at, n, static_cast<off_t>(at)) !=
                    static_cast<ssize_t>(n)) {
                    break;
                }
            }
            ::close(fd);
        });
    }
    for (auto& reader : readers) {
        reader.join();
    }
    for (int r = 0; r < 4; ++r) {
        EXPECT_TRUE(copies[r] == guitar) << "reader " << r;
    }
}

// The files of a song folder on the image: name -> bytes (takes, event list, song file).
std::map<std::string, std::vector<std::uint8_t>> songFiles(const std::string& image) {
    std::map<std::string, std::vector<std::uint8_t>> files;
    const auto folders = mdir(image, "");
    for (const auto& folder : folders ? folders->shortNames : std::vector<std::string>{}) {
        if (folder.rfind("SONG", 0) != 0 || folder.find('.') == std::string::npos) {
            continue;
        }
        const auto names = mdir(image, folder);
        for (const auto& name : names ? names->shortNames : std::vector<std::string>{}) {
            if (const auto bytes = mcopyOut(image, folder + "/" + name)) {
                files[folder + "/" + name] = *bytes;
            }
        }
    }
    return files;
}

TEST(Mount, CopyingWavesInImportsAsTheCommandLineDoes) {
    KORVO_SKIP_WITHOUT_FAT_TOOLS();
    MountDisk fixture;
    const std::string mounted = fixture.image(fat::FatType::fat16, "mounted.img");
    const std::string direct = fixture.image(fat::FatType::fat16, "direct.img");
    const std::string mono = fixture.wave("SOLO.wav", 1, 44100, 44100 + 5);
    const std::string stereo = fixture.wave("PAD.wav", 2, 44100, 2 * 44100);
    ASSERT_EQ(runCli({"import", direct, "--song", "1", "--track", "1.2", mono}).exitStatus, 0);
    ASSERT_EQ(runCli({"import", direct, "--song", "1", "--track", "3.1", "--track", "4.1", stereo})
                  .exitStatus,
              0);

    const std::string folder = fixture.file("mnt");
    {
        CliMount mount(mounted, folder);
        if (!mount.mounted()) {
            GTEST_SKIP() << mount.whyNot();
        }
        const std::string song = shellQuote(folder + "/01 MOUNTED");
        EXPECT_EQ(runCommand("cp " + shellQuote(mono) + " " + song + "/'1.2 SOLO.wav'").status, 0);
        EXPECT_EQ(runCommand("cp " + shellQuote(stereo) + " " + song + "/'3.1+4.1 PAD.wav'").status,
                  0);
        EXPECT_TRUE(std::filesystem::exists(folder + "/01 MOUNTED/3.1 PAD-L.wav"));
        ASSERT_TRUE(mount.unmount()) << mount.log();
    }
    EXPECT_TRUE(fsckFat(mounted).clean()) << fsckFat(mounted).output;
    EXPECT_EQ(runCli({"tracks", mounted, "--song", "1", "--json"}).out,
              runCli({"tracks", direct, "--song", "1", "--json"}).out);
    EXPECT_EQ(songFiles(mounted), songFiles(direct));
}

TEST(Mount, RefusedCopiesFailWithTheirErrnoAndLeaveTheImageAlone) {
    KORVO_SKIP_WITHOUT_FAT_TOOLS();
    MountDisk fixture;
    // A small volume, so that a wave that does not fit stays small.
    const std::string image = fixture.image(fat::FatType::fat12, "disk.img", 1u << 20, 2048);
    const auto before = readHostFile(image);
    const std::string folder = fixture.file("mnt");
    CliMount mount(image, folder);
    if (!mount.mounted()) {
        GTEST_SKIP() << mount.whyNot();
    }
    struct statvfs space {};
    ASSERT_EQ(::statvfs(folder.c_str(), &space), 0);
    const std::uint64_t freeBytes = std::uint64_t{space.f_bavail} * space.f_frsize;
    ASSERT_GT(freeBytes, 0u);
    // A take block holds 16 frames in at most 16 bytes: three frames a free byte never fit.
    const auto tooLong = static_cast<std::uint32_t>(3 * freeBytes);
    struct Refusal {
        std::string wave;
        std::string target;
        std::string error;
    };
    const std::vector<Refusal> refusals = {
        {fixture.wave("r48.wav", 1, 48000, 48000 * 2), "01 MOUNTED/5.1 FAST.wav",
         "Invalid argument"},
        {fixture.wave("short.wav", 1, 44100, 44096), "01 MOUNTED/5.1.wav", "Invalid argument"},
        {fixture.wave("locked.wav", 1, 44100, 44100 * 2), "02 LOCKED/5.1.wav",
         "Read-only file system"},
        {fixture.wave("big.wav", 1, 44100, tooLong), "01 MOUNTED/5.1 BIG.wav",
         "No space left on device"},
    };
    for (const auto& refusal : refusals) {
        const auto copy = runCommand("cp " + shellQuote(refusal.wave) + " " +
                                     shellQuote(folder + "/" + refusal.target));
        EXPECT_NE(copy.status, 0) << refusal.target;
        EXPECT_NE(copy.output.find(refusal.error), std::string::npos) << copy.output;
    }
    EXPECT_NE(mount.log().find("Sampling frequency is not 44100Hz"), std::string::npos)
        << mount.log();
    EXPECT_NE(mount.log().find("Specified wave is too short"), std::string::npos);
    // Deleting is not offered.
    EXPECT_NE(::unlink((folder + "/01 MOUNTED/1.1 GUITAR.wav").c_str()), 0);
    EXPECT_EQ(errno, EPERM);
    ASSERT_TRUE(mount.unmount()) << mount.log();
    EXPECT_EQ(readHostFile(image), before);
}

TEST(Mount, RenamingAFileRenamesTheTrackAndOneWriterHoldsTheDisk) {
    KORVO_SKIP_WITHOUT_FAT_TOOLS();
    MountDisk fixture;
    const std::string image = fixture.image();
    const std::string folder = fixture.file("mnt");
    CliMount mount(image, folder);
    if (!mount.mounted()) {
        GTEST_SKIP() << mount.whyNot();
    }
    const std::string song = folder + "/01 MOUNTED/";
    std::error_code error;
    std::filesystem::rename(song + "1.1 GUITAR.wav", song + "1.1 BASS.wav", error);
    EXPECT_FALSE(error) << error.message();
    EXPECT_TRUE(std::filesystem::exists(song + "1.1 BASS.wav"));
    std::filesystem::rename(song + "1.1 BASS.wav", song + "2.2 BASS.wav", error);
    EXPECT_EQ(error.value(), EPERM);

    // While the mount writes the disk, no other command may, nor a second mount.
    const auto import = runCli({"import", image, "--song", "1", "--track", "5.1",
                                fixture.wave("late.wav", 1, 44100, 2 * 44100)});
    EXPECT_NE(import.exitStatus, 0);
    EXPECT_NE(import.err.find("being written by another korvowav program"), std::string::npos)
        << import.err;
    CliMount second(image, fixture.file("mnt2"));
    EXPECT_FALSE(second.mounted());

    ASSERT_TRUE(mount.unmount()) << mount.log();
    const auto tracks = json::parse(runCli({"tracks", image, "--song", "1", "--json"}).out);
    EXPECT_EQ(tracks[0]["name"], "BASS");
    EXPECT_TRUE(fsckFat(image).clean());
}

// The disk given as a folder, as every command takes it: the image mounted by fusefat, the
// volume behind it given with --device.
TEST(Mount, ADiskGivenAsAFolderIsServedAndWrittenLikeAnImage) {
    KORVO_SKIP_WITHOUT_FAT_TOOLS();
    MountDisk fixture;
    const std::string image = fixture.image();
    const auto guitar = fixture.exported(image, 1, "1.1");
    const std::string wave = fixture.wave("SOLO.wav", 1, 44100, 44100 + 5);
    const std::string disk = fixture.file("disk");
    FuseMount fusefat(image, disk);
    if (!fusefat.mounted()) {
        GTEST_SKIP() << fusefat.whyNot();
    }
    const std::string folder = fixture.file("mnt");
    std::vector<std::uint8_t> solo;
    {
        CliMount mount(disk, folder, {"--device", image});
        if (!mount.mounted()) {
            GTEST_SKIP() << mount.whyNot();
        }
        const std::string song = folder + "/01 MOUNTED/";
        EXPECT_EQ(readHostFile(song + "1.1 GUITAR.wav"), guitar);
        const auto copy =
            runCommand("cp " + shellQuote(wave) + " " + shellQuote(song + "1.2 SOLO.wav"));
        EXPECT_EQ(copy.status, 0) << copy.output << mount.log();
        solo = readHostFile(song + "1.2 SOLO.wav");
        const auto import =
            runCli({"import", disk, "--device", image, "--song", "1", "--track", "5.1", wave});
        EXPECT_NE(import.exitStatus, 0);
        EXPECT_NE(import.err.find("being written by another korvowav program"), std::string::npos)
            << import.err;
        ASSERT_TRUE(mount.unmount()) << mount.log();
    }
    const auto tracks =
        json::parse(runCli({"tracks", disk, "--device", image, "--song", "1", "--json"}).out);
    EXPECT_EQ(tracks[1]["name"], "SOLO");
    EXPECT_EQ(tracks[32]["used"], false);  // 5.1
    const auto exported = runCli({"export", disk, "--device", image, "--song", "1", "--track",
                                  "1.2", "--output", fixture.file("solo.wav"), "--quiet"});
    EXPECT_EQ(exported.exitStatus, 0) << exported.err;
    EXPECT_FALSE(solo.empty());
    EXPECT_EQ(readHostFile(fixture.file("solo.wav")), solo);
    ASSERT_TRUE(fusefat.unmount());
    EXPECT_TRUE(fsckFat(image).clean()) << fsckFat(image).output;
}

// The song's recorder files under their final names (leftover temporary takes are not part of
// the song).
std::map<std::string, std::vector<std::uint8_t>> songState(const std::string& image) {
    auto files = songFiles(image);
    std::erase_if(files, [](const auto& file) {
        const std::string& name = file.first;
        return !(name.ends_with(".QMT") || name.ends_with(".KRV"));
    });
    return files;
}

// The song of `state` is the one of `expected`: the same files with the same bytes, but for an
// event list that may go on past its end (a write grows it before its commit point; readers
// never look past the list's last section). Empty when it is, else the first file that differs.
std::string songDiffers(const std::map<std::string, std::vector<std::uint8_t>>& state,
                        const std::map<std::string, std::vector<std::uint8_t>>& expected) {
    for (const auto& [name, bytes] : expected) {
        const auto found = state.find(name);
        if (found == state.end()) {
            return name + " is missing";
        }
        const auto& now = found->second;
        const bool same =
            name.ends_with("EVENTLS0.KRV")
                ? now.size() >= bytes.size() && std::equal(bytes.begin(), bytes.end(), now.begin())
                : now == bytes;
        if (!same) {
            return name + " differs";
        }
    }
    for (const auto& [name, bytes] : state) {
        if (expected.count(name) == 0) {
            return name + " is new";
        }
    }
    return {};
}

TEST(Mount, KillingTheMountDuringACopyLeavesTheSongAsBeforeOrAsAfter) {
    KORVO_SKIP_WITHOUT_FAT_TOOLS();
    if (!fuseUnavailable().empty()) {
        GTEST_SKIP() << fuseUnavailable();
    }
    MountDisk fixture;
    const std::string pristine = fixture.image(fat::FatType::fat16, "pristine.img");
    const std::string wave = fixture.wave("LONG.wav", 1, 44100, 60 * 44100);
    const auto before = songState(pristine);
    const std::string direct = fixture.file("direct.img");
    std::filesystem::copy_file(pristine, direct);
    ASSERT_EQ(runCli({"import", direct, "--song", "1", "--track", "6.1", wave}).exitStatus, 0);
    const auto after = songState(direct);
    const std::string target = fixture.file("mnt") + "/01 MOUNTED/6.1 LONG.wav";
    const std::string image = fixture.file("killed.img");
    const auto fresh = [&] {
        std::filesystem::copy_file(pristine, image,
                                   std::filesystem::copy_options::overwrite_existing);
    };

    // An uninterrupted copy first, so that the kills fall all over one: the bytes going into
    // the staged file, the takes, the commit.
    fresh();
    std::chrono::duration<double> whole{};
    {
        CliMount mount(image, fixture.file("mnt"));
        ASSERT_TRUE(mount.mounted()) << mount.whyNot();
        const auto start = std::chrono::steady_clock::now();
        ASSERT_EQ(runCommand("cp " + shellQuote(wave) + " " + shellQuote(target)).status, 0);
        whole = std::chrono::steady_clock::now() - start;
        ASSERT_TRUE(mount.unmount());
    }
    int seenBefore = 0;
    int seenAfter = 0;
    int cleanAtOnce = 0;
    for (const double share : {0.2, 0.4, 0.6, 0.75, 0.85, 0.95}) {
        fresh();
        CliMount mount(image, fixture.file("mnt"));
        ASSERT_TRUE(mount.mounted()) << mount.whyNot();
        std::thread copy([&] { runCommand("cp " + shellQuote(wave) + " " + shellQuote(target)); });
        std::this_thread::sleep_for(whole * share);
        mount.kill();
        copy.join();
        cleanAtOnce += fsckFat(image).clean() ? 1 : 0;
        // The next command that opens the song settles the interrupted write: the song is the
        // old or the new one, and nothing is left over, not even clusters no file reaches.
        const auto opened = runCli({"tracks", image, "--song", "1", "--json"});
        EXPECT_EQ(opened.exitStatus, 0) << opened.err;
        const auto state = songState(image);
        const std::string where = "killed at " + std::to_string(share) + " of the copy";
        const std::string notBefore = songDiffers(state, before);
        const std::string notAfter = songDiffers(state, after);
        EXPECT_TRUE(notBefore.empty() || notAfter.empty())
            << where << ": not as before (" << notBefore << ") nor after (" << notAfter << ")";
        seenBefore += notBefore.empty() ? 1 : 0;
        seenAfter += notAfter.empty() ? 1 : 0;
        const auto check = fsckFat(image);
        EXPECT_TRUE(check.clean()) << where << ": " << check.output;
    }
    RecordProperty("before", seenBefore);
    RecordProperty("after", seenAfter);
    RecordProperty("fsck_clean_before_reopening", cleanAtOnce);
}

}  // namespace
}  // namespace korvo::test
