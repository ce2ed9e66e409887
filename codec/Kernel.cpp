#include "codec/Kernel.h"

namespace korvo::block {

bool kernelAvailable(Kernel kernel) {
    switch (kernel) {
        case Kernel::Portable:
            return true;
        case Kernel::Avx2:
#if KORVO_CODEC_HAS_AVX2
            // The processor's features are read here too, in case this runs before the static
            // constructors that read them otherwise.
            __builtin_cpu_init();
            return __builtin_cpu_supports("avx2");
#else
            return false;
#endif
    }
    return false;
}

Kernel fastestKernel() {
    static const Kernel fastest = kernelAvailable(Kernel::Avx2) ? Kernel::Avx2 : Kernel::Portable;
    return fastest;
}

}  // namespace korvo::block
