#define FUSE_USE_VERSION 35

#include "mount/FuseAdapter.h"

#include <fuse3/fuse.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <vector>

#include "mount/MountedDisk.h"

extern char** environ;

namespace korvo::mount {

namespace {

CMountedDisk& mounted() {
    return *static_cast<CMountedDisk*>(fuse_get_context()->private_data);
}

void* initialise(struct fuse_conn_info* connection, struct fuse_config* config) {
    // Names and sizes change when a write imports or renames: ask the mount every time.
    config->entry_timeout = 0;
    config->attr_timeout = 0;
    config->negative_timeout = 0;
    config->use_ino = 0;
    config->nullpath_ok = 0;
    if (connection->capable & FUSE_CAP_ATOMIC_O_TRUNC) {
        connection->want |= FUSE_CAP_ATOMIC_O_TRUNC;
    }
    // Every open drops what the kernel cached of a file (no keep_cache), so a file is never
    // read stale; asking for its attributes again before every read would only halve a
    // sequential reader's speed.
    connection->want &= ~FUSE_CAP_AUTO_INVAL_DATA;
    return fuse_get_context()->private_data;
}

int getattr(const char* path, struct stat* status, struct fuse_file_info* file) {
    const std::uint64_t handle = file ? file->fh : 0;
    return mounted().attributes(path, *status, file ? &handle : nullptr);
}

int readdir(const char* path, void* buffer, fuse_fill_dir_t fill, off_t, struct fuse_file_info*,
            enum fuse_readdir_flags) {
    std::vector<std::string> names;
    if (const int result = mounted().list(path, names); result != 0) {
        return result;
    }
    for (const auto& name : names) {
        fill(buffer, name.c_str(), nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
    }
    return 0;
}

int open(const char* path, struct fuse_file_info* file) {
    std::uint64_t handle = 0;
    const int result = mounted().open(path, file->flags, handle);
    file->fh = handle;
    return result;
}

int create(const char* path, mode_t, struct fuse_file_info* file) {
    std::uint64_t handle = 0;
    const int result = mounted().create(path, handle);
    file->fh = handle;
    return result;
}

int read(const char*, char* out, size_t size, off_t offset, struct fuse_file_info* file) {
    return static_cast<int>(
        mounted().read(file->fh, out, size, static_cast<std::uint64_t>(offset)));
}

int write(const char*, const char* data, size_t size, off_t offset, struct fuse_file_info* file) {
    return static_cast<int>(
        mounted().write(file->fh, data, size, static_cast<std::uint64_t>(offset)));
}

int truncate(const char* path, off_t length, struct fuse_file_info* file) {
    const std::uint64_t handle = file ? file->fh : 0;
    return mounted().truncate(path, static_cast<std::uint64_t>(length), file ? &handle : nullptr);
}

int flush(const char*, struct fuse_file_info* file) {
    return mounted().flush(file->fh);
}

int release(const char*, struct fuse_file_info* file) {
    return mounted().release(file->fh);
}

int rename(const char* from, const char* to, unsigned int flags) {
    return flags != 0 ? -EINVAL : mounted().rename(from, to);
}

int statfs(const char*, struct statvfs* status) {
    return mounted().fileSystemStatus(*status);
}

// What the tree does not offer: deleting, folders, links, permissions.
int refuse() {
    return -EPERM;
}
int unlink(const char*) {
    return refuse();
}
int mkdir(const char*, mode_t) {
    return refuse();
}
int symlink(const char*, const char*) {
    return refuse();
}
int link(const char*, const char*) {
    return refuse();
}
int chmod(const char*, mode_t, struct fuse_file_info*) {
    return refuse();
}
int chown(const char*, uid_t, gid_t, struct fuse_file_info*) {
    return refuse();
}
// Setting times is accepted and ignored, so that copying programs that keep times do not fail.
int utimens(const char*, const struct timespec[2], struct fuse_file_info*) {
    return 0;
}

fuse_operations operations() {
    fuse_operations ops{};
    ops.init = initialise;
    ops.getattr = getattr;
    ops.readdir = readdir;
    ops.open = open;
    ops.create = create;
    ops.read = read;
    ops.write = write;
    ops.truncate = truncate;
    ops.flush = flush;
    ops.release = release;
    ops.rename = rename;
    ops.statfs = statfs;
    ops.unlink = unlink;
    ops.rmdir = unlink;
    ops.mkdir = mkdir;
    ops.symlink = symlink;
    ops.link = link;
    ops.chmod = chmod;
    ops.chown = chown;
    ops.utimens = utimens;
    return ops;
}

// A fresh host folder for written files waiting for their import.
std::string makeStagingFolder() {
    const char* temporary = std::getenv("TMPDIR");
    std::string pattern =
        std::string(temporary && *temporary ? temporary : "/tmp") + "/korvowav-mount-XXXXXX";
    return ::mkdtemp(pattern.data()) ? pattern : std::string();
}

}  // namespace

int serveMount(const MountRequest& request, std::ostream& messages) {
    std::error_code error;
    const std::string mountPoint = std::filesystem::absolute(request.mountPoint, error).string();
    if (!std::filesystem::is_directory(mountPoint, error)) {
        messages << "korvowav-cli: mount point " << request.mountPoint << " is not a folder\n";
        return 1;
    }
    const std::string staging = makeStagingFolder();
    if (staging.empty()) {
        messages << "korvowav-cli: cannot make a staging folder for written files: "
                 << std::strerror(errno) << '\n';
        return 1;
    }
    bool detached = false;
    MountSettings settings;
    // Absolute, since a detached mount serves from the root folder.
    settings.disk = std::filesystem::absolute(request.disk, error).string();
    settings.options = request.options;
    if (!settings.options.device.empty()) {
        settings.options.device = std::filesystem::absolute(settings.options.device, error);
    }
    settings.readOnly = request.readOnly;
    settings.stagingFolder = staging;
    settings.log = [&detached](const std::string& line) {
        if (detached) {
            syslog(LOG_NOTICE, "%s", line.c_str());
        } else {
            std::cerr << "korvowav-cli mount: " << line << std::endl;
        }
    };
    CMountedDisk disk(settings);
    std::string problem;
    if (!disk.load(problem)) {
        messages << "korvowav-cli: cannot mount " << request.disk << ": " << problem << '\n';
        std::filesystem::remove_all(staging, error);
        return 1;
    }

    std::vector<std::string> arguments = {"korvowav-cli", "-o", "fsname=korvowav:" + request.disk,
                                          "-o", "subtype=korvowav"};
    if (request.readOnly) {
        arguments.insert(arguments.end(), {"-o", "ro"});
    }
    std::vector<char*> argv;
    for (auto& argument : arguments) {
        argv.push_back(argument.data());
    }
    fuse_args args = FUSE_ARGS_INIT(static_cast<int>(argv.size()), argv.data());
    const fuse_operations ops = operations();
    fuse* session = fuse_new(&args, &ops, sizeof ops, &disk);
    int exit = 1;
    if (session == nullptr) {
        messages << "korvowav-cli: libfuse refused the mount options\n";
    } else if (fuse_mount(session, mountPoint.c_str()) != 0) {
        messages << "korvowav-cli: cannot mount on " << mountPoint
                 << " (is /dev/fuse usable and fusermount3 installed?)\n";
    } else {
        messages << "Mounted " << request.disk << " on " << mountPoint
                 << (request.readOnly ? " (read-only)" : "")
                 << "; unmount it with: korvowav-cli unmount " << mountPoint << std::endl;
        if (!request.foreground) {
            openlog("korvowav-cli", LOG_PID, LOG_USER);
            detached = true;
        }
        // The program's own Ctrl-C handling would keep libfuse from installing its own.
        signal(SIGINT, SIG_DFL);
        if (fuse_daemonize(request.foreground ? 1 : 0) == 0 &&
            fuse_set_signal_handlers(fuse_get_session(session)) == 0) {
            fuse_loop_config config{};
            config.clone_fd = 0;
            config.max_idle_threads = 10;
            exit = fuse_loop_mt(session, &config) == 0 ? 0 : 1;
            fuse_remove_signal_handlers(fuse_get_session(session));
        }
        fuse_unmount(session);
    }
    if (session != nullptr) {
        fuse_destroy(session);
    }
    fuse_opt_free_args(&args);
    std::filesystem::remove_all(staging, error);
    return exit;
}

int unmountFolder(const std::string& mountPoint, std::ostream& messages) {
    std::error_code error;
    std::string folder = std::filesystem::absolute(mountPoint, error).string();
    std::vector<std::string> arguments = {"fusermount3", "-u", folder};
    std::vector<char*> argv;
    for (auto& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawnp(&pid, "fusermount3", nullptr, nullptr, argv.data(), environ) != 0) {
        messages << "korvowav-cli: fusermount3 is not installed (Debian package fuse3)\n";
        return 1;
    }
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        messages << "korvowav-cli: could not unmount " << mountPoint << '\n';
        return 1;
    }
    return 0;
}

}  // namespace korvo::mount
