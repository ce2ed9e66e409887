#include "convert/TrackNames.h"

#include <gtest/gtest.h>

namespace korvo {
namespace {

TEST(ImportedTrackName, StereoWaveNamesLeftAndRightWithBaseCutToSix) {
    EXPECT_EQ(importedTrackName("/music/overdubs.wav", 0, 2), "overdu-L");
    EXPECT_EQ(importedTrackName("/music/overdubs.wav", 1, 2), "overdu-R");
    EXPECT_EQ(importedTrackName("/music/bass.wav", 1, 2), "bass-R");
}

TEST(ImportedTrackName, MonoWaveKeepsTheFirstEightCharactersOfItsBase) {
    EXPECT_EQ(importedTrackName("/music/verylongname.aif", 0, 1), "verylong");
    EXPECT_EQ(importedTrackName("vox.wav", 1, 1), "vox");
    // Only the last dot starts the extension; a folder's dot is not the file's.
    EXPECT_EQ(importedTrackName("/a.b/my.take.wav", 0, 1), "my.take");
    EXPECT_EQ(importedTrackName("/music/noext", 0, 1), "noext");
}

TEST(ImportedTrackName, ManyChannelWaveNumbersThePositions) {
    EXPECT_EQ(importedTrackName("/x/ensemble.wav", 0, 4), "ensemb-0");
    EXPECT_EQ(importedTrackName("/x/ensemble.wav", 1, 4), "ensemb-1");
}

TEST(ImportedTrackName, CharactersTheRecorderCannotShowBecomeUnderscores) {
    EXPECT_EQ(importedTrackName("/music/caf\xc3\xa9.wav", 0, 1), "caf_");
    EXPECT_EQ(importedTrackName("/music/\xe2\x99\xaa\xe2\x99\xaa.wav", 0, 2), "__-L");
    EXPECT_EQ(toRecorderCharacters("a\xffz"), "a_z");
}

TEST(ExportAllFileName, NamedTrackGetsItsNameAndAnUnnamedOneNoTrailingSpace) {
    CSong song(SongListEntry{}, kFamilyQmt);
    song.setName(9, std::string("VOX/1\0\0\0", 8));  // a slot's zero bytes after the text
    EXPECT_EQ(exportAllFileName(song, 9, ".wav"), "2.2 VOX_1.wav");
    EXPECT_EQ(exportAllFileName(song, 63, ".aif"), "8.8.aif");
}

}  // namespace
}  // namespace korvo
