#include "tests/support/CliMount.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "tests/support/FatImages.h"
#include "tests/support/FuseMount.h"
#include "tests/support/Processes.h"

namespace korvo::test {

using namespace std::chrono_literals;

std::string fuseUnavailable() {
    if (access("/dev/fuse", R_OK | W_OK) != 0) {
        return "/dev/fuse is missing or not usable here: mounts are not tested";
    }
    if (runCommand("command -v fusermount3").status != 0) {
        return "fusermount3 (Debian package fuse3) is not installed: mounts are not tested";
    }
    return {};
}

CliMount::CliMount(const std::string& disk, const std::string& folder,
                   const std::vector<std::string>& options) {
    whyNot_ = fuseUnavailable();
    if (!whyNot_.empty()) {
        return;
    }
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    folder_ = std::filesystem::canonical(folder, error).string();
    logPath_ = folder_ + ".log";
    std::vector<std::string> arguments = {KORVOWAV_CLI_PATH, "mount", disk, folder_,
                                          "--foreground"};
    arguments.insert(arguments.end(), options.begin(), options.end());
    server_ = startProgram(arguments, "", logPath_);
    if (server_ < 0) {
        whyNot_ = "korvowav-cli could not be started";
        return;
    }
    const auto until = std::chrono::steady_clock::now() + 10s;
    while (std::chrono::steady_clock::now() < until) {
        if (isMountPoint(folder_)) {
            mounted_ = true;
            return;
        }
        if (awaitProgram(server_, 0ms)) {
            server_ = -1;
            whyNot_ = "korvowav-cli mount ended without mounting: " + log();
            return;
        }
        std::this_thread::sleep_for(10ms);
    }
    whyNot_ = "korvowav-cli mount did not mount within 10 seconds";
    kill();
}

CliMount::~CliMount() {
    if (server_ >= 0 && !unmount()) {
        kill();
    }
}

bool CliMount::unmount() {
    if (server_ < 0) {
        return !mounted_;
    }
    const bool asked =
        runCommand(std::string(KORVOWAV_CLI_PATH) + " unmount " + shellQuote(folder_)).status == 0;
    int exit = -1;
    const bool ended = asked && awaitProgram(server_, 10s, &exit);
    if (!ended) {
        return false;
    }
    server_ = -1;
    mounted_ = false;
    return exit == 0;
}

void CliMount::kill() {
    if (server_ >= 0) {
        ::kill(server_, SIGKILL);
        awaitProgram(server_, 5s);
        server_ = -1;
    }
    runCommand("fusermount3 -uz " + shellQuote(folder_) + " 2>/dev/null");
    mounted_ = false;
}

std::string CliMount::log() const {
    std::ifstream in(logPath_);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace korvo::test
