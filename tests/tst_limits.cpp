#include "lastresort.h"
#include "workers.h"

#include <QTest>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <new>
#include <set>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

// How a starter refuses threads.
enum class Refusal { SystemError, NoMemory };
Q_DECLARE_METATYPE(Refusal)

namespace {

// Starts `granted` threads, then refuses as the system would.
Workers::Starter grudgingStarter(int granted, Refusal refusal)
{
    auto started = std::make_shared<int>(0);
    return [=](const std::function<void()> &work) {
        if (*started == granted) {
            if (refusal == Refusal::NoMemory)
                throw std::bad_alloc();
            throw std::system_error(
                std::make_error_code(std::errc::resource_unavailable_try_again));
        }
        ++*started;
        return std::thread(work);
    };
}

} // namespace

class TestLimits : public QObject
{
    Q_OBJECT

private slots:
    void workersShareTheTasks_data();
    void workersShareTheTasks();
    void workerFailure_data();
    void workerFailure();
    void threadsWithinCores_data();
    void threadsWithinCores();
    void lastResort_data();
    void lastResort();
};

void TestLimits::workersShareTheTasks_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("granted"); // threads started before the refusal
    QTest::addColumn<Refusal>("refusal");
    QTest::addColumn<int>("ran");

    QTest::newRow("all granted") << 4 << 3 << Refusal::SystemError << 4;
    QTest::newRow("one worker asked for") << 1 << 0 << Refusal::SystemError << 1;
    QTest::newRow("none asked for") << 0 << 0 << Refusal::SystemError << 1;
    QTest::newRow("no thread at all") << 8 << 0 << Refusal::SystemError << 1;
    QTest::newRow("some granted") << 8 << 2 << Refusal::SystemError << 3;
    QTest::newRow("no memory for a thread") << 8 << 1 << Refusal::NoMemory << 2;
}

void TestLimits::workersShareTheTasks()
{
    QFETCH(int, count);
    QFETCH(int, granted);
    QFETCH(Refusal, refusal);
    constexpr int Tasks = 1000;
    std::vector<std::atomic<int>> done(Tasks);
    std::atomic<int> next { 0 };
    std::mutex mutex;
    std::set<std::thread::id> threads;
    const int ran = Workers::run(
        count,
        [&] {
            for (int task = next++; task < Tasks; task = next++) {
                ++done[std::size_t(task)];
                const std::lock_guard<std::mutex> lock(mutex);
                threads.insert(std::this_thread::get_id());
            }
        },
        grudgingStarter(granted, refusal));
    QTEST(ran, "ran");
    QVERIFY2(int(threads.size()) <= ran, "no more threads than reported");
    for (int task = 0; task < Tasks; ++task)
        QVERIFY2(done[std::size_t(task)] == 1, qPrintable(QStringLiteral("task %1").arg(task)));
}

void TestLimits::workerFailure_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("granted");
    QTest::newRow("on threads") << 4 << 3;
    QTest::newRow("on the calling thread alone") << 4 << 0;
}

void TestLimits::workerFailure()
{
    QFETCH(int, count);
    QFETCH(int, granted);
    std::atomic<int> next { 0 };
    std::atomic<int> running { 0 };
    std::atomic<int> stillRunning { -1 };
    try {
        Workers::run(
            count,
            [&] {
                ++running;
                for (int task = next++; task < 100; task = next++) {
                    if (task == 50) {
                        --running;
                        throw std::runtime_error("task 50 failed");
                    }
                }
                --running;
            },
            grudgingStarter(granted, Refusal::SystemError));
        QFAIL("the failure is rethrown");
    } catch (const std::runtime_error &error) {
        stillRunning = running.load();
        QCOMPARE(QByteArray(error.what()), QByteArray("task 50 failed"));
    }
    QCOMPARE(stillRunning.load(), 0);
}

