#pragma once
// Take files: one mono stream of compressed blocks laid out cluster by cluster, so that no block
// crosses a cluster boundary of the recorder's FAT volume. Block b of a take starts at byte
// U (b div N) + 2w (b mod N); the P slack bytes at the end of a full cluster hold the block
// that opens the next cluster, repeated where P is longer than a block.
//
// A completed take is named after its first cluster (TAKE01A3.KRV); while an import writes it,
// it is called TAKEXXXX.KRV.TMPvv, and the take writer deletes it unless it was completed or
// handed over to the song write that gives it its final name (SongCommit.h).

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "disk/DiskFiles.h"
#include "disk/DiskTypes.h"

namespace korvo {

class CSong;

struct TakeGeometry {
    std::uint32_t clusterBytes = 0;      // U
    std::uint32_t blockBytes = 0;        // 2w
    std::uint32_t blocksPerCluster = 0;  // N
    std::uint32_t slackBytes = 0;        // P

    // nullopt for a width without a codec (0) or a family without takes.
    static std::optional<TakeGeometry> of(DiskFamily family, int width);
    std::uint64_t blockPosition(std::uint32_t block) const;
};

class CTakeFile {
public:
    CTakeFile(IDiskFiles& disk, const TakeGeometry& geometry);

    bool openForReading(const CSong& song, std::uint16_t take, std::uint32_t blockOffset);
    bool readBlock(std::uint8_t* block);
    // `count` consecutive blocks into `blocks` (count * 2w bytes), one stream read per cluster
    // they touch; the same bytes as `count` calls of readBlock.
    bool readBlocks(std::uint8_t* blocks, std::size_t count);
    bool createForWriting(const CSong& song, int virtualTrack);
    bool writeBlock(const std::uint8_t* block);
    // `count` consecutive blocks, one stream write per cluster they fill (slack included); the
    // same file as `count` calls of writeBlock.
    bool writeBlocks(const std::uint8_t* blocks, std::size_t count);
    // Makes the file durable, closes it and reads its cluster chain; finalName() is then known.
    bool finish();
    // finish(), then renames the file to its final name TAKEhhhh.KRV.
    bool complete();
    bool close();

    const std::string& path() const { return path_; }
    // The file name (without folder) of path(), and the name the take gets once completed.
    std::string fileName() const;
    const std::string& finalName() const { return finalName_; }
    const std::vector<std::uint16_t>& chain() const { return chain_; }
    const TakeGeometry& geometry() const { return geometry_; }
    // True once createForWriting made the file at path() (the temporary or, after completion,
    // the final name).
    bool createdFile() const { return createdFile_; }

private:
    // Moves to the next cluster when the block at the position would run into the slack; a
    // writer first fills the slack with `opening`, the block that opens the next cluster.
    bool nextClusterIfFull(const std::uint8_t* opening);
    // Whole blocks left before the slack of the current cluster.
    std::size_t blocksLeftInCluster() const;

    IDiskFiles& disk_;
    TakeGeometry geometry_;
    std::string path_;
    std::unique_ptr<IDiskStream> stream_;
    std::uint64_t position_ = 0;
    std::uint64_t clusterEnd_ = 0;
    std::vector<std::uint16_t> chain_;
    std::string finalName_;
    bool writing_ = false;
    bool createdFile_ = false;
};

// Owns one take being written by an import; deletes the file when destroyed uncompleted.
class CTakeWriter {
public:
    CTakeWriter(IDiskFiles& disk, const TakeGeometry& geometry, const CSong& song,
                int virtualTrack);
    ~CTakeWriter();
    CTakeWriter(const CTakeWriter&) = delete;
    CTakeWriter& operator=(const CTakeWriter&) = delete;

    bool created() const { return created_; }
    bool writeBlock(const std::uint8_t* block);
    bool writeBlocks(const std::uint8_t* blocks, std::size_t count);
    // Closes the take and reads its chain, leaving it under its temporary name for the song
    // write that renames it (the import's way); complete() renames it at once.
    bool finish();
    bool complete();
    bool finished() const { return finished_; }
    bool completed() const { return completed_; }
    // The song write's commit has taken over the temporary file: the writer no longer deletes
    // it, since the committed song refers to it (the commit or the next open renames it).
    void handOver() { handedOver_ = true; }
    const CTakeFile& take() const { return take_; }

private:
    IDiskFiles& disk_;
    CTakeFile take_;
    bool created_ = false;
    bool finished_ = false;
    bool completed_ = false;
    bool handedOver_ = false;
};

}  // namespace korvo
