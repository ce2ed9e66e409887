// The import run: a wave file into new takes on the recorder disk, one new event per selected
// virtual track, the virtual tracks named after the file, the song written back.

#include <algorithm>
#include <array>
#include <memory>
#include <vector>

#include "convert/RunWorkers.h"
#include "convert/TrackConverter.h"
#include "convert/TrackNames.h"
#include "convert/TrackReader.h"
#include "disk/DiskLayout.h"
#include "disk/Status.h"
#include "disk/TakeFile.h"

namespace korvo {

namespace {

using KorvoLib::Korvo::IWaveFile;

// Reads the wave a run of blocks at a time into the channels' sample arrays.
class CWaveReader {
public:
    CWaveReader(std::unique_ptr<IWaveFile> file, const WaveDescription& wave, BlockRange requested)
        : wave_(wave),
          waveBlocks_{0, wave.frames == 0 ? 0 : ((wave.frames - 1) >> 4) + 1},
          requested_(requested),
          block_(requested.start) {
        file_ = std::move(file);
        const std::uint64_t offset =
            static_cast<std::uint64_t>(requested.start) * wave.channels * 32;
        if (!file_ || !file_->open(wave.path, IWaveFile::kRead) ||
            !file_->setDataPosition(offset)) {
            file_.reset();
        }
    }
    ~CWaveReader() {
        if (file_) {
            file_->close();
        }
    }
    CWaveReader(const CWaveReader&) = delete;
    CWaveReader& operator=(const CWaveReader&) = delete;

