#include "disk/EventTable.h"

#include <algorithm>

#include "wavefile/ByteOrder.h"

namespace korvo {

namespace {

constexpr int kSections = 1 + kVirtualTracks;  // history list, then the 64 chains

bool validTrack(int virtualTrack) {
    return virtualTrack >= 0 && virtualTrack < kVirtualTracks;
}
bool validSlot(std::uint16_t slot) {
    return slot < kEventCapacity;
}

}  // namespace

void CEventTable::initialise() {
    capacity_ = kEventCapacity;
    for (std::uint16_t i = 0; i < kEventCapacity; ++i) {
        EventRecord& record = slots_[i];
        record = EventRecord{};
        record.previous = i == 0 ? kNoSlot : static_cast<std::uint16_t>(i - 1);
        record.next = i + 1 == kEventCapacity ? kNoSlot : static_cast<std::uint16_t>(i + 1);
        setSlotName(record, i);
    }
    free_ = {0, static_cast<std::uint16_t>(kEventCapacity - 1), kEventCapacity};
    history_ = {};
    chains_.fill(ListHeader{});
    groupCounter_ = 0;
}

void CEventTable::appendTo(ListHeader& list, std::uint16_t slot) {
    EventRecord& record = slots_[slot];
    record.next = kNoSlot;
    if (list.empty()) {
        record.previous = kNoSlot;
        list = {slot, slot, 1};
        return;
    }
    record.previous = list.tail;
    slots_[list.tail].next = slot;
    list.tail = slot;
    ++list.count;
}

bool CEventTable::read(IDiskStream& stream) {
    initialise();
    for (int section = 0; section < kSections; ++section) {
        std::uint8_t countBytes[2];
        if (!stream.read(countBytes, sizeof countBytes)) {
            initialise();
            return false;
        }
        // A count past the capacity reads only as many records as the table can hold.
        std::uint16_t count = std::min(readBigEndian16(countBytes), capacity_);
        for (std::uint16_t i = 0; i < count; ++i) {
            std::uint8_t bytes[kEventRecordBytes];
            if (!stream.read(bytes, sizeof bytes)) {
                initialise();
                return false;
            }
            EventRecord record = decodeEventRecord(bytes);
            if (record.firstCluster == 0xFFFF || record.lastCluster == 0xFFFF) {
                continue;  // an invalid record is dropped; the rest of the section still loads
            }
            record.reserved30 = 0;
            std::uint16_t slot = takeFreeSlot();
            if (slot == kNoSlot) {
                return false;
            }
            slots_[slot] = record;
            if (section == 0) {
                appendToHistory(slot);
            } else {
                insertByStart(section - 1, slot);
            }
        }
    }
    return stream.good();
}

std::vector<std::uint8_t> CEventTable::serialise() const {
    std::size_t records = history_.count;
    for (const ListHeader& chain : chains_) {
        records += chain.count;
    }
    std::vector<std::uint8_t> bytes;
    bytes.reserve(kSections * 2 + records * kEventRecordBytes);
    auto writeSection = [&](const ListHeader& list) {
        std::size_t countAt = bytes.size();
        bytes.resize(countAt + 2);
        std::uint16_t written = 0;
        std::uint16_t slot = list.empty() ? kNoSlot : list.head;
        // The count is the header's, but never more records than the links really reach.
        while (written < list.count && validSlot(slot)) {
            std::size_t at = bytes.size();
            bytes.resize(at + kEventRecordBytes);
            encodeEventRecord(slots_[slot], bytes.data() + at);
            slot = slots_[slot].next;
            ++written;
        }
        writeBigEndian16(bytes.data() + countAt, written);
    };
    writeSection(history_);
    for (const ListHeader& chain : chains_) {
        writeSection(chain);
    }
    return bytes;
}

std::uint16_t CEventTable::takeFreeSlot() {
    if (free_.empty() || !validSlot(free_.head)) {
        return kNoSlot;
    }
    std::uint16_t slot = free_.head;
    EventRecord& record = slots_[slot];
    std::uint16_t next = record.next;
    --free_.count;
    if (free_.count == 0 || !validSlot(next)) {
        free_ = {};
    } else {
        free_.head = next;
        slots_[next].previous = kNoSlot;
    }
    record.previous = kNoSlot;
    record.next = kNoSlot;
    return slot;
}

void CEventTable::releaseSlot(std::uint16_t slot) {
    if (!validSlot(slot)) {
        return;
    }
    slots_[slot].start = 0;
    appendTo(free_, slot);
}

void CEventTable::appendToHistory(std::uint16_t slot) {
    if (validSlot(slot)) {
        appendTo(history_, slot);
    }
}

void CEventTable::insertByStart(int virtualTrack, std::uint16_t slot) {
    if (!validTrack(virtualTrack) || !validSlot(slot)) {
        return;
    }
    ListHeader& chain = chains_[virtualTrack];
    EventRecord& record = slots_[slot];
    if (chain.empty()) {
        record.previous = kNoSlot;
        record.next = kNoSlot;
        chain = {slot, slot, 1};
        return;
    }
    std::uint16_t before = findAtOrBefore(virtualTrack, record.start);
    if (before == kNoSlot) {
        record.previous = kNoSlot;
        record.next = chain.head;
        slots_[chain.head].previous = slot;
        chain.head = slot;
    } else if (before == chain.tail) {
        record.previous = chain.tail;
        record.next = kNoSlot;
        slots_[chain.tail].next = slot;
        chain.tail = slot;
    } else {
        std::uint16_t after = slots_[before].next;
        record.previous = before;
        record.next = after;
        slots_[before].next = slot;
        slots_[after].previous = slot;
    }
    ++chain.count;
}

std::uint16_t CEventTable::findAtOrBefore(int virtualTrack, std::uint32_t block) const {
    if (!validTrack(virtualTrack)) {
        return kNoSlot;
    }
    const ListHeader& chain = chains_[virtualTrack];
    if (chain.empty()) {
        return kNoSlot;
    }
    const std::uint16_t head = chain.head;
    const std::uint16_t tail = chain.tail;
    if (head == tail || chain.count == 1) {
        return block >= slots_[head].start ? head : kNoSlot;
    }
    const std::uint32_t headStart = slots_[head].start;
    const std::uint32_t tailStart = slots_[tail].start;
    if (block < headStart) {
        return kNoSlot;
    }
    if (block >= tailStart) {
        return tail;
    }
    // Walk from the nearer end; the chain is ordered by start, so one of the steps matches.
    if (block - headStart < tailStart - block) {
        std::uint16_t current = head;
        for (int step = 0; step + 1 < chain.count; ++step) {
            std::uint16_t next = slots_[current].next;
            if (!validSlot(next)) {
                return kNoSlot;
            }
            if (slots_[current].start <= block && block < slots_[next].start) {
                return current;
            }
            current = next;
        }
    } else {
        std::uint16_t current = tail;
        for (int step = 0; step + 1 < chain.count; ++step) {
            std::uint16_t previous = slots_[current].previous;
            if (!validSlot(previous)) {
                return kNoSlot;
            }
            if (slots_[previous].start <= block && block < slots_[current].start) {
                return previous;
            }
            current = previous;
        }
    }
    return kNoSlot;
}

bool CEventTable::unlink(int virtualTrack, std::uint16_t slot) {
    if (!validTrack(virtualTrack) || !validSlot(slot)) {
        return false;
    }
    ListHeader& chain = chains_[virtualTrack];
    if (chain.empty()) {
        return false;
    }
    std::uint16_t current = chain.head;
    for (std::uint16_t step = 0; step < chain.count && validSlot(current); ++step) {
        if (current == slot) {
            EventRecord& record = slots_[slot];
            if (record.previous == kNoSlot) {
                chain.head = record.next;
            } else {
                slots_[record.previous].next = record.next;
            }
            if (record.next == kNoSlot) {
                chain.tail = record.previous;
            } else {
                slots_[record.next].previous = record.previous;
            }
            record.previous = kNoSlot;
            record.next = kNoSlot;
            if (--chain.count == 0) {
                chain = {};
            }
            return true;
        }
        current = slots_[current].next;
    }
    return false;
}

BlockRange CEventTable::trackExtent(int virtualTrack) const {
    if (!validTrack(virtualTrack)) {
        return {};
    }
    const ListHeader& chain = chains_[virtualTrack];
    if (chain.empty()) {
        return {};
    }
    bool any = false;
    BlockRange extent;
    std::uint16_t current = chain.head;
    for (std::uint16_t step = 0; step < chain.count && validSlot(current); ++step) {
        const EventRecord& record = slots_[current];
        if (record.firstCluster != 0) {
            extent.start = any ? std::min(extent.start, record.start) : record.start;
            extent.end = any ? std::max(extent.end, record.end) : record.end;
            any = true;
        }
        current = record.next;
    }
    return any ? extent : BlockRange{};
}

void CEventTable::renumberHistoryGroupsAndIncrement() {
    groupCounter_ = 0;
    if (!history_.empty()) {
        std::uint16_t previousStored = 0xFFFF;
        std::uint16_t current = history_.head;
        for (std::uint16_t step = 0; step < history_.count && validSlot(current); ++step) {
            EventRecord& record = slots_[current];
            if (record.group != previousStored) {
                ++groupCounter_;
            }
            previousStored = record.group;
            record.group = groupCounter_;
            current = record.next;
        }
    }
    ++groupCounter_;
}

bool CEventTable::placeEvent(const EventRecord& event) {
    return placeEvents(std::span<const EventRecord>(&event, 1));
}

bool CEventTable::placeEvents(std::span<const EventRecord> events) {
    if (events.empty()) {
        return false;
    }
    const int virtualTrack = events.front().virtualTrack;
    if (!validTrack(virtualTrack) ||
        std::any_of(events.begin(), events.end(),
                    [&](const EventRecord& event) { return event.virtualTrack != virtualTrack; })) {
        return false;
    }
    ListHeader& chain = chains_[virtualTrack];
    if (!chain.empty()) {
        // The history keeps the range the virtual track covered together with the new events.
        BlockRange extent = trackExtent(virtualTrack);
        for (const EventRecord& event : events) {
            extent.start = std::min(extent.start, event.start);
            extent.end = std::max(extent.end, event.end);
        }
        std::uint16_t range = takeFreeSlot();
        if (range == kNoSlot) {
            return false;
        }
        EventRecord& record = slots_[range];
        record = EventRecord{};
        record.start = extent.start;
        record.end = extent.end;
        record.virtualTrack = static_cast<std::uint8_t>(virtualTrack);
        record.historyRange = 1;
        setSlotName(record, range);
        record.group = groupCounter_;
        appendToHistory(range);
    }

    // The history copies follow one another at the list's tail; the chain events are made from
    // them, so they carry the copies' names and group number.
    std::uint16_t firstCopy = kNoSlot;
    for (const EventRecord& event : events) {
        std::uint16_t copy = takeFreeSlot();
        if (copy == kNoSlot) {
            return false;
        }
        EventRecord& record = slots_[copy];
        record = event;
        setSlotName(record, copy);
        record.historyRange = 0;
        record.group = groupCounter_;
        appendToHistory(copy);
        firstCopy = firstCopy == kNoSlot ? copy : firstCopy;
    }

    // The virtual track loses all its previous events.
    while (!chain.empty()) {
        std::uint16_t head = chain.head;
        if (!unlink(virtualTrack, head)) {
            chain = {};
            break;
        }
        releaseSlot(head);
    }

    std::uint16_t copy = firstCopy;
    for (std::size_t i = 0; i < events.size() && validSlot(copy); ++i) {
        std::uint16_t slot = takeFreeSlot();
        if (slot == kNoSlot) {
            return false;
        }
        slots_[slot] = slots_[copy];
        insertByStart(virtualTrack, slot);
        copy = slots_[copy].next;
    }
    return true;
}

}  // namespace korvo
