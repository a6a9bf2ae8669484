// Where the key frames of the picture stream are, as far as is known: all of
// them from a container's index, or, in a container without one (MPEG-TS,
// MPEG-PS, raw streams), those read so far, together with the stretches of
// media read through in which every key frame was seen. A seek asks it
// whether decoding on from where it is reaches a new target before any key
// frame, so that a seek within the same key frame's pictures is merged.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <vector>

namespace playersdk {

class KeyFrameMap {
public:
    static constexpr int64_t kUnknown = INT64_MIN;

    // From an index that holds every key frame (media times, any order).
    void SetWhole(const std::vector<int64_t>& key_times_us);
    // Reading goes on from somewhere else (a seek): the next picture read
    // begins a new stretch read through.
    void Restart();
    // A picture read, in decoding order: its decoding and presentation
    // times (media time) and whether it is a key frame.
    void Read(int64_t decode_us, int64_t time_us, bool key);

    // Known to hold no key frame between the two times (after the earlier,
    // up to the later), and a key frame at or before the earlier.
    bool SameKeyFrame(int64_t a_us, int64_t b_us) const;
    // The first key frame after time_us, when it is known; kUnknown otherwise.
    int64_t KeyFrameAfter(int64_t time_us) const;

private:
    // [from, to] lies within one stretch read through.
    bool CoveredLocked(int64_t from_us, int64_t to_us) const;

    // A long session of seeks here and there forgets what it read beyond these.
    static constexpr size_t kMaxStretches = 4096;
    static constexpr size_t kMaxKeyFrames = 1 << 17;

    mutable std::mutex mutex_;
    bool whole_ = false;
    std::set<int64_t> keys_;
    std::map<int64_t, int64_t> stretches_;  // decoding times read through: from -> to, apart
    int64_t run_from_ = kUnknown;           // the stretch being read now
};

}  // namespace playersdk
