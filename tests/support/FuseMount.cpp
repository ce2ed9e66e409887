#include "tests/support/FuseMount.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "tests/support/Processes.h"

namespace korvo::test {
namespace {

using namespace std::chrono_literals;

// Runs a program with its output discarded; its exit status, or -1.
int runQuietly(const std::vector<std::string>& arguments, pid_t* background = nullptr) {
    const int process = startProgram(arguments, "", "");
    if (process < 0)
        return -1;
    if (background) {
        *background = process;
        return 0;
    }
    const int status = waitForProgram(process);
    return status >= 128 ? -1 : status;
}

bool onPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::string rest = path ? path : "";
    while (!rest.empty()) {
        const std::size_t colon = rest.find(':');
        const std::string folder = rest.substr(0, colon);
        if (!folder.empty() && access((folder + "/" + program).c_str(), X_OK) == 0)
            return true;
        rest = colon == std::string::npos ? "" : rest.substr(colon + 1);
    }
    return false;
}

}  // namespace

bool isMountPoint(const std::string& folder) {
    std::ifstream table("/proc/self/mountinfo");
    std::string line;
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string id, parent, device, root, point;
        fields >> id >> parent >> device >> root >> point;
        if (point == folder) {
            return true;
        }
    }
    return false;
}

FuseMount::FuseMount(const std::string& image, const std::string& folder) {
    std::error_code error;
    folder_ = std::filesystem::weakly_canonical(folder, error).string();
    if (!onPath("fusefat")) {
        whyNot_ = "fusefat is not installed: the folder route over a mounted image is not tested";
        return;
    }
    if (access("/dev/fuse", R_OK | W_OK) != 0) {
        whyNot_ =
            "/dev/fuse is missing or not usable here: the folder route over a mounted image "
            "is not tested";
        return;
    }
    std::filesystem::create_directories(folder_, error);
    if (runQuietly({"fusefat", "-f", "-o", "rw+", image, folder_}, &server_) != 0) {
        whyNot_ = "fusefat could not be started";
        return;
    }
    const auto until = std::chrono::steady_clock::now() + 5s;
    while (std::chrono::steady_clock::now() < until) {
        if (isMountPoint(folder_)) {
            mounted_ = true;
            return;
        }
        int status = 0;
        if (waitpid(server_, &status, WNOHANG) == server_) {
            server_ = -1;
            whyNot_ = "fusefat ended without mounting the image (FUSE not permitted here?)";
            return;
        }
        std::this_thread::sleep_for(20ms);
    }
    whyNot_ = "fusefat did not mount the image within 5 seconds";
    unmount();
}

FuseMount::~FuseMount() {
    unmount();
}

bool FuseMount::unmount() {
    if (server_ < 0)
        return !mounted_;
    const bool asked = runQuietly({"fusermount3", "-u", folder_}) == 0 ||
                       runQuietly({"fusermount", "-u", folder_}) == 0;
    bool ended = asked && awaitProgram(server_, 10s);
    if (!ended) {
        kill(server_, SIGKILL);
        awaitProgram(server_, 2s);
        runQuietly({"fusermount3", "-uz", folder_});
        runQuietly({"fusermount", "-uz", folder_});
    }
    server_ = -1;
    mounted_ = false;
    return ended;
}

void allowMtoolsOnFuseImages() {
    setenv("MTOOLS_SKIP_CHECK", "1", 1);
}

}  // namespace korvo::test
