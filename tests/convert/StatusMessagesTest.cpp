#include "convert/StatusMessages.h"

#include <gtest/gtest.h>

namespace korvo {
namespace {

TEST(StatusMessages, TableReadsExactlyAsTheRecorderToolsShowIt) {
    EXPECT_EQ(statusMessage(1), "Not Korvo disk.");
    EXPECT_EQ(statusMessage(7), "Failed to write song.");
    EXPECT_EQ(statusMessage(13), "No free space on save target disk.");
    EXPECT_EQ(statusMessage(15),
              "Sampling frequency is not 44100Hz. Can't convert wave file to Korvo track.");
    EXPECT_EQ(statusMessage(16),
              "Specified wave is too short (< 1sec). Can't convert wave file to Korvo track.");
    EXPECT_EQ(statusMessage(18), "Event full. Can't create new event.");
}

TEST(StatusMessages, CodesOutsideTheTableHaveNoText) {
    EXPECT_TRUE(statusMessage(0).empty());
    EXPECT_TRUE(statusMessage(19).empty());
    EXPECT_TRUE(statusMessage(-1).empty());
    for (int code = 1; code <= 18; ++code) {
        EXPECT_FALSE(statusMessage(code).empty()) << code;
    }
}

}  // namespace
}  // namespace korvo
