#pragma once
// The track converter: the one object through which the front ends (the window and the command
// line) reach a recorder disk. It holds the disk's root path and family, the song list, the
// loaded song, the selected virtual tracks, the wave description and block range of the command
// in progress, and the last status code. Every operation returns true or false and leaves the
// status (disk/Status.h); nothing throws.
//
//   CTrackConverter converter;
//   converter.setPolarity(true);
//   converter.setRootPath("/media/recorder");           // or a disk image
//   if (!converter.refreshSongList()) show(converter.status());
//   converter.refreshSong(songNumber);
//   converter.setSelectedTracks({0, 9});
//   converter.computeExportRange();
//   converter.setOutputWave("/tmp/take.wav", KorvoLib::Korvo::kWaveTypeRiff);
//   converter.setProgress(&progress);
//   if (!converter.runExport()) show(converter.status());

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "convert/ProgressUI.h"
#include "convert/WaveFileFactory.h"
#include "disk/DiskFiles.h"
#include "disk/DiskTypes.h"
#include "disk/Song.h"
#include "disk/SongHistory.h"
#include "disk/SongList.h"
#include "wavefile/WaveFile.h"

namespace korvo {

class CDiskLock;
class CTakeWriter;
struct TakeGeometry;

// The wave file of the command in progress.
struct WaveDescription {
    std::string path;
    int fileType = KorvoLib::Korvo::kWaveTypeRiff;
    std::uint16_t channels = 0;
    std::uint32_t sampleRate = 0;
    std::uint32_t frames = 0;
    // Read through the wave-file factory's reader rather than the engine's own.
    bool throughFactory = false;
};

class CTrackConverter {
public:
    CTrackConverter();
    ~CTrackConverter();
    CTrackConverter(const CTrackConverter&) = delete;
    CTrackConverter& operator=(const CTrackConverter&) = delete;

    // --- the disk ---------------------------------------------------------------------------
    // A folder (mount point or copy of the disk's files), a disk image or a block device.
    void setRootPath(const std::string& rootPath);
    const std::string& rootPath() const { return rootPath_; }
    // Raw device for cluster chains of a folder disk; partition of a whole-disk image.
    void setDiskOptions(const DiskOptions& options);
    // How a root path becomes disk files (openDiskFiles unless replaced, as tests do to put a
    // disk with chosen failures under the converter).
    using DiskOpener =
        std::function<std::unique_ptr<IDiskFiles>(const std::string&, const DiskOptions&)>;
    void setDiskOpener(DiskOpener opener) { opener_ = std::move(opener); }
    const DiskOptions& diskOptions() const { return options_; }
    // Readers and writers for what the engine's own wave files do not cover (other formats,
    // rates and depths on import, FLAC on export); none unless a front end gives one.
    void setWaveFileFactory(std::shared_ptr<IWaveFileFactory> factory) {
        factory_ = std::move(factory);
    }
    // The disk check: 0 writable, 1 not a recorder disk, 2 access denied, 3 read only.
    // Every operation on the disk holds a shared lock on it while it runs (volume/DiskLock.h),
    // and an exclusive one while it writes; a disk that another program writes is reported as
    // access denied, with the reason in lockProblem().
    int checkDisk();
    // Keeps the exclusive lock from the next check on until the converter ends (a mount,
    // which writes whenever a file is written into it).
    void holdWriteLock() { holdWriteLock_ = true; }
    // Why the disk's lock could not be taken (empty when it could).
    const std::string& lockProblem() const { return lockProblem_; }
    DiskFamily family() const { return family_; }
    IDiskFiles* disk() { return disk_.get(); }
    // Free bytes on the recorder disk; nullopt when that cannot be learnt.
    std::optional<std::uint64_t> diskFreeBytes();

    // --- songs ------------------------------------------------------------------------------
    bool refreshSongList();
    const SongList* songList() const { return songList_ ? &*songList_ : nullptr; }
    bool refreshSong(SongNumber number);
    // The same for a number that comes from a user or a stored setting: anything outside the
    // 16-bit song numbers gives status 12 (invalid song number) without touching the disk.
    bool refreshSongNumber(std::int64_t number);
    CSong* song() { return song_.get(); }
    const CSong* song() const { return song_.get(); }
    // Writes the loaded song's parts (kSongFilePart, kEventListPart); status 7 on failure.
    bool writeSong(int parts);

    // Renames a virtual track of the loaded song by the rules both front ends follow: a
    // protected song is refused (status 4), only 7-bit ASCII names are taken, a name is cut
    // to 8 characters, and an unchanged name writes nothing. On a failed write (status 7) the
    // song keeps its old name.
    enum class RenameResult { renamed, unchanged, undisplayable, failed };
    RenameResult renameTrack(int virtualTrack, const std::string& name);

    // --- the command ------------------------------------------------------------------------
    // Virtual-track indices, ascending, at most two, never two of one track.
    void setSelectedTracks(std::vector<std::uint8_t> tracks) { selected_ = std::move(tracks); }
    const std::vector<std::uint8_t>& selectedTracks() const { return selected_; }
    void setPolarity(bool invert) { polarity_ = invert ? 1 : 0; }
    bool polarity() const { return polarity_ != 0; }
    void setProgress(KorvoLib::Korvo::IProgressUI* progress) { progress_ = progress; }
    // Threads that export and import work with: 0 (the default) for the hardware's
    // concurrency, 1 for the calling thread alone. The output is the same for every count.
    void setThreads(int threads) { threads_ = threads < 0 ? 0 : threads; }
    int threads() const { return threads_; }

