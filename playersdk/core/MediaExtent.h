// How far a file's media really goes, where its container may claim more:
// a recording cut short (the power went, a copy taken while it was written)
// keeps the index or the header written for all of it.
#pragma once

#include <cstdint>

struct AVFormatContext;
struct AVIOContext;

namespace playersdk {

// The end of the media the input holds, in AV_TIME_BASE units on the
// container's own timeline (as its start_time), when its container claims
// more; AV_NOPTS_VALUE when nothing is missing or it cannot be told.
//  - MP4/MOV: the decoding time of the first of the samples of
//    `video_stream` that lie past the end of the input, up to the last (its
//    index was written whole).
//  - Matroska: the end of the last block in the input's last few MiB.
// Called before playing: the demuxer is left at the start.
int64_t HeldEndUs(AVFormatContext* format, int video_stream);

// Whether an MP4 is made of fragments (a moof box after its moov), which a
// writer adds to as it records: FFmpeg indexes those there at the open
// unless told to read them as they come. False for anything else. Leaves
// the input where it was.
bool Mp4Fragmented(AVIOContext* pb);

}  // namespace playersdk
