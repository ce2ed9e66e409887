#pragma once
// The threads that decode or encode the channels of a run while the thread that started the
// conversion reads and writes files. start(n) hands out the tasks 0 .. n-1 of one run; wait()
// returns once all of them are done. Without worker threads (a count of 0) start() runs the
// tasks itself, so a conversion takes the same steps, and gives the same bytes, whatever
// the thread count. Nothing is allocated per run.
//
//   CRunWorkers workers(threads, [&](int channel) { decode(channel, slot); });
//   workers.start(channels);   // ... read the next run meanwhile ...
//   workers.wait();

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace korvo {

// Blocks a run of an import or export: 32768 frames, a few hundredths of a second of work, so
// that progress moves and Cancel answers many times a second.
inline constexpr std::uint32_t kRunBlocks = 2048;

class CRunWorkers {
public:
    // `workers` threads (0: none) that run `task` with a task number.
    CRunWorkers(int workers, std::function<void(int)> task);
    ~CRunWorkers();
    CRunWorkers(const CRunWorkers&) = delete;
    CRunWorkers& operator=(const CRunWorkers&) = delete;

    // Starts tasks 0 .. count-1; the tasks of the previous start must be done (wait()).
    void start(int count);
    // Until every task started is done.
    void wait();

    // The worker count for a requested thread count (0: the hardware's concurrency) and the
    // tasks of a run: none for one thread, else one a thread but no more than tasks.
    static int workersFor(int requested, int tasks);

private:
    void work();

    std::function<void(int)> task_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable done_;
    int next_ = 0;
    int count_ = 0;
    int finished_ = 0;
    bool stopping_ = false;
    std::vector<std::jthread> threads_;
};

}  // namespace korvo
