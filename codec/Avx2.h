#pragma once
// The codec's AVX2 kernels include this: the intrinsics, and the attribute that compiles one
// function for AVX2 while the rest of the build stays at the baseline instruction set. Call
// such a function only after block::kernelAvailable(Kernel::Avx2).

#include "codec/Kernel.h"

#if KORVO_CODEC_HAS_AVX2
#include <immintrin.h>
#define KORVO_AVX2 __attribute__((target("avx2")))
#endif
