// Throughput of the recorder block codec on music-like audio, with memcpy of the same sample
// bytes as the yardstick, and the signal-to-noise ratio of encode then decode per block width.
//
//   build/bin/bench_codec                                   all figures
//   build/bin/bench_codec --benchmark_filter=Snr            the quality figures only
//
// Decode and encode report items_per_second in samples, one block per call (BM_Decode,
// BM_Encode) and in runs of a cluster's worth of blocks (BM_DecodeRun, BM_EncodeRun, the entry
// points the engine uses; their second argument names the kernel, and the AVX2 encoder takes a
// run eight blocks at a time, which one-block calls cannot);
// BM_MemcpySamples copies the same 16-bit sample bytes (2 bytes a sample), so the ratio of the two
// rates compares the codec with moving the audio once. BM_RoundTripSnr reports snr_dB as a counter.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "codec/BlockDecoder.h"
#include "codec/BlockEncoder.h"

namespace {

constexpr int kRate = 48000;
constexpr int kBlocks = 6000;  // 2 seconds
constexpr int kSamples = kBlocks * 16;

// Two seconds of something like music: a plucked melody with decaying harmonics, a bass line,
// a noise burst on every beat and a quiet noise floor, peaking a little below full scale.
const std::vector<std::int16_t>& music() {
    static const std::vector<std::int16_t> signal = [] {
        constexpr double kTwoPi = 6.283185307179586;
        const double melody[] = {440.0, 523.25, 659.25, 587.33, 493.88, 392.0, 440.0, 329.63};
        const double bass[] = {110.0, 87.31, 130.81, 98.0};
        std::mt19937 random(5);
        std::normal_distribution<double> noise(0.0, 1.0);
        std::vector<double> mix(kSamples);
        double peak = 0;
        for (int i = 0; i < kSamples; ++i) {
            const double t = static_cast<double>(i) / kRate;
            const int note = static_cast<int>(t / 0.25);
            const double since = t - note * 0.25;
            const double f = melody[note % 8];
            double v = 0;
            for (int h = 1; h <= 6; ++h)
                v += std::exp(-since * (3.0 + 2.0 * h)) / h * std::sin(kTwoPi * f * h * t);
            const double fb = bass[(note / 4) % 4];
            v += 0.6 * std::sin(kTwoPi * fb * t) + 0.2 * std::sin(kTwoPi * 2 * fb * t);
            const double beat = std::fmod(t, 0.5);
            v += 0.3 * std::exp(-beat * 60.0) * noise(random);
            v += 0.002 * noise(random);
            mix[i] = v;
            peak = std::max(peak, std::abs(v));
        }
        std::vector<std::int16_t> out(kSamples);
        for (int i = 0; i < kSamples; ++i)
            out[i] = static_cast<std::int16_t>(std::lround(mix[i] / peak * 30000.0));
        return out;
    }();
    return signal;
}

std::vector<std::uint8_t> encodeAll(int width, std::vector<std::int16_t>* reconstruction) {
    const std::vector<std::int16_t>& in = music();
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(kBlocks) * 2 * width);
    korvo::BlockEncoder encoder;
    std::int32_t carried = 0;
    for (int b = 0; b < kBlocks; ++b) {
        carried = encoder.encode(&in[b * 16], &bytes[static_cast<std::size_t>(b) * 2 * width],
                                 carried, width);
        if (reconstruction)
            for (int k = 0; k < 16; ++k)
                (*reconstruction)[b * 16 + k] = static_cast<std::int16_t>(encoder.reconstructed[k]);
    }
    return bytes;
}

void BM_Decode(benchmark::State& state) {
    const int width = static_cast<int>(state.range(0));
    const std::vector<std::uint8_t> bytes = encodeAll(width, nullptr);
    std::vector<std::int16_t> out(kSamples);
    korvo::BlockDecoder decoder;
    for (auto _ : state) {
        std::int32_t carried = 0;
        for (int b = 0; b < kBlocks; ++b)
            carried = decoder.decode(&bytes[static_cast<std::size_t>(b) * 2 * width], &out[b * 16],
                                     carried, width);
        benchmark::DoNotOptimize(carried);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kSamples);
}

void BM_Encode(benchmark::State& state) {
    const int width = static_cast<int>(state.range(0));
    const std::vector<std::int16_t>& in = music();
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(kBlocks) * 2 * width);
    korvo::BlockEncoder encoder;
    for (auto _ : state) {
        std::int32_t carried = 0;
        for (int b = 0; b < kBlocks; ++b)
            carried = encoder.encode(&in[b * 16], &bytes[static_cast<std::size_t>(b) * 2 * width],
                                     carried, width);
        benchmark::DoNotOptimize(carried);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kSamples);
}

