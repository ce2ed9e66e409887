#pragma once
// Byte layouts of the block-device calls of the classic access paths: the register block every
// call carries, the control codes and function numbers, the sector request packet, the media ID
// record and the device parameter block. Calls address memory by 32-bit offsets into the
// volume's request memory (see RequestMemory), never by host pointers, so the same requests can
// be checked and answered by any transport.

#include <cstddef>
#include <cstdint>

namespace korvo {

// One call's registers, in the order the device expects them.
struct RegisterBlock {
    std::uint32_t ebx = 0;
    std::uint32_t edx = 0;
    std::uint32_t ecx = 0;
    std::uint32_t eax = 0;
    std::uint32_t edi = 0;
    std::uint32_t esi = 0;
    std::uint32_t flags = 0;
};
static_assert(sizeof(RegisterBlock) == 28);

inline constexpr std::uint32_t kCarryFlag = 0x0001;  // set on return: the call failed

// Control codes of the device.
inline constexpr std::uint32_t kControlDosIoctl = 1;
inline constexpr std::uint32_t kControlAbsoluteRead = 2;
inline constexpr std::uint32_t kControlDriveServices = 6;

// The generic block-device request in EAX, and the minor codes in CL; CH holds the category.
inline constexpr std::uint32_t kBlockDeviceRequest = 0x440D;
inline constexpr std::uint8_t kMinorLock = 0x4A;
inline constexpr std::uint8_t kMinorUnlock = 0x6A;
inline constexpr std::uint8_t kMinorLockState = 0x70;
inline constexpr std::uint8_t kMinorMediaId = 0x66;
inline constexpr std::uint8_t kMinorDeviceParameters = 0x60;
inline constexpr std::uint8_t kMinorFirstCluster = 0x71;
inline constexpr std::uint8_t kCategoryClassic = 0x08;
inline constexpr std::uint8_t kCategoryLarge = 0x48;  // volumes with 32-bit FAT entries

constexpr std::uint32_t blockDeviceFunction(std::uint8_t category, std::uint8_t minor) {
    return std::uint32_t{category} * 256 + minor;
}

// Sector read through the drive services: function in EAX, "read" in ESI.
inline constexpr std::uint32_t kDriveServicesReadWrite = 0x7305;
inline constexpr std::uint32_t kDriveServicesRead = 0;
// ECX of a packet read: the request is described by the packet in EBX.
inline constexpr std::uint32_t kAbsoluteReadPacket = 0xFFFF;
inline constexpr std::uint32_t kDriveServicesPacket = 0xFFFFFFFF;
// EAX of a device-parameters call that answered "not supported".
inline constexpr std::uint32_t kAnswerInvalidFunction = 1;

// Sector request packet (10 bytes, packed).
namespace packet {
inline constexpr std::size_t kStartSector = 0;  // 32-bit
inline constexpr std::size_t kSectorCount = 4;  // 16-bit, always 1
inline constexpr std::size_t kBuffer = 6;       // 32-bit address
inline constexpr std::size_t kSize = 10;
}  // namespace packet

// Media ID record.
namespace media_id {
inline constexpr std::size_t kInfoLevel = 0;     // 16-bit, 0
inline constexpr std::size_t kSerialNumber = 2;  // 32-bit
inline constexpr std::size_t kVolumeLabel = 6;   // 11 bytes
inline constexpr std::size_t kFileSystem = 17;   // 8 bytes, "FAT12   ", "FAT16   ", "FAT32   "
inline constexpr std::size_t kSize = 25;
}  // namespace media_id

// Device parameter block: a short header followed by the volume's parameter block in the layout
// of the boot sector from its byte 11 on. The large-volume call (category 48h) answers with the
// extended parameter block, which also carries the 32-bit sectors per FAT.
namespace device_parameters {
inline constexpr std::size_t kSpecialFunctions = 0;
inline constexpr std::size_t kDeviceType = 1;
inline constexpr std::size_t kDeviceAttributes = 2;  // 16-bit
inline constexpr std::size_t kCylinders = 4;         // 16-bit
inline constexpr std::size_t kMediaType = 6;
inline constexpr std::size_t kParameterBlock = 7;
// The parameter block holds boot-sector bytes 11 .. 11 + size - 1.
inline constexpr std::size_t kBootSectorOffset = 11;
inline constexpr std::size_t kClassicBlockSize = 25;   // up to the 32-bit total sectors
inline constexpr std::size_t kExtendedBlockSize = 53;  // up to the FAT32 reserved words
inline constexpr std::size_t kSize = kParameterBlock + kExtendedBlockSize;
// Special-function byte of a request: 0 asks for the default parameters of the drive.
inline constexpr std::uint8_t kDefaultParameters = 0;
}  // namespace device_parameters

// How the volume's request memory is laid out: a record area for the packet, the media ID record,
// the parameter block or a path, followed by one sector's buffer.
namespace request_memory {
inline constexpr std::uint32_t kRecord = 0;
inline constexpr std::uint32_t kRecordSize = 512;  // a path of up to 511 bytes and its zero
inline constexpr std::uint32_t kSector = kRecord + kRecordSize;
inline constexpr std::uint32_t kSectorSize = 4096;  // the largest sector of a FAT volume
inline constexpr std::uint32_t kSize = kSector + kSectorSize;
}  // namespace request_memory

}  // namespace korvo
