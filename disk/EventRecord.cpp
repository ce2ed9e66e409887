#include "disk/EventRecord.h"

#include <cstring>

#include "wavefile/ByteOrder.h"

namespace korvo {

namespace {

// The file layout is the record's own layout, field for field; only the byte order differs.
constexpr std::size_t kStart = offsetof(EventRecord, start);
constexpr std::size_t kEnd = offsetof(EventRecord, end);
constexpr std::size_t kTakeOffset = offsetof(EventRecord, takeOffset);
constexpr std::size_t kReserved12 = offsetof(EventRecord, reserved12);
constexpr std::size_t kLastClusterBlocks = offsetof(EventRecord, lastClusterBlocks);
constexpr std::size_t kPrevious = offsetof(EventRecord, previous);
constexpr std::size_t kNext = offsetof(EventRecord, next);
constexpr std::size_t kFirstCluster = offsetof(EventRecord, firstCluster);
constexpr std::size_t kLastCluster = offsetof(EventRecord, lastCluster);
constexpr std::size_t kClusterCount = offsetof(EventRecord, clusterCount);
constexpr std::size_t kFirstClusterAgain = offsetof(EventRecord, firstClusterAgain);
constexpr std::size_t kLastClusterAgain = offsetof(EventRecord, lastClusterAgain);
constexpr std::size_t kReserved30 = offsetof(EventRecord, reserved30);
constexpr std::size_t kVirtualTrack = offsetof(EventRecord, virtualTrack);
constexpr std::size_t kHistoryRange = offsetof(EventRecord, historyRange);
constexpr std::size_t kName = offsetof(EventRecord, name);
constexpr std::size_t kGroup = offsetof(EventRecord, group);
static_assert(kStart == 0 && kEnd == 4 && kTakeOffset == 8 && kReserved12 == 12);
static_assert(kLastClusterBlocks == 14 && kPrevious == 16 && kNext == 18);
static_assert(kLastCluster == 22 && kClusterCount == 24 && kFirstClusterAgain == 26);
static_assert(kLastClusterAgain == 28 && kReserved30 == 30 && kHistoryRange == 33);
static_assert(kGroup + 2 == kEventRecordBytes);

}  // namespace

EventRecord decodeEventRecord(const std::uint8_t* bytes) {
    EventRecord record;
    record.start = readBigEndian32(bytes + kStart);
    record.end = readBigEndian32(bytes + kEnd);
    record.takeOffset = readBigEndian32(bytes + kTakeOffset);
    record.reserved12 = readBigEndian16(bytes + kReserved12);
    record.lastClusterBlocks = readBigEndian16(bytes + kLastClusterBlocks);
    record.previous = readBigEndian16(bytes + kPrevious);
    record.next = readBigEndian16(bytes + kNext);
    record.firstCluster = readBigEndian16(bytes + kFirstCluster);
    record.lastCluster = readBigEndian16(bytes + kLastCluster);
    record.clusterCount = readBigEndian16(bytes + kClusterCount);
    record.firstClusterAgain = readBigEndian16(bytes + kFirstClusterAgain);
    record.lastClusterAgain = readBigEndian16(bytes + kLastClusterAgain);
    record.reserved30 = readBigEndian16(bytes + kReserved30);
    record.virtualTrack = bytes[kVirtualTrack];
    record.historyRange = bytes[kHistoryRange];
    std::memcpy(record.name, bytes + kName, sizeof record.name);
    record.group = readBigEndian16(bytes + kGroup);
    return record;
}

void encodeEventRecord(const EventRecord& record, std::uint8_t* bytes) {
    writeBigEndian32(bytes + kStart, record.start);
    writeBigEndian32(bytes + kEnd, record.end);
    writeBigEndian32(bytes + kTakeOffset, record.takeOffset);
    writeBigEndian16(bytes + kReserved12, record.reserved12);
    writeBigEndian16(bytes + kLastClusterBlocks, record.lastClusterBlocks);
    writeBigEndian16(bytes + kPrevious, record.previous);
    writeBigEndian16(bytes + kNext, record.next);
    writeBigEndian16(bytes + kFirstCluster, record.firstCluster);
    writeBigEndian16(bytes + kLastCluster, record.lastCluster);
    writeBigEndian16(bytes + kClusterCount, record.clusterCount);
    writeBigEndian16(bytes + kFirstClusterAgain, record.firstClusterAgain);
    writeBigEndian16(bytes + kLastClusterAgain, record.lastClusterAgain);
    writeBigEndian16(bytes + kReserved30, record.reserved30);
    bytes[kVirtualTrack] = record.virtualTrack;
    bytes[kHistoryRange] = record.historyRange;
    std::memcpy(bytes + kName, record.name, sizeof record.name);
    writeBigEndian16(bytes + kGroup, record.group);
}

void setSlotName(EventRecord& record, std::uint16_t slot) {
    static constexpr char kPrefix[] = "no name-";
    static constexpr char kHex[] = "0123456789ABCDEF";
    static_assert(sizeof kPrefix - 1 + 4 == sizeof record.name);
    std::memcpy(record.name, kPrefix, sizeof kPrefix - 1);
    record.name[8] = kHex[(slot >> 12) & 0xF];
    record.name[9] = kHex[(slot >> 8) & 0xF];
    record.name[10] = kHex[(slot >> 4) & 0xF];
    record.name[11] = kHex[slot & 0xF];
}

}  // namespace korvo
