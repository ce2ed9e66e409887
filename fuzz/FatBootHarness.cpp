// A FAT image's boot sector: the volume is located (bare, or every MBR partition), its boot
// sector parsed, and the volume identified through the modern access path as the cluster chain
// of a take would open it.
#include <cstring>

#include "fuzz/GeometryPromises.h"
#include "fuzz/Harnesses.h"
#include "fuzz/PaddedImage.h"
#include "volume/Platform.h"
#include "volume/Volume.h"
#include "volume/fat/BlockSource.h"
#include "volume/fat/FatLayout.h"

namespace korvo::fuzz {

int fatBootHarness(const std::uint8_t* data, std::size_t size) {
    // The input's own bytes, with only as much as it has.
    if (auto geometry = fat::parseBootSector(data, size, size)) {
        checkGeometry(*geometry, size);
    }

    PaddedImage image(data, size);
    for (int partition = 0; partition <= static_cast<int>(fat::kPartitionCount); ++partition) {
        const auto extent = fat::locateFatVolume(image, partition);
        if (!extent) {
            continue;
        }
        KORVO_PROMISE(extent->offset <= image.size() &&
                      extent->length <= image.size() - extent->offset);
        fat::VolumeWindow volume(image, *extent);
        std::uint8_t sector[fat::boot::kSize];
        KORVO_PROMISE(volume.readAt(0, sector, sizeof sector));
        // The first FAT partition is a FAT volume; a chosen one need only have a FAT type.
        const auto geometry = fat::parseBootSector(sector, sizeof sector, volume.size());
        KORVO_PROMISE(partition != 0 || geometry.has_value());
        if (geometry) {
            checkGeometry(*geometry, volume.size());
        }
    }

    PlatformDescription modern;
    modern.answered = true;
    modern.family = PlatformFamily::modern;
    modern.buildNumber = 2600;
    ImageVolumeFile file(image);
    CVolume volume(modern, 0, &file, nullptr);
    if (volume.open()) {
        const fat::FatGeometry& geometry = volume.geometry();
        checkGeometry(geometry, file.size());
        KORVO_PROMISE(volume.fatBits() == static_cast<int>(fat::fatEntryBits(geometry.type)));
        std::vector<std::uint8_t> sector(geometry.bytesPerSector);
        KORVO_PROMISE(volume.readSector(geometry.reservedSectors, sector.data()));
        KORVO_PROMISE(volume.readSector(geometry.totalSectors - 1, sector.data()));
        if (const auto first = volume.firstCluster("SYSTEM.KRV")) {
            KORVO_PROMISE(geometry.isDataCluster(*first));
        }
    } else {
        KORVO_PROMISE(!volume.reason().empty());
    }
    return 0;
}

}  // namespace korvo::fuzz
