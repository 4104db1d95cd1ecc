#ifndef WORKERS_H
#define WORKERS_H

#include <functional>
#include <thread>

// One piece of work run on several threads at once, the calling thread being one of them.
// A thread the system refuses (no processes left for the user, no address space for its
// stack) is simply not there: the work must take its tasks from a shared counter, so that
// any number of workers from one upwards gets all of it done.
namespace Workers {

// Starts a thread running `work`; throws std::system_error or std::bad_alloc when it cannot.
using Starter = std::function<std::thread(const std::function<void()> &work)>;

// Runs `work` on up to `count` threads, the calling thread included (so at least once), and
// returns once all have finished; returns how many ran. What the first worker to fail threw is
// rethrown on the calling thread.
//
// The threads it starts come out of one budget for the whole process, a thread per core
// besides the one that called in, and go back to it as each one's work ends: runs within
// the work of other runs (several files at once, each split into strips of rows) get only the
// cores the outer ones leave free, so the work never has more threads than there are cores.
int run(int count, const std::function<void()> &work);

// run() with threads started by `start` instead of std::thread itself, outside the budget.
int run(int count, const std::function<void()> &work, const Starter &start);

} // namespace Workers

#endif // WORKERS_H
