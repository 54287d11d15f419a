#pragma once

// Handles for objects that calls on several threads share: the handle is the object's address,
// and every call holds a reference for its duration, so closing a handle on one thread never
// frees the object under a call still running on another. Header-only, so the simulated D2XX
// library can use it without linking the platform layer.

#include <map>
#include <memory>
#include <mutex>

namespace orvane::platform {

template <class T> class HandleRegistry {
public:
    void* add(std::shared_ptr<T> object) {
        void* const handle = object.get();
        std::lock_guard<std::mutex> guard(lock_);
        objects_.emplace(handle, std::move(object));
        return handle;
    }

    // Null for a handle that is not (or no longer) registered.
    std::shared_ptr<T> find(void* handle) const {
        std::lock_guard<std::mutex> guard(lock_);
        const auto it = objects_.find(handle);
        return it == objects_.end() ? nullptr : it->second;
    }

    // False for an unknown handle. The object goes when the last call using it returns.
    bool remove(void* handle) {
        std::shared_ptr<T> removed;
        std::lock_guard<std::mutex> guard(lock_);
        const auto it = objects_.find(handle);
        if (it == objects_.end())
            return false;
        removed = std::move(it->second);
        objects_.erase(it);
        return true;
    }

private:
    mutable std::mutex lock_; // guards objects_
    std::map<void*, std::shared_ptr<T>> objects_;
};

} // namespace orvane::platform
