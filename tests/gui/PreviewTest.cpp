#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "app/PreviewFeed.h"
#include "app/TrackSamples.h"
#include "app/WaveformStrip.h"
#include "tests/support/DiskFixture.h"
#include "tests/support/EngineFixture.h"

namespace korvo {
namespace {

using test::DiskFixture;

// Virtual track 0 plays one event with music; virtual track 9 two events with a gap between
// them, so the export holds fades, silence and a second take; and the export, as a reference.
class PreviewTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(folder.isValid());
        disk.addSong(test::songEntry(0, "MIX"));
        test::EventListDescription events;
        events.chains[0] = {test::takeEvent(0, 0, 300, 0x0002)};
        events.chains[9] = {test::takeEvent(9, 20, 140, 0x0003),
                            test::takeEvent(9, 190, 420, 0x0004, 30)};
        disk.setEvents(0, events);
        disk.addTake(0, 0x0002, test::encodeBlocks(test::musicSignal(300, 1), 5));
        disk.addTake(0, 0x0003, test::encodeBlocks(test::musicSignal(200, 2), 5));
        disk.addTake(0, 0x0004, test::encodeBlocks(test::musicSignal(300, 3), 5));
        converter = test::converterOn(disk.root(), 0);
        ASSERT_TRUE(converter);
        converter->setPolarity(true);
        converter->setSelectedTracks({0, 9});
        converter->computeExportRange();
        const std::string path = folder.filePath("whole.wav").toStdString();
        converter->setOutputWave(path, KorvoLib::Korvo::kWaveTypeRiff);
        ASSERT_TRUE(converter->runExport());
        exported = test::readWave(path);
        ASSERT_TRUE(exported.ok);
        ASSERT_EQ(exported.samples.size(), 420u * 16 * 2);
    }

    QTemporaryDir folder;
    DiskFixture disk{kFamilyKrv};
    std::unique_ptr<CTrackConverter> converter;
    test::WaveContents exported;
};

TEST_F(PreviewTest, FeedGivesTheExportsSamplesFromTheChosenBlock) {
    for (const std::uint32_t start : {0u, 1u, 150u, 191u, 419u}) {
        CPreviewFeed feed(CTrackSamples::fromConverter(*converter), start);
        ASSERT_TRUE(feed.open(QIODevice::ReadOnly));
        EXPECT_EQ(feed.channels(), 2);
        EXPECT_EQ(feed.sampleRate(), 44100u);
        QByteArray bytes;
        while (!feed.atEnd()) {
            feed.waitForReadyRead(2000);
            bytes += feed.read(4096);  // as an audio output takes it, piece by piece
        }
        EXPECT_FALSE(feed.failed());
        std::vector<std::int16_t> heard(static_cast<std::size_t>(bytes.size()) / 2);
        for (std::size_t i = 0; i < heard.size(); ++i) {
            const auto low = static_cast<std::uint8_t>(bytes[static_cast<qsizetype>(2 * i)]);
            const auto high = static_cast<std::uint8_t>(bytes[static_cast<qsizetype>(2 * i + 1)]);
            heard[i] = static_cast<std::int16_t>(low | high << 8);
        }
        const std::vector<std::int16_t> expected(
            exported.samples.begin() + static_cast<std::ptrdiff_t>(start) * 16 * 2,
            exported.samples.end());
        EXPECT_EQ(heard, expected) << "from block " << start;
    }
}

TEST_F(PreviewTest, StoppingAFeedHalfWayEndsItsWorker) {
    CPreviewFeed feed(CTrackSamples::fromConverter(*converter), 0);
    ASSERT_TRUE(feed.open(QIODevice::ReadOnly));
    ASSERT_TRUE(feed.waitForReadyRead(2000));
    EXPECT_GT(feed.read(64).size(), 0);
    feed.close();  // joins the worker; must not hang with unread audio waiting
    EXPECT_FALSE(feed.isOpen());
}

TEST_F(PreviewTest, WaveformColumnsHoldTheExtremesOfTheExportsFrames) {
    CWaveformStrip strip;
    constexpr int kColumns = 173;  // frames do not divide evenly into columns
    strip.resize(kColumns, 100);
    strip.showTracks("mix", [this] { return CTrackSamples::fromConverter(*converter); });
    ASSERT_TRUE(QTest::qWaitFor([&strip] { return strip.peaksReady(); }, 10000));
    const WavePeaks& peaks = strip.peaks();
    ASSERT_EQ(peaks.size(), 2u);
    const std::size_t frames = exported.samples.size() / 2;
    for (std::size_t channel = 0; channel < 2; ++channel) {
        ASSERT_EQ(peaks[channel].size(), static_cast<std::size_t>(kColumns));
        for (std::size_t column = 0; column < kColumns; ++column) {
            const std::size_t first = (column * frames + kColumns - 1) / kColumns;
            const std::size_t last = ((column + 1) * frames + kColumns - 1) / kColumns;
            std::int16_t low = 32767;
            std::int16_t high = -32768;
            for (std::size_t f = first; f < last; ++f) {
                low = std::min(low, exported.samples[2 * f + channel]);
                high = std::max(high, exported.samples[2 * f + channel]);
            }
            EXPECT_EQ(peaks[channel][column].min, low) << channel << " " << column;
            EXPECT_EQ(peaks[channel][column].max, high) << channel << " " << column;
        }
    }
    // The same picture again comes from the cache, without reading.
    strip.showTracks({}, {});
    strip.showTracks("mix", [] { return std::unique_ptr<CTrackSamples>(); });
    EXPECT_FALSE(strip.peaksReady());  // a source that gives nothing clears the strip
    strip.showTracks("mix2", [this] { return CTrackSamples::fromConverter(*converter); });
    strip.showTracks("mix", [this] { return CTrackSamples::fromConverter(*converter); });
    EXPECT_TRUE(strip.peaksReady());
}

}  // namespace
}  // namespace korvo
