#include "mount/MountedDisk.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>

#include "convert/StatusMessages.h"
#include "convert/TrackNames.h"
#include "disk/DiskLayout.h"
#include "disk/Status.h"
#include "volume/OpenDisk.h"
#include "wavefile/ByteOrder.h"
#include "wavefile/WaveFile.h"

namespace korvo::mount {

namespace {

using nlohmann::json;

constexpr const char* kDiskJson = "disk.json";
constexpr const char* kSongJson = "song.json";
// Decoded blocks are cached in runs of this many blocks (128 KiB of mono samples, what the
// kernel asks for at once when it reads ahead), and this many
// runs are kept: enough for a few readers going through different files at once.
constexpr std::uint32_t kBlocksPerRun = 4096;
constexpr std::size_t kCachedRuns = 32;
constexpr std::size_t kCursors = 8;
// How many runs past the one just read are decoded ahead for a sequential reader.
constexpr std::uint32_t kReadAheadRuns = 2;
constexpr std::uint32_t kBytesPerMonoBlock = kFramesPerBlock * 2;

std::string messageOf(int status) {
    return std::string(statusMessage(status));
}

std::string storedName(const std::string& name) {
    return name.substr(0, name.find('\0'));
}

// A name a host file system can store: separators and control characters become '_'.
std::string fileNameOf(const std::string& text) {
    std::string result;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        result += (byte < 0x20 || byte == 0x7F || c == '/') ? '_' : c;
    }
    while (!result.empty() && result.back() == ' ') {
        result.pop_back();
    }
    return result;
}

std::optional<int> parseLabel(const std::string& text) {
    if (text.size() != 3 || text[1] != '.' || text[0] < '1' || text[0] > '8' || text[2] < '1' ||
        text[2] > '8') {
        return std::nullopt;
    }
    return virtualTrackIndex(text[0] - '0', text[2] - '0');
}

// The wave header an export writes for a mono file of the rate and frame count: the export's
// own writer puts it in a scratch file, so the mounted bytes cannot drift from an export's.
std::optional<std::vector<char>> waveHeader(std::uint32_t sampleRate, std::uint32_t frames,
                                            const std::string& scratch) {
    using KorvoLib::Korvo::IWaveFile;
    auto file = KorvoLib::Korvo::makeWaveFile(KorvoLib::Korvo::kWaveTypeRiff);
    bool written = file && file->open(scratch, IWaveFile::kCreate) && file->setDataPosition(0);
    written = written && file->close();
    written = written && file->open(scratch, IWaveFile::kUpdate) &&
              file->writeHeader({1, sampleRate, frames});
    written = file && file->close() && written;
    std::optional<std::vector<char>> header;
    if (written) {
        std::ifstream in(scratch, std::ios::binary);
        std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
        if (bytes.size() >= file->headerSize()) {
            bytes.resize(file->headerSize());
            header = std::move(bytes);
        }
    }
    std::remove(scratch.c_str());
    return header;
}

std::vector<std::string> components(const std::string& path) {
    std::vector<std::string> parts;
    std::size_t at = 0;
    while (at < path.size()) {
        const std::size_t slash = path.find('/', at);
        const std::size_t end = slash == std::string::npos ? path.size() : slash;
        if (end > at) {
            parts.push_back(path.substr(at, end - at));
        }
        at = end + 1;
    }
    return parts;
}

std::string lowerCase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

}  // namespace

std::optional<WaveTarget> parseWaveTarget(const std::string& fileName) {
    const auto dot = fileName.rfind('.');
    if (dot == std::string::npos) {
        return std::nullopt;
    }
    WaveTarget target;
    target.extension = fileName.substr(dot);
    const std::string extension = lowerCase(target.extension);
    if (extension != ".wav" && extension != ".aif" && extension != ".aiff") {
        return std::nullopt;
    }
    const std::string stem = fileName.substr(0, dot);
    const auto first = parseLabel(stem.substr(0, 3));
    if (!first) {
        return std::nullopt;
    }
    target.tracks.push_back(static_cast<std::uint8_t>(*first));
    std::size_t at = 3;
    if (stem.size() >= 7 && stem[3] == '+') {
        const auto second = parseLabel(stem.substr(4, 3));
        if (!second || extension != ".wav") {
            return std::nullopt;
        }
        target.tracks.push_back(static_cast<std::uint8_t>(*second));
        std::sort(target.tracks.begin(), target.tracks.end());
        at = 7;
    }
    if (at == stem.size()) {
        return target;
    }
    if (stem[at] != ' ') {
        return std::nullopt;
    }
    if (at + 1 < stem.size()) {
        target.name = stem.substr(at + 1);
    }
    return target;
}

