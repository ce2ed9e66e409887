#include "volume/fat/FatFileSystem.h"

#include <algorithm>
#include <cstring>
#include <cstdlib>
#include <ctime>

#include "volume/fat/DirectoryImage.h"
#include "volume/fat/FatFile.h"
#include "volume/fat/FatNames.h"

namespace korvo::fat {

std::pair<std::string_view, std::string_view> splitParent(std::string_view path) {
    while (!path.empty() && path.back() == '/')
        path.remove_suffix(1);
    const std::size_t slash = path.rfind('/');
    if (slash == std::string_view::npos)
        return {std::string_view{}, path};
    return {path.substr(0, slash), path.substr(slash + 1)};
}

// The moment entries are stamped with: now in local time, or the moment SOURCE_DATE_EPOCH gives
// (seconds since 1970, read as UTC), so that the same commands make the same image bytes.
bool stampTime(std::tm& local) {
    if (const char* fixed = std::getenv("SOURCE_DATE_EPOCH"); fixed && *fixed) {
        char* end = nullptr;
        const long long seconds = std::strtoll(fixed, &end, 10);
        if (*end == '\0' && seconds >= 0) {
            const auto moment = static_cast<std::time_t>(seconds);
            return gmtime_r(&moment, &local) != nullptr;
        }
    }
    const std::time_t now = std::time(nullptr);
    return localtime_r(&now, &local) != nullptr;
}

void stampEntry(DirectoryEntry& entry, bool creation) {
    std::tm local{};
    if (!stampTime(local))
        return;
    const int year = std::clamp(local.tm_year + 1900, 1980, 2107);
    const auto date = static_cast<std::uint16_t>(((year - 1980) << 9) | ((local.tm_mon + 1) << 5) |
                                                 local.tm_mday);
    const auto time = static_cast<std::uint16_t>((local.tm_hour << 11) | (local.tm_min << 5) |
                                                 (std::min(local.tm_sec, 59) / 2));
    writeLittleEndian16(entry.writeDate, date);
    writeLittleEndian16(entry.writeTime, time);
    writeLittleEndian16(entry.accessDate, date);
    if (creation) {
        writeLittleEndian16(entry.createDate, date);
        writeLittleEndian16(entry.createTime, time);
        entry.createTimeTenths = static_cast<std::uint8_t>((std::min(local.tm_sec, 59) % 2) * 100);
    }
}

FatFileSystem::FatFileSystem(std::unique_ptr<IBlockTarget> device, const VolumeExtent& extent,
                             const FatGeometry& geometry)
    : device_(std::move(device)),
      volume_(*device_, extent),
      geometry_(geometry),
      reader_(volume_, geometry_) {}

std::unique_ptr<FatFileSystem> FatFileSystem::mount(std::unique_ptr<IBlockTarget> device,
                                                    int partition, std::string& reason) {
    if (!device) {
        reason = "no device";
        return nullptr;
    }
    const auto extent = locateFatVolume(*device, partition);
    if (!extent) {
        reason = partition == 0 ? "no FAT volume found (bad boot sector or partition table)"
                                : "partition " + std::to_string(partition) + " holds no FAT volume";
        return nullptr;
    }
    std::uint8_t sector[boot::kSize];
    if (!device->readAt(extent->offset, sector, sizeof sector)) {
        reason = "cannot read the boot sector";
        return nullptr;
    }
    const auto geometry = parseBootSector(sector, sizeof sector, extent->length);
    if (!geometry) {
        reason = "the boot sector does not describe a FAT volume that fits the disk";
        return nullptr;
    }
    std::unique_ptr<FatFileSystem> fs(new FatFileSystem(std::move(device), *extent, *geometry));
    if (!fs->fat_.load(fs->volume_, fs->geometry_)) {
        reason = "cannot read the FAT";
        return nullptr;
    }
    fs->reader_.useFat(fs->fat_.bytes(), fs->fat_.byteCount());
    if (geometry->fsInfoSector != 0) {
        std::vector<std::uint8_t> info(geometry->bytesPerSector);
        fs->fsInfoValid_ =
            fs->volume_.readAt(geometry->sectorOffset(geometry->fsInfoSector), info.data(),
                               info.size()) &&
            readLittleEndian32(info.data() + fsinfo::kLeadSignature) == fsinfo::kLeadValue &&
            readLittleEndian32(info.data() + fsinfo::kStructSignature) == fsinfo::kStructValue;
    }
    return fs;
}

FatFileSystem::~FatFileSystem() {
    const std::vector<FatFile*> stillOpen = open_;
    for (FatFile* file : stillOpen)
        file->close();
    sync();
}

bool FatFileSystem::writable() const {
    return device_->writable() && !failed_;
}

bool FatFileSystem::fail(FatError error) {
    error_ = error;
    return false;
}

bool FatFileSystem::noteWrite(bool ok) {
    if (!ok) {
        failed_ = true;
        error_ = FatError::ioError;
    } else {
        unflushed_ = true;
    }
    return ok;
}

bool FatFileSystem::barrier() {
    if (!unflushed_)
        return true;
    if (!writable())
        return fail(FatError::readOnly);
    if (!noteWrite(volume_.flush()))
        return false;
    unflushed_ = false;
    return true;
}

bool FatFileSystem::writeData(std::uint64_t offset, const void* data, std::size_t n) {
    if (!writable())
        return fail(FatError::readOnly);
    return noteWrite(volume_.writeAt(offset, data, n));
}

bool FatFileSystem::readData(std::uint64_t offset, void* out, std::size_t n) {
    return volume_.readAt(offset, out, n) || fail(FatError::ioError);
}

bool FatFileSystem::writeFsInfo(bool known) {
    std::vector<std::uint8_t> info(geometry_.bytesPerSector);
    const std::uint64_t at = geometry_.sectorOffset(geometry_.fsInfoSector);
    if (!volume_.readAt(at, info.data(), info.size()))
        return fail(FatError::ioError);
    writeLittleEndian32(info.data() + fsinfo::kFreeCount,
                        known ? fat_.freeCount() : fsinfo::kUnknown);
    writeLittleEndian32(info.data() + fsinfo::kNextFree, fsinfo::kUnknown);
    return noteWrite(volume_.writeAt(at, info.data(), info.size()));
}

bool FatFileSystem::commitFat() {
    if (!fat_.dirty())
        return true;
    if (!writable())
        return fail(FatError::readOnly);
    if (!changed_) {
        // The free-cluster hint is marked unknown before the FAT first changes, and set again
        // when the volume is synced, so an interruption never leaves a wrong count behind.
        changed_ = true;
        if (fsInfoValid_ && !writeFsInfo(false))
            return false;
    }
    return barrier() && noteWrite(fat_.flush(volume_)) && barrier();
}

bool FatFileSystem::sync() {
    if (!writable())
        return !changed_ && !fat_.dirty();
    if (!commitFat())
        return false;
    if (changed_ && fsInfoValid_ && !writeFsInfo(true))
        return false;
    return barrier();
}

bool FatFileSystem::reclaimLostClusters(std::uint32_t& freed) {
    freed = 0;
    error_ = FatError::none;
    if (!writable())
        return fail(FatError::readOnly);
    for (const FatFile* file : open_) {
        if (file->writing())
            return fail(FatError::busy);
    }
    std::vector<bool> reached(geometry_.clusterLimit, false);
    bool sound = true;
    auto reach = [&](const std::vector<std::uint32_t>& clusters) {
        for (std::uint32_t cluster : clusters) {
            if (reached[cluster])
                sound = false;  // cross-linked
            reached[cluster] = true;
        }
    };
    if (geometry_.isFat32()) {
        const auto root = reader_.directoryClusters(geometry_.rootCluster);
        if (!root)
            return fail(FatError::damaged);
        reach(*root);
    }
    const bool complete = reader_.walkTree([&](const std::string&, const DirectoryItem& item) {
        if (item.firstCluster == 0)
            return;  // an empty file
        const ClusterChain clusters = reader_.chain(item.firstCluster);
        if (!clusters.sound()) {
            sound = false;
            return;
        }
        reach(clusters.clusters);
    });
    if (!complete || !sound)
        return fail(FatError::damaged);
    const FatType type = geometry_.type;
    for (std::uint32_t cluster = kFirstCluster; cluster < geometry_.clusterLimit; ++cluster) {
        const std::uint32_t entry = fat_.get(cluster);
        const bool used = geometry_.isDataCluster(entry) || isEndOfChain(type, entry);
        if (used && !reached[cluster]) {
            fat_.set(cluster, kFreeCluster);
            ++freed;
        }
    }
    return freed == 0 || sync();
}

bool FatFileSystem::writeEntry(const EntryLocation& where, const DirectoryEntry& entry) {
    if (!writable())
        return fail(FatError::readOnly);
    return noteWrite(volume_.writeAt(where.offset, &entry, sizeof entry));
}

void FatFileSystem::fileClosed(FatFile* file) {
    open_.erase(std::remove(open_.begin(), open_.end(), file), open_.end());
}

FatFile* FatFileSystem::openFileAt(const EntryLocation& where) const {
    for (FatFile* file : open_)
        if (file->location().offset == where.offset)
            return file;
    return nullptr;
}

LookupResult FatFileSystem::lookup(std::string_view path) {
    return reader_.lookup(path);
}

ClusterChain FatFileSystem::chain(std::uint32_t first) {
    return reader_.chain(first);
}

std::optional<std::vector<std::string>> FatFileSystem::listFiles(std::string_view folder) {
    const LookupResult found = reader_.lookup(folder);
    if (found.outcome != Lookup::found || !found.item.isDirectory())
        return std::nullopt;
    const auto listing = reader_.listDirectory(found.item.firstCluster);
    if (!listing)
        return std::nullopt;
    std::vector<std::string> names;
    for (const DirectoryItem& item : listing->items) {
        if (!item.isDirectory())
            names.push_back(item.name());
    }
    return names;
}

std::optional<std::uint32_t> FatFileSystem::allocateCluster(std::uint32_t after) {
    std::uint32_t chosen = 0;
    if (after != 0 && fat_.isFree(after + 1)) {
        chosen = after + 1;
    } else {
        const auto run = fat_.largestFreeRun();
        if (!run)
            return std::nullopt;
        chosen = run->start;
        // Leave room after a file that is still being written just before this run.
        if (run->length > 1) {
            for (const FatFile* file : open_) {
                if (file->writing() && file->tail() != 0 && file->tail() + 1 == run->start) {
                    chosen = run->start + run->length / 2;
                    break;
                }
            }
        }
    }
    fat_.set(chosen, endOfChainMark(geometry_.type));
    return chosen;
}

// ---- files --------------------------------------------------------------------------------

std::unique_ptr<FatFile> FatFileSystem::open(std::string_view path, OpenMode mode) {
    error_ = FatError::none;
    const bool changing = mode != OpenMode::read;
    if (changing && !writable()) {
        fail(FatError::readOnly);
        return nullptr;
    }
    const LookupResult found = lookup(path);
    if (found.outcome == Lookup::unreadable) {
        fail(FatError::damaged);
        return nullptr;
    }
    if (found.outcome == Lookup::found)
        return openExisting(found, mode);
    if (mode != OpenMode::write) {
        fail(FatError::missing);
        return nullptr;
    }
    return createFile(path, mode);
}

std::unique_ptr<FatFile> FatFileSystem::openExisting(const LookupResult& found, OpenMode mode) {
    const bool changing = mode != OpenMode::read;
    if (found.isRoot || found.item.isDirectory()) {
        fail(FatError::notAFile);
        return nullptr;
    }
    if (changing && (found.item.entry.attributes & attribute::kReadOnly)) {
        fail(FatError::readOnly);
        return nullptr;
    }
    auto image = loadDirectory(found.directory);
    if (!image) {
        fail(FatError::damaged);
        return nullptr;
    }
    const EntryLocation where{found.directory, found.item.slot,
                              slotOffset(*image, found.item.slot)};
    if (const FatFile* other = openFileAt(where);
        other != nullptr && (changing || other->writing())) {
        fail(FatError::busy);
        return nullptr;
    }
    ClusterChain clusters = chain(found.item.firstCluster);
    const std::uint64_t needed =
        (std::uint64_t{found.item.size} + geometry_.clusterBytes() - 1) / geometry_.clusterBytes();
    if (!clusters.sound() || clusters.clusters.size() < needed) {
        fail(FatError::damaged);
        return nullptr;
    }
    auto file =
        std::make_unique<FatFile>(*this, where, found.item.entry, std::move(clusters.clusters),
                                  mode, mode == OpenMode::write);
    open_.push_back(file.get());
    return file;
}

// A new, empty file in an existing folder.
std::unique_ptr<FatFile> FatFileSystem::createFile(std::string_view path, OpenMode mode) {
    const auto [parentPath, name] = splitParent(path);
    const LookupResult parent = lookup(parentPath);
    if (parent.outcome != Lookup::found || !parent.item.isDirectory()) {
        fail(parent.outcome == Lookup::unreadable ? FatError::damaged : FatError::missing);
        return nullptr;
    }
    std::uint32_t directory = parent.isRoot ? 0 : parent.item.firstCluster;
    if (geometry_.isFat32() && directory == geometry_.rootCluster)
        directory = 0;
    auto image = loadDirectory(directory);
    if (!image) {
        fail(FatError::damaged);
        return nullptr;
    }
    DirectoryEntry entry{};
    entry.attributes = attribute::kArchive;
    stampEntry(entry, true);
    const auto slots = slotsForName(*image, name, entry, nullptr);
    if (!slots) {
        fail(FatError::invalidName);
        return nullptr;
    }
    const auto count = static_cast<std::uint32_t>(slots->size() / kDirectoryEntryBytes);
    const auto at = findFreeSlots(*image, count, 0, 0);
    if (!at) {
        if (error_ == FatError::none)
            fail(FatError::full);
        return nullptr;
    }
    if (!placeSlots(*image, *at, *slots))
        return nullptr;
    const std::uint32_t slot = *at + count - 1;
    std::memcpy(&entry, image->slot(slot), sizeof entry);
    const EntryLocation where{directory, slot, slotOffset(*image, slot)};
    auto file =
        std::make_unique<FatFile>(*this, where, entry, std::vector<std::uint32_t>{}, mode, false);
    open_.push_back(file.get());
    return file;
}

bool FatFileSystem::makeFolder(std::string_view path) {
    error_ = FatError::none;
    if (!writable())
        return fail(FatError::readOnly);
    const LookupResult existing = lookup(path);
    if (existing.outcome == Lookup::found) {
        return existing.item.isDirectory() || fail(FatError::invalidName);
    }
    if (existing.outcome == Lookup::unreadable)
        return fail(FatError::damaged);
    const auto [parentPath, name] = splitParent(path);
    const LookupResult parent = lookup(parentPath);
    if (parent.outcome != Lookup::found || !parent.item.isDirectory()) {
        return fail(parent.outcome == Lookup::unreadable ? FatError::damaged : FatError::missing);
    }
    std::uint32_t directory = parent.isRoot ? 0 : parent.item.firstCluster;
    if (geometry_.isFat32() && directory == geometry_.rootCluster)
        directory = 0;
    auto image = loadDirectory(directory);
    if (!image)
        return fail(FatError::damaged);

    // The new folder's cluster first: "." and "..", the rest zero (end of listing).
    const auto cluster = allocateCluster(0);
    if (!cluster)
        return fail(FatError::full);
    std::vector<std::uint8_t> contents(geometry_.clusterBytes(), 0);
    DirectoryEntry dot{};
    std::memset(dot.name, ' ', sizeof dot.name);
    dot.attributes = attribute::kDirectory;
    stampEntry(dot, true);
    DirectoryEntry dotDot = dot;
    dot.name[0] = '.';
    dot.setFirstCluster(*cluster, geometry_.isFat32());
    dotDot.name[0] = dotDot.name[1] = '.';
    dotDot.setFirstCluster(directory, geometry_.isFat32());
    std::memcpy(contents.data(), &dot, sizeof dot);
    std::memcpy(contents.data() + kDirectoryEntryBytes, &dotDot, sizeof dotDot);
    if (!writeData(geometry_.clusterOffset(*cluster), contents.data(), contents.size()) ||
        !commitFat()) {
        return false;
    }
    // Then its entry in the parent.
    DirectoryEntry entry = dot;
    entry.setFirstCluster(*cluster, geometry_.isFat32());
    const auto slots = slotsForName(*image, name, entry, nullptr);
    if (!slots)
        return fail(FatError::invalidName);
    const auto count = static_cast<std::uint32_t>(slots->size() / kDirectoryEntryBytes);
    const auto at = findFreeSlots(*image, count, 0, 0);
    if (!at) {
        if (error_ == FatError::none)
            fail(FatError::full);
        return false;
    }
    return placeSlots(*image, *at, *slots) && sync();
}

bool FatFileSystem::rename(std::string_view from, std::string_view to) {
    error_ = FatError::none;
    if (!writable())
        return fail(FatError::readOnly);
    const auto [fromParent, fromName] = splitParent(from);
    const auto [toParent, toName] = splitParent(to);
    const LookupResult source = lookup(from);
    if (source.outcome != Lookup::found || source.isRoot)
        return fail(source.outcome == Lookup::unreadable ? FatError::damaged : FatError::missing);
    const LookupResult targetParent = lookup(toParent);
    if (targetParent.outcome != Lookup::found || !targetParent.item.isDirectory())
        return fail(FatError::missing);
    std::uint32_t targetDirectory = targetParent.isRoot ? 0 : targetParent.item.firstCluster;
    if (geometry_.isFat32() && targetDirectory == geometry_.rootCluster)
        targetDirectory = 0;
    if (targetDirectory != source.directory)
        return fail(FatError::invalidName);  // folders differ
    (void)fromParent;
    (void)fromName;

    const LookupResult target = lookup(to);
    if (target.outcome == Lookup::unreadable)
        return fail(FatError::damaged);
    if (target.outcome == Lookup::found &&
        !(target.directory == source.directory && target.item.slot == source.item.slot))
        return fail(FatError::exists);

    auto image = loadDirectory(source.directory);
    if (!image)
        return fail(FatError::damaged);
    const DirectoryItem* current = image->itemAt(source.item.slot);
    if (current == nullptr)
        return fail(FatError::damaged);
    const DirectoryItem item = *current;
    const EntryLocation oldWhere{source.directory, item.slot, slotOffset(*image, item.slot)};
    FatFile* openFile = openFileAt(oldWhere);

    const auto slots = slotsForName(*image, toName, item.entry, &item);
    if (!slots)
        return fail(FatError::invalidName);
    const auto count = static_cast<std::uint32_t>(slots->size() / kDirectoryEntryBytes);

    const std::uint32_t perSector = geometry_.bytesPerSector / kDirectoryEntryBytes;
    if (count == 1) {
        // An 8.3 name: the entry is renamed where it stands. Its long-name slots are deleted
        // with it in one write when they share its sector, else first, so an interruption
        // leaves the file under its old short name.
        if (item.firstSlot < item.slot && item.firstSlot / perSector == item.slot / perSector) {
            for (std::uint32_t i = item.firstSlot; i < item.slot; ++i)
                image->slot(i)[0] = kEntryDeleted;
            std::memcpy(image->slot(item.slot), slots->data(), kDirectoryEntryBytes);
            return writeSlots(*image, item.firstSlot, item.slot - item.firstSlot + 1) && barrier();
        }
        if (item.firstSlot < item.slot) {
            for (std::uint32_t i = item.firstSlot; i < item.slot; ++i)
                image->slot(i)[0] = kEntryDeleted;
            if (!writeSlots(*image, item.firstSlot, item.slot - item.firstSlot) || !barrier())
                return false;
        }
        std::memcpy(image->slot(item.slot), slots->data(), kDirectoryEntryBytes);
        return writeSlots(*image, item.slot, 1) && barrier();
    }

    const std::uint32_t oldCount = item.slot - item.firstSlot + 1;
    if (oldCount == count && item.firstSlot / perSector == item.slot / perSector) {
        // Same number of slots in one sector: rewritten in place with one write.
        std::memcpy(image->slot(item.firstSlot), slots->data(), slots->size());
        return writeSlots(*image, item.firstSlot, count) && barrier();
    }
    const auto at = findFreeSlots(*image, count, item.firstSlot, item.slot + 1);
    if (!at)
        return error_ == FatError::none ? fail(FatError::full) : false;
    // The old slots go first: an interruption loses the name (lost clusters), never leaves two
    // entries sharing one chain.
    for (std::uint32_t i = item.firstSlot; i <= item.slot; ++i)
        image->slot(i)[0] = kEntryDeleted;
    if (!writeSlots(*image, item.firstSlot, oldCount) || !barrier())
        return false;
    if (!placeSlots(*image, *at, *slots))
        return false;
    const std::uint32_t slot = *at + count - 1;
    if (openFile != nullptr)
        openFile->moved({source.directory, slot, slotOffset(*image, slot)});
    return barrier();
}

bool FatFileSystem::remove(std::string_view path) {
    error_ = FatError::none;
    if (!writable())
        return fail(FatError::readOnly);
    const LookupResult found = lookup(path);
    if (found.outcome != Lookup::found)
        return fail(found.outcome == Lookup::unreadable ? FatError::damaged : FatError::missing);
    if (found.isRoot || found.item.isDirectory())
        return fail(FatError::notAFile);
    if (found.item.entry.attributes & attribute::kReadOnly)
        return fail(FatError::readOnly);
    auto image = loadDirectory(found.directory);
    if (!image)
        return fail(FatError::damaged);
    const DirectoryItem* current = image->itemAt(found.item.slot);
    if (current == nullptr)
        return fail(FatError::damaged);
    const DirectoryItem item = *current;
    const EntryLocation where{found.directory, item.slot, slotOffset(*image, item.slot)};
    if (FatFile* openFile = openFileAt(where))
        openFile->abandon();

    // A damaged chain may run into clusters of other files: such a file is left alone.
    const ClusterChain clusters = chain(item.firstCluster);
    if (!clusters.sound())
        return fail(FatError::damaged);
    // Entry first, then the FAT: an interruption leaves lost clusters only.
    for (std::uint32_t i = item.firstSlot; i <= item.slot; ++i)
        image->slot(i)[0] = kEntryDeleted;
    if (!writeSlots(*image, item.firstSlot, item.slot - item.firstSlot + 1))
        return false;
    for (std::uint32_t cluster : clusters.clusters)
        fat_.set(cluster, kFreeCluster);
    return commitFat() && barrier();
}

}  // namespace korvo::fat
