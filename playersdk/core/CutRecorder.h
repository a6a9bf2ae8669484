// The cut of one player, off the picture path. The read thread hands every
// packet it reads to Add; the recorder keeps those since the last video key
// frame at or before the picture on screen, so that a cut started now begins
// with that key frame, and feeds a running cut through a queue to a thread of
// its own that does the file writing. Start opens the file on the caller's
// thread without holding the lock Add takes; a disk slower than the stream
// makes the cut fail (and its file go) rather than hold up playback.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

struct AVFormatContext;
struct AVPacket;

namespace playersdk {

class CutWriter;

class CutRecorder {
public:
    // shown_us: the media time of the picture on screen; packets are written
    // once it has reached them, so that a cut ends with what was watched.
    CutRecorder(const AVFormatContext* input, int video_stream, int audio_stream,
                const std::atomic<int64_t>* shown_us);
    ~CutRecorder();
    CutRecorder(const CutRecorder&) = delete;
    CutRecorder& operator=(const CutRecorder&) = delete;

    // A packet as read (time_us: its media time), and the media time of the
    // picture on screen.
    void Add(const AVPacket* packet, int64_t time_us, int64_t shown_us);
    // A seek was asked for while the picture at shown_until_us was on
    // screen: a running cut keeps what was shown up to there, and carries on
    // from the next key frame the seek reads. What was kept is dropped, and so
    // is every packet added until SeekDone (read before the seek). Further
    // seeks asked before SeekDone join this one.
    void SeekAsked(int64_t shown_until_us);
    // The input has been moved to the seek's place: packets added from now on
    // are what the seek reads.
    void SeekDone();

    // Starts a cut into `path` (finishing one already running) from the key
    // frame at or before shown_us. False when the file cannot be written.
    bool Start(const std::string& path, int64_t shown_us);
    // Finishes the running cut; true when it was written whole.
    bool Stop();

private:
    struct Kept {
        AVPacket* packet = nullptr;
        int64_t time_us = 0;
        bool key = false;  // a video key frame
    };
    class Session;
    void TrimLocked(int64_t shown_us);
    void DropFrontSegmentLocked();

    const AVFormatContext* input_;
    const std::atomic<int64_t>* shown_us_;
    int video_stream_;
    int audio_stream_;

    std::mutex mutex_;  // guards what follows; no file work under it
    std::deque<Kept> kept_;
    size_t kept_bytes_ = 0;
    bool seeking_ = false;  // between SeekAsked and SeekDone
    std::unique_ptr<Session> session_;
};

}  // namespace playersdk
