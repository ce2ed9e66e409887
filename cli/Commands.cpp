#include "cli/Commands.h"

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "app/StatusMessages.h"
#include "app/Version.h"
#include "cli/DemoDisk.h"
#include "cli/TerminalProgress.h"
#include "convert/TrackConverter.h"
#include "convert/TrackNames.h"
#include "disk/DiskLayout.h"
#include "disk/Status.h"

namespace korvo::cli {

namespace {

using nlohmann::json;

struct Options {
    std::string disk;
    std::string device;
    int partition = 0;
    bool quiet = false;
    bool json = false;
    int song = 0;
    std::vector<std::string> tracks;
    std::string output;
    std::string outputDir;
    std::string format;
    std::string file;
    std::string name;
};

// A failure of the engine: its message as the last line on standard error, its code as the
// exit status.
int failWith(int status) {
    std::cerr << statusMessage(status) << '\n';
    return status;
}

int usageError(const std::string& message) {
    std::cerr << "korvowav-cli: " << message << "\nRun 'korvowav-cli --help' for usage.\n";
    return kExitUsage;
}

const char* familyName(DiskFamily family) {
    switch (family) {
        case kFamilyQmt:
            return "QMT";
        case kFamilyKrv:
            return "KRV";
        case kFamilyQms:
            return "QMS";
        default:
            return "";
    }
}

// "T.V" with T and V in 1..8 -> virtual-track index.
std::optional<int> parseTrack(const std::string& text) {
    if (text.size() != 3 || text[1] != '.' || text[0] < '1' || text[0] > '8' || text[2] < '1' ||
        text[2] > '8') {
        return std::nullopt;
    }
    return virtualTrackIndex(text[0] - '0', text[2] - '0');
}

// The selected virtual tracks: at most two, never two of one track, ascending.
std::optional<std::vector<std::uint8_t>> selectedTracks(const Options& options,
                                                        std::string& problem) {
    std::vector<std::uint8_t> tracks;
    for (const auto& text : options.tracks) {
        const auto index = parseTrack(text);
        if (!index) {
            problem = "--track takes T.V with track and V.Track 1 to 8, not '" + text + "'";
            return std::nullopt;
        }
        tracks.push_back(static_cast<std::uint8_t>(*index));
    }
    if (tracks.empty() || tracks.size() > 2) {
        problem = "give one or two --track options";
        return std::nullopt;
    }
    if (tracks.size() == 2 && trackOf(tracks[0]) == trackOf(tracks[1])) {
        problem = "the two virtual tracks must be on different tracks";
        return std::nullopt;
    }
    std::sort(tracks.begin(), tracks.end());
    return tracks;
}

std::string nameText(const std::string& name) {
    return name.substr(0, name.find('\0'));
}

std::string trackLabel(int v) {
    return std::to_string(trackOf(v)) + "." + std::to_string(vtrackOf(v));
}

// The converter on the disk, with its song list read; nullopt status on success.
std::optional<int> openDisk(CTrackConverter& converter, const Options& options) {
    converter.setPolarity(true);
    converter.setRootPath(options.disk);
    converter.setDiskOptions(DiskOptions{options.device, options.partition});
    if (!converter.refreshSongList()) {
        return converter.status();
    }
    return std::nullopt;
}

// Disk, song list and the song the user named (N is the stored number plus one).
std::optional<int> openSong(CTrackConverter& converter, const Options& options) {
    if (auto failed = openDisk(converter, options)) {
        return failed;
    }
    if (options.song < 1 || options.song > 65536 ||
        !converter.refreshSong(static_cast<SongNumber>(options.song - 1))) {
        if (options.song < 1 || options.song > 65536) {
            converter.setStatus(kStatusInvalidSongNumber);
        }
        return converter.status();
    }
    return std::nullopt;
}

std::optional<int> waveTypeFor(const std::string& format, const std::string& path) {
    if (format == "wav") {
        return KorvoLib::Korvo::kWaveTypeRiff;
    }
    if (format == "aiff") {
        return KorvoLib::Korvo::kWaveTypeAiff;
    }
    std::string extension = std::filesystem::path(path).extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (extension == ".wav") {
        return KorvoLib::Korvo::kWaveTypeRiff;
    }
    if (extension == ".aif" || extension == ".aiff") {
        return KorvoLib::Korvo::kWaveTypeAiff;
    }
    return std::nullopt;
}

int commandInfo(const Options& options) {
    CTrackConverter converter;
    converter.setRootPath(options.disk);
    converter.setDiskOptions(DiskOptions{options.device, options.partition});
    const int check = converter.checkDisk();
    if (check != kDiskWritable && check != kDiskReadOnly) {
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

bool showProgress(const Options& options) {
    return !options.quiet && isatty(STDERR_FILENO);
}

// One export run as the window's export command runs it; the exit status.
int exportTracks(CTrackConverter& converter, const Options& options,
                 const std::vector<std::uint8_t>& tracks, const std::string& path, int fileType) {
    converter.setSelectedTracks(tracks);
    converter.computeExportRange();
    converter.setOutputWave(path, fileType);
    CTerminalProgress progress(showProgress(options));
    progress.setText("Exporting");
    converter.setProgress(&progress);
    const bool done = converter.runExport();
    converter.setProgress(nullptr);
    progress.finish();
    if (!done) {
        return failWith(converter.status());
    }
    if (CTerminalProgress::interrupted()) {
        std::cerr << "Interrupted: " << path << " holds the "
                  << converter.wave().frames / kFramesPerBlock << " blocks exported so far.\n";
        return kExitInterrupted;
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
        return usageError("cannot tell the file type from '" + options.output +
                          "'; name it .wav, .aif or .aiff, or give --format wav|aiff");
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

// A file name the host can store: separators and characters other systems refuse become '_'.
std::string hostFileName(const std::string& text) {
    std::string result;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        const bool refused = byte < 0x20 || byte == 0x7F ||
                             std::string_view("/\\:*?\"<>|").find(c) != std::string_view::npos;
        result += refused ? '_' : c;
    }
    return result;
}

int commandExportAll(const Options& options) {
    const std::string format = options.format.empty() ? "wav" : options.format;
    const auto fileType = waveTypeFor(format, "");
    if (!fileType) {
        return usageError("--format takes wav or aiff");
    }
    CTrackConverter converter;
    if (auto failed = openSong(converter, options)) {
        return failWith(*failed);
    }
    std::error_code error;
    std::filesystem::create_directories(options.outputDir, error);
    const std::string extension = *fileType == KorvoLib::Korvo::kWaveTypeAiff ? ".aif" : ".wav";
    int written = 0;
    for (int v = 0; v < kVirtualTracks; ++v) {
        if (!converter.song()->used(v)) {
            continue;
        }
        const std::string name = nameText(converter.song()->name(v));
        const std::string path = (std::filesystem::path(options.outputDir) /
                                  hostFileName(trackLabel(v) + " " + name + extension))
                                     .string();
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

int commandImport(const Options& options) {
    std::string problem;
    const auto tracks = selectedTracks(options, problem);
    if (!tracks) {
        return usageError(problem);
    }
    CTrackConverter converter;
    if (auto failed = openSong(converter, options)) {
        return failWith(*failed);
    }
    converter.setSelectedTracks(*tracks);
    if (options.file.empty() || !converter.openInputWave(options.file)) {
        return failWith(kStatusFailedReadWave);
    }
    converter.computeImportRange();
    CTerminalProgress progress(showProgress(options));
    progress.setText("Importing");
    converter.setProgress(&progress);
    const bool done = converter.runImport();
    converter.setProgress(nullptr);
    progress.finish();
    if (!done) {
        if (!converter.volumeProblem().empty()) {
            std::cerr << "korvowav-cli: " << converter.volumeProblem()
                      << ". Import needs to read the recorder volume for the new takes' "
                         "clusters: give yourself read access to that device, or work on an "
                         "image of the disk and pass the image as DISK.\n";
        }
        return failWith(converter.status());
    }
    if (CTerminalProgress::interrupted()) {
        std::cerr << "Interrupted: nothing was written to the recorder disk.\n";
        return kExitInterrupted;
    }
    if (!options.quiet) {
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
    CSong& song = *converter.song();
    if (song.isProtected()) {
        return failWith(kStatusSongProtected);
    }
    for (const char c : options.name) {
        if (static_cast<unsigned char>(c) & 0x80) {
            std::cerr << kUndisplayableNameMessage << '\n';
            return kExitNameRefused;
        }
    }
    const int v = tracks->front();
    const std::string name = options.name.substr(0, 8);
    const std::string old = song.name(v);
    if (name == nameText(old)) {
        if (!options.quiet) {
            std::cerr << trackLabel(v) << " is already named \"" << name
                      << "\"; nothing written.\n";
        }
        return 0;
    }
    song.setName(v, name);
    if (!converter.writeSong(kSongFilePart)) {
        song.setName(v, old);
        return failWith(kStatusFailedWriteSong);
    }
    if (song.family() != kFamilyQmt && !options.quiet) {
        std::cerr << "Note: this disk family keeps no track names; the recorder shows \""
                  << nameText(old) << "\".\n";
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
    // The common options belong to every command, so they may stand anywhere after it.
    const auto commonOptions = [&](CLI::App* command) {
        command->add_option("--device", options.device,
                            "raw volume for cluster chains when DISK is a folder");
        command
            ->add_option("--partition", options.partition,
                         "partition of a whole-disk image (1-based)")
            ->check(CLI::Range(1, 4));
        command->add_flag("--quiet", options.quiet, "no progress output");
    };
    const auto diskArgument = [&](CLI::App* command) {
        command->add_option("DISK", options.disk, "recorder disk: a folder, an image or a device")
            ->required();
        commonOptions(command);
    };
    const auto songOption = [&](CLI::App* command) {
        command->add_option("--song", options.song, "song number as shown (1 = the first)")
            ->required();
    };
    const auto trackOption = [&](CLI::App* command) {
        command->add_option("--track", options.tracks, "virtual track T.V (track, V.Track 1-8)")
            ->required()
            ->expected(1)
            ->allow_extra_args(false)
            ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    };

    auto* info = app.add_subcommand("info", "the disk's family, whether it is writable, songs");
    diskArgument(info);
    info->add_flag("--json", options.json, "print JSON");
    auto* songs = app.add_subcommand("songs", "the songs on the disk");
    diskArgument(songs);
    songs->add_flag("--json", options.json, "print JSON");
    auto* tracks = app.add_subcommand("tracks", "the 64 virtual tracks of a song");
    diskArgument(tracks);
    songOption(tracks);
    tracks->add_flag("--json", options.json, "print JSON");
    auto* exportCommand =
        app.add_subcommand("export", "virtual tracks into one wave file, a channel each");
    diskArgument(exportCommand);
    songOption(exportCommand);
    trackOption(exportCommand);
    exportCommand->add_option("--output", options.output, "wave file to write")->required();
    exportCommand->add_option("--format", options.format, "wav or aiff (else from the extension)")
        ->check(CLI::IsMember({"wav", "aiff"}));
    auto* exportAll = app.add_subcommand(
        "export-all", "every virtual track that holds data into its own mono file");
    diskArgument(exportAll);
    songOption(exportAll);
    exportAll->add_option("--output-dir", options.outputDir, "folder for the files")->required();
    exportAll->add_option("--format", options.format, "wav (default) or aiff")
        ->check(CLI::IsMember({"wav", "aiff"}));
    auto* importCommand = app.add_subcommand("import", "a wave file into virtual tracks");
    diskArgument(importCommand);
    songOption(importCommand);
    trackOption(importCommand);
    importCommand->add_option("FILE", options.file, "WAV or AIFF file to import")->required();
    auto* rename = app.add_subcommand("rename", "rename a virtual track");
    diskArgument(rename);
    songOption(rename);
    trackOption(rename);
    rename->add_option("NAME", options.name, "new name (7-bit ASCII, cut to 8 characters)")
        ->required();
    auto* demo = app.add_subcommand("make-demo-disk", "write a demo disk image");
    demo->add_option("IMAGE", options.disk, "image file to write")->required();
    demo->add_flag("--quiet", options.quiet, "no messages");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        const int exit = app.exit(error);
        return exit == 0 ? 0 : kExitUsage;
    }

    if (info->parsed())
        return commandInfo(options);
    if (songs->parsed())
        return commandSongs(options);
    if (tracks->parsed())
        return commandTracks(options);
    if (exportCommand->parsed())
        return commandExport(options);
    if (exportAll->parsed())
        return commandExportAll(options);
    if (importCommand->parsed())
        return commandImport(options);
    if (rename->parsed())
        return commandRename(options);
    if (demo->parsed())
        return commandMakeDemoDisk(options);
    return kExitUsage;
}

}  // namespace korvo::cli
