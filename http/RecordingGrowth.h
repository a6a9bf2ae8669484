// When a recording still being written counts as whole: the rule the
// recorder's server and the library's local files share.
#pragma once

#include <chrono>

namespace recording_growth {

// A file that changed less than this long ago is taken as still being
// written (a writer pauses between bursts); left alone this long, it is whole.
inline constexpr std::chrono::milliseconds kQuietForEnd{3000};

}  // namespace recording_growth
