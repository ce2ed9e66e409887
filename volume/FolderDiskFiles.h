#pragma once
// The files of a recorder disk reached as a host folder: the mount point of the recorder's FAT
// disk or a copy of its files. Files are reached by path through POSIX calls; each component of
// a recorder path is looked up by its exact name first and otherwise matched without regard to
// case in its folder, so "SONG0001.KRV/eventls0.krv" finds what a case-sensitive host stores
// under another case. New files are created in the matched folder under the name given.
//
// Cluster chains come from the raw volume behind the folder: DiskOptions::device when given,
// else the block device that the mount table names for the folder.
//
//   CFolderDiskFiles disk("/media/recorder", {});
//   auto stream = disk.open("SONGLIST.KRV", OpenMode::read);

#include <optional>
#include <string>

#include "disk/DiskFiles.h"

namespace korvo {

class CFolderDiskFiles final : public IDiskFiles {
public:
    CFolderDiskFiles(std::string rootPath, DiskOptions options);

    DiskKind kind() const override { return DiskKind::folder; }
    const std::string& rootPath() const override { return rootPath_; }

    FileExistence exists(std::string_view path) override;
    std::unique_ptr<IDiskStream> open(std::string_view path, OpenMode mode) override;
    bool rename(std::string_view from, std::string_view to) override;
    bool remove(std::string_view path) override;
    bool syncFolder(std::string_view path) override;
    bool makeFolder(std::string_view path) override;
    std::optional<std::vector<std::string>> listFiles(std::string_view folder) override;

    std::optional<std::uint64_t> freeBytes() override;
    bool checkVolume(std::string& reason) override;
    bool clusterChain(std::string_view path, std::vector<std::uint16_t>& chain) override;

    // The host path of an existing recorder path, each component matched as described above.
    struct Lookup {
        FileExistence existence = FileExistence::missing;
        std::string hostPath;
        std::string diskPath;  // the path with the names as the host stores them
    };
    Lookup lookUp(std::string_view path) const;

private:
    // Where a file of that path is (or would be) created: its folder matched, its own name
    // matched when a file of that name exists, else as given.
    std::optional<Lookup> placeFor(std::string_view path) const;
    // The raw volume behind the folder and the folder's path on it ("" for its root).
    bool locateVolume(std::string& device, std::string& folderOnVolume, std::string& reason) const;

    std::string rootPath_;
    DiskOptions options_;
};

}  // namespace korvo
