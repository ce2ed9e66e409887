#include "convert/ProgressUI.h"

#include <algorithm>

namespace KorvoLib::Korvo {

void CProgressUI::begin(std::int32_t low, std::int32_t high) {
    low_ = low;
    high_ = high;
    position_ = low;
    stepSize_ = 1;
    counter_ = 0;
    // Computed in 64 bits: a range wider than the 32-bit span must not overflow.
    const std::int64_t perPercent = (static_cast<std::int64_t>(high) - low) / 100;
    granularity_ = perPercent > 0 ? static_cast<std::int32_t>(perPercent) : 1;
}

int CProgressUI::percentage() const {
    if (high_ == low_) {
        return 100;
    }
    const std::int64_t done = (static_cast<std::int64_t>(position_) - low_) * 100 + 100;
    const std::int64_t span = static_cast<std::int64_t>(high_) - low_;
    return static_cast<int>(std::clamp<std::int64_t>(done / span, 0, 100));
}

bool CProgressUI::step(std::int32_t position) {
    const int before = percentage();
    position_ = position;
    counter_ = granularity_ > 0 ? position % granularity_ : 0;
    if (percentage() == before) {
        return true;
    }
    handleEvents();
    if (cancelled_ != 0) {
        return false;
    }
    refresh();
    return true;
}

bool CProgressUI::advance() {
    position_ += stepSize_;
    counter_ += 1;
    if (counter_ < granularity_ && position_ + 1 < high_) {
        return true;
    }
    handleEvents();
    if (cancelled_ != 0) {
        return false;
    }
    refresh();
    counter_ = 0;
    return true;
}

}  // namespace KorvoLib::Korvo
