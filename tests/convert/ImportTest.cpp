// Import end to end: wave files into fixture disks (FAT images made with mkfs.fat, and folders
// with a disk whose failures the test chooses), checked on the disk afterwards: takes, events,
// names, and that a refused, failed or cancelled import leaves the disk as it was.

#include <gtest/gtest.h>

#include <filesystem>

#include "disk/DiskLayout.h"
#include "volume/FolderDiskFiles.h"
#include "disk/Status.h"
#include "disk/TakeFile.h"
#include "tests/support/EngineFixture.h"
#include "tests/support/FatImages.h"
#include "tests/support/FaultyDiskFiles.h"
#include "volume/fat/ImageDiskFiles.h"

namespace korvo::test {
namespace {

constexpr int kWidth = 5;  // LV1
constexpr std::uint32_t kSecondFrames = 44100;

// Interleaved frames of `channels` channels, each channel its own signal.
std::vector<std::int16_t> interleavedMusic(std::uint16_t channels, std::uint32_t frames) {
    const std::uint32_t blocks = (frames + 15) / 16;
    std::vector<std::vector<std::int16_t>> signals;
    for (std::uint16_t c = 0; c < channels; ++c) {
        signals.push_back(musicSignal(blocks, 10 + c));
    }
    std::vector<std::int16_t> interleaved;
    for (std::uint32_t i = 0; i < frames; ++i) {
        for (std::uint16_t c = 0; c < channels; ++c) {
            interleaved.push_back(signals[c][i]);
        }
    }
    return interleaved;
}

// Channel c of interleaved frames, padded with zeros to whole blocks, polarity inverted.
std::vector<std::int16_t> channelAsRecorded(const std::vector<std::int16_t>& interleaved,
                                            std::uint16_t channels, std::uint16_t c) {
    const std::size_t frames = interleaved.size() / channels;
    std::vector<std::int16_t> samples((frames + 15) / 16 * 16, 0);
    for (std::size_t i = 0; i < frames; ++i) {
        samples[i] = inverted(interleaved[i * channels + c]);
    }
    return samples;
}

// A KRV-family recorder disk (32 KiB clusters) as a FAT16 image, with song 0 at 44100 Hz LV1.
struct ImageDisk {
    TemporaryFolder folder;
    std::string image = folder.path() + "/disk.img";
    explicit ImageDisk(std::uint8_t flags = kRate44100,
                       const EventListDescription* events = nullptr) {
        DiskFixture disk(kFamilyKrv);
        disk.addSong(songEntry(0, "IMPORT", flags, kDataTypeLv1));
        if (events) {
            disk.setEvents(0, *events);
        }
        ok = imageFromFolder(disk.root(), image, fat::FatType::fat16, 32768,
                             smallVolumeBytes(fat::FatType::fat16, 32768));
    }
    std::string wave(const std::string& name) const { return folder.path() + "/" + name; }
    std::vector<std::string> songFolder() const {
        auto listing = mdir(image, "SONG0000.KRV");
        return listing ? listing->shortNames : std::vector<std::string>{};
    }
    bool ok = false;
};

std::unique_ptr<CTrackConverter> readyToImport(const std::string& disk, const std::string& wave,
                                               std::vector<std::uint8_t> tracks,
                                               IDiskFiles* replacement = nullptr) {
    auto converter = converterOn(disk, 0, replacement);
    converter->setSelectedTracks(std::move(tracks));
    EXPECT_TRUE(converter->openInputWave(wave)) << wave;
    converter->computeImportRange();
    return converter;
}

TEST(Import, StereoWaveIntoTwoTracksPutsLeftOnTheLowerOneAndNamesBoth) {
    KORVO_SKIP_WITHOUT_FAT_TOOLS();
    ImageDisk disk;
    ASSERT_TRUE(disk.ok);
    const std::uint32_t frames = kSecondFrames + 1000;  // not a multiple of 16
    const auto music = interleavedMusic(2, frames);
    ASSERT_TRUE(writeWave(disk.wave("overdubs.wav"), 2, 44100, music));

    auto converter = readyToImport(disk.image, disk.wave("overdubs.wav"), {3, 17});
    EXPECT_EQ(converter->blockRange().end, (frames + 15) / 16);
    ASSERT_TRUE(converter->runImport()) << converter->status();
    EXPECT_EQ(converter->status(), kStatusOk);
    EXPECT_EQ(converter->song()->name(3), "overdu-L");
    EXPECT_EQ(converter->song()->name(17), "overdu-R");

    // What the recorder finds: the takes named after their first clusters, whose blocks
    // decode to the wave's channels as the encoder reconstructs them, and one event each.
    auto files = openImageDiskFiles(disk.image, 0);
    CSong song(converter->song()->entry(), kFamilyKrv);
    ASSERT_TRUE(song.read(*files));
    const auto geometry = *TakeGeometry::of(kFamilyKrv, kWidth);
    for (int k = 0; k < 2; ++k) {
        const int v = k == 0 ? 3 : 17;
        ASSERT_TRUE(song.used(v));
        const ListHeader& chain = song.events().chain(v);
        ASSERT_EQ(chain.count, 1);
        const EventRecord& event = song.events().slot(chain.head);
        EXPECT_EQ(event.start, 0u);
        EXPECT_EQ(event.end, (frames + 15) / 16);
        EXPECT_EQ(event.lastClusterBlocks, event.end % geometry.blocksPerCluster);
        const std::string takePath = "SONG0000.KRV/" + takeFileName(event.firstCluster);
        const auto clusters = mshowfat(disk.image, takePath);
        ASSERT_TRUE(clusters) << takePath;
        EXPECT_EQ(clusters->front(), event.firstCluster);
        EXPECT_EQ(clusters->back(), event.lastCluster);
        EXPECT_EQ(clusters->size(), event.clusterCount);

        const auto expectedBlocks =
            encodeBlocks(channelAsRecorded(music, 2, static_cast<std::uint16_t>(k)), kWidth);
        const auto bytes = mcopyOut(disk.image, takePath);
        ASSERT_TRUE(bytes);
        EXPECT_EQ(*bytes, takeFileBytes(kFamilyKrv, kWidth, expectedBlocks));
    }
    // The history list holds the two event copies under one new group.
    EXPECT_EQ(song.events().history().count, 2);
    EXPECT_TRUE(fsckFat(disk.image).clean()) << fsckFat(disk.image).output;
    for (const auto& name : disk.songFolder()) {
        EXPECT_EQ(name.find("TMP"), std::string::npos) << name;
    }
}

TEST(Import, ExportOfAnImportGivesTheCodecReconstructionBack) {
    KORVO_SKIP_WITHOUT_FAT_TOOLS();
    ImageDisk disk;
    ASSERT_TRUE(disk.ok);
    const std::uint32_t frames = 2 * kSecondFrames;
    const auto music = interleavedMusic(1, frames);
    ASSERT_TRUE(writeWave(disk.wave("take.wav"), 1, 44100, music));
    auto converter = readyToImport(disk.image, disk.wave("take.wav"), {0});
    ASSERT_TRUE(converter->runImport()) << converter->status();

    auto exporter = converterOn(disk.image, 0);
    exporter->setSelectedTracks({0});
    exporter->computeExportRange();
    exporter->setOutputWave(disk.wave("back.wav"), KorvoLib::Korvo::kWaveTypeRiff);
    ASSERT_TRUE(exporter->runExport()) << exporter->status();
    const auto back = readWave(disk.wave("back.wav"));
    ASSERT_TRUE(back.ok);
    ASSERT_EQ(back.samples.size(), (frames + 15) / 16 * 16);
    // Inverted on the way in and again on the way out; between the fades, exactly what the
    // decoder makes of the encoder's blocks.
    const auto decoded = decodeBlocks(encodeBlocks(channelAsRecorded(music, 1, 0), kWidth), kWidth);
    for (std::size_t i = 42 * 16; i < frames - 42 * 16; ++i) {
        ASSERT_EQ(back.samples[i], inverted(decoded[i])) << i;
    }
}

TEST(Import, ChannelsAreSharedOrDroppedToFitTheSelection) {
    KORVO_SKIP_WITHOUT_FAT_TOOLS();
    ImageDisk disk;
    ASSERT_TRUE(disk.ok);
    const std::uint32_t frames = kSecondFrames + 160;  // a multiple of 16: keeps its last block
    const auto stereo = interleavedMusic(2, frames);
    const auto mono = interleavedMusic(1, frames);
    ASSERT_TRUE(writeWave(disk.wave("stereo.wav"), 2, 44100, stereo));
    ASSERT_TRUE(writeWave(disk.wave("averyverylongname.wav"), 1, 44100, mono));

    auto intoOne = readyToImport(disk.image, disk.wave("stereo.wav"), {0});
    ASSERT_TRUE(intoOne->runImport()) << intoOne->status();
    EXPECT_EQ(intoOne->song()->name(0), "stereo-L");
    auto intoTwo = readyToImport(disk.image, disk.wave("averyverylongname.wav"), {8, 16});
    ASSERT_TRUE(intoTwo->runImport()) << intoTwo->status();
    EXPECT_EQ(intoTwo->song()->name(8), "averyver");
    EXPECT_EQ(intoTwo->song()->name(16), "averyver");

    auto files = openImageDiskFiles(disk.image, 0);
    CSong song(intoTwo->song()->entry(), kFamilyKrv);
    ASSERT_TRUE(song.read(*files));
    const auto takeOf = [&](int v) {
        const EventRecord& event = song.events().slot(song.events().chain(v).head);
        return *mcopyOut(disk.image, "SONG0000.KRV/" + takeFileName(event.firstCluster));
    };
    EXPECT_EQ(takeOf(0), takeFileBytes(kFamilyKrv, kWidth,
                                       encodeBlocks(channelAsRecorded(stereo, 2, 0), kWidth)));
    EXPECT_EQ(takeOf(8), takeOf(16));
    EXPECT_EQ(takeOf(8), takeFileBytes(kFamilyKrv, kWidth,
                                       encodeBlocks(channelAsRecorded(mono, 1, 0), kWidth)));
}

TEST(Import, WavesTheRecorderCannotTakeAreRefusedInTheFixedOrder) {
    KORVO_SKIP_WITHOUT_FAT_TOOLS();
    ImageDisk disk(kRate44100 | kProtectFlag);
    ASSERT_TRUE(disk.ok);
    struct Case {
        const char* name;
        std::uint16_t channels;
        std::uint32_t rate;
        std::uint32_t frames;
        int status;
    };
    // The song is protected too: every wave check comes before the protection check.
    const Case cases[] = {
        {"nochannels.wav", 0, 48000, 10, kStatusChannelCountZero},
        {"rate.wav", 1, 48000, 2 * kSecondFrames, kStatusWrongSampleRate},
        {"empty.wav", 1, 44100, 0, kStatusWaveTooShort},
        {"short.wav", 1, 44100, 44096, kStatusWaveTooShort},
        {"protected.wav", 1, 44100, 44097, kStatusSongProtected},
    };
    const auto before = disk.songFolder();
    for (const auto& c : cases) {
        ASSERT_TRUE(writeWave(disk.wave(c.name), c.channels, c.rate,
                              interleavedMusic(c.channels, c.channels ? c.frames : 0)))
            << c.name;
        auto converter = converterOn(disk.image, 0);
        converter->setSelectedTracks({0});
        ASSERT_TRUE(converter->openInputWave(disk.wave(c.name))) << c.name;
        converter->computeImportRange();
        EXPECT_FALSE(converter->runImport()) << c.name;
        EXPECT_EQ(converter->status(), c.status) << c.name;
    }
    EXPECT_EQ(disk.songFolder(), before);
}

TEST(Import, FreeSpaceExactlyEqualToTheNeedIsEnoughAndOneByteLessIsNot) {
    DiskFixture folder(kFamilyKrv);
    folder.addSong(songEntry(0, "ROOM"));
    TemporaryFolder waves;
    const std::string wave = waves.path() + "/room.wav";
    ASSERT_TRUE(writeWave(wave, 2, 44100, interleavedMusic(2, kSecondFrames + 16)));
    CFolderDiskFiles files(folder.root(), {});
    FaultyDiskFiles disk(files);
    disk.answerClusterChains({0x0042, 0x0043});

    auto probe = readyToImport(folder.root(), wave, {0}, &disk);
    // A stereo wave into one track needs half of what both channels take.
    const std::uint64_t needed = probe->neededDiskBytes() / 2;
    EXPECT_EQ(probe->neededDiskBytes(), 2 * 1 * 32768u + 16 * 32768u);

    disk.setRoom(needed - 1);
    EXPECT_FALSE(probe->runImport());
    EXPECT_EQ(probe->status(), kStatusNoFreeSpace);

    disk.setRoom(needed);
    auto converter = readyToImport(folder.root(), wave, {0}, &disk);
    EXPECT_TRUE(converter->runImport()) << converter->status();
    EXPECT_TRUE(folder.fileExists("SONG0000.KRV/TAKE0042.KRV"));
}

TEST(Import, ProtectionIsCheckedOnlyAfterSpace) {
    DiskFixture folder(kFamilyKrv);
    folder.addSong(songEntry(0, "LOCKED", kRate44100 | kProtectFlag));
    TemporaryFolder waves;
    const std::string wave = waves.path() + "/a.wav";
    ASSERT_TRUE(writeWave(wave, 1, 44100, interleavedMusic(1, kSecondFrames + 16)));
    CFolderDiskFiles files(folder.root(), {});
    FaultyDiskFiles disk(files);
    disk.setRoom(1);
    auto converter = readyToImport(folder.root(), wave, {0}, &disk);
    EXPECT_FALSE(converter->runImport());
    EXPECT_EQ(converter->status(), kStatusNoFreeSpace);
    disk.setRoom(1ull << 40);
    EXPECT_FALSE(converter->runImport());
    EXPECT_EQ(converter->status(), kStatusSongProtected);
}

TEST(Import, CancelWhileWorkersEncodeLeavesNoTakeAndTheSongAsItWas) {
    KORVO_SKIP_WITHOUT_FAT_TOOLS();
    ImageDisk disk;
    ASSERT_TRUE(disk.ok);
    ASSERT_TRUE(writeWave(disk.wave("long.wav"), 2, 44100, interleavedMusic(2, 3 * kSecondFrames)));
    const auto events = mcopyOut(disk.image, "SONG0000.KRV/EVENTLS0.KRV");
    const auto song = mcopyOut(disk.image, "SONG0000.KRV/SONG.KRV");
    auto converter = readyToImport(disk.image, disk.wave("long.wav"), {0, 8});
    converter->setThreads(4);
    CancellingProgress progress(2000);
    converter->setProgress(&progress);
    EXPECT_TRUE(converter->runImport());
    EXPECT_EQ(converter->status(), kStatusOk);
    EXPECT_GT(progress.cancelledAt(), 0);
    EXPECT_TRUE(progress.rising());
    EXPECT_EQ(mcopyOut(disk.image, "SONG0000.KRV/EVENTLS0.KRV"), events);
    EXPECT_EQ(mcopyOut(disk.image, "SONG0000.KRV/SONG.KRV"), song);
    const auto names = disk.songFolder();
    EXPECT_EQ(std::count_if(names.begin(), names.end(),
                            [](const std::string& n) { return n.rfind("TAKE", 0) == 0; }),
              0);
    EXPECT_TRUE(fsckFat(disk.image).clean()) << fsckFat(disk.image).output;
}

TEST(Import, AVolumeThatCannotBeReadStopsBeforeAnyTakeIsWritten) {
    // A plain folder: no FAT volume lies behind it to read cluster chains from.
    DiskFixture folder(kFamilyKrv);
    folder.addSong(songEntry(0, "NOVOLUME"));
    TemporaryFolder waves;
    const std::string wave = waves.path() + "/a.wav";
    ASSERT_TRUE(writeWave(wave, 1, 44100, interleavedMusic(1, kSecondFrames + 16)));
    const auto listing = folder.listFolder("SONG0000.KRV");
    auto converter = readyToImport(folder.root(), wave, {0});
    EXPECT_FALSE(converter->runImport());
    EXPECT_EQ(converter->status(), kStatusCantCreateEvent);
    EXPECT_FALSE(converter->volumeProblem().empty());
    EXPECT_EQ(folder.listFolder("SONG0000.KRV"), listing);
}

TEST(Import, FullEventTableRefusesTheEventAndLeavesTheSongAsItWas) {
    // 9998 history records and one event on virtual track 0: 9999 slots in use. Placing on
    // that track needs a range record, the copy and the chain event, less the released one.
    EventListDescription events;
    events.history.assign(9998, takeEvent(0, 0, 10, 0x0100));
    events.chains[0] = {takeEvent(0, 0, 10, 0x0100)};
    DiskFixture folder(kFamilyKrv);
    folder.addSong(songEntry(0, "FULL"));
    folder.setEvents(0, events);
    TemporaryFolder waves;
    const std::string wave = waves.path() + "/a.wav";
    ASSERT_TRUE(writeWave(wave, 1, 44100, interleavedMusic(1, kSecondFrames + 16)));
    CFolderDiskFiles files(folder.root(), {});
    FaultyDiskFiles disk(files);
    disk.answerClusterChains({0x0200});
    const auto before = folder.readFile("SONG0000.KRV/EVENTLS0.KRV");

    auto converter = readyToImport(folder.root(), wave, {0}, &disk);
    EXPECT_FALSE(converter->runImport());
    EXPECT_EQ(converter->status(), kStatusEventFull);
    EXPECT_EQ(folder.readFile("SONG0000.KRV/EVENTLS0.KRV"), before);
    EXPECT_EQ(converter->song()->events().history().count, 9998);
    EXPECT_EQ(converter->song()->name(0), "1 - 1");
    // No take is left behind that no event refers to.
    EXPECT_FALSE(folder.fileExists("SONG0000.KRV/TAKE0200.KRV"));
}

TEST(Import, FailedSongWriteKeepsTheOldEventList) {
    TemporaryFolder waves;
    const std::string wave = waves.path() + "/a.wav";
    ASSERT_TRUE(writeWave(wave, 1, 44100, interleavedMusic(1, kSecondFrames + 16)));
    // A first import counts the writes; the song write makes the last three (the event list's
    // growth, the commit record, then the whole list from the start). The record's write fails.
    int writes = 0;
    {
        DiskFixture folder(kFamilyKrv);
        folder.addSong(songEntry(0, "WRITE"));
        CFolderDiskFiles files(folder.root(), {});
        FaultyDiskFiles disk(files);
        disk.answerClusterChains({0x0300});
        auto converter = readyToImport(folder.root(), wave, {0}, &disk);
        ASSERT_TRUE(converter->runImport()) << converter->status();
        writes = disk.writesSeen();
    }
    DiskFixture folder(kFamilyKrv);
    folder.addSong(songEntry(0, "WRITE"));
    const auto before = folder.readFile("SONG0000.KRV/EVENTLS0.KRV");
    CFolderDiskFiles files(folder.root(), {});
    FaultyDiskFiles disk(files);
    disk.answerClusterChains({0x0300});
    disk.failWriteNumber(writes - 1);
    auto converter = readyToImport(folder.root(), wave, {0}, &disk);
    EXPECT_FALSE(converter->runImport());
    EXPECT_EQ(converter->status(), kStatusFailedWriteSong);
    EXPECT_EQ(folder.readFile("SONG0000.KRV/EVENTLS0.KRV"), before);
    EXPECT_EQ(converter->song()->events().history().count, 0);
    EXPECT_FALSE(converter->song()->used(0));
}

}  // namespace
}  // namespace korvo::test
