#pragma once
// A recorder disk held in memory, for the harnesses that feed fuzzed bytes to the disk model
// through its real file-access interface: files are byte vectors keyed by their upper-case path,
// folders exist implicitly (a path is a folder when some file lies below it). Streams behave like
// the folder streams: exact reads, writes that extend the file, seeks past the end, a sticky
// failed state. The disk has no raw volume, so cluster chains are never found.
//
//   fuzz::MemoryDiskFiles disk;
//   disk.put("SONGLIST.KRV", data, size);
//   auto list = disk.open("songlist.krv", OpenMode::read);

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "disk/DiskFiles.h"

namespace korvo::fuzz {

using Bytes = std::vector<std::uint8_t>;

class MemoryDiskFiles final : public IDiskFiles {
public:
    void put(std::string_view path, const std::uint8_t* data, std::size_t size);
    void put(std::string_view path, const Bytes& bytes) { put(path, bytes.data(), bytes.size()); }
    // Null when there is no such file.
    const Bytes* file(std::string_view path) const;

    DiskKind kind() const override { return DiskKind::folder; }
    const std::string& rootPath() const override { return root_; }
    FileExistence exists(std::string_view path) override;
    std::unique_ptr<IDiskStream> open(std::string_view path, OpenMode mode) override;
    bool rename(std::string_view from, std::string_view to) override;
    bool remove(std::string_view path) override;
    bool makeFolder(std::string_view) override { return true; }
    std::optional<std::uint64_t> freeBytes() override { return std::uint64_t{1} << 30; }
    bool checkVolume(std::string& reason) override {
        reason = "an in-memory disk has no FAT volume";
        return false;
    }
    bool clusterChain(std::string_view, std::vector<std::uint16_t>& chain) override {
        chain.clear();
        return false;
    }

private:
    static std::string key(std::string_view path);

    std::string root_ = "memory";
    std::map<std::string, std::shared_ptr<Bytes>> files_;
};

}  // namespace korvo::fuzz
