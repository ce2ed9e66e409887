// The conversion front's reader as the engine drives it: positioned reads and the frames the
// header promises.

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "codec/BlockBuffer.h"
#include "tests/support/AudioTools.h"
#include "tests/support/DiskFixture.h"
#include "transcode/ConvertingReader.h"

namespace korvo::transcode {
namespace {

using KorvoLib::Korvo::IWaveFile;
using KorvoLib::Korvo::WaveFormat;

// Frames from `firstFrame` to the end, the first presented channel only.
std::vector<std::int16_t> readFrom(const std::string& path, std::uint64_t firstFrame,
                                   WaveFormat& format) {
    CConvertingReader reader(44100, {1, 0});
    std::vector<std::int16_t> samples;
    if (!reader.open(path, IWaveFile::kRead) || !reader.readHeader(format) ||
        !reader.setDataPosition(firstFrame * format.channels * 2)) {
        return samples;
    }
    BlockBuffer left(4);
    BlockBuffer right(4);
    BlockBuffer* buffers[] = {&left, &right};
    for (std::uint64_t frame = firstFrame; frame < format.frames; frame += 16) {
        const int count = static_cast<int>(std::min<std::uint64_t>(16, format.frames - frame));
        if (!reader.readFrames(buffers, 2, count)) {
            return {};
        }
        samples.insert(samples.end(), left.samples.begin(), left.samples.begin() + count);
    }
    // Nothing past the promised length.
    EXPECT_FALSE(reader.readFrames(buffers, 2, 1));
    return samples;
}

TEST(ConvertingReader, PositionedReadsGiveTheFramesOfAReadFromTheStart) {
    KORVO_SKIP_WITHOUT_TOOLS("sox");
    korvo::test::TemporaryFolder work;
    const std::string path = work.path() + "/tone.flac";
    ASSERT_TRUE(korvo::test::runTool({"sox", "-n", "-b", "24", "-r", "48000", "-c", "2", path,
                                      "synth", "1", "sine", "300", "sine", "1000"}));
    WaveFormat format;
    const auto whole = readFrom(path, 0, format);
    EXPECT_EQ(format.channels, 2);
    EXPECT_EQ(format.sampleRate, 44100u);
    EXPECT_EQ(format.frames, 44100u);
    ASSERT_EQ(whole.size(), 44100u);
    for (const std::uint64_t start : {16u, 20000u, 44096u}) {
        const auto tail = readFrom(path, start, format);
        EXPECT_TRUE(std::equal(tail.begin(), tail.end(), whole.begin() + start) &&
                    tail.size() == whole.size() - start)
            << start;
    }
}

}  // namespace
}  // namespace korvo::transcode
