// korvowav-cli.exe of the Windows build, run under Wine, against the Linux korvowav-cli: every
// command on the same inputs (FAT12, FAT16 and FAT32 images and a whole-disk image, made by
// mkfs.fat and mtools; waves by sox) must print the same and write the same bytes. The Windows
// program is given drive-letter paths (Z:\...) with spaces and non-ASCII characters.
//
// Needs build-windows/bin/korvowav-cli.exe (make windows) and wine64; skipped without them.

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "disk/Status.h"
#include "tests/support/DiskFixture.h"
#include "tests/support/EngineFixture.h"
#include "tests/support/FatImages.h"
#include "tests/support/Sox.h"

namespace korvo::test {
namespace {

namespace fs = std::filesystem;

constexpr std::uint32_t kSecond = 44100 >> 4;
constexpr int kWidth = 5;
// Both programs stamp directory entries with this moment.
constexpr const char* kStampTime = "1700000000";

std::string windowsProgram() {
    const char* given = std::getenv("KORVOWAV_WINDOWS_CLI");
    return given && *given ? given : KORVOWAV_SOURCE_DIR "/build-windows/bin/korvowav-cli.exe";
}

std::string wineProgram() {
    for (const char* candidate : {"/usr/bin/wine64", "/usr/lib/wine/wine64", "/usr/bin/wine"}) {
        if (fs::exists(candidate)) {
            return candidate;
        }
    }
    return {};
}

// "Z:\tmp\x y" for "/tmp/x y": Wine's drive Z: is the root of the Linux file system.
std::string drivePath(const std::string& linuxPath) {
    std::string path = "Z:" + linuxPath;
    for (char& c : path) {
        c = c == '/' ? '\\' : c;
    }
    return path;
}

struct ProgramRun {
    int status = -1;
    std::string out;
    std::string err;
};

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The console's line ends (CRLF on Windows) do not count; the bytes of files do.
std::string withoutCarriageReturns(std::string text) {
    std::erase(text, '\r');
    return text;
}

class Programs {
public:
    explicit Programs(std::string scratch) : scratch_(std::move(scratch)) {}

    ProgramRun linux(const std::vector<std::string>& arguments) {
        return run(shellQuote(KORVOWAV_CLI_PATH), arguments);
    }
    ProgramRun windows(const std::vector<std::string>& arguments) {
        return run(shellQuote(wineProgram()) + " " + shellQuote(windowsProgram()), arguments);
    }

private:
    ProgramRun run(const std::string& program, const std::vector<std::string>& arguments) {
        std::string command = "SOURCE_DATE_EPOCH=" + std::string(kStampTime) +
                              " WINEDEBUG=-all WINEPREFIX=" + shellQuote(prefix()) + " " + program;
        for (const auto& argument : arguments) {
            command += " " + shellQuote(argument);
        }
        const std::string out = scratch_ + "/out.txt";
        const std::string err = scratch_ + "/err.txt";
        command += " >" + shellQuote(out) + " 2>" + shellQuote(err) + " </dev/null";
        ProgramRun result;
        const int status = std::system(command.c_str());
        result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        result.out = withoutCarriageReturns(slurp(out));
        result.err = withoutCarriageReturns(slurp(err));
        return result;
    }

    // One Wine prefix for all tests, made once: the one the environment names (make
    // test-windows names the Windows build's), else one inside this build folder.
    static std::string prefix() {
        static const std::string made = [] {
            const char* given = std::getenv("WINEPREFIX");
            const std::string path = given && *given ? std::string(given) : KORVOWAV_WINE_PREFIX;
            if (!fs::exists(path + "/system.reg")) {
                const std::string boot = "WINEDEBUG=-all WINEPREFIX=" + shellQuote(path) + " " +
                                         shellQuote(wineProgram()) + " wineboot -i >/dev/null 2>&1";
                (void)std::system(boot.c_str());
            }
            return path;
        }();
        return made;
    }

