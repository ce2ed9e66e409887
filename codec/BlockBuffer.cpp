#include "codec/BlockBuffer.h"

namespace korvo {

BlockBuffer::BlockBuffer(int width)
    : width_(width), byteCount_(static_cast<std::uint8_t>(2 * width)) {
    reset();
}

void BlockBuffer::reset() {
    bytes.fill(0);
    samples.fill(0);
    carried = 0;
}

}  // namespace korvo
