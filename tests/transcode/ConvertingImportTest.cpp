// An import through the conversion front as the engine runs it: the block range, the progress
// and a cancel all count the converted audio, and a cancel leaves the disk as it was.

#include <gtest/gtest.h>

#include <algorithm>

#include "disk/Status.h"
#include "tests/support/AudioTools.h"
#include "tests/support/DiskFixture.h"
#include "tests/support/EngineFixture.h"
#include "tests/support/FatImages.h"
#include "transcode/SoundFileFactory.h"

namespace korvo::test {
namespace {

TEST(ConvertingImport, RangeProgressAndCancelCountTheConvertedAudio) {
    KORVO_SKIP_WITHOUT_FAT_TOOLS();
    KORVO_SKIP_WITHOUT_TOOLS("sox");
    TemporaryFolder folder;
    const std::string image = folder.path() + "/disk.img";
    {
        DiskFixture disk(kFamilyKrv);
        disk.addSong(songEntry(0, "CONVERT"));
        ASSERT_TRUE(imageFromFolder(disk.root(), image, fat::FatType::fat12, 32768,
                                    smallVolumeBytes(fat::FatType::fat12, 32768)));
    }
    // 3 s at 96 kHz: 18000 blocks as they stand, 8269 at the song's 44100 Hz.
    const std::string wave = folder.path() + "/hi.wav";
    ASSERT_TRUE(runTool({"sox", "-n", "-b", "24", "-r", "96000", "-c", "2", wave, "synth", "3",
                         "sine", "440", "sine", "660"}));
    const auto before = mdir(image, "SONG0000.KRV");
    ASSERT_TRUE(before);

    auto converter = converterOn(image, 0);
    converter->setWaveFileFactory(transcode::makeSoundFileFactory());
    converter->setSelectedTracks({0, 8});
    EXPECT_FALSE(converter->openInputWave(wave));
    EXPECT_EQ(converter->status(), kStatusFailedReadWave);
    EXPECT_TRUE(converter->sourceNeedsConversion());

    converter->setImportChoice({true, {}});
    ASSERT_TRUE(converter->openInputWave(wave));
    converter->computeImportRange();
    EXPECT_EQ(converter->blockRange().end, 8269u);
    CancellingProgress progress(6000);
    converter->setProgress(&progress);
    EXPECT_TRUE(converter->runImport());
    EXPECT_EQ(converter->status(), kStatusOk);
    EXPECT_EQ(progress.high(), 8269);
    // Progress moves a run at a time; the cancel is answered at the first run past 6000.
    EXPECT_GE(progress.cancelledAt(), 6000);
    EXPECT_TRUE(progress.rising());
    EXPECT_EQ(mdir(image, "SONG0000.KRV")->shortNames, before->shortNames);
}

}  // namespace
}  // namespace korvo::test
