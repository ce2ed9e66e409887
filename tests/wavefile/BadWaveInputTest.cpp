// Broken and unsupported wave files: every one must fail cleanly (open or header read false, no
// samples handed out), never crash, hang or read out of bounds. Run under the sanitizers too.

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "tests/wavefile/WaveFixtures.h"
#include "wavefile/ExtendedFloat.h"

namespace korvo::test {
namespace {

using KorvoLib::Korvo::IWaveFile;
using KorvoLib::Korvo::kWaveTypeAiff;
using KorvoLib::Korvo::kWaveTypeRiff;
using KorvoLib::Korvo::makeWaveFile;
using KorvoLib::Korvo::WaveFormat;

struct BadFile {
    std::string what;
    Bytes bytes;
};

Bytes riffSamples() { return littleSamples(testSamples(32)); }
Bytes fmt16(std::uint16_t tag = 1, std::uint16_t bits = 16) {
    return chunk(false, "fmt ", riffFormatBody(tag, 2, 44100, bits));
}
Bytes riffOf(const std::vector<Bytes>& children) {
    return container(false, "RIFF", "WAVE", children);
}
Bytes validRiff() { return riffOf({fmt16(), chunk(false, "data", riffSamples())}); }

// Overwrites four bytes in the file's own byte order.
Bytes patched32(Bytes bytes, std::size_t at, std::uint32_t value, bool big) {
    ByteWriter w{big, {}};
    w.u32(value);
    std::copy(w.bytes.begin(), w.bytes.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
    return bytes;
}

Bytes commBody(std::int16_t channels, std::int16_t sampleSize, double rate) {
    ByteWriter w{true, {}};
    w.u16(static_cast<std::uint16_t>(channels)).u32(16).u16(static_cast<std::uint16_t>(sampleSize));
    const auto extended = KorvoLib::toExtended(rate);
    w.raw(Bytes(extended.begin(), extended.end()));
    return w.bytes;
}
Bytes ssndBody(std::uint32_t offset = 0) {
    return ByteWriter{true, {}}.u32(offset).u32(0).raw(bigSamples(testSamples(32))).bytes;
}
Bytes aiffOf(const std::vector<Bytes>& children) {
    return container(true, "FORM", "AIFF", children);
}
Bytes validAiff() {
    return aiffOf({chunk(true, "COMM", commBody(2, 16, 44100)), chunk(true, "SSND", ssndBody())});
}

std::vector<BadFile> badRiffFiles() {
    std::vector<BadFile> files;
    const Bytes valid = validRiff();
    for (std::size_t length = 0; length < 46; ++length) {
        files.push_back({"header cut at " + std::to_string(length),
                         Bytes(valid.begin(), valid.begin() + static_cast<std::ptrdiff_t>(length))});
    }
    files.push_back({"samples cut short", Bytes(valid.begin(), valid.end() - 3)});
    files.push_back({"negative RIFF size", patched32(valid, 4, 0xFFFFFFF0u, false)});
    files.push_back({"RIFF size past the end", patched32(valid, 4, 4000, false)});
    files.push_back({"negative fmt size", patched32(valid, 16, 0x80000000u, false)});
    files.push_back({"fmt size past the RIFF body", patched32(valid, 16, 200, false)});
    files.push_back({"negative data size", patched32(valid, 42, 0xFFFFFFFEu, false)});
    files.push_back({"data size past the end", patched32(valid, 42, 130, false)});
    files.push_back({"no fmt", riffOf({chunk(false, "data", riffSamples())})});
    files.push_back({"no data", riffOf({fmt16(), chunk(false, "LIST", Bytes(8, 'x'))})});
    files.push_back({"fmt spelled in capitals", riffOf({chunk(false, "FMT ", riffFormatBody(1, 2, 44100, 16)),
                                                        chunk(false, "data", riffSamples())})});
    Bytes shortFormat = riffFormatBody(1, 2, 44100, 16);
    shortFormat.resize(14);
    files.push_back({"fmt body of 14 bytes",
                     riffOf({chunk(false, "fmt ", shortFormat), chunk(false, "data", riffSamples())})});
    files.push_back({"chunk before data runs past the end",
                     riffOf({fmt16(), chunk(false, "LIST", Bytes(4, 'x'), 0x7FFFFFF0)})});
    files.push_back({"form type AVI", container(false, "RIFF", "AVI ", {fmt16(), chunk(false, "data", riffSamples())})});
    files.push_back({"big-endian RIFX", container(true, "RIFX", "WAVE", {fmt16(), chunk(false, "data", riffSamples())})});
    files.push_back({"an AIFF file", validAiff()});
    files.push_back({"float samples", riffOf({fmt16(3, 32), chunk(false, "data", riffSamples())})});
    files.push_back({"extensible format", riffOf({fmt16(0xFFFE, 16), chunk(false, "data", riffSamples())})});
    files.push_back({"8-bit samples", riffOf({fmt16(1, 8), chunk(false, "data", riffSamples())})});
    files.push_back({"24-bit samples", riffOf({fmt16(1, 24), chunk(false, "data", riffSamples())})});
    return files;
}

std::vector<BadFile> badAiffFiles() {
    std::vector<BadFile> files;
    const Bytes valid = validAiff();
    for (std::size_t length = 0; length < 54; ++length) {
        files.push_back({"header cut at " + std::to_string(length),
                         Bytes(valid.begin(), valid.begin() + static_cast<std::ptrdiff_t>(length))});
    }
    files.push_back({"samples cut short", Bytes(valid.begin(), valid.end() - 1)});
    files.push_back({"negative FORM size", patched32(valid, 4, 0xFFFFFFFFu, true)});
    files.push_back({"FORM size past the end", patched32(valid, 4, 1000, true)});
    files.push_back({"negative COMM size", patched32(valid, 16, 0x80000000u, true)});
    files.push_back({"negative SSND size", patched32(valid, 42, 0xFFFFFFF8u, true)});
    files.push_back({"SSND size past the end", patched32(valid, 42, 80, true)});
    files.push_back({"SSND shorter than its offset fields",
                     aiffOf({chunk(true, "COMM", commBody(2, 16, 44100)), chunk(true, "SSND", Bytes(4, 0))})});
    Bytes shortCommon = commBody(2, 16, 44100);
    shortCommon.resize(16);
    files.push_back({"COMM body of 16 bytes",
                     aiffOf({chunk(true, "COMM", shortCommon), chunk(true, "SSND", ssndBody())})});
    files.push_back({"no COMM", aiffOf({chunk(true, "SSND", ssndBody())})});
    files.push_back({"no SSND", aiffOf({chunk(true, "COMM", commBody(2, 16, 44100))})});
    files.push_back({"form type AIFC", container(true, "FORM", "AIFC", {chunk(true, "COMM", commBody(2, 16, 44100)),
                                                                         chunk(true, "SSND", ssndBody())})});
    files.push_back({"a RIFF WAVE file", validRiff()});
    for (std::int16_t size : {8, 24, 32}) {
        files.push_back({std::to_string(size) + "-bit samples",
                         aiffOf({chunk(true, "COMM", commBody(2, size, 44100)), chunk(true, "SSND", ssndBody())})});
    }
    files.push_back({"negative channel count",
                     aiffOf({chunk(true, "COMM", commBody(-2, 16, 44100)), chunk(true, "SSND", ssndBody())})});
    for (double rate : {-44100.0, 1e10, std::numeric_limits<double>::infinity(),
                        std::numeric_limits<double>::quiet_NaN()}) {
        files.push_back({"sample rate " + std::to_string(rate),
                         aiffOf({chunk(true, "COMM", commBody(2, 16, rate)), chunk(true, "SSND", ssndBody())})});
    }
    return files;
}

// Open, header, data position and a block read: at least one of the first three must fail, and
// no samples may come out.
void expectRefused(int type, const std::string& path, const BadFile& bad) {
    saveBytes(path, bad.bytes);
    auto file = makeWaveFile(type);
    WaveFormat format;
    const bool opened = file->open(path, IWaveFile::kRead);
    const bool header = opened && file->readHeader(format);
    EXPECT_FALSE(header) << bad.what;
    if (opened) {
        BlockBuffer a(5), b(5);
        BlockBuffer* buffers[2] = {&a, &b};
        if (file->setDataPosition(0)) {
            // Reading past what the file holds must fail rather than invent samples.
            for (int i = 0; i < 8 && file->readFrames(buffers, 2, 16); ++i) {
            }
        }
        EXPECT_TRUE(file->close());
    }
}

TEST(BadWaveInput, BrokenOrUnsupportedRiffWaveFilesAreRefused) {
    ScratchFolder folder("bad-riff");
    ASSERT_TRUE(importWave([&] {
        saveBytes(folder.file("ok.wav"), validRiff());
        return folder.file("ok.wav");
    }()));  // the base of every mutation is valid
    for (const BadFile& bad : badRiffFiles()) {
        expectRefused(kWaveTypeRiff, folder.file("bad.wav"), bad);
    }
}

TEST(BadWaveInput, BrokenOrUnsupportedAiffFilesAreRefused) {
    ScratchFolder folder("bad-aiff");
    saveBytes(folder.file("ok.aiff"), validAiff());
    ASSERT_TRUE(importWave(folder.file("ok.aiff")));
    for (const BadFile& bad : badAiffFiles()) {
        expectRefused(kWaveTypeAiff, folder.file("bad.aiff"), bad);
    }
}

TEST(BadWaveInput, FramesAreNeverReadPastTheEndOfTheFile) {
    // A valid header over a file whose last block is missing.
    ScratchFolder folder("short");
    const std::string path = folder.file("short.wav");
    Bytes bytes = validRiff();
    bytes = patched32(bytes, 42, 0, false);  // data size 0 passes the checks...
    saveBytes(path, bytes);
    auto file = makeWaveFile(kWaveTypeRiff);
    ASSERT_TRUE(file->open(path, IWaveFile::kUpdate));  // ...and update mode has no data limit
    ASSERT_TRUE(file->setDataPosition(bytes.size() - 46 - 64));
    BlockBuffer a(5), b(5);
    BlockBuffer* buffers[2] = {&a, &b};
    EXPECT_TRUE(file->readFrames(buffers, 2, 16));
    EXPECT_FALSE(file->readFrames(buffers, 2, 1));
    EXPECT_FALSE(file->readFrames(buffers, 2, 1));  // the error state stays
}

TEST(BadWaveInput, PathsThatAreNoRegularFileAreRefusedWithoutWaiting) {
    ScratchFolder folder("special");
    const std::string fifo = folder.file("fifo.wav");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (int mode : {IWaveFile::kRead, IWaveFile::kCreate, IWaveFile::kUpdate}) {
        EXPECT_FALSE(makeWaveFile(kWaveTypeRiff)->open(fifo, mode)) << mode;
        EXPECT_FALSE(makeWaveFile(kWaveTypeAiff)->open(folder.file(""), mode)) << mode;
    }
    EXPECT_EQ(KorvoLib::Korvo::recognizeWaveFileType(fifo), -1);
}

}  // namespace
}  // namespace korvo::test
