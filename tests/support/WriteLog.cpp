#include "tests/support/WriteLog.h"

#include <algorithm>

#include "tests/support/FatImages.h"

namespace korvo::test {

std::size_t WriteLog::firstUnflushed(std::size_t k) const {
    std::size_t durable = 0;
    for (std::size_t flushed : flushes) {
        if (flushed < k)
            durable = std::max(durable, flushed);
    }
    return durable;
}

bool RecordingDevice::writeAt(std::uint64_t offset, const void* data, std::size_t n) {
    LoggedWrite write;
    write.offset = offset;
    write.before.resize(n);
    if (!inner_->readAt(offset, write.before.data(), n))
        return false;
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    write.after.assign(bytes, bytes + n);
    if (!inner_->writeAt(offset, data, n))
        return false;
    log_.writes.push_back(std::move(write));
    return true;
}

bool RecordingDevice::flush() {
    log_.flushes.push_back(log_.writes.size());
    return true;
}

ImageWriter::ImageWriter(const std::string& image) : device_(openImageDevice(image)) {}

bool ImageWriter::put(std::uint64_t offset, const std::vector<std::uint8_t>& bytes) {
    std::vector<std::uint8_t> old(bytes.size());
    if (!device_->readAt(offset, old.data(), old.size()))
        return false;
    undo_.emplace_back(offset, std::move(old));
    return device_->writeAt(offset, bytes.data(), bytes.size());
}

bool ImageWriter::undoTo(std::size_t depth) {
    bool ok = true;
    while (undo_.size() > depth) {
        const auto& [offset, bytes] = undo_.back();
        ok = device_->writeAt(offset, bytes.data(), bytes.size()) && ok;
        undo_.pop_back();
    }
    return ok;
}

bool ImageWriter::revert(const WriteLog& log, std::size_t n) {
    bool ok = true;
    for (std::size_t i = n; i-- > 0;)
        ok = device_->writeAt(log.writes[i].offset, log.writes[i].before.data(),
                              log.writes[i].before.size()) &&
             ok;
    return ok;
}

}  // namespace korvo::test
