#include "transcode/ConvertingReader.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "codec/BlockBuffer.h"
#include "transcode/SoundFileFormat.h"

namespace korvo::transcode {

namespace {

// Source frames read at a time.
constexpr std::size_t kRunFrames = 4096;

}  // namespace

CConvertingReader::CConvertingReader(std::uint32_t sampleRate, std::vector<std::uint16_t> channels)
    : rate_(sampleRate), picks_(std::move(channels)) {}

CConvertingReader::~CConvertingReader() {
    close();
}

std::uint64_t CConvertingReader::neededSize(std::uint16_t channels, std::uint32_t startBlock,
                                            std::uint32_t endBlock) const {
    return static_cast<std::uint64_t>(channels) * (endBlock - startBlock) * 32;
}

bool CConvertingReader::open(const std::string& path, int mode) {
    close();
    if (mode != kRead || rate_ == 0) {
        return false;
    }
    info_ = SF_INFO{};
    file_ = sf_open(path.c_str(), SFM_READ, &info_);
    if (!file_) {
        return false;
    }
    const auto channels = static_cast<std::uint16_t>(info_.channels);
    if (info_.channels <= 0 || info_.channels > 0xFFFF || info_.samplerate <= 0 ||
        info_.frames < 0 || info_.frames == SF_COUNT_MAX) {
        close();
        return false;
    }
    if (picks_.empty()) {
        for (std::uint16_t c = 0; c < channels; ++c) {
            picks_.push_back(c);
        }
    }
    for (const auto pick : picks_) {
        if (pick >= channels) {
            close();
            return false;
        }
    }
    const auto sourceRate = static_cast<std::uint32_t>(info_.samplerate);
    passThrough_ = isLinear16(info_.format) && sourceRate == rate_;
    wholeSamples_ = hasFewerThan16Bits(info_.format) && sourceRate == rate_;
    const auto sourceFrames = static_cast<std::uint64_t>(info_.frames);
    // A wave description counts frames in 32 bits; checked before the product below can wrap.
    if (static_cast<double>(sourceFrames) * rate_ / sourceRate >
        std::numeric_limits<std::uint32_t>::max()) {
        close();
        return false;
    }
    // Rounded to the nearest frame: the converted file lasts as long as the source.
    frames_ = passThrough_ ? sourceFrames : (sourceFrames * rate_ + sourceRate / 2) / sourceRate;
    if (frames_ > std::numeric_limits<std::uint32_t>::max()) {
        close();
        return false;
    }
    const std::size_t out = picks_.size();
    if (passThrough_) {
        sourceShorts_.assign(kRunFrames * channels, 0);
    } else {
        sourceFloats_.assign(kRunFrames * channels, 0.0f);
        picked_.assign(kRunFrames * out, 0.0f);
    }
    if (!passThrough_ && sourceRate != rate_) {
        soxr_error_t error = nullptr;
        const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
        const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_VHQ, 0);
        resampler_ = soxr_create(sourceRate, rate_, static_cast<unsigned>(out), &error, &io,
                                 &quality, nullptr);
        if (!resampler_ || error) {
            close();
            return false;
        }
        resampledCapacity_ = static_cast<std::size_t>(
                                 std::ceil(static_cast<double>(kRunFrames) * rate_ / sourceRate)) +
                             256;
        resampled_.assign(resampledCapacity_ * out, 0.0f);
    }
    pending_.reserve((resampledCapacity_ + kRunFrames) * out * 2);
    return rewind();
}

bool CConvertingReader::rewind() {
    if (!file_ || sf_seek(file_, 0, SEEK_SET) != 0) {
        return false;
    }
    if (resampler_ && soxr_clear(resampler_)) {
        return false;
    }
    dither_.reset();
    pending_.clear();
    pendingRead_ = 0;
    delivered_ = 0;
    produced_ = 0;
    sourceDone_ = false;
    failed_ = false;
    return true;
}

bool CConvertingReader::setDataPosition(std::uint64_t byteOffset) {
    if (!file_) {
        return false;
    }
    const std::uint64_t frame = byteOffset / (2 * picks_.size());
    if (frame < delivered_ && !rewind()) {
        return false;
    }
    const std::vector<korvo::BlockBuffer*> none(picks_.size(), nullptr);
    while (delivered_ < frame) {
        const auto count = static_cast<int>(std::min<std::uint64_t>(16, frame - delivered_));
        if (!readFrames(none.data(), static_cast<int>(none.size()), count)) {
            return false;
        }
    }
    return true;
}

