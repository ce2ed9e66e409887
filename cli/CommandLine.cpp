#include "cli/CommandLine.h"

#include <algorithm>
#include <iostream>

#include "cli/Commands.h"
#include "cli/Console.h"
#include "cli/ConversionFront.h"
#include "cli/TerminalProgress.h"
#include "convert/StatusMessages.h"
#include "disk/DiskLayout.h"
#include "disk/Status.h"

namespace korvo::cli {

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

void reportLockProblem(const CTrackConverter& converter) {
    if (!converter.lockProblem().empty()) {
        std::cerr << "korvowav-cli: " << converter.lockProblem() << '\n';
    }
}

// The converter on the disk, with its song list read; nullopt status on success.
std::optional<int> openDisk(CTrackConverter& converter, const Options& options) {
    converter.setPolarity(true);
    converter.setRootPath(options.disk);
    converter.setDiskOptions(DiskOptions{options.device, options.partition});
    if (!converter.refreshSongList()) {
        reportLockProblem(converter);
        return converter.status();
    }
    return std::nullopt;
}

// Disk, song list and the song the user named (N is the stored number plus one).
std::optional<int> openSong(CTrackConverter& converter, const Options& options) {
    // Every command on a song reads and writes other formats through the conversion front.
    useConversionFront(converter);
    if (auto failed = openDisk(converter, options)) {
        return failed;
    }
    if (!converter.refreshSongNumber(static_cast<std::int64_t>(options.song) - 1)) {
        return converter.status();
    }
    return std::nullopt;
}

namespace {

// FLAC is written by the conversion front; a build without it has no such file type.
std::optional<int> flacIfWritable() {
    if (!hasConversionFront()) {
        return std::nullopt;
    }
    return KorvoLib::Korvo::kWaveTypeFlac;
}

}  // namespace

std::optional<int> waveTypeFor(const std::string& format, const std::string& path) {
    if (format == "wav") {
        return KorvoLib::Korvo::kWaveTypeRiff;
    }
    if (format == "aiff") {
        return KorvoLib::Korvo::kWaveTypeAiff;
    }
    if (format == "flac") {
        return flacIfWritable();
    }
    const auto name = path.find_last_of("/\\");
    const auto dot = path.rfind('.');
    std::string extension = dot == std::string::npos || (name != std::string::npos && dot < name)
                                ? std::string()
                                : path.substr(dot);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (extension == ".wav") {
        return KorvoLib::Korvo::kWaveTypeRiff;
    }
    if (extension == ".aif" || extension == ".aiff") {
        return KorvoLib::Korvo::kWaveTypeAiff;
    }
    if (extension == ".flac") {
        return flacIfWritable();
    }
    return std::nullopt;
}

std::string fileTypeProblem(const std::string& path) {
    if (!hasConversionFront()) {
        const std::string types = "this build writes WAV and AIFF (no FLAC)";
        return path.empty() ? "--format takes wav or aiff: " + types
                            : "cannot write '" + path + "': name it .wav, .aif or .aiff, or " +
                                  "give --format wav|aiff; " + types;
    }
    return path.empty() ? std::string("--format takes wav, aiff or flac")
                        : "cannot tell the file type from '" + path +
                              "'; name it .wav, .aif, .aiff or .flac, or give --format "
                              "wav|aiff|flac";
}

bool showProgress(const Options& options) {
    return !options.quiet && standardErrorIsTerminal();
}

// One export run as the window's export command runs it; the exit status.
int exportTracks(CTrackConverter& converter, const Options& options,
                 const std::vector<std::uint8_t>& tracks, const std::string& path, int fileType) {
    converter.setSelectedTracks(tracks);
    converter.computeExportRange();
    converter.setOutputWave(path, fileType);
    converter.setThreads(options.threads);
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

void CommandLine::diskArgument(CLI::App* command) {
    command->add_option("DISK", options_.disk, "recorder disk: a folder, an image or a device")
        ->required();
    // The common options belong to every command, so they may stand anywhere after it.
    command->add_option("--device", options_.device,
                        "raw volume for cluster chains when DISK is a folder");
    command
        ->add_option("--partition", options_.partition, "partition of a whole-disk image (1-based)")
        ->check(CLI::Range(1, 4));
    command->add_flag("--quiet", options_.quiet, "no progress output");
}

void CommandLine::songOption(CLI::App* command) {
    command->add_option("--song", options_.song, "song number as shown (1 = the first)")
        ->required();
}

void CommandLine::trackOption(CLI::App* command) {
    command->add_option("--track", options_.tracks, "virtual track T.V (track, V.Track 1-8)")
        ->required()
        ->expected(1)
        ->allow_extra_args(false)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
}

void CommandLine::threadsOption(CLI::App* command) {
    command
        ->add_option("--threads", options_.threads,
                     "threads that convert (default: the processor's thread count)")
        ->check(CLI::Range(1, 256));
}

CLI::App* CommandLine::add(const std::string& name, const std::string& description,
                           std::function<int(const Options&)> run) {
    CLI::App* command = app_.add_subcommand(name, description);
    commands_.emplace_back(command, std::move(run));
    return command;
}

int CommandLine::runParsed() const {
    for (const auto& [command, run] : commands_) {
        if (command->parsed()) {
            return run(options_);
        }
    }
    return kExitUsage;
}

}  // namespace korvo::cli