// What a path names in the tree.
struct CMountedDisk::Node {
    enum Kind { missing, root, diskJson, songFolder, songJson, trackFile, staged } kind = missing;
    const SongFolder* folder = nullptr;
    const TrackFile* track = nullptr;
    std::uint64_t handle = 0;  // the staging handle of a file being written
};

// One open file: a track or JSON text being read, or a wave file being written.
struct CMountedDisk::Handle {
    enum Kind { trackData, jsonText, staging } kind = trackData;
    SongNumber song = 0;
    int virtualTrack = 0;
    std::string text;
    // Staging
    std::string visiblePath;
    std::string stagingPath;
    int fd = -1;
    WaveTarget target;
    bool dirty = false;
    // Track data: where the last read ended, to tell a sequential reader from a random one.
    std::uint64_t lastEnd = 0;
};

// A reader left where the last decoded run ended, so that a sequential read goes on without a
// seek. It decodes whole runs, as an export does.
struct CMountedDisk::TrackCursor {
    std::shared_ptr<const CSong> song;
    int virtualTrack = 0;
    std::unique_ptr<CTrackReader> reader;
    BlockBuffer buffer;
    TrackRun run;
    std::uint32_t next = 0;
    TrackCursor(std::shared_ptr<const CSong> s, int v, IDiskFiles& disk, std::uint32_t blocks)
        : song(std::move(s)),
          virtualTrack(v),
          reader(std::make_unique<CTrackReader>(disk, *song, v, BlockRange{0, blocks}, true)),
          buffer(song->blockWidth()) {}
};

// The samples of one run of blocks, stored as an export writes them (16-bit little-endian).
struct CMountedDisk::DecodedRun {
    std::uint64_t generation = 0;
    SongNumber song = 0;
    int virtualTrack = 0;
    std::uint32_t index = 0;
    std::vector<std::int16_t> samples;
    const char* bytes() const { return reinterpret_cast<const char*>(samples.data()); }
    std::size_t byteCount() const { return samples.size() * sizeof(std::int16_t); }
};

CMountedDisk::CMountedDisk(MountSettings settings) : settings_(std::move(settings)) {
    converter_.setPolarity(true);
    if (!settings_.readOnly) {
        converter_.holdWriteLock();  // one writer at a time, for as long as the mount lasts
    }
    converter_.setRootPath(settings_.disk);
    converter_.setDiskOptions(settings_.options);
    clock_gettime(CLOCK_REALTIME, &mounted_);
}

CMountedDisk::~CMountedDisk() {
    {
        std::lock_guard lock(mutex_);
        ending_ = true;
    }
    readAheadWanted_.notify_all();
    if (readAhead_.joinable()) {
        readAhead_.join();
    }
    for (auto& [id, handle] : handles_) {
        if (handle->fd >= 0) {
            ::close(handle->fd);
            std::remove(handle->stagingPath.c_str());
        }
    }
}

void CMountedDisk::log(const std::string& line) const {
    if (settings_.log) {
        settings_.log(line);
    }
}

bool CMountedDisk::load(std::string& problem) {
    std::scoped_lock lock(decodeMutex_, mutex_);
    // What an interrupted write left (a copy into a mount that was killed, say) is settled
    // before the tree is built: opening a song on a writable disk does that.
    if (!settings_.readOnly && converter_.refreshSongList()) {
        for (const auto& [number, entry] : *converter_.songList()) {
            converter_.refreshSong(number);
        }
    }
    return rebuild(problem);
}

