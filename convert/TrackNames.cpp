#include "convert/TrackNames.h"

namespace korvo {

std::string toRecorderCharacters(const std::string& text) {
    std::string result;
    for (std::size_t i = 0; i < text.size();) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte < 0x80) {
            result += static_cast<char>(byte);
            ++i;
            continue;
        }
        // One replacement per character: skip the continuation bytes of a UTF-8 sequence.
        result += '_';
        ++i;
        while (i < text.size() && (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) {
            ++i;
        }
    }
    return result;
}

std::string importedTrackName(const std::string& wavePath, int position, int channels) {
    std::string base = wavePath;
    if (const auto slash = base.rfind('/'); slash != std::string::npos) {
        base = base.substr(slash + 1);
    }
    if (const auto dot = base.rfind('.'); dot != std::string::npos) {
        base = base.substr(0, dot);
    }
    base = toRecorderCharacters(base);

    std::string suffix;
    if (channels == 2) {
        suffix = position == 0 ? "-L" : "-R";
    } else if (channels > 2) {
        suffix = "-" + std::to_string(position);
    }
    constexpr std::size_t kNameLength = 8;
    if (base.size() + suffix.size() > kNameLength) {
        base.resize(suffix.size() < kNameLength ? kNameLength - suffix.size() : 0);
    }
    return base + suffix;
}

}  // namespace korvo
