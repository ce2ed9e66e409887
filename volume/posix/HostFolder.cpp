#include "volume/HostFolder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>

namespace korvo {

HostEntry hostEntry(const std::string& path) {
    struct stat status;
    if (::stat(path.c_str(), &status) != 0) {
        return {errno == ENOENT   ? HostEntryKind::missing
                : errno == EACCES ? HostEntryKind::accessDenied
                                  : HostEntryKind::unreachable};
    }
    return {S_ISREG(status.st_mode)   ? HostEntryKind::regular
            : S_ISDIR(status.st_mode) ? HostEntryKind::folder
                                      : HostEntryKind::other};
}

std::optional<std::vector<std::string>> hostFolderNames(const std::string& folder, bool* denied) {
    if (denied) {
        *denied = false;
    }
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) {
        if (denied) {
            *denied = errno == EACCES;
        }
        return std::nullopt;
    }
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") {
            names.push_back(name);
        }
    }
    ::closedir(dir);
    return names;
}

bool sameHostFile(const std::string& a, const std::string& b) {
    struct stat first;
    struct stat second;
    return ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 &&
           first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

bool renameHostFile(const std::string& from, const std::string& to) {
    return ::rename(from.c_str(), to.c_str()) == 0;
}

std::optional<bool> renameHostFileKeepingTarget(const std::string& from, const std::string& to) {
#if defined(__linux__) && defined(RENAME_NOREPLACE)
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return true;
    }
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) {
        return false;
    }
#endif
    return std::nullopt;
}

bool makeHostFolder(const std::string& path) {
    return ::mkdir(path.c_str(), 0777) == 0;
}

bool syncHostFolder(const std::string& path) {
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        return false;
    }
    // Some hosts (and user-space drivers) cannot sync a folder; EINVAL says so and is no failure.
    const bool synced = ::fsync(fd) == 0 || errno == EINVAL || errno == ENOTSUP;
    ::close(fd);
    return synced;
}

std::optional<std::string> makeTemporaryFolder(const std::string& prefix) {
    std::error_code error;
    const auto base = std::filesystem::temp_directory_path(error);
    std::string folder = (error ? std::string("/tmp") : base.string()) + "/" + prefix + "XXXXXX";
    if (::mkdtemp(folder.data()) == nullptr) {
        return std::nullopt;
    }
    return folder;
}

void removeHostTree(const std::string& path) {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
}

}  // namespace korvo
