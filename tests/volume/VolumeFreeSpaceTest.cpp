// Host free space through the platform description and the two free-space calls.

#include <gtest/gtest.h>
#include <sys/statvfs.h>

#include <vector>

#include "volume/FreeSpace.h"
#include "volume/HostVolume.h"

namespace korvo {
namespace {

class RecordingCalls final : public IFreeSpaceCalls {
public:
    bool hasNewer = true;
    std::optional<std::uint64_t> newerAnswer = 123456789012ull;
    std::optional<ClusterFreeSpace> olderAnswer = ClusterFreeSpace{8, 512, 1000};
    std::vector<std::string> newerPaths;
    std::vector<std::string> olderRoots;

    bool hasCallerFreeBytes() const override { return hasNewer; }
    std::optional<std::uint64_t> callerFreeBytes(const std::string& path) override {
        newerPaths.push_back(path);
        return newerAnswer;
    }
    std::optional<ClusterFreeSpace> clusterFreeSpace(const std::string& root) override {
        olderRoots.push_back(root);
        return olderAnswer;
    }
};

PlatformDescription platform(PlatformFamily family, std::uint32_t build) {
    return PlatformDescription{true, family, build};
}

TEST(VolumeFreeSpace, BuildsAbove1000AskTheNewerCallWithThePath) {
    for (auto family : {PlatformFamily::classic, PlatformFamily::modern}) {
        RecordingCalls calls;
        EXPECT_EQ(hostFreeBytes(platform(family, 1001), calls, "E:\\SONG0000.KRV"), 123456789012ull);
        EXPECT_EQ(calls.newerPaths, std::vector<std::string>{"E:\\SONG0000.KRV"});
        EXPECT_TRUE(calls.olderRoots.empty());
    }
}

TEST(VolumeFreeSpace, Build1000AsksTheOlderCallOnTheRoot) {
    RecordingCalls calls;
    EXPECT_EQ(hostFreeBytes(platform(PlatformFamily::classic, 1000), calls, "E:\\SONG0000.KRV"),
              8u * 512u * 1000u);
    EXPECT_EQ(calls.olderRoots, std::vector<std::string>{"E:\\"});
    EXPECT_TRUE(calls.newerPaths.empty());
}

TEST(VolumeFreeSpace, OnlyTheLow16BitsOfTheBuildNumberCount) {
    RecordingCalls calls;
    // 0x10003E8: high bits set, low 16 bits 1000.
    hostFreeBytes(platform(PlatformFamily::modern, 0x010003E8), calls, "C:\\");
    EXPECT_EQ(calls.olderRoots.size(), 1u);
}

TEST(VolumeFreeSpace, OlderAnswerIsNotCutTo32Bits) {
    RecordingCalls calls;
    // 64 × 512 × 200000 = 6 553 600 000 bytes, more than a 32-bit product can hold.
    calls.olderAnswer = ClusterFreeSpace{64, 512, 200000};
    EXPECT_EQ(hostFreeBytes(platform(PlatformFamily::classic, 950), calls, "C:\\"),
              6553600000ull);
}

TEST(VolumeFreeSpace, UnknownPlatformOrFailedCallsGiveNoAnswer) {
    RecordingCalls calls;
    EXPECT_FALSE(hostFreeBytes(PlatformDescription{false, PlatformFamily::modern, 2600}, calls, "C:\\"));
    EXPECT_FALSE(hostFreeBytes(platform(PlatformFamily::unknown, 2600), calls, "C:\\"));
    EXPECT_TRUE(calls.newerPaths.empty() && calls.olderRoots.empty());

    calls.hasNewer = false;  // the newer call is missing: no fall-back to the older one
    EXPECT_FALSE(hostFreeBytes(platform(PlatformFamily::modern, 2600), calls, "C:\\"));
    EXPECT_TRUE(calls.olderRoots.empty());

    calls.hasNewer = true;
    calls.newerAnswer.reset();
    EXPECT_FALSE(hostFreeBytes(platform(PlatformFamily::modern, 2600), calls, "C:\\"));
    calls.olderAnswer.reset();
    EXPECT_FALSE(hostFreeBytes(platform(PlatformFamily::classic, 900), calls, "C:\\"));
}

TEST(VolumeFreeSpace, RootIsThePathUpToItsFirstSeparatorFromTheThirdCharacterOn) {
    EXPECT_EQ(freeSpaceRoot("C:"), "C:\\");
    EXPECT_EQ(freeSpaceRoot("C:\\"), "C:\\");
    EXPECT_EQ(freeSpaceRoot("C:\\Music\\take.wav"), "C:\\");
    EXPECT_EQ(freeSpaceRoot("C:Music\\take.wav"), "C:Music\\");
    EXPECT_EQ(freeSpaceRoot("\\\\server\\share\\take.wav"), "\\\\server\\");
    EXPECT_EQ(freeSpaceRoot("/media/recorder"), "/media/");
    EXPECT_EQ(freeSpaceRoot(""), "\\");
}

TEST(VolumeFreeSpace, LinuxAnswersWithTheBytesAvailableToUnprivilegedCallers) {
    struct statvfs answer {};
    ASSERT_EQ(::statvfs("/tmp", &answer), 0);
    const auto bytes = hostFreeBytes("/tmp");
    ASSERT_TRUE(bytes);
    const std::uint64_t expected = std::uint64_t{answer.f_bavail} * answer.f_frsize;
    // Other processes may write meanwhile; a few megabytes either way is the same answer.
    EXPECT_NEAR(static_cast<double>(*bytes), static_cast<double>(expected), 64.0 * 1024 * 1024);
    EXPECT_FALSE(hostFreeBytes("/no/such/folder/anywhere"));
}

}  // namespace
}  // namespace korvo
