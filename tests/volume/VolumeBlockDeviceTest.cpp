// The classic access paths: register calls sent to a block device, answered here by a fake
// device that serves a hand-built FAT image, the way the real device serves a disk.

#include <gtest/gtest.h>

#include <cstring>

#include "tests/volume/VolumeTestImages.h"
#include "volume/ClusterChain.h"
#include "volume/LockLevel.h"

namespace korvo {
namespace {

using test::SparseImage;
using test::TestFatImage;

struct Call {
    std::uint32_t code;
    RegisterBlock registers;  // as sent
};

class FakeBlockDevice final : public IDeviceTransport {
public:
    explicit FakeBlockDevice(SparseImage& image) : image_(image) {}

    // What the device refuses: calls of category 48h, the device parameters of 48h (answered
    // with EAX = `largeParametersAnswer`), the lock of one level.
    bool refuseLargeCategory = false;
    bool refuseLargeParameters = false;
    std::uint32_t largeParametersAnswer = kAnswerInvalidFunction;
    int refuseLockAt = 99;
    int level = kUnlocked;
    std::vector<Call> calls;
    int opens = 0, closes = 0;

    bool open() override {
        ++opens;
        return true;
    }
    void close() override { ++closes; }

    bool control(std::uint32_t code, RegisterBlock& r, std::span<std::uint8_t> memory) override {
        calls.push_back({code, r});
        const bool ok = answer(code, r, memory);
        r.flags = ok ? 0 : kCarryFlag;
        return true;
    }

    std::vector<std::uint32_t> functions() const {
        std::vector<std::uint32_t> out;
        for (const auto& call : calls)
            if (call.code == kControlDosIoctl) out.push_back(call.registers.ecx);
        return out;
    }

private:
    bool answer(std::uint32_t code, RegisterBlock& r, std::span<std::uint8_t> memory) {
        if (code == kControlAbsoluteRead || code == kControlDriveServices) return readSector(r, memory);
        if (code != kControlDosIoctl || r.eax != kBlockDeviceRequest) return false;
        const std::uint8_t category = static_cast<std::uint8_t>(r.ecx >> 8);
        const std::uint8_t minor = static_cast<std::uint8_t>(r.ecx);
        if (category == kCategoryLarge && minor == kMinorDeviceParameters &&
            (refuseLargeParameters || refuseLargeCategory)) {
            r.eax = largeParametersAnswer;
            return false;
        }
        if (category == kCategoryLarge && refuseLargeCategory) return false;
        switch (minor) {
            case kMinorLock: {
                const int wanted = static_cast<std::int8_t>(r.ebx >> 8);
                if (wanted == refuseLockAt) return false;
                level = wanted;
                return true;
            }
            case kMinorUnlock:
                level = level == 1 ? kUnlocked : level - 1;
                return true;
            case kMinorLockState:
                r.eax = static_cast<std::uint16_t>(level);
                r.ecx = 0;
                return true;
            case kMinorMediaId: {
                std::uint8_t boot[512];
                image_.readAt(0, boot, sizeof boot);
                const bool fat32 = std::memcmp(boot + fat::boot::kFsType32, "FAT32", 5) == 0;
                if (!inside(memory, r.edx, media_id::kSize)) return false;
                std::memcpy(&memory[r.edx + media_id::kFileSystem],
                            boot + (fat32 ? fat::boot::kFsType32 : fat::boot::kFsType16), 8);
                return true;
            }
            case kMinorDeviceParameters: {
                const std::size_t size = category == kCategoryLarge
                                             ? device_parameters::kExtendedBlockSize
                                             : device_parameters::kClassicBlockSize;
                if (!inside(memory, r.edx, device_parameters::kParameterBlock + size)) return false;
                image_.readAt(device_parameters::kBootSectorOffset,
                              &memory[r.edx + device_parameters::kParameterBlock], size);
                return true;
            }
            case kMinorFirstCluster: {
                std::string path;
                for (std::uint32_t at = r.edx; at < memory.size() && memory[at] != 0; ++at)
                    path += static_cast<char>(memory[at]);
                test::MemoryVolumeFile file(image_);
                const auto first = file.firstCluster(path);
                if (!first) return false;
                r.eax = *first & 0xFFFF;
                r.edx = *first >> 16;
                return true;
            }
            default: return false;
        }
    }