    std::string scratch_;
};

// A KRV song with takes on 1.1 and 2.1, an earlier take of 1.1 in history group 3 and a take no
// event refers to.
std::string recorderFolder(DiskFixture& disk) {
    const EventRecord earlier = takeEvent(0, 0, kSecond + 5, 0x0110, 16);
    const EventRecord now = takeEvent(0, 0, kSecond + 1, 0x0120);
    const EventRecord second = takeEvent(8, 0, 2 * kSecond, 0x0130);
    disk.addSong(songEntry(0, "BOTH"));
    disk.addSong(songEntry(1, "EMPTY"));
    EventListDescription events;
    events.history = {inGroup(earlier, 3), rangeRecord(0, 0, kSecond + 5, 4), inGroup(now, 4)};
    events.chains[0] = {now};
    events.chains[8] = {second};
    disk.setEvents(0, events);
    disk.setEvents(1, EventListDescription{});
    disk.addTake(0, 0x0110, encodeBlocks(musicSignal(2 * kSecond, 1), kWidth));
    disk.addTake(0, 0x0120, encodeBlocks(musicSignal(kSecond + 1, 2), kWidth));
    disk.addTake(0, 0x0130, encodeBlocks(musicSignal(2 * kSecond, 3), kWidth));
    disk.addTake(0, 0x0140, encodeBlocks(musicSignal(kSecond / 2, 4), kWidth));
    return disk.root();
}

// The volume behind a partition table: 1 MiB of disk before it, type 06 in the first entry.
bool wholeDisk(const std::string& volume, const std::string& disk) {
    constexpr std::uint32_t kFirst = 2048;
    const auto bytes = readHostFile(volume);
    const std::size_t header = std::size_t{kFirst} * 512;
    std::vector<std::uint8_t> image(header + bytes.size(), 0);
    std::memcpy(image.data() + header, bytes.data(), bytes.size());
    std::uint8_t* entry = image.data() + fat::kPartitionTableOffset;
    entry[4] = 0x06;
    writeLittleEndian32(entry + 8, kFirst);
    writeLittleEndian32(entry + 12, static_cast<std::uint32_t>(bytes.size() / 512));
    image[510] = 0x55;
    image[511] = 0xAA;
    return writeHostFile(disk, image);
}

struct Shape {
    const char* name;
    fat::FatType type;
    std::uint32_t clusterBytes;
    bool partitioned;
};

class WindowsBuild : public ::testing::TestWithParam<Shape> {
protected:
    void SetUp() override {
        if (wineProgram().empty() || !fs::exists(windowsProgram())) {
            GTEST_SKIP() << "wine64 or " << windowsProgram()
                         << " missing: run 'make windows' (and install wine64) first";
        }
        KORVO_SKIP_WITHOUT_FAT_TOOLS();
        if (!soxAvailable()) {
            GTEST_SKIP() << "sox not installed";
        }
        // Each build works in its own folder, named with spaces and non-ASCII characters.
        linuxDir_ = work_.path() + "/linux dïsk";
        windowsDir_ = work_.path() + "/wïndows dïsk";
        fs::create_directories(linuxDir_);
        fs::create_directories(windowsDir_);
        const Shape shape = GetParam();
        const std::string volume = work_.path() + "/volume.img";
        ASSERT_TRUE(imageFromFolder(recorderFolder(disk_), volume, shape.type, shape.clusterBytes,
                                    smallVolumeBytes(shape.type, shape.clusterBytes)));
        const std::string source = work_.path() + "/source.img";
        if (shape.partitioned) {
            ASSERT_TRUE(wholeDisk(volume, source));
        } else {
            fs::rename(volume, source);
        }
        fs::copy_file(source, linuxImage());
        fs::copy_file(source, windowsImage());
        std::vector<std::int16_t> stereo;
        for (const auto sample : musicSignal(kSecond + 10, 7)) {
            stereo.push_back(sample);
            stereo.push_back(static_cast<std::int16_t>(-sample / 2));
        }
        ASSERT_TRUE(soxWrite(wave(), 2, 44100, stereo));
    }

    std::string linuxImage() const { return linuxDir_ + "/récorder.img"; }
    std::string windowsImage() const { return windowsDir_ + "/récorder.img"; }
    std::string wave() const { return work_.path() + "/the tāke.wav"; }

