#pragma once
// Other programs that write and read sound files (sox, ffmpeg, flac, libsndfile's tools), for
// tests that import what people really have and check what an export decodes to.
//
//   KORVO_SKIP_WITHOUT_TOOLS("sox", "ffmpeg");
//   ASSERT_TRUE(runTool({"ffmpeg", "-y", "-i", in, "-rf64", "always", out}));

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace korvo::test {

// Runs the program with the arguments (no shell); true when it exits with 0. Its output is
// discarded.
bool runTool(const std::vector<std::string>& arguments);
// What the program printed on standard output; empty when it failed.
std::string toolOutput(const std::vector<std::string>& arguments);
// Whether every named program is on the path.
bool toolsAvailable(const std::vector<std::string>& names);

}  // namespace korvo::test

#define KORVO_SKIP_WITHOUT_TOOLS(...)                                                      \
    do {                                                                                   \
        if (!::korvo::test::toolsAvailable({__VA_ARGS__})) {                               \
            GTEST_SKIP() << "sound tools missing (make deps installs them); skipping the " \
                            "check against files other programs write";                    \
        }                                                                                  \
    } while (false)
