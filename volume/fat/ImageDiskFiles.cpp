#include "volume/fat/ImageDiskFiles.h"

namespace korvo {

namespace {

// A disk whose image could not be opened: every file is missing, every change fails.
class UnreadableImage final : public IDiskFiles {
public:
    UnreadableImage(std::string rootPath, FileExistence answer)
        : rootPath_(std::move(rootPath)), answer_(answer) {}
    DiskKind kind() const override { return DiskKind::image; }
    const std::string& rootPath() const override { return rootPath_; }
    FileExistence exists(std::string_view) override { return answer_; }
    std::unique_ptr<IDiskStream> open(std::string_view, OpenMode) override { return nullptr; }
    bool rename(std::string_view, std::string_view) override { return false; }
    bool remove(std::string_view) override { return false; }
    std::optional<std::uint64_t> freeBytes() override { return std::nullopt; }
    bool checkVolume(std::string& reason) override {
        reason = rootPath_ + ": not a readable FAT volume";
        return false;
    }
    bool clusterChain(std::string_view, std::vector<std::uint16_t>& chain) override {
        chain.clear();
        return false;
    }

private:
    std::string rootPath_;
    FileExistence answer_;
};

}  // namespace

std::unique_ptr<IDiskFiles> openImageDiskFiles(const std::string& imagePath, int) {
    return std::make_unique<UnreadableImage>(imagePath, FileExistence::missing);
}

std::unique_ptr<IDiskFiles> openImageDiskFiles(std::unique_ptr<fat::IBlockTarget>,
                                               const std::string& rootPath, int) {
    return std::make_unique<UnreadableImage>(rootPath, FileExistence::missing);
}

}  // namespace korvo
