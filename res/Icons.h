// The program's icons as XPM text, one image per size.
#pragma once

namespace res {

extern const char* const kFilmCameraIcon32[];
extern const char* const kFilmCameraIcon16[];

}  // namespace res
