// A thread's doorbell: whoever changes something the thread waits on rings
// it; a ring that comes before the thread sleeps is not lost, so the thread
// may look at what it needs under other locks and then sleep here with none
// held. Its lock is taken last of all and held for no call out.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace playersdk {

class Wakeup {
public:
    void Ring() {
        {
            std::lock_guard lock(mutex_);
            rung_ = true;
        }
        rang_.notify_all();
    }
    // Until rung since the last wait.
    void Wait() {
        std::unique_lock lock(mutex_);
        rang_.wait(lock, [this] { return rung_; });
        rung_ = false;
    }
    // Until rung or after `longest`, whichever comes first.
    template <class Rep, class Period>
    void WaitFor(std::chrono::duration<Rep, Period> longest) {
        std::unique_lock lock(mutex_);
        rang_.wait_for(lock, longest, [this] { return rung_; });
        rung_ = false;
    }

private:
    std::mutex mutex_;
    std::condition_variable rang_;
    bool rung_ = false;
};

}  // namespace playersdk