// The run entry points the conversion engine calls: a cluster's worth of blocks per call.
constexpr int kRunBlocks = 2048;

// Second argument: the kernel (0 portable, 1 AVX2 where the processor has it).
void BM_DecodeRun(benchmark::State& state) {
    const int width = static_cast<int>(state.range(0));
    const auto kernel = static_cast<korvo::block::Kernel>(state.range(1));
    if (!korvo::block::kernelAvailable(kernel)) {
        state.SkipWithError("kernel not available on this processor");
        return;
    }
    const std::vector<std::uint8_t> bytes = encodeAll(width, nullptr);
    std::vector<std::int16_t> out(kSamples);
    korvo::BlockDecoder decoder;
    for (auto _ : state) {
        std::int32_t carried = 0;
        for (int b = 0; b < kBlocks; b += kRunBlocks) {
            const int count = std::min(kRunBlocks, kBlocks - b);
            carried = decoder.decodeRun(&bytes[static_cast<std::size_t>(b) * 2 * width],
                                        &out[b * 16], count, carried, width, kernel);
        }
        benchmark::DoNotOptimize(carried);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kSamples);
}

void BM_EncodeRun(benchmark::State& state) {
    const int width = static_cast<int>(state.range(0));
    const auto kernel = static_cast<korvo::block::Kernel>(state.range(1));
    if (!korvo::block::kernelAvailable(kernel)) {
        state.SkipWithError("kernel not available on this processor");
        return;
    }
    const std::vector<std::int16_t>& in = music();
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(kBlocks) * 2 * width);
    korvo::BlockEncoder encoder;
    for (auto _ : state) {
        std::int32_t carried = 0;
        for (int b = 0; b < kBlocks; b += kRunBlocks) {
            const int count = std::min(kRunBlocks, kBlocks - b);
            carried =
                encoder.encodeRun(&in[b * 16], &bytes[static_cast<std::size_t>(b) * 2 * width],
                                  count, carried, width, kernel);
        }
        benchmark::DoNotOptimize(carried);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kSamples);
}

void BM_MemcpySamples(benchmark::State& state) {
    const std::vector<std::int16_t>& in = music();
    std::vector<std::int16_t> out(kSamples);
    for (auto _ : state) {
        std::memcpy(out.data(), in.data(), kSamples * sizeof(std::int16_t));
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kSamples);
    state.SetBytesProcessed(state.iterations() * kSamples * 2);
}

// Encode then decode the music; snr_dB is the signal power over the power of the difference.
// recon_match is 1 when the decoder gave back exactly the encoder's reconstruction.
void BM_RoundTripSnr(benchmark::State& state) {
    const int width = static_cast<int>(state.range(0));
    const std::vector<std::int16_t>& in = music();
    std::vector<std::int16_t> reconstruction(kSamples), out(kSamples);
    std::vector<std::uint8_t> bytes;
    for (auto _ : state) {
        bytes = encodeAll(width, &reconstruction);
        korvo::BlockDecoder decoder;
        std::int32_t carried = 0;
        for (int b = 0; b < kBlocks; ++b)
            carried = decoder.decode(&bytes[static_cast<std::size_t>(b) * 2 * width], &out[b * 16],
                                     carried, width);
        benchmark::DoNotOptimize(carried);
    }
    double signal = 0, error = 0;
    for (int i = 0; i < kSamples; ++i) {
        signal += static_cast<double>(in[i]) * in[i];
        const double d = static_cast<double>(in[i]) - out[i];
        error += d * d;
    }
    state.counters["snr_dB"] = 10.0 * std::log10(signal / error);
    state.counters["recon_match"] = reconstruction == out ? 1 : 0;
    state.counters["bits_per_sample"] = width;
}

BENCHMARK(BM_Decode)->Arg(4)->Arg(5)->Arg(6)->Arg(8);
BENCHMARK(BM_Encode)->Arg(4)->Arg(5)->Arg(6)->Arg(8);
BENCHMARK(BM_DecodeRun)->ArgsProduct({{4, 5, 6, 8}, {0, 1}});
BENCHMARK(BM_EncodeRun)->ArgsProduct({{4, 5, 6, 8}, {0, 1}});
BENCHMARK(BM_MemcpySamples);
BENCHMARK(BM_RoundTripSnr)->Arg(4)->Arg(5)->Arg(6)->Arg(8)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
