#pragma once
// What a libsndfile format code says about the samples in a file.

#include <sndfile.h>

#include <string>

namespace korvo::transcode {

// Whole 16-bit linear samples, whatever the container.
inline bool isLinear16(int format) {
    return (format & SF_FORMAT_SUBMASK) == SF_FORMAT_PCM_16;
}

// Linear or companded samples of fewer than 16 bits: whole 16-bit values once scaled.
inline bool hasFewerThan16Bits(int format) {
    switch (format & SF_FORMAT_SUBMASK) {
        case SF_FORMAT_PCM_S8:
        case SF_FORMAT_PCM_U8:
        case SF_FORMAT_ULAW:
        case SF_FORMAT_ALAW:
            return true;
        default:
            return false;
    }
}

// "16-bit", "24-bit", "32-bit float", "Vorbis" ...: how a user knows the samples.
std::string encodingName(int format);

}  // namespace korvo::transcode
