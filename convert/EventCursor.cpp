#include "convert/EventCursor.h"

#include <algorithm>

namespace korvo {

namespace {

// Fade length in blocks: sample rate x 0.0009375, rounded up (42 blocks at 44100 Hz).
std::uint32_t fadeLength(std::uint32_t sampleRate) {
    return static_cast<std::uint32_t>((static_cast<std::uint64_t>(sampleRate) * 15 + 15999) /
                                      16000);
}

}  // namespace

CEventCursor::CEventCursor(const CEventTable& events, int virtualTrack, BlockRange range,
                           std::uint32_t sampleRate)
    : events_(events),
      virtualTrack_(virtualTrack),
      range_(range),
      blocksPerSecond_(sampleRate >> 4),
      fadeBlocks_(fadeLength(sampleRate)),
      // An empty segment at the range start, so that the first block moves the cursor.
      segmentStart_(range.start),
      segmentEnd_(range.start) {}

void CEventCursor::moveTo(std::uint32_t block) {
    segmentEvent_ = kNoSlot;
    if (block == range_.end) {
        segmentStart_ = segmentEnd_ = range_.end;
        return;
    }
    const ListHeader& chain = events_.chain(virtualTrack_);
    if (chain.empty()) {
        segmentStart_ = range_.start;
        segmentEnd_ = range_.end;
        return;
    }
    const std::uint16_t found = events_.findAtOrBefore(virtualTrack_, block);
    if (found == kNoSlot) {
        segmentStart_ = range_.start;
        segmentEnd_ = events_.slot(chain.head).start;
        return;
    }
    const EventRecord& event = events_.slot(found);
    if (block < event.end) {
        segmentStart_ = event.start;
        segmentEnd_ = event.end;
        segmentEvent_ = found;
        return;
    }
    segmentStart_ = event.end;
    segmentEnd_ = event.next != kNoSlot ? events_.slot(event.next).start : range_.end;
}

std::uint16_t CEventCursor::currentEvent() const {
    if (segmentEvent_ == kNoSlot) {
        return kNoSlot;
    }
    const EventRecord& event = events_.slot(segmentEvent_);
    if (event.firstCluster == 0 || event.end - event.start < blocksPerSecond_) {
        return kNoSlot;
    }
    return segmentEvent_;
}

void CEventCursor::applyFade(std::uint32_t block, BlockBuffer& buffer) const {
    fadeRun(segmentStart_, segmentEnd_, fadeBlocks_, block, buffer.samples.data(), 1);
}

void CEventCursor::fadeRun(std::uint32_t segmentStart, std::uint32_t segmentEnd,
                           std::uint32_t fadeBlocks, std::uint32_t firstBlock,
                           std::int16_t* samples, std::uint32_t blocks) {
    const std::int64_t start = segmentStart;
    const std::int64_t end = segmentEnd;
    const std::int64_t fade = fadeBlocks;
    if (fade == 0) {
        return;
    }
    const std::int32_t divisor = static_cast<std::int32_t>(fade * 16);
    const std::int64_t runEnd = std::int64_t{firstBlock} + blocks;
    // Only the blocks near the edges change: those before start + fade and from end - fade.
    const auto fadeBlocksIn = [&](std::int64_t from, std::int64_t to) {
        for (std::int64_t b = std::max<std::int64_t>(from, firstBlock); b < std::min(to, runEnd);
             ++b) {
            const bool fadingIn = b < start + fade;
            const bool fadingOut = b >= end - fade;
            // In a segment shorter than two fade lengths the blocks covered by both fades stay
            // as they are.
            if (fadingIn == fadingOut) {
                continue;
            }
            std::int16_t* block = samples + (b - firstBlock) * 16;
            for (int k = 0; k < BlockBuffer::kSamples; ++k) {
                const std::int32_t weight = fadingIn
                                                ? static_cast<std::int32_t>((b - start) * 16 + k)
                                                : static_cast<std::int32_t>((end - b) * 16 - k);
                block[k] = static_cast<std::int16_t>(weight * block[k] / divisor);
            }
        }
    };
    const std::int64_t inEnd = std::min(start + fade, end);
    const std::int64_t outStart = std::max(end - fade, inEnd);
    fadeBlocksIn(start, inEnd);
    fadeBlocksIn(outStart, end);
}

}  // namespace korvo
