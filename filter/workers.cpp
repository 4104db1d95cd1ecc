#include "workers.h"

#include <algorithm>
#include <exception>
#include <mutex>
#include <new>
#include <system_error>
#include <vector>

namespace Workers {

int run(int count, const std::function<void()> &work)
{
    return run(count, work, [](const std::function<void()> &task) { return std::thread(task); });
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
