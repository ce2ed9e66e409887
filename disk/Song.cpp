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

// A song's new event list, read from its commit record as if from the disk.
class MemoryStream final : public IDiskStream {
public:
    explicit MemoryStream(const std::vector<std::uint8_t>& bytes) : bytes_(bytes) {}
    bool read(void* data, std::size_t n) override {
        if (failed_ || bytes_.size() - at_ < n) {
            failed_ = true;
            return false;
        }
        std::memcpy(data, bytes_.data() + at_, n);
        at_ += n;
        return true;
    }
    bool write(const void*, std::size_t) override { return fail(); }
    bool seek(std::uint64_t position) override {
        if (position > bytes_.size()) {
            return fail();
        }
        at_ = static_cast<std::size_t>(position);
        return !failed_;
    }
    std::uint64_t position() const override { return at_; }
    std::optional<std::uint64_t> size() override { return bytes_.size(); }
    bool truncate(std::uint64_t) override { return fail(); }
    bool good() const override { return !failed_; }
    bool close() override { return !failed_; }

private:
    bool fail() {
        failed_ = true;
        return false;
    }
    const std::vector<std::uint8_t>& bytes_;
    std::size_t at_ = 0;
    bool failed_ = false;
};

std::string generatedName(int virtualTrack) {
    return std::to_string(trackOf(virtualTrack)) + " - " + std::to_string(vtrackOf(virtualTrack));
}

}  // namespace

CSong::CSong(const SongListEntry& entry, DiskFamily family) : entry_(entry), family_(family) {}

std::string CSong::path(const std::string& fileName) const {
    return songFilePath(family_, entry_.number, fileName);
}

std::string CSong::folder() const {
    return songFolderName(family_, entry_.number);
}

void CSong::namesFromSongFile(const std::uint8_t* bytes) {
    for (int v = 0; v < kVirtualTracks; ++v) {
        names_[v] = slotText(bytes + songFileNameOffset(v));
    }
}

bool CSong::read(IDiskFiles& disk) {
    const std::optional<SongCommit> pending = readCommitRecord(disk, folder());
    names_.fill(std::string());
    if (family_ == kFamilyQmt) {
        if (pending && pending->songFile.size() >= kSongFileBytes) {
            namesFromSongFile(pending->songFile.data());
        } else {
            auto songFile = disk.open(path(kQmtSongFileName), OpenMode::read);
            std::uint8_t bytes[kSongFileBytes];
            if (!songFile || !songFile->read(bytes, sizeof bytes)) {
                return false;
            }
            namesFromSongFile(bytes);
        }
    } else {
        for (int v = 0; v < kVirtualTracks; ++v) {
            names_[v] = generatedName(v);
        }
    }

    if (pending && !pending->eventList.empty()) {
        MemoryStream eventList(pending->eventList);
        if (!events_.read(eventList)) {
            return false;
        }
    } else {
        auto eventList = disk.open(path(kEventListFileName), OpenMode::read);
        if (!eventList || !events_.read(*eventList)) {
            return false;
        }
    }
    updateUsedFlags();
    return true;
}

bool CSong::write(IDiskFiles& disk, int parts) const {
    bool committed = false;
    return write(disk, parts, {}, committed);
}

bool CSong::write(IDiskFiles& disk, int parts, const std::vector<TakeRename>& takes,
                  bool& committed) const {
    committed = false;
    if (isProtected()) {
        return false;
    }
    // An interrupted earlier write is settled first, so that the song file read below is the
    // one this song was loaded from.
    if (finishSongWrite(disk, folder()) == SongWriteRecovery::failed) {
        return false;
    }
    SongCommit commit;
    commit.takes = takes;
    if ((parts & kSongFilePart) != 0 && family_ == kFamilyQmt &&
        !songFileBytes(disk, commit.songFile)) {
        return false;
    }
    if ((parts & kEventListPart) != 0) {
        commit.eventList = events_.serialise();
    }
    return commitSongWrite(disk, folder(), commit, committed);
}

bool CSong::songFileBytes(IDiskFiles& disk, std::vector<std::uint8_t>& bytes) const {
    auto songFile = disk.open(path(kQmtSongFileName), OpenMode::read);
    bytes.assign(kSongFileBytes, 0);
    if (!songFile || !songFile->read(bytes.data(), bytes.size())) {
        return false;
    }
    for (int v = 0; v < kVirtualTracks; ++v) {
        std::uint8_t* slot = bytes.data() + songFileNameOffset(v);
        // A slot whose name is unchanged keeps its bytes exactly, including any bytes after
        // the zero that ends the name.
        if (slotText(slot) == names_[v]) {
            continue;
        }
        std::memset(slot, 0, kSongFileNameBytes);
        std::memcpy(slot, names_[v].data(), std::min(names_[v].size(), kSongFileNameBytes));
    }
    return true;
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
