// Import of files other programs write, in other containers, rates and depths, and FLAC export:
// the real korvowav-cli on the demo disk image, its takes compared through WAV exports.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "convert/StatusMessages.h"
#include "disk/Status.h"
#include "tests/support/AudioTools.h"
#include "tests/support/CliRunner.h"
#include "tests/support/DiskFixture.h"
#include "tests/support/EngineFixture.h"
#include "tests/support/FatImages.h"

namespace korvo::test {
namespace {

using korvo::testing::CliResult;
using korvo::testing::runCli;

std::string fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Song 1 of a small FAT12 recorder image (44100 Hz, MT2, no events) takes the imports; every
// import starts from a copy of the same image.
class ConvertImport : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        master_ = new TemporaryFolder;
        DiskFixture disk(kFamilyQmt);
        disk.addSong(songEntry(0, "EMPTY", kRate44100, kDataTypeMt2));
        ASSERT_TRUE(imageFromFolder(disk.root(), masterImage(), fat::FatType::fat12, 32768,
                                    smallVolumeBytes(fat::FatType::fat12, 32768)));
    }
    static void TearDownTestSuite() {
        delete master_;
        master_ = nullptr;
    }
    static std::string masterImage() { return master_->path() + "/master.img"; }

    std::string path(const std::string& name) const { return work_.path() + "/" + name; }

    std::string freshDisk() const {
        const std::string image = path("disk.img");
        std::filesystem::copy_file(masterImage(), image,
                                   std::filesystem::copy_options::overwrite_existing);
        return image;
    }

    CliResult import(const std::string& disk, const std::string& file,
                     const std::vector<std::string>& extra = {},
                     const std::vector<std::string>& tracks = {"1.1", "2.1"}) const {
        std::vector<std::string> arguments = {"import", disk, "--song", "1", file, "--quiet"};
        for (const auto& track : tracks) {
            arguments.insert(arguments.end(), {"--track", track});
        }
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        return runCli(arguments);
    }

    std::vector<std::int16_t> exported(const std::string& disk,
                                       const std::vector<std::string>& tracks = {"1.1",
                                                                                 "2.1"}) const {
        const std::string out = path("export.wav");
        std::vector<std::string> arguments = {"export",   disk, "--song", "1",
                                              "--output", out,  "--quiet"};
        for (const auto& track : tracks) {
            arguments.insert(arguments.end(), {"--track", track});
        }
        EXPECT_EQ(runCli(arguments).exitStatus, 0);
        return readWave(out).samples;
    }

    // The samples an import of `file` leaves on the two tracks; empty when it failed.
    std::vector<std::int16_t> importedSamples(const std::string& file,
                                              const std::vector<std::string>& extra = {},
                                              const std::vector<std::string>& tracks = {"1.1",
                                                                                        "2.1"}) {
        const std::string disk = freshDisk();
        const auto result = import(disk, file, extra, tracks);
        EXPECT_EQ(result.exitStatus, 0) << file << ": " << result.err;
        return result.exitStatus == 0 ? exported(disk, tracks) : std::vector<std::int16_t>{};
    }

    // A refused import: its status and message last, and the disk image byte for byte as before.
    void expectRefused(const std::string& file, const std::vector<std::string>& extra, int status) {
        const std::string disk = freshDisk();
        const std::string before = fileBytes(disk);
        const auto result = import(disk, file, extra);
        EXPECT_EQ(result.exitStatus, status) << file << ": " << result.err;
        EXPECT_EQ(result.lastErrorLine(), statusMessage(status)) << result.err;
        EXPECT_TRUE(fileBytes(disk) == before) << file << " changed the disk";
    }

    // A stereo 16-bit 44100 Hz wave of music, written by our own writer.
    std::string musicWave(std::uint32_t frames = 60000) const {
        std::vector<std::int16_t> interleaved;
        const auto left = musicSignal(frames / 16 + 1, 3);
        const auto right = musicSignal(frames / 16 + 1, 4);
        for (std::uint32_t i = 0; i < frames; ++i) {
            interleaved.insert(interleaved.end(), {left[i], right[i]});
        }
        const std::string file = path("music.wav");
        EXPECT_TRUE(writeWave(file, 2, 44100, interleaved));
        return file;
    }

