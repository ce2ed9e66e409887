// The export run: the selected virtual tracks of the loaded song into one wave file, one channel
// per virtual track, from block 0 to the last event end.

#include <algorithm>
#include <array>
#include <cstdio>
#include <vector>

#include "convert/RunWorkers.h"
#include "convert/TrackConverter.h"
#include "convert/TrackReader.h"
#include "disk/DiskLayout.h"
#include "disk/Status.h"
#include "volume/HostVolume.h"
#include "wavefile/HostFile.h"

namespace korvo {

namespace {

using KorvoLib::Korvo::IWaveFile;

// The folder part of a path, up to and including its last separator ('/', or '\' as Windows
// writes it; "." for a bare name).
std::string folderOf(const std::string& path) {
    const auto slash = path.find_last_of("/\\");
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash + 1);
}

// Owns the wave file being written; deletes it unless the data part was completed and the
// header written, so a failed export leaves nothing half-written behind.
class CWaveWriter {
public:
    CWaveWriter(std::unique_ptr<IWaveFile> file, const std::string& path)
        : path_(path), file_(std::move(file)) {
        if (file_ && file_->open(path, IWaveFile::kCreate)) {
            created_ = true;
            if (!file_->setDataPosition(0)) {
                file_->close();
                file_.reset();
            }
        } else {
            file_.reset();
        }
    }
    ~CWaveWriter() {
        if (file_) {
            file_->close();
        }
        if (created_ && !kept_) {
            removeHostFile(path_);
        }
    }
    CWaveWriter(const CWaveWriter&) = delete;
    CWaveWriter& operator=(const CWaveWriter&) = delete;

    bool writeRun(const std::int16_t* const* channels, int channelCount, std::size_t frames) {
        return file_ && file_->writeRun(channels, channelCount, frames);
    }
    // Closes the sample data; then the header is written in update mode.
    bool completeData() {
        if (!file_) {
            return false;
        }
        finished_ = file_->close();
        return finished_;
    }
    bool writeHeader(const KorvoLib::Korvo::WaveFormat& format) {
        if (!finished_ || !file_->open(path_, IWaveFile::kUpdate)) {
            return false;
        }
        const bool written = file_->writeHeader(format);
        const bool closed = file_->close();
        kept_ = written && closed;
        return kept_;
    }

private:
    std::string path_;
    std::unique_ptr<IWaveFile> file_;
    bool created_ = false;
    bool finished_ = false;
    bool kept_ = false;
};

}  // namespace

void CTrackConverter::computeExportRange() {
    range_ = {0, 0};
    if (!song_) {
        return;
    }
    for (const std::uint8_t track : selected_) {
        range_.end = std::max(range_.end, song_->events().trackExtent(track).end);
    }
}

// The track names of the selection, for the tags of file types that have them.
std::string CTrackConverter::exportTitle() const {
    std::string title;
    for (const std::uint8_t track : selected_) {
        std::string name = song_->name(track).substr(0, song_->name(track).find('\0'));
        name.erase(name.find_last_not_of(' ') + 1);
        if (!name.empty()) {
            title += (title.empty() ? "" : " / ") + name;
        }
    }
    return title;
}

std::unique_ptr<IWaveFile> CTrackConverter::makeOutputFile(int fileType) const {
    auto file = KorvoLib::Korvo::makeWaveFile(fileType);
    if (!file && factory_ && song_) {
        file = factory_->makeWriter(fileType, song_->sampleRate(),
                                    static_cast<std::uint16_t>(selected_.size()), exportTitle());
    }
    return file;
}

std::uint64_t CTrackConverter::neededHostBytes(int fileType) const {
    const auto file = makeOutputFile(fileType);
    if (!file) {
        return 0;
    }
    return file->neededSize(static_cast<std::uint16_t>(selected_.size()), range_.start, range_.end);
}

void CTrackConverter::setOutputWave(const std::string& path, int fileType) {
    wave_ = WaveDescription{};
    wave_.path = path;
    wave_.fileType = fileType;
}

