#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "disk/EventTable.h"
#include "tests/support/DiskFixture.h"

namespace korvo {
namespace {

std::unique_ptr<CEventTable> freshTable() {
    return std::make_unique<CEventTable>();
}

std::string nameOf(const EventRecord& record) {
    return std::string(record.name, 12);
}

// The chain of a virtual track as (start, slot) pairs, following the next links, and checked
// against the previous links and the header on the way.
std::vector<std::uint16_t> chainSlots(const CEventTable& table, int v) {
    std::vector<std::uint16_t> slots;
    const ListHeader& chain = table.chain(v);
    std::uint16_t previous = kNoSlot;
    for (std::uint16_t s = chain.head; s != kNoSlot; s = table.slot(s).next) {
        EXPECT_EQ(table.slot(s).previous, previous);
        previous = s;
        slots.push_back(s);
        if (slots.size() > kEventCapacity) {
            ADD_FAILURE() << "chain does not end";
            break;
        }
    }
    EXPECT_EQ(chain.tail, previous);
    EXPECT_EQ(chain.count, slots.size());
    return slots;
}

std::uint16_t addToChain(CEventTable& table, int v, std::uint32_t start, std::uint32_t end,
                         std::uint16_t take = 2) {
    std::uint16_t s = table.takeFreeSlot();
    EventRecord& record = table.slot(s);
    record.start = start;
    record.end = end;
    record.firstCluster = take;
    record.virtualTrack = static_cast<std::uint8_t>(v);
    table.insertByStart(v, s);
    return s;
}

TEST(EventTable, FreshTableHandsOutSlotsInOrderWithTheirNames) {
    auto table = freshTable();
    EXPECT_EQ(table->capacity(), 10000);
    EXPECT_EQ(table->freeList().count, 10000);
    EXPECT_EQ(nameOf(table->slot(26)), "no name-001A");
    EXPECT_EQ(nameOf(table->slot(9999)), "no name-270F");
    EXPECT_EQ(table->takeFreeSlot(), 0);
    EXPECT_EQ(table->takeFreeSlot(), 1);
    EXPECT_EQ(table->takeFreeSlot(), 2);
    EXPECT_EQ(table->slot(1).previous, kNoSlot);
    EXPECT_EQ(table->slot(1).next, kNoSlot);
}

TEST(EventTable, ReleasedSlotIsHandedOutOnlyAfterAllOthers) {
    auto table = freshTable();
    std::uint16_t first = table->takeFreeSlot();
    table->slot(first).start = 1234;
    table->releaseSlot(first);
    EXPECT_EQ(table->slot(first).start, 0u);
    for (int i = 1; i < kEventCapacity; ++i) {
        ASSERT_EQ(table->takeFreeSlot(), i);
    }
    EXPECT_EQ(table->takeFreeSlot(), first);
    EXPECT_EQ(table->takeFreeSlot(), kNoSlot);
}

TEST(EventTable, EqualStartsKeepInsertionOrder) {
    auto table = freshTable();
    std::uint16_t early = addToChain(*table, 3, 10, 20);
    std::uint16_t a = addToChain(*table, 3, 100, 200);
    std::uint16_t late = addToChain(*table, 3, 900, 950);
    std::uint16_t b = addToChain(*table, 3, 100, 300);
    std::uint16_t c = addToChain(*table, 3, 100, 400);
    std::uint16_t head = addToChain(*table, 3, 5, 6);
    EXPECT_EQ(chainSlots(*table, 3), (std::vector<std::uint16_t>{head, early, a, b, c, late}));
}

TEST(EventTable, FindAtOrBeforeAgreesWithALinearSearchFromEitherEnd) {
    auto table = freshTable();
    std::mt19937 random(7);
    std::vector<std::uint32_t> starts;
    for (int i = 0; i < 200; ++i) {
        std::uint32_t start = random() % 5000;
        starts.push_back(start);
        addToChain(*table, 12, start, start + 10);
    }
    std::vector<std::uint16_t> order = chainSlots(*table, 12);
    for (std::size_t i = 1; i < order.size(); ++i) {
        ASSERT_LE(table->slot(order[i - 1]).start, table->slot(order[i]).start);
    }
    for (std::uint32_t b = 0; b < 5100; b += 3) {
        std::uint16_t expected = kNoSlot;
        for (std::uint16_t s : order) {
            if (table->slot(s).start <= b) {
                expected = s;
            }
        }
        ASSERT_EQ(table->findAtOrBefore(12, b), expected) << "block " << b;
    }
    EXPECT_EQ(table->findAtOrBefore(13, 100), kNoSlot);
    EXPECT_EQ(table->findAtOrBefore(64, 100), kNoSlot);
}

TEST(EventTable, UnlinkKeepsTheChainConsistent) {
    auto table = freshTable();
    std::uint16_t a = addToChain(*table, 0, 0, 10);
    std::uint16_t b = addToChain(*table, 0, 10, 20);
    std::uint16_t c = addToChain(*table, 0, 20, 30);
    EXPECT_FALSE(table->unlink(1, b));
    EXPECT_TRUE(table->unlink(0, b));
    EXPECT_FALSE(table->unlink(0, b));
    EXPECT_EQ(chainSlots(*table, 0), (std::vector<std::uint16_t>{a, c}));
    EXPECT_TRUE(table->unlink(0, c));
    EXPECT_TRUE(table->unlink(0, a));
    EXPECT_TRUE(table->chain(0).empty());
    EXPECT_EQ(table->findAtOrBefore(0, 25), kNoSlot);
}

TEST(EventTable, TrackExtentCoversOnlyEventsWithAudio) {
    auto table = freshTable();
    EXPECT_EQ(table->trackExtent(5).end, 0u);
    addToChain(*table, 5, 0, 9000, 0);  // no audio
    EXPECT_EQ(table->trackExtent(5).start, 0u);
    EXPECT_EQ(table->trackExtent(5).end, 0u);
    addToChain(*table, 5, 300, 700);
    addToChain(*table, 5, 100, 400);
    BlockRange extent = table->trackExtent(5);
    EXPECT_EQ(extent.start, 100u);
    EXPECT_EQ(extent.end, 700u);
}

TEST(EventTable, HistoryGroupsAreRenumberedInListOrder) {
    auto table = freshTable();
    for (std::uint16_t stored : {7, 7, 3, 3, 3, 9, 7}) {
        std::uint16_t s = table->takeFreeSlot();
        table->slot(s).group = stored;
        table->appendToHistory(s);
    }
    table->renumberHistoryGroupsAndIncrement();
    std::vector<std::uint16_t> groups;
    for (std::uint16_t s = table->history().head; s != kNoSlot; s = table->slot(s).next) {
        groups.push_back(table->slot(s).group);
    }
    EXPECT_EQ(groups, (std::vector<std::uint16_t>{1, 1, 2, 2, 2, 3, 4}));
    EXPECT_EQ(table->groupCounter(), 5);

    auto empty = freshTable();
    empty->renumberHistoryGroupsAndIncrement();
    EXPECT_EQ(empty->groupCounter(), 1);
}

TEST(EventTable, PlacingOnAnEmptyVirtualTrackAddsTheEventAndItsHistoryCopy) {
    auto table = freshTable();
    table->renumberHistoryGroupsAndIncrement();
    EventRecord event = test::takeEvent(9, 50, 150, 0x0002);
    ASSERT_TRUE(table->placeEvent(event));
    ASSERT_EQ(table->history().count, 1);
    const EventRecord& copy = table->slot(table->history().head);
    EXPECT_EQ(nameOf(copy), "no name-0000");
    EXPECT_EQ(copy.group, 1);
    EXPECT_EQ(copy.historyRange, 0);
    std::vector<std::uint16_t> chain = chainSlots(*table, 9);
    ASSERT_EQ(chain.size(), 1u);
    const EventRecord& placed = table->slot(chain[0]);
    EXPECT_EQ(placed.start, 50u);
    EXPECT_EQ(placed.end, 150u);
    EXPECT_EQ(placed.firstCluster, 2);
    EXPECT_EQ(nameOf(placed), "no name-0000");  // the name given to the history copy
    EXPECT_EQ(table->freeList().count, kEventCapacity - 2);
}

TEST(EventTable, PlacingOnAUsedVirtualTrackReplacesItsEventsAndRecordsTheRange) {
    auto table = freshTable();
    std::uint16_t old1 = addToChain(*table, 4, 100, 300);
    std::uint16_t old2 = addToChain(*table, 4, 400, 900);
    ASSERT_TRUE(table->placeEvent(test::takeEvent(4, 0, 200, 0x0030)));

    std::vector<std::uint16_t> history;
    for (std::uint16_t s = table->history().head; s != kNoSlot; s = table->slot(s).next) {
        history.push_back(s);
    }
    ASSERT_EQ(history.size(), 2u);
    const EventRecord& range = table->slot(history[0]);
    EXPECT_EQ(range.historyRange, 1);
    EXPECT_EQ(range.start, 0u);
    EXPECT_EQ(range.end, 900u);
    EXPECT_EQ(range.virtualTrack, 4);
    EXPECT_EQ(range.firstCluster, 0);
    EXPECT_EQ(nameOf(range), "no name-0002");
    EXPECT_EQ(table->slot(history[1]).firstCluster, 0x30);

    std::vector<std::uint16_t> chain = chainSlots(*table, 4);
    ASSERT_EQ(chain.size(), 1u);
    EXPECT_EQ(table->slot(chain[0]).firstCluster, 0x30);
    // The old events went back to the end of the free list, in chain order.
    EXPECT_EQ(table->freeList().tail, old2);
    EXPECT_EQ(table->slot(old2).previous, old1);
    EXPECT_EQ(table->freeList().count + table->history().count + 1, kEventCapacity);
}

TEST(EventTable, PlacingNeedsOnlyAsManyFreeSlotsAsRemainAfterReleasingTheOldEvents) {
    auto nearlyFull = freshTable();
    addToChain(*nearlyFull, 0, 0, 10);
    while (nearlyFull->freeList().count > 2) {
        nearlyFull->appendToHistory(nearlyFull->takeFreeSlot());
    }
    ASSERT_TRUE(nearlyFull->placeEvent(test::takeEvent(0, 0, 20, 5)));
    EXPECT_EQ(nearlyFull->chain(0).count, 1);

    auto full = freshTable();
    addToChain(*full, 0, 0, 10);
    while (full->freeList().count > 1) {
        full->appendToHistory(full->takeFreeSlot());
    }
    EXPECT_FALSE(full->placeEvent(test::takeEvent(0, 0, 20, 5)));
    EXPECT_FALSE(freshTable()->placeEvent(test::takeEvent(64, 0, 20, 5)));
}

TEST(EventTable, PlacingSeveralEventsKeepsOneRangeAndACopyOfEachAndChainsThemByStart) {
    auto table = freshTable();
    addToChain(*table, 4, 50, 300);
    const std::vector<EventRecord> events = {test::takeEvent(4, 500, 1000, 0x30, 20),
                                             test::takeEvent(4, 10, 200, 0x31, 7)};
    ASSERT_TRUE(table->placeEvents(events));

    std::vector<std::uint16_t> history;
    for (std::uint16_t s = table->history().head; s != kNoSlot; s = table->slot(s).next) {
        history.push_back(s);
    }
    ASSERT_EQ(history.size(), 3u);
    EXPECT_EQ(table->slot(history[0]).historyRange, 1);
    EXPECT_EQ(table->slot(history[0]).start, 10u);
    EXPECT_EQ(table->slot(history[0]).end, 1000u);
    EXPECT_EQ(table->slot(history[1]).firstCluster, 0x30);  // copies in the order given
    EXPECT_EQ(table->slot(history[2]).firstCluster, 0x31);

    std::vector<std::uint16_t> chain = chainSlots(*table, 4);
    ASSERT_EQ(chain.size(), 2u);
    EXPECT_EQ(table->slot(chain[0]).takeOffset, 7u);
    EXPECT_EQ(table->slot(chain[1]).takeOffset, 20u);
    EXPECT_EQ(nameOf(table->slot(chain[0])), nameOf(table->slot(history[2])));
    EXPECT_EQ(table->freeList().count + table->history().count + 2, kEventCapacity);

    // Events of two virtual tracks are not one placement.
    EXPECT_FALSE(table->placeEvents(
        std::vector<EventRecord>{test::takeEvent(1, 0, 10, 2), test::takeEvent(2, 0, 10, 3)}));
}

}  // namespace
}  // namespace korvo