    TemporaryFolder work_;
    static TemporaryFolder* master_;
};

TemporaryFolder* ConvertImport::master_ = nullptr;

double snrDecibels(const std::vector<std::int16_t>& signal,
                   const std::vector<std::int16_t>& reference) {
    double power = 0;
    double noise = 0;
    for (std::size_t i = 0; i < std::min(signal.size(), reference.size()); ++i) {
        power += static_cast<double>(reference[i]) * reference[i];
        noise += (static_cast<double>(signal[i]) - reference[i]) *
                 (static_cast<double>(signal[i]) - reference[i]);
    }
    return 10 * std::log10(power / std::max(noise, 1.0));
}

TEST_F(ConvertImport, SameSamplesInAnyContainerGiveTheSameTakesWithAndWithoutConvert) {
    KORVO_SKIP_WITHOUT_TOOLS("sox", "ffmpeg", "flac", "sndfile-convert");
    const std::string source = musicWave();
    const auto reference = importedSamples(source);
    ASSERT_FALSE(reference.empty());
    EXPECT_EQ(importedSamples(source, {"--convert"}), reference);

    struct Made {
        std::string name;
        std::vector<std::string> command;
    };
    const std::vector<Made> files = {
        {"extensible.wav", {"sndfile-convert", source, path("extensible.wavex")}},
        {"ffmpeg-extensible.wav",
         // Any layout but plain stereo makes ffmpeg write WAVE_FORMAT_EXTENSIBLE.
         {"ffmpeg", "-y", "-i", source, "-c:a", "pcm_s16le", "-af",
          "channelmap=channel_layout=FLC+FRC", path("ffmpeg-extensible.wav")}},
        {"rf64.wav", {"ffmpeg", "-y", "-i", source, "-rf64", "always", path("rf64.wav")}},
        {"file.rf64", {"sndfile-convert", source, path("file.rf64")}},
        {"file.w64", {"sndfile-convert", source, path("file.w64")}},
        {"none.aifc", {"sox", source, path("none.aifc")}},
        {"sowt.aif", {"ffmpeg", "-y", "-i", source, "-c:a", "pcm_s16le", path("sowt.aif")}},
        {"file.caf", {"sndfile-convert", source, path("file.caf")}},
        {"flac.flac", {"flac", "-s", "-f", "-o", path("flac.flac"), source}},
        {"sox.flac", {"sox", source, path("sox.flac")}},
        {"ffmpeg.flac", {"ffmpeg", "-y", "-i", source, path("ffmpeg.flac")}},
    };
    for (const auto& made : files) {
        ASSERT_TRUE(runTool(made.command)) << made.name;
        const std::string file =
            made.name == "extensible.wav" ? path("extensible.wavex") : path(made.name);
        EXPECT_EQ(importedSamples(file), reference) << made.name;
        EXPECT_EQ(importedSamples(file, {"--convert"}), reference) << made.name << " --convert";
    }
}

TEST_F(ConvertImport, LossyAndHighResolutionFilesImportWithConvert) {
    KORVO_SKIP_WITHOUT_TOOLS("sox", "ffmpeg", "sndfile-convert");
    const std::string tone = path("tone.wav");
    ASSERT_TRUE(runTool({"sox", "-n", "-b", "24", "-r", "48000", "-c", "2", tone, "synth", "1.5",
                         "sine", "440", "gain", "-6"}));
    const std::vector<std::vector<std::string>> commands = {
        {"sox", tone, "-e", "floating-point", "-b", "32", path("float.wav")},
        {"sox", "-r", "48000", tone, "-r", "96000", "-b", "24", path("hi.aiff")},
        {"ffmpeg", "-y", "-i", tone, "-c:a", "libvorbis", path("ffmpeg.ogg")},
        {"ffmpeg", "-y", "-i", tone, "-c:a", "libopus", path("ffmpeg.opus")},
        {"sndfile-convert", "-vorbis", tone, path("sndfile.oga")},
        {"sndfile-convert", "-opus", tone, path("sndfile.opus")},
        {"sndfile-convert", "-pcm24", tone, path("file.caf")},
        {"ffmpeg", "-y", "-i", tone, "-c:a", "pcm_s24le", path("ffmpeg24.w64")},
        {"sox", tone, path("sox24.flac")},
    };
    for (const auto& command : commands) {
        ASSERT_TRUE(runTool(command)) << command.back();
        const auto samples = importedSamples(command.back(), {"--convert"});
        // 1.5 s at 44100 Hz, whole blocks.
        EXPECT_NEAR(samples.size() / 2.0, 66150, 16) << command.back();
    }
}

