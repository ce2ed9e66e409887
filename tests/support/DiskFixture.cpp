#include "tests/support/DiskFixture.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "volume/HostFolder.h"

namespace korvo::test {

namespace fs = std::filesystem;

namespace {

void put16(Bytes& out, std::uint16_t value) {
    out.push_back(static_cast<std::uint8_t>(value >> 8));
    out.push_back(static_cast<std::uint8_t>(value));
}

void put32(Bytes& out, std::uint32_t value) {
    put16(out, static_cast<std::uint16_t>(value >> 16));
    put16(out, static_cast<std::uint16_t>(value));
}

// The recorder's own names per family, written out again here on purpose.
struct FamilyNames {
    const char* identifying;
    const char* songList;
    const char* extension;
};

FamilyNames familyNames(DiskFamily family) {
    switch (family) {
        case kFamilyQmt:
            return {"DISKINFO.QMT", "SONGLIST.QMT", "QMT"};
        case kFamilyKrv:
            return {"SYSTEM.KRV", "SONGLIST.KRV", "KRV"};
        case kFamilyQms:
            return {"SYSTEM.QMS", "SONGLIST.KRV", "QMS"};
        default:
            return {"", "", "KRV"};
    }
}

Bytes textBytes(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

// Makes every folder below `path` readable again, so that a test that took access away
// cannot leave its folder behind.
void restoreAccess(const fs::path& path) {
    std::error_code error;
    if (!fs::is_directory(fs::symlink_status(path, error))) {
        return;
    }
    fs::permissions(path, fs::perms::owner_all, error);
    for (const auto& entry : fs::directory_iterator(path, error)) {
        restoreAccess(entry.path());
    }
}

}  // namespace

TemporaryFolder::TemporaryFolder() {
    auto made = makeTemporaryFolder("korvo-disk-");
    if (!made) {
        throw std::runtime_error("cannot make a temporary folder");
    }
    path_ = *made;
}

TemporaryFolder::~TemporaryFolder() {
    if (path_.empty()) {
        return;
    }
    std::error_code error;
    restoreAccess(hostPathOf(path_));
    fs::remove_all(hostPathOf(path_), error);
}

SongListEntry songEntry(SongNumber number, std::string_view name, std::uint8_t flags,
                        std::uint8_t dataType) {
    SongListEntry entry;
    entry.unknown0 = static_cast<std::uint16_t>(0x1100 + number);
    entry.unknown2 = 0x2233;
    entry.number = number;
    std::memcpy(entry.name, name.data(), std::min(name.size(), sizeof entry.name));
    entry.flags = flags;
    entry.dataType = dataType;
    return entry;
}

Bytes songListBytes(const std::vector<SongListEntry>& entries, std::optional<std::uint16_t> count) {
    Bytes out;
    put16(out, count.value_or(static_cast<std::uint16_t>(entries.size())));
    for (const SongListEntry& entry : entries) {
        put16(out, entry.unknown0);
        put16(out, entry.unknown2);
        put16(out, entry.number);
        out.insert(out.end(), entry.name, entry.name + sizeof entry.name);
        out.push_back(entry.flags);
        out.push_back(entry.dataType);
    }
    return out;
}

EventRecord takeEvent(int virtualTrack, std::uint32_t start, std::uint32_t end, std::uint16_t take,
                      std::uint32_t takeOffset) {
    EventRecord record;
    record.start = start;
    record.end = end;
    record.takeOffset = takeOffset;
    record.firstCluster = take;
    record.lastCluster = take;
    record.clusterCount = 1;
    record.firstClusterAgain = take;
    record.lastClusterAgain = take;
    record.virtualTrack = static_cast<std::uint8_t>(virtualTrack);
    std::memcpy(record.name, "no name-0000", sizeof record.name);
    return record;
}

EventRecord rangeRecord(int virtualTrack, std::uint32_t start, std::uint32_t end,
                        std::uint16_t group) {
    EventRecord record;
    record.start = start;
    record.end = end;
    record.virtualTrack = static_cast<std::uint8_t>(virtualTrack);
    record.historyRange = 1;
    record.group = group;
    std::memcpy(record.name, "no name-0000", sizeof record.name);
    return record;
}

EventRecord inGroup(EventRecord record, std::uint16_t group) {
    record.group = group;
    return record;
}

Bytes eventRecordBytes(const EventRecord& record) {
    Bytes out;
    put32(out, record.start);
    put32(out, record.end);
    put32(out, record.takeOffset);
    for (std::uint16_t field :
         {record.reserved12, record.lastClusterBlocks, record.previous, record.next,
          record.firstCluster, record.lastCluster, record.clusterCount, record.firstClusterAgain,
          record.lastClusterAgain, record.reserved30}) {
        put16(out, field);
    }
    out.push_back(record.virtualTrack);
    out.push_back(record.historyRange);
    out.insert(out.end(), record.name, record.name + sizeof record.name);
    put16(out, record.group);
    return out;
}

Bytes eventListBytes(const EventListDescription& events) {
    Bytes out;
    auto section = [&](int index, const std::vector<EventRecord>& records) {
        auto override = events.countOverrides.find(index);
        put16(out, override != events.countOverrides.end()
                       ? override->second
                       : static_cast<std::uint16_t>(records.size()));
        for (const EventRecord& record : records) {
            Bytes bytes = eventRecordBytes(record);
            out.insert(out.end(), bytes.begin(), bytes.end());
        }
    };
    section(0, events.history);
    static const std::vector<EventRecord> kNone;
    for (int v = 0; v < kVirtualTracks; ++v) {
        auto chain = events.chains.find(v);
        section(1 + v, chain != events.chains.end() ? chain->second : kNone);
    }
    return out;
}

Bytes emptyEventListBytes() {
    return Bytes(2 * (1 + kVirtualTracks), 0);
}

std::uint8_t songFileFiller(std::size_t offset) {
    return static_cast<std::uint8_t>((offset * 37 + 11) & 0xFF) | 0x01;  // never zero
}

Bytes songFileBytes(const std::array<std::string, kVirtualTracks>& names, std::size_t length) {
    Bytes out(std::max<std::size_t>(length, 1600));
    for (std::size_t i = 0; i < out.size(); ++i) {
        out[i] = songFileFiller(i);
    }
    for (int v = 0; v < kVirtualTracks; ++v) {
        std::uint8_t* slot = out.data() + 368 + 16 * v;
        std::memset(slot, 0, 9);
        std::memcpy(slot, names[v].data(), std::min<std::size_t>(names[v].size(), 9));
    }
    out.resize(length);
    return out;
}

Bytes patternBlock(int width, std::uint32_t block) {
    Bytes out(2 * static_cast<std::size_t>(width));
    for (std::size_t i = 0; i < out.size(); ++i) {
        out[i] = static_cast<std::uint8_t>(block * 7 + i * 13 + 1);
    }
    std::uint8_t head[5] = {
        static_cast<std::uint8_t>(block >> 24), static_cast<std::uint8_t>(block >> 16),
        static_cast<std::uint8_t>(block >> 8), static_cast<std::uint8_t>(block), 0xA5};
    std::memcpy(out.data(), head, std::min(out.size(), sizeof head));
    return out;
}

std::vector<Bytes> patternBlocks(int width, std::uint32_t count) {
    std::vector<Bytes> blocks;
    blocks.reserve(count);
    for (std::uint32_t b = 0; b < count; ++b) {
        blocks.push_back(patternBlock(width, b));
    }
    return blocks;
}

Bytes takeFileBytes(DiskFamily family, int width, const std::vector<Bytes>& blocks) {
    const std::size_t cluster = family == kFamilyKrv ? 32768 : 65536;
    std::size_t span = (width == 5 || width == 6) ? 65520 : 65536;
    if (family == kFamilyKrv) {
        span /= 2;
    }
    const std::size_t blockBytes = 2 * static_cast<std::size_t>(width);
    Bytes out;
    if (blockBytes == 0) {
        return out;  // no take geometry for a width without a codec
    }
    const std::size_t perCluster = span / blockBytes;
    const std::size_t slack = cluster - perCluster * blockBytes;
    for (std::size_t b = 0; b < blocks.size(); ++b) {
        if (b > 0 && b % perCluster == 0) {
            for (std::size_t i = 0; i < slack; ++i) {
                out.push_back(blocks[b][i % blockBytes]);
            }
        }
        out.insert(out.end(), blocks[b].begin(), blocks[b].end());
    }
    return out;
}

DiskFixture::DiskFixture(DiskFamily family, bool identifyingFiles) : family_(family) {
    std::error_code ignored;
    fs::permissions(hostPathOf(root()),
                    fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                        fs::perms::others_read | fs::perms::others_exec,
                    ignored);
    if (identifyingFiles && family != kFamilyNone) {
        writeFile(familyNames(family).identifying, textBytes("recorder system data"));
        writeSongList();
    }
}

std::string DiskFixture::hostPath(std::string_view diskPath) const {
    return diskPath.empty() ? root() : root() + "/" + std::string(diskPath);
}

std::string DiskFixture::songFolder(SongNumber number) const {
    char name[32];
    std::snprintf(name, sizeof name, "SONG%04u.%s", static_cast<unsigned>(number),
                  familyNames(family_).extension);
    return name;
}

std::string DiskFixture::songPath(SongNumber number, std::string_view fileName) const {
    return songFolder(number) + "/" + std::string(fileName);
}

void DiskFixture::writeSongList() {
    writeFile(familyNames(family_).songList, songListBytes(entries_));
}

void DiskFixture::addSong(const SongListEntry& entry) {
    entries_.push_back(entry);
    writeSongList();
    writeFile(songPath(entry.number, "EVENTLS0.KRV"), emptyEventListBytes());
    if (family_ == kFamilyQmt) {
        setTrackNames(entry.number, {});
    } else {
        writeFile(songPath(entry.number, "SONG.KRV"), textBytes("song data of the recorder"));
    }
}

void DiskFixture::setEvents(SongNumber number, const EventListDescription& events) {
    writeFile(songPath(number, "EVENTLS0.KRV"), eventListBytes(events));
}

void DiskFixture::setTrackNames(SongNumber number,
                                const std::array<std::string, kVirtualTracks>& names) {
    writeFile(songPath(number, "SONG.QMT"), songFileBytes(names));
}

std::string DiskFixture::addTake(SongNumber number, std::uint16_t firstCluster,
                                 const std::vector<Bytes>& blocks) {
    int width = 5;
    for (const SongListEntry& entry : entries_) {
        if (entry.number == number) {
            width = entry.blockWidth();
        }
    }
    char name[16];
    std::snprintf(name, sizeof name, "TAKE%04X.KRV", static_cast<unsigned>(firstCluster));
    std::string path = songPath(number, name);
    writeFile(path, takeFileBytes(family_, width, blocks));
    return path;
}

void DiskFixture::writeFile(std::string_view diskPath, const Bytes& bytes) {
    fs::path path = hostPath(diskPath);
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + path.string());
    }
}

std::optional<Bytes> DiskFixture::readFile(std::string_view diskPath) const {
    std::ifstream in(hostPath(diskPath), std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool DiskFixture::fileExists(std::string_view diskPath) const {
    std::error_code error;
    return fs::exists(hostPath(diskPath), error);
}

std::vector<std::string> DiskFixture::listFolder(std::string_view diskPath) const {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(hostPath(diskPath), error)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace korvo::test
