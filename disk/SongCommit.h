#pragma once
// One commit point for a song write. A song write changes up to two files in place, the song
// file (names, QMT family) and the event list, and an import also gives its new takes their
// final names. So that an interruption (a kill, a pulled card, a power cut) never leaves a mix
// of old and new, the whole outcome is first written to a commit record in the song folder:
//
//   1. temporary takes left by an earlier interrupted import are removed;
//   2. the event list is grown to its new length (the new bytes beyond its old end, which no
//      reader looks at), so that the steps after the commit need no room on the disk;
//   3. COMMIT.TMP is written, made durable and closed: the commit point;
//   4. the takes are renamed from TAKEXXXX.KRV.TMPvv to TAKEhhhh.KRV, the song file's first
//      1600 bytes and the event list are rewritten in place, each made durable;
//   5. COMMIT.TMP is removed.
//
// A record that is not complete (short, or its check sum does not match) means the write never
// reached step 4: it is dropped and the old song stands. A complete record means step 4 may
// have been cut short: every part of it can be done again, so it is carried out again and then
// removed. Opening a song does that on a writable disk (finishSongWrite); a read-only open
// reads the new song from the record instead (CSong::read).
//
// Record layout, little-endian: "KVCOMMIT", format 1 (16-bit), the number of renames (16-bit)
// and each rename as two names (8-bit length, then the bytes), the song file's new bytes and
// the event list's new bytes (each a 32-bit length, 0 for a file left alone, then the bytes),
// the check sums of both files as they were (each a 32-bit count, then the sums; the event
// list's old length before its sums), then the CRC-32 of everything before it.
//
//   SongCommit commit;
//   commit.eventList = song.events().serialise();
//   bool committed = false;
//   if (!commitSongWrite(disk, "SONG0001.KRV", commit, committed)) ...

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "disk/DiskFiles.h"

namespace korvo {

inline constexpr const char* kCommitRecordFileName = "COMMIT.TMP";

// A take's temporary and final file name, both in the song folder.
struct TakeRename {
    std::string from;
    std::string to;
    bool operator==(const TakeRename&) const = default;
};

struct SongCommit {
    std::vector<TakeRename> takes;
    std::vector<std::uint8_t> songFile;   // new first bytes of SONG.QMT; empty: left alone
    std::vector<std::uint8_t> eventList;  // new EVENTLS0.KRV; empty: left alone
    // The two files as they stood when the record was written: check sums of every 512 bytes
    // (and the event list's length). A file that is found to be neither that, nor the new one,
    // nor a mix of the two was changed since by someone else (the recorder, after the card was
    // taken out mid-write): the record no longer applies and is dropped.
    std::vector<std::uint32_t> songFileBefore;
    std::uint32_t eventListBeforeSize = 0;
    std::vector<std::uint32_t> eventListBefore;

    std::vector<std::uint8_t> serialise() const;
    // Nullopt for bytes that are not one whole, intact record.
    static std::optional<SongCommit> parse(const std::vector<std::uint8_t>& bytes);
};

// The complete commit record of a song folder, when it still applies to the files; nullopt when
// there is none, it is incomplete or the files were changed since.
std::optional<SongCommit> readCommitRecord(IDiskFiles& disk, const std::string& songFolder);

enum class SongWriteRecovery {
    none,      // no record: the last write finished or never started
    dropped,   // an incomplete record was removed: the old song stands
    finished,  // a complete record was carried out: the new song stands
    failed,    // a record is there but could not be carried out or removed
};

// Finishes or drops an interrupted song write of the folder.
SongWriteRecovery finishSongWrite(IDiskFiles& disk, const std::string& songFolder);

// What interrupted writes left on the whole disk, settled before a command writes it: in every
// song folder the record finished or dropped and the temporary takes removed, then, only when
// one of those was found, the clusters that no file reaches freed (a take whose clusters were
// allocated when the write was cut off, before its entry named them). A disk that shows no
// interruption is never changed, so a volume the recorder left with lost clusters stays as the
// recorder left it. Needs the disk to itself and no take of the caller's being written. False
// when something could not be settled (the write may go on; the next one tries again).
bool recoverInterruptedWrites(IDiskFiles& disk, const std::vector<std::string>& songFolders);
// Whether the song folder shows an interrupted write: a commit record or a temporary take.
bool showsInterruptedWrite(IDiskFiles& disk, const std::string& songFolder);

// Removes a temporary take: first cut to nothing (its clusters freed once its entry no longer
// names them), then its entry. An interruption between the two leaves the empty temporary, and
// with it the evidence that recoverInterruptedWrites looks for.
bool removeTemporaryTake(IDiskFiles& disk, const std::string& path);

// Steps 1 to 5 above. `committed` tells whether the record became durable: from then on the
// new song stands on the disk (a failure after it is finished by the next open), and the
// temporary takes it names must not be deleted.
bool commitSongWrite(IDiskFiles& disk, const std::string& songFolder, const SongCommit& commit,
                     bool& committed);

// True for the name a take has while an import writes it ("TAKEXXXX.KRV.TMP05").
bool isTemporaryTakeName(const std::string& name);

}  // namespace korvo
