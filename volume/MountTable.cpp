#include "volume/MountTable.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace korvo {

namespace {

// Undoes the kernel's escaping of space, tab, newline and backslash as three octal digits.
std::string decodeMountField(std::string_view field) {
    std::string out;
    out.reserve(field.size());
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            const auto isOctal = [](char c) { return c >= '0' && c <= '7'; };
            if (isOctal(field[i + 1]) && isOctal(field[i + 2]) && isOctal(field[i + 3])) {
                out += static_cast<char>(((field[i + 1] - '0') << 6) | ((field[i + 2] - '0') << 3) |
                                         (field[i + 3] - '0'));
                i += 3;
                continue;
            }
        }
        out += field[i];
    }
    return out;
}

std::vector<std::string_view> splitFields(std::string_view line) {
    std::vector<std::string_view> fields;
    std::size_t at = 0;
    while (at < line.size()) {
        while (at < line.size() && line[at] == ' ')
            ++at;
        const std::size_t start = at;
        while (at < line.size() && line[at] != ' ')
            ++at;
        if (at > start)
            fields.push_back(line.substr(start, at - start));
    }
    return fields;
}

// True when `path` is `folder` or lies below it.
bool holds(std::string_view folder, std::string_view path) {
    if (folder == "/")
        return !path.empty() && path.front() == '/';
    if (path.substr(0, folder.size()) != folder)
        return false;
    return path.size() == folder.size() || path[folder.size()] == '/';
}

bool isImageOrDevice(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return false;
    return S_ISREG(info.st_mode) || S_ISBLK(info.st_mode);
}

std::optional<std::string> readWhole(const std::string& path, std::size_t most) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::string text;
    char buffer[4096];
    while (text.size() < most && in.read(buffer, sizeof buffer).gcount() > 0) {
        text.append(buffer, static_cast<std::size_t>(in.gcount()));
    }
    return text;
}

std::string canonicalOr(const std::filesystem::path& path) {
    std::error_code error;
    auto canonical = std::filesystem::weakly_canonical(path, error);
    return error ? std::string() : canonical.lexically_normal().string();
}

}  // namespace

std::vector<MountEntry> parseMountInfo(std::string_view text) {
    std::vector<MountEntry> mounts;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);

        // id parent major:minor root mount-point options [optional...] - type source super
        const auto fields = splitFields(line);
        if (fields.size() < 10)
            continue;
        std::size_t dash = 6;
        while (dash < fields.size() && fields[dash] != "-")
            ++dash;
        if (dash + 2 >= fields.size())
            continue;

        MountEntry entry;
        entry.root = decodeMountField(fields[3]);
        entry.mountPoint = decodeMountField(fields[4]);
        entry.fileSystem = decodeMountField(fields[dash + 1]);
        entry.source = decodeMountField(fields[dash + 2]);
        if (entry.mountPoint.empty() || entry.mountPoint.front() != '/')
            continue;
        mounts.push_back(std::move(entry));
    }
    return mounts;
}

const MountEntry* mountHolding(const std::vector<MountEntry>& mounts, std::string_view path) {
    const MountEntry* best = nullptr;
    for (const auto& mount : mounts) {
        if (!holds(mount.mountPoint, path))
            continue;
        // Later lines are mounted over earlier ones at the same mount point.
        if (!best || mount.mountPoint.size() >= best->mountPoint.size())
            best = &mount;
    }
    return best;
}

std::optional<std::string> fuseImageOf(const MountEntry& mount) {
    const std::string mountPoint = canonicalOr(mount.mountPoint);
    if (mountPoint.empty())
        return std::nullopt;
    // "fuse.fusefat" is served by a program called fusefat.
    std::string program;
    if (const auto dot = mount.fileSystem.find('.'); dot != std::string::npos)
        program = mount.fileSystem.substr(dot + 1);

    DIR* processes = ::opendir("/proc");
    if (!processes)
        return std::nullopt;
    std::optional<std::string> image;
    while (!image) {
        const dirent* process = ::readdir(processes);
        if (!process)
            break;
        const std::string id = process->d_name;
        if (id.empty() || !std::isdigit(static_cast<unsigned char>(id.front())))
            continue;
        const std::string base = "/proc/" + id;

        const auto commandLine = readWhole(base + "/cmdline", 64 * 1024);
        if (!commandLine || commandLine->empty())
            continue;
        std::vector<std::string> arguments;
        for (std::size_t at = 0; at < commandLine->size();) {
            const std::size_t end = commandLine->find('\0', at);
            arguments.push_back(commandLine->substr(at, end - at));
            if (end == std::string::npos)
                break;
            at = end + 1;
        }
        if (!program.empty() &&
            std::filesystem::path(arguments.front()).filename().string() != program)
            continue;

        // The paths the program was started with. It may have changed its working folder since,
        // so a relative path is matched by how an absolute one ends.
        std::vector<std::filesystem::path> paths;
        for (std::size_t i = 1; i < arguments.size(); ++i) {
            if (arguments[i] == "-o") {
                ++i;  // the options that follow are not paths
            } else if (!arguments[i].empty() && arguments[i].front() != '-') {
                paths.push_back(std::filesystem::path(arguments[i]).lexically_normal());
            }
        }
        const auto names = [](const std::string& absolute, const std::filesystem::path& given) {
            if (given.is_absolute())
                return canonicalOr(given) == absolute;
            std::string tail = given.string();
            while (!tail.empty() && tail.back() == '/')
                tail.pop_back();
            return !tail.empty() && absolute.size() > tail.size() &&
                   absolute.compare(absolute.size() - tail.size(), tail.size(), tail) == 0 &&
                   absolute[absolute.size() - tail.size() - 1] == '/';
        };
        bool servesMount = false;
        for (const auto& path : paths)
            servesMount = servesMount || names(mountPoint, path);
        if (!servesMount)
            continue;

        // The image is the file it holds open under one of its paths.
        std::error_code error;
        for (std::filesystem::directory_iterator fd(base + "/fd", error), end; !error && fd != end;
             fd.increment(error)) {
            std::error_code linkError;
            const auto target = std::filesystem::read_symlink(fd->path(), linkError);
            if (linkError || !target.is_absolute() || !isImageOrDevice(target.string()))
                continue;
            const std::string open = target.lexically_normal().string();
            if (open == mountPoint)
                continue;
            for (const auto& path : paths) {
                if (names(open, path)) {
                    image = open;
                    break;
                }
            }
            if (image)
                break;
        }
    }
    ::closedir(processes);
    return image;
}

}  // namespace korvo
