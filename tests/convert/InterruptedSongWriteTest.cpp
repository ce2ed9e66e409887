// A song write cut short at any sector write (the power goes, the card is pulled) must leave
// exactly the old song or exactly the new one: names, events and, for the new one, the bytes of
// its takes. Every write an import or a rename makes to a FAT image is recorded; the image is
// then put into the state after each prefix of those writes (and, for a sample, with the writes
// since the last flush landing in any order), checked with fsck.fat, opened as every command
// opens a song, and written once more, which must finish or drop what was interrupted and free
// the clusters the interruption lost.

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <ostream>
#include <random>

#include "disk/DiskLayout.h"
#include "disk/SongCommit.h"
#include "tests/support/EngineFixture.h"
#include "tests/support/FatImages.h"
#include "tests/support/WriteLog.h"
#include "volume/fat/FatFileSystem.h"
#include "volume/fat/ImageDiskFiles.h"

namespace korvo::test {
namespace {

using fat::FatType;

constexpr int kWidth = 5;
constexpr std::uint32_t kWaveFrames = 44100 + 16;  // just long enough to be taken

// Every prefix in a normal build; under the sanitizers (or when asked) every n-th, to keep the
// time in bounds.
std::size_t prefixStride() {
    if (const char* text = std::getenv("KORVOWAV_CRASH_STRIDE")) {
        return std::max(1, std::atoi(text));
    }
#if defined(__SANITIZE_ADDRESS__)
    return 5;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    return 5;
#endif
#endif
    return 1;
}

struct SongState {
    std::array<std::string, kVirtualTracks> names;
    std::vector<std::uint8_t> events;
    bool operator==(const SongState&) const = default;
};

SongState stateOf(const CSong& song) {
    SongState state;
    for (int v = 0; v < kVirtualTracks; ++v)
        state.names[v] = song.name(v);
    state.events = song.events().serialise();
    return state;
}

std::vector<std::uint8_t> readAll(IDiskFiles& disk, const std::string& path) {
    auto stream = disk.open(path, OpenMode::read);
    std::vector<std::uint8_t> bytes(stream ? stream->size().value_or(0) : 0);
    if (!stream || (!bytes.empty() && !stream->read(bytes.data(), bytes.size())))
        return {};
    return bytes;
}

struct Scenario {
    FatType type;
    std::vector<std::uint8_t> tracks;  // empty: rename virtual track 9
    const char* label;
};

void PrintTo(const Scenario& scenario, std::ostream* out) {
    *out << scenario.label;
}

// A QMT disk (names in the song file) with song 0: virtual track 0 plays a take, track 9 is
// empty.
bool makeDisk(const std::string& image, FatType type) {
    DiskFixture folder(kFamilyQmt);
    folder.addSong(songEntry(0, "CRASH", kRate44100, kDataTypeLv1));
    std::array<std::string, kVirtualTracks> names;
    names[0] = "OLDTAKE";
    names[9] = "EMPTY";
    folder.setTrackNames(0, names);
    EventListDescription events;
    events.chains[0] = {takeEvent(0, 0, 300, 0x0002)};
    events.history = {takeEvent(0, 0, 300, 0x0002)};
    folder.setEvents(0, events);
    folder.addTake(0, 0x0002, patternBlocks(kWidth, 300));
    const std::uint32_t cluster = type == FatType::fat32 ? 512 : 2048;
    return imageFromFolder(folder.root(), image, type, cluster, smallVolumeBytes(type, cluster));
}

class InterruptedSongWrite : public testing::TestWithParam<Scenario> {
protected:
    void SetUp() override {
        KORVO_SKIP_WITHOUT_FAT_TOOLS();
        ASSERT_TRUE(makeDisk(image_, GetParam().type));
        const std::uint16_t channels = GetParam().tracks.size() == 2 ? 2 : 1;
        std::vector<std::int16_t> samples;
        for (std::uint32_t i = 0; i < kWaveFrames * channels; ++i)
            samples.push_back(static_cast<std::int16_t>((i * 7919) % 20000 - 10000));
        ASSERT_TRUE(writeWave(wave_, channels, 44100, samples));
    }

    // A converter that opens the image as every command does, its writes kept in `undo`.
    std::unique_ptr<CTrackConverter> open(UndoLog& undo) {
        auto converter = std::make_unique<CTrackConverter>();
        converter->setDiskOpener([this, &undo](const std::string&, const DiskOptions&) {
            return openImageDiskFiles(
                std::make_unique<InterruptedDevice>(openImageDevice(image_), 0, &undo), image_, 0);
        });
        converter->setRootPath(image_);
        if (!converter->refreshSongList() || !converter->refreshSong(0))
            return nullptr;
        return converter;
    }

