#include "codec/BlockBuffer.h"

#include "codec/BlockFormat.h"

namespace korvo {

namespace {
int codecWidth(int width) { return block::isDecodableWidth(width) ? width : 0; }
}  // namespace

BlockBuffer::BlockBuffer(int width)
    : width_(codecWidth(width)), byteCount_(static_cast<std::uint8_t>(2 * codecWidth(width))) {
    reset();
}

void BlockBuffer::reset() {
    bytes.fill(0);
    samples.fill(0);
    carried = 0;
}

}  // namespace korvo
