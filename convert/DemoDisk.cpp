#include "convert/DemoDisk.h"

#include <array>
#include <cstring>
#include <memory>
#include <vector>

#include "codec/BlockBuffer.h"
#include "convert/DemoMusic.h"
#include "convert/TrackConverter.h"
#include "disk/DiskLayout.h"
#include "disk/EventTable.h"
#include "disk/SongFileLayout.h"
#include "disk/SongListEntry.h"
#include "volume/HostFolder.h"
#include "volume/fat/FatFormat.h"
#include "volume/fat/ImageDiskFiles.h"
#include "wavefile/WaveFile.h"

namespace korvo {

namespace {

// A FAT16 volume with the 64 KiB clusters of the QMT family; the image file is sparse.
constexpr std::uint64_t kVolumeBytes = 320ull << 20;
constexpr std::uint32_t kClusterBytes = 65536;

bool writeDiskFile(IDiskFiles& disk, const std::string& path,
                   const std::vector<std::uint8_t>& bytes) {
    auto stream = disk.open(path, OpenMode::write);
    return stream && stream->write(bytes.data(), bytes.size()) && stream->close();
}

std::vector<std::uint8_t> songListEntryBytes(SongNumber number, const char* name) {
    SongListEntry entry;
    entry.number = number;
    std::memcpy(entry.name, name, std::min<std::size_t>(std::strlen(name), sizeof entry.name));
    entry.flags = 1;     // 44100 Hz, not protected
    entry.dataType = 1;  // MT2: 12-byte blocks
    std::vector<std::uint8_t> bytes(kSongListEntryBytes, 0);
    encodeSongListEntry(entry, bytes.data());
    return bytes;
}

// A wave file of the demo music in whole blocks, made with our own wave writer.
bool writeWave(const std::string& path, const std::vector<std::int16_t>& interleaved,
               std::uint16_t channels, std::uint32_t sampleRate) {
    const std::size_t frames =
        interleaved.size() / channels / BlockBuffer::kSamples * BlockBuffer::kSamples;
    return KorvoLib::Korvo::writeInterleavedWave(path, KorvoLib::Korvo::kWaveTypeRiff, channels,
                                                 sampleRate, interleaved.data(), frames);
}

// Imports a wave into the virtual tracks through the same engine run as the import command.
bool importInto(const std::string& image, SongNumber song, std::vector<std::uint8_t> tracks,
                const std::string& wave, std::string& message) {
    CTrackConverter converter;
    converter.setPolarity(true);
    converter.setRootPath(image);
    converter.setSelectedTracks(std::move(tracks));
    if (!converter.refreshSongList() || !converter.refreshSong(song) ||
        !converter.openInputWave(wave)) {
        message =
            "cannot import the demo music (status " + std::to_string(converter.status()) + ")";
        return false;
    }
    converter.computeImportRange();
    if (!converter.runImport()) {
        message =
            "cannot import the demo music (status " + std::to_string(converter.status()) + ")";
        return false;
    }
    return true;
}

}  // namespace

bool makeDemoDisk(const std::string& imagePath, std::string& message) {
    fat::FormatOptions options;
    options.type = fat::FatType::fat16;
    options.clusterBytes = kClusterBytes;
    options.label = "KORVO DEMO";
    if (!fat::formatImageFile(imagePath, kVolumeBytes, options)) {
        message = "cannot write the image " + imagePath;
        return false;
    }
    auto disk = openImageDiskFiles(imagePath, 0);

    // A QMT-family disk: it keeps the virtual-track names in its song files.
    std::vector<std::uint8_t> songList{0, 2};
    for (const auto& entry : {songListEntryBytes(0, "DEMO SONG"), songListEntryBytes(1, "EMPTY")}) {
        songList.insert(songList.end(), entry.begin(), entry.end());
    }
    const std::vector<std::uint8_t> songFile(kSongFileBytes, 0);
    const std::vector<std::uint8_t> eventList((1 + kVirtualTracks) * 2, 0);
    bool laidOut = writeDiskFile(*disk, "DISKINFO.QMT", std::vector<std::uint8_t>(512, 0)) &&
                   writeDiskFile(*disk, songListFileName(kFamilyQmt), songList);
    for (SongNumber song = 0; laidOut && song < 2; ++song) {
        const std::string folder = songFolderName(kFamilyQmt, song);
        laidOut =
            disk->makeFolder(folder) &&
            writeDiskFile(*disk, songFilePath(kFamilyQmt, song, kQmtSongFileName), songFile) &&
            writeDiskFile(*disk, songFilePath(kFamilyQmt, song, kEventListFileName), eventList);
    }
    disk.reset();
    if (!laidOut) {
        message = "cannot lay out the recorder files on " + imagePath;
        return false;
    }

    // The music goes in through wave files in a private temporary folder.
    const auto scratch = makeTemporaryFolder("korvowav-demo-");
    if (!scratch) {
        message = "cannot make a temporary folder for the demo music";
        return false;
    }
    const std::string folder = *scratch + "/";
    const DemoMusic music = synthesiseDemoMusic(44100);
    bool made = writeWave(folder + "drums.wav", music.drums, 1, music.sampleRate) &&
                writeWave(folder + "bass.wav", music.bass, 1, music.sampleRate) &&
                writeWave(folder + "chords.wav", music.chords, 2, music.sampleRate);
    if (!made) {
        message = "cannot write the demo music";
    } else {
        made = importInto(imagePath, 0, {virtualTrackIndex(1, 1)}, folder + "drums.wav",
                          message) &&
               importInto(imagePath, 0, {virtualTrackIndex(2, 1)}, folder + "bass.wav",
                          message) &&
               importInto(imagePath, 0, {virtualTrackIndex(3, 1), virtualTrackIndex(4, 1)},
                          folder + "chords.wav", message);
    }
    removeHostTree(*scratch);
    if (!made) {
        return false;
    }
    message = "Wrote the demo disk " + imagePath +
              ": song 1 \"DEMO SONG\" holds drums on 1.1, bass on 2.1 and chords on 3.1 and 4.1 "
              "(44100 Hz, MT2); song 2 \"EMPTY\" is free for imports.";
    return true;
}

}  // namespace korvo
