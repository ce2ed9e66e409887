#include "disk/SongCommit.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>

#include "disk/DiskLayout.h"
#include "wavefile/ByteOrder.h"

namespace korvo {

namespace {

constexpr char kMagic[8] = {'K', 'V', 'C', 'O', 'M', 'M', 'I', 'T'};
constexpr std::uint16_t kFormat = 1;
// Far above any song file or event list (10000 events of 48 bytes): a larger length is damage.
constexpr std::uint32_t kLargestPart = 1u << 24;
// The files are compared with their old state a sector at a time: a write cut short leaves
// every sector old or new, never a mix within one.
constexpr std::size_t kSumBytes = 512;

std::array<std::uint32_t, 256> makeCrcTable() {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t c = i;
        for (int k = 0; k < 8; ++k) {
            c = (c & 1) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        }
        table[i] = c;
    }
    return table;
}

std::uint32_t crc32(const std::uint8_t* bytes, std::size_t n) {
    static const std::array<std::uint32_t, 256> table = makeCrcTable();
    std::uint32_t c = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < n; ++i) {
        c = table[(c ^ bytes[i]) & 0xFF] ^ (c >> 8);
    }
    return c ^ 0xFFFFFFFFu;
}

void put16(std::vector<std::uint8_t>& out, std::uint16_t value) {
    out.resize(out.size() + 2);
    writeLittleEndian16(out.data() + out.size() - 2, value);
}

void put32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    out.resize(out.size() + 4);
    writeLittleEndian32(out.data() + out.size() - 4, value);
}

// Reads the record's fields front to back; every read past the end fails.
class RecordReader {
public:
    explicit RecordReader(const std::vector<std::uint8_t>& bytes, std::size_t end)
        : bytes_(bytes), end_(end) {}
    bool take(std::size_t n, const std::uint8_t*& at) {
        if (end_ - at_ < n) {
            return false;
        }
        at = bytes_.data() + at_;
        at_ += n;
        return true;
    }
    bool get16(std::uint16_t& value) {
        const std::uint8_t* at = nullptr;
        if (!take(2, at)) {
            return false;
        }
        value = readLittleEndian16(at);
        return true;
    }
    bool get32(std::uint32_t& value) {
        const std::uint8_t* at = nullptr;
        if (!take(4, at)) {
            return false;
        }
        value = readLittleEndian32(at);
        return true;
    }
    bool getName(std::string& name) {
        const std::uint8_t* at = nullptr;
        if (!take(1, at)) {
            return false;
        }
        const std::size_t length = *at;
        if (length == 0 || !take(length, at)) {
            return false;
        }
        name.assign(reinterpret_cast<const char*>(at), length);
        return name.find('/') == std::string::npos;
    }
    bool getPart(std::vector<std::uint8_t>& part) {
        std::uint32_t length = 0;
        const std::uint8_t* at = nullptr;
        if (!get32(length) || length > kLargestPart || !take(length, at)) {
            return false;
        }
        part.assign(at, at + length);
        return true;
    }
    bool getSums(std::vector<std::uint32_t>& sums) {
        std::uint32_t count = 0;
        if (!get32(count) || count > kLargestPart / kSumBytes + 1) {
            return false;
        }
        sums.resize(count);
        for (std::uint32_t& sum : sums) {
            if (!get32(sum)) {
                return false;
            }
        }
        return true;
    }
    bool atEnd() const { return at_ == end_; }

private:
    const std::vector<std::uint8_t>& bytes_;
    std::size_t end_;
    std::size_t at_ = 0;
};

std::string inFolder(const std::string& folder, const std::string& name) {
    return folder.empty() ? name : folder + "/" + name;
}

std::optional<std::vector<std::uint8_t>> readWhole(IDiskFiles& disk, const std::string& path) {
    auto stream = disk.open(path, OpenMode::read);
    if (!stream) {
        return std::nullopt;
    }
    const auto size = stream->size();
    if (!size || *size > kLargestPart * 2ull + 1024) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(*size));
    if (!bytes.empty() && !stream->read(bytes.data(), bytes.size())) {
        return std::nullopt;
    }
    return bytes;
}

// The first `n` bytes of a file; nullopt when it is missing or shorter.
std::optional<std::vector<std::uint8_t>> readStart(IDiskFiles& disk, const std::string& path,
                                                   std::size_t n) {
    auto stream = disk.open(path, OpenMode::read);
    std::vector<std::uint8_t> bytes(n);
    if (!stream || !stream->read(bytes.data(), bytes.size())) {
        return std::nullopt;
    }
    return bytes;
}

std::vector<std::uint32_t> sectorSums(const std::vector<std::uint8_t>& bytes) {
    std::vector<std::uint32_t> sums;
    for (std::size_t at = 0; at < bytes.size(); at += kSumBytes) {
        sums.push_back(crc32(bytes.data() + at, std::min(kSumBytes, bytes.size() - at)));
    }
    return sums;
}