// Reads the song list and every song anew, after the mount starts and after every write.
bool CMountedDisk::rebuild(std::string& problem) {
    ++generation_;
    runs_.clear();
    cursors_.clear();
    headers_.clear();
    songs_.clear();
    const int check = converter_.checkDisk();
    if (check != kDiskWritable && check != kDiskReadOnly) {
        problem = converter_.lockProblem().empty() ? messageOf(check) : converter_.lockProblem();
        return false;
    }
    if (!converter_.refreshSongList()) {
        problem = messageOf(converter_.status());
        return false;
    }
    readDisk_ = openDiskFiles(settings_.disk, settings_.options);
    const DiskFamily family = converter_.family();
    // One writer, used only to size the track files as an export writes them.
    const auto sizing = KorvoLib::Korvo::makeWaveFile(KorvoLib::Korvo::kWaveTypeRiff);
    for (const auto& [number, entry] : *converter_.songList()) {
        SongFolder folder;
        folder.number = number;
        char prefix[8];
        std::snprintf(prefix, sizeof prefix, "%02u", static_cast<unsigned>(number) + 1);
        const std::string name = fileNameOf(entry.nameText());
        folder.folderName = name.empty() ? prefix : std::string(prefix) + " " + name;
        folder.writable = !settings_.readOnly && check == kDiskWritable && !entry.isProtected();
        auto song = std::make_shared<CSong>(entry, family);
        if (!song->read(*readDisk_)) {
            log("song " + std::to_string(number + 1) + ": " + messageOf(kStatusFailedReadSong));
            folder.json = "[]\n";
            songs_.push_back(std::move(folder));
            continue;
        }
        json tracks = json::array();
        for (int v = 0; v < kVirtualTracks; ++v) {
            const auto end = song->events().trackExtent(v).end;
            const std::string trackName = storedName(song->name(v));
            tracks.push_back({{"track", trackOf(v)},
                              {"vtrack", vtrackOf(v)},
                              {"index", v},
                              {"name", trackName},
                              {"used", song->used(v)},
                              {"end_block", end}});
            if (!song->used(v)) {
                continue;
            }
            TrackFile file;
            file.virtualTrack = v;
            const std::string safe = fileNameOf(trackName);
            file.fileName = trackLabel(v) + (safe.empty() ? "" : " " + safe) + ".wav";
            file.blocks = end;
            file.size = sizing->neededSize(1, 0, end);
            folder.tracks.push_back(std::move(file));
        }
        folder.json = tracks.dump() + "\n";
        folder.song = std::move(song);
        songs_.push_back(std::move(folder));
    }
    const bool image = readDisk_->kind() == DiskKind::image;
    diskJson_ = json{{"family", familyName(family)},
                     {"writable", check == kDiskWritable},
                     {"songs", converter_.songList()->size()},
                     {"kind", image ? "image" : "folder"}}
                    .dump() +
                "\n";
    return true;
}

CMountedDisk::Node CMountedDisk::find(const std::string& path) const {
    Node node;
    const auto parts = components(path);
    if (parts.empty()) {
        node.kind = Node::root;
        return node;
    }
    if (parts.size() == 1 && parts[0] == kDiskJson) {
        node.kind = Node::diskJson;
        return node;
    }
    const auto folder = std::find_if(songs_.begin(), songs_.end(),
                                     [&](const SongFolder& f) { return f.folderName == parts[0]; });
    if (folder == songs_.end() || parts.size() > 2) {
        return node;
    }
    node.folder = &*folder;
    if (parts.size() == 1) {
        node.kind = Node::songFolder;
        return node;
    }
    for (const auto& [id, handle] : handles_) {
        if (handle->kind == Handle::staging && handle->visiblePath == path) {
            node.kind = Node::staged;
            node.handle = id;
            return node;
        }
    }
    if (parts[1] == kSongJson) {
        node.kind = Node::songJson;
        return node;
    }
    for (const auto& track : folder->tracks) {
        if (track.fileName == parts[1]) {
            node.kind = Node::trackFile;
            node.track = &track;
            return node;
        }
    }
    return node;
}

int CMountedDisk::attributes(const std::string& path, struct stat& status,
                             const std::uint64_t* handle) {
    std::lock_guard lock(mutex_);
    status = {};
    status.st_uid = getuid();
    status.st_gid = getgid();
    status.st_atim = status.st_mtim = status.st_ctim = mounted_;
    status.st_nlink = 1;
    Node node = find(path);
    if (handle != nullptr) {
        const auto open = handles_.find(*handle);
        if (open != handles_.end() && open->second->kind == Handle::staging) {
            node.kind = Node::staged;
            node.handle = *handle;
        }
    }
    switch (node.kind) {
        case Node::missing:
            return -ENOENT;
        case Node::root:
            status.st_mode = S_IFDIR | 0755;
            status.st_nlink = 2;
            return 0;
        case Node::songFolder:
            status.st_mode = S_IFDIR | (node.folder->writable ? 0755 : 0555);
            status.st_nlink = 2;
            return 0;
        case Node::diskJson:
            status.st_mode = S_IFREG | 0444;
            status.st_size = static_cast<off_t>(diskJson_.size());
            return 0;
        case Node::songJson:
            status.st_mode = S_IFREG | 0444;
            status.st_size = static_cast<off_t>(node.folder->json.size());
            return 0;
        case Node::trackFile:
            status.st_mode = S_IFREG | (node.folder->writable ? 0644 : 0444);
            status.st_size = static_cast<off_t>(node.track->size);
            return 0;
        case Node::staged: {
            struct stat staged;
            if (::fstat(handles_.at(node.handle)->fd, &staged) != 0) {
                return -errno;
            }
            status.st_mode = S_IFREG | 0644;
            status.st_size = staged.st_size;
            status.st_mtim = staged.st_mtim;
            return 0;
        }
    }
    return -ENOENT;
}