    bool readSector(RegisterBlock& r, std::span<std::uint8_t> memory) {
        if (!inside(memory, r.ebx, packet::kSize)) return false;
        const std::uint8_t* request = &memory[r.ebx];
        const std::uint32_t sector = readLittleEndian32(request + packet::kStartSector);
        const std::uint32_t count = readLittleEndian16(request + packet::kSectorCount);
        const std::uint32_t buffer = readLittleEndian32(request + packet::kBuffer);
        if (count != 1 || !inside(memory, buffer, 512)) return false;
        return image_.readAt(std::uint64_t{sector} * 512, &memory[buffer], 512);
    }

    static bool inside(std::span<std::uint8_t> memory, std::uint32_t at, std::size_t n) {
        return at <= memory.size() && n <= memory.size() - at;
    }

    SparseImage& image_;
};

PlatformDescription classic(std::uint32_t build) {
    return PlatformDescription{true, PlatformFamily::classic, build};
}

constexpr std::uint32_t kDriveE = driveNumberOf('e');

TEST(VolumeBlockDevice, OlderBuildsUseTheClassicCallsAndReadTheSameChain) {
    TestFatImage fat(TestFatImage::fat16(40000));
    fat.linkChain({7, 8, 300, 9});
    fat.addRootFile("TAKE0007KRV", 7, 4 * 2048);
    FakeBlockDevice device(fat.image());
    CVolume volume(classic(950), kDriveE, nullptr, &device);

    std::vector<std::uint16_t> chain;
    ASSERT_TRUE(clusterChain(volume, "TAKE0007.KRV", chain));
    EXPECT_EQ(chain, (std::vector<std::uint16_t>{7, 8, 300, 9}));
    EXPECT_EQ(volume.accessPath(), AccessPath::blockDevice);
    EXPECT_EQ(volume.fatBits(), 16);
    EXPECT_EQ(device.opens, device.closes);

    bool sawRead = false;
    for (const auto& call : device.calls) {
        if (call.code == kControlDosIoctl) {
            EXPECT_EQ(call.registers.ecx >> 8, kCategoryClassic);
            if ((call.registers.ecx & 0xFF) != kMinorFirstCluster) {
                EXPECT_EQ(call.registers.ebx & 0xFF, 5u);  // BL: drive E
            }
        } else {
            EXPECT_EQ(call.code, kControlAbsoluteRead);
            EXPECT_EQ(call.registers.eax, 4u);  // drive E, 0-based
            EXPECT_EQ(call.registers.ecx, 0xFFFFu);
            sawRead = true;
        }
    }
    EXPECT_TRUE(sawRead);
}

TEST(VolumeBlockDevice, NewerBuildsReadThroughTheDriveServicesInTheLargeCategory) {
    TestFatImage fat(TestFatImage::fat32(80000));
    fat.linkChain({3, 70000, 4});
    fat.addRootFile("TAKE0003KRV", 3, 3 * 512);
    FakeBlockDevice device(fat.image());
    CVolume volume(classic(1111), kDriveE, nullptr, &device);

    std::vector<std::uint16_t> chain;
    ASSERT_TRUE(clusterChain(volume, "TAKE0003.KRV", chain));
    EXPECT_EQ(chain, (std::vector<std::uint16_t>{3, 70000 - 65536, 4}));
    EXPECT_EQ(volume.accessPath(), AccessPath::largeBlockDevice);
    for (const auto& call : device.calls) {
        if (call.code == kControlDosIoctl) {
            EXPECT_EQ(call.registers.ecx >> 8, kCategoryLarge);
        } else {
            EXPECT_EQ(call.code, kControlDriveServices);
            EXPECT_EQ(call.registers.eax, kDriveServicesReadWrite);
            EXPECT_EQ(call.registers.ecx, 0xFFFFFFFFu);
            EXPECT_EQ(call.registers.edx, 5u);
            EXPECT_EQ(call.registers.esi, 0u);
        }
    }
}

TEST(VolumeBlockDevice, ClassicCategoryStandsInForTheLargeOneOnlyBelowFat32) {
    TestFatImage fat16(TestFatImage::fat16(40000));
    fat16.linkChain({7});
    fat16.addRootFile("TAKE0007KRV", 7, 100);
    FakeBlockDevice device16(fat16.image());
    device16.refuseLargeCategory = true;
    CVolume volume16(classic(1111), kDriveE, nullptr, &device16);
    std::vector<std::uint16_t> chain;
    EXPECT_TRUE(clusterChain(volume16, "TAKE0007.KRV", chain));
    EXPECT_EQ(chain, std::vector<std::uint16_t>{7});
    // Every call was tried as 48h first, then as 08h.
    const auto functions = device16.functions();
    for (std::size_t i = 0; i + 1 < functions.size(); i += 2) {
        EXPECT_EQ(functions[i] >> 8, kCategoryLarge);
        EXPECT_EQ(functions[i + 1], (functions[i] & 0xFF) | (kCategoryClassic << 8));
    }

    TestFatImage fat32(TestFatImage::fat32(80000));
    fat32.linkChain({3});
    fat32.addRootFile("TAKE0003KRV", 3, 100);
    FakeBlockDevice device32(fat32.image());
    device32.refuseLargeCategory = true;
    CVolume volume32(classic(1111), kDriveE, nullptr, &device32);
    // The media ID still falls back and names FAT32, after which 08h is not tried.
    EXPECT_FALSE(clusterChain(volume32, "TAKE0003.KRV", chain));
    EXPECT_TRUE(chain.empty());
    const auto functions32 = device32.functions();
    ASSERT_GE(functions32.size(), 2u);
    EXPECT_EQ(functions32[0], blockDeviceFunction(kCategoryLarge, kMinorMediaId));
    EXPECT_EQ(functions32[1], blockDeviceFunction(kCategoryClassic, kMinorMediaId));
    for (std::size_t i = 2; i < functions32.size(); ++i) EXPECT_EQ(functions32[i] >> 8, kCategoryLarge);
}

TEST(VolumeBlockDevice, DeviceParametersFallBackOnlyWhenTheLargeCallIsUnknown) {
    TestFatImage fat(TestFatImage::fat16(40000));
    {
        FakeBlockDevice device(fat.image());
        device.refuseLargeParameters = true;
        CVolume volume(classic(1111), kDriveE, nullptr, &device);
        EXPECT_TRUE(volume.open());
        EXPECT_EQ(volume.geometry().type, fat::FatType::fat16);
    }
    {
        FakeBlockDevice device(fat.image());
        device.refuseLargeParameters = true;
        device.largeParametersAnswer = 0x15;  // drive not ready: no second try
        CVolume volume(classic(1111), kDriveE, nullptr, &device);
        EXPECT_FALSE(volume.open());
        EXPECT_EQ(device.functions().back(), 0x4860u);
        EXPECT_EQ(device.opens, device.closes);
    }
}

TEST(VolumeBlockDevice, UnlockedVolumeIsLockedUpToLevel3AndBackForTheWalk) {
    TestFatImage fat(TestFatImage::fat16(40000));
    fat.linkChain({7});
    fat.addRootFile("TAKE0007KRV", 7, 100);
    FakeBlockDevice device(fat.image());
    CVolume volume(classic(950), kDriveE, nullptr, &device);
    std::vector<std::uint16_t> chain;
    ASSERT_TRUE(clusterChain(volume, "TAKE0007.KRV", chain));

    std::vector<std::string> lockCalls;
    bool lockedDuringReads = true;
    int levelSeen = kUnlocked;
    for (const auto& call : device.calls) {
        const auto minor = call.registers.ecx & 0xFF;
        if (call.code != kControlDosIoctl) {
            lockedDuringReads = lockedDuringReads && levelSeen == 3;
            continue;
        }
        if (minor == kMinorLock) {
            levelSeen = static_cast<int>(call.registers.ebx >> 8);
            EXPECT_EQ(call.registers.edx, 0u);  // permissions
            lockCalls.push_back("lock" + std::to_string(levelSeen));
        } else if (minor == kMinorUnlock) {
            lockCalls.push_back("unlock");
        }
    }
    // The FAT sectors are read at level 3 only.
    EXPECT_TRUE(lockedDuringReads);
    EXPECT_EQ(lockCalls, (std::vector<std::string>{"lock1", "lock2", "lock3", "unlock", "unlock",
                                                   "unlock"}));
    EXPECT_EQ(device.level, kUnlocked);
}

TEST(VolumeBlockDevice, VolumeLockedAtLevel0IsLeftAlone) {
    TestFatImage fat(TestFatImage::fat16(40000));
    fat.linkChain({7});
    fat.addRootFile("TAKE0007KRV", 7, 100);
    FakeBlockDevice device(fat.image());
    device.level = 0;
    CVolume volume(classic(950), kDriveE, nullptr, &device);
    std::vector<std::uint16_t> chain;
    ASSERT_TRUE(clusterChain(volume, "TAKE0007.KRV", chain));
    for (auto function : device.functions()) {
        EXPECT_NE(function & 0xFF, kMinorLock);
        EXPECT_NE(function & 0xFF, kMinorUnlock);
    }
}

TEST(VolumeBlockDevice, FailedLockStepLeavesTheVolumeAtItsOldLevel) {
    TestFatImage fat(TestFatImage::fat16(40000));
    fat.linkChain({7});
    fat.addRootFile("TAKE0007KRV", 7, 100);
    FakeBlockDevice device(fat.image());
    device.refuseLockAt = 3;
    CVolume volume(classic(950), kDriveE, nullptr, &device);
    std::vector<std::uint16_t> chain;
    EXPECT_FALSE(clusterChain(volume, "TAKE0007.KRV", chain));
    EXPECT_TRUE(chain.empty());
    EXPECT_EQ(device.level, kUnlocked);
    EXPECT_EQ(device.opens, device.closes);
}

TEST(VolumeBlockDevice, FirstClusterComesFromDxAx) {
    TestFatImage fat(TestFatImage::fat32(80000));
    fat.linkChain({0x12345});
    fat.addRootFile("TAKE2345KRV", 0x12345, 100);
    FakeBlockDevice device(fat.image());
    CVolume volume(classic(1111), kDriveE, nullptr, &device);
    ASSERT_TRUE(volume.open());
    EXPECT_EQ(volume.firstCluster("TAKE2345.KRV"), 0x12345u);
    EXPECT_FALSE(volume.firstCluster("NONE.KRV"));
    EXPECT_FALSE(volume.firstCluster(std::string(600, 'A')));
}

TEST(VolumeBlockDevice, MediaWithoutAFatTypeTextIsRefused) {
    TestFatImage fat(TestFatImage::fat16(40000));
    fat.image().write(fat::boot::kFsType16, "NTFS    ", 8);
    FakeBlockDevice device(fat.image());
    CVolume volume(classic(950), kDriveE, nullptr, &device);
    EXPECT_FALSE(volume.open());
    EXPECT_NE(volume.reason().find("FAT"), std::string::npos);
    EXPECT_EQ(device.opens, device.closes);
}

}  // namespace
}  // namespace korvo