// Every sector of `now` is the new one's or the old one's (by its check sum).
bool oldOrNewBySector(const std::vector<std::uint8_t>& now, const std::vector<std::uint8_t>& next,
                      const std::vector<std::uint32_t>& before) {
    for (std::size_t at = 0, i = 0; at < now.size(); at += kSumBytes, ++i) {
        const std::size_t n = std::min(kSumBytes, now.size() - at);
        const bool isNew = at + n <= next.size() &&
                           std::equal(now.begin() + at, now.begin() + at + n, next.begin() + at);
        if (!isNew && (i >= before.size() || crc32(now.data() + at, n) != before[i])) {
            return false;
        }
    }
    return true;
}

// Whether the files are still as the interrupted write left them: each one old, new or part
// way from the one to the other.
bool stillApplies(IDiskFiles& disk, const std::string& folder, const SongCommit& commit) {
    if (!commit.songFile.empty()) {
        const auto now =
            readStart(disk, inFolder(folder, kQmtSongFileName), commit.songFile.size());
        if (!now || !oldOrNewBySector(*now, commit.songFile, commit.songFileBefore)) {
            return false;
        }
    }
    if (!commit.eventList.empty()) {
        const auto now = readWhole(disk, inFolder(folder, kEventListFileName));
        if (!now) {
            return false;
        }
        if (now->size() != commit.eventListBeforeSize) {
            // Cut to the new length only once the new bytes were down: it is the new list.
            return *now == commit.eventList;
        }
        return oldOrNewBySector(*now, commit.eventList, commit.eventListBefore);
    }
    return true;
}

// Writes the part of the new contents beyond the file's old end, so that the rewrite after the
// commit point takes no room; bytes after the last section of an event list are never read, so
// the old list still reads as it was. A missing file is created with the new contents whole.
bool growToNewLength(IDiskFiles& disk, const std::string& path,
                     const std::vector<std::uint8_t>& bytes,
                     std::optional<std::uint64_t>& grownFrom) {
    grownFrom.reset();
    auto file = disk.open(path, OpenMode::update);
    if (!file) {
        if (disk.exists(path) != FileExistence::missing) {
            return false;
        }
        file = disk.open(path, OpenMode::write);
        return file && file->write(bytes.data(), bytes.size()) && file->sync() && file->close();
    }
    const std::optional<std::uint64_t> oldSize = file->size();
    if (!oldSize) {
        return false;
    }
    if (bytes.size() <= *oldSize) {
        return file->close();
    }
    grownFrom = oldSize;
    // The growth starts one byte inside the old end, with that byte written back as it is:
    // some FAT drivers in user space refuse a write that begins exactly at a file's end.
    const std::size_t oldEnd = static_cast<std::size_t>(*oldSize);
    const std::size_t from = oldEnd > 0 ? oldEnd - 1 : 0;
    std::vector<std::uint8_t> growth(bytes.begin() + static_cast<std::ptrdiff_t>(from),
                                     bytes.end());
    if (oldEnd > 0 && (!file->seek(from) || !file->read(growth.data(), 1))) {
        return false;
    }
    return file->seek(from) && file->write(growth.data(), growth.size()) && file->sync() &&
           file->close();
}

// Overwrites the file from its start and cuts it when it shrank (not every driver can change a
// file's length in place, so only then). Repeating it gives the same file.
bool rewriteInPlace(IDiskFiles& disk, const std::string& path,
                    const std::vector<std::uint8_t>& bytes, bool cutToLength) {
    auto file = disk.open(path, OpenMode::update);
    if (!file) {
        return false;
    }
    const std::optional<std::uint64_t> oldSize = file->size();
    if (!oldSize) {
        return false;
    }
    const bool shrank = cutToLength && bytes.size() < *oldSize;
    // Durable before the cut, so that a file of the new length holds the new bytes.
    return file->seek(0) && file->write(bytes.data(), bytes.size()) && file->sync() &&
           (!shrank || file->truncate(bytes.size())) && file->sync() && file->close();
}

// Step 4: each part can be done again after an interruption at any point of it.
bool carryOut(IDiskFiles& disk, const std::string& folder, const SongCommit& commit) {
    for (const TakeRename& take : commit.takes) {
        const std::string from = inFolder(folder, take.from);
        const std::string to = inFolder(folder, take.to);
        if (disk.exists(from) == FileExistence::present) {
            if (!disk.rename(from, to)) {
                return false;
            }
        } else if (disk.exists(to) != FileExistence::present) {
            return false;  // the take the new events play is gone
        }
    }
    if (!commit.takes.empty() && !disk.syncFolder(folder)) {
        return false;
    }
    if (!commit.songFile.empty() &&
        !rewriteInPlace(disk, inFolder(folder, kQmtSongFileName), commit.songFile, false)) {
        return false;
    }
    if (!commit.eventList.empty() &&
        !rewriteInPlace(disk, inFolder(folder, kEventListFileName), commit.eventList, true)) {
        return false;
    }
    return true;
}

