#pragma once
// The host's drives and raw volumes as the Windows build reaches them: the drive list, a volume
// opened as "\\.\X:" and read in whole sectors, a file's first cluster from its retrieval
// pointers, the volume's length, and the lock and dismount that must come before a volume is
// written directly. The host calls sit behind IVolumeDeviceCalls, one operation each; the logic
// above them (sector alignment, cluster numbering, the order of lock and dismount) is plain C++
// and is tested with calls that answer from disk images.
//
//   auto drives = driveList(calls);                        // "E:\" removable, ...
//   CRawVolumeFile volume(calls, 'E');                     // cluster chains on the mounted disk
//   CVolume handle(hostPlatform(), driveNumberOf('E'), &volume, nullptr);
//   auto target = CRawVolumeTarget::open(calls, 'E', /*writable=*/true, problem);  // image route

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "volume/VolumeAccess.h"
#include "volume/fat/BlockSource.h"

namespace korvo {

// The drive types the host tells apart (the values of its drive-type call).
enum class DriveType : std::uint32_t {
    unknown = 0,
    noRoot = 1,
    removable = 2,
    fixed = 3,
    remote = 4,
    cdrom = 5,
    ramDisk = 6,
};

// The answer to a retrieval-pointers request from virtual cluster 0.
struct RetrievalPointers {
    std::uint32_t extentCount = 0;
    // Logical cluster of the first extent, counted from the volume's first data cluster.
    std::int64_t firstLogicalCluster = 0;
};

class IVolumeDeviceCalls {
public:
    virtual ~IVolumeDeviceCalls() = default;
    using Handle = int;
    static constexpr Handle kNoHandle = -1;

    // The roots of the logical drives, "C:\" form.
    virtual std::vector<std::string> logicalDriveRoots() = 0;
    virtual DriveType driveType(const std::string& root) = 0;
    // Bytes per sector of the volume of a root, from its free-space data.
    virtual std::optional<std::uint32_t> bytesPerSector(const std::string& root) = 0;
    // Opens "\\.\X:" shared for reading and writing by others; kNoHandle on failure.
    virtual Handle openVolume(char letter, bool writable) = 0;
    virtual void closeVolume(Handle volume) = 0;
    // The length of the volume in bytes.
    virtual std::optional<std::uint64_t> lengthInfo(Handle volume) = 0;
    virtual bool lockVolume(Handle volume) = 0;
    virtual bool dismountVolume(Handle volume) = 0;
    // Whole sectors only: offset and length are multiples of the sector size.
    virtual bool readSectors(Handle volume, std::uint64_t offset, std::uint8_t* out,
                             std::size_t length) = 0;
    virtual bool writeSectors(Handle volume, std::uint64_t offset, const std::uint8_t* data,
                              std::size_t length) = 0;
    // The retrieval pointers of a file by its full host path ("E:\SONG0000.KRV\TAKE0002.KRV");
    // nullopt when the file cannot be opened or the request was not answered.
    virtual std::optional<RetrievalPointers> retrievalPointers(const std::string& path) = 0;
};

// The host's own calls on Windows; null on hosts whose devices are reached as plain files.
IVolumeDeviceCalls* hostVolumeDeviceCalls();

struct DriveEntry {
    char letter = 0;
    std::string root;  // "E:\"
    DriveType type = DriveType::unknown;
};
// The logical drives with their types, in the host's order.
std::vector<DriveEntry> driveList(IVolumeDeviceCalls& calls);

// The drive letter of a raw volume path ("\\.\E:" or "//./e:"), upper-cased; nullopt for any
// other path.
std::optional<char> rawVolumeLetter(std::string_view path);

// The raw volume path of a drive letter, "\\.\X:".
std::string rawVolumeName(char letter);

// A mounted volume read raw for cluster chains, through the volume file "\\.\X:" opened for
// reading and shared: reads of any extent are served from whole sectors, and a file's first
// cluster is its first extent's logical cluster plus 2 (the first data cluster's number).
class CRawVolumeFile final : public IVolumeFile {
public:
    CRawVolumeFile(IVolumeDeviceCalls& calls, char letter);
    ~CRawVolumeFile() override;

    bool open(std::string& reason) override;
    void close() override;
    std::optional<std::uint32_t> bytesPerSector() override;
    std::uint64_t size() override;
    bool readAt(std::uint64_t offset, std::uint8_t* data, std::size_t length) override;
    std::optional<std::uint32_t> firstCluster(std::string_view path) override;

private:
    IVolumeDeviceCalls& calls_;
    char letter_;
    IVolumeDeviceCalls::Handle volume_ = IVolumeDeviceCalls::kNoHandle;
    std::uint32_t sectorBytes_ = 512;
    std::uint64_t size_ = 0;
    std::vector<std::uint8_t> sector_;
};

// A whole volume written directly (the image route on a drive): opened, then locked and
// dismounted before anything is written, so that the host's own file system neither serves
// stale data nor writes its cached copy over ours. Reads and writes of any extent are carried
// out in whole sectors; a partial sector is read, changed and written back.
class CRawVolumeTarget final : public fat::IBlockTarget {
public:
    // Null with a one-line reason when the volume cannot be opened, or, for writing, locked or
    // dismounted (another program has files open on it).
    static std::unique_ptr<CRawVolumeTarget> open(IVolumeDeviceCalls& calls, char letter,
                                                  bool writable, std::string& reason);
    ~CRawVolumeTarget() override;

    bool readAt(std::uint64_t offset, void* out, std::size_t n) override;
    std::uint64_t size() const override { return size_; }
    bool writeAt(std::uint64_t offset, const void* data, std::size_t n) override;
    bool flush() override { return true; }
    bool writable() const override { return writable_; }

private:
    CRawVolumeTarget(IVolumeDeviceCalls& calls, IVolumeDeviceCalls::Handle volume,
                     std::uint32_t sectorBytes, std::uint64_t size, bool writable);
    IVolumeDeviceCalls& calls_;
    IVolumeDeviceCalls::Handle volume_;
    std::uint32_t sectorBytes_;
    std::uint64_t size_;
    bool writable_;
    std::vector<std::uint8_t> sector_;
};

}  // namespace korvo
