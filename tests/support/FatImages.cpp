#include "tests/support/FatImages.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>

#include "tests/support/Processes.h"

namespace korvo::test {

namespace {

std::string mtoolsPath(const std::string& path) { return shellQuote("::/" + path); }

// mtools refuses images whose geometry does not divide evenly unless told not to check.
constexpr const char* kMtoolsEnv = "MTOOLS_SKIP_CHECK=1 ";

}  // namespace

std::string shellQuote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'') quoted += "'\\''";
        else quoted += c;
    }
    return quoted + "'";
}

CommandResult runCommand(const std::string& command) {
    const ShellResult ran = runShell(command + " 2>&1");
    return CommandResult{ran.status, ran.output};
}

bool fatToolsAvailable() {
    static const bool available =
        runCommand("command -v mkfs.fat && command -v fsck.fat && command -v mcopy && "
                   "command -v mdir && command -v mshowfat && command -v mmd")
            .status == 0;
    return available;
}

std::uint64_t smallVolumeBytes(fat::FatType type, std::uint32_t clusterBytes) {
    switch (type) {
        case fat::FatType::fat12: return std::uint64_t{clusterBytes} * 1000 + (64 << 10);
        case fat::FatType::fat16: return std::uint64_t{clusterBytes} * 4200 + (256 << 10);
        case fat::FatType::fat32: return std::uint64_t{clusterBytes} * 66000 + (2 << 20);
    }
    return 0;
}

bool mkfsFat(const std::string& image, fat::FatType type, std::uint32_t clusterBytes,
             std::uint64_t volumeBytes) {
    const int bits = type == fat::FatType::fat12 ? 12 : type == fat::FatType::fat16 ? 16 : 32;
    std::ostringstream command;
    command << "rm -f " << shellQuote(image) << " && truncate -s " << volumeBytes << ' '
            << shellQuote(image) << " && mkfs.fat -F " << bits << " -s " << clusterBytes / 512
            << " -S 512 " << shellQuote(image);
    return runCommand(command.str()).status == 0;
}

FsckResult fsckFat(const std::string& image) {
    const CommandResult run = runCommand("fsck.fat -n " + shellQuote(image));
    return FsckResult{run.status, run.output};
}

bool mmd(const std::string& image, const std::string& folder) {
    return runCommand(std::string(kMtoolsEnv) + "mmd -i " + shellQuote(image) + ' ' + mtoolsPath(folder))
               .status == 0;
}

bool mcopyIn(const std::string& image, const std::string& hostFile, const std::string& path) {
    return runCommand(std::string(kMtoolsEnv) + "mcopy -o -i " + shellQuote(image) + ' ' +
                      shellQuote(hostFile) + ' ' + mtoolsPath(path))
               .status == 0;
}

bool mcopyBytesIn(const std::string& image, const std::vector<std::uint8_t>& bytes,
                  const std::string& path) {
    const std::string host = image + ".in";
    const bool ok = writeHostFile(host, bytes) && mcopyIn(image, host, path);
    std::remove(host.c_str());
    return ok;
}

std::optional<std::vector<std::uint8_t>> mcopyOut(const std::string& image, const std::string& path) {
    const std::string host = image + ".out";
    std::remove(host.c_str());
    const bool ok = runCommand(std::string(kMtoolsEnv) + "mcopy -n -i " + shellQuote(image) + ' ' +
                               mtoolsPath(path) + ' ' + shellQuote(host))
                        .status == 0;
    if (!ok) return std::nullopt;
    auto bytes = readHostFile(host);
    std::remove(host.c_str());
    return bytes;
}

std::optional<std::vector<std::uint32_t>> mshowfat(const std::string& image, const std::string& path) {
    const CommandResult run =
        runCommand(std::string(kMtoolsEnv) + "mshowfat -i " + shellQuote(image) + ' ' + mtoolsPath(path));
    if (run.status != 0) return std::nullopt;
    const std::size_t open = run.output.rfind('<');
    const std::size_t close = run.output.rfind('>');
    if (open == std::string::npos || close == std::string::npos || close < open) return std::nullopt;
    std::vector<std::uint32_t> clusters;
    std::istringstream ranges(run.output.substr(open + 1, close - open - 1));
    std::string range;
    while (ranges >> range) {
        const std::size_t dash = range.find('-');
        const std::uint32_t first = static_cast<std::uint32_t>(std::stoul(range.substr(0, dash)));
        const std::uint32_t last =
            dash == std::string::npos ? first : static_cast<std::uint32_t>(std::stoul(range.substr(dash + 1)));
        for (std::uint32_t c = first; c <= last; ++c) clusters.push_back(c);
    }
    return clusters;
}

