#include "tests/support/AudioTools.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "tests/support/Processes.h"

namespace korvo::test {

bool runTool(const std::vector<std::string>& arguments) {
    return !arguments.empty() && spawnProgram(arguments, "") == 0;
}

std::string toolOutput(const std::vector<std::string>& arguments) {
    const auto path = std::filesystem::temp_directory_path() /
                      ("korvowav-tool-" + std::to_string(std::random_device{}()) + ".out");
    const bool ran = !arguments.empty() && spawnProgram(arguments, path.string()) == 0;
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
