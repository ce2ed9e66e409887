#pragma once
// Where the recorder keeps its files, per disk family, and the disk check that recognises a
// recorder disk and its family. Every operation that touches the disk runs the check first, so
// a swapped or write-protected disk is noticed.
//
//   root/DISKINFO.QMT + SONGLIST.QMT        QMT family
//   root/SYSTEM.KRV   + SONGLIST.KRV        KRV family (the main recorder)
//   root/SYSTEM.QMS   + SONGLIST.KRV        QMS family
//   root/SONGnnnn.ext/SONG.QMT | SONG.KRV   song file (only the QMT one is read)
//   root/SONGnnnn.ext/EVENTLS0.KRV          event list
//   root/SONGnnnn.ext/TAKEhhhh.KRV          takes; TAKEXXXX.KRV.TMPvv while an import runs

#include <string>

#include "disk/DiskFiles.h"
#include "disk/DiskTypes.h"

namespace korvo {

// Results of the disk check.
enum DiskCheckResult : int {
    kDiskWritable = 0,      // recognised, first identifying file opens for writing
    kDiskNotRecorder = 1,   // no family matched
    kDiskAccessDenied = 2,  // an existence test was refused
    kDiskReadOnly = 3,      // recognised, but the first identifying file is not writable
};

// Runs the check in the fixed family order QMT, KRV, QMS; sets family (kFamilyNone when no
// family matched). Never changes a file.
int checkDisk(IDiskFiles& disk, DiskFamily& family);

// The two identifying files of a family (empty for kFamilyNone).
const char* identifyingFile(DiskFamily family);
const char* songListFileName(DiskFamily family);
// "QMT", "KRV" or "QMS" as users know the families; "" for none.
const char* familyName(DiskFamily family);
// "SONG0007.KRV", "SONG0007.QMT", "SONG0007.QMS".
std::string songFolderName(DiskFamily family, SongNumber number);
// "SONG0007.KRV/" + name.
std::string songFilePath(DiskFamily family, SongNumber number, const std::string& name);

inline constexpr const char* kEventListFileName = "EVENTLS0.KRV";
inline constexpr const char* kQmtSongFileName = "SONG.QMT";

// "TAKE01A3.KRV" for take (first cluster) 0x1A3.
std::string takeFileName(std::uint16_t take);
// "TAKEXXXX.KRV.TMP05" for virtual track 5.
std::string temporaryTakeFileName(int virtualTrack);

}  // namespace korvo
