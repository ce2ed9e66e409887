#include "volume/fat/DirectoryWalk.h"

#include <cstring>
#include <unordered_set>

#include "volume/fat/FatNames.h"

namespace korvo::fat {

namespace {

constexpr std::size_t kFatCacheBytes = 4096;

// Collects the long-name slots seen before an 8.3 entry and checks that they belong to it.
class LongNameCollector {
public:
    void reset() {
        expected_ = 0;
        units_.clear();
    }
    void take(const LongNameEntry& slot, std::uint32_t index) {
        const std::uint8_t order = slot.order & 0x1F;
        if (slot.order & kLongNameLast) {
            reset();
            if (order == 0 || order > kLongNameMaxSlots)
                return;
            checksum_ = slot.checksum;
            firstSlot_ = index;
            units_.assign(std::size_t{order} * kLongNameUnitsPerSlot, 0xFFFF);
        } else if (expected_ == 0 || order != expected_ || slot.checksum != checksum_) {
            reset();
            return;
        }
        std::uint16_t* part =
            units_.data() + static_cast<std::size_t>(order - 1) * kLongNameUnitsPerSlot;
        for (int i = 0; i < 5; ++i)
            part[i] = readLittleEndian16(slot.name1 + 2 * i);
        for (int i = 0; i < 6; ++i)
            part[5 + i] = readLittleEndian16(slot.name2 + 2 * i);
        for (int i = 0; i < 2; ++i)
            part[11 + i] = readLittleEndian16(slot.name3 + 2 * i);
        expected_ = order - 1;
        if (expected_ == 0)
            expected_ = 0xFF;  // complete: waits for its 8.3 entry
    }
    // The long name when complete slots before this entry match its checksum.
    bool finish(const DirectoryEntry& entry, std::string& name, std::uint32_t& firstSlot) {
        const bool complete = expected_ == 0xFF && checksum_ == longNameChecksum(entry.name);
        if (complete) {
            std::vector<std::uint16_t> text;
            for (std::uint16_t unit : units_) {
                if (unit == 0x0000)
                    break;
                text.push_back(unit);
            }
            name = utf16ToUtf8(text);
            firstSlot = firstSlot_;
        }
        reset();
        return complete;
    }

private:
    std::uint8_t expected_ = 0;  // next order expected; 0xFF when all slots were seen
    std::uint8_t checksum_ = 0;
    std::uint32_t firstSlot_ = 0;
    std::vector<std::uint16_t> units_;
};

}  // namespace

std::string shortNameText(const DirectoryEntry& entry) {
    std::string base(reinterpret_cast<const char*>(entry.name), 8);
    std::string ext(reinterpret_cast<const char*>(entry.name) + 8, 3);
    if (!base.empty() && static_cast<std::uint8_t>(base[0]) == kEntryKanjiE5)
        base[0] = static_cast<char>(kEntryDeleted);
    while (!base.empty() && base.back() == ' ')
        base.pop_back();
    while (!ext.empty() && ext.back() == ' ')
        ext.pop_back();
    // Hosts mark an all-lower-case name part with a flag instead of long-name slots.
    auto lower = [](std::string& part) {
        for (char& c : part)
            if (c >= 'A' && c <= 'Z')
                c = static_cast<char>(c - 'A' + 'a');
    };
    if (entry.caseFlags & 0x08)
        lower(base);
    if (entry.caseFlags & 0x10)
        lower(ext);
    return ext.empty() ? base : base + "." + ext;
}

bool DirectoryItem::matches(std::string_view component) const {
    return sameName(component, shortName) || (!longName.empty() && sameName(component, longName));
}

DirectoryListing parseDirectory(const std::uint8_t* bytes, std::size_t length, bool fat32) {
    DirectoryListing listing;
    const std::size_t slots =
        std::min<std::size_t>(length / kDirectoryEntryBytes, kMaxDirectorySlots);
    listing.slotCount = static_cast<std::uint32_t>(slots);
    listing.endSlot = listing.slotCount;
    LongNameCollector longName;
    for (std::uint32_t i = 0; i < slots; ++i) {
        DirectoryEntry entry;
        std::memcpy(&entry, bytes + std::size_t{i} * kDirectoryEntryBytes, sizeof entry);
        if (entry.isEnd()) {
            listing.endSlot = i;
            break;
        }
        if (entry.name[0] == kEntryDeleted) {
            longName.reset();
            continue;
        }
        if (entry.isLongName()) {
            LongNameEntry slot;
            std::memcpy(&slot, &entry, sizeof slot);
            longName.take(slot, i);
            continue;
        }
        if (entry.isVolumeLabel()) {
            longName.reset();
            continue;
        }
        DirectoryItem item;
        item.entry = entry;
        item.shortName = shortNameText(entry);
        item.firstCluster = entry.firstCluster(fat32);
        item.size = entry.size();
        item.slot = i;
        item.firstSlot = i;
        if (!longName.finish(entry, item.longName, item.firstSlot))
            item.longName.clear();
        listing.items.push_back(std::move(item));
    }
    return listing;
}

FatVolumeReader::FatVolumeReader(IBlockSource& volume, const FatGeometry& geometry)
    : volume_(volume), geometry_(geometry) {}

void FatVolumeReader::useFat(const std::uint8_t* fat, std::size_t length) {
    fat_ = fat;
    fatLength_ = length;
}

bool FatVolumeReader::readFatBytes(std::uint64_t offset, std::uint8_t* out, std::size_t n) {
    if (offset + n > geometry_.fatBytes())
        return false;
    if (!cacheValid_ || offset < cacheOffset_ || offset + n > cacheOffset_ + cache_.size()) {
        // A window aligned to the cache size; an entry straddling its end starts a new window.
        std::uint64_t start = offset - offset % kFatCacheBytes;
        if (offset + n > start + kFatCacheBytes)
            start = offset;
        const std::uint64_t size =
            std::min<std::uint64_t>(kFatCacheBytes, geometry_.fatBytes() - start);
        cache_.resize(static_cast<std::size_t>(size));
        cacheValid_ = volume_.readAt(geometry_.fatOffset(0) + start, cache_.data(), cache_.size());
        cacheOffset_ = start;
        if (!cacheValid_)
            return false;
    }
    std::memcpy(out, cache_.data() + (offset - cacheOffset_), n);
    return true;
}

std::optional<std::uint32_t> FatVolumeReader::nextCluster(std::uint32_t cluster) {
    if (fat_ != nullptr)
        return readFatEntry(fat_, fatLength_, geometry_.type, cluster);
    const std::size_t width = fatEntryByteCount(geometry_.type);
    std::uint8_t raw[4] = {};
    if (!readFatBytes(fatEntryByteOffset(geometry_.type, cluster), raw, width))
        return std::nullopt;
    const std::uint32_t value = width == 4 ? readLittleEndian32(raw) : readLittleEndian16(raw);
    return fatEntryFromRaw(geometry_.type, cluster, value);
}

ClusterChain FatVolumeReader::chain(std::uint32_t first) {
    ClusterChain result;
    if (first == 0)
        return result;
    std::uint32_t cluster = first;
    while (true) {
        if (!geometry_.isDataCluster(cluster)) {
            result.end = ChainEnd::outOfRange;
            return result;
        }
        if (result.clusters.size() >= geometry_.clusterCount) {
            result.end = ChainEnd::cycle;
            return result;
        }
        result.clusters.push_back(cluster);
        const auto next = nextCluster(cluster);
        if (!next) {
            result.end = ChainEnd::readError;
            return result;
        }
        if (isEndOfChain(geometry_.type, *next))
            return result;
        if (*next == kFreeCluster) {
            result.end = ChainEnd::freeEntry;
            return result;
        }
        cluster = *next;
    }
}

std::optional<std::vector<std::uint32_t>> FatVolumeReader::directoryClusters(
    std::uint32_t directory) {
    if (directory == 0 && !geometry_.isFat32())
        return std::vector<std::uint32_t>{};
    if (directory == 0)
        directory = geometry_.rootCluster;
    ClusterChain clusters = chain(directory);
    if (!clusters.sound() || clusters.clusters.empty())
        return std::nullopt;
    // A folder never holds more than the slot limit; the rest of a longer chain is not read.
    const std::size_t maxClusters =
        (std::size_t{kMaxDirectorySlots} * kDirectoryEntryBytes + geometry_.clusterBytes() - 1) /
        geometry_.clusterBytes();
    if (clusters.clusters.size() > maxClusters)
        clusters.clusters.resize(maxClusters);
    return std::move(clusters.clusters);
}

std::optional<DirectoryListing> FatVolumeReader::listDirectory(std::uint32_t directory) {
    std::vector<std::uint8_t> bytes;
    if (directory == 0 && !geometry_.isFat32()) {
        bytes.resize(std::size_t{geometry_.rootEntries} * kDirectoryEntryBytes);
        if (!volume_.readAt(geometry_.rootDirOffset(), bytes.data(), bytes.size()))
            return std::nullopt;
        return parseDirectory(bytes.data(), bytes.size(), false);
    }
    const auto clusters = directoryClusters(directory);
    if (!clusters)
        return std::nullopt;
    const std::size_t clusterBytes = geometry_.clusterBytes();
    bytes.resize(clusters->size() * clusterBytes);
    for (std::size_t i = 0; i < clusters->size(); ++i) {
        if (!volume_.readAt(geometry_.clusterOffset((*clusters)[i]),
                            bytes.data() + i * clusterBytes, clusterBytes))
            return std::nullopt;
    }
    return parseDirectory(bytes.data(), bytes.size(), geometry_.isFat32());
}

LookupResult FatVolumeReader::lookup(std::string_view path) {
    LookupResult result;
    result.directory = 0;
    result.isRoot = true;
    result.item.entry.attributes = attribute::kDirectory;
    result.item.firstCluster = geometry_.isFat32() ? geometry_.rootCluster : 0;
    result.outcome = Lookup::found;

    std::uint32_t directory = 0;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string_view::npos)
            end = path.size();
        const std::string_view component = path.substr(start, end - start);
        start = end + 1;
        if (component.empty()) {
            if (end == path.size())
                break;
            continue;
        }
        if (!result.item.isDirectory())
            return LookupResult{Lookup::missing, {}, 0, false};
        if (component == "." || component == "..")
            return LookupResult{Lookup::missing, {}, 0, false};
        const auto listing = listDirectory(directory);
        if (!listing)
            return LookupResult{Lookup::unreadable, {}, directory, false};
        const DirectoryItem* found = nullptr;
        for (const DirectoryItem& item : listing->items) {
            if (!item.isDotEntry() && item.matches(component)) {
                found = &item;
                break;
            }
        }
        if (found == nullptr)
            return LookupResult{Lookup::missing, {}, directory, false};
        result.item = *found;
        result.directory = directory;
        result.isRoot = false;
        directory = found->firstCluster;
        if (directory == geometry_.rootCluster && geometry_.isFat32())
            directory = 0;
        if (end == path.size())
            break;
    }
    return result;
}

bool FatVolumeReader::walkTree(
    const std::function<void(const std::string& path, const DirectoryItem&)>& visit) {
    struct Pending {
        std::uint32_t directory;
        std::string path;
    };
    std::vector<Pending> pending{{0, ""}};
    std::unordered_set<std::uint32_t> entered{geometry_.isFat32() ? geometry_.rootCluster : 0};
    bool complete = true;
    while (!pending.empty()) {
        Pending current = std::move(pending.back());
        pending.pop_back();
        const auto listing = listDirectory(current.directory);
        if (!listing) {
            complete = false;
            continue;
        }
        for (const DirectoryItem& item : listing->items) {
            if (item.isDotEntry())
                continue;
            const std::string path =
                current.path.empty() ? item.name() : current.path + "/" + item.name();
            visit(path, item);
            if (!item.isDirectory())
                continue;
            std::uint32_t child = item.firstCluster;
            if (child == 0)
                child = geometry_.isFat32() ? geometry_.rootCluster : 0;
            if (!entered.insert(child).second)
                continue;  // a loop back to a folder seen before
            pending.push_back(
                {child == geometry_.rootCluster && geometry_.isFat32() ? 0 : child, path});
        }
    }
    return complete;
}

}  // namespace korvo::fat