    // The next `blocks` blocks of every wave channel into channels[c] (null: skipped), 16
    // samples a block; the frames past the end of the wave are silence. `waveBlocks` tells how
    // many of the run's blocks hold frames of the wave (the rest are silence throughout).
    bool readRun(std::int16_t* const* channels, std::uint32_t blocks, std::uint32_t& waveBlocks) {
        const std::uint32_t first = block_;
        if (first < requested_.start || blocks > requested_.end - first) {
            return false;
        }
        std::size_t frames = 0;
        if (first < waveBlocks_.end) {
            frames = std::min<std::size_t>(std::size_t{blocks} * kFramesPerBlock,
                                           wave_.frames - std::size_t{first} * kFramesPerBlock);
            if (!file_ || !file_->readRun(channels, wave_.channels, frames)) {
                return false;
            }
        }
        for (int c = 0; c < wave_.channels; ++c) {
            if (channels[c]) {
                std::fill(channels[c] + frames, channels[c] + std::size_t{blocks} * kFramesPerBlock,
                          std::int16_t{0});
            }
        }
        waveBlocks = static_cast<std::uint32_t>((frames + kFramesPerBlock - 1) / kFramesPerBlock);
        block_ += blocks;
        return true;
    }

private:
    const WaveDescription& wave_;
    BlockRange waveBlocks_;
    BlockRange requested_;
    std::uint32_t block_;
    std::unique_ptr<IWaveFile> file_;
};

}  // namespace

std::uint32_t CTrackConverter::importRate() const {
    return song_ ? song_->sampleRate() : source_.sampleRate;
}

bool CTrackConverter::sourceNeedsConversion() const {
    return source_.channels != 0 && (!source_.linear16 || source_.sampleRate != importRate());
}

std::unique_ptr<IWaveFile> CTrackConverter::makeInputFile() const {
    if (wave_.throughFactory) {
        return factory_ ? factory_->makeReader(importRate(), choice_.channels) : nullptr;
    }
    return KorvoLib::Korvo::makeWaveFile(wave_.fileType);
}

bool CTrackConverter::openInputWave(const std::string& path) {
    wave_ = WaveDescription{};
    wave_.path = path;
    source_ = SourceFormat{};
    if (factory_ && !factory_->inspect(path, source_)) {
        source_ = SourceFormat{};
    }
    const int type = KorvoLib::Korvo::recognizeWaveFileType(path);
    auto file = KorvoLib::Korvo::makeWaveFile(type);
    KorvoLib::Korvo::WaveFormat format;
    const bool read = file && file->open(path, IWaveFile::kRead) && file->readHeader(format);
    if (file) {
        file->close();
    }
    // The engine's own readers, bit-exact and with the import's own checks, whenever nothing
    // asks for more than they give.
    const bool resample = choice_.convert && format.sampleRate != importRate();
    if (read && (!factory_ || source_.channels == 0 || (choice_.channels.empty() && !resample))) {
        wave_.fileType = type;
        wave_.channels = format.channels;
        wave_.sampleRate = format.sampleRate;
        wave_.frames = format.frames;
        status_ = kStatusOk;
        return true;
    }
    if (!factory_ || source_.channels == 0) {
        status_ = kStatusFailedReadWave;
        return false;
    }
    if (sourceNeedsConversion() && !choice_.convert) {
        status_ = source_.linear16 ? kStatusWrongSampleRate : kStatusFailedReadWave;
        return false;
    }
    for (const auto channel : choice_.channels) {
        if (channel >= source_.channels) {
            status_ = kStatusFailedReadWave;
            return false;
        }
    }
    wave_.throughFactory = true;
    auto reader = makeInputFile();
    const bool opened =
        reader && reader->open(path, IWaveFile::kRead) && reader->readHeader(format);
    if (reader) {
        reader->close();
    }
    if (!opened) {
        wave_.throughFactory = false;
        status_ = kStatusFailedReadWave;
        return false;
    }
    wave_.channels = format.channels;
    wave_.sampleRate = format.sampleRate;
    wave_.frames = format.frames;
    status_ = kStatusOk;
    return true;
}

void CTrackConverter::computeImportRange() {
    range_ = {0, wave_.frames == 0 ? 0 : ((wave_.frames - 1) >> 4) + 1};
}

std::uint64_t CTrackConverter::neededDiskBytes() const {
    if (!song_) {
        return 0;
    }
    const auto geometry = TakeGeometry::of(song_->family(), song_->blockWidth());
    if (!geometry) {
        return 0;
    }
    // In 64 bits throughout: a long many-channel wave must not wrap to a small need.
    const std::uint64_t blocks = range_.count();
    const std::uint64_t clusters = blocks == 0 ? 0 : (blocks - 1) / geometry->blocksPerCluster + 1;
    return wave_.channels * clusters * geometry->clusterBytes + 16ull * geometry->clusterBytes;
}

// Every check before the first take is written, so that a refused import leaves the disk as it
// was.
bool CTrackConverter::checkImport() {
    if (wave_.channels == 0) {
        status_ = kStatusChannelCountZero;
        return false;
    }
    if (!song_) {
        status_ = kStatusFailedReadSong;
        return false;
    }
    const std::uint32_t songRate = song_->sampleRate();
    if (wave_.sampleRate != songRate) {
        status_ = kStatusWrongSampleRate;
        return false;
    }
    if (range_.count() < (songRate >> 4) + 1) {
        status_ = kStatusWaveTooShort;
        return false;
    }
    const int check = checkDisk();
    if (check != kDiskWritable) {
        status_ = check;
        return false;
    }
    if (!lockForWriting()) {
        status_ = kStatusCantWriteDisk;
        return false;
    }
    // Before the free space is counted: what an interrupted write left is freed first.
    recoverInterruptedWrites();
    if (const auto free = disk_->freeBytes()) {
        std::uint64_t needed = neededDiskBytes();
        if (wave_.channels != selected_.size()) {
            needed = needed / wave_.channels * selected_.size();
        }
        if (*free < needed) {
            status_ = kStatusNoFreeSpace;
            return false;
        }
    }
    if (song_->isProtected()) {
        status_ = kStatusSongProtected;
        return false;
    }
    // The new takes are named after their clusters and their events need the cluster numbers:
    // make sure the volume can be read before the first take is written.
    if (!disk_->checkVolume(volumeProblem_)) {
        status_ = kStatusCantCreateEvent;
        return false;
    }
    return true;
}

// Reads, inverts and encodes the wave a run at a time into the writers' temporary takes: this
// thread reads the next run of the wave and writes the last run's blocks to the takes while
// the workers encode the channels of the run between. A cancel returns true with `cancelled`
// set; the writers then delete their takes.
bool CTrackConverter::encodeTakes(std::vector<std::unique_ptr<CTakeWriter>>& writers,
                                  bool& cancelled) {
    const auto geometry = TakeGeometry::of(family_, song_->blockWidth());
    if (!geometry) {
        status_ = kStatusFailedWriteTrack;
        return false;
    }
    // The wave channels that go to a take: the first ones, as many as virtual tracks are
    // selected; the others are read past.
    const std::size_t channels = wave_.channels;
    const std::size_t encoded = std::min(channels, selected_.size());
    std::vector<BlockBuffer> encoders(encoded, BlockBuffer(song_->blockWidth()));
    struct RunSlot {
        std::vector<std::vector<std::int16_t>> samples;
        std::vector<std::vector<std::uint8_t>> bytes;
        std::vector<std::int16_t*> channels;  // a wave channel's samples, null when skipped
        std::uint32_t blocks = 0;
        std::uint32_t waveBlocks = 0;
    };
    std::array<RunSlot, 2> slots;
    for (RunSlot& slot : slots) {
        slot.samples.resize(encoded,
                            std::vector<std::int16_t>(std::size_t{kRunBlocks} * kFramesPerBlock));
        slot.bytes.resize(
            encoded, std::vector<std::uint8_t>(std::size_t{kRunBlocks} * geometry->blockBytes));
        slot.channels.assign(channels, nullptr);
        for (std::size_t c = 0; c < encoded; ++c) {
            slot.channels[c] = slot.samples[c].data();
        }
    }
    const bool invert = polarity_ != 0;
    RunSlot* encoding = &slots[0];
    CRunWorkers workers(CRunWorkers::workersFor(threads_, static_cast<int>(encoded)), [&](int c) {
        RunSlot& slot = *encoding;
        std::int16_t* in = slot.samples[c].data();
        std::uint8_t* out = slot.bytes[c].data();
        BlockBuffer& encoder = encoders[c];
        if (invert) {
            invertPolarity(in, std::size_t{slot.waveBlocks} * kFramesPerBlock);
        }
        encoder.encodeRun(in, out, slot.waveBlocks);
        // Blocks past the wave: silence, each predicted as after silence.
        for (std::uint32_t b = slot.waveBlocks; b < slot.blocks; ++b) {
            encoder.carried = 0;
            encoder.encodeRun(in + std::size_t{b} * kFramesPerBlock,
                              out + std::size_t{b} * geometry->blockBytes, 1);
        }
    });

    CWaveReader reader(makeInputFile(), wave_, range_);
    const auto readRun = [&](RunSlot& slot, std::uint32_t start) {
        slot.blocks = std::min(kRunBlocks, range_.end - start);
        return reader.readRun(slot.channels.data(), slot.blocks, slot.waveBlocks);
    };
    if (progress_) {
        progress_->begin(static_cast<std::int32_t>(range_.start),
                         static_cast<std::int32_t>(range_.end));
    }
    if (range_.count() > 0) {
        if (!readRun(slots[0], range_.start)) {
            status_ = kStatusFailedReadWave;
            return false;
        }
        workers.start(static_cast<int>(encoded));
    }
    for (std::uint32_t start = range_.start, current = 0; start < range_.end; current ^= 1) {
        RunSlot& slot = slots[current];
        RunSlot& following = slots[current ^ 1];
        const std::uint32_t next = start + slot.blocks;
        if (progress_ && !progress_->step(static_cast<std::int32_t>(start))) {
            workers.wait();
            cancelled = true;
            return true;
        }
        const bool read = next == range_.end || readRun(following, next);
        workers.wait();
        if (!read) {
            status_ = kStatusFailedReadWave;
            return false;
        }
        if (next < range_.end) {
            encoding = &following;
            workers.start(static_cast<int>(encoded));
        }
        for (std::size_t j = 0; j < writers.size(); ++j) {
            if (!writers[j]->writeBlocks(slot.bytes[j % channels].data(), slot.blocks)) {
                workers.wait();
                status_ = kStatusFailedWriteTrack;
                return false;
            }
        }
        start = next;
    }
    return true;
}

// One new event per selected virtual track over the whole range, from its take's cluster chain.
bool CTrackConverter::eventsForTakes(const std::vector<std::unique_ptr<CTakeWriter>>& writers,
                                     const TakeGeometry& geometry,
                                     std::vector<EventRecord>& records) {
    records.assign(selected_.size(), EventRecord{});
    for (std::size_t k = 0; k < selected_.size(); ++k) {
        std::vector<std::uint16_t> chain;
        if (!disk_->clusterChain(writers[k]->take().path(), chain) || chain.empty()) {
            status_ = kStatusCantCreateEvent;
            return false;
        }
        EventRecord& record = records[k];
        record.start = range_.start;
        record.end = range_.end;
        record.takeOffset = 0;
        record.lastClusterBlocks =
            static_cast<std::uint16_t>(range_.count() % geometry.blocksPerCluster);
        record.firstCluster = chain.front();
        record.lastCluster = chain.back();
        record.clusterCount = static_cast<std::uint16_t>(chain.size());
        record.firstClusterAgain = chain.front();
        record.lastClusterAgain = chain.back();
        record.virtualTrack = selected_[k];
        record.historyRange = 0;
    }
    return true;
}

// Places the new events, names the virtual tracks after the wave and writes the song back in
// one commit that also gives the takes their final names. On failure before the commit point
// the song object and the disk are as before and the temporary takes are the writers' to
// delete; past it (`committed`) the disk holds the new song, or the next open finishes it, so
// the song object keeps the new song as well.
bool CTrackConverter::placeImportEvents(const std::vector<EventRecord>& records,
                                        const std::vector<TakeRename>& takes, bool& committed) {
    committed = false;
    // The song object holds the whole event table: keep the backup on the heap.
    const auto backup = std::make_unique<CSong>(*song_);
    song_->events().renumberHistoryGroupsAndIncrement();
    for (std::size_t k = 0; k < selected_.size(); ++k) {
        if (!song_->events().placeEvent(records[k])) {
            *song_ = *backup;
            status_ = kStatusEventFull;
            return false;
        }
        song_->setName(selected_[k],
                       importedTrackName(wave_.path, static_cast<int>(k), wave_.channels));
    }
    song_->updateUsedFlags();
    if (!song_->write(*disk_, kSongFilePart | kEventListPart, takes, committed)) {
        if (!committed) {
            *song_ = *backup;
        }
        status_ = kStatusFailedWriteSong;
        return false;
    }
    return true;
}

bool CTrackConverter::runImport() {
    volumeProblem_.clear();
    OperationLock operation(*this);
    if (!checkImport()) {
        return false;
    }
    const auto geometry = TakeGeometry::of(family_, song_->blockWidth());
    if (!geometry || selected_.empty()) {
        status_ = kStatusFailedWriteTrack;
        return false;
    }
    std::vector<std::unique_ptr<CTakeWriter>> writers;
    for (const std::uint8_t track : selected_) {
        writers.push_back(std::make_unique<CTakeWriter>(*disk_, *geometry, *song_, track));
    }
    bool cancelled = false;
    if (!encodeTakes(writers, cancelled)) {
        return false;
    }
    if (cancelled) {
        status_ = kStatusOk;  // the writers delete their temporary takes
        return true;
    }
    // The takes stay under their temporary names until the song write's commit renames them,
    // so that an interruption before it leaves only temporaries, which the next write removes.
    std::vector<TakeRename> takes;
    for (auto& writer : writers) {
        if (!writer->finish()) {
            status_ = kStatusFailedWriteTrack;
            return false;
        }
        takes.push_back({writer->take().fileName(), writer->take().finalName()});
    }
    std::vector<EventRecord> records;
    if (!eventsForTakes(writers, *geometry, records)) {
        return false;
    }
    bool committed = false;
    const bool placed = placeImportEvents(records, takes, committed);
    if (committed) {
        for (auto& writer : writers) {
            writer->handOver();
        }
    }
    if (placed) {
        status_ = kStatusOk;
    }
    return placed;
}

}  // namespace korvo