    // The write under test, with every device write logged.
    bool runWrite(WriteLog& log) {
        auto converter = std::make_unique<CTrackConverter>();
        converter->setPolarity(true);
        converter->setDiskOpener([this, &log](const std::string&, const DiskOptions&) {
            return openImageDiskFiles(
                std::make_unique<RecordingDevice>(openImageDevice(image_), log), image_, 0);
        });
        converter->setRootPath(image_);
        if (!converter->refreshSongList() || !converter->refreshSong(0))
            return false;
        log.writes.clear();
        log.flushes.clear();
        if (GetParam().tracks.empty())
            return converter->renameTrack(9, "RENAMED") == CTrackConverter::RenameResult::renamed;
        converter->setSelectedTracks(GetParam().tracks);
        if (!converter->openInputWave(wave_))
            return false;
        converter->computeImportRange();
        return converter->runImport();
    }

    // The image as it stands: fsck finds nothing worse than lost clusters, the song opens as
    // exactly the old or the new one, and the next write leaves no leftovers, not even lost
    // clusters, and keeps it.
    void checkImage(const std::string& where, bool fsckAfterWrite) {
        const auto check = fsckFat(image_);
        std::string offending;
        EXPECT_TRUE(fsckFindingsHarmless(check.output, offending))
            << where << ": " << offending << "\n"
            << check.output;

        UndoLog undo;
        {
            auto converter = open(undo);
            ASSERT_TRUE(converter) << where << ": the song does not open";
            const SongState now = stateOf(*converter->song());
            const bool isOld = now == old_;
            const bool isNew = now == new_;
            EXPECT_TRUE(isOld || isNew) << where << ": a mix of the old and the new song";
            if (isNew) {
                for (const auto& [path, bytes] : newTakes_)
                    EXPECT_EQ(readAll(*converter->disk(), path), bytes) << where << ": " << path;
            }
            // The next write finishes or drops what was interrupted, and removes what is left.
            EXPECT_EQ(converter->renameTrack(20, "NEXT"), CTrackConverter::RenameResult::renamed)
                << where;
            const auto names = converter->disk()->listFiles("SONG0000.QMT");
            ASSERT_TRUE(names);
            for (const std::string& name : *names) {
                EXPECT_FALSE(isTemporaryTakeName(name) || name == kCommitRecordFileName)
                    << where << ": " << name;
            }
            ASSERT_TRUE(converter->refreshSong(0));
            SongState after = stateOf(*converter->song());
            after.names[20].clear();
            EXPECT_TRUE(after == (isNew ? new_ : old_)) << where << ": changed by the next write";
        }
        if (fsckAfterWrite) {
            const auto later = fsckFat(image_);
            EXPECT_TRUE(later.clean()) << where << ", after the next write:\n" << later.output;
        }
        ASSERT_TRUE(undoWrites(image_, undo));
    }