    // The same command on both programs: same exit status, same printed text (with the paths
    // each was given put back to one name), and the same bytes in the images.
    void same(const std::vector<std::string>& linuxArguments,
              const std::vector<std::string>& windowsArguments, int status = 0) {
        const ProgramRun onLinux = programs_.linux(linuxArguments);
        const ProgramRun onWindows = programs_.windows(windowsArguments);
        EXPECT_EQ(onLinux.status, status) << onLinux.err;
        EXPECT_EQ(onWindows.status, onLinux.status) << onLinux.err << "\n---\n" << onWindows.err;
        EXPECT_EQ(unified(onWindows.out, true), unified(onLinux.out, false));
        EXPECT_EQ(unified(onWindows.err, true), unified(onLinux.err, false));
        lastError_ = onLinux.err;
        const std::string& command = linuxArguments.front();
        if (command != "info" && command != "songs" && command != "tracks" &&
            command != "history" && command.rfind("export", 0) != 0) {
            expectSameImages(command);
        }
    }
    void expectSameImages(const std::string& after) {
        std::ifstream a(linuxImage(), std::ios::binary);
        std::ifstream b(windowsImage(), std::ios::binary);
        std::vector<char> left(1 << 20);
        std::vector<char> right(1 << 20);
        bool equal = a && b;
        while (equal && a && b) {
            a.read(left.data(), static_cast<std::streamsize>(left.size()));
            b.read(right.data(), static_cast<std::streamsize>(right.size()));
            equal =
                a.gcount() == b.gcount() &&
                std::memcmp(left.data(), right.data(), static_cast<std::size_t>(a.gcount())) == 0;
        }
        EXPECT_TRUE(equal && a.eof() && b.eof()) << "the images differ after " << after;
    }
    // A command run on each build's image, with the rest of the arguments shared.
    void sameOnDisk(const std::string& command, std::vector<std::string> rest, int status = 0) {
        std::vector<std::string> onLinux{command, linuxImage()};
        std::vector<std::string> onWindows{command, drivePath(windowsImage())};
        onLinux.insert(onLinux.end(), rest.begin(), rest.end());
        onWindows.insert(onWindows.end(), rest.begin(), rest.end());
        same(onLinux, onWindows, status);
    }
    void expectSameFile(const std::string& name) {
        ASSERT_TRUE(fs::exists(linuxDir_ + "/" + name)) << name << ": " << lastError_;
        EXPECT_TRUE(readHostFile(linuxDir_ + "/" + name) == readHostFile(windowsDir_ + "/" + name))
            << name << " differs";
    }

    std::string unified(std::string text, bool windows) const {
        for (const std::string& from :
             windows ? std::vector<std::string>{drivePath(windowsDir_), windowsDir_}
                     : std::vector<std::string>{linuxDir_}) {
            for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at)) {
                text.replace(at, from.size(), "DIR");
            }
        }
        if (windows) {
            const std::string drive = drivePath(work_.path());
            for (auto at = text.find(drive); at != std::string::npos; at = text.find(drive, at)) {
                text.replace(at, drive.size(), work_.path());
            }
            for (char& c : text) {
                c = c == '\\' ? '/' : c;
            }
        }
        return text;
    }

    TemporaryFolder work_;
    DiskFixture disk_{kFamilyKrv};
    std::string lastError_;
    std::string linuxDir_;
    std::string windowsDir_;
    Programs programs_{work_.path()};
};

// Listing, export and writing commands in the order a user runs them, each on both builds.
TEST_P(WindowsBuild, EveryCommandPrintsAndWritesTheSame) {
    sameOnDisk("info", {"--json"});
    sameOnDisk("songs", {});
    if (GetParam().partitioned) {
        sameOnDisk("songs", {"--partition", "1", "--json"});
        sameOnDisk("songs", {"--partition", "2"}, kStatusNotKorvoDisk);
    }
    sameOnDisk("tracks", {"--song", "1", "--json"});
    sameOnDisk("history", {"--song", "1", "--json"});
    sameOnDisk("history", {"--song", "1", "--orphans"});

    for (const std::string name : {"both tracks.wav", "both tracks.aif"}) {
        same({"export", linuxImage(), "--song", "1", "--track", "1.1", "--track", "2.1", "--output",
              linuxDir_ + "/" + name},
             {"export", drivePath(windowsImage()), "--song", "1", "--track", "1.1", "--track",
              "2.1", "--output", drivePath(windowsDir_ + "/" + name)});
        expectSameFile(name);
    }
    same({"export", linuxImage(), "--song", "1", "--track", "1.1", "--group", "1", "--output",
          linuxDir_ + "/group 1.wav"},
         {"export", drivePath(windowsImage()), "--song", "1", "--track", "1.1", "--group", "1",
          "--output", drivePath(windowsDir_ + "/group 1.wav")});
    expectSameFile("group 1.wav");
    same({"export-take", linuxImage(), "--song", "1", "TAKE0140.KRV", "--output",
          linuxDir_ + "/orphan.aiff"},
         {"export-take", drivePath(windowsImage()), "--song", "1", "TAKE0140.KRV", "--output",
          drivePath(windowsDir_ + "/orphan.aiff")});
    expectSameFile("orphan.aiff");
    // The Windows program also takes the Linux form of a path (Wine maps it to Z:).
    same(
        {"export-all", linuxImage(), "--song", "1", "--output-dir", linuxDir_ + "/all tracks"},
        {"export-all", windowsImage(), "--song", "1", "--output-dir", windowsDir_ + "/all tracks"});
    expectSameFile("all tracks/1.1 1 - 1.wav");
    expectSameFile("all tracks/2.1 2 - 1.wav");

    // The wave's name, from either form of its path, names the virtual tracks.
    same({"import", linuxImage(), "--song", "1", "--track", "3.1", "--track", "4.1", wave()},
         {"import", drivePath(windowsImage()), "--song", "1", "--track", "3.1", "--track", "4.1",
          drivePath(wave())});
    sameOnDisk("import", {"--song", "2", "--track", "1.1", "--track", "2.1", wave()});
    sameOnDisk("rename", {"--song", "1", "--track", "3.1", "NEWNAME"});
    sameOnDisk("restore", {"--song", "1", "--track", "1.1", "--group", "1"});
    sameOnDisk("tracks", {"--song", "1", "--json"});
    // A refused import changes nothing on either.
    sameOnDisk("import", {"--song", "1", "--track", "5.1", work_.path() + "/missing.wav"},
               kStatusFailedReadWave);
    expectSameImages("every command");
    // Without the conversion front the Windows program refuses what only the front can do.
    EXPECT_EQ(programs_
                  .windows({"import", drivePath(windowsImage()), "--song", "2", "--track", "3.1",
                            drivePath(wave()), "--channels", "2"})
                  .status,
              64);
}

