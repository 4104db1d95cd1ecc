#include "workers.h"

#include <QThread>

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <new>
#include <system_error>
#include <vector>

namespace Workers {

namespace {

// The cores no thread of run() holds, the process's first thread aside.
std::atomic<int> &spareCores()
{
    static std::atomic<int> spare { std::max(QThread::idealThreadCount(), 1) - 1 };
    return spare;
}

// Takes up to `wanted` spare cores; returns how many it got.
int claimCores(int wanted)
{
    std::atomic<int> &spare = spareCores();
    int available = spare.load();
    int taken = 0;
    do {
        taken = std::clamp(available, 0, std::max(wanted, 0));
    } while (taken > 0 && !spare.compare_exchange_weak(available, available - taken));
    return taken;
}

} // namespace

int run(int count, const std::function<void()> &work)
{
    const int claimed = claimCores(count - 1);
    // A started thread hands its core back as soon as its share is done, so that a run still
    // going (the last file of a batch) can use it for its next piece of work.
    const int ran = run(claimed + 1, work, [](const std::function<void()> &task) {
        return std::thread([task] {
            task();
            ++spareCores();
        });
    });
    spareCores() += claimed - (ran - 1);
    return ran;
}

int run(int count, const std::function<void()> &work, const Starter &start)
{
    std::mutex mutex;
    std::exception_ptr failure;
    const std::function<void()> guarded = [&] {
        try {
            work();
        } catch (...) {
            const std::lock_guard<std::mutex> lock(mutex);
            if (!failure)
                failure = std::current_exception();
        }
    };
    std::vector<std::thread> threads;
    try {
        threads.reserve(std::size_t(std::max(count - 1, 0)));
        for (int i = 1; i < count; ++i)
            threads.push_back(start(guarded));
    } catch (const std::system_error &) {
        // The threads that did start, and this one, share the rest.
    } catch (const std::bad_alloc &) {
        // Likewise: no memory for another thread's state.
    }
    guarded();
    for (std::thread &thread : threads)
        thread.join();
    if (failure)
        std::rethrow_exception(failure);
    return int(threads.size()) + 1;
}

} // namespace Workers