// Cut to nothing before it goes, as a temporary take is (removeTemporaryTake): an interruption
// between the two leaves an empty record, which reads as incomplete and is dropped, and which
// tells the next write to look for lost clusters.
bool removeRecord(IDiskFiles& disk, const std::string& folder) {
    const std::string path = inFolder(folder, kCommitRecordFileName);
    return removeTemporaryTake(disk, path) && disk.syncFolder(folder);
}

// True when every temporary take that is not kept is gone; `found` tells whether there was any.
bool removeTemporaryTakes(IDiskFiles& disk, const std::string& folder,
                          const std::vector<TakeRename>& keep, bool& found) {
    found = false;
    const auto names = disk.listFiles(folder);
    if (!names) {
        return false;
    }
    bool removed = true;
    for (const std::string& name : *names) {
        const bool kept = std::any_of(keep.begin(), keep.end(),
                                      [&](const TakeRename& take) { return take.from == name; });
        if (!kept && isTemporaryTakeName(name)) {
            found = true;
            removed = removeTemporaryTake(disk, inFolder(folder, name)) && removed;
        }
    }
    return removed;
}

}  // namespace

std::vector<std::uint8_t> SongCommit::serialise() const {
    std::vector<std::uint8_t> out(kMagic, kMagic + sizeof kMagic);
    put16(out, kFormat);
    put16(out, static_cast<std::uint16_t>(takes.size()));
    for (const TakeRename& take : takes) {
        for (const std::string* name : {&take.from, &take.to}) {
            out.push_back(static_cast<std::uint8_t>(name->size()));
            out.insert(out.end(), name->begin(), name->end());
        }
    }
    for (const std::vector<std::uint8_t>* part : {&songFile, &eventList}) {
        put32(out, static_cast<std::uint32_t>(part->size()));
        out.insert(out.end(), part->begin(), part->end());
    }
    put32(out, static_cast<std::uint32_t>(songFileBefore.size()));
    for (std::uint32_t sum : songFileBefore) {
        put32(out, sum);
    }
    put32(out, eventListBeforeSize);
    put32(out, static_cast<std::uint32_t>(eventListBefore.size()));
    for (std::uint32_t sum : eventListBefore) {
        put32(out, sum);
    }
    put32(out, crc32(out.data(), out.size()));
    return out;
}

std::optional<SongCommit> SongCommit::parse(const std::vector<std::uint8_t>& bytes) {
    if (bytes.size() < sizeof kMagic + 4 + 8 + 4 ||
        std::memcmp(bytes.data(), kMagic, sizeof kMagic) != 0) {
        return std::nullopt;
    }
    const std::size_t end = bytes.size() - 4;
    const std::uint32_t stored = readLittleEndian32(bytes.data() + end);
    if (stored != crc32(bytes.data(), end)) {
        return std::nullopt;
    }
    RecordReader reader(bytes, end);
    const std::uint8_t* magic = nullptr;
    std::uint16_t format = 0;
    std::uint16_t count = 0;
    if (!reader.take(sizeof kMagic, magic) || !reader.get16(format) || format != kFormat ||
        !reader.get16(count)) {
        return std::nullopt;
    }
    SongCommit commit;
    commit.takes.resize(count);
    for (TakeRename& take : commit.takes) {
        if (!reader.getName(take.from) || !reader.getName(take.to)) {
            return std::nullopt;
        }
    }
    if (!reader.getPart(commit.songFile) || !reader.getPart(commit.eventList) ||
        !reader.getSums(commit.songFileBefore) || !reader.get32(commit.eventListBeforeSize) ||
        !reader.getSums(commit.eventListBefore) || !reader.atEnd()) {
        return std::nullopt;
    }
    return commit;
}

std::optional<SongCommit> readCommitRecord(IDiskFiles& disk, const std::string& songFolder) {
    const auto bytes = readWhole(disk, inFolder(songFolder, kCommitRecordFileName));
    auto commit = bytes ? SongCommit::parse(*bytes) : std::nullopt;
    if (commit && !stillApplies(disk, songFolder, *commit)) {
        return std::nullopt;
    }
    return commit;
}

SongWriteRecovery finishSongWrite(IDiskFiles& disk, const std::string& songFolder) {
    const std::string path = inFolder(songFolder, kCommitRecordFileName);
    if (disk.exists(path) != FileExistence::present) {
        return SongWriteRecovery::none;
    }
    const auto commit = readCommitRecord(disk, songFolder);
    if (!commit) {
        return removeRecord(disk, songFolder) ? SongWriteRecovery::dropped
                                              : SongWriteRecovery::failed;
    }
    if (!carryOut(disk, songFolder, *commit) || !removeRecord(disk, songFolder)) {
        return SongWriteRecovery::failed;
    }
    return SongWriteRecovery::finished;
}

