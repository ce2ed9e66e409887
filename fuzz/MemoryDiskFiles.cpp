#include "fuzz/MemoryDiskFiles.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace korvo::fuzz {

namespace {

// Streams share the file's bytes with the disk, so a rename or removal while a stream is open
// leaves the stream working on its own copy, as an open host file does.
class MemoryStream final : public IDiskStream {
public:
    MemoryStream(std::shared_ptr<Bytes> bytes, bool writable)
        : bytes_(std::move(bytes)), writable_(writable) {}

    bool read(void* data, std::size_t n) override {
        if (failed_ || position_ > bytes_->size() || n > bytes_->size() - position_) {
            return fail();
        }
        if (n > 0) {
            std::memcpy(data, bytes_->data() + position_, n);
        }
        position_ += n;
        return true;
    }
    bool write(const void* data, std::size_t n) override {
        if (failed_ || !writable_ || position_ + n > kMostBytes) {
            return fail();
        }
        const std::size_t end = static_cast<std::size_t>(position_) + n;
        if (end > bytes_->size()) {
            bytes_->resize(end, 0);
        }
        if (n > 0) {
            std::memcpy(bytes_->data() + position_, data, n);
        }
        position_ = end;
        return true;
    }
    bool seek(std::uint64_t position) override {
        if (failed_ || position > kMostBytes) {
            return fail();
        }
        position_ = static_cast<std::size_t>(position);
        return true;
    }
    std::uint64_t position() const override { return position_; }
    std::optional<std::uint64_t> size() override {
        if (failed_) {
            return std::nullopt;
        }
        return bytes_->size();
    }
    bool truncate(std::uint64_t length) override {
        if (failed_ || !writable_ || length > kMostBytes) {
            return fail();
        }
        bytes_->resize(static_cast<std::size_t>(length), 0);
        return true;
    }
    bool good() const override { return !failed_ && !closed_; }
    bool close() override {
        const bool was = good();
        closed_ = true;
        return was;
    }

private:
    // Files stay small: a seek or write beyond this fails as on a full disk.
    static constexpr std::size_t kMostBytes = 64u << 20;

    bool fail() {
        failed_ = true;
        return false;
    }

    std::shared_ptr<Bytes> bytes_;
    bool writable_;
    std::size_t position_ = 0;
    bool failed_ = false;
    bool closed_ = false;
};

}  // namespace

std::string MemoryDiskFiles::key(std::string_view path) {
    std::string upper(path);
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return upper;
}

void MemoryDiskFiles::put(std::string_view path, const std::uint8_t* data, std::size_t size) {
    files_[key(path)] = std::make_shared<Bytes>(data, data + size);
}

const Bytes* MemoryDiskFiles::file(std::string_view path) const {
    const auto found = files_.find(key(path));
    return found == files_.end() ? nullptr : found->second.get();
}

FileExistence MemoryDiskFiles::exists(std::string_view path) {
    const std::string name = key(path);
    if (files_.count(name) != 0) {
        return FileExistence::present;
    }
    const auto below = files_.lower_bound(name + "/");
    if (below != files_.end() && below->first.compare(0, name.size() + 1, name + "/") == 0) {
        return FileExistence::present;
    }
    return FileExistence::missing;
}

std::unique_ptr<IDiskStream> MemoryDiskFiles::open(std::string_view path, OpenMode mode) {
    const std::string name = key(path);
    auto found = files_.find(name);
    if (mode == OpenMode::write) {
        auto bytes = std::make_shared<Bytes>();
        files_[name] = bytes;
        return std::make_unique<MemoryStream>(std::move(bytes), true);
    }
    if (found == files_.end()) {
        return nullptr;
    }
    return std::make_unique<MemoryStream>(found->second, mode == OpenMode::update);
}

bool MemoryDiskFiles::rename(std::string_view from, std::string_view to) {
    const auto found = files_.find(key(from));
    if (found == files_.end() || files_.count(key(to)) != 0) {
        return false;
    }
    auto bytes = found->second;
    files_.erase(found);
    files_[key(to)] = std::move(bytes);
    return true;
}

bool MemoryDiskFiles::remove(std::string_view path) {
    return files_.erase(key(path)) != 0;
}

}  // namespace korvo::fuzz
