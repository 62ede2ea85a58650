#include "data/ParallelBlocks.h"

#include <QThread>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

namespace {

// A helper thread, once it runs, either starts work (and the caller waits
// for it to finish) or finds itself withdrawn by the caller; whichever
// changes its state first decides.
enum HelperState
{
    Waiting,
    Started,
    Withdrawn
};

// What the caller and its helpers share. A withdrawn helper that runs late
// touches only this, never the caller's blocks.
struct Shared
{
    std::atomic<int> next{0};
    std::unique_ptr<std::atomic<int>[]> state;
    std::mutex mutex;
    std::condition_variable done;
    int finished = 0;
};

} // namespace

int ParallelBlocks::grainFor(std::int64_t unitsPerItem)
{
    return int(std::max<std::int64_t>(1, unitsPerBlock / std::max<std::int64_t>(1, unitsPerItem)));
}

int ParallelBlocks::countFor(int count, int grain)
{
    if (count <= 0)
        return 0;
    const std::int64_t items = std::max(grain, 1);
    return int((std::int64_t(count) + items - 1) / items);
}

void ParallelBlocks::run(int count, int grain, const Block& block)
{
    const int blocks = countFor(count, grain);
    if (blocks == 0)
        return;
    const std::int64_t items = std::max(grain, 1);
    const auto shared = std::make_shared<Shared>();
    const auto work = [&] {
        for (int b = shared->next.fetch_add(1); b < blocks; b = shared->next.fetch_add(1)) {
            const std::int64_t first = std::int64_t(b) * items;
            block(b, int(first), int(std::min<std::int64_t>(first + items, count)));
        }
    };

    const int helpers = std::min(blocks, std::max(1, QThread::idealThreadCount())) - 1;
    if (helpers > 0) {
        shared->state.reset(new std::atomic<int>[size_t(helpers)]);
        for (int h = 0; h < helpers; ++h)
            shared->state[h].store(Waiting);
        for (int h = 0; h < helpers; ++h) {
            try {
                std::thread([shared, h, &work] {
                    int waiting = Waiting;
                    if (!shared->state[h].compare_exchange_strong(waiting, Started))
                        return;
                    work();
                    {
                        std::lock_guard<std::mutex> lock(shared->mutex);
                        ++shared->finished;
                    }
                    shared->done.notify_one();
                }).detach();
            } catch (const std::system_error&) {
                // No thread to be had: the caller does the work alone.
            }
        }
    }
    work();
    int started = 0;
    for (int h = 0; h < helpers; ++h) {
        int waiting = Waiting;
        if (!shared->state[h].compare_exchange_strong(waiting, Withdrawn))
            ++started;
    }
    std::unique_lock<std::mutex> lock(shared->mutex);
    shared->done.wait(lock, [&] { return shared->finished == started; });
}
