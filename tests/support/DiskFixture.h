#pragma once
// Recorder disks for tests, written as host folders from a compact description. A fixture owns
// a fresh temporary folder (removed again when the fixture goes) holding the family's
// identifying files; songs, event lists, song files and takes are added with a call each.
// Files can also be written raw, for malformed disks (a truncated song list, a count of 65535,
// an event list cut in the middle of a record ...).
//
//   test::DiskFixture disk(kFamilyKrv);
//   disk.addSong(test::songEntry(0, "DEMO"));            // 44100 Hz, LV1; empty event list
//   test::EventListDescription events;
//   events.chains[9] = {test::takeEvent(9, 0, 500, 0x0002)};
//   disk.setEvents(0, events);                          // SONG0000.KRV/EVENTLS0.KRV
//   disk.addTake(0, 0x0002, test::patternBlocks(5, 500)); // SONG0000.KRV/TAKE0002.KRV
//   CFolderDiskFiles files(disk.root(), {});            // or openDiskFiles(disk.root(), {})
//
// The song list is rewritten from the entries in the order they were added (so descending
// numbers and duplicates can be written); writeFile() replaces any file with raw bytes.
// Every layout here is written independently of the disk model, so the tests compare the model
// against a second account of the recorder's formats.

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "disk/DiskTypes.h"
#include "disk/EventRecord.h"
#include "disk/SongList.h"

namespace korvo::test {

using Bytes = std::vector<std::uint8_t>;

// Sample-rate codes of the flags byte and data type codes of a song list entry.
inline constexpr std::uint8_t kRate48000 = 0;
inline constexpr std::uint8_t kRate44100 = 1;
inline constexpr std::uint8_t kRate32000 = 2;
inline constexpr std::uint8_t kDataTypeMt2 = 1;  // 12-byte blocks
inline constexpr std::uint8_t kDataTypeLv1 = 2;  // 10-byte blocks
inline constexpr std::uint8_t kDataTypeLv2 = 4;  // 8-byte blocks

// A folder under $TMPDIR (or /tmp) removed with everything in it on destruction.
class TemporaryFolder {
public:
    TemporaryFolder();
    ~TemporaryFolder();
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;
    // A moved-from folder owns nothing and removes nothing.
    TemporaryFolder(TemporaryFolder&& other) noexcept : path_(std::move(other.path_)) {
        other.path_.clear();
    }
    TemporaryFolder& operator=(TemporaryFolder&&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// --- Recorder file contents -------------------------------------------------------------

SongListEntry songEntry(SongNumber number, std::string_view name, std::uint8_t flags = kRate44100,
                        std::uint8_t dataType = kDataTypeLv1);
// The count, then the entries; `count` overrides the count written (entries stay as given).
Bytes songListBytes(const std::vector<SongListEntry>& entries,
                    std::optional<std::uint16_t> count = std::nullopt);

// A take event on virtual track v playing take `take` (its first cluster) from `takeOffset`;
// one cluster, first = last cluster = take.
EventRecord takeEvent(int virtualTrack, std::uint32_t start, std::uint32_t end, std::uint16_t take,
                      std::uint32_t takeOffset = 0);
// A history range record, as the recorder writes it when an operation replaces the events of
// virtual track v over [start, end): no take, byte 33 set, the operation's group number.
EventRecord rangeRecord(int virtualTrack, std::uint32_t start, std::uint32_t end,
                        std::uint16_t group);
// The record with its history group number set (the history copy of an event).
EventRecord inGroup(EventRecord record, std::uint16_t group);
// 48 big-endian bytes, laid out field by field.
Bytes eventRecordBytes(const EventRecord& record);

// The 65 sections of an event list: the history list, then the chains of virtual tracks 0..63
// (a missing key is an empty chain). Records are written in the order given; a count override
// for section s (0 = history, 1 + v = chain v) writes that count instead of the real one.
struct EventListDescription {
    std::vector<EventRecord> history;
    std::map<int, std::vector<EventRecord>> chains;
    std::map<int, std::uint16_t> countOverrides;
};
Bytes eventListBytes(const EventListDescription& events);
// 65 counts of 0: 130 bytes.
Bytes emptyEventListBytes();

// A QMT song file of `length` bytes (at least 1600): every byte outside the name slots holds
// songFileFiller(offset), the 9-byte slot of virtual track v holds names[v] padded with zeros.
Bytes songFileBytes(const std::array<std::string, kVirtualTracks>& names,
                    std::size_t length = 1600);
std::uint8_t songFileFiller(std::size_t offset);

// Compressed blocks with recognisable contents: block b of the list starts with the bytes of
// b (big-endian) and 0xA5, then a pattern; 2w bytes each.
Bytes patternBlock(int width, std::uint32_t block);
std::vector<Bytes> patternBlocks(int width, std::uint32_t count);
// The bytes of a take file holding the blocks, laid out as the recorder does: clusters of U
// bytes, N blocks each, the P slack bytes of a full cluster holding the block that opens the
// next one, repeated as far as needed (P is 16 after 10- and 12-byte blocks in 64 KiB
// clusters); no slack after the last block.
Bytes takeFileBytes(DiskFamily family, int width, const std::vector<Bytes>& blocks);

// --- A recorder disk as a folder ----------------------------------------------------------

class DiskFixture {
public:
    // Movable (a function may build and return a disk), not copyable.
    // A fresh folder with the family's identifying files (none for kFamilyNone, or when
    // `identifyingFiles` is false) and an empty song list.
    explicit DiskFixture(DiskFamily family = kFamilyKrv, bool identifyingFiles = true);

    const std::string& root() const { return folder_.path(); }
    DiskFamily family() const { return family_; }
    // The host path of a '/'-separated path on the disk.
    std::string hostPath(std::string_view diskPath) const;

    // Adds the entry to the song list and makes the song's folder with an empty event list and
    // its song file (for the QMT family SONG.QMT with empty names, else an opaque SONG.KRV).
    void addSong(const SongListEntry& entry);
    void setEvents(SongNumber number, const EventListDescription& events);
    // QMT family: SONG.QMT with these names (songFileBytes).
    void setTrackNames(SongNumber number, const std::array<std::string, kVirtualTracks>& names);
    // Writes TAKEhhhh.KRV (hhhh = firstCluster) into the song's folder, with the geometry of
    // the family and the song's data type; returns its path on the disk.
    std::string addTake(SongNumber number, std::uint16_t firstCluster,
                        const std::vector<Bytes>& blocks);

    // The song folder and song file paths of a song on this disk.
    std::string songFolder(SongNumber number) const;
    std::string songPath(SongNumber number, std::string_view fileName) const;

    // Raw files: parents are created; readFile gives nullopt for a missing file.
    void writeFile(std::string_view diskPath, const Bytes& bytes);
    std::optional<Bytes> readFile(std::string_view diskPath) const;
    bool fileExists(std::string_view diskPath) const;
    // Names in a folder of the disk, sorted.
    std::vector<std::string> listFolder(std::string_view diskPath = "") const;

private:
    void writeSongList();

    TemporaryFolder folder_;
    DiskFamily family_;
    std::vector<SongListEntry> entries_;
};

}  // namespace korvo::test
