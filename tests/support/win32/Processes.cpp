#include "tests/support/Processes.h"

namespace korvo::test {

// The tools the tests compare against are Linux programs; none runs here.
int spawnProgram(const std::vector<std::string>&, const std::string&) {
    return -1;
}

int startProgram(const std::vector<std::string>&, const std::string&, const std::string&) {
    return -1;
}

int waitForProgram(int) {
    return -1;
}

bool awaitProgram(int, std::chrono::milliseconds, int*) {
    return true;
}

ShellResult runShell(const std::string&) {
    return {};
}

}  // namespace korvo::test