    TemporaryFolder folder_;
    std::string image_ = folder_.path() + "/disk.img";
    std::string wave_ = folder_.path() + "/newtake.wav";
    SongState old_;
    SongState new_;
    std::map<std::string, std::vector<std::uint8_t>> newTakes_;  // path on the disk, bytes
};

TEST_P(InterruptedSongWrite, EveryPrefixOfItsWritesGivesTheOldOrTheNewSong) {
    {
        UndoLog none;
        auto converter = open(none);
        ASSERT_TRUE(converter);
        old_ = stateOf(*converter->song());
    }
    WriteLog log;
    ASSERT_TRUE(runWrite(log));
    ASSERT_TRUE(fsckFat(image_).clean()) << fsckFat(image_).output;
    {
        UndoLog none;
        auto converter = open(none);
        ASSERT_TRUE(converter);
        new_ = stateOf(*converter->song());
        for (std::uint8_t v : GetParam().tracks) {
            const auto& chain = converter->song()->events().chain(v);
            ASSERT_EQ(chain.count, 1);
            const std::string path =
                "SONG0000.QMT/" +
                takeFileName(converter->song()->events().slot(chain.head).firstCluster);
            newTakes_[path] = readAll(*converter->disk(), path);
            ASSERT_FALSE(newTakes_[path].empty());
        }
    }
    ASSERT_NE(old_, new_);

    ImageWriter writer(image_);
    ASSERT_TRUE(writer.ok());
    ASSERT_TRUE(writer.revert(log, log.writes.size()));
    const std::size_t total = log.writes.size();
    const std::size_t stride = prefixStride();
    std::mt19937 random(static_cast<unsigned>(total));
    int reordered = 0;
    int couldReorder = 0;
    for (std::size_t k = 1; k <= total; ++k) {
        ASSERT_TRUE(writer.put(log.writes[k - 1]));
        const std::size_t base = writer.depth();
        if (k % stride == 0 || k == total) {
            checkImage("after write " + std::to_string(k) + " of " + std::to_string(total),
                       k % (4 * stride) == 0);
        }
        // The power goes while the disk's cache holds the writes since the last flush: any of
        // them may have reached the disk, in any order.
        const std::size_t first = log.firstUnflushed(k);
        couldReorder += k - first >= 2 ? 1 : 0;
        if (k - first >= 2 && (reordered == 0 || random() % 8 == 0) && reordered < 25) {
            ++reordered;
            for (std::size_t i = k; i-- > first;)
                ASSERT_TRUE(writer.put(log.writes[i].offset, log.writes[i].before));
            std::vector<std::size_t> landed;
            for (std::size_t i = first; i < k; ++i)
                if (random() % 2 == 0)
                    landed.push_back(i);
            std::shuffle(landed.begin(), landed.end(), random);
            for (std::size_t i : landed)
                ASSERT_TRUE(writer.put(log.writes[i]));
            checkImage(
                "writes " + std::to_string(first + 1) + " to " + std::to_string(k) + " reordered",
                false);
            ASSERT_TRUE(writer.undoTo(base));
        }
        if (HasFailure())
            break;
    }
    EXPECT_EQ(reordered > 0, couldReorder > 0);
    RecordProperty("writes", static_cast<int>(total));
    RecordProperty("reordered", reordered);
}

// Marks a free cluster as a chain of its own that no file reaches.
void loseCluster(const std::string& image) {
    std::string reason;
    auto fs = fat::FatFileSystem::mount(openImageDevice(image), 0, reason);
    ASSERT_TRUE(fs) << reason;
    const auto free = fs->fat().largestFreeRun();
    ASSERT_TRUE(free);
    fs->fat().set(free->start, fat::endOfChainMark(fs->geometry().type));
    ASSERT_TRUE(fs->sync());
}

TEST(LostClusters, AreFreedOnlyWhereAWriteWasInterrupted) {
    KORVO_SKIP_WITHOUT_FAT_TOOLS();
    TemporaryFolder folder;
    const std::string image = folder.path() + "/disk.img";
    ASSERT_TRUE(makeDisk(image, FatType::fat16));
    loseCluster(image);
    CTrackConverter converter;
    converter.setRootPath(image);
    auto renameOnce = [&](const std::string& name) {
        ASSERT_TRUE(converter.refreshSongList() && converter.refreshSong(0));
        ASSERT_EQ(converter.renameTrack(9, name), CTrackConverter::RenameResult::renamed);
    };
    // Nothing shows an interrupted write: the lost cluster is the volume's own (the recorder
    // left it) and stays.
    renameOnce("FIRST");
    EXPECT_NE(fsckFat(image).output.find("Reclaimed 1 unused cluster"), std::string::npos)
        << fsckFat(image).output;

    // An empty temporary take is what a write cut off before naming its clusters leaves.
    ASSERT_TRUE(mcopyBytesIn(image, {}, "SONG0000.QMT/TAKEXXXX.KRV.TMP09"));
    renameOnce("SECOND");
    EXPECT_TRUE(fsckFat(image).clean()) << fsckFat(image).output;
    const auto names = mdir(image, "SONG0000.QMT");
    ASSERT_TRUE(names);
    for (const std::string& name : names->longNames) {
        EXPECT_FALSE(isTemporaryTakeName(name)) << name;
    }
}

INSTANTIATE_TEST_SUITE_P(
    ImportsAndRenames, InterruptedSongWrite,
    testing::Values(Scenario{FatType::fat12, {0}, "Fat12ImportReplacingOneTrack"},
                    Scenario{FatType::fat12, {0, 9}, "Fat12ImportIntoAFullAndAnEmptyTrack"},
                    Scenario{FatType::fat16, {9}, "Fat16ImportOntoAnEmptyTrack"},
                    Scenario{FatType::fat16, {0, 9}, "Fat16ImportIntoAFullAndAnEmptyTrack"},
                    Scenario{FatType::fat32, {0}, "Fat32ImportReplacingOneTrack"},
                    Scenario{FatType::fat32, {0, 9}, "Fat32ImportIntoAFullAndAnEmptyTrack"},
                    Scenario{FatType::fat12, {}, "Fat12Rename"},
                    Scenario{FatType::fat16, {}, "Fat16Rename"},
                    Scenario{FatType::fat32, {}, "Fat32Rename"}),
    [](const testing::TestParamInfo<Scenario>& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace korvo::test
