#pragma once
// FAT disk images for tests, made and checked with dosfstools and mtools as oracles that are
// independent of this project's FAT code.
//
//   KORVO_SKIP_WITHOUT_FAT_TOOLS();
//   test::TemporaryFolder folder;
//   std::string image = folder.path() + "/disk.img";
//   test::mkfsFat(image, fat::FatType::fat16, 32768, 160ull << 20);   // sparse file + mkfs.fat
//   test::mmd(image, "SONG0000.KRV");
//   test::mcopyIn(image, hostFile, "SONG0000.KRV/TAKE0002.KRV");
//   auto check = test::fsckFat(image);        // fsck.fat -n: check.clean(), check.output
//   auto names = test::mdirShortNames(image, "SONG0000.KRV");
//   auto bytes = test::mcopyOut(image, "SONG0000.KRV/TAKE0002.KRV");
//   auto clusters = test::mshowfat(image, "SONG0000.KRV/TAKE0002.KRV");
//
// A recorder disk built as a folder (DiskFixture) becomes an image with imageFromFolder().

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "volume/fat/BlockSource.h"
#include "volume/fat/FatLayout.h"

namespace korvo::test {

// Whether mkfs.fat, fsck.fat and the mtools commands can be run.
bool fatToolsAvailable();

#define KORVO_SKIP_WITHOUT_FAT_TOOLS()                                                    \
    do {                                                                                  \
        if (!::korvo::test::fatToolsAvailable())                                          \
            GTEST_SKIP() << "dosfstools (mkfs.fat, fsck.fat) or mtools not installed";   \
    } while (0)

// Runs a shell command; the exit status and what it printed (stdout and stderr).
struct CommandResult {
    int status = -1;
    std::string output;
};
CommandResult runCommand(const std::string& command);
// The argument quoted for the shell.
std::string shellQuote(const std::string& text);

// Creates a sparse file of volumeBytes and formats it with mkfs.fat -F 12|16|32 -s n -S 512.
bool mkfsFat(const std::string& image, fat::FatType type, std::uint32_t clusterBytes,
             std::uint64_t volumeBytes);
// A volume size that mkfs.fat accepts for the type and cluster size (a few clusters above the
// smallest allowed count, so images stay small).
std::uint64_t smallVolumeBytes(fat::FatType type, std::uint32_t clusterBytes);

// fsck.fat -n: never changes the image.
struct FsckResult {
    int status = -1;
    std::string output;
    bool clean() const { return status == 0; }
};
FsckResult fsckFat(const std::string& image);

// fsck.fat -n findings that an interrupted write may leave: clusters no file refers to, a
// free-cluster count to recompute, the FAT copies differing in the sector being written, and a
// file grown in place whose chain already holds its new clusters while its size is still the
// old one (the file reads as before; the clusters past its size are lost clusters). A chain
// shorter than the size ("chain length is N bytes", no '>') is a broken file and not harmless.
// False with the first other finding in `offending`.
bool fsckFindingsHarmless(const std::string& output, std::string& offending);

// mtools on the image; paths are relative to the volume root, with '/' separators.
bool mmd(const std::string& image, const std::string& folder);
bool mcopyIn(const std::string& image, const std::string& hostFile, const std::string& path);
bool mcopyBytesIn(const std::string& image, const std::vector<std::uint8_t>& bytes,
                  const std::string& path);
std::optional<std::vector<std::uint8_t>> mcopyOut(const std::string& image, const std::string& path);
// The clusters mshowfat lists for a file, in chain order.
std::optional<std::vector<std::uint32_t>> mshowfat(const std::string& image, const std::string& path);
// The 8.3 names mdir shows in a folder ("TAKE0002.KRV"; "." and ".." left out), and their long
// names where mdir shows one (same order, empty when none).
struct MdirListing {
    std::vector<std::string> shortNames;
    std::vector<std::string> longNames;
};
std::optional<MdirListing> mdir(const std::string& image, const std::string& folder);

// Formats an image of the type and cluster size and copies a host folder's contents into its
// root with mcopy -s.
bool imageFromFolder(const std::string& folder, const std::string& image, fat::FatType type,
                     std::uint32_t clusterBytes, std::uint64_t volumeBytes);

// A device over an image file whose writes, from the failAt-th on (1-based), fail as if the
// power went: the image keeps exactly the writes before it. failAt 0 never fails.
// With an undo log, the bytes each write replaced are kept so that the image can be put back
// (undoWrites) without copying it whole.
// With `reorder` (needs the undo log) the power goes while the disk holds the writes since the
// last flush in its cache and stores them in any order: of those, only the most recent one
// reaches the image. Code that relies on write order without a flush in between shows up there.
// flush() marks the point the writes before it are durable; the image file itself is not
// synced, since it is read back through the host's cache.
struct UndoLog {
    std::vector<std::pair<std::uint64_t, std::vector<std::uint8_t>>> replaced;
};
class InterruptedDevice final : public fat::IBlockTarget {
public:
    InterruptedDevice(std::unique_ptr<fat::IBlockTarget> inner, std::uint64_t failAt,
                      UndoLog* undo = nullptr, bool reorder = false)
        : inner_(std::move(inner)), failAt_(failAt), undo_(undo), reorder_(reorder && undo != nullptr) {
        if (undo_ != nullptr) flushedUpTo_ = undo_->replaced.size();
    }
    bool readAt(std::uint64_t offset, void* out, std::size_t n) override {
        return inner_->readAt(offset, out, n);
    }
    std::uint64_t size() const override { return inner_->size(); }
    bool writeAt(std::uint64_t offset, const void* data, std::size_t n) override;
    bool flush() override;
    bool writable() const override { return inner_->writable(); }
    std::uint64_t writes() const { return writes_; }
    std::uint64_t flushes() const { return flushes_; }
    bool interrupted() const { return failAt_ != 0 && writes_ >= failAt_; }

private:
    void loseUnflushedWrites();

    std::unique_ptr<fat::IBlockTarget> inner_;
    std::uint64_t failAt_;
    UndoLog* undo_;
    bool reorder_;
    std::uint64_t writes_ = 0;   // attempted
    std::uint64_t flushes_ = 0;  // answered
    std::size_t flushedUpTo_ = 0;  // undo entries before this one are durable
    std::pair<std::uint64_t, std::vector<std::uint8_t>> lastWrite_;
};

// Puts back what the logged writes replaced, newest first, and empties the log.
bool undoWrites(const std::string& image, UndoLog& undo);

// The image file opened read-write as a device.
std::unique_ptr<fat::IBlockTarget> openImageDevice(const std::string& image);

std::vector<std::uint8_t> readHostFile(const std::string& path);
bool writeHostFile(const std::string& path, const std::vector<std::uint8_t>& bytes);

}  // namespace korvo::test
