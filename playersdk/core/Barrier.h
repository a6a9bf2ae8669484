// The library never ends its host's process on a failure: an exception (an
// allocation that failed, a thread that could not be started, a host
// callback that threw) stops at the C entry point or the thread body it
// would leave, as that call's failure answer or as the thread's quiet end.
#pragma once

#include <utility>

namespace playersdk {

// `body()`, or `failure` when it throws.
template <typename Result, typename Body>
Result Shielded(Result failure, Body&& body) noexcept {
    try {
        return std::forward<Body>(body)();
    } catch (...) {
        return failure;
    }
}

// `body()`; false when it threw. For thread bodies, which have nobody to answer.
template <typename Body>
bool Shielded(Body&& body) noexcept {
    try {
        std::forward<Body>(body)();
        return true;
    } catch (...) {
        return false;
    }
}

}  // namespace playersdk
