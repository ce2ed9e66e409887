#pragma once
// A recorder disk whose failures a test chooses: wraps any IDiskFiles and passes everything
// through, except that
//   - the k-th write (counted over every stream opened through it) fails;
//   - files may grow only by a given number of bytes in all, as on a nearly full volume: a
//     write that needs more room writes what fits and fails;
//   - cluster chains are answered with a given chain (for folders without a raw volume);
//   - renames fail;
//   - as on some FAT drivers in user space, a write that starts exactly at the end of a
//     non-empty file fails, and so does every truncate.
// A stream whose write failed stays failed, as a real one does.
//
//   test::FaultyDiskFiles disk(folder);
//   disk.setRoom(100);                       // 100 more bytes fit on the disk
//   EXPECT_FALSE(song.write(disk, kEventListPart));

#include <cstdint>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "disk/DiskFiles.h"

namespace korvo::test {

class FaultyDiskFiles final : public IDiskFiles {
public:
    explicit FaultyDiskFiles(IDiskFiles& inner) : inner_(inner) {}

    // 1-based; 0 lets every write pass.
    void failWriteNumber(int k) { failWrite_ = k; }
    void setRoom(std::uint64_t bytes) { room_ = bytes; }
    void answerClusterChains(std::vector<std::uint16_t> chain) { chain_ = std::move(chain); }
    void failRenames(bool fail) { failRenames_ = fail; }
    void refuseWritesAtEndAndTruncates(bool refuse) { refuseAtEnd_ = refuse; }
    int writesSeen() const { return writes_; }

    DiskKind kind() const override { return inner_.kind(); }
    const std::string& rootPath() const override { return inner_.rootPath(); }
    FileExistence exists(std::string_view path) override { return inner_.exists(path); }
    std::unique_ptr<IDiskStream> open(std::string_view path, OpenMode mode) override;
    bool rename(std::string_view from, std::string_view to) override {
        return !failRenames_ && inner_.rename(from, to);
    }
    bool remove(std::string_view path) override { return inner_.remove(path); }
    std::optional<std::vector<std::string>> listFiles(std::string_view path) override {
        return inner_.listFiles(path);
    }
    bool syncFolder(std::string_view path) override { return inner_.syncFolder(path); }
    std::optional<std::uint64_t> freeBytes() override { return room_ ? room_ : inner_.freeBytes(); }
    bool checkVolume(std::string& reason) override {
        return chain_ ? true : inner_.checkVolume(reason);
    }
    bool clusterChain(std::string_view path, std::vector<std::uint16_t>& chain) override;

private:
    friend class FaultyStream;

    IDiskFiles& inner_;
    int failWrite_ = 0;
    int writes_ = 0;
    std::optional<std::uint64_t> room_;
    std::optional<std::vector<std::uint16_t>> chain_;
    bool failRenames_ = false;
    bool refuseAtEnd_ = false;
};

}  // namespace korvo::test
