#include "core/KeyFrameMap.h"

#include <algorithm>
#include <iterator>

namespace playersdk {

void KeyFrameMap::SetWhole(const std::vector<int64_t>& key_times_us) {
    std::lock_guard lock(mutex_);
    keys_ = std::set<int64_t>(key_times_us.begin(), key_times_us.end());
    whole_ = true;
}

void KeyFrameMap::Restart() {
    std::lock_guard lock(mutex_);
    run_from_ = kUnknown;
}

void KeyFrameMap::Read(int64_t decode_us, int64_t time_us, bool key) {
    std::lock_guard lock(mutex_);
    if (whole_ || decode_us == kUnknown) return;
    if (stretches_.size() > kMaxStretches || keys_.size() > kMaxKeyFrames) {
        stretches_.clear();
        keys_.clear();
        run_from_ = kUnknown;
    }
    if (key && time_us != kUnknown) keys_.insert(time_us);
    if (run_from_ == kUnknown || decode_us < run_from_) {
        // The stretch starts here, or joins the one it falls in.
        auto at = stretches_.upper_bound(decode_us);
        if (at != stretches_.begin() && std::prev(at)->second >= decode_us) {
            run_from_ = std::prev(at)->first;
        } else {
            run_from_ = decode_us;
            stretches_[decode_us] = decode_us;
        }
    }
    int64_t& to = stretches_[run_from_];
    to = std::max(to, decode_us);
    // Reading on into the next stretch read before: they become one.
    for (auto next = stretches_.upper_bound(run_from_); next != stretches_.end() && next->first <= to;) {
        to = std::max(to, next->second);
        next = stretches_.erase(next);
    }
}

bool KeyFrameMap::CoveredLocked(int64_t from_us, int64_t to_us) const {
    if (whole_) return true;
    auto at = stretches_.upper_bound(from_us);
    return at != stretches_.begin() && std::prev(at)->second >= to_us;
}

bool KeyFrameMap::SameKeyFrame(int64_t a_us, int64_t b_us) const {
    const int64_t from = std::min(a_us, b_us);
    const int64_t to = std::max(a_us, b_us);
    std::lock_guard lock(mutex_);
    if (keys_.empty() || *keys_.begin() > from || !CoveredLocked(from, to)) return false;
    return keys_.upper_bound(from) == keys_.upper_bound(to);
}

int64_t KeyFrameMap::KeyFrameAfter(int64_t time_us) const {
    std::lock_guard lock(mutex_);
    auto next = keys_.upper_bound(time_us);
    if (next == keys_.end() || !CoveredLocked(time_us, *next)) return kUnknown;
    return *next;
}

}  // namespace playersdk
