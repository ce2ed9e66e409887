#include "volume/BlockDeviceCalls.h"

#include <algorithm>
#include <cstring>

namespace korvo {

namespace {

std::optional<fat::FatType> fatTypeOfText(const std::uint8_t* text) {
    if (std::memcmp(text, "FAT12", 5) == 0)
        return fat::FatType::fat12;
    if (std::memcmp(text, "FAT16", 5) == 0)
        return fat::FatType::fat16;
    if (std::memcmp(text, "FAT32", 5) == 0)
        return fat::FatType::fat32;
    return std::nullopt;
}

}  // namespace

CBlockDeviceCalls::CBlockDeviceCalls(IDeviceTransport& transport, AccessPath path,
                                     std::uint32_t driveNumber)
    : transport_(transport), path_(path), drive_(driveNumber) {}

bool CBlockDeviceCalls::send(std::uint32_t code, RegisterBlock& registers) {
    if (!transport_.control(code, registers, memory_))
        return false;
    return (registers.flags & kCarryFlag) == 0;
}

template <class Call>
bool CBlockDeviceCalls::inCategories(bool classicAlwaysAllowed, Call&& call) {
    if (path_ == AccessPath::largeBlockDevice && call(kCategoryLarge))
        return true;
    const bool classicAllowed = classicAlwaysAllowed || fatType_ != fat::FatType::fat32;
    return classicAllowed && call(kCategoryClassic);
}

void CBlockDeviceCalls::clearRecord() {
    std::fill_n(memory_.begin() + request_memory::kRecord, request_memory::kRecordSize, 0);
}

bool CBlockDeviceCalls::lock(int level) {
    return inCategories(false, [&](std::uint8_t category) {
        RegisterBlock registers;
        registers.eax = kBlockDeviceRequest;
        registers.ecx = blockDeviceFunction(category, kMinorLock);
        registers.ebx = (drive_ & 0xFF) | ((static_cast<std::uint32_t>(level) & 0xFF) << 8);
        registers.edx = 0;  // permissions
        return send(kControlDosIoctl, registers);
    });
}

bool CBlockDeviceCalls::unlock() {
    return inCategories(false, [&](std::uint8_t category) {
        RegisterBlock registers;
        registers.eax = kBlockDeviceRequest;
        registers.ecx = blockDeviceFunction(category, kMinorUnlock);
        registers.ebx = drive_ & 0xFF;
        return send(kControlDosIoctl, registers);
    });
}

std::optional<int> CBlockDeviceCalls::lockState() {
    std::optional<int> level;
    inCategories(false, [&](std::uint8_t category) {
        RegisterBlock registers;
        registers.eax = kBlockDeviceRequest;
        registers.ecx = blockDeviceFunction(category, kMinorLockState);
        registers.ebx = drive_ & 0xFF;
        if (!send(kControlDosIoctl, registers))
            return false;
        level = static_cast<std::int16_t>(registers.eax & 0xFFFF);
        return true;
    });
    return level;
}

std::optional<fat::FatType> CBlockDeviceCalls::mediaFatType() {
    bool answered = inCategories(true, [&](std::uint8_t category) {
        clearRecord();
        RegisterBlock registers;
        registers.eax = kBlockDeviceRequest;
        registers.ecx = blockDeviceFunction(category, kMinorMediaId);
        registers.ebx = drive_ & 0xFF;
        registers.edx = request_memory::kRecord;
        return send(kControlDosIoctl, registers);
    });
    if (!answered)
        return std::nullopt;
    return fatTypeOfText(memory_.data() + request_memory::kRecord + media_id::kFileSystem);
}

std::optional<std::array<std::uint8_t, fat::boot::kSize>> CBlockDeviceCalls::deviceParameters() {
    const auto ask = [&](std::uint8_t category, RegisterBlock& registers) {
        clearRecord();
        memory_[request_memory::kRecord + device_parameters::kSpecialFunctions] =
            device_parameters::kDefaultParameters;
        registers = RegisterBlock{};
        registers.eax = kBlockDeviceRequest;
        registers.ecx = blockDeviceFunction(category, kMinorDeviceParameters);
        registers.ebx = drive_ & 0xFF;
        registers.edx = request_memory::kRecord;
        return send(kControlDosIoctl, registers);
    };

    RegisterBlock registers;
    std::size_t blockSize = device_parameters::kClassicBlockSize;
    bool answered = false;
    if (path_ == AccessPath::largeBlockDevice) {
        answered = ask(kCategoryLarge, registers);
        if (answered) {
            blockSize = device_parameters::kExtendedBlockSize;
        } else if (registers.eax == kAnswerInvalidFunction && fatType_ != fat::FatType::fat32) {
            answered = ask(kCategoryClassic, registers);
        }
    } else {
        answered = ask(kCategoryClassic, registers);
    }
    if (!answered)
        return std::nullopt;

    std::array<std::uint8_t, fat::boot::kSize> sector{};
    const std::uint8_t* block =
        memory_.data() + request_memory::kRecord + device_parameters::kParameterBlock;
    std::copy_n(block, blockSize, sector.begin() + device_parameters::kBootSectorOffset);
    return sector;
}

std::optional<std::uint32_t> CBlockDeviceCalls::firstCluster(std::string_view path) {
    if (path.size() >= request_memory::kRecordSize)
        return std::nullopt;
    std::optional<std::uint32_t> cluster;
    inCategories(false, [&](std::uint8_t category) {
        clearRecord();
        std::copy(path.begin(), path.end(), memory_.begin() + request_memory::kRecord);
        RegisterBlock registers;
        registers.eax = kBlockDeviceRequest;
        registers.ecx = blockDeviceFunction(category, kMinorFirstCluster);
        registers.ebx = 0;
        registers.edx = request_memory::kRecord;
        if (!send(kControlDosIoctl, registers))
            return false;
        cluster = ((registers.edx & 0xFFFF) << 16) | (registers.eax & 0xFFFF);
        return true;
    });
    return cluster;
}

bool CBlockDeviceCalls::readSector(std::uint32_t sector, std::uint8_t* out,
                                   std::uint32_t bytesPerSector) {
    if (bytesPerSector == 0 || bytesPerSector > request_memory::kSectorSize)
        return false;
    clearRecord();
    std::uint8_t* request = memory_.data() + request_memory::kRecord;
    writeLittleEndian32(request + packet::kStartSector, sector);
    writeLittleEndian16(request + packet::kSectorCount, 1);
    writeLittleEndian32(request + packet::kBuffer, request_memory::kSector);

    RegisterBlock registers;
    registers.ebx = request_memory::kRecord;
    std::uint32_t code = kControlAbsoluteRead;
    if (path_ == AccessPath::largeBlockDevice) {
        code = kControlDriveServices;
        registers.eax = kDriveServicesReadWrite;
        registers.ecx = kDriveServicesPacket;
        registers.edx = drive_;
        registers.esi = kDriveServicesRead;
    } else {
        registers.eax = drive_ - 1;
        registers.ecx = kAbsoluteReadPacket;
    }
    if (!send(code, registers))
        return false;
    std::copy_n(memory_.begin() + request_memory::kSector, bytesPerSector, out);
    return true;
}

}  // namespace korvo
