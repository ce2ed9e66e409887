#pragma once
// Hand-built FAT volumes for the volume tests: a sparse in-memory image (only written bytes are
// stored, so volumes of gigabytes cost a few FAT sectors), a builder that lays out the boot
// sector, the FAT copies and root entries exactly as a test wants them (cycles, straddling FAT12
// entries, out-of-range numbers), and an IVolumeFile over such an image whose sectors can be made
// unreadable. Also the reading of what mshowfat prints, for the tests that use it as an oracle.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "volume/VolumeAccess.h"
#include "wavefile/HostFile.h"
#include "volume/fat/BlockSource.h"
#include "volume/fat/DirectoryWalk.h"
#include "volume/fat/FatLayout.h"

namespace korvo::test {

class SparseImage final : public fat::IBlockSource {
public:
    explicit SparseImage(std::uint64_t size = 0) : size_(size) {}

    void resize(std::uint64_t size) { size_ = size; }
    std::uint64_t size() const override { return size_; }

    void write(std::uint64_t offset, const void* data, std::size_t n) {
        const auto* bytes = static_cast<const std::uint8_t*>(data);
        size_ = std::max(size_, offset + n);
        while (n > 0) {
            auto& chunk = chunkAt(offset / kChunk);
            const std::size_t at = offset % kChunk;
            const std::size_t part = std::min(n, kChunk - at);
            std::memcpy(chunk.data() + at, bytes, part);
            bytes += part;
            offset += part;
            n -= part;
        }
    }

    bool readAt(std::uint64_t offset, void* out, std::size_t n) override {
        if (offset > size_ || n > size_ - offset) return false;
        auto* bytes = static_cast<std::uint8_t*>(out);
        while (n > 0) {
            const std::size_t at = offset % kChunk;
            const std::size_t part = std::min(n, kChunk - at);
            const auto found = chunks_.find(offset / kChunk);
            if (found == chunks_.end()) {
                std::memset(bytes, 0, part);
            } else {
                std::memcpy(bytes, found->second.data() + at, part);
            }
            bytes += part;
            offset += part;
            n -= part;
        }
        return true;
    }

    // Writes the image to a sparse file.
    bool saveTo(const std::string& path) const {
        auto file = CHostFile::open(path, HostOpen::create, HostFileKinds::regularOnly);
        if (!file) return false;
        bool good = file->truncate(size_);
        for (const auto& [index, chunk] : chunks_) {
            const std::uint64_t offset = index * kChunk;
            const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, size_ - offset));
            good = good && file->writeAt(offset, chunk.data(), n);
        }
        return file->close() && good;
    }

private:
    static constexpr std::size_t kChunk = 4096;
    std::vector<std::uint8_t>& chunkAt(std::uint64_t index) {
        auto& chunk = chunks_[index];
        if (chunk.empty()) chunk.assign(kChunk, 0);
        return chunk;
    }
    std::uint64_t size_;
    std::map<std::uint64_t, std::vector<std::uint8_t>> chunks_;
};

struct FatImageGeometry {
    fat::FatType type = fat::FatType::fat16;
    std::uint32_t bytesPerSector = 512;
    std::uint32_t sectorsPerCluster = 1;
    std::uint32_t reservedSectors = 1;
    std::uint32_t fatCount = 2;
    std::uint32_t rootEntries = 512;
    std::uint32_t totalSectors = 0;
    std::uint32_t sectorsPerFat = 0;  // 0: as many as the clusters need
    std::string typeText;             // empty: the usual text of the type
};

// A FAT volume laid out by hand. Cluster numbers and FAT entries are set directly.
class TestFatImage {
public:
    explicit TestFatImage(FatImageGeometry geometry) : geometry_(std::move(geometry)) {
        if (geometry_.type == fat::FatType::fat32) {
            geometry_.rootEntries = 0;
            if (geometry_.reservedSectors < 32) geometry_.reservedSectors = 32;
        }
        if (geometry_.sectorsPerFat == 0) {
            const std::uint64_t rootSectors =
                (std::uint64_t{geometry_.rootEntries} * 32 + geometry_.bytesPerSector - 1) / geometry_.bytesPerSector;
            const std::uint64_t clusters =
                (geometry_.totalSectors - geometry_.reservedSectors - rootSectors) / geometry_.sectorsPerCluster + 2;
            const std::uint64_t bytes = (clusters * fat::fatEntryBits(geometry_.type) + 7) / 8;
            geometry_.sectorsPerFat =
                static_cast<std::uint32_t>((bytes + geometry_.bytesPerSector - 1) / geometry_.bytesPerSector);
        }
        image_.resize(std::uint64_t{geometry_.totalSectors} * geometry_.bytesPerSector);
        writeBootSector();
        setEntry(0, 0x0FFFFF00u | 0xF8);
        setEntry(1, fat::endOfChainMark(geometry_.type));
        if (geometry_.type == fat::FatType::fat32) setEntry(2, fat::endOfChainMark(geometry_.type));
    }

