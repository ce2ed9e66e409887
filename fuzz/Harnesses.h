#pragma once
// The fuzz harnesses: each takes one input's bytes, feeds them to a parser through its real
// interface and checks what the parser promises about the result. Each is a plain function, so
// that the libFuzzer entry (LibFuzzerEntry.cpp, one executable per harness) and the replay test
// of the normal build (which runs every saved input under tests/fuzz/<name>/) call the same code.
// A broken promise aborts with a message, which libFuzzer reports as a crash.
//
//   for (const auto& harness : fuzz::harnesses())
//       harness.run(bytes.data(), bytes.size());

#include <array>
#include <cstddef>
#include <cstdint>

namespace korvo::fuzz {

using HarnessFunction = int (*)(const std::uint8_t* data, std::size_t size);

int songListHarness(const std::uint8_t* data, std::size_t size);
int songFileHarness(const std::uint8_t* data, std::size_t size);
int eventListHarness(const std::uint8_t* data, std::size_t size);
int riffWaveHarness(const std::uint8_t* data, std::size_t size);
int aiffWaveHarness(const std::uint8_t* data, std::size_t size);
int fatBootHarness(const std::uint8_t* data, std::size_t size);
int fatWalkHarness(const std::uint8_t* data, std::size_t size);
int takeChainHarness(const std::uint8_t* data, std::size_t size);

struct Harness {
    const char* name;  // the executable is fuzz_<name>, its saved inputs tests/fuzz/<name>/
    HarnessFunction run;
};

inline constexpr std::array<Harness, 8> kHarnesses = {{
    {"song_list", songListHarness},
    {"song_file", songFileHarness},
    {"event_list", eventListHarness},
    {"riff_wave", riffWaveHarness},
    {"aiff_wave", aiffWaveHarness},
    {"fat_boot", fatBootHarness},
    {"fat_walk", fatWalkHarness},
    {"take_chain", takeChainHarness},
}};

// Aborts with the failed promise and where it was checked.
[[noreturn]] void promiseBroken(const char* promise, const char* file, int line);

}  // namespace korvo::fuzz

#define KORVO_PROMISE(condition)                                          \
    do {                                                                  \
        if (!(condition))                                                 \
            ::korvo::fuzz::promiseBroken(#condition, __FILE__, __LINE__); \
    } while (false)
