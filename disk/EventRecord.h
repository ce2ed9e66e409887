#pragma once
// The 48-byte event record: the same layout in the event list file (big-endian) and in a slot of
// the event table (host order).

#include <cstddef>
#include <cstdint>

namespace korvo {

inline constexpr std::uint16_t kNoSlot = 0xFFFF;

struct EventRecord {
    std::uint32_t start = 0;              //  0: start block on the virtual track
    std::uint32_t end = 0;                //  4: end block, exclusive
    std::uint32_t takeOffset = 0;         //  8: block offset into the take
    std::uint16_t reserved12 = 0;         // 12: 0 for new events
    std::uint16_t lastClusterBlocks = 0;  // 14: (end - start) mod blocks per cluster
    std::uint16_t previous = kNoSlot;     // 16: in-memory link
    std::uint16_t next = kNoSlot;         // 18: in-memory link
    std::uint16_t firstCluster = 0;       // 20: also the take's number; 0 = no audio
    std::uint16_t lastCluster = 0;        // 22
    std::uint16_t clusterCount = 0;       // 24
    std::uint16_t firstClusterAgain = 0;  // 26
    std::uint16_t lastClusterAgain = 0;   // 28
    std::uint16_t reserved30 = 0;         // 30: cleared whenever a record is read
    std::uint8_t virtualTrack = 0;        // 32
    std::uint8_t historyRange = 0;        // 33: 1 for a history range record
    char name[12] = {};                   // 34: "no name-xxxx"
    std::uint16_t group = 0;              // 46: history group number
};
static_assert(sizeof(EventRecord) == 48);
static_assert(offsetof(EventRecord, firstCluster) == 20);
static_assert(offsetof(EventRecord, virtualTrack) == 32);
static_assert(offsetof(EventRecord, name) == 34);
static_assert(offsetof(EventRecord, group) == 46);

inline constexpr std::size_t kEventRecordBytes = 48;

// Big-endian file bytes <-> record.
EventRecord decodeEventRecord(const std::uint8_t* bytes);
void encodeEventRecord(const EventRecord& record, std::uint8_t* bytes);

// Sets name to "no name-xxxx" with the slot number in four upper-case hexadecimal digits.
void setSlotName(EventRecord& record, std::uint16_t slot);

}  // namespace korvo
