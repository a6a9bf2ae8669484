// Media made by the tests with the ffmpeg command, and ways to read results
// back: ffprobe figures, BMP files, and frame numbers coded into pictures.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "FakeWindow.h"
#include "tests/support/Shell.h"

namespace playersdk_test {

// A fresh folder for this test binary, removed at exit.
const std::string& ScratchDir();

using test_support::Capture;
using test_support::RunShell;

// Makes (once per binary) a clip whose every picture carries its frame number:
// the left half of the picture is grey level (n % 32) * 8 + 4, the right half
// (n / 32) * 8 + 4. 64x48, 25 pictures a second, lossless H.264.
struct NumberedClip {
    double seconds = 2;
    int gop = 250;                  // key frame interval in pictures
    double start_offset = 0;        // first timestamp, seconds
    std::string audio;              // "" none, else an ffmpeg audio encoder
    std::string container = "mp4";
    std::string video = "libx264 -qp 0";  // ffmpeg video encoder and its options
    int rate = 25;                  // pictures a second
};
std::string MakeNumberedClip(const NumberedClip& clip);

// A numbered clip as a recorder writes one: a key frame every second and no
// reordered pictures, so that the n-th stored sample is picture n.
NumberedClip RecordedClip(double seconds, const std::string& container);

// A numbered clip written into `name` in the scratch folder at the pace of
// playing, in bursts of `burst` of media every `burst`, as a recorder writes,
// so that it grows while a test plays it. The clip is made whole first with
// `muxer_options` (a format, -movflags...) and its first second is there at
// once. `name` may hold folders, made as needed. The writer is stopped, if
// still running, when this is destroyed.
class GrowingClip {
public:
    GrowingClip(const std::string& name, const NumberedClip& clip, const std::string& muxer_options,
                std::chrono::milliseconds burst);
    ~GrowingClip();
    GrowingClip(const GrowingClip&) = delete;
    GrowingClip& operator=(const GrowingClip&) = delete;
    const std::string& Path() const { return path_; }
    // Waits for the writer to end; true when it wrote the whole clip.
    bool Finish();

private:
    std::string path_;
    std::thread writer_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> whole_{false};
};

// Two recording sessions of a numbered clip with sound, `seconds` each,
// joined byte for byte into one MPEG-TS as a recorder restarting would leave
// them: the second session's timestamps start `jump_seconds` after the
// first's end (before it when negative; |jump_seconds| > 2 * seconds). Both
// number their pictures from 0.
std::string MakeJoinedRecording(double seconds, double jump_seconds);

// Any ffmpeg command line producing `name` in the scratch folder; made once.
std::string MakeMedia(const std::string& name, const std::string& ffmpeg_arguments);

// The frame number shown in a picture of a numbered clip that fills the
// window (window aspect 4:3), or -1 when the picture carries none.
int FrameNumberOf(const Picture& picture);

// The frame numbers of every picture of a numbered clip's file (a cut), in
// the order ffmpeg decodes them.
std::vector<int> FrameNumbersIn(const std::string& path);

// A 24-bit BMP read back: pixels as B, G, R top-down.
struct Bitmap {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> bgr;
};
bool ReadBmp(const std::string& path, Bitmap* bitmap);

// ffprobe's idea of a file's duration in seconds; < 0 when it cannot read it.
double ProbeDuration(const std::string& path);
// The codec names of the streams in the file, in order, comma-separated.
std::string ProbeCodecs(const std::string& path);

bool FileExists(const std::string& path);
int64_t FileSize(const std::string& path);

}  // namespace playersdk_test
