// The import run: a wave file into new takes on the recorder disk, one new event per selected
// virtual track, the virtual tracks named after the file, the song written back.

#include <memory>
#include <vector>

#include "convert/TrackConverter.h"
#include "convert/TrackNames.h"
#include "convert/TrackReader.h"
#include "disk/DiskLayout.h"
#include "disk/Status.h"
#include "disk/TakeFile.h"

namespace korvo {

namespace {

using KorvoLib::Korvo::IWaveFile;

// Reads the wave a block at a time into the channels' buffers and encodes them.
class CWaveReader {
public:
    CWaveReader(std::unique_ptr<IWaveFile> file, const WaveDescription& wave, BlockRange requested,
                bool invertPolarity, std::vector<BlockBuffer*>& buffers)
        : wave_(wave),
          waveBlocks_{0, wave.frames == 0 ? 0 : ((wave.frames - 1) >> 4) + 1},
          requested_(requested),
          invertPolarity_(invertPolarity),
          block_(requested.start),
          buffers_(buffers),
          file_(std::move(file)) {
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

    bool readBlock() {
        const std::uint32_t c = block_;
        const bool inWave = c >= waveBlocks_.start && c < waveBlocks_.end;
        const bool inRange = c >= requested_.start && c < requested_.end;
        if (!inRange) {
            return false;
        }
        if (!inWave) {
            for (auto* buffer : buffers_) {
                if (buffer) {
                    buffer->reset();
                }
            }
        } else {
            if (!file_) {
                return false;
            }
            int frames = kFramesPerBlock;
            if (c + 1 == requested_.end) {
                // The last block: only the frames the wave still has, the rest silent. The
                // carried samples go on.
                for (auto* buffer : buffers_) {
                    if (buffer) {
                        buffer->clearSamples();
                    }
                }
                frames = static_cast<int>((wave_.frames - 1) % kFramesPerBlock) + 1;
            }
            if (!file_->readFrames(buffers_.data(), static_cast<int>(buffers_.size()), frames)) {
                return false;
            }
        }
        for (auto* buffer : buffers_) {
            if (!buffer) {
                continue;
            }
            if (invertPolarity_) {
                invertPolarity(*buffer);
            }
            buffer->encode();
        }
        ++block_;
        return true;
    }

private:
    const WaveDescription& wave_;
    BlockRange waveBlocks_;
    BlockRange requested_;
    bool invertPolarity_;
    std::uint32_t block_;
    std::vector<BlockBuffer*>& buffers_;
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

// Reads, inverts and encodes the wave block by block into the writers' temporary takes. A
// cancel returns true with `cancelled` set; the writers then delete their takes.
bool CTrackConverter::encodeTakes(std::vector<std::unique_ptr<CTakeWriter>>& writers,
                                  bool& cancelled) {
    std::vector<std::unique_ptr<BlockBuffer>> ownedBuffers;
    std::vector<BlockBuffer*> buffers;
    for (std::uint16_t channel = 0; channel < wave_.channels; ++channel) {
        if (channel < selected_.size()) {
            ownedBuffers.push_back(std::make_unique<BlockBuffer>(song_->blockWidth()));
            buffers.push_back(ownedBuffers.back().get());
        } else {
            buffers.push_back(nullptr);
        }
    }
    CWaveReader reader(makeInputFile(), wave_, range_, polarity_ != 0, buffers);
    if (progress_) {
        progress_->begin(static_cast<std::int32_t>(range_.start),
                         static_cast<std::int32_t>(range_.end));
    }
    for (std::uint32_t block = range_.start; block < range_.end; ++block) {
        if (progress_ && !progress_->step(static_cast<std::int32_t>(block))) {
            cancelled = true;
            return true;
        }
        if (!reader.readBlock()) {
            status_ = kStatusFailedReadWave;
            return false;
        }
        for (std::size_t j = 0; j < writers.size(); ++j) {
            const BlockBuffer* source = buffers[j % wave_.channels];
            if (!writers[j]->writeBlock(source->bytes.data())) {
                status_ = kStatusFailedWriteTrack;
                return false;
            }
        }
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
