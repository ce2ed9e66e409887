#pragma once
// A recorder disk seen as a tree of files, for the mount: one folder per song ("NN NAME"), in
// it one mono wave file per virtual track that holds data ("T.V NAME.wav") and song.json, and
// disk.json at the top. Every operation answers 0 or a negative errno, the way the FUSE adapter
// (mount/FuseAdapter.h) hands them to the kernel; nothing here knows about FUSE.
//
// Reading: a track's file holds exactly the bytes an export of that virtual track writes, made
// on demand from the blocks a read covers (CTrackReader::seek), with a small cache of decoded
// block runs. Writing: a wave file created under a track's name is staged in a host folder and
// imported on flush, through the converter, with every check of an import.
//
//   CMountedDisk disk({.disk = "recorder.img", .stagingFolder = "/tmp/korvowav-XXXX"});
//   if (!disk.load(problem)) ...
//   struct stat status;
//   disk.attributes("/01 SONG/1.1 GUITAR.wav", status, nullptr);
//   std::uint64_t handle;
//   disk.open("/01 SONG/1.1 GUITAR.wav", O_RDONLY, handle);
//   disk.read(handle, buffer, 65536, 0);
//   disk.release(handle);
//
// The FUSE loop calls in from many threads. The tree and the open files are guarded by one lock;
// decoding, and the disk's file system it reads (not thread safe), by a second one, so that a
// read served from the cache never waits for a decode. Writes take both.

#include <sys/stat.h>
#include <sys/statvfs.h>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "codec/BlockBuffer.h"
#include "convert/TrackConverter.h"
#include "convert/TrackReader.h"
#include "disk/DiskFiles.h"
#include "disk/Song.h"

namespace korvo::mount {

struct MountSettings {
    std::string disk;
    DiskOptions options;
    bool readOnly = false;
    // Host folder (off the recorder disk) where written files wait for their import.
    std::string stagingFolder;
    // Where the reasons for refused writes go (the mount's log).
    std::function<void(const std::string&)> log;
};

// What a file name in a song folder asks an import to do: one virtual track (mono file) or two
// (a stereo pair), and the name part the tracks take, if any.
struct WaveTarget {
    std::vector<std::uint8_t> tracks;
    std::optional<std::string> name;
    std::string extension;  // ".wav", ".aif" or ".aiff", as written
};
// "T.V[ NAME].wav|.aif|.aiff" or "T.V+T.V[ NAME].wav"; nullopt for any other name.
std::optional<WaveTarget> parseWaveTarget(const std::string& fileName);

class CMountedDisk {
public:
    explicit CMountedDisk(MountSettings settings);
    ~CMountedDisk();
    CMountedDisk(const CMountedDisk&) = delete;
    CMountedDisk& operator=(const CMountedDisk&) = delete;

    // Opens the disk and reads every song; false with a sentence when it cannot be mounted.
    bool load(std::string& problem);

    int attributes(const std::string& path, struct stat& status, const std::uint64_t* handle);
    int list(const std::string& path, std::vector<std::string>& names);
    int open(const std::string& path, int flags, std::uint64_t& handle);
    int create(const std::string& path, std::uint64_t& handle);
    // Bytes read (at most size), or a negative errno.
    long read(std::uint64_t handle, char* out, std::size_t size, std::uint64_t offset);
    long write(std::uint64_t handle, const char* data, std::size_t size, std::uint64_t offset);
    int truncate(const std::string& path, std::uint64_t length, const std::uint64_t* handle);
    // Imports a written file; the refusal's errno goes back to close().
    int flush(std::uint64_t handle);
    int release(std::uint64_t handle);
    int rename(const std::string& from, const std::string& to);
    int fileSystemStatus(struct statvfs& status);

private:
    struct TrackFile {
        int virtualTrack = 0;
        std::string fileName;
        std::uint32_t blocks = 0;  // export range end
        std::uint64_t size = 0;
    };
    struct SongFolder {
        SongNumber number = 0;
        std::string folderName;
        bool writable = false;
        std::shared_ptr<const CSong> song;
        std::vector<TrackFile> tracks;
        std::string json;
    };
    struct Node;
    struct Handle;
    struct TrackCursor;
    struct DecodedRun;

    // What a read of a track needs to know about it, taken under the tree's lock.
    struct TrackView {
        std::uint64_t generation = 0;
        SongNumber song = 0;
        int virtualTrack = 0;
        std::uint32_t blocks = 0;
        std::uint64_t size = 0;
        std::uint32_t sampleRate = 0;
    };

    bool rebuild(std::string& problem);
    Node find(const std::string& path) const;
    const TrackFile* findTrack(SongNumber song, int virtualTrack) const;
    long readTrack(const TrackView& track, char* out, std::size_t size, std::uint64_t offset);
    std::shared_ptr<const std::vector<char>> header(const TrackView& track);
    // The run from the cache, or decoded now; null when the track cannot be read (or changed).
    // Called with no lock held: the decode runs under decodeMutex_ only, so that cached runs
    // are served and the tree answers while a run decodes.
    std::shared_ptr<const DecodedRun> run(const TrackView& track, std::uint32_t index);
    std::shared_ptr<const DecodedRun> cachedRun(const TrackView& track, std::uint32_t index);
    std::shared_ptr<DecodedRun> decodeRun(const TrackView& track, std::uint32_t index);
    int startStaging(const SongFolder& folder, const std::string& path, const std::string& fileName,
                     std::uint64_t& handle);
    int importStaged(Handle& handle);
    // Asks for the runs after the one a sequential reader just got, decoded on a thread of its
    // own so that they are ready when the next reads ask for them.
    void readAhead(const TrackView& track, std::uint32_t index);
    void readAheadLoop();
    int errnoOfStatus(int status) const;
    void log(const std::string& line) const;

    MountSettings settings_;
    // Lock order: decodeMutex_ before mutex_. Whatever replaces the tree (a write) holds both;
    // a decode holds decodeMutex_ only, and the disk's files and the track readers are used
    // under it alone.
    std::mutex decodeMutex_;
    std::mutex mutex_;
    CTrackConverter converter_;
    std::unique_ptr<IDiskFiles> readDisk_;
    std::vector<SongFolder> songs_;
    std::uint64_t generation_ = 0;  // counts rebuilds: a cached run belongs to one tree
    std::string diskJson_;
    std::map<std::uint64_t, std::unique_ptr<Handle>> handles_;
    std::uint64_t nextHandle_ = 1;
    std::list<std::unique_ptr<TrackCursor>> cursors_;     // under decodeMutex_
    std::list<std::shared_ptr<DecodedRun>> runs_;         // under mutex_
    std::vector<std::shared_ptr<DecodedRun>> spareRuns_;  // under mutex_
    std::map<std::pair<SongNumber, int>, std::shared_ptr<const std::vector<char>>> headers_;
    struct timespec mounted_ {};
    std::thread readAhead_;
    std::condition_variable readAheadWanted_;
    std::optional<std::pair<TrackView, std::uint32_t>> readAheadRun_;
    bool ending_ = false;
};

}  // namespace korvo::mount
