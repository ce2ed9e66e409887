#include "convert/RunWorkers.h"

#include <algorithm>
#include <system_error>

namespace korvo {

CRunWorkers::CRunWorkers(int workers, std::function<void(int)> task) : task_(std::move(task)) {
    if (workers >= 1) {
        threads_.reserve(static_cast<std::size_t>(workers));
        for (int i = 0; i < workers; ++i) {
            try {
                threads_.emplace_back([this] { work(); });
            } catch (const std::system_error&) {
                break;  // the system has no more threads to give: go on with those there are
            }
        }
    }
}

CRunWorkers::~CRunWorkers() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    threads_.clear();  // joins
}

int CRunWorkers::workersFor(int requested, int tasks) {
    const int threads =
        requested > 0 ? requested : static_cast<int>(std::thread::hardware_concurrency());
    // One thread: everything on the caller. More: the caller reads and writes while up to one
    // worker a task decodes or encodes.
    return threads <= 1 ? 0 : std::clamp(threads, 1, std::max(tasks, 1));
}

void CRunWorkers::start(int count) {
    if (threads_.empty()) {
        for (int i = 0; i < count; ++i) {
            task_(i);
        }
        return;
    }
    {
        const std::lock_guard lock(mutex_);
        next_ = 0;
        count_ = count;
        finished_ = 0;
    }
    wake_.notify_all();
}

void CRunWorkers::wait() {
    if (threads_.empty()) {
        return;
    }
    std::unique_lock lock(mutex_);
    done_.wait(lock, [this] { return finished_ == count_; });
}

void CRunWorkers::work() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stopping_ || next_ < count_; });
        if (stopping_) {
            return;
        }
        const int task = next_++;
        lock.unlock();
        task_(task);
        lock.lock();
        if (++finished_ == count_) {
            done_.notify_all();
        }
    }
}

}  // namespace korvo
