#pragma once
// A buffered stream of raw bytes over a host file, used by the folder access. Take
// blocks of 8 to 16 bytes are read and written one call each, so a call that stays inside the
// buffer costs a few comparisons and a copy; the buffer is allocated once, when the stream is
// made. Reads refill it from the file, writes collect in it and go out when it is full, on a
// seek, truncate or close.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

#include "disk/DiskFiles.h"
#include "wavefile/HostFile.h"

namespace korvo {

class CFolderStream final : public IDiskStream {
public:
    static constexpr std::size_t kBufferBytes = 64 * 1024;

    explicit CFolderStream(std::unique_ptr<CHostFile> file);
    ~CFolderStream() override;
    CFolderStream(const CFolderStream&) = delete;
    CFolderStream& operator=(const CFolderStream&) = delete;

    bool read(void* data, std::size_t n) override;
    bool write(const void* data, std::size_t n) override;
    bool seek(std::uint64_t position) override;
    std::uint64_t position() const override { return position_; }
    std::optional<std::uint64_t> size() override;
    bool truncate(std::uint64_t length) override;
    bool good() const override { return !failed_; }
    bool sync() override;
    bool close() override;

private:
    enum class Buffered { nothing, fileBytes, pendingWrites };

    bool readSlow(void* data, std::size_t n);
    bool writeSlow(const void* data, std::size_t n);
    bool flush();
    bool fail() {
        failed_ = true;
        return false;
    }

    std::unique_ptr<CHostFile> file_;
    std::unique_ptr<std::uint8_t[]> buffer_;
    Buffered buffered_ = Buffered::nothing;
    std::uint64_t bufferStart_ = 0;  // file position of buffer_[0]
    std::size_t bufferLength_ = 0;
    std::uint64_t position_ = 0;
    bool failed_ = false;
};

}  // namespace korvo
