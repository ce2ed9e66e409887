// The libFuzzer entry of one harness executable; KORVOWAV_FUZZ_HARNESS names the harness
// function (set per executable by the build).
#include <cstddef>
#include <cstdint>

#include "fuzz/Harnesses.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return korvo::fuzz::KORVOWAV_FUZZ_HARNESS(data, size);
}
