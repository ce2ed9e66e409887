#include <cstdio>
#include <cstdlib>

#include "fuzz/Harnesses.h"

namespace korvo::fuzz {

void promiseBroken(const char* promise, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: broken promise: %s\n", file, line, promise);
    std::abort();
}

}  // namespace korvo::fuzz