void TestLimits::threadsWithinCores_data()
{
    // Runs asked for, as multiples of the cores: outer ones (files at once), each starting
    // inner ones (strips) for every task it takes.
    QTest::addColumn<int>("outer");
    QTest::addColumn<int>("inner");
    QTest::newRow("files and strips") << 2 << 2;
    QTest::newRow("one file at a time, many strips") << 0 << 8;
    QTest::newRow("many files, no strips") << 8 << 0;
}

// However runs nest, no more threads work at once than there are cores, every task is done
// once, and the cores all come back when the runs end.
void TestLimits::threadsWithinCores()
{
    QFETCH(int, outer);
    QFETCH(int, inner);
    const int cores = std::max(QThread::idealThreadCount(), 1);
    constexpr int Files = 40;
    constexpr int Strips = 16;
    thread_local int depth = 0;
    std::atomic<int> working { 0 };
    std::atomic<int> most { 0 };
    // Counts a thread while it is inside any run's work.
    const auto atWork = [&](const std::function<void()> &work) {
        if (depth++ == 0) {
            const int now = ++working;
            for (int seen = most; now > seen && !most.compare_exchange_weak(seen, now);) { }
        }
        work();
        if (--depth == 0)
            --working;
    };
    std::vector<std::atomic<int>> done(std::size_t(Files) * Strips);
    std::atomic<int> nextFile { 0 };
    Workers::run(std::max(outer * cores, 1), [&] {
        atWork([&] {
            for (int file = nextFile++; file < Files; file = nextFile++) {
                std::atomic<int> nextStrip { 0 };
                Workers::run(std::max(inner * cores, 1), [&] {
                    atWork([&] {
                        for (int strip = nextStrip++; strip < Strips; strip = nextStrip++)
                            ++done[std::size_t(file * Strips + strip)];
                    });
                });
            }
        });
    });
    QVERIFY2(most <= cores,
             qPrintable(QStringLiteral("%1 threads at work on %2 cores").arg(most).arg(cores)));
    for (std::size_t task = 0; task < done.size(); ++task)
        QVERIFY2(done[task] == 1, qPrintable(QStringLiteral("task %1").arg(task)));
    QCOMPARE(Workers::run(2 * cores, [] {}), cores);
}

void TestLimits::lastResort_data()
{
    QTest::addColumn<int>("fault");
    QTest::addColumn<QByteArray>("line");
    QTest::newRow("exception escaping a thread") << 0 << QByteArray("prog: internal error: boom\n");
    QTest::newRow("no memory in a noexcept function")
        << 1 << QByteArray("prog: not enough memory\n");
    QTest::newRow("std::terminate() without an exception")
        << 2 << QByteArray("prog: internal error: terminated\n");
}

void TestLimits::lastResort()
{
    QFETCH(int, fault);
    int pipe[2];
    QVERIFY(::pipe(pipe) == 0);
    const pid_t child = ::fork();
    if (child == 0) {
        ::dup2(pipe[1], STDERR_FILENO);
        LastResort::install("prog");
        if (fault == 0) {
            std::thread([] { throw std::runtime_error("boom"); }).join();
        } else if (fault == 1) {
            const std::function<void()> allocate = [] { throw std::bad_alloc(); };
            [&]() noexcept { allocate(); }();
        } else {
            std::terminate();
        }
        ::_exit(0);
    }
    ::close(pipe[1]);
    QByteArray err;
    char buffer[256];
    for (ssize_t got; (got = ::read(pipe[0], buffer, sizeof buffer)) > 0;)
        err.append(buffer, got);
    ::close(pipe[0]);
    int status = 0;
    QCOMPARE(::waitpid(child, &status, 0), child);
    QVERIFY2(WIFEXITED(status), "exits instead of aborting");
    QCOMPARE(WEXITSTATUS(status), 1);
    QTEST(err, "line");
}

QTEST_GUILESS_MAIN(TestLimits)
#include "tst_limits.moc"