int CMountedDisk::list(const std::string& path, std::vector<std::string>& names) {
    std::lock_guard lock(mutex_);
    const Node node = find(path);
    names = {".", ".."};
    if (node.kind == Node::root) {
        names.push_back(kDiskJson);
        for (const auto& folder : songs_) {
            names.push_back(folder.folderName);
        }
        return 0;
    }
    if (node.kind != Node::songFolder) {
        return node.kind == Node::missing ? -ENOENT : -ENOTDIR;
    }
    names.push_back(kSongJson);
    for (const auto& track : node.folder->tracks) {
        names.push_back(track.fileName);
    }
    const std::string prefix = "/" + node.folder->folderName + "/";
    for (const auto& [id, handle] : handles_) {
        if (handle->kind == Handle::staging && handle->visiblePath.rfind(prefix, 0) == 0) {
            const std::string name = handle->visiblePath.substr(prefix.size());
            if (std::find(names.begin(), names.end(), name) == names.end()) {
                names.push_back(name);
            }
        }
    }
    return 0;
}

int CMountedDisk::open(const std::string& path, int flags, std::uint64_t& handle) {
    std::lock_guard lock(mutex_);
    const Node node = find(path);
    const bool writing = (flags & O_ACCMODE) != O_RDONLY;
    switch (node.kind) {
        case Node::missing:
            return -ENOENT;
        case Node::root:
        case Node::songFolder:
            return -EISDIR;
        case Node::staged:
            return -EBUSY;  // one writer per file
        case Node::diskJson:
        case Node::songJson: {
            if (writing) {
                return -EACCES;
            }
            auto open = std::make_unique<Handle>();
            open->kind = Handle::jsonText;
            open->text = node.kind == Node::diskJson ? diskJson_ : node.folder->json;
            handle = nextHandle_++;
            handles_[handle] = std::move(open);
            return 0;
        }
        case Node::trackFile:
            break;
    }
    if (writing) {
        if (settings_.readOnly) {
            return -EROFS;
        }
        if ((flags & O_TRUNC) == 0) {
            // Changing a track in place would need the whole file first; a new file is the way.
            return -EPERM;
        }
        return startStaging(*node.folder, path, node.track->fileName, handle);
    }
    auto open = std::make_unique<Handle>();
    open->kind = Handle::trackData;
    open->song = node.folder->number;
    open->virtualTrack = node.track->virtualTrack;
    handle = nextHandle_++;
    handles_[handle] = std::move(open);
    return 0;
}

int CMountedDisk::create(const std::string& path, std::uint64_t& handle) {
    std::lock_guard lock(mutex_);
    const auto parts = components(path);
    if (parts.size() != 2) {
        return parts.size() < 2 ? -EPERM : -ENOENT;
    }
    const Node folder = find("/" + parts[0]);
    if (folder.kind != Node::songFolder) {
        return -EPERM;
    }
    const Node existing = find(path);
    if (existing.kind == Node::staged) {
        return -EBUSY;
    }
    if (existing.kind == Node::songJson) {
        return -EACCES;
    }
    return startStaging(*folder.folder, path, parts[1], handle);
}

