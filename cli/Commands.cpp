#include "cli/Commands.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "cli/CommandLine.h"
#include "cli/ConversionFront.h"
#include "cli/MountCommands.h"
#include "cli/TerminalProgress.h"
#include "convert/DemoDisk.h"
#include "convert/StatusMessages.h"
#include "convert/TrackConverter.h"
#include "convert/TrackNames.h"
#include "convert/Version.h"
#include "disk/DiskLayout.h"
#include "disk/Status.h"
#include "volume/HostFolder.h"

namespace korvo::cli {

namespace {

using nlohmann::json;

int commandInfo(const Options& options) {
    CTrackConverter converter;
    converter.setRootPath(options.disk);
    converter.setDiskOptions(DiskOptions{options.device, options.partition});
    const int check = converter.checkDisk();
    if (check != kDiskWritable && check != kDiskReadOnly) {
        reportLockProblem(converter);
        return failWith(check);
    }
    if (auto failed = openDisk(converter, options)) {
        return failWith(*failed);
    }
    const bool writable = check == kDiskWritable;
    const bool image = converter.disk()->kind() == DiskKind::image;
    const auto songs = converter.songList()->size();
    if (options.json) {
        std::cout << json{{"family", familyName(converter.family())},
                          {"writable", writable},
                          {"songs", songs},
                          {"kind", image ? "image" : "folder"}}
                         .dump()
                  << '\n';
    } else {
        std::cout << "Disk:     " << options.disk << (image ? " (image)" : " (folder)") << '\n'
                  << "Family:   " << familyName(converter.family()) << '\n'
                  << "Writable: " << (writable ? "yes" : "no") << '\n'
                  << "Songs:    " << songs << '\n';
    }
    return 0;
}

int commandSongs(const Options& options) {
    CTrackConverter converter;
    if (auto failed = openDisk(converter, options)) {
        return failWith(*failed);
    }
    json songs = json::array();
    for (const auto& [number, entry] : *converter.songList()) {
        const int width = entry.blockWidth();
        if (options.json) {
            songs.push_back({{"song", number + 1},
                             {"number", number},
                             {"name", entry.nameText()},
                             {"sample_rate", entry.sampleRate()},
                             {"data_type", dataTypeNameOfWidth(width)},
                             {"block_width", width},
                             {"protected", entry.isProtected()}});
        } else {
            std::printf("%-16s %6u Hz  %-3s%s\n", songListItemText(entry).c_str(),
                        entry.sampleRate(), dataTypeNameOfWidth(width),
                        entry.isProtected() ? "  protected" : "");
        }
    }
    if (options.json) {
        std::cout << songs.dump() << '\n';
    } else if (converter.songList()->empty()) {
        std::cout << kNoSongMessage << '\n';
    }
    return 0;
}

int commandTracks(const Options& options) {
    CTrackConverter converter;
    if (auto failed = openSong(converter, options)) {
        return failWith(*failed);
    }
    const CSong& song = *converter.song();
    json tracks = json::array();
    for (int v = 0; v < kVirtualTracks; ++v) {
        const auto end = song.events().trackExtent(v).end;
        const auto name = nameText(song.name(v));
        if (options.json) {
            tracks.push_back({{"track", trackOf(v)},
                              {"vtrack", vtrackOf(v)},
                              {"index", v},
                              {"name", name},
                              {"used", song.used(v)},
                              {"end_block", end}});
        } else {
            std::printf("%s  %-9s %s", trackLabel(v).c_str(), name.c_str(),
                        song.used(v) ? "data" : "    ");
            if (end != 0) {
                std::printf("  %u blocks (%.1f s)", end,
                            song.sampleRate() ? end * 16.0 / song.sampleRate() : 0.0);
            }
            std::printf("\n");
        }
    }
    if (options.json) {
        std::cout << tracks.dump() << '\n';
    }
    return 0;
}

int commandExport(const Options& options) {
    std::string problem;
    const auto tracks = selectedTracks(options, problem);
    if (!tracks) {
        return usageError(problem);
    }
    const auto fileType = waveTypeFor(options.format, options.output);
    if (!fileType) {
        return usageError(fileTypeProblem(options.output));
    }
    if (options.group != 0) {
        return exportGroup(options, *tracks, *fileType);
    }
    if (options.allowMissing) {
        return usageError("--allow-missing goes with --group");
    }
    CTrackConverter converter;
    if (auto failed = openSong(converter, options)) {
        return failWith(*failed);
    }
    const int exit = exportTracks(converter, options, *tracks, options.output, *fileType);
    if (exit == 0 && !options.quiet) {
        const auto& wave = converter.wave();
        std::cerr << "Wrote " << options.output << ": " << wave.channels << " channel"
                  << (wave.channels == 1 ? "" : "s") << ", " << wave.sampleRate << " Hz, "
                  << wave.frames << " frames.\n";
    }
    return exit;
}

int commandExportAll(const Options& options) {
    const std::string format = options.format.empty() ? "wav" : options.format;
    const auto fileType = waveTypeFor(format, "");
    if (!fileType) {
        return usageError(fileTypeProblem(""));
    }
    CTrackConverter converter;
    if (auto failed = openSong(converter, options)) {
        return failWith(*failed);
    }
    std::error_code error;
    std::filesystem::create_directories(hostPathOf(options.outputDir), error);
    const std::string extension = *fileType == KorvoLib::Korvo::kWaveTypeAiff   ? ".aif"
                                  : *fileType == KorvoLib::Korvo::kWaveTypeFlac ? ".flac"
                                                                                : ".wav";
    int written = 0;
    for (int v = 0; v < kVirtualTracks; ++v) {
        if (!converter.song()->used(v)) {
            continue;
        }
        const std::u8string joined =
            (hostPathOf(options.outputDir) /
             hostPathOf(exportAllFileName(*converter.song(), v, extension)))
                .u8string();
        const std::string path(joined.begin(), joined.end());
        const int exit =
            exportTracks(converter, options, {static_cast<std::uint8_t>(v)}, path, *fileType);
        if (exit != 0) {
            return exit;
        }
        std::cout << path << '\n';
        ++written;
    }
    if (written == 0 && !options.quiet) {
        std::cerr << "No virtual track of song " << options.song << " holds data.\n";
    }
    return 0;
}

// --channels "A" or "A,B" (1-based) as 0-based channels; nullopt when malformed.
std::optional<std::vector<std::uint16_t>> parseChannels(const std::string& text) {
    std::vector<std::uint16_t> channels;
    std::size_t start = 0;
    while (start <= text.size() && !text.empty()) {
        const auto comma = std::min(text.find(',', start), text.size());
        const std::string part = text.substr(start, comma - start);
        if (part.empty() || part.size() > 5 ||
            part.find_first_not_of("0123456789") != std::string::npos) {
            return std::nullopt;
        }
        const int number = std::stoi(part);
        if (number < 1 || number > 0xFFFF) {
            return std::nullopt;
        }
        channels.push_back(static_cast<std::uint16_t>(number - 1));
        start = comma + 1;
    }
    if (channels.empty() || channels.size() > 2) {
        return std::nullopt;
    }
    return channels;
}

// Before the status message of an import refused for its rate or depth: how to get it in.
void suggestConversion(const CTrackConverter& converter, const Options& options) {
    const int status = converter.status();
    if (options.convert || !converter.sourceNeedsConversion() ||
        (status != kStatusFailedReadWave && status != kStatusWrongSampleRate)) {
        return;
    }
    std::cerr << "korvowav-cli: " << options.file << " is "
              << describeSource(converter.sourceFormat()) << "; the song is "
              << converter.song()->sampleRate()
              << " Hz, 16-bit. Add --convert to convert it while importing.\n";
}

int commandImport(const Options& options) {
    std::string problem;
    const auto tracks = selectedTracks(options, problem);
    if (!tracks) {
        return usageError(problem);
    }
    if (!hasConversionFront() && (options.convert || !options.channels.empty())) {
        return usageError(std::string(options.convert ? "--convert" : "--channels") +
                          " needs the conversion front, which this build of korvowav-cli does "
                          "not have; it imports 16-bit WAV and AIFF files at the song's rate");
    }
    ImportChoice choice;
    choice.convert = options.convert;
    if (!options.channels.empty()) {
        const auto channels = parseChannels(options.channels);
        if (!channels) {
            return usageError(
                "--channels takes one or two channel numbers, A or A,B (1 = the "
                "first)");
        }
        choice.channels = *channels;
    }
    if (options.duplicate && tracks->size() != 2) {
        return usageError("--duplicate puts one channel on two tracks: give two --track");
    }
    CTrackConverter converter;
    if (auto failed = openSong(converter, options)) {
        return failWith(*failed);
    }
    converter.setSelectedTracks(*tracks);
    converter.setImportChoice(choice);
    const bool opened = !options.file.empty() && converter.openInputWave(options.file);
    const auto& source = converter.sourceFormat();
    for (const auto channel : choice.channels) {
        if (channel >= source.channels && source.channels != 0) {
            return usageError(options.file + " has " + std::to_string(source.channels) +
                              " channels; --channels counts them from 1");
        }
    }
    // A file that only the conversion front reads names the channels it wants, since the
    // track names tell two channels apart but not more.
    if (source.channels > 2 && choice.channels.empty() &&
        (!opened || converter.wave().throughFactory)) {
        return usageError(options.file + " has " + std::to_string(source.channels) +
                          " channels; choose one or two with --channels A[,B]");
    }
    if (options.duplicate && opened && converter.wave().channels != 1) {
        return usageError("--duplicate takes a one-channel file or one --channels");
    }
    if (!opened) {
        suggestConversion(converter, options);
        return failWith(options.file.empty() ? kStatusFailedReadWave : converter.status());
    }
    converter.computeImportRange();
    converter.setThreads(options.threads);
    CTerminalProgress progress(showProgress(options));
    progress.setText("Importing");
    converter.setProgress(&progress);
    const bool done = converter.runImport();
    converter.setProgress(nullptr);
    progress.finish();
    if (!done) {
        reportLockProblem(converter);
        if (!converter.volumeProblem().empty()) {
            std::cerr << "korvowav-cli: " << converter.volumeProblem()
                      << ". Import needs to read the recorder volume for the new takes' "
                         "clusters: give yourself read access to that device, or work on an "
                         "image of the disk and pass the image as DISK.\n";
        }
        suggestConversion(converter, options);
        return failWith(converter.status());
    }
    if (CTerminalProgress::interrupted()) {
        std::cerr << "Interrupted: nothing was written to the recorder disk.\n";
        return kExitInterrupted;
    }
    if (!options.quiet) {
        if (converter.wave().throughFactory && converter.sourceNeedsConversion()) {
            std::cerr << "Converted " << options.file << " from "
                      << describeSource(source) << " to " << converter.wave().sampleRate
                      << " Hz, 16-bit.\n";
        }
        for (const std::uint8_t v : *tracks) {
            std::cerr << "Imported " << options.file << " into " << trackLabel(v) << " as \""
                      << nameText(converter.song()->name(v)) << "\".\n";
        }
    }
    return 0;
}

int commandRename(const Options& options) {
    std::string problem;
    Options one = options;
    const auto tracks = selectedTracks(one, problem);
    if (!tracks || tracks->size() != 1) {
        return usageError(tracks ? "rename takes one --track" : problem);
    }
    CTrackConverter converter;
    if (auto failed = openSong(converter, options)) {
        return failWith(*failed);
    }
    const int v = tracks->front();
    const std::string old = nameText(converter.song()->name(v));
    switch (converter.renameTrack(v, options.name)) {
        case CTrackConverter::RenameResult::undisplayable:
            std::cerr << kUndisplayableNameMessage << '\n';
            return kExitNameRefused;
        case CTrackConverter::RenameResult::failed:
            reportLockProblem(converter);
            return failWith(converter.status());
        case CTrackConverter::RenameResult::unchanged:
            if (!options.quiet) {
                std::cerr << trackLabel(v) << " is already named \"" << old
                          << "\"; nothing written.\n";
            }
            return 0;
        case CTrackConverter::RenameResult::renamed:
            break;
    }
    if (converter.family() != kFamilyQmt && !options.quiet) {
        std::cerr << "Note: this disk family keeps no track names; the recorder shows \"" << old
                  << "\".\n";
    }
    return 0;
}

int commandMakeDemoDisk(const Options& options) {
    std::string message;
    if (!makeDemoDisk(options.disk, message)) {
        std::cerr << "korvowav-cli: " << message << '\n';
        return 1;
    }
    if (!options.quiet) {
        std::cerr << message << '\n';
    }
    return 0;
}

}  // namespace

int run(int argc, char** argv) {
    CTerminalProgress::catchInterrupt();
    Options options;
    CLI::App app{"korvowav-cli: move audio between a recorder disk and WAV/AIFF files",
                 "korvowav-cli"};
    app.set_version_flag("--version", std::string("korvowav-cli ") + KORVOWAV_VERSION_STRING);
    app.require_subcommand(1);
    // Paths such as /tmp/disk.img are arguments on every host, never options.
    app.allow_windows_style_options(false);
    CommandLine line(app, options);

    auto* info = line.add("info", "the disk's family, whether it is writable, songs", commandInfo);
    line.diskArgument(info);
    info->add_flag("--json", options.json, "print JSON");
    auto* songs = line.add("songs", "the songs on the disk", commandSongs);
    line.diskArgument(songs);
    songs->add_flag("--json", options.json, "print JSON");
    auto* tracks = line.add("tracks", "the 64 virtual tracks of a song", commandTracks);
    line.diskArgument(tracks);
    line.songOption(tracks);
    tracks->add_flag("--json", options.json, "print JSON");
    auto* exportCommand =
        line.add("export", "virtual tracks into one wave file, a channel each", commandExport);
    line.diskArgument(exportCommand);
    line.songOption(exportCommand);
    line.trackOption(exportCommand);
    exportCommand->add_option("--output", options.output, "wave file to write")->required();
    exportCommand
        ->add_option("--format", options.format, "wav, aiff or flac (else from the extension)")
        ->check(CLI::IsMember({"wav", "aiff", "flac"}));
    line.threadsOption(exportCommand);
    auto* exportAll =
        line.add("export-all", "every virtual track that holds data into its own mono file",
                 commandExportAll);
    line.diskArgument(exportAll);
    line.songOption(exportAll);
    exportAll->add_option("--output-dir", options.outputDir, "folder for the files")->required();
    exportAll->add_option("--format", options.format, "wav (default), aiff or flac")
        ->check(CLI::IsMember({"wav", "aiff", "flac"}));
    line.threadsOption(exportAll);
    auto* importCommand = line.add("import", "a wave file into virtual tracks", commandImport);
    line.diskArgument(importCommand);
    line.songOption(importCommand);
    line.trackOption(importCommand);
    importCommand->add_option("FILE", options.file, "wave, AIFF, FLAC, Ogg ... file to import")
        ->required();
    importCommand->add_flag("--convert", options.convert,
                            "convert another sample rate or bit depth to the song's");
    importCommand->add_option("--channels", options.channels,
                              "the file's channels to import: A or A,B (1 = the first)");
    importCommand->add_flag("--duplicate", options.duplicate,
                            "one channel onto both of two tracks");
    line.threadsOption(importCommand);
    auto* rename = line.add("rename", "rename a virtual track", commandRename);
    line.diskArgument(rename);
    line.songOption(rename);
    line.trackOption(rename);
    rename->add_option("NAME", options.name, "new name (7-bit ASCII, cut to 8 characters)")
        ->required();
    addHistoryCommands(line, exportCommand);
    addMountCommands(line);
    auto* demo = line.add("make-demo-disk", "write a demo disk image", commandMakeDemoDisk);
    demo->add_option("IMAGE", options.disk, "image file to write")->required();
    demo->add_flag("--quiet", options.quiet, "no messages");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        const int exit = app.exit(error);
        return exit == 0 ? 0 : kExitUsage;
    }
    return line.runParsed();
}

}  // namespace korvo::cli
