#pragma once
// The instruction sets the codec's run loops are built for. The portable kernel is plain C++ and
// runs everywhere; x86 builds with GCC or Clang also carry AVX2 kernels of the decoder and the
// encoder, compiled for that instruction set alone and chosen at run time when the processor
// has it, so the build itself needs no more than the baseline. Every kernel gives the same
// samples and bytes; tests and benchmarks name a kernel to compare them, everyone else gets
// the fastest one the processor has.

#include <cstdint>

#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
#define KORVO_CODEC_HAS_AVX2 1
#else
#define KORVO_CODEC_HAS_AVX2 0
#endif

namespace korvo::block {

enum class Kernel : std::uint8_t { Portable, Avx2 };

// Whether this build and this processor can run the kernel.
bool kernelAvailable(Kernel kernel);

// The fastest available kernel, found once.
Kernel fastestKernel();

}  // namespace korvo::block