void CConvertingReader::appendConverted(const float* samples, std::size_t frames) {
    const std::size_t out = picks_.size();
    for (std::size_t i = 0; i < frames && produced_ < frames_; ++i, ++produced_) {
        for (std::size_t c = 0; c < out; ++c) {
            const float sample = samples[i * out + c];
            pending_.push_back(wholeSamples_ ? CTpdfDither::rounded(sample)
                                             : dither_.toInt16(sample));
        }
    }
}

bool CConvertingReader::refill() {
    pending_.clear();
    pendingRead_ = 0;
    const std::size_t out = picks_.size();
    const auto channels = static_cast<std::size_t>(info_.channels);
    if (passThrough_) {
        const sf_count_t got =
            sf_readf_short(file_, sourceShorts_.data(), static_cast<sf_count_t>(kRunFrames));
        for (sf_count_t i = 0; i < got && produced_ < frames_; ++i, ++produced_) {
            for (const auto pick : picks_) {
                pending_.push_back(sourceShorts_[static_cast<std::size_t>(i) * channels + pick]);
            }
        }
        if (got <= 0) {
            sourceDone_ = true;
        }
        return sf_error(file_) == SF_ERR_NO_ERROR;
    }
    if (!sourceDone_) {
        const sf_count_t got =
            sf_readf_float(file_, sourceFloats_.data(), static_cast<sf_count_t>(kRunFrames));
        if (sf_error(file_) != SF_ERR_NO_ERROR) {
            return false;
        }
        const auto frames = static_cast<std::size_t>(got > 0 ? got : 0);
        for (std::size_t i = 0; i < frames; ++i) {
            for (std::size_t c = 0; c < out; ++c) {
                picked_[i * out + c] = sourceFloats_[i * channels + picks_[c]];
            }
        }
        if (frames == 0) {
            sourceDone_ = true;
        } else if (!resampler_) {
            appendConverted(picked_.data(), frames);
            return true;
        } else {
            std::size_t used = 0;
            while (used < frames) {
                std::size_t consumed = 0;
                std::size_t made = 0;
                if (soxr_process(resampler_, picked_.data() + used * out, frames - used, &consumed,
                                 resampled_.data(), resampledCapacity_, &made)) {
                    return false;
                }
                appendConverted(resampled_.data(), made);
                used += consumed;
            }
            return true;
        }
    }
    if (resampler_) {
        // The end of the source: what the resampler still holds.
        std::size_t made = 0;
        std::size_t consumed = 0;
        do {
            if (soxr_process(resampler_, nullptr, 0, &consumed, resampled_.data(),
                             resampledCapacity_, &made)) {
                return false;
            }
            appendConverted(resampled_.data(), made);
        } while (made > 0 && produced_ < frames_);
    }
    return true;
}

bool CConvertingReader::readFrames(korvo::BlockBuffer* const* buffers, int channels, int count) {
    if (!file_ || failed_ || channels != static_cast<int>(picks_.size()) || count < 0 ||
        count > korvo::BlockBuffer::kSamples) {
        return false;
    }
    for (int i = 0; i < count; ++i) {
        if (delivered_ >= frames_) {
            return false;
        }
        if (pendingRead_ >= pending_.size()) {
            if (!refill()) {
                failed_ = true;
                return false;
            }
            // The resampler gave out a frame or two short of the rounded length: silence.
            if (pending_.empty() && sourceDone_) {
                pending_.assign(picks_.size(), 0);
                ++produced_;
            }
            if (pending_.empty()) {
                // A run that gave no frames yet (the resampler filling its filter).
                --i;
                continue;
            }
        }
        for (int c = 0; c < channels; ++c) {
            const std::int16_t sample = pending_[pendingRead_++];
            if (buffers[c]) {
                buffers[c]->samples[static_cast<std::size_t>(i)] = sample;
            }
        }
        ++delivered_;
    }
    return true;
}

bool CConvertingReader::readHeader(KorvoLib::Korvo::WaveFormat& format) {
    if (!file_) {
        return false;
    }
    format.channels = static_cast<std::uint16_t>(picks_.size());
    format.sampleRate = rate_;
    format.frames = static_cast<std::uint32_t>(frames_);
    return true;
}

bool CConvertingReader::close() {
    if (resampler_) {
        soxr_delete(resampler_);
        resampler_ = nullptr;
    }
    if (file_) {
        const bool closed = sf_close(file_) == 0;
        file_ = nullptr;
        return closed;
    }
    return true;
}

}  // namespace korvo::transcode
