// Earlier takes: `history` lists what the event list remembers of earlier imports and
// recordings, `export --group` writes a virtual track as one of them left it, `export-take`
// writes a take file whole, `restore` puts an earlier version back.

#include <CLI/CLI.hpp>
#include <cstdio>
#include <iostream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "cli/TerminalProgress.h"
#include "convert/TrackConverter.h"
#include "disk/DiskLayout.h"
#include "disk/SongHistory.h"
#include "disk/Status.h"
#include "disk/TakeFile.h"

namespace korvo::cli {

namespace {

using nlohmann::json;

const char* takeStateText(TakeState state) {
    switch (state) {
        case TakeState::present:
            return "present";
        case TakeState::missing:
            return "missing";
        case TakeState::tooShort:
            return "short";
        case TakeState::unchecked:
            return "unchecked";
        case TakeState::noAudio:
            break;
    }
    return "";
}

double seconds(std::uint32_t blocks, std::uint32_t sampleRate) {
    return sampleRate ? blocks * double{kFramesPerBlock} / sampleRate : 0.0;
}

// The one --track of history or restore; nullopt (with problem) when it is not one T.V.
std::optional<int> oneTrack(const Options& options, std::string& problem) {
    if (options.tracks.size() != 1) {
        problem = "give one --track";
        return std::nullopt;
    }
    const auto track = parseTrack(options.tracks.front());
    if (!track) {
        problem =
            "--track takes T.V with track and V.Track 1 to 8, not '" + options.tracks.front() + "'";
    }
    return track;
}

// The group the user named; nullopt with a usage message when the history has no such group.
const HistoryGroup* namedGroup(const CSongHistory& history, const Options& options,
                               std::string& problem) {
    const HistoryGroup* group = options.group > 0 && options.group <= 0xFFFF
                                    ? history.group(static_cast<std::uint16_t>(options.group))
                                    : nullptr;
    if (!group) {
        problem = "song " + std::to_string(options.song) + " has no history group " +
                  std::to_string(options.group) + " (it has " +
                  std::to_string(history.groups().size()) + ")";
    }
    return group;
}

std::string takeProblem(const HistoryEntry& entry, const HistoryGroup& group) {
    return takeFileName(entry.record.firstCluster) + " (" + trackLabel(entry.record.virtualTrack) +
           ", group " + std::to_string(group.number) + ") is " +
           (entry.take == TakeState::missing ? "missing from the disk" : "shorter than its event");
}

int commandHistoryOrphans(CTrackConverter& converter, const Options& options) {
    const CSong& song = *converter.song();
    const auto orphans = orphanTakes(*converter.disk(), song);
    if (!orphans) {
        return failWith(kStatusFailedReadSong);
    }
    const auto geometry = TakeGeometry::of(song.family(), song.blockWidth());
    json list = json::array();
    for (const OrphanTake& orphan : *orphans) {
        const std::uint32_t blocks =
            geometry ? takeBlocks(orphan.bytes, geometry->clusterBytes, geometry->blockBytes,
                                  geometry->blocksPerCluster)
                     : 0;
        if (options.json) {
            list.push_back({{"take", takeNumberText(orphan.take)},
                            {"take_file", orphan.fileName},
                            {"bytes", orphan.bytes},
                            {"blocks", blocks}});
        } else {
            std::printf("%s  %u blocks (%.1f s)\n", orphan.fileName.c_str(), blocks,
                        seconds(blocks, song.sampleRate()));
        }
    }
    if (options.json) {
        std::cout << list.dump() << '\n';
    } else if (orphans->empty()) {
        std::cout << "Every take file of song " << options.song << " is referred to.\n";
    }
    return 0;
}

int commandHistory(const Options& options) {
    std::optional<int> track;
    if (!options.tracks.empty()) {
        std::string problem;
        track = oneTrack(options, problem);
        if (!track) {
            return usageError(problem);
        }
    }
    CTrackConverter converter;
    if (auto failed = openSong(converter, options)) {
        return failWith(*failed);
    }
    if (options.orphans) {
        return commandHistoryOrphans(converter, options);
    }
    const CSong& song = *converter.song();
    const auto history = converter.history();
    json groups = json::array();
    for (const HistoryGroup& group : history->groups()) {
        if (track && !group.touches(*track)) {
            continue;
        }
        json records = json::array();
        json current = json::array();
        std::string currentText;
        for (int v = 0; v < kVirtualTracks; ++v) {
            if ((!track || v == *track) && group.isCurrent(song.events(), v)) {
                current.push_back(trackLabel(v));
                currentText += (currentText.empty() ? "" : ", ") + trackLabel(v);
            }
        }
        if (!options.json) {
            std::printf("Group %u%s\n", group.number,
                        currentText.empty() ? "" : ("  (now on " + currentText + ")").c_str());
        }
        for (const HistoryEntry& entry : group.entries) {
            const EventRecord& record = entry.record;
            if (track && record.virtualTrack != *track) {
                continue;
            }
            const bool hasTake = entry.hasTake();
            if (options.json) {
                records.push_back(
                    {{"kind", entry.isRange() ? "range" : "take"},
                     {"track", trackLabel(record.virtualTrack)},
                     {"index", record.virtualTrack},
                     {"start_block", record.start},
                     {"end_block", record.end},
                     {"offset", record.takeOffset},
                     {"take", hasTake ? json(takeNumberText(record.firstCluster)) : json()},
                     {"take_file", hasTake ? json(takeFileName(record.firstCluster)) : json()},
                     {"take_present", hasTake && entry.take == TakeState::present}});
            } else if (entry.isRange()) {
                std::printf("  %s  range  blocks %u-%u\n", trackLabel(record.virtualTrack).c_str(),
                            record.start, record.end);
            } else {
                const std::uint32_t blocks =
                    record.end > record.start ? record.end - record.start : 0;
                std::printf("  %s  take   blocks %u-%u  offset %u  %.1f s  %s %s\n",
                            trackLabel(record.virtualTrack).c_str(), record.start, record.end,
                            record.takeOffset, seconds(blocks, song.sampleRate()),
                            hasTake ? takeFileName(record.firstCluster).c_str() : "(no take)",
                            takeStateText(entry.take));
            }
        }
        groups.push_back({{"group", group.number}, {"records", records}, {"current", current}});
    }
    if (options.json) {
        std::cout << groups.dump() << '\n';
    } else if (groups.empty()) {
        std::cout << "Song " << options.song << " keeps no earlier takes"
                  << (track ? " of " + trackLabel(*track) : std::string()) << ".\n";
    }
    return 0;
}

// Runs one export call with the progress bar, as exportTracks does for the current events.
template <typename Run>
int exportWithProgress(CTrackConverter& converter, const Options& options, Run run) {
    CTerminalProgress progress(showProgress(options));
    progress.setText("Exporting");
    converter.setProgress(&progress);
    const bool done = run();
    converter.setProgress(nullptr);
    progress.finish();
    if (!done) {
        return failWith(converter.status());
    }
    if (CTerminalProgress::interrupted()) {
        std::cerr << "Interrupted: " << options.output << " holds the "
                  << converter.wave().frames / kFramesPerBlock << " blocks exported so far.\n";
        return kExitInterrupted;
    }
    if (!options.quiet) {
        std::cerr << "Wrote " << options.output << ": " << converter.wave().frames << " frames.\n";
    }
    return 0;
}

int commandExportTake(const Options& options) {
    const auto take = parseTakeName(options.take);
    if (!take) {
        return usageError("TAKE is a take's number (01A3) or file name (TAKE01A3.KRV), not '" +
                          options.take + "'");
    }
    const auto fileType = waveTypeFor(options.format, options.output);
    if (!fileType) {
        return usageError(fileTypeProblem(options.output));
    }
    CTrackConverter converter;
    if (auto failed = openSong(converter, options)) {
        return failWith(*failed);
    }
    if (converter.disk()->exists(converter.song()->path(takeFileName(*take))) !=
        FileExistence::present) {
        std::cerr << "korvowav-cli: song " << options.song << " has no take file "
                  << takeFileName(*take) << ".\n";
        return failWith(kStatusFailedReadTrack);
    }
    converter.setOutputWave(options.output, *fileType);
    return exportWithProgress(converter, options, [&] { return converter.runTakeExport(*take); });
}

int commandRestore(const Options& options) {
    std::string problem;
    const auto track = oneTrack(options, problem);
    if (!track) {
        return usageError(problem);
    }
    CTrackConverter converter;
    if (auto failed = openSong(converter, options)) {
        return failWith(*failed);
    }
    const auto history = converter.history();
    const HistoryGroup* group = namedGroup(*history, options, problem);
    if (!group) {
        return usageError(problem);
    }
    if (group->takeEvents(*track).empty()) {
        return usageError("history group " + std::to_string(group->number) + " placed nothing on " +
                          trackLabel(*track));
    }
    const auto unplayable = group->unplayable(*track);
    for (const HistoryEntry* entry : unplayable) {
        std::cerr << "korvowav-cli: " << takeProblem(*entry, *group)
                  << "; that version cannot be restored.\n";
    }
    if (!unplayable.empty()) {
        return failWith(kStatusFailedReadTrack);
    }
    if (group->isCurrent(converter.song()->events(), *track) && !options.quiet) {
        std::cerr << trackLabel(*track) << " already plays group " << group->number
                  << "; restoring it again.\n";
    }
    if (!converter.restoreGroup(*track, group->number)) {
        return failWith(converter.status());
    }
    if (!options.quiet) {
        std::cerr << "Restored " << trackLabel(*track) << " as history group " << group->number
                  << " left it; what it played before is history group "
                  << CSongHistory(converter.song()->events()).groups().size() << ".\n";
    }
    return 0;
}

}  // namespace

int exportGroup(const Options& options, const std::vector<std::uint8_t>& tracks, int fileType) {
    CTrackConverter converter;
    if (auto failed = openSong(converter, options)) {
        return failWith(*failed);
    }
    const auto history = converter.history();
    std::string problem;
    const HistoryGroup* group = namedGroup(*history, options, problem);
    if (!group) {
        return usageError(problem);
    }
    for (const std::uint8_t track : tracks) {
        if (group->takeEvents(track).empty()) {
            return usageError("history group " + std::to_string(group->number) +
                              " placed nothing on " + trackLabel(track));
        }
    }
    bool refused = false;
    for (const std::uint8_t track : tracks) {
        for (const HistoryEntry* entry : group->unplayable(track)) {
            if (options.allowMissing) {
                if (!options.quiet) {
                    std::cerr << "Note: " << takeProblem(*entry, *group)
                              << "; its event is exported as silence.\n";
                }
            } else {
                std::cerr << "korvowav-cli: " << takeProblem(*entry, *group)
                          << "; --allow-missing exports its events as silence.\n";
                refused = true;
            }
        }
    }
    if (refused) {
        return failWith(kStatusFailedReadTrack);
    }
    converter.setSelectedTracks(tracks);
    converter.setOutputWave(options.output, fileType);
    return exportWithProgress(converter, options, [&] {
        return converter.runGroupExport(group->number, options.allowMissing);
    });
}

void addHistoryCommands(CommandLine& line, CLI::App* exportCommand) {
    Options& options = line.options();
    exportCommand
        ->add_option("--group", options.group, "export the tracks as history group G left them")
        ->check(CLI::Range(1, 0xFFFF));
    exportCommand->add_flag("--allow-missing", options.allowMissing,
                            "with --group: export missing or short takes as silence");

    auto* history = line.add("history", "earlier takes: the song's history groups", commandHistory);
    line.diskArgument(history);
    line.songOption(history);
    history->add_option("--track", options.tracks, "only this virtual track T.V")
        ->expected(1)
        ->allow_extra_args(false);
    history->add_flag("--orphans", options.orphans,
                      "list the take files that nothing refers to instead");
    history->add_flag("--json", options.json, "print JSON");

    auto* exportTake =
        line.add("export-take", "one take file, whole, into a mono wave file", commandExportTake);
    line.diskArgument(exportTake);
    line.songOption(exportTake);
    exportTake->add_option("TAKE", options.take, "take number (01A3) or file name")->required();
    exportTake->add_option("--output", options.output, "wave file to write")->required();
    exportTake
        ->add_option("--format", options.format, "wav, aiff or flac (else from the extension)")
        ->check(CLI::IsMember({"wav", "aiff", "flac"}));

    auto* restore =
        line.add("restore", "make an earlier version of a virtual track current", commandRestore);
    line.diskArgument(restore);
    line.songOption(restore);
    line.trackOption(restore);
    restore->add_option("--group", options.group, "history group to bring back")
        ->required()
        ->check(CLI::Range(1, 0xFFFF));
}

}  // namespace korvo::cli
