#include "platform/threads.h"

#ifndef _WIN32
#include <atomic>
#include <cerrno>
#include <climits>
#include <csetjmp>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <new>
#include <pthread.h>
#include <sched.h>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ORVANE_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define ORVANE_ASAN 1
#endif
#ifdef ORVANE_ASAN
#include <sanitizer/asan_interface.h>
#endif

namespace {

constexpr std::uint64_t kNoEndCode = ~std::uint64_t{0};

// What a HANDLE points at. Shared by the handle holder and the thread itself, so that either
// may finish first; the last of the two frees it.
struct ThreadRecord {
    LPTHREAD_START_ROUTINE routine = nullptr;
    LPVOID parameter = nullptr;
    DWORD id = 0;
    pthread_t thread{};
    std::atomic<int> references{2};
    // STILL_ACTIVE until the thread has finished with everything the owner may release.
    std::atomic<DWORD> exitCode{STILL_ACTIVE};
    // Written and read only by the thread itself.
    DWORD result = 0;
    bool returned = false;
    std::jmp_buf exitJump; // where ExitThread leaves the routine's frames behind
    // The code chosen by ExitThread or TerminateThread, whichever came first; the exit code of a
    // thread that either of them ended.
    std::atomic<std::uint64_t> endCode{kNoEndCode};
    // The pthread has been joined or detached; its pthread_t must not be used any more.
    std::atomic<bool> reaped{false};
};

std::atomic<DWORD> nextThreadId{1};
thread_local DWORD currentThreadId = 0;
thread_local ThreadRecord* currentRecord = nullptr; // null for threads this file did not create

DWORD newThreadId() {
    DWORD id = 0;
    while (id == 0) // 0 is never an identifier, also after the counter wraps
        id = nextThreadId.fetch_add(1, std::memory_order_relaxed);
    return id;
}

void releaseRecord(ThreadRecord* record) {
    if (record->references.fetch_sub(1, std::memory_order_acq_rel) == 1)
        delete record;
}

void chooseEndCode(ThreadRecord* record, DWORD code) {
    std::uint64_t none = kNoEndCode;
    record->endCode.compare_exchange_strong(none, code);
}

// A cancelled thread's frames were dropped without their epilogues, so AddressSanitizer still
// guards their red zones, which the runtime's own teardown of the thread then trips over. The
// thread runs only its exit handlers from here on: clear the whole stack.
void clearStaleStackPoison() {
#ifdef ORVANE_ASAN
    pthread_attr_t attributes;
    if (pthread_getattr_np(pthread_self(), &attributes) != 0)
        return;
    void* low = nullptr;
    std::size_t size = 0;
    pthread_attr_getstack(&attributes, &low, &size);
    pthread_attr_destroy(&attributes);
    if (low && size)
        ASAN_UNPOISON_MEMORY_REGION(low, size);
#endif
}

// Publishes the exit code however the thread ends: by returning from the routine (also after
// ExitThread), or by the unwinding that TerminateThread (cancellation) starts. A key
// destructor runs in every case without putting a cleanup frame of ours on the stack: an
// unwinding that stops in such a frame trips AddressSanitizer after a cancellation.
void finishThread(void* value) {
    auto* record = static_cast<ThreadRecord*>(value);
    DWORD code = record->result;
    if (!record->returned) {
        clearStaleStackPoison();
        const std::uint64_t chosen = record->endCode.load();
        code = chosen == kNoEndCode ? 1 : static_cast<DWORD>(chosen);
    }
    record->exitCode.store(code, std::memory_order_release);
    releaseRecord(record);
}

pthread_key_t finishKey() {
    static const pthread_key_t key = [] {
        pthread_key_t created{};
        pthread_key_create(&created, finishThread);
        return created;
    }();
    return key;
}

void* threadStart(void* parameter) {
    auto* record = static_cast<ThreadRecord*>(parameter);
    currentRecord = record;
    currentThreadId = record->id;
    pthread_setspecific(finishKey(), record);
    if (setjmp(record->exitJump) == 0)
        record->result = record->routine(record->parameter);
    else
        record->result = static_cast<DWORD>(record->endCode.load());
    record->returned = true;
    return nullptr;
}

ThreadRecord* recordOf(HANDLE thread) {
    return static_cast<ThreadRecord*>(thread);
}

// Joins a thread that has published its exit code (it has at most its last instructions left),
// so that everything it did, also on the way out of a forced end, happens before our next step.
void reapFinished(ThreadRecord* record) {
    if (record != currentRecord && !record->reaped.exchange(true))
        pthread_join(record->thread, nullptr);
}

} // namespace

