#include "app/worker_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <new>

namespace orvane {
namespace {

using Clock = std::chrono::steady_clock;

// Waits (bounded, so a fault fails instead of hanging) until the thread is no longer active and
// returns its exit code.
DWORD waitForExitCode(HANDLE thread) {
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    DWORD code = STILL_ACTIVE;
    while (GetExitCodeThread(thread, &code) && code == STILL_ACTIVE && Clock::now() < deadline)
        Sleep(1);
    return code;
}

template <typename Predicate> bool eventually(Predicate predicate) {
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (!predicate()) {
        if (Clock::now() >= deadline)
            return false;
        Sleep(1);
    }
    return true;
}

// ---- the thread calls of platform/ ----

struct RoutineLog {
    std::atomic<DWORD> seenId{0};
    std::atomic<bool> release{false};
    std::atomic<bool> pastExit{false};
    std::atomic<int> ticks{0};
};

DWORD WINAPI returnsAfterRelease(LPVOID parameter) {
    auto* log = static_cast<RoutineLog*>(parameter);
    log->seenId = GetCurrentThreadId();
    while (!log->release)
        Sleep(1);
    return 42;
}

DWORD WINAPI exitsItself(LPVOID parameter) {
    auto* log = static_cast<RoutineLog*>(parameter);
    ExitThread(7);
    log->pastExit = true; // never reached
    return 0;
}

DWORD WINAPI sleepsForever(LPVOID parameter) {
    auto* log = static_cast<RoutineLog*>(parameter);
    for (;;) {
        ++log->ticks;
        Sleep(1);
    }
}

TEST(ThreadCalls, IdentifierAndExitCodeOfARoutineThatReturns) {
    RoutineLog log;
    DWORD id = 0;
    HANDLE thread = CreateThread(nullptr, 0, returnsAfterRelease, &log, 0, &id);
    ASSERT_NE(thread, nullptr);
    EXPECT_NE(id, 0u);
    EXPECT_NE(id, GetCurrentThreadId());
    ASSERT_TRUE(eventually([&] { return log.seenId != 0; }));
    EXPECT_EQ(log.seenId.load(), id);

    DWORD code = 0;
    ASSERT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, STILL_ACTIVE);
    EXPECT_EQ(STILL_ACTIVE, 259u);
    log.release = true;
    EXPECT_EQ(waitForExitCode(thread), 42u);
    EXPECT_TRUE(CloseHandle(thread));
}

TEST(ThreadCalls, ExitThreadEndsTheCallerWithItsCode) {
    RoutineLog log;
    HANDLE thread = CreateThread(nullptr, 0, exitsItself, &log, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(waitForExitCode(thread), 7u);
    EXPECT_FALSE(log.pastExit);
    CloseHandle(thread);
}

TEST(ThreadCalls, TerminateThreadEndsASleepingThreadWithTheGivenCode) {
    RoutineLog log;
    HANDLE thread = CreateThread(nullptr, 0, sleepsForever, &log, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    ASSERT_TRUE(eventually([&] { return log.ticks > 2; }));
    EXPECT_TRUE(TerminateThread(thread, 1));
    EXPECT_EQ(waitForExitCode(thread), 1u);
    const int ticksAtEnd = log.ticks;
    Sleep(20);
    EXPECT_EQ(log.ticks, ticksAtEnd);
    CloseHandle(thread);
}

TEST(ThreadCalls, SleepWaitsAtLeastTheGivenTime) {
    const auto before = Clock::now();
    Sleep(5);
    EXPECT_GE(Clock::now() - before, std::chrono::milliseconds(5));
}

// ---- WorkerThread ----

// run() loops while `running` is set, or ignores it when told to; counts its passes.
class LoopingWorker : public WorkerThread {
public:
    ~LoopingWorker() override { stop(); }
    void run() override {
        entered = true;
        while (running || ignoreRunning) {
            ++passes;
            Sleep(1);
        }
        leftLoop = true;
    }
    bool ignoreRunning = false; // set before the thread starts
    std::atomic<bool> entered{false};
    std::atomic<bool> leftLoop{false};
    std::atomic<int> passes{0};
};

// Starts the thread the way start() does, but keeps a handle of the test's own, so that the exit
// code can be read after the object has gone.
HANDLE launch(WorkerThread& worker) {
    DWORD id = 0;
    HANDLE thread = CreateThread(nullptr, 0, &WorkerThread::threadEntry, &worker, 0, &id);
    worker.threadId = id;
    worker.handle = thread;
    return thread;
}

TEST(WorkerThread, NullObjectGivesMinusOneAtOnce) {
    EXPECT_EQ(WorkerThread::threadEntry(nullptr), 0xFFFFFFFFu);
}

TEST(WorkerThread, DestroyingAnIdleObjectTouchesNoThread) {
    auto* worker = new LoopingWorker;
    EXPECT_FALSE(worker->running);
    EXPECT_EQ(worker->handle.load(), nullptr);
    EXPECT_EQ(worker->threadId.load(), 0u);
    delete worker;
}

class ReturningWorker : public WorkerThread {
public:
    ~ReturningWorker() override { stop(); }
    void run() override { sawRunning = running.load(); }
    std::atomic<bool> sawRunning{false};
};

TEST(WorkerThread, RunThatReturnsLeavesTheObjectIdleWithExitCodeZero) {
    ReturningWorker direct;
    direct.handle = reinterpret_cast<HANDLE>(&direct); // any non-null value
    EXPECT_EQ(WorkerThread::threadEntry(&direct), 0u);
    EXPECT_TRUE(direct.sawRunning);
    EXPECT_FALSE(direct.running);
    EXPECT_EQ(direct.handle.load(), nullptr);

    // On a real thread the body may be over before start() has stored the handle; the object
    // must still end up idle. Repeated to give that ordering a chance.
    for (int i = 0; i < 20; ++i) {
        ReturningWorker worker;
        ASSERT_TRUE(worker.start());
        EXPECT_NE(worker.threadId.load(), 0u);
        ASSERT_TRUE(eventually([&] { return worker.handle.load() == nullptr; })) << i;
        EXPECT_TRUE(worker.sawRunning);
        EXPECT_FALSE(worker.running);
    }
}

TEST(WorkerThread, AwaitExitLowersRunningAndWaitsForTheThread) {
    LoopingWorker worker;
    HANDLE thread = launch(worker);
    ASSERT_TRUE(eventually([&] { return worker.passes > 0; }));
    EXPECT_TRUE(worker.running);
    worker.awaitExit();
    EXPECT_TRUE(worker.leftLoop);
    EXPECT_FALSE(worker.running);
    EXPECT_EQ(worker.handle.load(), nullptr);
    EXPECT_EQ(waitForExitCode(thread), 0u);
    CloseHandle(thread);
}

TEST(WorkerThread, DestroyingFromAnotherThreadLetsALoopThatWatchesRunningFinish) {
    auto* worker = new LoopingWorker;
    HANDLE thread = launch(*worker);
    ASSERT_TRUE(eventually([&] { return worker->passes > 0; }));
    delete worker;
    EXPECT_EQ(waitForExitCode(thread), 0u);
    CloseHandle(thread);
}

TEST(WorkerThread, DestroyingFromAnotherThreadForcesALoopThatIgnoresRunning) {
    auto* worker = new LoopingWorker;
    worker->ignoreRunning = true;
    worker->stopGraceMs = 30;
    HANDLE thread = launch(*worker);
    ASSERT_TRUE(eventually([&] { return worker->passes > 0; }));
    delete worker;
    // The destructor returns only once the thread is no longer active.
    DWORD code = 0;
    ASSERT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, 1u);
    CloseHandle(thread);
}

TEST(WorkerThread, StopRightAfterStartNeedsNoForce) {
    // A stop that comes before the new thread has raised `running` must still end the loop:
    // otherwise the thread would have to be ended by force (exit code 1).
    for (int i = 0; i < 50; ++i) {
        auto* worker = new LoopingWorker;
        worker->stopGraceMs = 500;
        HANDLE thread = launch(*worker);
        delete worker;
        EXPECT_EQ(waitForExitCode(thread), 0u) << i;
        CloseHandle(thread);
    }
}

// Sets a flag when the thread that armed it ends, after everything else on that thread.
struct ThreadEndFlag {
    std::atomic<bool>* flag = nullptr;
    ~ThreadEndFlag() {
        if (flag)
            *flag = true;
    }
};
thread_local ThreadEndFlag threadEndFlag;

// Destroys itself from inside run() once the test lets it.
class SelfDestroyingWorker : public WorkerThread {
public:
    std::atomic<bool> go{false};
    std::atomic<bool>* pastDestruction = nullptr;
    std::atomic<bool>* threadEnded = nullptr;

    void run() override {
        threadEndFlag.flag = threadEnded;
        while (!go)
            Sleep(1);
        std::atomic<bool>* after = pastDestruction;
        this->~SelfDestroyingWorker();
        *after = true; // never reached
    }
};

TEST(WorkerThread, DestroyingFromItsOwnThreadEndsThatThreadWithExitCodeZero) {
    std::atomic<bool> after{false};
    std::atomic<bool> ended{false};
    alignas(SelfDestroyingWorker) unsigned char storage[sizeof(SelfDestroyingWorker)];

    auto* worker = new (storage) SelfDestroyingWorker;
    worker->pastDestruction = &after;
    worker->threadEnded = &ended;
    HANDLE thread = launch(*worker);
    worker->go = true;
    EXPECT_EQ(waitForExitCode(thread), 0u);
    EXPECT_FALSE(after);
    CloseHandle(thread);
    ASSERT_TRUE(eventually([&] { return ended.load(); }));

    // Through start(), whose handle the destructor releases before the thread ends.
    ended = false;
    worker = new (storage) SelfDestroyingWorker;
    worker->pastDestruction = &after;
    worker->threadEnded = &ended;
    ASSERT_TRUE(worker->start());
    worker->go = true;
    ASSERT_TRUE(eventually([&] { return ended.load(); }));
    EXPECT_FALSE(after);
}

} // namespace
} // namespace orvane