std::optional<MdirListing> mdir(const std::string& image, const std::string& folder) {
    const CommandResult run =
        runCommand(std::string(kMtoolsEnv) + "mdir -a -i " + shellQuote(image) + ' ' + mtoolsPath(folder));
    if (run.status != 0) return std::nullopt;
    MdirListing listing;
    std::istringstream lines(run.output);
    std::string line;
    // Entry lines: 8 name characters, a space, 3 extension characters, then size or <DIR>,
    // date, time and, when there is one, the long name.
    while (std::getline(lines, line)) {
        if (line.size() < 13 || line[8] != ' ' || line[0] == ' ') continue;
        if (line.rfind("Directory for", 0) == 0 || line.rfind("Volume", 0) == 0) continue;
        std::string base = line.substr(0, 8);
        std::string ext = line.substr(9, 3);
        while (!base.empty() && base.back() == ' ') base.pop_back();
        while (!ext.empty() && ext.back() == ' ') ext.pop_back();
        if (base == "." || base == "..") continue;
        listing.shortNames.push_back(ext.empty() ? base : base + "." + ext);
        // The long name follows the time field ("hh:mm ").
        std::string longName;
        const std::size_t colon = line.find(':', 13);
        if (colon != std::string::npos && colon + 4 < line.size()) {
            longName = line.substr(colon + 4);
            while (!longName.empty() && longName.front() == ' ') longName.erase(0, 1);
        }
        listing.longNames.push_back(longName);
    }
    return listing;
}

bool imageFromFolder(const std::string& folder, const std::string& image, fat::FatType type,
                     std::uint32_t clusterBytes, std::uint64_t volumeBytes) {
    if (!mkfsFat(image, type, clusterBytes, volumeBytes)) return false;
    return runCommand("cd " + shellQuote(folder) + " && " + kMtoolsEnv + "mcopy -s -i " +
                      shellQuote(image) + " * ::/")
               .status == 0;
}

bool fsckFindingsHarmless(const std::string& output, std::string& offending) {
    std::istringstream lines(output);
    std::string line;
    bool chainLonger = false;
    bool freeCount = false;  // the line before was a wrong free-cluster count
    while (std::getline(lines, line)) {
        if (freeCount && line.find("Auto-correcting") != std::string::npos) {
            freeCount = false;
            continue;
        }
        freeCount = line.find("Free cluster summary wrong") != std::string::npos;
        if (line.empty() || line.rfind("fsck.fat", 0) == 0 || line.find(" files, ") != std::string::npos)
            continue;
        if (line[0] == '/') continue;  // the path a finding below is about
        if (line.find("cluster chain length is >") != std::string::npos) {
            chainLonger = true;
            continue;
        }
        if (chainLonger && line.find("Truncating file to") != std::string::npos) {
            chainLonger = false;
            continue;
        }
        chainLonger = false;
        static const char* harmless[] = {"Reclaimed", "unused cluster", "Leaving filesystem unchanged",
                                         "FATs differ but appear to be intact", "Using first FAT",
                                         "Free cluster summary", "Perform changes", "lost cluster",
                                         "Reclaim", "Dirty bit"};
        bool ok = false;
        for (const char* phrase : harmless) ok = ok || line.find(phrase) != std::string::npos;
        if (!ok) {
            offending = line;
            return false;
        }
    }
    return true;
}

bool InterruptedDevice::writeAt(std::uint64_t offset, const void* data, std::size_t n) {
    ++writes_;
    if (interrupted()) {
        if (writes_ == failAt_ && reorder_) loseUnflushedWrites();
        return false;
    }
    if (undo_ != nullptr) {
        std::vector<std::uint8_t> old(n);
        if (!inner_->readAt(offset, old.data(), n)) return false;
        undo_->replaced.emplace_back(offset, std::move(old));
    }
    if (reorder_) {
        const auto* bytes = static_cast<const std::uint8_t*>(data);
        lastWrite_ = {offset, std::vector<std::uint8_t>(bytes, bytes + n)};
    }
    return inner_->writeAt(offset, data, n);
}

bool InterruptedDevice::flush() {
    if (interrupted()) return false;
    ++flushes_;
    if (undo_ != nullptr) flushedUpTo_ = undo_->replaced.size();
    return true;
}

void InterruptedDevice::loseUnflushedWrites() {
    // Every write since the last flush is taken back, newest first, and only the most recent one
    // is put down again. The undo log keeps its entries: undoing them all later, newest first,
    // still gives the image from before.
    auto& replaced = undo_->replaced;
    if (replaced.size() <= flushedUpTo_ + 1) return;
    for (std::size_t i = replaced.size(); i-- > flushedUpTo_;)
        inner_->writeAt(replaced[i].first, replaced[i].second.data(), replaced[i].second.size());
    inner_->writeAt(lastWrite_.first, lastWrite_.second.data(), lastWrite_.second.size());
}

bool undoWrites(const std::string& image, UndoLog& undo) {
    auto device = openImageDevice(image);
    bool ok = device != nullptr;
    for (auto it = undo.replaced.rbegin(); ok && it != undo.replaced.rend(); ++it)
        ok = device->writeAt(it->first, it->second.data(), it->second.size());
    undo.replaced.clear();
    return ok;
}

std::unique_ptr<fat::IBlockTarget> openImageDevice(const std::string& image) {
    int error = 0;
    return fat::FileBlockDevice::open(image, true, &error);
}

std::vector<std::uint8_t> readHostFile(const std::string& path) {
    // In one read: images are hundreds of MiB (sparse), too many to take byte by byte.
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) return {};
    const std::streamoff size = in.tellg();
    if (size <= 0) return {};
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
    in.seekg(0);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    return bytes;
}

bool writeHostFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

}  // namespace korvo::test
