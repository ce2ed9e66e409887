#pragma once
// `korvowav-cli mount DISK FOLDER --foreground` run as a child process, for tests of the
// mounted tree with the real program, the real kernel mount and real file tools.
//
//   CliMount mount(image, folder);                 // waits until the folder is mounted
//   if (!mount.mounted()) GTEST_SKIP() << mount.whyNot();
//   ... read and write files in folder ...
//   ASSERT_TRUE(mount.unmount());                  // korvowav-cli unmount; the mount ends
//   mount.log();                                   // what the mount wrote on standard error

#include <sys/types.h>

#include <string>
#include <vector>

namespace korvo::test {

class CliMount {
public:
    CliMount(const std::string& disk, const std::string& folder,
             const std::vector<std::string>& options = {});
    ~CliMount();
    CliMount(const CliMount&) = delete;
    CliMount& operator=(const CliMount&) = delete;

    bool mounted() const { return mounted_; }
    // Why there is no mount: a sentence for a skipped or failed test.
    const std::string& whyNot() const { return whyNot_; }
    // korvowav-cli unmount, then waits for the mount process; true when it ended with status 0.
    bool unmount();
    // SIGKILL to the mount process (a crash), then the dead mount is detached.
    void kill();
    pid_t pid() const { return server_; }
    std::string log() const;

private:
    std::string folder_;
    std::string logPath_;
    pid_t server_ = -1;
    bool mounted_ = false;
    std::string whyNot_;
};

// Why mounts cannot be tested here (no /dev/fuse, no fusermount3), or empty.
std::string fuseUnavailable();

}  // namespace korvo::test