int CMountedDisk::startStaging(const SongFolder& folder, const std::string& path,
                               const std::string& fileName, std::uint64_t& handle) {
    if (settings_.readOnly) {
        return -EROFS;
    }
    const auto target = parseWaveTarget(fileName);
    if (!target) {
        log("refused " + path +
            ": only T.V[ NAME].wav|.aif|.aiff or T.V+T.V[ NAME].wav can be "
            "written into a song folder");
        return -EPERM;
    }
    if (target->tracks.size() == 2 && trackOf(target->tracks[0]) == trackOf(target->tracks[1])) {
        log("refused " + path + ": the two virtual tracks must be on different tracks");
        return -EINVAL;
    }
    if (target->name && !isRecorderDisplayable(*target->name)) {
        log("refused " + path + ": " + std::string(kUndisplayableNameMessage));
        return -EINVAL;
    }
    if (!folder.writable) {
        log("refused " + path + ": " + messageOf(kStatusSongProtected));
        return -EROFS;
    }
    const std::uint64_t id = nextHandle_++;
    // A folder of its own per file, so that the staged file can carry the name part that the
    // import names the tracks after.
    const std::string stagingFolder = settings_.stagingFolder + "/" + std::to_string(id);
    if (::mkdir(stagingFolder.c_str(), 0700) != 0) {
        const int error = errno;
        log("cannot stage " + path + " in " + stagingFolder + ": " + std::strerror(error));
        return -error;
    }
    auto open = std::make_unique<Handle>();
    open->kind = Handle::staging;
    open->song = folder.number;
    open->visiblePath = path;
    open->target = *target;
    const std::string base = target->name ? *target->name : std::string("take");
    open->stagingPath = stagingFolder + "/" + fileNameOf(base) + target->extension;
    open->fd = ::open(open->stagingPath.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (open->fd < 0) {
        const int error = errno;
        ::rmdir(stagingFolder.c_str());
        return -error;
    }
    open->dirty = true;  // even an empty file asks for an import (which refuses it)
    handle = id;
    handles_[handle] = std::move(open);
    return 0;
}

long CMountedDisk::read(std::uint64_t handle, char* out, std::size_t size, std::uint64_t offset) {
    TrackView view;
    long result = -ESTALE;
    // A write (an import, a rename) may replace the tree while the runs are decoded: the read
    // is then made again from the new tree.
    for (int attempt = 0; attempt < 3 && result == -ESTALE; ++attempt) {
        std::unique_lock lock(mutex_);
        const auto open = handles_.find(handle);
        if (open == handles_.end()) {
            return -EBADF;
        }
        Handle& file = *open->second;
        if (file.kind == Handle::jsonText) {
            if (offset >= file.text.size()) {
                return 0;
            }
            const std::size_t n = std::min<std::size_t>(size, file.text.size() - offset);
            std::copy_n(file.text.data() + offset, n, out);
            return static_cast<long>(n);
        }
        if (file.kind == Handle::staging) {
            const ssize_t n = ::pread(file.fd, out, size, static_cast<off_t>(offset));
            return n < 0 ? -errno : n;
        }
        const TrackFile* track = findTrack(file.song, file.virtualTrack);
        if (track == nullptr) {
            return -ESTALE;
        }
        view = {generation_, file.song, file.virtualTrack, track->blocks, track->size, 0};
        for (const auto& folder : songs_) {
            if (folder.number == file.song) {
                view.sampleRate = folder.song->sampleRate();
            }
        }
        lock.unlock();
        result = readTrack(view, out, size, offset);
    }
    // A sequential reader asks for the next runs soon; a read at a random offset decodes only
    // what it needs. The kernel's requests of one reader may come a little out of order.
    if (result > 0) {
        std::lock_guard lock(mutex_);
        const auto open = handles_.find(handle);
        if (open == handles_.end()) {
            return result;
        }
        constexpr std::uint64_t kNear = 2 * std::uint64_t{kBlocksPerRun} * kBytesPerMonoBlock;
        const std::uint64_t lastEnd = open->second->lastEnd;
        const bool sequential = offset + kNear >= lastEnd && offset <= lastEnd + kNear;
        open->second->lastEnd = offset + static_cast<std::uint64_t>(result);
        const auto header = headers_.find({view.song, view.virtualTrack});
        if (sequential && header != headers_.end() && offset + result > header->second->size()) {
            const std::uint64_t runBytes = std::uint64_t{kBlocksPerRun} * kBytesPerMonoBlock;
            const std::uint64_t last = offset + result - 1 - header->second->size();
            readAhead(view, static_cast<std::uint32_t>(last / runBytes + 1));
        }
    }
    return result;
}

const CMountedDisk::TrackFile* CMountedDisk::findTrack(SongNumber song, int virtualTrack) const {
    for (const auto& folder : songs_) {
        if (folder.number == song && folder.song) {
            for (const auto& track : folder.tracks) {
                if (track.virtualTrack == virtualTrack) {
                    return &track;
                }
            }
        }
    }
    return nullptr;
}

void CMountedDisk::readAhead(const TrackView& track, std::uint32_t index) {
    // Started on first use: a detached mount forks after loading, and threads do not survive
    // a fork.
    if (!readAhead_.joinable()) {
        readAhead_ = std::thread([this] { readAheadLoop(); });
    }
    readAheadRun_ = std::make_pair(track, index);
    readAheadWanted_.notify_one();
}

void CMountedDisk::readAheadLoop() {
    std::unique_lock lock(mutex_);
    while (true) {
        readAheadWanted_.wait(lock, [this] { return ending_ || readAheadRun_.has_value(); });
        if (ending_) {
            return;
        }
        TrackView track = readAheadRun_->first;
        const std::uint32_t index = readAheadRun_->second;
        readAheadRun_.reset();
        lock.unlock();
        for (std::uint32_t k = 0; k < kReadAheadRuns; ++k) {
            if (std::uint64_t{index + k} * kBlocksPerRun >= track.blocks ||
                !run(track, index + k)) {
                break;
            }
        }
        lock.lock();
    }
}

std::shared_ptr<const std::vector<char>> CMountedDisk::header(const TrackView& track) {
    const auto key = std::make_pair(track.song, track.virtualTrack);
    {
        std::lock_guard lock(mutex_);
        const auto found = headers_.find(key);
        if (found != headers_.end() && generation_ == track.generation) {
            return found->second;
        }
    }
    // The header is made through a scratch file, one at a time.
    std::lock_guard decode(decodeMutex_);
    auto bytes = waveHeader(track.sampleRate, track.blocks * kFramesPerBlock,
                            settings_.stagingFolder + "/header.wav");
    if (!bytes) {
        log("cannot make the wave header in " + settings_.stagingFolder);
        return nullptr;
    }
    auto made = std::make_shared<const std::vector<char>>(std::move(*bytes));
    std::lock_guard lock(mutex_);
    if (generation_ == track.generation) {
        headers_[key] = made;
    }
    return made;
}

long CMountedDisk::readTrack(const TrackView& track, char* out, std::size_t size,
                             std::uint64_t offset) {
    if (offset >= track.size) {
        return 0;
    }
    size = static_cast<std::size_t>(std::min<std::uint64_t>(size, track.size - offset));
    const auto head = header(track);
    if (!head) {
        return -EIO;
    }
    std::size_t done = 0;
    if (offset < head->size()) {
        done = std::min<std::size_t>(size, head->size() - offset);
        std::copy_n(head->data() + offset, done, out);
    }
    constexpr std::uint64_t kRunBytes = std::uint64_t{kBlocksPerRun} * kBytesPerMonoBlock;
    while (done < size) {
        const std::uint64_t data = offset + done - head->size();
        const auto index = static_cast<std::uint32_t>(data / kRunBytes);
        const auto decoded = run(track, index);
        if (!decoded) {
            std::lock_guard lock(mutex_);
            if (generation_ != track.generation) {
                return -ESTALE;  // asked again from the new tree
            }
            return done > 0 ? static_cast<long>(done) : -EIO;
        }
        const std::uint64_t within = data - std::uint64_t{index} * kRunBytes;
        if (within >= decoded->byteCount()) {
            return done > 0 ? static_cast<long>(done) : -EIO;
        }
        const std::size_t n = std::min<std::size_t>(size - done, decoded->byteCount() - within);
        std::copy_n(decoded->bytes() + within, n, out + done);
        done += n;
    }
    return static_cast<long>(done);
}

std::shared_ptr<const CMountedDisk::DecodedRun> CMountedDisk::cachedRun(const TrackView& track,
                                                                        std::uint32_t index) {
    std::lock_guard lock(mutex_);
    for (auto at = runs_.begin(); at != runs_.end(); ++at) {
        const DecodedRun& cached = **at;
        if (cached.generation == track.generation && cached.song == track.song &&
            cached.virtualTrack == track.virtualTrack && cached.index == index) {
            runs_.splice(runs_.begin(), runs_, at);
            return runs_.front();
        }
    }
    return nullptr;
}

std::shared_ptr<const CMountedDisk::DecodedRun> CMountedDisk::run(const TrackView& track,
                                                                  std::uint32_t index) {
    if (auto cached = cachedRun(track, index)) {
        return cached;
    }
    std::lock_guard decode(decodeMutex_);
    // Another reader, or the read ahead, may have decoded it meanwhile.
    if (auto cached = cachedRun(track, index)) {
        return cached;
    }
    {
        // The tree cannot change while decodeMutex_ is held; a run of an older tree is not
        // decoded (the reader asks again with the new one).
        std::lock_guard lock(mutex_);
        if (generation_ != track.generation) {
            return nullptr;
        }
    }
    auto decoded = decodeRun(track, index);
    if (!decoded) {
        return nullptr;
    }
    std::lock_guard lock(mutex_);
    runs_.push_front(decoded);
    while (runs_.size() > kCachedRuns) {
        // A buffer no reader holds any more is kept for the next run: a fresh one would be
        // zero-filled and faulted in page by page.
        if (runs_.back().use_count() == 1 && spareRuns_.size() < kCachedRuns) {
            spareRuns_.push_back(std::move(runs_.back()));
        }
        runs_.pop_back();
    }
    return decoded;
}

// Decodes one run of blocks as an export does; decodeMutex_ is held.
std::shared_ptr<CMountedDisk::DecodedRun> CMountedDisk::decodeRun(const TrackView& track,
                                                                  std::uint32_t index) {
    const std::uint32_t first = index * kBlocksPerRun;
    const std::uint32_t end = std::min(track.blocks, first + kBlocksPerRun);
    const auto folder = std::find_if(songs_.begin(), songs_.end(),
                                     [&](const SongFolder& f) { return f.number == track.song; });
    const TrackFile* file = findTrack(track.song, track.virtualTrack);
    if (first >= end || file == nullptr || file->blocks != track.blocks) {
        return nullptr;
    }
    auto cursor = std::find_if(cursors_.begin(), cursors_.end(), [&](const auto& c) {
        return c->song == folder->song && c->virtualTrack == track.virtualTrack;
    });
    if (cursor == cursors_.end()) {
        cursors_.push_front(std::make_unique<TrackCursor>(folder->song, track.virtualTrack,
                                                          *readDisk_, track.blocks));
        if (cursors_.size() > kCursors) {
            cursors_.pop_back();
        }
    } else {
        cursors_.splice(cursors_.begin(), cursors_, cursor);
    }
    TrackCursor& reader = *cursors_.front();
    const auto failed = [&](std::uint32_t block) {
        log("cannot read " + folder->folderName + "/" + file->fileName + " at block " +
            std::to_string(block) + ": " + messageOf(kStatusFailedReadTrack));
        reader.next = track.blocks + 1;
        return nullptr;
    };
    if ((reader.next != first || first == 0) && !reader.reader->seek(first, reader.buffer)) {
        return failed(first);
    }
    if (!reader.reader->readRun(reader.run, end - first)) {
        return failed(first);
    }
    std::shared_ptr<DecodedRun> decoded;
    {
        std::lock_guard lock(mutex_);
        if (!spareRuns_.empty()) {
            decoded = std::move(spareRuns_.back());
            spareRuns_.pop_back();
        }
    }
    if (!decoded) {
        decoded = std::make_shared<DecodedRun>();
    }
    decoded->generation = track.generation;
    decoded->song = track.song;
    decoded->virtualTrack = track.virtualTrack;
    decoded->index = index;
    decoded->samples.resize(std::size_t{end - first} * kFramesPerBlock);
    reader.reader->decodeRun(reader.run, decoded->samples.data());
    if constexpr (std::endian::native == std::endian::big) {
        for (std::int16_t& sample : decoded->samples) {
            sample =
                static_cast<std::int16_t>(KorvoLib::swapBytes(static_cast<std::uint16_t>(sample)));
        }
    }
    reader.next = end;
    return decoded;
}

long CMountedDisk::write(std::uint64_t handle, const char* data, std::size_t size,
                         std::uint64_t offset) {
    std::lock_guard lock(mutex_);
    const auto open = handles_.find(handle);
    if (open == handles_.end() || open->second->kind != Handle::staging) {
        return -EBADF;
    }
    const ssize_t n = ::pwrite(open->second->fd, data, size, static_cast<off_t>(offset));
    if (n < 0) {
        return -errno;
    }
    open->second->dirty = true;
    return n;
}

int CMountedDisk::truncate(const std::string& path, std::uint64_t length,
                           const std::uint64_t* handle) {
    std::lock_guard lock(mutex_);
    std::uint64_t id = 0;
    if (handle != nullptr && handles_.count(*handle) != 0) {
        id = *handle;
    } else {
        const Node node = find(path);
        if (node.kind != Node::staged) {
            if (node.kind == Node::missing) {
                return -ENOENT;
            }
            return settings_.readOnly ? -EROFS : -EPERM;
        }
        id = node.handle;
    }
    Handle& file = *handles_.at(id);
    if (file.kind != Handle::staging) {
        return -EPERM;
    }
    if (::ftruncate(file.fd, static_cast<off_t>(length)) != 0) {
        return -errno;
    }
    file.dirty = true;
    return 0;
}

int CMountedDisk::flush(std::uint64_t handle) {
    {
        std::lock_guard lock(mutex_);
        const auto open = handles_.find(handle);
        if (open == handles_.end() || open->second->kind != Handle::staging ||
            !open->second->dirty) {
            return 0;
        }
    }
    // An import replaces the tree: no decode may run meanwhile.
    std::scoped_lock lock(decodeMutex_, mutex_);
    const auto open = handles_.find(handle);
    if (open == handles_.end() || open->second->kind != Handle::staging || !open->second->dirty) {
        return 0;
    }
    open->second->dirty = false;
    return importStaged(*open->second);
}

int CMountedDisk::release(std::uint64_t handle) {
    {
        std::lock_guard lock(mutex_);
        const auto open = handles_.find(handle);
        if (open == handles_.end()) {
            return 0;
        }
        if (open->second->kind != Handle::staging) {
            handles_.erase(open);
            return 0;
        }
    }
    std::scoped_lock lock(decodeMutex_, mutex_);
    const auto open = handles_.find(handle);
    if (open == handles_.end()) {
        return 0;
    }
    Handle& file = *open->second;
    if (file.kind == Handle::staging) {
        if (file.dirty) {
            file.dirty = false;
            importStaged(file);
        }
        ::close(file.fd);
        std::remove(file.stagingPath.c_str());
        ::rmdir(std::filesystem::path(file.stagingPath).parent_path().c_str());
    }
    handles_.erase(open);
    return 0;
}

int CMountedDisk::errnoOfStatus(int status) const {
    switch (status) {
        case kStatusChannelCountZero:
        case kStatusWrongSampleRate:
        case kStatusWaveTooShort:
        case kStatusFailedReadWave:
            return EINVAL;
        case kStatusNoFreeSpace:
        case kStatusEventFull:
            return ENOSPC;
        case kStatusSongProtected:
        case kStatusCantWriteDisk:
            return EROFS;
        case kStatusCantReadDisk:
            return EACCES;
        default:
            return EIO;
    }
}

// The import of a written file, as `korvowav-cli import` runs it on the staged copy: the song
// read anew, every check of an import, then the takes, events and names.
int CMountedDisk::importStaged(Handle& handle) {
    const std::string& path = handle.visiblePath;
    int status = kStatusOk;
    std::array<std::string, 2> oldNames;
    if (!converter_.refreshSongList() || !converter_.refreshSong(handle.song)) {
        status = converter_.status();
    } else {
        for (std::size_t k = 0; k < handle.target.tracks.size(); ++k) {
            oldNames[k] = converter_.song()->name(handle.target.tracks[k]);
        }
        converter_.setSelectedTracks(handle.target.tracks);
        if (!converter_.openInputWave(handle.stagingPath)) {
            status = converter_.status();
        } else {
            converter_.computeImportRange();
            converter_.setProgress(nullptr);
            if (!converter_.runImport()) {
                status = converter_.status();
            }
        }
    }
    if (status == kStatusOk && !handle.target.name && converter_.family() == kFamilyQmt) {
        // A file without a name part keeps the tracks' names.
        for (std::size_t k = 0; k < handle.target.tracks.size(); ++k) {
            converter_.song()->setName(handle.target.tracks[k], oldNames[k]);
        }
        if (!converter_.writeSong(kSongFilePart)) {
            log("imported " + path +
                " but could not keep the track names: " + messageOf(converter_.status()));
        }
    }
    if (status != kStatusOk) {
        std::string reason = messageOf(status);
        if (!converter_.volumeProblem().empty()) {
            reason += " (" + converter_.volumeProblem() + ")";
        }
        log("refused " + path + ": " + reason);
    } else {
        log("imported " + path);
    }
    std::string problem;
    if (!rebuild(problem)) {
        log("cannot read the disk again: " + problem);
    }
    return status == kStatusOk ? 0 : -errnoOfStatus(status);
}

int CMountedDisk::rename(const std::string& from, const std::string& to) {
    std::scoped_lock lock(decodeMutex_, mutex_);
    const Node node = find(from);
    if (node.kind == Node::missing) {
        return -ENOENT;
    }
    const auto fromParts = components(from);
    const auto toParts = components(to);
    if (node.kind != Node::trackFile || toParts.size() != 2 || toParts[0] != fromParts[0]) {
        return -EPERM;
    }
    const auto target = parseWaveTarget(toParts[1]);
    if (!target || target->tracks.size() != 1 || target->tracks[0] != node.track->virtualTrack ||
        lowerCase(target->extension) != ".wav") {
        return -EPERM;
    }
    if (settings_.readOnly) {
        return -EROFS;
    }
    const int v = node.track->virtualTrack;
    const SongNumber number = node.folder->number;
    if (!converter_.refreshSongList() || !converter_.refreshSong(number)) {
        log("cannot rename " + from + ": " + messageOf(converter_.status()));
        return -errnoOfStatus(converter_.status());
    }
    if (converter_.family() != kFamilyQmt) {
        log("cannot rename " + from + ": this disk family keeps no track names");
        return -EPERM;
    }
    int result = 0;
    switch (converter_.renameTrack(v, target->name.value_or(""))) {
        case CTrackConverter::RenameResult::undisplayable:
            log("cannot rename " + from + ": " + std::string(kUndisplayableNameMessage));
            return -EINVAL;
        case CTrackConverter::RenameResult::failed:
            log("cannot rename " + from + ": " + messageOf(converter_.status()));
            result = -errnoOfStatus(converter_.status());
            break;
        case CTrackConverter::RenameResult::unchanged:
        case CTrackConverter::RenameResult::renamed:
            break;
    }
    std::string problem;
    if (!rebuild(problem)) {
        log("cannot read the disk again: " + problem);
    }
    return result;
}

int CMountedDisk::fileSystemStatus(struct statvfs& status) {
    std::lock_guard lock(mutex_);
    status = {};
    constexpr unsigned long kBlock = 4096;
    status.f_bsize = kBlock;
    status.f_frsize = kBlock;
    status.f_namemax = 255;
    const auto free = readDisk_ ? readDisk_->freeBytes() : std::nullopt;
    const std::uint64_t blocks = free ? *free / kBlock : 0;
    status.f_blocks = blocks;
    status.f_bfree = blocks;
    status.f_bavail = settings_.readOnly ? 0 : blocks;
    if (settings_.readOnly) {
        status.f_flag |= ST_RDONLY;
    }
    return 0;
}

}  // namespace korvo::mount
