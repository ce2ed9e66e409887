// Take chains: for every file on the image, the cluster chain as the volume layer follows it
// (sector by sector through the volume access path, as take completion does) and as the image
// disk answers it (through its own FAT file system) must agree wherever both end soundly; takes
// of song 0 are then read block by block and decoded as an export does.
#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "codec/BlockBuffer.h"
#include "disk/DiskLayout.h"
#include "disk/Song.h"
#include "disk/TakeFile.h"
#include "fuzz/Harnesses.h"
#include "fuzz/PaddedImage.h"
#include "volume/ClusterChain.h"
#include "volume/Platform.h"
#include "volume/Volume.h"
#include "volume/fat/BlockSource.h"
#include "volume/fat/DirectoryWalk.h"
#include "volume/fat/FatLayout.h"
#include "volume/fat/ImageDiskFiles.h"

namespace korvo::fuzz {

namespace {

constexpr std::size_t kMostFiles = 16;
constexpr std::uint32_t kMostBlocks = 4096;

struct FileOnImage {
    std::string path;
    fat::ClusterChain chain;
};

// The files of the image (at most kMostFiles) with their chains as the directory walk has them.
std::vector<FileOnImage> filesOf(PaddedImage& image) {
    std::vector<FileOnImage> files;
    const auto extent = fat::locateFatVolume(image, 0);
    if (!extent) {
        return files;
    }
    fat::VolumeWindow volume(image, *extent);
    std::uint8_t sector[fat::boot::kSize];
    if (!volume.readAt(0, sector, sizeof sector)) {
        return files;
    }
    const auto geometry = fat::parseBootSector(sector, sizeof sector, volume.size());
    if (!geometry) {
        return files;
    }
    fat::FatVolumeReader reader(volume, *geometry);
    reader.walkTree([&](const std::string& path, const fat::DirectoryItem& item) {
        if (!item.isDirectory() && files.size() < kMostFiles) {
            files.push_back({path, reader.chain(item.firstCluster)});
        }
    });
    return files;
}

// The take number of "SONG0000.KRV/TAKEhhhh.KRV", if the path names one.
std::optional<std::uint16_t> takeOfSongZero(const std::string& path) {
    unsigned take = 0;
    char end = 0;
    if (path.size() != 25 ||
        std::sscanf(path.c_str(), "SONG0000.KRV/TAKE%4x.KR%c", &take, &end) != 2) {
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(take);
}

void readTake(IDiskFiles& disk, std::uint16_t take, int width) {
    SongListEntry entry;
    entry.dataType = width == 5 ? 2 : width == 6 ? 1 : width == 4 ? 4 : 0;
    const CSong song(entry, kFamilyKrv);
    const auto geometry = TakeGeometry::of(kFamilyKrv, width);
    KORVO_PROMISE(geometry.has_value());
    CTakeFile file(disk, *geometry);
    if (!file.openForReading(song, take, 0)) {
        return;
    }
    BlockBuffer buffer(width);
    for (std::uint32_t b = 0; b < kMostBlocks && file.readBlock(buffer.bytes.data()); ++b) {
        buffer.decode();
    }
    (void)file.close();  // false after the read that ran past the end
}

}  // namespace

int takeChainHarness(const std::uint8_t* data, std::size_t size) {
    PaddedImage image(data, size);
    std::vector<FileOnImage> files = filesOf(image);
    if (files.empty()) {
        files.push_back({"SONG0000.KRV/TAKE0002.KRV", {}});
    }

    PlatformDescription modern;
    modern.answered = true;
    modern.family = PlatformFamily::modern;
    modern.buildNumber = 2600;
    ImageVolumeFile volumeFile(image);
    CVolume volume(modern, 0, &volumeFile, nullptr);
    auto disk = openImageDiskFiles(std::make_unique<PaddedImage>(image), "fuzz.img", 0);
    std::string reason;
    const bool mounted = disk->checkVolume(reason);

    for (const FileOnImage& file : files) {
        std::vector<std::uint16_t> walked;
        fat::ChainEnd end = fat::ChainEnd::readError;
        const bool walkedFound = clusterChain(volume, file.path, walked, &end);
        if (walkedFound) {
            KORVO_PROMISE(!walked.empty() && walked.size() <= volume.geometry().clusterCount);
        } else {
            KORVO_PROMISE(walked.empty());
        }
        std::vector<std::uint16_t> answered;
        const bool answeredFound = mounted && disk->clusterChain(file.path, answered);
        if (walkedFound && answeredFound && end == fat::ChainEnd::endMark && file.chain.sound()) {
            KORVO_PROMISE(walked == answered);
        }
        if (const auto take = takeOfSongZero(file.path); take && mounted) {
            readTake(*disk, *take, 4 + (size > 0 ? data[size - 1] % 3 : 1));
        }
    }
    return 0;
}

}  // namespace korvo::fuzz
