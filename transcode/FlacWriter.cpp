#include "transcode/FlacWriter.h"

#include <sys/stat.h>

#include "codec/BlockBuffer.h"

namespace korvo::transcode {

CFlacWriter::CFlacWriter(std::uint32_t sampleRate, std::uint16_t channels, std::string title)
    : rate_(sampleRate), channels_(channels), title_(std::move(title)) {}

CFlacWriter::~CFlacWriter() {
    close();
}

std::uint64_t CFlacWriter::neededSize(std::uint16_t channels, std::uint32_t startBlock,
                                      std::uint32_t endBlock) const {
    const std::uint64_t raw = static_cast<std::uint64_t>(channels) * (endBlock - startBlock) * 32;
    return raw + raw / 64 + 65536;
}

bool CFlacWriter::open(const std::string& path, int mode) {
    close();
    if (mode == kUpdate) {
        struct stat status {};
        updating_ = ::stat(path.c_str(), &status) == 0;
        return updating_;
    }
    // FLAC holds at most 8 channels; the export gives one per virtual track, at most two.
    if (mode != kCreate || channels_ == 0 || channels_ > 8 || rate_ == 0) {
        return false;
    }
    SF_INFO info{};
    info.samplerate = static_cast<int>(rate_);
    info.channels = channels_;
    info.format = SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
    file_ = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!file_) {
        return false;
    }
    // Tags go into the stream's metadata before the first frame.
    if (!title_.empty() && sf_set_string(file_, SF_STR_TITLE, title_.c_str()) != 0) {
        close();
        return false;
    }
    block_.assign(static_cast<std::size_t>(channels_) * korvo::BlockBuffer::kSamples, 0);
    return true;
}

bool CFlacWriter::setDataPosition(std::uint64_t byteOffset) {
    return file_ != nullptr && byteOffset == 0;
}

bool CFlacWriter::writeBlock(korvo::BlockBuffer* const* buffers, int channels) {
    if (!file_ || channels != channels_) {
        return false;
    }
    for (int i = 0; i < korvo::BlockBuffer::kSamples; ++i) {
        for (int c = 0; c < channels; ++c) {
            block_[static_cast<std::size_t>(i * channels + c)] =
                buffers[c]->samples[static_cast<std::size_t>(i)];
        }
    }
    return sf_writef_short(file_, block_.data(), korvo::BlockBuffer::kSamples) ==
           korvo::BlockBuffer::kSamples;
}

bool CFlacWriter::writeHeader(const KorvoLib::Korvo::WaveFormat& format) {
    return updating_ && format.channels == channels_ && format.sampleRate == rate_;
}

bool CFlacWriter::close() {
    updating_ = false;
    if (!file_) {
        return true;
    }
    const bool fine = sf_error(file_) == SF_ERR_NO_ERROR;
    const bool closed = sf_close(file_) == 0;
    file_ = nullptr;
    return fine && closed;
}

}  // namespace korvo::transcode
