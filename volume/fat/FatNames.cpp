#include "volume/fat/FatNames.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace korvo::fat {

namespace {

char upper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// Characters an 8.3 name may hold besides letters and digits (bytes 0x80 and above are left out:
// their meaning depends on the code page).
bool isShortNameChar(char c) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))
        return true;
    return std::strchr("!#$%&'()-@^_`{}~", c) != nullptr && c != '\0';
}

bool decodeUtf8(std::string_view text, std::vector<std::uint16_t>& units) {
    units.clear();
    for (std::size_t i = 0; i < text.size();) {
        const auto b = static_cast<std::uint8_t>(text[i]);
        std::uint32_t code = 0;
        std::size_t extra = 0;
        if (b < 0x80) {
            code = b;
        } else if ((b & 0xE0) == 0xC0) {
            code = b & 0x1F;
            extra = 1;
        } else if ((b & 0xF0) == 0xE0) {
            code = b & 0x0F;
            extra = 2;
        } else if ((b & 0xF8) == 0xF0) {
            code = b & 0x07;
            extra = 3;
        } else {
            return false;
        }
        if (i + extra >= text.size() && extra != 0)
            return false;
        for (std::size_t k = 1; k <= extra; ++k) {
            const auto c = static_cast<std::uint8_t>(text[i + k]);
            if ((c & 0xC0) != 0x80)
                return false;
            code = (code << 6) | (c & 0x3F);
        }
        i += extra + 1;
        if (code >= 0xD800 && code <= 0xDFFF)
            return false;
        if (code > 0x10FFFF)
            return false;
        if (code >= 0x10000) {
            code -= 0x10000;
            units.push_back(static_cast<std::uint16_t>(0xD800 + (code >> 10)));
            units.push_back(static_cast<std::uint16_t>(0xDC00 + (code & 0x3FF)));
        } else {
            units.push_back(static_cast<std::uint16_t>(code));
        }
    }
    return true;
}

void appendUtf8(std::string& out, std::uint32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

}  // namespace

std::optional<ShortName> plainShortName(std::string_view name) {
    const std::size_t dot = name.find('.');
    const std::string_view base = name.substr(0, dot);
    const std::string_view ext =
        dot == std::string_view::npos ? std::string_view{} : name.substr(dot + 1);
    if (base.empty() || base.size() > 8)
        return std::nullopt;
    if (dot != std::string_view::npos && (ext.empty() || ext.size() > 3))
        return std::nullopt;
    ShortName slot;
    slot.fill(' ');
    for (std::size_t i = 0; i < base.size(); ++i) {
        if (!isShortNameChar(base[i]))
            return std::nullopt;
        slot[i] = static_cast<std::uint8_t>(upper(base[i]));
    }
    for (std::size_t i = 0; i < ext.size(); ++i) {
        if (!isShortNameChar(ext[i]))
            return std::nullopt;
        slot[8 + i] = static_cast<std::uint8_t>(upper(ext[i]));
    }
    if (slot[0] == kEntryDeleted)
        slot[0] = kEntryKanjiE5;
    return slot;
}

bool isStorableName(std::string_view name) {
    if (name.empty() || name.size() > 255 || name == "." || name == "..")
        return false;
    for (char c : name) {
        if (static_cast<unsigned char>(c) < 0x20 || std::strchr("\"*/:<>?\\|", c) != nullptr)
            return false;
    }
    const char last = name.back();
    return last != '.' && last != ' ';
}

