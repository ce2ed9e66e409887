#pragma once
// The recorder disk as a FAT12/16/32 disk image or unmounted block device, reached through this
// project's own FAT file system: the image implementation of korvo::IDiskFiles.
//
// The image may be a bare volume or a whole disk with an MBR partition table; `partition` is
// 1-based, 0 takes the first FAT partition (or the bare volume). Paths are relative to the
// volume root. The factory never returns null: an image that cannot be opened or holds no FAT
// volume answers every existence test with "missing" (with "accessDenied" when the host refused
// to open it), and every other operation fails.
//
// Writes go in the order data clusters, both FAT copies, directory entry, and are flushed when a
// stream is closed, so an interrupted write leaves at most lost clusters. Final recorder names
// are written as plain 8.3 entries; names that are not 8.3 get long-name slots and a generated
// ~N short name.
//
//   auto disk = korvo::openImageDiskFiles("recorder.img", 0);
//   auto take = disk->open("SONG0000.KRV/TAKEXXXX.KRV.TMP05", korvo::OpenMode::write);
//   take->write(blocks, count);
//   take->close();
//   disk->rename("SONG0000.KRV/TAKEXXXX.KRV.TMP05", "SONG0000.KRV/TAKE0002.KRV");

#include <memory>
#include <string>

#include "disk/DiskFiles.h"
#include "volume/fat/BlockSource.h"

namespace korvo {

std::unique_ptr<IDiskFiles> openImageDiskFiles(const std::string& imagePath, int partition);

// The same over an already open device (tests use it to make chosen writes fail); rootPath is
// what rootPath() answers.
std::unique_ptr<IDiskFiles> openImageDiskFiles(std::unique_ptr<fat::IBlockTarget> device,
                                               const std::string& rootPath, int partition);

}  // namespace korvo