    static FatImageGeometry fat12(std::uint32_t totalSectors, std::uint32_t sectorsPerCluster = 1) {
        FatImageGeometry geometry;
        geometry.type = fat::FatType::fat12;
        geometry.totalSectors = totalSectors;
        geometry.sectorsPerCluster = sectorsPerCluster;
        geometry.rootEntries = 224;
        return geometry;
    }
    static FatImageGeometry fat16(std::uint32_t totalSectors, std::uint32_t sectorsPerCluster = 4) {
        FatImageGeometry geometry;
        geometry.type = fat::FatType::fat16;
        geometry.totalSectors = totalSectors;
        geometry.sectorsPerCluster = sectorsPerCluster;
        return geometry;
    }
    static FatImageGeometry fat32(std::uint32_t totalSectors, std::uint32_t sectorsPerCluster = 1) {
        FatImageGeometry geometry;
        geometry.type = fat::FatType::fat32;
        geometry.totalSectors = totalSectors;
        geometry.sectorsPerCluster = sectorsPerCluster;
        return geometry;
    }

    const FatImageGeometry& geometry() const { return geometry_; }
    SparseImage& image() { return image_; }

    std::uint32_t rootDirSectors() const {
        return (geometry_.rootEntries * 32 + geometry_.bytesPerSector - 1) / geometry_.bytesPerSector;
    }
    std::uint32_t firstDataSector() const {
        return geometry_.reservedSectors + geometry_.fatCount * geometry_.sectorsPerFat + rootDirSectors();
    }
    std::uint32_t clusterCount() const {
        return (geometry_.totalSectors - firstDataSector()) / geometry_.sectorsPerCluster;
    }
    std::uint64_t fatOffset(std::uint32_t copy = 0) const {
        return std::uint64_t{geometry_.reservedSectors + copy * geometry_.sectorsPerFat} * geometry_.bytesPerSector;
    }

    // Stores a FAT entry in every FAT copy.
    void setEntry(std::uint32_t cluster, std::uint32_t value) {
        const std::uint64_t offset = fat::fatEntryByteOffset(geometry_.type, cluster);
        for (std::uint32_t copy = 0; copy < geometry_.fatCount; ++copy) {
            std::uint8_t bytes[4] = {};
            image_.readAt(fatOffset(copy) + offset, bytes, 4);
            rewriteEntry(bytes, cluster, value);
            image_.write(fatOffset(copy) + offset, bytes, fat::fatEntryByteCount(geometry_.type));
        }
    }

    // Links the clusters in order and ends the last with the end-of-chain mark.
    void linkChain(const std::vector<std::uint32_t>& clusters) {
        for (std::size_t i = 0; i < clusters.size(); ++i) {
            setEntry(clusters[i], i + 1 < clusters.size() ? clusters[i + 1]
                                                          : fat::endOfChainMark(geometry_.type));
        }
    }

    // Puts an 8.3 entry ("TAKE0002KRV", 11 characters) into the root folder at slot `slot`.
    void addRootFile(const char* name11, std::uint32_t firstCluster, std::uint32_t size,
                     std::uint32_t slot = 0) {
        fat::DirectoryEntry entry{};
        std::memcpy(entry.name, name11, 11);
        entry.attributes = fat::attribute::kArchive;
        entry.setFirstCluster(firstCluster, geometry_.type == fat::FatType::fat32);
        entry.setSize(size);
        const std::uint64_t root =
            geometry_.type == fat::FatType::fat32
                ? std::uint64_t{firstDataSector()} * geometry_.bytesPerSector
                : std::uint64_t{geometry_.reservedSectors + geometry_.fatCount * geometry_.sectorsPerFat} *
                      geometry_.bytesPerSector;
        image_.write(root + std::uint64_t{slot} * 32, &entry, sizeof entry);
    }

    void setBootField16(std::size_t offset, std::uint16_t value) {
        std::uint8_t bytes[2];
        writeLittleEndian16(bytes, value);
        image_.write(offset, bytes, 2);
    }
    void setBootByte(std::size_t offset, std::uint8_t value) { image_.write(offset, &value, 1); }

private:
    void rewriteEntry(std::uint8_t* bytes, std::uint32_t cluster, std::uint32_t value) {
        // bytes holds the entry's bytes from its byte offset on; keep the FAT12 neighbour nibble.
        std::uint16_t raw16 = readLittleEndian16(bytes);
        switch (geometry_.type) {
            case fat::FatType::fat12:
                raw16 = (cluster & 1) ? static_cast<std::uint16_t>((raw16 & 0x000F) | ((value & 0xFFF) << 4))
                                      : static_cast<std::uint16_t>((raw16 & 0xF000) | (value & 0xFFF));
                writeLittleEndian16(bytes, raw16);
                break;
            case fat::FatType::fat16:
                writeLittleEndian16(bytes, static_cast<std::uint16_t>(value));
                break;
            case fat::FatType::fat32: writeLittleEndian32(bytes, value & 0x0FFFFFFF); break;
        }
    }

