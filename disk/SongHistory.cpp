#include "disk/SongHistory.h"

#include <algorithm>
#include <cctype>
#include <set>
#include <utility>

#include "disk/DiskLayout.h"
#include "disk/Song.h"
#include "disk/TakeFile.h"

namespace korvo {

namespace {

bool samePlayback(const EventRecord& a, const EventRecord& b) {
    return a.start == b.start && a.end == b.end && a.takeOffset == b.takeOffset &&
           a.firstCluster == b.firstCluster;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
}

bool equalIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::toupper(static_cast<unsigned char>(x)) ==
                      std::toupper(static_cast<unsigned char>(y));
           });
}

}  // namespace

std::vector<EventRecord> HistoryGroup::takeEvents(int virtualTrack) const {
    std::vector<EventRecord> events;
    for (const HistoryEntry& entry : entries) {
        if (!entry.isRange() && entry.record.virtualTrack == virtualTrack) {
            events.push_back(entry.record);
        }
    }
    // Stable: equal starts keep list order, as inserting them one by one into a chain would.
    std::stable_sort(events.begin(), events.end(),
                     [](const EventRecord& a, const EventRecord& b) { return a.start < b.start; });
    return events;
}

bool HistoryGroup::touches(int virtualTrack) const {
    return std::any_of(entries.begin(), entries.end(), [&](const HistoryEntry& entry) {
        return entry.record.virtualTrack == virtualTrack;
    });
}

bool HistoryGroup::isCurrent(const CEventTable& events, int virtualTrack) const {
    const std::vector<EventRecord> mine = takeEvents(virtualTrack);
    const ListHeader& chain = events.chain(virtualTrack);
    if (mine.empty() || chain.empty() || chain.count != mine.size()) {
        return false;
    }
    std::uint16_t slot = chain.head;
    for (const EventRecord& event : mine) {
        if (slot >= kEventCapacity || !samePlayback(events.slot(slot), event)) {
            return false;
        }
        slot = events.slot(slot).next;
    }
    return true;
}

std::vector<const HistoryEntry*> HistoryGroup::unplayable(int virtualTrack) const {
    std::vector<const HistoryEntry*> found;
    for (const HistoryEntry& entry : entries) {
        if (entry.record.virtualTrack == virtualTrack && !entry.playable()) {
            found.push_back(&entry);
        }
    }
    return found;
}

CSongHistory::CSongHistory(const CEventTable& events) {
    const ListHeader& history = events.history();
    if (history.empty()) {
        return;
    }
    std::uint16_t slot = history.head;
    std::uint16_t previousStored = 0;
    for (std::uint16_t step = 0; step < history.count && slot < kEventCapacity; ++step) {
        const EventRecord& record = events.slot(slot);
        if (groups_.empty() || record.group != previousStored) {
            HistoryGroup group;
            group.number = static_cast<std::uint16_t>(groups_.size() + 1);
            groups_.push_back(std::move(group));
        }
        previousStored = record.group;
        HistoryEntry entry{slot, record, TakeState::noAudio};
        if (entry.hasTake()) {
            entry.take = TakeState::unchecked;
        }
        groups_.back().entries.push_back(entry);
        slot = record.next;
    }
}

const HistoryGroup* CSongHistory::group(std::uint16_t number) const {
    if (number == 0 || number > groups_.size()) {
        return nullptr;
    }
    return &groups_[number - 1];
}

void CSongHistory::checkTakes(IDiskFiles& disk, const CSong& song) {
    std::string reason;
    const bool readChain = disk.checkVolume(reason);
    for (HistoryGroup& group : groups_) {
        for (HistoryEntry& entry : group.entries) {
            if (entry.hasTake()) {
                const EventRecord& event = entry.record;
                const std::uint32_t blocks = event.end > event.start ? event.end - event.start : 0;
                entry.take =
                    takeState(disk, song, event.firstCluster, event.takeOffset, blocks, readChain);
            }
        }
    }
}

