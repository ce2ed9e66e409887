#include "fuzz/GeometryPromises.h"

#include "fuzz/Harnesses.h"

namespace korvo::fuzz {

void checkGeometry(const fat::FatGeometry& g, std::uint64_t volumeBytes) {
    const auto powerOfTwo = [](std::uint32_t v) { return v != 0 && (v & (v - 1)) == 0; };
    KORVO_PROMISE(g.bytesPerSector >= 512 && g.bytesPerSector <= 4096);
    KORVO_PROMISE(powerOfTwo(g.bytesPerSector));
    KORVO_PROMISE(powerOfTwo(g.sectorsPerCluster) && g.sectorsPerCluster <= 128);
    KORVO_PROMISE(g.reservedSectors > 0 && g.fatCount > 0 && g.sectorsPerFat > 0);
    KORVO_PROMISE(g.clusterCount > 0 && g.clusterLimit == g.clusterCount + fat::kFirstCluster);
    KORVO_PROMISE(g.volumeBytes() <= volumeBytes || volumeBytes == 0);
    KORVO_PROMISE(g.fatOffset(g.fatCount - 1) + g.fatBytes() <= g.volumeBytes());
    KORVO_PROMISE(fat::fatEntryByteOffset(g.type, g.clusterLimit - 1) +
                      fat::fatEntryByteCount(g.type) <=
                  g.fatBytes());
    KORVO_PROMISE(g.clusterOffset(g.clusterLimit - 1) + g.clusterBytes() <= g.volumeBytes());
    KORVO_PROMISE(g.clusterLimit <= fat::badClusterMark(g.type));
    if (g.isFat32()) {
        KORVO_PROMISE(g.rootEntries == 0 && g.isDataCluster(g.rootCluster));
        KORVO_PROMISE(g.fsInfoSector < g.reservedSectors);
    } else {
        KORVO_PROMISE(g.rootCluster == 0);
        KORVO_PROMISE(g.rootDirOffset() + std::uint64_t{g.rootDirSectors} * g.bytesPerSector <=
                      g.sectorOffset(g.firstDataSector));
        KORVO_PROMISE(g.rootEntries * fat::kDirectoryEntryBytes <=
                      std::uint64_t{g.rootDirSectors} * g.bytesPerSector);
    }
}

}  // namespace korvo::fuzz
