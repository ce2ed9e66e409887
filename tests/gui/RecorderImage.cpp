#include "tests/gui/RecorderImage.h"

#include <filesystem>
#include <fstream>
#include <iterator>

#include "volume/fat/FatFormat.h"
#include "volume/fat/ImageDiskFiles.h"

namespace korvo::test {

namespace {

void putLittle(std::vector<char>& bytes, std::uint32_t value, int width) {
    for (int i = 0; i < width; ++i) {
        bytes.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
    }
}

}  // namespace

bool copyFolderToImage(const std::string& folder, const std::string& imagePath) {
    fat::FormatOptions options;
    options.type = fat::FatType::fat12;
    options.clusterBytes = 65536;
    if (!fat::formatImageFile(imagePath, 64ull << 20, options)) {
        return false;
    }
    auto disk = openImageDiskFiles(imagePath, 0);
    namespace fs = std::filesystem;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        const std::string relative = fs::relative(entry.path(), folder).generic_string();
        if (entry.is_directory()) {
            if (!disk->makeFolder(relative)) {
                return false;
            }
            continue;
        }
        std::ifstream in(entry.path(), std::ios::binary);
        const std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                      std::istreambuf_iterator<char>());
        auto out = disk->open(relative, OpenMode::write);
        if (!out || !out->write(bytes.data(), bytes.size()) || !out->close()) {
            return false;
        }
    }
    return true;
}

bool writePcmWave(const std::string& path, int channels, std::uint32_t sampleRate,
                  std::uint32_t frames) {
    const std::uint32_t dataBytes = frames * static_cast<std::uint32_t>(channels) * 2;
    std::vector<char> bytes = {'R', 'I', 'F', 'F'};
    putLittle(bytes, 36 + dataBytes, 4);
    bytes.insert(bytes.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    putLittle(bytes, 16, 4);
    putLittle(bytes, 1, 2);
    putLittle(bytes, static_cast<std::uint32_t>(channels), 2);
    putLittle(bytes, sampleRate, 4);
    putLittle(bytes, sampleRate * static_cast<std::uint32_t>(channels) * 2, 4);
    putLittle(bytes, static_cast<std::uint32_t>(channels) * 2, 2);
    putLittle(bytes, 16, 2);
    bytes.insert(bytes.end(), {'d', 'a', 't', 'a'});
    putLittle(bytes, dataBytes, 4);
    for (std::uint32_t frame = 0; frame < frames; ++frame) {
        for (int c = 0; c < channels; ++c) {
            putLittle(bytes, static_cast<std::uint16_t>((frame % 200) * 40 - 4000 + c * 7), 2);
        }
    }
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

}  // namespace korvo::test
