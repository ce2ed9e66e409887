// Replays the saved fuzz inputs: every file under tests/fuzz/<harness>/ (inputs that once broke
// a parser, and a few seeds) goes through the same harness function the fuzzer runs. A parser
// that crashes, reads out of bounds (under the sanitizers) or breaks a promise fails the test.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "fuzz/Harnesses.h"
#include "tests/support/FatImages.h"

namespace korvo {
namespace fuzz {
// Test names and messages show the harness by its name.
void PrintTo(const Harness& harness, std::ostream* out) {
    *out << harness.name;
}
}  // namespace fuzz

namespace {

class FuzzReplay : public testing::TestWithParam<fuzz::Harness> {};

TEST_P(FuzzReplay, SavedInputsPassTheHarness) {
    const std::filesystem::path folder =
        std::filesystem::path(KORVOWAV_SOURCE_DIR) / "tests" / "fuzz" / GetParam().name;
    ASSERT_TRUE(std::filesystem::is_directory(folder)) << folder;
    std::vector<std::filesystem::path> inputs;
    for (const auto& item : std::filesystem::directory_iterator(folder)) {
        if (item.is_regular_file()) {
            inputs.push_back(item.path());
        }
    }
    std::sort(inputs.begin(), inputs.end());
    ASSERT_FALSE(inputs.empty()) << folder;
    for (const auto& input : inputs) {
        SCOPED_TRACE(input.string());
        const std::vector<std::uint8_t> bytes = test::readHostFile(input.string());
        EXPECT_EQ(GetParam().run(bytes.data(), bytes.size()), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Harnesses, FuzzReplay, testing::ValuesIn(fuzz::kHarnesses),
                         [](const testing::TestParamInfo<fuzz::Harness>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
}  // namespace korvo
