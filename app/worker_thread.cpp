#include "app/worker_thread.h"

#include <chrono>

namespace orvane {
namespace {

constexpr DWORD kPollMs = 5;

bool stillActive(HANDLE thread) {
    DWORD code = 0;
    return GetExitCodeThread(thread, &code) && code == STILL_ACTIVE;
}

} // namespace

WorkerThread::~WorkerThread() {
    stop();
    if (HANDLE owned = ownedHandle.exchange(nullptr))
        CloseHandle(owned);
}

bool WorkerThread::start() {
    DWORD id = 0;
    HANDLE created = CreateThread(nullptr, 0, &WorkerThread::threadEntry, this, 0, &id);
    if (!created)
        return false;
    ownedHandle.store(created);
    DWORD unset = 0;
    threadId.compare_exchange_strong(unset, id);
    handle.store(created);
    // A run() that returned before we got here has already cleared `handle`; keep it cleared.
    if (leftRun.load())
        handle.store(nullptr);
    return true;
}

DWORD WINAPI WorkerThread::threadEntry(LPVOID object) {
    if (!object)
        return 0xFFFFFFFF;
    auto* self = static_cast<WorkerThread*>(object);
    // The identifier may not have reached threadId yet when start() is still returning.
    DWORD unset = 0;
    self->threadId.compare_exchange_strong(unset, GetCurrentThreadId());
    self->running.store(true);
    // A stop asked before the thread got here must not be undone by raising the flag.
    if (self->stopRequested.load())
        self->running.store(false);
    self->run();
    self->running.store(false);
    self->leftRun.store(true);
    self->handle.store(nullptr);
    // Nothing of the object may be touched from here on: the owner may already destroy it.
    return 0;
}

void WorkerThread::requestStop() {
    stopRequested.store(true);
    running.store(false);
}

void WorkerThread::awaitExit() {
    HANDLE thread = handle.load();
    if (!thread)
        return;
    requestStop();
    while (stillActive(thread)) {
        Sleep(kPollMs);
        if (!handle.load())
            break;
    }
    handle.store(nullptr);
}

void WorkerThread::stop() {
    HANDLE thread = handle.load();
    if (!thread)
        return;
    if (GetCurrentThreadId() == threadId.load()) {
        if (HANDLE owned = ownedHandle.exchange(nullptr))
            CloseHandle(owned);
        ExitThread(0);
    }
    requestStop();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(stopGraceMs);
    while (handle.load() && stillActive(thread)) {
        if (std::chrono::steady_clock::now() >= deadline) {
            stopWasForced.store(true);
            TerminateThread(thread, 1);
            break;
        }
        Sleep(kPollMs);
    }
    awaitExit();
}

} // namespace orvane