bool recoverInterruptedWrites(IDiskFiles& disk, const std::vector<std::string>& songFolders) {
    bool interrupted = false;
    bool settled = true;
    for (const std::string& folder : songFolders) {
        if (disk.exists(inFolder(folder, kCommitRecordFileName)) == FileExistence::present) {
            interrupted = true;
            settled = finishSongWrite(disk, folder) != SongWriteRecovery::failed && settled;
        }
        bool temporaries = false;
        settled = removeTemporaryTakes(disk, folder, {}, temporaries) && settled;
        interrupted = interrupted || temporaries;
    }
    std::uint32_t freed = 0;
    return interrupted ? disk.reclaimLostClusters(freed) && settled : settled;
}

bool showsInterruptedWrite(IDiskFiles& disk, const std::string& songFolder) {
    if (disk.exists(inFolder(songFolder, kCommitRecordFileName)) == FileExistence::present) {
        return true;
    }
    const auto names = disk.listFiles(songFolder);
    return names && std::any_of(names->begin(), names->end(), isTemporaryTakeName);
}

bool removeTemporaryTake(IDiskFiles& disk, const std::string& path) {
    // A take that cannot be cut is removed all the same; its clusters then stay lost until the
    // next recovery.
    if (auto take = disk.open(path, OpenMode::update)) {
        take->truncate(0);
        take->close();
    }
    return disk.remove(path);
}

bool commitSongWrite(IDiskFiles& disk, const std::string& songFolder, const SongCommit& commit,
                     bool& committed) {
    committed = false;
    if (commit.takes.empty() && commit.songFile.empty() && commit.eventList.empty()) {
        return true;
    }
    // What an earlier write left is finished (or dropped) first: the song in memory was read
    // with it, and its temporary takes must not be taken for leftovers.
    if (finishSongWrite(disk, songFolder) == SongWriteRecovery::failed) {
        return false;
    }
    bool leftovers = false;
    removeTemporaryTakes(disk, songFolder, commit.takes, leftovers);
    const std::string listPath = inFolder(songFolder, kEventListFileName);
    std::optional<std::uint64_t> grownFrom;
    // A write that stops before the commit point leaves the files as they were: the growth of
    // the event list is cut off again (best effort: what is left is never read).
    auto cutGrowth = [&] {
        if (grownFrom) {
            if (auto list = disk.open(listPath, OpenMode::update)) {
                list->truncate(*grownFrom);
                list->close();
            }
        }
    };
    if (!commit.eventList.empty() &&
        !growToNewLength(disk, listPath, commit.eventList, grownFrom)) {
        cutGrowth();
        return false;
    }

    // The files as they stand now, for telling later whether the record still applies.
    SongCommit recorded = commit;
    if (!commit.songFile.empty()) {
        const auto now =
            readStart(disk, inFolder(songFolder, kQmtSongFileName), commit.songFile.size());
        if (!now) {
            cutGrowth();
            return false;
        }
        recorded.songFileBefore = sectorSums(*now);
    }
    if (!commit.eventList.empty()) {
        const auto now = readWhole(disk, listPath);
        if (!now) {
            cutGrowth();
            return false;
        }
        recorded.eventListBeforeSize = static_cast<std::uint32_t>(now->size());
        recorded.eventListBefore = sectorSums(*now);
    }

    const std::string path = inFolder(songFolder, kCommitRecordFileName);
    const std::vector<std::uint8_t> record = recorded.serialise();
    auto file = disk.open(path, OpenMode::write);
    const bool written = file && file->write(record.data(), record.size()) && file->sync() &&
                         file->close() && disk.syncFolder(songFolder);
    file.reset();
    if (!written) {
        disk.remove(path);  // never complete: the old song stands
        cutGrowth();
        return false;
    }
    committed = true;

    if (!carryOut(disk, songFolder, commit)) {
        return false;  // the next open finishes it
    }
    removeRecord(disk, songFolder);  // a record left behind is carried out once more, harmlessly
    return true;
}

bool isTemporaryTakeName(const std::string& name) {
    static constexpr std::string_view kPrefix = "TAKEXXXX.KRV.TMP";
    if (name.size() != kPrefix.size() + 2) {
        return false;
    }
    for (std::size_t i = 0; i < kPrefix.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(name[i])) != kPrefix[i]) {
            return false;
        }
    }
    return std::isdigit(static_cast<unsigned char>(name[kPrefix.size()])) &&
           std::isdigit(static_cast<unsigned char>(name[kPrefix.size() + 1]));
}

}  // namespace korvo