HANDLE CreateThread(LPSECURITY_ATTRIBUTES /*attributes*/, SIZE_T stackSize,
                    LPTHREAD_START_ROUTINE routine, LPVOID parameter, DWORD creationFlags,
                    LPDWORD threadId) {
    if (!routine || creationFlags != 0)
        return nullptr;
    const pthread_key_t key = finishKey(); // created before the first thread needs it
    (void)key;
    auto* record = new (std::nothrow) ThreadRecord;
    if (!record)
        return nullptr;
    record->routine = routine;
    record->parameter = parameter;
    record->id = newThreadId();
    // Written before the thread exists, so the new thread can already compare against it.
    if (threadId)
        *threadId = record->id;

    pthread_attr_t attributes;
    if (pthread_attr_init(&attributes) != 0) {
        delete record;
        return nullptr;
    }
    if (stackSize != 0) {
        const SIZE_T least = static_cast<SIZE_T>(PTHREAD_STACK_MIN);
        pthread_attr_setstacksize(&attributes, stackSize < least ? least : stackSize);
    }
    const int created = pthread_create(&record->thread, &attributes, threadStart, record);
    pthread_attr_destroy(&attributes);
    if (created != 0) {
        delete record;
        return nullptr;
    }
    return record;
}

DWORD GetCurrentThreadId() {
    if (currentThreadId == 0)
        currentThreadId = newThreadId();
    return currentThreadId;
}

void ExitThread(DWORD exitCode) {
    if (ThreadRecord* record = currentRecord) {
        chooseEndCode(record, exitCode);
        std::longjmp(record->exitJump, 1);
    }
    pthread_exit(nullptr);
}

BOOL TerminateThread(HANDLE thread, DWORD exitCode) {
    ThreadRecord* record = recordOf(thread);
    if (!record)
        return FALSE;
    if (record == currentRecord)
        ExitThread(exitCode);
    if (record->exitCode.load(std::memory_order_acquire) != STILL_ACTIVE)
        return FALSE;
    chooseEndCode(record, exitCode);
    // The thread stays joinable until its exit code has been read or its handle closed, so its
    // pthread_t is still valid here even if it has just ended.
    return pthread_cancel(record->thread) == 0 ? TRUE : FALSE;
}

BOOL GetExitCodeThread(HANDLE thread, LPDWORD exitCode) {
    ThreadRecord* record = recordOf(thread);
    if (!record || !exitCode)
        return FALSE;
    *exitCode = record->exitCode.load(std::memory_order_acquire);
    if (*exitCode != STILL_ACTIVE)
        reapFinished(record);
    return TRUE;
}

void Sleep(DWORD milliseconds) {
    if (milliseconds == 0) {
        sched_yield();
        return;
    }
    timespec remaining{static_cast<time_t>(milliseconds / 1000),
                       static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
    }
}

BOOL CloseHandle(HANDLE thread) {
    ThreadRecord* record = recordOf(thread);
    if (!record)
        return FALSE;
    // A running thread is let go and cleans up after itself.
    if (record->exitCode.load(std::memory_order_acquire) != STILL_ACTIVE)
        reapFinished(record);
    if (!record->reaped.exchange(true))
        pthread_detach(record->thread);
    releaseRecord(record);
    return TRUE;
}
#endif