    const BlockRange& blockRange() const { return range_; }
    const WaveDescription& wave() const { return wave_; }

    // Export: block 0 to the last event end of the selected virtual tracks.
    void computeExportRange();
    // Size of the wave file that export would write, for the file type.
    std::uint64_t neededHostBytes(int fileType) const;
    // A new wave description for the output path and file type.
    void setOutputWave(const std::string& path, int fileType);
    bool runExport();

    // Import: reads the wave's kind, channels, rate and frame count; status 10 on failure.
    // A file the engine's readers accept goes through them unchanged, unless channels are
    // chosen or it has another rate and conversion is allowed. Anything else goes through the
    // wave-file factory: a 16-bit linear file at the song's rate as it is; one whose samples
    // must change only when the import choice allows conversion, else status 15 (only the
    // rate differs) or 10. The wave description then holds the converted channels and length.
    bool openInputWave(const std::string& path);
    void setImportChoice(ImportChoice choice) { choice_ = std::move(choice); }
    const ImportChoice& importChoice() const { return choice_; }
    // The last input file as the factory's decoder sees it (channels 0 when it could not).
    const SourceFormat& sourceFormat() const { return source_; }
    // Whether the last input file can be imported only with its samples changed (another rate
    // or depth), as far as the factory can tell.
    bool sourceNeedsConversion() const;
    void computeImportRange();
    // Whole clusters for every wave channel plus 16 clusters of reserve.
    std::uint64_t neededDiskBytes() const;
    bool runImport();

    // Earlier takes (convert/TrackHistory.cpp). The loaded song's history, each take looked up
    // on the disk (missing, short or present).
    std::optional<CSongHistory> history();
    // Exports the selected virtual tracks as history group `group` left them: its take events
    // at their start blocks, silence elsewhere, with export's fades and polarity, from block 0
    // to the group's last event end. A take that is missing or short refuses the export (status
    // 8) unless allowMissing, which plays its events as silence.
    bool runGroupExport(std::uint16_t group, bool allowMissing);
    // Exports one take file from its first block to its last as a mono wave.
    bool runTakeExport(std::uint16_t take);
    // Puts back group's take events of the virtual track as its current events, through place
    // event and the song write of import, so that what the track plays now goes to the history
    // in turn. Refused when a take is missing or short or the group placed nothing there (8),
    // on a protected song (4), a read-only disk (3) or a full event table (18).
    bool restoreGroup(int virtualTrack, std::uint16_t group);

    int status() const { return status_; }
    void setStatus(int status) { status_ = status; }
    // Why the recorder volume could not be read for cluster chains (empty when it could).
    const std::string& volumeProblem() const { return volumeProblem_; }

private:
    bool openDisk();
    bool takeLock();
    // The exclusive lock for a write, and back to the shared one after it.
    bool lockForWriting();
    void endWriting();
    // Settles what interrupted writes left in one song folder, or in all of them before a write
    // (recoverInterruptedWrites in disk/SongCommit.h); the exclusive lock is held.
    void recoverInterruptedWrites(std::optional<SongNumber> only = std::nullopt);
    void endOperation();
    // Held for the length of one public operation; the lock goes when the outermost one ends.
    class OperationLock {
    public:
        explicit OperationLock(CTrackConverter& converter) : converter_(converter) {
            ++converter_.operations_;
        }
        ~OperationLock() { converter_.endOperation(); }
        OperationLock(const OperationLock&) = delete;
        OperationLock& operator=(const OperationLock&) = delete;

    private:
        CTrackConverter& converter_;
    };
    // The steps of an import run (convert/TrackImport.cpp).
    bool checkImport();
    bool encodeTakes(std::vector<std::unique_ptr<CTakeWriter>>& writers, bool& cancelled);
    bool eventsForTakes(const std::vector<std::unique_ptr<CTakeWriter>>& writers,
                        const TakeGeometry& geometry, std::vector<EventRecord>& records);
    bool placeImportEvents(const std::vector<EventRecord>& records,
                           const std::vector<TakeRename>& takes, bool& committed);
    std::unique_ptr<KorvoLib::Korvo::IWaveFile> makeInputFile() const;
    std::unique_ptr<KorvoLib::Korvo::IWaveFile> makeOutputFile(int fileType) const;
    std::string exportTitle() const;
    std::uint32_t importRate() const;
    // Runs the export on a song that holds only the given events (convert/TrackHistory.cpp).
    bool runExportOf(std::unique_ptr<CSong> view, BlockRange range);

    std::string rootPath_;
    DiskOptions options_;
    DiskOpener opener_;
    std::unique_ptr<IDiskFiles> disk_;
    DiskFamily family_ = kFamilyNone;
    std::optional<SongList> songList_;
    std::unique_ptr<CSong> song_;
    std::vector<std::uint8_t> selected_;
    WaveDescription wave_;
    BlockRange range_;
    std::uint8_t polarity_ = 0;
    int status_ = 0;
    KorvoLib::Korvo::IProgressUI* progress_ = nullptr;
    int threads_ = 0;
    std::string volumeProblem_;
    std::unique_ptr<CDiskLock> lock_;
    bool holdWriteLock_ = false;
    int operations_ = 0;
    std::string lockProblem_;
    std::shared_ptr<IWaveFileFactory> factory_;
    ImportChoice choice_;
    SourceFormat source_;
};

}  // namespace korvo
