#include "convert/StatusMessages.h"

#include <array>

namespace korvo {

namespace {

constexpr std::array<std::string_view, 19> kMessages = {
    "",
    "Not Korvo disk.",
    "Can't read disk.",
    "Can't write disk.",
    "Song protected.",
    "Failed to read song list.",
    "Failed to read song.",
    "Failed to write song.",
    "Failed to read track.",
    "Failed to write track.",
    "Failed to read wave file.",
    "Failed to write wave file.",
    "Invalid song number.",
    "No free space on save target disk.",
    "Channel count zero. Can't convert wave file to Korvo track.",
    "Sampling frequency is not 44100Hz. Can't convert wave file to Korvo track.",
    "Specified wave is too short (< 1sec). Can't convert wave file to Korvo track.",
    "Failed to access Korvo disk. Can't create new event.",
    "Event full. Can't create new event.",
};

}  // namespace

std::string_view statusMessage(int code) {
    if (code < 1 || code >= static_cast<int>(kMessages.size())) {
        return {};
    }
    return kMessages[static_cast<std::size_t>(code)];
}

}  // namespace korvo
