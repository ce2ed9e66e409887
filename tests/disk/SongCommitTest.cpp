// The commit record on a host folder: a write stopped past its commit point is read as the new
// song and finished by the next open, one stopped before it is dropped, and what an interrupted
// import left (temporary takes) goes with the next write.

#include <gtest/gtest.h>

#include <memory>

#include "convert/TrackConverter.h"
#include "disk/Song.h"
#include "disk/SongCommit.h"
#include "tests/support/DiskFixture.h"
#include "tests/support/FaultyDiskFiles.h"
#include "volume/FolderDiskFiles.h"

namespace korvo {
namespace {

using test::DiskFixture;

struct CommitDisk {
    DiskFixture disk{kFamilyQmt};
    SongListEntry entry = test::songEntry(0, "COMMIT");
    CFolderDiskFiles files{disk.root(), {}};
    CommitDisk() {
        disk.addSong(entry);
        test::EventListDescription events;
        events.chains[3] = {test::takeEvent(3, 0, 100, 0x0040)};
        disk.setEvents(0, events);
    }
    std::unique_ptr<CSong> load() {
        auto song = std::make_unique<CSong>(entry, kFamilyQmt);
        return song->read(files) ? std::move(song) : nullptr;
    }
    // A song with a new name and a new event whose write stopped at the given write.
    CSong changed(const CSong& song) {
        CSong next = song;
        next.setName(3, "NEWNAME");
        EXPECT_TRUE(next.placeEvent(test::takeEvent(9, 0, 500, 0x0080)));
        return next;
    }
    std::string recordPath() const { return disk.songPath(0, kCommitRecordFileName); }
};

bool sameSong(const CSong& a, const CSong& b) {
    for (int v = 0; v < kVirtualTracks; ++v) {
        if (a.name(v) != b.name(v))
            return false;
    }
    return a.events().serialise() == b.events().serialise();
}

TEST(SongCommit, AWriteStoppedAfterItsCommitPointIsReadAsNewAndFinishedByTheNextOpen) {
    CommitDisk d;
    auto old = d.load();
    ASSERT_TRUE(old);
    const CSong next = d.changed(*old);
    // Writes: the event list's growth, the record, then the song file (refused here).
    test::FaultyDiskFiles faulty(d.files);
    faulty.failWriteNumber(3);
    bool committed = false;
    EXPECT_FALSE(next.write(faulty, kSongFilePart | kEventListPart, {}, committed));
    EXPECT_TRUE(committed);
    ASSERT_TRUE(d.disk.fileExists(d.recordPath()));

    // Read without touching the disk (as on a write-protected one): the new song.
    auto seen = d.load();
    ASSERT_TRUE(seen);
    EXPECT_TRUE(sameSong(*seen, next));

    // Opened by a command on a writable disk: finished on the disk, the record gone.
    CTrackConverter converter;
    converter.setRootPath(d.disk.root());
    ASSERT_TRUE(converter.refreshSongList());
    ASSERT_TRUE(converter.refreshSong(0));
    EXPECT_TRUE(sameSong(*converter.song(), next));
    EXPECT_FALSE(d.disk.fileExists(d.recordPath()));
    auto onDisk = d.load();
    ASSERT_TRUE(onDisk);
    EXPECT_TRUE(sameSong(*onDisk, next));
}

// The card went into the recorder after the commit point and the recorder rewrote the song:
// its event list is neither the old nor the new one, and the record must not undo its work.
TEST(SongCommit, ARecordNoLongerAppliesOnceTheRecorderChangedTheSong) {
    CommitDisk d;
    auto old = d.load();
    ASSERT_TRUE(old);
    const CSong next = d.changed(*old);
    test::FaultyDiskFiles faulty(d.files);
    faulty.failWriteNumber(3);
    bool committed = false;
    next.write(faulty, kSongFilePart | kEventListPart, {}, committed);
    ASSERT_TRUE(committed);
    test::EventListDescription recorded;
    recorded.chains[5] = {test::takeEvent(5, 0, 70, 0x0100)};
    d.disk.setEvents(0, recorded);
    const auto byRecorder = d.disk.readFile(d.disk.songPath(0, "EVENTLS0.KRV"));

    auto seen = d.load();
    ASSERT_TRUE(seen);
    EXPECT_EQ(seen->events().chain(5).count, 1);
    EXPECT_EQ(finishSongWrite(d.files, "SONG0000.QMT"), SongWriteRecovery::dropped);
    EXPECT_EQ(d.disk.readFile(d.disk.songPath(0, "EVENTLS0.KRV")), byRecorder);
    EXPECT_FALSE(d.disk.fileExists(d.recordPath()));
}

TEST(SongCommit, AnIncompleteRecordIsDroppedAndTheOldSongStands) {
    CommitDisk d;
    auto old = d.load();
    ASSERT_TRUE(old);
    SongCommit commit;
    commit.eventList = d.changed(*old).events().serialise();
    const test::Bytes whole = commit.serialise();
    for (std::size_t cut : {std::size_t{0}, std::size_t{11}, whole.size() / 2, whole.size() - 1}) {
        d.disk.writeFile(d.recordPath(), test::Bytes(whole.begin(), whole.begin() + cut));
        auto seen = d.load();
        ASSERT_TRUE(seen) << cut;
        EXPECT_TRUE(sameSong(*seen, *old)) << cut;
        EXPECT_EQ(finishSongWrite(d.files, "SONG0000.QMT"), SongWriteRecovery::dropped) << cut;
        EXPECT_FALSE(d.disk.fileExists(d.recordPath())) << cut;
    }
    test::Bytes damaged = whole;
    damaged[whole.size() / 2] ^= 0x01;
    EXPECT_FALSE(SongCommit::parse(damaged));
    EXPECT_TRUE(SongCommit::parse(whole));
}

TEST(SongCommit, TheNextWriteRemovesTemporaryTakesAndKeepsEverythingElse) {
    CommitDisk d;
    d.disk.writeFile(d.disk.songPath(0, "TAKEXXXX.KRV.TMP05"), test::Bytes(100, 1));
    d.disk.writeFile(d.disk.songPath(0, "takexxxx.krv.tmp63"), test::Bytes(100, 2));
    d.disk.writeFile(d.disk.songPath(0, "TAKE0040.KRV"), test::Bytes(100, 3));
    d.disk.writeFile(d.disk.songPath(0, "NOTES.TXT"), test::Bytes(10, 4));
    auto song = d.load();
    ASSERT_TRUE(song);
    song->setName(0, "X");
    ASSERT_TRUE(song->write(d.files, kSongFilePart));
    EXPECT_EQ(d.disk.listFolder(d.disk.songFolder(0)),
              (std::vector<std::string>{"EVENTLS0.KRV", "NOTES.TXT", "SONG.QMT", "TAKE0040.KRV"}));
}

}  // namespace
}  // namespace korvo
