#pragma once
// How a root path the user gave becomes the files of a recorder disk: a folder gives folder
// access, a regular file or block device gives the FAT image file system.
//
//   auto disk = openDiskFiles("/media/recorder", {});
//   auto image = openDiskFiles("recorder.img", {.device = {}, .partition = 1});

#include <memory>
#include <string>

#include "disk/DiskFiles.h"

namespace korvo {

// Never null: a root that does not exist answers every existence test with "missing".
std::unique_ptr<IDiskFiles> openDiskFiles(const std::string& rootPath, const DiskOptions& options);

}  // namespace korvo
