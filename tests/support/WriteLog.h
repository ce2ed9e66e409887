#pragma once
// Every write a FAT volume makes, recorded so that a test can put the image into the state it
// would be in had the power failed after any one of them.
//
//   test::WriteLog log;
//   auto disk = openImageDiskFiles(
//       std::make_unique<test::RecordingDevice>(test::openImageDevice(image), log), image, 0);
//   ... run an import on it ...
//   test::ImageWriter writer(image);
//   writer.revert(log, log.writes.size());   // the image as before the import
//   writer.put(log.writes[0]);               // ... and after its first write

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "volume/fat/BlockSource.h"

namespace korvo::test {

struct LoggedWrite {
    std::uint64_t offset = 0;
    std::vector<std::uint8_t> before;  // the bytes the write replaced
    std::vector<std::uint8_t> after;
};

struct WriteLog {
    std::vector<LoggedWrite> writes;
    // For each flush, how many writes came before it: those are durable from then on.
    std::vector<std::size_t> flushes;
    // The writes not yet made durable when write k (1-based) was issued: the first of them.
    std::size_t firstUnflushed(std::size_t k) const;
};

// Passes every write to the image and records it; flushes are recorded, not passed on (the
// image is read back through the host's cache, so syncing it would only cost time).
class RecordingDevice final : public fat::IBlockTarget {
public:
    RecordingDevice(std::unique_ptr<fat::IBlockTarget> inner, WriteLog& log)
        : inner_(std::move(inner)), log_(log) {}
    bool readAt(std::uint64_t offset, void* out, std::size_t n) override {
        return inner_->readAt(offset, out, n);
    }
    std::uint64_t size() const override { return inner_->size(); }
    bool writeAt(std::uint64_t offset, const void* data, std::size_t n) override;
    bool flush() override;
    bool writable() const override { return inner_->writable(); }

private:
    std::unique_ptr<fat::IBlockTarget> inner_;
    WriteLog& log_;
};

// Writes into an image, keeping what each write replaced so that it can be undone.
class ImageWriter {
public:
    explicit ImageWriter(const std::string& image);
    bool ok() const { return device_ != nullptr; }
    // Puts bytes down, remembering what they replaced.
    bool put(std::uint64_t offset, const std::vector<std::uint8_t>& bytes);
    bool put(const LoggedWrite& write) { return put(write.offset, write.after); }
    // Undoes the puts made since the depth was taken, newest first.
    std::size_t depth() const { return undo_.size(); }
    bool undoTo(std::size_t depth);
    // Puts back what the first n logged writes replaced, newest first (the image must be in the
    // state they left).
    bool revert(const WriteLog& log, std::size_t n);

private:
    std::unique_ptr<fat::IBlockTarget> device_;
    std::vector<std::pair<std::uint64_t, std::vector<std::uint8_t>>> undo_;
};

}  // namespace korvo::test