std::uint32_t takeBlocks(std::uint64_t fileBytes, std::uint32_t clusterBytes,
                         std::uint32_t blockBytes, std::uint32_t blocksPerCluster) {
    if (clusterBytes == 0 || blockBytes == 0) {
        return 0;
    }
    const std::uint64_t clusters = fileBytes / clusterBytes;
    const std::uint64_t inLast =
        std::min<std::uint64_t>((fileBytes % clusterBytes) / blockBytes, blocksPerCluster);
    return static_cast<std::uint32_t>(
        std::min<std::uint64_t>(clusters * blocksPerCluster + inLast, 0xFFFFFFFFu));
}

TakeState takeState(IDiskFiles& disk, const CSong& song, std::uint16_t take, std::uint32_t offset,
                    std::uint32_t blocks, bool readChain) {
    const auto geometry = TakeGeometry::of(song.family(), song.blockWidth());
    const std::string path = song.path(takeFileName(take));
    auto stream = disk.open(path, OpenMode::read);
    if (!stream) {
        return TakeState::missing;
    }
    const auto size = stream->size();
    stream.reset();
    if (!geometry || !size) {
        return TakeState::tooShort;
    }
    const std::uint64_t needed = std::uint64_t{offset} + blocks;
    if (needed > takeBlocks(*size, geometry->clusterBytes, geometry->blockBytes,
                            geometry->blocksPerCluster)) {
        return TakeState::tooShort;
    }
    std::vector<std::uint16_t> chain;
    if (readChain && needed > 0 && disk.clusterChain(path, chain)) {
        // A damaged FAT can end the file's chain before the size its entry states.
        const std::uint64_t lastCluster = (needed - 1) / geometry->blocksPerCluster;
        if (chain.size() <= lastCluster) {
            return TakeState::tooShort;
        }
    }
    return TakeState::present;
}

std::optional<std::uint16_t> parseTakeName(std::string_view text) {
    if (text.size() == 12) {
        if (!equalIgnoringCase(text.substr(0, 4), "TAKE") ||
            !equalIgnoringCase(text.substr(8), ".KRV")) {
            return std::nullopt;
        }
        text = text.substr(4, 4);
    }
    if (text.size() != 4) {
        return std::nullopt;
    }
    unsigned value = 0;
    for (const char c : text) {
        const int digit = hexDigit(c);
        if (digit < 0) {
            return std::nullopt;
        }
        value = value * 16 + static_cast<unsigned>(digit);
    }
    return static_cast<std::uint16_t>(value);
}

std::string takeNumberText(std::uint16_t take) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text(4, '0');
    for (int i = 3; i >= 0; --i) {
        text[static_cast<std::size_t>(i)] = digits[take & 0xF];
        take = static_cast<std::uint16_t>(take >> 4);
    }
    return text;
}

std::optional<std::vector<OrphanTake>> orphanTakes(IDiskFiles& disk, const CSong& song) {
    const std::string folder = songFolderName(song.family(), song.number());
    const auto names = disk.listFiles(folder);
    if (!names) {
        return std::nullopt;
    }
    std::set<std::uint16_t> referred;
    const CEventTable& events = song.events();
    auto collect = [&](const ListHeader& list) {
        std::uint16_t slot = list.empty() ? kNoSlot : list.head;
        for (std::uint16_t step = 0; step < list.count && slot < kEventCapacity; ++step) {
            referred.insert(events.slot(slot).firstCluster);
            slot = events.slot(slot).next;
        }
    };
    collect(events.history());
    for (int v = 0; v < kVirtualTracks; ++v) {
        collect(events.chain(v));
    }
    std::vector<OrphanTake> orphans;
    for (const std::string& name : *names) {
        const auto take = name.size() == 12 ? parseTakeName(name) : std::nullopt;
        if (!take || referred.count(*take) != 0) {
            continue;
        }
        OrphanTake orphan{*take, name, 0};
        if (auto stream = disk.open(song.path(name), OpenMode::read)) {
            orphan.bytes = stream->size().value_or(0);
        }
        orphans.push_back(orphan);
    }
    std::sort(orphans.begin(), orphans.end(),
              [](const OrphanTake& a, const OrphanTake& b) { return a.take < b.take; });
    return orphans;
}

}  // namespace korvo