std::optional<ShortName> generateShortName(std::string_view longName,
                                           const std::function<bool(const ShortName&)>& taken) {
    // Basis: upper case, spaces and leading dots dropped, other unfit characters as '_'; the
    // extension is what follows the last dot.
    std::string stripped;
    for (char c : longName) {
        if (c == ' ')
            continue;
        if (c == '.' && stripped.empty())
            continue;
        stripped += c;
    }
    const std::size_t lastDot = stripped.rfind('.');
    std::string base;
    std::string ext;
    auto fit = [](char c) { return isShortNameChar(c) ? upper(c) : '_'; };
    for (std::size_t i = 0; i < stripped.size() && i < lastDot; ++i) {
        if (stripped[i] == '.')
            continue;
        if (base.size() < 8)
            base += fit(stripped[i]);
    }
    if (lastDot != std::string::npos) {
        for (std::size_t i = lastDot + 1; i < stripped.size() && ext.size() < 3; ++i)
            ext += fit(stripped[i]);
    }
    if (base.empty())
        base.push_back('_');
    for (std::uint32_t n = 1; n <= 999999; ++n) {
        char tail[8];
        const int tailLength = std::snprintf(tail, sizeof tail, "~%u", static_cast<unsigned>(n));
        const std::size_t keep = std::min(base.size(), 8 - static_cast<std::size_t>(tailLength));
        ShortName slot;
        slot.fill(' ');
        std::memcpy(slot.data(), base.data(), keep);
        std::memcpy(slot.data() + keep, tail, static_cast<std::size_t>(tailLength));
        std::memcpy(slot.data() + 8, ext.data(), ext.size());
        if (slot[0] == kEntryDeleted)
            slot[0] = kEntryKanjiE5;
        if (!taken(slot))
            return slot;
    }
    return std::nullopt;
}

std::uint8_t longNameChecksum(const std::uint8_t* name11) {
    std::uint8_t sum = 0;
    for (int i = 0; i < 11; ++i) {
        sum = static_cast<std::uint8_t>(((sum & 1) ? 0x80 : 0) + (sum >> 1) + name11[i]);
    }
    return sum;
}

std::optional<std::vector<LongNameEntry>> makeLongNameSlots(std::string_view name,
                                                            const ShortName& shortName) {
    std::vector<std::uint16_t> units;
    if (!decodeUtf8(name, units) || units.empty() || units.size() > 255)
        return std::nullopt;
    const std::size_t count = (units.size() + kLongNameUnitsPerSlot - 1) / kLongNameUnitsPerSlot;
    // After the name: one 0x0000 terminator when there is room, then 0xFFFF padding.
    std::vector<std::uint16_t> padded = units;
    if (padded.size() < count * kLongNameUnitsPerSlot)
        padded.push_back(0x0000);
    padded.resize(count * kLongNameUnitsPerSlot, 0xFFFF);

    const std::uint8_t checksum = longNameChecksum(shortName.data());
    std::vector<LongNameEntry> slots(count);
    for (std::size_t k = 0; k < count; ++k) {
        // slots[0] is stored first and holds the last part of the name.
        LongNameEntry& slot = slots[count - 1 - k];
        std::memset(&slot, 0, sizeof slot);
        slot.order = static_cast<std::uint8_t>(k + 1) | (k + 1 == count ? kLongNameLast : 0);
        slot.attributes = attribute::kLongName;
        slot.checksum = checksum;
        const std::uint16_t* part = padded.data() + k * kLongNameUnitsPerSlot;
        for (int i = 0; i < 5; ++i)
            writeLittleEndian16(slot.name1 + 2 * i, part[i]);
        for (int i = 0; i < 6; ++i)
            writeLittleEndian16(slot.name2 + 2 * i, part[5 + i]);
        for (int i = 0; i < 2; ++i)
            writeLittleEndian16(slot.name3 + 2 * i, part[11 + i]);
    }
    return slots;
}

std::string utf16ToUtf8(const std::vector<std::uint16_t>& units) {
    std::string out;
    for (std::size_t i = 0; i < units.size(); ++i) {
        std::uint32_t code = units[i];
        if (code >= 0xD800 && code <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
            units[i + 1] <= 0xDFFF) {
            code = 0x10000 + ((code - 0xD800) << 10) + (units[i + 1] - 0xDC00);
            ++i;
        } else if (code >= 0xD800 && code <= 0xDFFF) {
            code = 0xFFFD;
        }
        appendUtf8(out, code);
    }
    return out;
}

bool sameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (upper(a[i]) != upper(b[i]))
            return false;
    }
    return true;
}

}  // namespace korvo::fat
