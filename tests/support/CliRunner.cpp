#include "tests/support/CliRunner.h"

#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "tests/support/Processes.h"

namespace korvo::testing {

namespace {

std::string readAll(const std::string& path) {
    std::string text;
    if (FILE* file = std::fopen(path.c_str(), "rb")) {
        char buffer[4096];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
            text.append(buffer, n);
        }
        std::fclose(file);
    }
    return text;
}

}  // namespace

std::string CliResult::lastErrorLine() const {
    std::size_t end = err.size();
    while (end > 0 && (err[end - 1] == '\n' || err[end - 1] == '\r')) {
        --end;
    }
    const auto start = err.rfind('\n', end == 0 ? 0 : end - 1);
    return err.substr(start == std::string::npos ? 0 : start + 1,
                      end - (start == std::string::npos ? 0 : start + 1));
}

namespace {

CliResult run(const std::vector<std::string>& prefix, const std::vector<std::string>& arguments);

}  // namespace

CliResult runCli(const std::vector<std::string>& arguments) {
    return run({}, arguments);
}

CliResult runCliKilledAfter(const std::vector<std::string>& arguments, int microseconds) {
    std::vector<std::string> words{KORVOWAV_CLI_PATH};
    words.insert(words.end(), arguments.begin(), arguments.end());
    CliResult result;
    const int process = korvo::test::startProgram(words, "", "");
    if (process >= 0) {
        usleep(static_cast<useconds_t>(microseconds));
        kill(process, SIGKILL);
        result.exitStatus = korvo::test::waitForProgram(process);
    }
    return result;
}

bool unprivilegedRunsPossible() {
    return geteuid() != 0 || access("/usr/bin/setpriv", X_OK) == 0;
}

CliResult runCliUnprivileged(const std::vector<std::string>& arguments) {
    if (geteuid() != 0) {
        return run({}, arguments);
    }
    return run({"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"}, arguments);
}

namespace {

CliResult run(const std::vector<std::string>& prefix, const std::vector<std::string>& arguments) {
    const auto folder = std::filesystem::temp_directory_path();
    const std::string stem = (folder / ("korvowav-cli-" + std::to_string(getpid()) + "-")).string();
    const std::string outPath = stem + "out";
    const std::string errPath = stem + "err";

    std::vector<std::string> words = prefix;
    words.push_back(KORVOWAV_CLI_PATH);
    words.insert(words.end(), arguments.begin(), arguments.end());
    CliResult result;
    const int process = korvo::test::startProgram(words, outPath, errPath);
    if (process >= 0) {
        result.exitStatus = korvo::test::waitForProgram(process);
    }
    result.out = readAll(outPath);
    result.err = readAll(errPath);
    std::filesystem::remove(outPath);
    std::filesystem::remove(errPath);
    return result;
}

}  // namespace

}  // namespace korvo::testing
