// Export end to end: fixture disks with takes made by the real encoder, exported through the
// track converter, the wave file read back and compared sample for sample with what the
// recorder's audio decodes to.

#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "convert/TrackReader.h"
#include "disk/Status.h"
#include "tests/support/EngineFixture.h"
#include "tests/support/FatImages.h"

namespace korvo::test {
namespace {

constexpr int kWidth = 5;                      // LV1
constexpr std::uint32_t kSecond = 44100 >> 4;  // 2756 blocks
constexpr std::uint32_t kFade = 42;            // blocks at 44100 Hz

// A KRV-family disk with song 0 (44100 Hz, LV1).
struct ExportDisk {
    DiskFixture disk{kFamilyKrv};
    TemporaryFolder output;
    ExportDisk() { disk.addSong(songEntry(0, "EXPORT")); }
    std::string wavePath(const std::string& name = "out.wav") const {
        return output.path() + "/" + name;
    }
};

// What export gives for a take decoded from its start: inverted, faded over the event's edges.
std::vector<std::int16_t> expectedEventSamples(const std::vector<std::int16_t>& decoded,
                                               std::uint32_t blocks) {
    std::vector<std::int16_t> expected(decoded.begin(), decoded.begin() + blocks * 16);
    for (std::uint32_t b = 0; b < blocks; ++b) {
        for (int k = 0; k < 16; ++k) {
            std::int32_t sample = inverted(expected[b * 16 + k]);
            if (b < kFade) {
                sample = static_cast<std::int32_t>(b * 16 + k) * sample /
                         static_cast<std::int32_t>(kFade * 16);
            } else if (b >= blocks - kFade) {
                sample = static_cast<std::int32_t>((blocks - b) * 16 - k) * sample /
                         static_cast<std::int32_t>(kFade * 16);
            }
            expected[b * 16 + k] = static_cast<std::int16_t>(sample);
        }
    }
    return expected;
}

TEST(Export, TwoTracksGiveStereoWithTheLowerVirtualTrackFirst) {
    ExportDisk fixture;
    const std::uint32_t blocks = kSecond + 200;
    const auto low = encodeBlocks(musicSignal(blocks, 1), kWidth);
    const auto high = encodeBlocks(musicSignal(blocks, 2), kWidth);
    EventListDescription events;
    events.chains[0] = {takeEvent(0, 0, blocks, 0x0002)};
    events.chains[9] = {takeEvent(9, 0, blocks, 0x0003)};
    fixture.disk.setEvents(0, events);
    fixture.disk.addTake(0, 0x0002, low);
    fixture.disk.addTake(0, 0x0003, high);

    auto converter = converterOn(fixture.disk.root(), 0);
    converter->setSelectedTracks({0, 9});
    converter->computeExportRange();
    EXPECT_EQ(converter->blockRange().start, 0u);
    EXPECT_EQ(converter->blockRange().end, blocks);
    converter->setOutputWave(fixture.wavePath(), KorvoLib::Korvo::kWaveTypeRiff);
    ASSERT_TRUE(converter->runExport()) << converter->status();
    EXPECT_EQ(converter->status(), kStatusOk);

    const auto wave = readWave(fixture.wavePath());
    ASSERT_TRUE(wave.ok);
    EXPECT_EQ(wave.channels, 2);
    EXPECT_EQ(wave.sampleRate, 44100u);
    ASSERT_EQ(wave.samples.size(), blocks * 16 * 2);
    const auto left = expectedEventSamples(decodeBlocks(low, kWidth), blocks);
    const auto right = expectedEventSamples(decodeBlocks(high, kWidth), blocks);
    for (std::size_t i = 0; i < left.size(); ++i) {
        ASSERT_EQ(wave.samples[2 * i], left[i]) << "frame " << i;
        ASSERT_EQ(wave.samples[2 * i + 1], right[i]) << "frame " << i;
    }
}

TEST(Export, LateEventAndGapsAreSilenceAndEventsFadeAtTheirEdges) {
    ExportDisk fixture;
    const std::uint32_t length = kSecond + 100;
    const std::uint32_t firstStart = 300;
    const std::uint32_t secondStart = firstStart + length + 500;
    const auto first = encodeBlocks(musicSignal(length, 3), kWidth);
    const auto second = encodeBlocks(musicSignal(length, 4), kWidth);
    EventListDescription events;
    events.chains[4] = {takeEvent(4, firstStart, firstStart + length, 0x0010),
                        takeEvent(4, secondStart, secondStart + length, 0x0020)};
    fixture.disk.setEvents(0, events);
    fixture.disk.addTake(0, 0x0010, first);
    fixture.disk.addTake(0, 0x0020, second);

    auto converter = converterOn(fixture.disk.root(), 0);
    converter->setSelectedTracks({4});
    converter->computeExportRange();
    converter->setOutputWave(fixture.wavePath("mono.aif"), KorvoLib::Korvo::kWaveTypeAiff);
    ASSERT_TRUE(converter->runExport()) << converter->status();

    const auto wave = readWave(fixture.wavePath("mono.aif"));
    ASSERT_TRUE(wave.ok);
    ASSERT_EQ(wave.samples.size(), (secondStart + length) * 16u);
    std::vector<std::int16_t> expected(wave.samples.size(), 0);
    const auto one = expectedEventSamples(decodeBlocks(first, kWidth), length);
    const auto two = expectedEventSamples(decodeBlocks(second, kWidth), length);
    std::copy(one.begin(), one.end(), expected.begin() + firstStart * 16);
    std::copy(two.begin(), two.end(), expected.begin() + secondStart * 16);
    for (std::size_t i = 0; i < expected.size(); ++i) {
        ASSERT_EQ(wave.samples[i], expected[i]) << "frame " << i << " block " << i / 16;
    }
    // The first faded block really is quieter than the take, and the first frame silent.
    EXPECT_EQ(wave.samples[firstStart * 16], 0);
}

TEST(Export, EventsShorterThanASecondOrWithoutAudioAreSilence) {
    ExportDisk fixture;
    const auto blocks = encodeBlocks(musicSignal(kSecond, 5), kWidth);
    EventListDescription events;
    events.chains[1] = {takeEvent(1, 0, kSecond - 1, 0x0002)};  // one block short of a second
    events.chains[2] = {takeEvent(2, 0, kSecond + 10, 0)};      // no take
    fixture.disk.setEvents(0, events);
    fixture.disk.addTake(0, 0x0002, blocks);

    auto converter = converterOn(fixture.disk.root(), 0);
    converter->setSelectedTracks({1, 2});
    converter->computeExportRange();
    EXPECT_EQ(converter->blockRange().end, kSecond - 1);  // events without audio have no extent
    converter->setOutputWave(fixture.wavePath(), KorvoLib::Korvo::kWaveTypeRiff);
    ASSERT_TRUE(converter->runExport()) << converter->status();
    const auto wave = readWave(fixture.wavePath());
    ASSERT_TRUE(wave.ok);
    ASSERT_EQ(wave.samples.size(), (kSecond - 1) * 16u * 2);
    for (const auto sample : wave.samples) {
        ASSERT_EQ(sample, 0);
    }
}

// A block whose decoding (from carried sample 0) holds -32768 somewhere: found by search, so
// the test does not depend on how it was made.
Bytes blockDecodingToMinimum(int& where) {
    std::mt19937 random(7);
    BlockBuffer buffer(kWidth);
    for (;;) {
        for (int i = 0; i < 2 * kWidth; ++i) {
            buffer.bytes[i] = static_cast<std::uint8_t>(random());
        }
        buffer.carried = 0;
        buffer.decode();
        for (int k = 0; k < 16; ++k) {
            if (buffer.samples[k] == -32768) {
                where = k;
                return Bytes(buffer.bytes.begin(), buffer.bytes.begin() + 2 * kWidth);
            }
        }
    }
}

TEST(Export, InvertedPolarityTurnsMinimumIntoMaximum) {
    ExportDisk fixture;
    int where = 0;
    const Bytes loud = blockDecodingToMinimum(where);
    // The loud block in the middle of a second of silence, away from the fades.
    std::vector<Bytes> blocks(kSecond + 2 * kFade, Bytes(2 * kWidth, 0));
    const std::uint32_t middle = kFade + 10;
    // Decoding from an all-zero block leaves carried sample 0, so the loud block decodes as
    // it did in the search.
    blocks[middle] = loud;
    EventListDescription events;
    events.chains[0] = {takeEvent(0, 0, static_cast<std::uint32_t>(blocks.size()), 0x0002)};
    fixture.disk.setEvents(0, events);
    fixture.disk.addTake(0, 0x0002, blocks);

    auto converter = converterOn(fixture.disk.root(), 0);
    converter->setSelectedTracks({0});
    converter->computeExportRange();
    converter->setOutputWave(fixture.wavePath(), KorvoLib::Korvo::kWaveTypeRiff);
    ASSERT_TRUE(converter->runExport()) << converter->status();
    const auto wave = readWave(fixture.wavePath());
    ASSERT_TRUE(wave.ok);
    EXPECT_EQ(wave.samples[middle * 16 + where], 32767);

    BlockBuffer buffer(kWidth);
    buffer.samples.fill(-32768);
    buffer.samples[1] = 32767;
    buffer.samples[2] = 0;
    invertPolarity(buffer);
    EXPECT_EQ(buffer.samples[0], 32767);
    EXPECT_EQ(buffer.samples[1], -32767);
    EXPECT_EQ(buffer.samples[2], 0);
}

TEST(Export, SeekingToAnyBlockReadsWhatAWholeRunReadsFromThere) {
    ExportDisk fixture;
    const std::uint32_t length = kSecond + 100;
    // A gap, an event, a second take straight after it (the carried sample crosses takes), one
    // that starts inside it (overlap), a gap, a last event.
    const std::uint32_t a = 200, b = a + length, c = b + length - 300, d = c + length + 700;
    EventListDescription events;
    events.chains[3] = {takeEvent(3, a, b, 0x0010), takeEvent(3, b, b + length, 0x0020),
                        takeEvent(3, c, c + length, 0x0030, 50),
                        takeEvent(3, d, d + length, 0x0040)};
    fixture.disk.setEvents(0, events);
    fixture.disk.addTake(0, 0x0010, encodeBlocks(musicSignal(length, 5), kWidth));
    fixture.disk.addTake(0, 0x0020, encodeBlocks(musicSignal(length, 6), kWidth));
    fixture.disk.addTake(0, 0x0030, encodeBlocks(musicSignal(length + 50, 7), kWidth));
    fixture.disk.addTake(0, 0x0040, encodeBlocks(musicSignal(length, 8), kWidth));
    auto converter = converterOn(fixture.disk.root(), 0);
    converter->setSelectedTracks({3});
    converter->computeExportRange();
    const BlockRange range = converter->blockRange();

    const auto readFrom = [&](std::optional<std::uint32_t> seekTo) {
        CTrackReader reader(*converter->disk(), *converter->song(), 3, range, true);
        BlockBuffer buffer(kWidth);
        std::vector<std::int16_t> samples;
        if (seekTo && !reader.seek(*seekTo, buffer)) {
            return samples;
        }
        while (reader.readBlock(buffer)) {
            samples.insert(samples.end(), buffer.samples.begin(), buffer.samples.end());
        }
        return samples;
    };
    const auto whole = readFrom(std::nullopt);
    ASSERT_EQ(whole.size(), range.count() * 16u);
    for (const std::uint32_t target :
         {0u, 1u, a - 1, a, a + 1, a + kFade, b - 1, b, b + 1, c - 1, c, c + 1, c + length - 1,
          d - 1, d, d + length - kFade, range.end - 1, range.end}) {
        const auto tail = readFrom(target);
        ASSERT_EQ(tail.size(), whole.size() - target * 16u) << "seek to " << target;
        EXPECT_TRUE(std::equal(tail.begin(), tail.end(), whole.begin() + target * 16))
            << "seek to " << target;
    }
}

TEST(Export, CancelWhileWorkersDecodeKeepsAValidShorterFile) {
    ExportDisk fixture;
    const std::uint32_t blocks = 3 * kSecond;
    const auto take = encodeBlocks(musicSignal(blocks, 6), kWidth);
    EventListDescription events;
    events.chains[0] = {takeEvent(0, 0, blocks, 0x0002)};
    fixture.disk.setEvents(0, events);
    fixture.disk.addTake(0, 0x0002, take);

    auto converter = converterOn(fixture.disk.root(), 0);
    converter->setSelectedTracks({0});
    converter->computeExportRange();
    converter->setOutputWave(fixture.wavePath(), KorvoLib::Korvo::kWaveTypeRiff);
    converter->setThreads(4);
    CancellingProgress progress(1000);
    converter->setProgress(&progress);
    ASSERT_TRUE(converter->runExport());
    EXPECT_EQ(converter->status(), kStatusOk);
    EXPECT_EQ(progress.low(), 0);
    EXPECT_EQ(progress.high(), static_cast<std::int32_t>(blocks));
    EXPECT_TRUE(progress.rising());
    // Progress moves a run at a time: the file ends where the cancelled run would have begun.
    const auto kept = static_cast<std::uint32_t>(progress.cancelledAt());
    ASSERT_GE(kept, 1000u);
    ASSERT_LT(kept, blocks);

    const auto wave = readWave(fixture.wavePath());
    ASSERT_TRUE(wave.ok);
    ASSERT_EQ(wave.samples.size(), kept * 16);
    const auto expected = expectedEventSamples(decodeBlocks(take, kWidth), blocks);
    for (std::size_t i = 0; i < wave.samples.size(); ++i) {
        ASSERT_EQ(wave.samples[i], expected[i]) << i;
    }
    EXPECT_EQ(std::filesystem::file_size(fixture.wavePath()), 46u + kept * 32);
}

TEST(Export, UnreadableTakeDeletesThePartialWaveAndSaysSo) {
    ExportDisk fixture;
    const std::uint32_t blocks = kSecond + 400;
    // The take holds fewer blocks than its event plays.
    const auto take = encodeBlocks(musicSignal(blocks - 300, 7), kWidth);
    EventListDescription events;
    events.chains[0] = {takeEvent(0, 0, blocks, 0x0002)};
    events.chains[8] = {takeEvent(8, 0, blocks, 0x0099)};  // no such take at all
    fixture.disk.setEvents(0, events);
    fixture.disk.addTake(0, 0x0002, take);

    for (const std::uint8_t track : {std::uint8_t{0}, std::uint8_t{8}}) {
        auto converter = converterOn(fixture.disk.root(), 0);
        converter->setSelectedTracks({track});
        converter->computeExportRange();
        converter->setOutputWave(fixture.wavePath(), KorvoLib::Korvo::kWaveTypeRiff);
        EXPECT_FALSE(converter->runExport());
        EXPECT_EQ(converter->status(), kStatusFailedReadTrack);
        EXPECT_FALSE(std::filesystem::exists(fixture.wavePath())) << int(track);
    }
}

TEST(Export, AFolderThatCannotHoldTheFileFailsWithoutLeavingOne) {
    ExportDisk fixture;
    auto converter = converterOn(fixture.disk.root(), 0);
    converter->setSelectedTracks({0});
    converter->computeExportRange();
    converter->setOutputWave(fixture.output.path() + "/missing-folder/out.wav",
                             KorvoLib::Korvo::kWaveTypeRiff);
    EXPECT_FALSE(converter->runExport());
    EXPECT_EQ(converter->status(), kStatusFailedWriteWave);
}

TEST(Export, NeededHostBytesCountTheHeaderAndEveryChannel) {
    ExportDisk fixture;
    EventListDescription events;
    events.chains[0] = {takeEvent(0, 0, 100, 0x0002)};
    events.chains[8] = {takeEvent(8, 50, 130, 0x0003)};
    fixture.disk.setEvents(0, events);
    auto converter = converterOn(fixture.disk.root(), 0);
    converter->setSelectedTracks({0, 8});
    converter->computeExportRange();
    EXPECT_EQ(converter->blockRange().end, 130u);
    EXPECT_EQ(converter->neededHostBytes(KorvoLib::Korvo::kWaveTypeRiff), 46u + 2 * 130 * 32);
    EXPECT_EQ(converter->neededHostBytes(KorvoLib::Korvo::kWaveTypeAiff), 54u + 2 * 130 * 32);
}

TEST(Export, NotARecorderDiskStopsBeforeAnyFileIsWritten) {
    TemporaryFolder empty;
    TemporaryFolder output;
    CTrackConverter converter;
    converter.setRootPath(empty.path());
    EXPECT_FALSE(converter.refreshSongList());
    EXPECT_EQ(converter.status(), kStatusNotKorvoDisk);
    converter.setSelectedTracks({0});
    converter.setOutputWave(output.path() + "/x.wav", KorvoLib::Korvo::kWaveTypeRiff);
    EXPECT_FALSE(converter.runExport());
    EXPECT_EQ(converter.status(), kStatusNotKorvoDisk);
    EXPECT_FALSE(std::filesystem::exists(output.path() + "/x.wav"));
}

TEST(Export, WorksTheSameFromAnImageOfTheDisk) {
    KORVO_SKIP_WITHOUT_FAT_TOOLS();
    ExportDisk fixture;
    const std::uint32_t blocks = kSecond + 50;
    const auto take = encodeBlocks(musicSignal(blocks, 8), kWidth);
    EventListDescription events;
    events.chains[63] = {takeEvent(63, 0, blocks, 0x0002)};
    fixture.disk.setEvents(0, events);
    fixture.disk.addTake(0, 0x0002, take);
    const std::string image = fixture.output.path() + "/disk.img";
    ASSERT_TRUE(imageFromFolder(fixture.disk.root(), image, fat::FatType::fat16, 32768,
                                smallVolumeBytes(fat::FatType::fat16, 32768)));

    auto fromFolder = converterOn(fixture.disk.root(), 0);
    auto fromImage = converterOn(image, 0);
    for (auto* converter : {fromFolder.get(), fromImage.get()}) {
        converter->setSelectedTracks({63});
        converter->computeExportRange();
        converter->setOutputWave(fixture.wavePath(converter == fromImage.get() ? "i.wav" : "f.wav"),
                                 KorvoLib::Korvo::kWaveTypeRiff);
        ASSERT_TRUE(converter->runExport()) << converter->status();
    }
    EXPECT_EQ(readHostFile(fixture.wavePath("i.wav")), readHostFile(fixture.wavePath("f.wav")));
    EXPECT_TRUE(fsckFat(image).clean());
}

}  // namespace
}  // namespace korvo::test
