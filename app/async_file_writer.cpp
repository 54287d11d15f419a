#include "app/async_file_writer.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#ifndef O_BINARY
#define O_BINARY 0
#endif

namespace orvane {
namespace {

// The writer is woken early when this much is queued, so memory stays bounded at high rates.
constexpr std::size_t kEagerBytes = 64 * 1024;

} // namespace

bool AsyncFileWriter::open(const std::string& path, bool overwrite, std::string& error) {
    const int flags = O_WRONLY | O_CREAT | O_BINARY | (overwrite ? O_TRUNC : O_EXCL);
    const int fd = ::open(path.c_str(), flags, 0644);
    if (fd < 0) {
        error = errno == EEXIST ? path + " exists; give --force to overwrite it"
                                : "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    file_ = ::fdopen(fd, "wb");
    if (!file_) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        ::close(fd);
        return false;
    }
    path_ = path;
    thread_ = std::thread([this] { writeLoop(); });
    return true;
}

void AsyncFileWriter::append(const void* data, std::size_t length) {
    if (length == 0)
        return;
    bool eager = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto* bytes = static_cast<const unsigned char*>(data);
        queue_.insert(queue_.end(), bytes, bytes + length);
        eager = queue_.size() >= kEagerBytes;
    }
    if (eager)
        wake_.notify_one();
}

std::string AsyncFileWriter::error() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return error_;
}

void AsyncFileWriter::fail(const std::string& why) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!error_.empty())
            return;
        error_ = why;
    }
    failed_ = true;
    if (onFailure)
        onFailure(why);
}

void AsyncFileWriter::writeLoop() {
    std::vector<unsigned char> batch;
    for (;;) {
        bool last = false;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait_for(lock, kFlushInterval,
                           [this] { return stopping_ || queue_.size() >= kEagerBytes; });
            batch.swap(queue_);
            last = stopping_;
        }
        if (!batch.empty() && !failed_) {
            errno = 0;
            const bool written = std::fwrite(batch.data(), 1, batch.size(), file_) == batch.size();
            if (!written || std::fflush(file_) != 0)
                fail("cannot write " + path_ + ": " + std::strerror(errno != 0 ? errno : EIO));
        }
        batch.clear();
        if (last)
            return;
    }
}

bool AsyncFileWriter::close() {
    if (thread_.joinable()) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_one();
        thread_.join();
    }
    if (file_) {
        if (std::fclose(file_) != 0 && !failed_)
            fail("cannot write " + path_ + ": " + std::strerror(errno));
        file_ = nullptr;
    }
    return !failed_;
}

} // namespace orvane
