#include "tests/support/AudioTools.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace korvo::test {

namespace {

// Exit status of the program, its standard output into `outPath` (or nowhere).
int spawnTool(const std::vector<std::string>& arguments, const std::string& outPath) {
    std::vector<std::string> words = arguments;
    std::vector<char*> argv;
    for (auto& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.empty() ? "/dev/null" : outPath.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    int status = -1;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
        waitpid(pid, &status, 0);
        status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    return status;
}

}  // namespace

bool runTool(const std::vector<std::string>& arguments) {
    return !arguments.empty() && spawnTool(arguments, "") == 0;
}

std::string toolOutput(const std::vector<std::string>& arguments) {
    const auto path = std::filesystem::temp_directory_path() /
                      ("korvowav-tool-" + std::to_string(getpid()) + ".out");
    const bool ran = !arguments.empty() && spawnTool(arguments, path.string()) == 0;
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    std::filesystem::remove(path);
    return ran ? text.str() : std::string();
}

bool toolsAvailable(const std::vector<std::string>& names) {
    for (const auto& name : names) {
        if (!runTool({"sh", "-c", "command -v \"$0\"", name})) {
            return false;
        }
    }
    return true;
}

}  // namespace korvo::test
