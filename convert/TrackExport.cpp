// The export run: the selected virtual tracks of the loaded song into one wave file, one channel
// per virtual track, from block 0 to the last event end.

#include <algorithm>
#include <cstdio>
#include <vector>

#include "convert/TrackConverter.h"
#include "convert/TrackReader.h"
#include "disk/DiskLayout.h"
#include "disk/Status.h"
#include "volume/HostVolume.h"

namespace korvo {

namespace {

using KorvoLib::Korvo::IWaveFile;

// The folder part of a path, up to and including its last separator ("." for a bare name).
std::string folderOf(const std::string& path) {
    const auto slash = path.rfind('/');
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
            std::remove(path_.c_str());
        }
    }
    CWaveWriter(const CWaveWriter&) = delete;
    CWaveWriter& operator=(const CWaveWriter&) = delete;

    bool writeBlock(BlockBuffer* const* buffers, int channels) {
        return file_ && file_->writeBlock(buffers, channels);
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

    std::vector<BlockBuffer> buffers;
    std::vector<BlockBuffer*> channels;
    std::vector<CTrackReader> readers;
    buffers.reserve(selected_.size());
    readers.reserve(selected_.size());
    for (const std::uint8_t track : selected_) {
        buffers.emplace_back(song_->blockWidth());
        readers.emplace_back(*disk_, *song_, track, range_, polarity_ != 0);
    }
    for (auto& buffer : buffers) {
        channels.push_back(&buffer);
    }
    const int channelCount = static_cast<int>(channels.size());

    CWaveWriter writer(makeOutputFile(wave_.fileType), wave_.path);
    if (progress_) {
        progress_->begin(static_cast<std::int32_t>(range_.start),
                         static_cast<std::int32_t>(range_.end));
    }

    KorvoLib::Korvo::WaveFormat format{wave_.channels, wave_.sampleRate, wave_.frames};
    for (std::uint32_t block = range_.start; block < range_.end; ++block) {
        if (progress_ && !progress_->step(static_cast<std::int32_t>(block))) {
            // Cancel: keep what was written, as a valid shorter file.
            format.frames = (block - range_.start) * kFramesPerBlock;
            wave_.frames = format.frames;
            if (!writer.completeData() || !writer.writeHeader(format)) {
                status_ = kStatusFailedWriteWave;
                return false;
            }
            status_ = kStatusOk;
            return true;
        }
        for (std::size_t j = 0; j < readers.size(); ++j) {
            if (!readers[j].readBlock(buffers[j])) {
                status_ = kStatusFailedReadTrack;
                return false;
            }
        }
        if (!writer.writeBlock(channels.data(), channelCount)) {
            status_ = kStatusFailedWriteWave;
            return false;
        }
    }
    if (!writer.completeData() || !writer.writeHeader(format)) {
        status_ = kStatusFailedWriteWave;
        return false;
    }
    status_ = kStatusOk;
    return true;
}

}  // namespace korvo
