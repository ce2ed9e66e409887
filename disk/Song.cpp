#include "disk/Song.h"

#include <algorithm>
#include <cstring>

#include "disk/DiskLayout.h"
#include "disk/SongFileLayout.h"

namespace korvo {

namespace {

// The name in a 9-byte slot of the song file: its bytes up to the first zero byte.
std::string slotText(const std::uint8_t* slot) {
    const void* zero = std::memchr(slot, 0, kSongFileNameBytes);
    std::size_t length =
        zero ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(zero) - slot)
             : kSongFileNameBytes;
    return std::string(reinterpret_cast<const char*>(slot), length);
}

std::string generatedName(int virtualTrack) {
    return std::to_string(trackOf(virtualTrack)) + " - " + std::to_string(vtrackOf(virtualTrack));
}

}  // namespace

CSong::CSong(const SongListEntry& entry, DiskFamily family) : entry_(entry), family_(family) {}

std::string CSong::path(const std::string& fileName) const {
    return songFilePath(family_, entry_.number, fileName);
}

bool CSong::read(IDiskFiles& disk) {
    names_.fill(std::string());
    if (family_ == kFamilyQmt) {
        auto songFile = disk.open(path(kQmtSongFileName), OpenMode::read);
        std::uint8_t bytes[kSongFileBytes];
        if (!songFile || !songFile->read(bytes, sizeof bytes)) {
            return false;
        }
        for (int v = 0; v < kVirtualTracks; ++v) {
            names_[v] = slotText(bytes + songFileNameOffset(v));
        }
    } else {
        for (int v = 0; v < kVirtualTracks; ++v) {
            names_[v] = generatedName(v);
        }
    }

    auto eventList = disk.open(path(kEventListFileName), OpenMode::read);
    if (!eventList || !events_.read(*eventList)) {
        return false;
    }
    updateUsedFlags();
    return true;
}

bool CSong::write(IDiskFiles& disk, int parts) const {
    if (isProtected()) {
        return false;
    }
    if ((parts & kSongFilePart) != 0 && !writeSongFile(disk)) {
        return false;
    }
    if ((parts & kEventListPart) != 0 && !writeEventList(disk)) {
        return false;
    }
    return true;
}

bool CSong::writeSongFile(IDiskFiles& disk) const {
    if (family_ != kFamilyQmt) {
        return true;  // the other families keep no names on the disk
    }
    auto songFile = disk.open(path(kQmtSongFileName), OpenMode::update);
    if (!songFile) {
        return false;
    }
    const std::uint64_t start = songFile->position();
    std::uint8_t bytes[kSongFileBytes];
    if (!songFile->read(bytes, sizeof bytes)) {
        return false;
    }
    for (int v = 0; v < kVirtualTracks; ++v) {
        std::uint8_t* slot = bytes + songFileNameOffset(v);
        // A slot whose name is unchanged keeps its bytes exactly, including any bytes after
        // the zero that ends the name.
        if (slotText(slot) == names_[v]) {
            continue;
        }
        std::memset(slot, 0, kSongFileNameBytes);
        std::memcpy(slot, names_[v].data(), std::min(names_[v].size(), kSongFileNameBytes));
    }
    return songFile->seek(start) && songFile->write(bytes, sizeof bytes) && songFile->close();
}

// The event list is rewritten in place, in an order that never leaves a list that cannot be
// read: the part beyond the old end is written (and so its room taken) first, since bytes
// after the last section are never read; only then is the file overwritten from the start and
// cut to its new length.
bool CSong::writeEventList(IDiskFiles& disk) const {
    const std::vector<std::uint8_t> bytes = events_.serialise();
    const std::string listPath = path(kEventListFileName);

    auto list = disk.open(listPath, OpenMode::update);
    if (!list) {
        if (disk.exists(listPath) != FileExistence::missing) {
            return false;
        }
        list = disk.open(listPath, OpenMode::write);
        if (!list) {
            return false;
        }
    }
    const std::optional<std::uint64_t> oldSize = list->size();
    if (!oldSize) {
        return false;
    }
    if (bytes.size() > *oldSize) {
        // The growth starts one byte inside the old end, with that byte written back as it is:
        // some FAT drivers in user space refuse a write that begins exactly at a file's end.
        const std::size_t oldEnd = static_cast<std::size_t>(*oldSize);
        const std::size_t from = oldEnd > 0 ? oldEnd - 1 : 0;
        std::vector<std::uint8_t> growth(bytes.begin() + static_cast<std::ptrdiff_t>(from),
                                         bytes.end());
        if (oldEnd > 0 && (!list->seek(from) || !list->read(growth.data(), 1))) {
            return false;
        }
        if (!list->seek(from) || !list->write(growth.data(), growth.size()) || !list->close()) {
            return false;
        }
        list = disk.open(listPath, OpenMode::update);
        if (!list) {
            return false;
        }
    }
    // Cut only when the list shrank: not every driver can change a file's length in place.
    const bool shrank = bytes.size() < *oldSize;
    return list->seek(0) && list->write(bytes.data(), bytes.size()) &&
           (!shrank || list->truncate(bytes.size())) && list->close();
}

void CSong::updateUsedFlags() {
    for (int v = 0; v < kVirtualTracks; ++v) {
        used_[v] = events_.chain(v).empty() ? 0 : 1;
    }
}

bool CSong::placeEvent(const EventRecord& event) {
    if (!events_.placeEvent(event)) {
        return false;
    }
    used_[event.virtualTrack] = 1;
    return true;
}

}  // namespace korvo
