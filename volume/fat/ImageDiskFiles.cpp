#include "volume/fat/ImageDiskFiles.h"

#include <cerrno>

#include "volume/fat/FatFile.h"
#include "volume/fat/FatFileSystem.h"

namespace korvo {

namespace {

// A disk whose image could not be opened or holds no FAT volume: every file is missing (or
// its test refused), every change fails.
class UnreadableImage final : public IDiskFiles {
public:
    UnreadableImage(std::string rootPath, FileExistence answer, std::string reason)
        : rootPath_(std::move(rootPath)), answer_(answer), reason_(std::move(reason)) {}
    DiskKind kind() const override { return DiskKind::image; }
    const std::string& rootPath() const override { return rootPath_; }
    FileExistence exists(std::string_view) override { return answer_; }
    std::unique_ptr<IDiskStream> open(std::string_view, OpenMode) override { return nullptr; }
    bool rename(std::string_view, std::string_view) override { return false; }
    bool remove(std::string_view) override { return false; }
    std::optional<std::uint64_t> freeBytes() override { return std::nullopt; }
    bool checkVolume(std::string& reason) override {
        reason = rootPath_ + ": " + reason_;
        return false;
    }
    bool clusterChain(std::string_view, std::vector<std::uint16_t>& chain) override {
        chain.clear();
        return false;
    }

private:
    std::string rootPath_;
    FileExistence answer_;
    std::string reason_;
};

class ImageDiskFiles final : public IDiskFiles {
public:
    ImageDiskFiles(std::string rootPath, std::unique_ptr<fat::FatFileSystem> fs)
        : rootPath_(std::move(rootPath)), fs_(std::move(fs)) {}

    DiskKind kind() const override { return DiskKind::image; }
    const std::string& rootPath() const override { return rootPath_; }

    FileExistence exists(std::string_view path) override {
        switch (fs_->lookup(path).outcome) {
            case fat::Lookup::found:
                return FileExistence::present;
            case fat::Lookup::missing:
                return FileExistence::missing;
            case fat::Lookup::unreadable:
                break;
        }
        return FileExistence::accessDenied;
    }
    std::unique_ptr<IDiskStream> open(std::string_view path, OpenMode mode) override {
        return fs_->open(path, mode);
    }
    bool rename(std::string_view from, std::string_view to) override {
        return fs_->rename(from, to);
    }
    bool remove(std::string_view path) override { return fs_->remove(path); }
    bool makeFolder(std::string_view path) override { return fs_->makeFolder(path); }
    std::optional<std::vector<std::string>> listFiles(std::string_view folder) override {
        return fs_->listFiles(folder);
    }
    std::optional<std::uint64_t> freeBytes() override { return fs_->freeBytes(); }
    bool reclaimLostClusters(std::uint32_t& freed) override {
        return fs_->reclaimLostClusters(freed);
    }
    bool checkVolume(std::string&) override { return true; }
    bool clusterChain(std::string_view path, std::vector<std::uint16_t>& chain) override {
        chain.clear();
        const fat::LookupResult found = fs_->lookup(path);
        if (found.outcome != fat::Lookup::found || found.isRoot)
            return false;
        const fat::FatGeometry& geometry = fs_->geometry();
        if (!geometry.isDataCluster(found.item.firstCluster))
            return false;
        // The chain as the FAT holds it, cut where it leaves the volume or repeats.
        const fat::ClusterChain clusters = fs_->chain(found.item.firstCluster);
        for (std::uint32_t cluster : clusters.clusters)
            chain.push_back(static_cast<std::uint16_t>(cluster));
        return true;
    }

private:
    std::string rootPath_;
    std::unique_ptr<fat::FatFileSystem> fs_;
};

std::unique_ptr<IDiskFiles> mountImage(std::unique_ptr<fat::IBlockTarget> device,
                                       const std::string& rootPath, int partition) {
    std::string reason;
    auto fs = fat::FatFileSystem::mount(std::move(device), partition, reason);
    if (!fs)
        return std::make_unique<UnreadableImage>(rootPath, FileExistence::missing, reason);
    return std::make_unique<ImageDiskFiles>(rootPath, std::move(fs));
}

}  // namespace

std::unique_ptr<IDiskFiles> openImageDiskFiles(const std::string& imagePath, int partition) {
    int error = 0;
    auto device = fat::FileBlockDevice::open(imagePath, true, &error);
    if (!device) {
        const bool denied = error == EACCES || error == EPERM;
        return std::make_unique<UnreadableImage>(
            imagePath, denied ? FileExistence::accessDenied : FileExistence::missing,
            denied ? "access denied" : "cannot be opened");
    }
    return mountImage(std::move(device), imagePath, partition);
}

std::unique_ptr<IDiskFiles> openImageDiskFiles(std::unique_ptr<fat::IBlockTarget> device,
                                               const std::string& rootPath, int partition) {
    return mountImage(std::move(device), rootPath, partition);
}

}  // namespace korvo
