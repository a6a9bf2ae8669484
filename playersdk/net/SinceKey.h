#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace playersdk::net {

// What a run has written since its last key picture. A device asked again
// from that picture sends, in the same order, the pictures written since:
// those are skipped, and from the first picture not written on everything
// goes in, so that no picture is lost or doubled and the decoder always has
// what the next picture refers to. Sound is not reordered: what is at or
// before a track's last time written was written.
class SinceKey {
public:
    // Media time of the last key picture written.
    std::optional<int64_t> KeyMs() const { return key_ms_; }
    // The device is asked again, from KeyMs() or where it paused.
    void AskedAgain() { resending_ = true; }
    void Written(size_t track, bool picture, bool key, int64_t ms) {
        if (!picture) {
            if (track >= sound_ms_.size()) sound_ms_.resize(track + 1);
            sound_ms_[track] = std::max(ms, sound_ms_[track].value_or(ms));
            return;
        }
        if (key) {
            key_ms_ = ms;
            pictures_.clear();
        }
        if (key_ms_) pictures_.emplace_back(track, ms);
    }
    // Whether a frame arriving was written already.
    bool Sent(size_t track, bool picture, int64_t ms) {
        if (!picture) return track < sound_ms_.size() && sound_ms_[track] && ms <= *sound_ms_[track];
        if (!resending_) return false;
        if (key_ms_ && ms < *key_ms_) return true;
        if (std::find(pictures_.begin(), pictures_.end(), std::pair(track, ms)) != pictures_.end()) return true;
        resending_ = false;
        return false;
    }

private:
    std::optional<int64_t> key_ms_;
    std::vector<std::pair<size_t, int64_t>> pictures_;  // in sending order, from the key picture
    std::vector<std::optional<int64_t>> sound_ms_;
    bool resending_ = false;
};

}  // namespace playersdk::net
