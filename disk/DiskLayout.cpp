#include "disk/DiskLayout.h"

#include <cstdio>

namespace korvo {

namespace {

struct FamilyFiles {
    const char* identifying;  // tested for existence and write access
    const char* songList;
    const char* extension;  // of the song folders
};

constexpr FamilyFiles kFamilyFiles[] = {
    {"DISKINFO.QMT", "SONGLIST.QMT", "QMT"},
    {"SYSTEM.KRV", "SONGLIST.KRV", "KRV"},
    {"SYSTEM.QMS", "SONGLIST.KRV", "QMS"},
};

bool isRecorderFamily(DiskFamily family) {
    return family == kFamilyQmt || family == kFamilyKrv || family == kFamilyQms;
}

}  // namespace

const char* familyName(DiskFamily family) {
    return isRecorderFamily(family) ? kFamilyFiles[family].extension : "";
}

int checkDisk(IDiskFiles& disk, DiskFamily& family) {
    for (int candidate = kFamilyQmt; candidate < kFamilyNone; ++candidate) {
        family = static_cast<DiskFamily>(candidate);
        const FamilyFiles& files = kFamilyFiles[candidate];
        FileExistence first = disk.exists(files.identifying);
        FileExistence second = FileExistence::missing;
        if (first == FileExistence::present) {
            second = disk.exists(files.songList);
        }
        if (first == FileExistence::present && second == FileExistence::present) {
            // Opening for update neither creates, cuts nor changes the file; nothing is
            // written before it is closed again.
            auto stream = disk.open(files.identifying, OpenMode::update);
            if (!stream) {
                return kDiskReadOnly;
            }
            stream->close();
            return kDiskWritable;
        }
        if (first == FileExistence::accessDenied || second == FileExistence::accessDenied) {
            return kDiskAccessDenied;
        }
    }
    family = kFamilyNone;
    return kDiskNotRecorder;
}

const char* identifyingFile(DiskFamily family) {
    return isRecorderFamily(family) ? kFamilyFiles[family].identifying : "";
}

const char* songListFileName(DiskFamily family) {
    return isRecorderFamily(family) ? kFamilyFiles[family].songList : "";
}

std::string songFolderName(DiskFamily family, SongNumber number) {
    const char* extension = isRecorderFamily(family) ? kFamilyFiles[family].extension : "KRV";
    char digits[8];
    std::snprintf(digits, sizeof digits, "%04u", static_cast<unsigned>(number));
    return std::string("SONG") + digits + "." + extension;
}

std::string songFilePath(DiskFamily family, SongNumber number, const std::string& name) {
    return songFolderName(family, number) + "/" + name;
}

std::string takeFileName(std::uint16_t take) {
    char name[16];
    std::snprintf(name, sizeof name, "TAKE%04X.KRV", static_cast<unsigned>(take));
    return name;
}

std::string temporaryTakeFileName(int virtualTrack) {
    char name[32];
    std::snprintf(name, sizeof name, "TAKEXXXX.KRV.TMP%02d", virtualTrack);
    return name;
}

}  // namespace korvo