bool CTrackConverter::runExport() {
    OperationLock operation(*this);
    const int check = checkDisk();
    if (check != kDiskWritable && check != kDiskReadOnly) {
        status_ = check;
        return false;
    }
    if (!song_ || selected_.empty() || selected_.size() > 0xFFFF) {
        status_ = kStatusFailedWriteWave;
        return false;
    }

    if (const auto free = hostFreeBytes(folderOf(wave_.path))) {
        if (*free < neededHostBytes(wave_.fileType)) {
            status_ = kStatusNoFreeSpace;
            return false;
        }
    }

    wave_.channels = static_cast<std::uint16_t>(selected_.size());
    wave_.sampleRate = song_->sampleRate();
    wave_.frames = (range_.end - range_.start) * kFramesPerBlock;

    // Two slots of runs: while the workers decode the run in one, this thread writes the
    // samples of the one before and reads the take bytes of the one after.
    struct ChannelRun {
        TrackRun fetched;
        std::vector<std::int16_t> samples;
    };
    const std::size_t channelCount = selected_.size();
    std::vector<CTrackReader> readers;
    readers.reserve(channelCount);
    std::array<std::vector<ChannelRun>, 2> slots;
    std::array<std::vector<const std::int16_t*>, 2> samples;
    for (const std::uint8_t track : selected_) {
        readers.emplace_back(*disk_, *song_, track, range_, polarity_ != 0);
    }
    for (int slot = 0; slot < 2; ++slot) {
        slots[slot].resize(channelCount);
        for (ChannelRun& run : slots[slot]) {
            run.samples.resize(std::size_t{kRunBlocks} * kFramesPerBlock);
            samples[slot].push_back(run.samples.data());
        }
    }

    int decodingSlot = 0;
    CRunWorkers workers(CRunWorkers::workersFor(threads_, static_cast<int>(channelCount)),
                        [&](int c) {
                            ChannelRun& run = slots[decodingSlot][c];
                            readers[c].decodeRun(run.fetched, run.samples.data());
                        });
    const auto readRun = [&](int slot, std::uint32_t start) {
        const std::uint32_t blocks = std::min(kRunBlocks, range_.end - start);
        for (std::size_t c = 0; c < channelCount; ++c) {
            if (!readers[c].readRun(slots[slot][c].fetched, blocks)) {
                return false;
            }
        }
        return true;
    };

    CWaveWriter writer(makeOutputFile(wave_.fileType), wave_.path);
    if (progress_) {
        progress_->begin(static_cast<std::int32_t>(range_.start),
                         static_cast<std::int32_t>(range_.end));
    }

    KorvoLib::Korvo::WaveFormat format{wave_.channels, wave_.sampleRate, wave_.frames};
    if (range_.count() > 0) {
        if (!readRun(0, range_.start)) {
            status_ = kStatusFailedReadTrack;
            return false;
        }
        workers.start(static_cast<int>(channelCount));
    }
    for (std::uint32_t start = range_.start, slot = 0; start < range_.end; slot ^= 1) {
        const std::uint32_t blocks = std::min(kRunBlocks, range_.end - start);
        const std::uint32_t next = start + blocks;
        if (progress_ && !progress_->step(static_cast<std::int32_t>(start))) {
            // Cancel: keep what was written, as a valid shorter file.
            workers.wait();
            format.frames = (start - range_.start) * kFramesPerBlock;
            wave_.frames = format.frames;
            if (!writer.completeData() || !writer.writeHeader(format)) {
                status_ = kStatusFailedWriteWave;
                return false;
            }
            status_ = kStatusOk;
            return true;
        }
        const bool read = next == range_.end || readRun(static_cast<int>(slot ^ 1), next);
        workers.wait();
        if (!read) {
            status_ = kStatusFailedReadTrack;
            return false;
        }
        if (next < range_.end) {
            decodingSlot = static_cast<int>(slot ^ 1);
            workers.start(static_cast<int>(channelCount));
        }
        if (!writer.writeRun(samples[slot].data(), static_cast<int>(channelCount),
                             std::size_t{blocks} * kFramesPerBlock)) {
            workers.wait();
            status_ = kStatusFailedWriteWave;
            return false;
        }
        start = next;
    }
    if (!writer.completeData() || !writer.writeHeader(format)) {
        status_ = kStatusFailedWriteWave;
        return false;
    }
    status_ = kStatusOk;
    return true;
}

}  // namespace korvo
