#pragma once
// Runs the real korvowav-cli program for end-to-end tests and captures what it printed.
//
//   auto result = runCli({"songs", disk.string(), "--json"});
//   EXPECT_EQ(result.exitStatus, 0);
//   auto songs = nlohmann::json::parse(result.out);

#include <string>
#include <vector>

namespace korvo::testing {

struct CliResult {
    int exitStatus = -1;
    std::string out;
    std::string err;
    // The last non-empty line of standard error: where the status message goes.
    std::string lastErrorLine() const;
};

CliResult runCli(const std::vector<std::string>& arguments);
// The same, killed with SIGKILL after the delay unless it ended before; the exit status is then
// 128 + 9. Nothing it printed is kept.
CliResult runCliKilledAfter(const std::vector<std::string>& arguments, int microseconds);
// The same as an unprivileged user (nobody, through setpriv) when the tests run as root, so
// that file permissions apply; as the current user otherwise.
CliResult runCliUnprivileged(const std::vector<std::string>& arguments);
// Whether runCliUnprivileged really drops privileges (or never had them).
bool unprivilegedRunsPossible();

}  // namespace korvo::testing
