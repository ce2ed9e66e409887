#include "tests/support/FaultyDiskFiles.h"

#include <algorithm>

namespace korvo::test {

class FaultyStream final : public IDiskStream {
public:
    FaultyStream(FaultyDiskFiles& disk, std::unique_ptr<IDiskStream> inner)
        : disk_(disk), inner_(std::move(inner)), length_(inner_->size().value_or(0)) {}

    bool read(void* data, std::size_t n) override { return !failed_ && inner_->read(data, n); }

    bool write(const void* data, std::size_t n) override {
        if (failed_) {
            return false;
        }
        ++disk_.writes_;
        if (disk_.refuseAtEnd_ && length_ > 0 && inner_->position() == length_) {
            return false;
        }
        if (disk_.failWrite_ != 0 && disk_.writes_ == disk_.failWrite_) {
            failed_ = true;
            return false;
        }
        const std::uint64_t end = inner_->position() + n;
        const std::uint64_t growth = end > length_ ? end - length_ : 0;
        if (disk_.room_ && growth > *disk_.room_) {
            // Fill what is left of the volume, then report it full.
            const std::uint64_t fits = n - (growth - *disk_.room_);
            if (fits > 0) {
                inner_->write(data, static_cast<std::size_t>(fits));
                length_ = std::max(length_, inner_->position());
            }
            *disk_.room_ = 0;
            failed_ = true;
            return false;
        }
        if (disk_.room_) {
            *disk_.room_ -= growth;
        }
        if (!inner_->write(data, n)) {
            failed_ = true;
            return false;
        }
        length_ = std::max(length_, end);
        return true;
    }

    bool seek(std::uint64_t position) override { return !failed_ && inner_->seek(position); }
    bool sync() override { return !failed_ && inner_->sync(); }
    std::uint64_t position() const override { return inner_->position(); }
    std::optional<std::uint64_t> size() override { return inner_->size(); }
    bool truncate(std::uint64_t length) override {
        if (failed_ || disk_.refuseAtEnd_ || !inner_->truncate(length)) {
            return false;
        }
        if (disk_.room_ && length < length_) {
            *disk_.room_ += length_ - length;
        }
        length_ = length;
        return true;
    }
    bool good() const override { return !failed_ && inner_->good(); }
    bool close() override {
        bool closed = inner_->close();
        return closed && !failed_;
    }

private:
    FaultyDiskFiles& disk_;
    std::unique_ptr<IDiskStream> inner_;
    std::uint64_t length_;
    bool failed_ = false;
};

std::unique_ptr<IDiskStream> FaultyDiskFiles::open(std::string_view path, OpenMode mode) {
    auto stream = inner_.open(path, mode);
    if (!stream) {
        return nullptr;
    }
    return std::make_unique<FaultyStream>(*this, std::move(stream));
}

bool FaultyDiskFiles::clusterChain(std::string_view path, std::vector<std::uint16_t>& chain) {
    if (chain_) {
        chain = *chain_;
        return !chain.empty() && inner_.exists(path) == FileExistence::present;
    }
    return inner_.clusterChain(path, chain);
}

}  // namespace korvo::test