TEST_F(ConvertImport, A24Bit48kHzToneConvertsLikeSox) {
    KORVO_SKIP_WITHOUT_TOOLS("sox");
    const std::string tone = path("tone.wav");
    ASSERT_TRUE(runTool({"sox", "-n", "-b", "24", "-r", "48000", "-c", "2", tone, "synth", "2",
                         "sine", "1000", "sine", "1000", "gain", "-6"}));

    // Without --convert: the old status, after a line that says how to get it in.
    const std::string disk = freshDisk();
    const std::string before = fileBytes(disk);
    const auto refused = import(disk, tone);
    EXPECT_EQ(refused.exitStatus, kStatusFailedReadWave);
    EXPECT_EQ(refused.lastErrorLine(), statusMessage(kStatusFailedReadWave));
    EXPECT_NE(refused.err.find("48000 Hz, 24-bit; the song is 44100 Hz, 16-bit. Add --convert"),
              std::string::npos)
        << refused.err;
    EXPECT_TRUE(fileBytes(disk) == before);

    const auto converted = importedSamples(tone, {"--convert"});
    ASSERT_FALSE(converted.empty());
    const std::size_t frames = converted.size() / 2;
    EXPECT_LE(frames, 88200u + 16);
    EXPECT_GE(frames, 88200u);
    int crossings = 0;
    for (std::size_t i = 2; i < frames * 2; i += 2) {
        crossings += (converted[i - 2] < 0) != (converted[i] < 0);
    }
    EXPECT_NEAR(crossings / 2.0 / (frames / 44100.0), 1000.0, 1.0);

    // Against sox's own conversion: no more loss than importing sox's file directly.
    const std::string soxed = path("soxed.wav");
    ASSERT_TRUE(runTool({"sox", tone, "-b", "16", soxed, "rate", "-v", "44100", "dither"}));
    const auto soxSamples = readWave(soxed).samples;
    const auto direct = importedSamples(soxed);
    const double ours = snrDecibels(converted, soxSamples);
    const double codec = snrDecibels(direct, soxSamples);
    EXPECT_NEAR(ours, codec, 1.0) << "ours " << ours << " dB, sox's file " << codec << " dB";
}

TEST_F(ConvertImport, UnreadableChannelLessAndShortAfterConversionAreRefused) {
    KORVO_SKIP_WITHOUT_TOOLS("sox");
    const std::string garbage = path("garbage.wav");
    std::ofstream(garbage) << "RIFF this is no sound file at all";
    expectRefused(garbage, {"--convert"}, kStatusFailedReadWave);

    // A wave header that declares no channels.
    const std::string empty = path("nochannels.wav");
    {
        const std::uint8_t header[] = {'R', 'I', 'F',  'F',  36,  0,   0,   0, 'W', 'A', 'V',
                                       'E', 'f', 'm',  't',  ' ', 16,  0,   0, 0,   1,   0,
                                       0,   0,   0x44, 0xAC, 0,   0,   0,   0, 0,   0,   0,
                                       0,   16,  0,    'd',  'a', 't', 'a', 0, 0,   0,   0};
        std::ofstream(empty, std::ios::binary)
            .write(reinterpret_cast<const char*>(header), sizeof header);
    }
    expectRefused(empty, {"--convert"}, kStatusChannelCountZero);

    // 47990 frames are more than a second's blocks at 44100 Hz, but 0.9998 s at 48000 Hz.
    const std::string shortWave = path("short.wav");
    ASSERT_TRUE(runTool({"sox", "-n", "-b", "24", "-r", "48000", "-c", "1", shortWave, "synth",
                         "47990s", "sine", "440"}));
    expectRefused(shortWave, {"--convert"}, kStatusWaveTooShort);
    // A 16-bit 48 kHz wave keeps its old status without --convert.
    const std::string wave48 = path("wave48.wav");
    ASSERT_TRUE(runTool(
        {"sox", "-n", "-b", "16", "-r", "48000", "-c", "1", wave48, "synth", "2", "sine", "440"}));
    expectRefused(wave48, {}, kStatusWrongSampleRate);
}

