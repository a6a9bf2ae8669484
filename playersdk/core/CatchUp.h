// What the picture decoder leaves out while the picture is behind the clock
// (the sound is the master), so that a machine that cannot decode the
// pictures as fast as they play keeps its sound and its play time: as the
// picture falls further behind, first the loop filter, then the pictures no
// other refers to, then everything up to the next key frame while the clock
// goes on. Decoding is whole again once the picture is on time.
#pragma once

#include <cstdint>

namespace playersdk {

enum class CatchUpStep {
    kNone,
    kNoLoopFilter,
    kNoNonReference,  // and no loop filter
    kToNextKeyFrame,  // drop this packet and those after it up to a key frame
};

class CatchUp {
public:
    // The step for a packet `late_us` of wall time behind the clock (negative
    // when ahead of it). A step, once taken, holds until the picture is on time.
    CatchUpStep Next(int64_t late_us, int64_t frame_interval_us);
    void Reset() { held_ = CatchUpStep::kNone; }

private:
    CatchUpStep held_ = CatchUpStep::kNone;
};

}  // namespace playersdk
