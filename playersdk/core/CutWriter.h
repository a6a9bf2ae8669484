// Copies the packets of a playing stream, without re-encoding, into a
// fragmented MP4 file: from the first video key frame it is given on,
// timestamps shifted to start at 0, sound included when MP4 or, for a
// camera's G.711 or G.726, its QuickTime variant can carry its codec. Each key frame closes a fragment and reaches the disk, so a process
// killed mid-cut leaves a file that plays up to its last fragment; a cut that
// fails (a full disk) removes its file.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct AVFormatContext;
struct AVPacket;

namespace playersdk {

class CutWriter {
public:
    // nullptr when the file cannot be created or the streams cannot be stored,
    // or when `path` names something other than a regular file.
    static std::unique_ptr<CutWriter> Start(const std::string& path, const AVFormatContext* input,
                                            int video_stream, int audio_stream);
    ~CutWriter();
    CutWriter(const CutWriter&) = delete;
    CutWriter& operator=(const CutWriter&) = delete;

    // A packet as it is read from the input (any stream; others are skipped).
    void Write(const AVPacket* packet);
    // The input jumped (a seek): carry on from the next key frame, keeping the
    // written timeline continuous.
    void Discontinuity();
    // Marks the cut as failed: Finish then removes the file.
    void Fail() { failed_ = true; }
    // Writes the end of the file and closes it. True when it is complete;
    // otherwise the file is removed.
    bool Finish();

private:
    CutWriter() = default;
    struct Track {
        int input_index = -1;
        int output_index = -1;
        int64_t shift = 0;            // subtracted from input timestamps
        int64_t last_dts = INT64_MIN; // last written, output time base
        int64_t next_dts = 0;
        bool have_shift = false;
        bool strip_adts = false;      // AAC in ADTS frames: written bare
    };
    Track* TrackOf(int input_index);

    std::string path_;
    const AVFormatContext* input_ = nullptr;
    AVFormatContext* output_ = nullptr;
    AVPacket* scratch_ = nullptr;
    std::vector<Track> tracks_;
    bool waiting_for_key_ = true;
    int64_t resume_us_ = 0;           // output time where the next segment starts
    bool failed_ = false;
    bool finished_ = false;
};

}  // namespace playersdk
