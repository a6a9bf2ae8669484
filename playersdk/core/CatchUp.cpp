#include "core/CatchUp.h"

#include <algorithm>

#include "core/EngineBounds.h"

namespace playersdk {

CatchUpStep CatchUp::Next(int64_t late_us, int64_t frame_interval_us) {
    if (late_us <= 0) {
        held_ = CatchUpStep::kNone;
        return held_;
    }
    CatchUpStep wanted = CatchUpStep::kNone;
    if (late_us > kCatchUpNonReferenceLateUs) {
        wanted = CatchUpStep::kNoNonReference;
    } else if (late_us > kCatchUpLoopFilterLateFrames * frame_interval_us) {
        wanted = CatchUpStep::kNoLoopFilter;
    }
    held_ = std::max(held_, wanted);
    // The jump is for this packet only; after the key frame the held step goes on.
    return late_us > kCatchUpKeyFrameLateUs ? CatchUpStep::kToNextKeyFrame : held_;
}

}  // namespace playersdk
