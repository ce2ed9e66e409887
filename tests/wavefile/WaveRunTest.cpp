// Runs of frames: the RIFF WAVE and AIFF files move them through their scratch buffer; the
// defaults that other wave files get go a block at a time. Both give the same file and the
// same samples, a skipped or silent channel and a partial last block included.

#include <gtest/gtest.h>

#include "tests/wavefile/WaveFixtures.h"

namespace korvo::test {
namespace {

using KorvoLib::Korvo::IWaveFile;
using KorvoLib::Korvo::WaveFormat;

// A wave file that moves only blocks: everything but the runs goes to a real file.
class BlocksOnly final : public IWaveFile {
public:
    explicit BlocksOnly(int type) : file_(KorvoLib::Korvo::makeWaveFile(type)) {}
    std::uint64_t neededSize(std::uint16_t c, std::uint32_t s, std::uint32_t e) const override {
        return file_->neededSize(c, s, e);
    }
    bool open(const std::string& path, int mode) override { return file_->open(path, mode); }
    bool rewind() override { return file_->rewind(); }
    bool setDataPosition(std::uint64_t offset) override { return file_->setDataPosition(offset); }
    bool readFrames(BlockBuffer* const* buffers, int channels, int count) override {
        return file_->readFrames(buffers, channels, count);
    }
    bool readHeader(WaveFormat& format) override { return file_->readHeader(format); }
    bool writeBlock(BlockBuffer* const* buffers, int channels) override {
        return file_->writeBlock(buffers, channels);
    }
    bool writeHeader(const WaveFormat& format) override { return file_->writeHeader(format); }
    bool close() override { return file_->close(); }
    std::uint32_t headerSize() const override { return file_->headerSize(); }

private:
    std::unique_ptr<IWaveFile> file_;
};

TEST(WaveRun, RunsOfTheWaveFilesAndOfTheBlockDefaultsAgree) {
    ScratchFolder folder("wave-run");
    constexpr std::size_t kFrames = 16 * 300;
    std::vector<std::int16_t> left(kFrames), right(kFrames);
    for (std::size_t i = 0; i < kFrames; ++i) {
        left[i] = static_cast<std::int16_t>(i * 37 - 30000);
        right[i] = static_cast<std::int16_t>(-32768 + i * 11);
    }
    const std::int16_t* channels[3] = {left.data(), nullptr, right.data()};
    for (const int type : {KorvoLib::Korvo::kWaveTypeRiff, KorvoLib::Korvo::kWaveTypeAiff}) {
        SCOPED_TRACE(type);
        std::unique_ptr<IWaveFile> files[2] = {KorvoLib::Korvo::makeWaveFile(type),
                                               std::make_unique<BlocksOnly>(type)};
        std::string paths[2] = {folder.file("runs"), folder.file("blocks")};
        for (int k = 0; k < 2; ++k) {
            IWaveFile& file = *files[k];
            ASSERT_TRUE(file.open(paths[k], IWaveFile::kCreate) && file.setDataPosition(0));
            ASSERT_TRUE(file.writeRun(channels, 3, kFrames - 16 * 7));
            ASSERT_TRUE(file.writeRun(channels, 3, 16 * 7));
            ASSERT_TRUE(file.close() && file.open(paths[k], IWaveFile::kUpdate));
            ASSERT_TRUE(file.writeHeader({3, 44100, kFrames}) && file.close());
        }
        ASSERT_EQ(loadBytes(paths[0]), loadBytes(paths[1]));

        // Read back from frame 5, 4000 frames (no whole number of blocks), the middle skipped.
        std::vector<std::int16_t> read[2][2];
        for (int k = 0; k < 2; ++k) {
            IWaveFile& file = *files[k];
            read[k][0].assign(4000, 1);
            read[k][1].assign(4000, 1);
            std::int16_t* into[3] = {read[k][0].data(), nullptr, read[k][1].data()};
            ASSERT_TRUE(file.open(paths[k], IWaveFile::kRead) && file.setDataPosition(5 * 6));
            ASSERT_TRUE(file.readRun(into, 3, 4000));
            file.close();
        }
        EXPECT_EQ(read[0][0], read[1][0]);
        EXPECT_EQ(read[0][1], read[1][1]);
        EXPECT_TRUE(std::equal(read[0][0].begin(), read[0][0].end(), left.begin() + 5));
        EXPECT_TRUE(std::equal(read[0][1].begin(), read[0][1].end(), right.begin() + 5));
    }
}

}  // namespace
}  // namespace korvo::test
