// A FAT image's FAT and directory tree: the tree is walked with the FAT read from the volume and
// again with the FAT held in memory (both must agree), every chain followed, the free space
// counted, every file read through the mounted file system, and a take written, read back,
// renamed and deleted as an import does.
#include <algorithm>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "fuzz/GeometryPromises.h"
#include "fuzz/Harnesses.h"
#include "fuzz/PaddedImage.h"
#include "volume/fat/BlockSource.h"
#include "volume/fat/DirectoryWalk.h"
#include "volume/fat/FatFile.h"
#include "volume/fat/FatFileSystem.h"
#include "volume/fat/FatLayout.h"
#include "volume/fat/FatTable.h"

namespace korvo::fuzz {

namespace {

constexpr std::size_t kMostItems = 64;
constexpr std::size_t kMostFileBytes = 256 * 1024;

using Visit = std::tuple<std::string, std::uint32_t, std::uint32_t, bool>;

std::pair<bool, std::vector<Visit>> walk(fat::FatVolumeReader& reader) {
    std::vector<Visit> visits;
    const bool read = reader.walkTree([&](const std::string& path, const fat::DirectoryItem& item) {
        visits.emplace_back(path, item.firstCluster, item.size, item.isDirectory());
    });
    return {read, std::move(visits)};
}

void checkChain(const fat::ClusterChain& chain, const fat::FatGeometry& geometry) {
    KORVO_PROMISE(chain.clusters.size() <= geometry.clusterCount);
    for (const std::uint32_t cluster : chain.clusters) {
        KORVO_PROMISE(geometry.isDataCluster(cluster));
    }
}

void checkFreeSpace(const fat::FatTable& table, const fat::FatGeometry& geometry) {
    KORVO_PROMISE(table.freeCount() <= geometry.clusterCount);
    const auto run = table.largestFreeRun();
    KORVO_PROMISE(run.has_value() == (table.freeCount() > 0));
    if (run) {
        KORVO_PROMISE(run->length > 0 && run->length <= table.freeCount());
        KORVO_PROMISE(geometry.isDataCluster(run->start));
        KORVO_PROMISE(run->start + run->length <= geometry.clusterLimit);
        for (std::uint32_t i = 0; i < std::min<std::uint32_t>(run->length, 4096); ++i) {
            KORVO_PROMISE(table.isFree(run->start + i));
        }
    }
}

// Reads a file whole through the file system; at most its recorded size comes back.
void readFile(fat::FatFileSystem& fs, const std::string& path, std::uint32_t size) {
    auto file = fs.open(path, OpenMode::read);
    if (!file) {
        return;
    }
    std::vector<std::uint8_t> buffer(4096);
    std::size_t total = 0;
    while (total < kMostFileBytes && file->read(buffer.data(), buffer.size())) {
        total += buffer.size();
    }
    KORVO_PROMISE(total <= size);
    (void)file->size();
    (void)file->close();
}

// Writes a take of two and a half clusters (at most 256 KiB) and reads it back.
void writeTake(fat::FatFileSystem& fs) {
    const std::string folder = "SONG0000.KRV";
    const std::string temporary = folder + "/TAKEXXXX.KRV.TMP00";
    if (!fs.makeFolder(folder)) {
        return;
    }
    const std::size_t length =
        std::min<std::size_t>(kMostFileBytes, fs.geometry().clusterBytes() * std::size_t{5} / 2);
    std::vector<std::uint8_t> take(length);
    for (std::size_t i = 0; i < length; ++i) {
        take[i] = static_cast<std::uint8_t>(i * 7 + 3);
    }
    auto file = fs.open(temporary, OpenMode::write);
    if (!file) {
        return;
    }
    const bool written = file->write(take.data(), take.size());
    if (!file->close() || !written) {
        return;
    }
    const auto found = fs.lookup(temporary);
    KORVO_PROMISE(found.outcome == fat::Lookup::found && found.item.size == length);
    checkChain(fs.chain(found.item.firstCluster), fs.geometry());

    auto back = fs.open(temporary, OpenMode::read);
    KORVO_PROMISE(back != nullptr);
    std::vector<std::uint8_t> read(length);
    KORVO_PROMISE(back->read(read.data(), read.size()));
    KORVO_PROMISE(read == take);
    back.reset();

    const std::string final = folder + "/TAKE0002.KRV";
    if (fs.rename(temporary, final)) {
        KORVO_PROMISE(fs.lookup(final).outcome == fat::Lookup::found);
        KORVO_PROMISE(fs.remove(final));
    } else {
        (void)fs.remove(temporary);
    }
}

}  // namespace

int fatWalkHarness(const std::uint8_t* data, std::size_t size) {
    PaddedImage image(data, size);
    const auto extent = fat::locateFatVolume(image, 0);
    if (!extent) {
        return 0;
    }
    fat::VolumeWindow volume(image, *extent);
    std::uint8_t sector[fat::boot::kSize];
    KORVO_PROMISE(volume.readAt(0, sector, sizeof sector));
    const auto geometry = fat::parseBootSector(sector, sizeof sector, volume.size());
    KORVO_PROMISE(geometry.has_value());
    checkGeometry(*geometry, volume.size());

    fat::FatVolumeReader fromVolume(volume, *geometry);
    const auto [readFromVolume, visits] = walk(fromVolume);
    fat::FatTable table;
    if (table.load(volume, *geometry)) {
        checkFreeSpace(table, *geometry);
        fat::FatVolumeReader fromMemory(volume, *geometry);
        fromMemory.useFat(table.bytes(), table.byteCount());
        const auto [readFromMemory, memoryVisits] = walk(fromMemory);
        KORVO_PROMISE(readFromMemory == readFromVolume && memoryVisits == visits);
    }
    for (std::size_t i = 0; i < std::min(visits.size(), kMostItems); ++i) {
        const auto& [path, first, fileSize, isDirectory] = visits[i];
        checkChain(fromVolume.chain(first), *geometry);
        (void)fromVolume.lookup(path);
    }

    std::string reason;
    auto fs = fat::FatFileSystem::mount(std::make_unique<PaddedImage>(image), 0, reason);
    if (!fs) {
        KORVO_PROMISE(!reason.empty());
        return 0;
    }
    for (std::size_t i = 0; i < std::min(visits.size(), kMostItems); ++i) {
        const auto& [path, first, fileSize, isDirectory] = visits[i];
        if (!isDirectory) {
            readFile(*fs, path, fileSize);
        }
    }
    if (fs->writable()) {
        writeTake(*fs);
        checkFreeSpace(fs->fat(), fs->geometry());
    }
    return 0;
}

}  // namespace korvo::fuzz
