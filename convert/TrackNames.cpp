#include "convert/TrackNames.h"

#include <cstdio>
#include <cstring>

namespace korvo {

bool isRecorderDisplayable(std::string_view text) {
    for (const char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            return false;
        }
    }
    return true;
}

std::string hostFileName(const std::string& text) {
    std::string result;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        const bool refused = byte < 0x20 || byte == 0x7F ||
                             std::string_view("/\\:*?\"<>|").find(c) != std::string_view::npos;
        result += refused ? '_' : c;
    }
    return result;
}

std::string trackLabel(int virtualTrack) {
    return std::to_string(trackOf(virtualTrack)) + "." + std::to_string(vtrackOf(virtualTrack));
}

std::string exportAllFileName(const CSong& song, int virtualTrack, const std::string& extension) {
    const std::string& stored = song.name(virtualTrack);
    const std::string name = stored.substr(0, stored.find('\0'));
    // An unnamed virtual track is plain "T.V", with no space before the extension.
    return hostFileName(trackLabel(virtualTrack) + (name.empty() ? "" : " ") + name + extension);
}

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
    if (const auto slash = base.find_last_of("/\\"); slash != std::string::npos) {
        base = base.substr(slash + 1);
    }
    if (const auto dot = base.rfind('.'); dot != std::string::npos) {
        base = base.substr(0, dot);
    }
    base = toRecorderCharacters(base);

    char suffix[16] = "";
    if (channels == 2) {
        std::snprintf(suffix, sizeof suffix, "%s", position == 0 ? "-L" : "-R");
    } else if (channels > 2) {
        std::snprintf(suffix, sizeof suffix, "-%d", position);
    }
    const std::size_t suffixLength = std::strlen(suffix);
    if (base.size() + suffixLength > kTrackNameLength) {
        base.resize(suffixLength < kTrackNameLength ? kTrackNameLength - suffixLength : 0);
    }
    base.append(suffix, suffixLength);
    return base;
}

}  // namespace korvo
