#pragma once
// What the commands of korvowav-cli share: the parsed options, the opening of a disk and a
// song, the virtual-track arguments, the export run, and the exit statuses. Each group of
// commands lives in a file of its own and adds itself to the command line through
// CommandLine::add, so that new commands do not crowd one file.

#include <CLI/CLI.hpp>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "convert/TrackConverter.h"
#include "convert/TrackNames.h"
#include "disk/DiskTypes.h"

namespace korvo::cli {

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
    // import: conversion of other rates and depths, the file's channels, one channel on two
    // tracks.
    bool convert = false;
    std::string channels;
    bool duplicate = false;
    int threads = 0;  // 0: the hardware's concurrency
    int group = 0;  // history group, 0 for the current events
    bool allowMissing = false;
    bool orphans = false;
    std::string take;
    std::string mountPoint;
    bool readOnly = false;
    bool foreground = false;
};

// A failure of the engine: its message as the last line on standard error, its code as the
// exit status.
int failWith(int status);
int usageError(const std::string& message);

// "T.V" with T and V in 1..8 -> virtual-track index.
std::optional<int> parseTrack(const std::string& text);
// The selected virtual tracks: at most two, never two of one track, ascending.
std::optional<std::vector<std::uint8_t>> selectedTracks(const Options& options,
                                                        std::string& problem);
// A stored name up to its first zero byte.
std::string nameText(const std::string& name);

// Says why the disk's lock was refused (another program writes the disk), if it was.
void reportLockProblem(const CTrackConverter& converter);

// The converter on the disk, with its song list read; nullopt status on success.
std::optional<int> openDisk(CTrackConverter& converter, const Options& options);
// Disk, song list and the song the user named (N is the stored number plus one).
std::optional<int> openSong(CTrackConverter& converter, const Options& options);

// The wave file type from --format, else from the file's extension (.wav, .aif, .aiff, .flac).
std::optional<int> waveTypeFor(const std::string& format, const std::string& path);
// Why waveTypeFor found no type for the path (or for --format alone when the path is empty).
std::string fileTypeProblem(const std::string& path);
bool showProgress(const Options& options);
// One export run as the window's export command runs it; the exit status.
int exportTracks(CTrackConverter& converter, const Options& options,
                 const std::vector<std::uint8_t>& tracks, const std::string& path, int fileType);

// The command line being built: the parser, the options every command fills, the common
// arguments, and each command with the function that runs it once parsed.
class CommandLine {
public:
    CommandLine(CLI::App& app, Options& options) : app_(app), options_(options) {}

    CLI::App& app() { return app_; }
    Options& options() { return options_; }

    // DISK and the options every disk command takes (--device, --partition, --quiet).
    void diskArgument(CLI::App* command);
    void songOption(CLI::App* command);
    void trackOption(CLI::App* command);
    // --threads N of the commands that convert audio.
    void threadsOption(CLI::App* command);

    // A new subcommand whose run function gives the exit status.
    CLI::App* add(const std::string& name, const std::string& description,
                  std::function<int(const Options&)> run);
    // The exit status of the command that was parsed.
    int runParsed() const;

private:
    CLI::App& app_;
    Options& options_;
    std::vector<std::pair<CLI::App*, std::function<int(const Options&)>>> commands_;
};

// Earlier takes (cli/HistoryCommands.cpp): history, export-take, restore, and export's --group
// and --allow-missing.
void addHistoryCommands(CommandLine& line, CLI::App* exportCommand);
// export --group: the tracks as that history group left them; the exit status.
int exportGroup(const Options& options, const std::vector<std::uint8_t>& tracks, int fileType);

}  // namespace korvo::cli