TEST_F(ConvertImport, ChannelsArePickedFromManyAndOneGoesOnTwoTracks) {
    KORVO_SKIP_WITHOUT_TOOLS("sox");
    const std::string source = musicWave();
    const std::string four = path("four.wav");
    // Channels 1 and 2 as written, 3 and 4 the other way round, all 16-bit at 44100 Hz.
    // sox writes more than two channels as WAVE_FORMAT_EXTENSIBLE, which only the conversion
    // front reads.
    ASSERT_TRUE(runTool({"sox", source, four, "remix", "1", "2", "2", "1"}));
    const std::string disk = freshDisk();
    EXPECT_EQ(import(disk, four, {"--convert"}).exitStatus, 64);

    const auto stereo = importedSamples(source);
    const auto swapped = importedSamples(four, {"--channels", "4,3"});
    EXPECT_EQ(swapped, stereo);

    const auto right = importedSamples(four, {"--channels", "2", "--duplicate"});
    ASSERT_EQ(right.size(), stereo.size());
    for (std::size_t i = 0; i < right.size(); i += 2) {
        ASSERT_EQ(right[i], stereo[i + 1]);
        ASSERT_EQ(right[i + 1], stereo[i + 1]);
    }
    EXPECT_EQ(import(freshDisk(), four, {"--channels", "5"}).exitStatus, 64);
    EXPECT_EQ(import(freshDisk(), source, {"--duplicate"}).exitStatus, 64);
}

TEST_F(ConvertImport, FlacExportDecodesToTheWavExportsSamples) {
    KORVO_SKIP_WITHOUT_TOOLS("sox", "flac", "metaflac");
    const std::string disk = freshDisk();
    ASSERT_EQ(import(disk, musicWave()).exitStatus, 0);
    const std::string wav = path("music-out.wav");
    const std::string flac = path("music-out.flac");
    for (const auto& out : {wav, flac}) {
        const auto result = runCli({"export", disk, "--song", "1", "--track", "1.1", "--track",
                                    "2.1", "--output", out, "--quiet"});
        ASSERT_EQ(result.exitStatus, 0) << result.err;
    }
    const std::string decoded = path("decoded.wav");
    ASSERT_TRUE(runTool({"flac", "-s", "-d", "-f", "-o", decoded, flac}));
    const auto expected = readWave(wav);
    ASSERT_TRUE(expected.ok);
    EXPECT_EQ(readWave(decoded).samples, expected.samples);
    EXPECT_LT(std::filesystem::file_size(flac), std::filesystem::file_size(wav));
    const std::string title = toolOutput({"metaflac", "--show-tag=TITLE", flac});
    EXPECT_EQ(title, "title=music-L / music-R\n");

    const std::string folder = path("all");
    const auto all = runCli(
        {"export-all", disk, "--song", "1", "--output-dir", folder, "--format", "flac", "--quiet"});
    ASSERT_EQ(all.exitStatus, 0) << all.err;
    EXPECT_EQ(all.out, folder + "/1.1 music-L.flac\n" + folder + "/2.1 music-R.flac\n");
}

}  // namespace
}  // namespace korvo::test
