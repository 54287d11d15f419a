#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace orvane {

// A file written by a thread of its own, so that a slow or full disk never holds up whoever
// produces the bytes (the acquisition loop): append() only queues them. The thread writes what is
// queued at least every kFlushInterval and hands it to the system, so a killed process loses at
// most that much.
class AsyncFileWriter {
public:
    static constexpr std::chrono::milliseconds kFlushInterval{500};

    AsyncFileWriter() = default;
    AsyncFileWriter(const AsyncFileWriter&) = delete;
    AsyncFileWriter& operator=(const AsyncFileWriter&) = delete;
    ~AsyncFileWriter() { close(); }

    // Creates `path` for writing and starts the thread. An existing file is an error unless
    // `overwrite`. False with one line in `error`, naming the file, when it cannot be had.
    bool open(const std::string& path, bool overwrite, std::string& error);
    // Queues bytes. Any thread; never waits for the disk.
    void append(const void* data, std::size_t length);
    // Whether a write failed; error() then says how, in one line. Any thread.
    bool failed() const { return failed_.load(); }
    std::string error() const;
    // Writes what is queued and closes the file; false when anything failed. Idempotent.
    bool close();

    // Called once, on the writer's thread, when a write first fails (set before open).
    std::function<void(const std::string& error)> onFailure;

private:
    void writeLoop();
    void fail(const std::string& why);

    std::string path_;
    std::FILE* file_ = nullptr; // owned; used only by the writer's thread once it runs
    std::thread thread_;
    mutable std::mutex mutex_;     //!< guards queue_, stopping_ and error_
    std::condition_variable wake_; // stop, or a large queue
    std::vector<unsigned char> queue_;
    bool stopping_ = false;
    std::string error_;
    std::atomic<bool> failed_{false};
};

} // namespace orvane
