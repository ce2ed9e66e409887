// Conversion engine timings beside the plain file work each run cannot avoid, measured in the
// same binary: importing a 30-second stereo wave into a disk image against reading the wave and
// writing the take bytes, and exporting the two virtual tracks back to a wave file against
// reading the takes and writing a file of the output's size. The demo disk is the recorder
// disk; its empty song takes the imports. scripts/measure_engine.sh measures whole-program
// runs, peak memory and long songs.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "convert/DemoDisk.h"
#include "codec/BlockBuffer.h"
#include "convert/TrackConverter.h"
#include "disk/DiskLayout.h"
#include "wavefile/WaveFile.h"

namespace {

using namespace korvo;

constexpr std::uint32_t kSampleRate = 44100;
constexpr std::uint32_t kSeconds = 30;
constexpr std::uint32_t kBlocks = kSeconds * kSampleRate / BlockBuffer::kSamples;
constexpr SongNumber kEmptySong = 1;
// MT2 blocks: 12 bytes for 16 samples of one virtual track.
constexpr std::uint64_t kTakeBytes = std::uint64_t{kBlocks} * 12 * 2;

struct Workspace {
    std::string folder;
    std::string image;
    std::string wave;

    Workspace() {
        char pattern[] = "/tmp/korvowav-bench-engine-XXXXXX";
        folder = ::mkdtemp(pattern);
        image = folder + "/disk.img";
        wave = folder + "/in.wav";
        std::string message;
        if (!makeDemoDisk(image, message)) {
            std::abort();
        }
        writeWave();
    }
    ~Workspace() {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }

    // Two sines a fifth apart, one per channel.
    void writeWave() const {
        auto file = KorvoLib::Korvo::makeWaveFile(KorvoLib::Korvo::kWaveTypeRiff);
        if (!file || !file->open(wave, KorvoLib::Korvo::IWaveFile::kCreate) ||
            !file->setDataPosition(0)) {
            std::abort();
        }
        BlockBuffer left(6);
        BlockBuffer right(6);
        BlockBuffer* channels[2] = {&left, &right};
        for (std::uint32_t block = 0; block < kBlocks; ++block) {
            for (int k = 0; k < BlockBuffer::kSamples; ++k) {
                const double t = (block * 16.0 + k) / kSampleRate;
                left.samples[k] = static_cast<std::int16_t>(9000 * std::sin(2 * M_PI * 220 * t));
                right.samples[k] = static_cast<std::int16_t>(9000 * std::sin(2 * M_PI * 330 * t));
            }
            if (!file->writeBlock(channels, 2)) {
                std::abort();
            }
        }
        const KorvoLib::Korvo::WaveFormat format{2, kSampleRate, kBlocks * 16};
        if (!file->close() || !file->open(wave, KorvoLib::Korvo::IWaveFile::kUpdate) ||
            !file->writeHeader(format) || !file->close()) {
            std::abort();
        }
    }
};

Workspace& workspace() {
    static Workspace shared;
    return shared;
}

const std::vector<std::uint8_t> kTracks{virtualTrackIndex(1, 1), virtualTrackIndex(2, 1)};

void readWholeFile(const std::string& path, std::vector<char>& buffer) {
    const int fd = ::open(path.c_str(), O_RDONLY);
    while (fd >= 0 && ::read(fd, buffer.data(), buffer.size()) > 0) {
    }
    ::close(fd);
}

void writeFileOfSize(const std::string& path, std::uint64_t bytes, std::vector<char>& buffer) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    for (std::uint64_t left = bytes; fd >= 0 && left > 0;) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(left, buffer.size()));
        if (::write(fd, buffer.data(), n) <= 0) {
            break;
        }
        left -= n;
    }
    ::fdatasync(fd);
    ::close(fd);
}

void BM_ImportStereoIntoImage(benchmark::State& state) {
    Workspace& work = workspace();
    for (auto _ : state) {
        CTrackConverter converter;
        converter.setPolarity(true);
        converter.setRootPath(work.image);
        converter.setSelectedTracks(kTracks);
        if (!converter.refreshSongList() || !converter.refreshSong(kEmptySong) ||
            !converter.openInputWave(work.wave)) {
            state.SkipWithError("cannot open the demo disk or the wave");
            break;
        }
        converter.computeImportRange();
        if (!converter.runImport()) {
            state.SkipWithError("import failed");
            break;
        }
    }
    state.SetBytesProcessed(state.iterations() * std::filesystem::file_size(work.wave));
}
// Each run adds its takes to the disk; a few runs keep the demo disk far from full.
BENCHMARK(BM_ImportStereoIntoImage)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_ImportBaselineReadWaveWriteTakes(benchmark::State& state) {
    Workspace& work = workspace();
    std::vector<char> buffer(1 << 16, 1);
    for (auto _ : state) {
        readWholeFile(work.wave, buffer);
        writeFileOfSize(work.folder + "/takes.bin", kTakeBytes, buffer);
    }
    state.SetBytesProcessed(state.iterations() * std::filesystem::file_size(work.wave));
}
BENCHMARK(BM_ImportBaselineReadWaveWriteTakes)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_ExportStereoFromImage(benchmark::State& state) {
    Workspace& work = workspace();
    const std::string output = work.folder + "/out.wav";
    for (auto _ : state) {
        CTrackConverter converter;
        converter.setPolarity(true);
        converter.setRootPath(work.image);
        converter.setSelectedTracks(kTracks);
        if (!converter.refreshSongList() || !converter.refreshSong(kEmptySong)) {
            state.SkipWithError("cannot open the demo disk");
            break;
        }
        converter.computeExportRange();
        converter.setOutputWave(output, KorvoLib::Korvo::kWaveTypeRiff);
        if (!converter.runExport()) {
            state.SkipWithError("export failed (run the import benchmark first)");
            break;
        }
    }
    state.SetBytesProcessed(state.iterations() * std::filesystem::file_size(output));
}
BENCHMARK(BM_ExportStereoFromImage)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_ExportBaselineReadTakesWriteWave(benchmark::State& state) {
    Workspace& work = workspace();
    std::vector<char> buffer(1 << 16, 1);
    const std::uint64_t outputBytes = std::uint64_t{kBlocks} * 16 * 2 * 2 + 44;
    for (auto _ : state) {
        readWholeFile(work.folder + "/takes.bin", buffer);
        writeFileOfSize(work.folder + "/out-baseline.wav", outputBytes, buffer);
    }
    state.SetBytesProcessed(state.iterations() * outputBytes);
}
BENCHMARK(BM_ExportBaselineReadTakesWriteWave)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

BENCHMARK_MAIN();
