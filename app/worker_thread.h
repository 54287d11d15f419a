#pragma once

#include "platform/threads.h"

#include <atomic>

namespace orvane {

// Gives an object a thread of its own whose body is run(). The object must not be destroyed
// before start() has returned. A derived class whose run() uses its own members calls stop() first
// in its destructor, so that the thread has left run() before those members go.
class WorkerThread {
public:
    // How long stop() waits for run() to return by itself before ending the thread by force. The
    // acquisition loop sees a stop between two reads of its link (20 ms apart), so this is only
    // the last resort for a thread stuck inside a device call; a process must still be able to
    // exit within 2 s of being asked.
    static constexpr DWORD kStopGraceMs = 1900;

    WorkerThread() = default;
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;
    // Stops the thread (see stop). When the object's own thread destroys it, that thread ends
    // inside the destructor and the rest of the object is left as it is.
    virtual ~WorkerThread();

    // Creates the thread, which runs at once; true when a handle was obtained. Called once.
    bool start();
    // The thread's start routine; the parameter is the WorkerThread. Returns the exit code:
    // 0 after run() returned, 0xFFFFFFFF at once for a null object.
    static DWORD WINAPI threadEntry(LPVOID object);
    // Lowers `running` and waits, without a time limit, until the thread is no longer active.
    void awaitExit();
    // Lowers `running` for good: also when the thread has not yet raised it. Any thread.
    void requestStop();
    // Ends the thread. On the object's own thread: ends that thread with exit code 0 at once.
    // Otherwise: lowers `running`, waits up to stopGraceMs for run() to return, and only if it
    // does not, ends the thread by force with exit code 1 and waits for it (awaitExit). Forcing
    // is the last resort because a thread ended while it holds a lock can hang the process.
    void stop();

    virtual void run() = 0;

    std::atomic<bool> running{false};    // the thread is inside run(); run() loops while set
    std::atomic<HANDLE> handle{nullptr}; // the running thread; cleared once it left run()
    std::atomic<DWORD> threadId{0};      // identifier of the thread, 0 before start()
    DWORD stopGraceMs = kStopGraceMs;    // read by stop() on the owner's thread
    // Set when stop() had to end the thread by force: the last resort, which tests insist on
    // never seeing.
    std::atomic<bool> stopWasForced{false};

private:
    std::atomic<HANDLE> ownedHandle{nullptr}; // from start(); closed by the destructor
    std::atomic<bool> stopRequested{false};
    std::atomic<bool> leftRun{false}; // threadEntry has cleared `handle`; start() must not undo it
};

} // namespace orvane