INSTANTIATE_TEST_SUITE_P(Images, WindowsBuild,
                         ::testing::Values(Shape{"Fat12", fat::FatType::fat12, 32768, false},
                                           Shape{"Fat16", fat::FatType::fat16, 32768, false},
                                           Shape{"Fat32", fat::FatType::fat32, 512, false},
                                           Shape{"WholeDisk", fat::FatType::fat16, 32768, true}),
                         [](const auto& info) { return std::string(info.param.name); });

// The folder route: a recorder disk's files in a host folder, read through the host's file
// calls (UTF-16 on Windows), exported the same.
TEST(WindowsBuildFolder, FolderDiskListsAndExportsTheSame) {
    if (wineProgram().empty() || !fs::exists(windowsProgram())) {
        GTEST_SKIP() << "wine64 or " << windowsProgram() << " missing: run 'make windows' first";
    }
    DiskFixture disk{kFamilyKrv};
    const std::string root = recorderFolder(disk);
    TemporaryFolder work;
    Programs programs(work.path());
    for (const std::vector<std::string>& command :
         {std::vector<std::string>{"songs", "--json"}, {"tracks", "--song", "1", "--json"}}) {
        std::vector<std::string> onLinux{command[0], root};
        std::vector<std::string> onWindows{command[0], drivePath(root)};
        onLinux.insert(onLinux.end(), command.begin() + 1, command.end());
        onWindows.insert(onWindows.end(), command.begin() + 1, command.end());
        const ProgramRun linuxRun = programs.linux(onLinux);
        const ProgramRun windowsRun = programs.windows(onWindows);
        EXPECT_EQ(linuxRun.status, 0) << linuxRun.err;
        EXPECT_EQ(windowsRun.status, 0) << windowsRun.err;
        EXPECT_EQ(windowsRun.out, linuxRun.out);
    }
    const std::string linuxWave = work.path() + "/från linux.wav";
    const std::string windowsWave = work.path() + "/från windows.wav";
    ASSERT_EQ(programs
                  .linux({"export", root, "--song", "1", "--track", "1.1", "--track", "2.1",
                          "--output", linuxWave})
                  .status,
              0);
    const ProgramRun exported =
        programs.windows({"export", drivePath(root), "--song", "1", "--track", "1.1", "--track",
                          "2.1", "--output", drivePath(windowsWave)});
    ASSERT_EQ(exported.status, 0) << exported.err;
    EXPECT_TRUE(readHostFile(linuxWave) == readHostFile(windowsWave));
}

TEST(WindowsBuildDemo, MakeDemoDiskWritesTheSameImage) {
    if (wineProgram().empty() || !fs::exists(windowsProgram())) {
        GTEST_SKIP() << "wine64 or " << windowsProgram() << " missing: run 'make windows' first";
    }
    TemporaryFolder work;
    Programs programs(work.path());
    const std::string linux = work.path() + "/démo linux.img";
    const std::string windows = work.path() + "/démo windows.img";
    ASSERT_EQ(programs.linux({"make-demo-disk", "--quiet", linux}).status, 0);
    const ProgramRun made = programs.windows({"make-demo-disk", "--quiet", drivePath(windows)});
    ASSERT_EQ(made.status, 0) << made.err;
    EXPECT_TRUE(readHostFile(linux) == readHostFile(windows));
}

}  // namespace
}  // namespace korvo::test
