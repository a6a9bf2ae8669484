// Handles for the library's background tasks (searches, downloads): small
// positive numbers, never reused, mapped to shared task objects.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

namespace playersdk::net {

template <typename Task>
class TaskTable {
public:
    int32_t Add(std::shared_ptr<Task> task) {
        std::lock_guard lock(mutex_);
        const int32_t handle = next_++;
        tasks_.emplace(handle, std::move(task));
        return handle;
    }
    std::shared_ptr<Task> Find(int32_t handle) const {
        std::lock_guard lock(mutex_);
        const auto it = tasks_.find(handle);
        return it == tasks_.end() ? nullptr : it->second;
    }
    std::shared_ptr<Task> Remove(int32_t handle) {
        std::lock_guard lock(mutex_);
        const auto it = tasks_.find(handle);
        if (it == tasks_.end()) return nullptr;
        auto task = std::move(it->second);
        tasks_.erase(it);
        return task;
    }

private:
    mutable std::mutex mutex_;
    std::map<int32_t, std::shared_ptr<Task>> tasks_;
    int32_t next_ = 1;
};

}  // namespace playersdk::net
