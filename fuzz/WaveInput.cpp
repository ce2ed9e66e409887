#include "fuzz/WaveInput.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "codec/BlockBuffer.h"
#include "fuzz/Harnesses.h"
#include "wavefile/WaveFile.h"

namespace korvo::fuzz {

namespace {

// One scratch file per process, in memory where the host has a tmpfs.
const std::string& scratchPath() {
    static const std::string path = [] {
        const char* folder = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : std::getenv("TMPDIR");
        return std::string(folder ? folder : "/tmp") + "/korvowav-fuzz-" +
               std::to_string(::getpid()) + ".wave";
    }();
    return path;
}

bool writeScratch(const std::uint8_t* data, std::size_t size) {
    const int fd = ::open(scratchPath().c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0) {
        return false;
    }
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, data + done, size - done);
        if (n <= 0) {
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    return ::close(fd) == 0 && done == size;
}

}  // namespace

int readWaveInput(int fileType, const std::uint8_t* data, std::size_t size) {
    using KorvoLib::Korvo::IWaveFile;
    KORVO_PROMISE(writeScratch(data, size));
    const int recognised = KorvoLib::Korvo::recognizeWaveFileType(scratchPath());

    auto file = KorvoLib::Korvo::makeWaveFile(fileType);
    KorvoLib::Korvo::WaveFormat format;
    if (!file->open(scratchPath(), IWaveFile::kRead)) {
        return 0;
    }
    KORVO_PROMISE(recognised == fileType);
    if (!file->readHeader(format)) {
        file->close();
        return 0;
    }
    // The header describes samples the file holds: every frame it counts can be read.
    KORVO_PROMISE(std::uint64_t{format.frames} * format.channels * 2 <= size);
    KORVO_PROMISE(file->setDataPosition(0));
    std::vector<BlockBuffer> owned(2, BlockBuffer(5));
    std::vector<BlockBuffer*> buffers(format.channels, nullptr);
    for (std::size_t c = 0; c < std::min<std::size_t>(2, buffers.size()); ++c) {
        buffers[c] = &owned[c];
    }
    if (format.channels > 0) {
        for (std::uint32_t done = 0; done < format.frames;) {
            const int count = static_cast<int>(std::min<std::uint32_t>(16, format.frames - done));
            KORVO_PROMISE(file->readFrames(buffers.data(), format.channels, count));
            done += static_cast<std::uint32_t>(count);
        }
        (void)file->readFrames(buffers.data(), format.channels, 1);
    }
    // A data position beyond the samples is refused; one inside them is taken.
    const std::uint64_t sampleBytes = std::uint64_t{format.frames} * format.channels * 2;
    KORVO_PROMISE(file->setDataPosition(sampleBytes / 2));
    (void)file->setDataPosition(size + 1);
    KORVO_PROMISE(file->rewind());
    file->close();
    return 0;
}

}  // namespace korvo::fuzz