    void writeBootSector() {
        std::vector<std::uint8_t> boot(geometry_.bytesPerSector, 0);
        boot[0] = 0xEB;
        boot[1] = 0x3C;
        boot[2] = 0x90;
        std::memcpy(boot.data() + 3, "TESTVOL ", 8);
        writeLittleEndian16(&boot[fat::boot::kBytesPerSector], static_cast<std::uint16_t>(geometry_.bytesPerSector));
        boot[fat::boot::kSectorsPerCluster] = static_cast<std::uint8_t>(geometry_.sectorsPerCluster);
        writeLittleEndian16(&boot[fat::boot::kReservedSectors], static_cast<std::uint16_t>(geometry_.reservedSectors));
        boot[fat::boot::kFatCount] = static_cast<std::uint8_t>(geometry_.fatCount);
        writeLittleEndian16(&boot[fat::boot::kRootEntries], static_cast<std::uint16_t>(geometry_.rootEntries));
        boot[fat::boot::kMedia] = 0xF8;
        const bool fat32 = geometry_.type == fat::FatType::fat32;
        if (geometry_.totalSectors < 0x10000 && !fat32) {
            writeLittleEndian16(&boot[fat::boot::kTotalSectors16], static_cast<std::uint16_t>(geometry_.totalSectors));
        } else {
            writeLittleEndian32(&boot[fat::boot::kTotalSectors32], geometry_.totalSectors);
        }
        std::string text = geometry_.typeText;
        if (text.empty()) {
            text = geometry_.type == fat::FatType::fat12 ? "FAT12   "
                   : geometry_.type == fat::FatType::fat16 ? "FAT16   " : "FAT32   ";
        }
        if (fat32) {
            writeLittleEndian32(&boot[fat::boot::kSectorsPerFat32], geometry_.sectorsPerFat);
            writeLittleEndian32(&boot[fat::boot::kRootCluster32], 2);
            std::memcpy(&boot[fat::boot::kFsType32], text.data(), std::min<std::size_t>(8, text.size()));
        } else {
            writeLittleEndian16(&boot[fat::boot::kSectorsPerFat16], static_cast<std::uint16_t>(geometry_.sectorsPerFat));
            std::memcpy(&boot[fat::boot::kFsType16], text.data(), std::min<std::size_t>(8, text.size()));
        }
        boot[510] = 0x55;
        boot[511] = 0xAA;
        image_.write(0, boot.data(), boot.size());
    }

    FatImageGeometry geometry_;
    SparseImage image_;
};

// The modern access path over an in-memory image. Sectors in `unreadableSectors` fail to read.
class MemoryVolumeFile final : public IVolumeFile {
public:
    explicit MemoryVolumeFile(SparseImage& image) : image_(image) {}

    std::set<std::uint32_t> unreadableSectors;
    int opens = 0;
    int closes = 0;
    int reads = 0;

    bool open(std::string&) override {
        ++opens;
        return true;
    }
    void close() override { ++closes; }
    std::optional<std::uint32_t> bytesPerSector() override {
        std::uint8_t field[2];
        if (!image_.readAt(fat::boot::kBytesPerSector, field, 2)) return std::nullopt;
        return readLittleEndian16(field);
    }
    std::uint64_t size() override { return image_.size(); }
    bool readAt(std::uint64_t offset, std::uint8_t* data, std::size_t length) override {
        ++reads;
        const auto bps = bytesPerSector().value_or(512);
        if (bps != 0 && unreadableSectors.count(static_cast<std::uint32_t>(offset / bps))) return false;
        return image_.readAt(offset, data, length);
    }
    std::optional<std::uint32_t> firstCluster(std::string_view path) override {
        std::uint8_t boot[512];
        if (!image_.readAt(0, boot, sizeof boot)) return std::nullopt;
        const auto geometry = fat::parseBootSector(boot, sizeof boot, image_.size());
        if (!geometry) return std::nullopt;
        fat::FatVolumeReader reader(image_, *geometry);
        const auto found = reader.lookup(path);
        if (found.outcome != fat::Lookup::found) return std::nullopt;
        return found.item.firstCluster;
    }

private:
    SparseImage& image_;
};

// The clusters of one mshowfat line, every range of a fragmented file in order:
// "::/A/B.BIN <4-13> <24-26>" -> 4..13, 24..26, cut to 16 bits.
inline std::vector<std::uint16_t> parseShowFat(const std::string& line) {
    std::vector<std::uint16_t> chain;
    for (std::size_t open = line.find(" <"); open != std::string::npos;
         open = line.find(" <", open + 1)) {
        const std::size_t close = line.find('>', open);
        if (close == std::string::npos) break;
        const std::string range = line.substr(open + 2, close - open - 2);
        if (range.empty() || range.find_first_not_of("0123456789-") != std::string::npos) continue;
        const std::size_t dash = range.find('-');
        const unsigned long first = std::stoul(range.substr(0, dash));
        const unsigned long last = dash == std::string::npos ? first : std::stoul(range.substr(dash + 1));
        for (unsigned long c = first; c <= last; ++c) chain.push_back(static_cast<std::uint16_t>(c));
    }
    return chain;
}

}  // namespace korvo::test
