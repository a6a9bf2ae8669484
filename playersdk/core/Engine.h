// The engine behind the Player facade (Player.h): one open media source
// playing into one window, and the work of every entry point on it.
//
// Inside, four threads (docs/ENGINE.md draws them): a read thread
// (ReadThread.cpp) demultiplexes into bounded packet queues, one for the
// pictures and one for the sound; a picture thread (VideoThread.cpp) decodes
// into a short queue of pictures; a presenting thread (PresentThread.cpp) only
// waits for each picture's time and presents it; the sound is decoded on a
// thread of its own (SoundThread.cpp) and played by the SDL device's callback,
// which keeps the clock on what is heard. Opening.cpp opens the media and
// Seeking.cpp carries seeks out. Where playback stands is one PlaybackState,
// changed only through its steps. Every seek bumps a serial number that each
// queued packet and picture carries, so whatever was read or decoded before it
// is dropped. A seek first shows the key frame it lands on, then the exact
// picture at the target, unless a newer seek comes first.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/EventPoster.h"
#include "core/KeyFrameMap.h"
#include "core/MediaInput.h"
#include "core/PacketQueue.h"
#include "core/PictureQueue.h"
#include "core/PictureScaler.h"
#include "core/PlaybackClock.h"
#include "core/PlaybackState.h"
#include "core/Player.h"
#include "core/Wakeup.h"
#include "core/WindowGate.h"
#include "player/PlayerSdk.h"

struct AVFormatContext;
struct AVIOContext;
struct AVCodec;
struct AVCodecContext;
struct AVFrame;
struct AVPacket;

namespace playersdk {

// Lowers the calling thread's priority only (Linux keeps a niceness per
// thread); threads it starts afterwards inherit it. Best effort: a refusal
// leaves the priority as it was.
void LowerThisThreadsPriority(int by);

class AudioOutput;
class CutRecorder;
class WrittenEnd;
class Timeline;

// What each public member does is said in Player.h.
class Engine {
public:
    static std::unique_ptr<Engine> Open(std::unique_ptr<MediaInput> input, std::string* why);
    ~Engine();
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    void SetHandle(PlayerHandle handle);

    void AttachPictureWindow(PlayerWindow* window);
    void Start();
    void SetBuffering(bool buffering);
    int64_t ReadBlockedMs() const;
    int64_t QueuedAheadMs() const;
    Player::ReadMark LastRead() const;
    double Speed() const;
    bool Paused() const;
    void PostEvent(int code) { events_.Post(code); }
    MediaInput* Input() const { return input_.get(); }
    void SetDecodeCostForTesting(std::chrono::microseconds cost) { decode_cost_us_ = cost.count(); }

    void SetNotifyWindow(PlayerWindow* window, uint32_t message) { events_.SetTarget(window, message); }
    bool Play(PlayerWindow* window);
    bool Pause();
    bool StepFrame();
    bool Faster();
    bool Slower();
    bool SeekToMs(uint32_t ms);
    bool SeekToRatio(float ratio);
    bool HasAudio() const { return audio_stream_ >= 0; }
    bool SoundOn();
    bool SoundOff();
    uint32_t TotalMs() const { return total_ms_; }
    uint32_t PlayMs() const;
    bool Snapshot(const std::string& path);
    bool StartCut(const std::string& path);
    bool StopCut();
    void Close();

private:
    // One step of the speed ladder, with the clock following it.
    bool ChangeSpeed(bool (PlaybackState::*step)());
    explicit Engine(std::unique_ptr<MediaInput> input);

    // --- opening (Opening.cpp), on the thread calling Open ---
    bool OpenMedia(std::string* why);
    bool OpenVideoDecoder(std::string* why);
    void OpenAudioDecoder();
    bool DecodeFirstPicture();
    void StartThreads();
    // The input behind the demultiplexer.
    static int ReadPacket(void* opaque, uint8_t* buffer, int size);
    static int64_t SeekInput(void* opaque, int64_t offset, int whence);
    static int Interrupted(void* opaque);

    // --- read thread (ReadThread.cpp) ---
    void ReadLoop();
    // The next packet of the input, its timestamps in media time (see there).
    int ReadMediaPacket(AVPacket* packet);
    int64_t PacketTimeUs(const AVPacket* packet) const;
    // The media time it is decoded at (its presentation time when it has none).
    int64_t PacketDecodeTimeUs(const AVPacket* packet) const;
    int64_t PacketDurationUs(const AVPacket* packet) const;
    // The packet lies past the end of what a file cut short holds.
    bool PastHeldEnd(const AVPacket* packet) const;
    // Read thread: the total reaches at least to the end of this packet.
    void GrowTotal(const AVPacket* packet);
    bool QueuesFull() const;
    // A file still being written: the total reaches to the end of what it
    // holds now, read or not (at most every kWrittenEndLookEvery).
    void FollowWrittenEnd();
    void RoutePacket(AVPacket* packet);

    // --- seeking (Seeking.cpp) ---
    // An entry point's seek.
    void RequestSeekLocked(int64_t target_us);
    // The read thread's part.
    void SeekLocked(std::unique_lock<std::mutex>& lock);
    bool SeekToKeyFrameAtOrBefore(int64_t target_us);
    // A fragmented MP4 read fragment by fragment: its index holds only the
    // fragments read so far, so it reads on to the one holding ts.
    void ReadOnToFragmentOf(int64_t ts);
    // Moves the input to a byte position (a seek); false when it cannot.
    bool SeekToByte(int64_t pos);
    // Whether the sound track has carried nothing for kSilentSoundUs of the
    // pictures read since the latest seek.
    bool SoundSilent() const;

    // --- picture thread (VideoThread.cpp) ---
    void VideoLoop();
    // A picture decoder of the video stream on this many threads; null when
    // it cannot be opened.
    AVCodecContext* NewVideoDecoder(const AVCodec* codec, int threads) const;
    // The decoder replaced by one on this many threads (the old one's state
    // goes with it, as after a flush). False keeps the old.
    bool ReplaceVideoDecoder(int threads);
    // Sends one packet (nullptr drains) and hands on every picture.
    struct DecodeState;
    void DecodePacket(AVPacket* packet, DecodeState& state);
    void OfferPicture(AVFrame* frame, DecodeState& state);
    // Decoding on to the serial's target again, from the next picture.
    void ResumeRefiningLocked(DecodeState& state);
    // Decoding on to an exact target: false once it has had its time and the
    // seek lands on the picture reached (reached_us) instead; a next key frame
    // nearer the target becomes a seek of its own.
    bool DecodeOnWithinBudget(int64_t reached_us, DecodeState& state);
    void PushPicture(QueuedPicture picture) { pictures_.Push(picture); }
    int64_t FrameTimeUs(const AVFrame* frame) const;
    int64_t FrameDurationUs(const AVFrame* frame) const;

    // --- sound thread (SoundThread.cpp) ---
    void SoundLoop();
    bool SoundWantedLocked() const;

    // --- presenting thread (PresentThread.cpp) ---
    void PresentLoop();
    bool TakeNextLocked();
    void Show(QueuedPicture& picture);
    void PreRender(QueuedPicture& picture);
    bool SoundReadyLocked() const;
    // Shows the picture at once, then holds the presenter until the sound is
    // ready, for a bounded time; the serial it was shown under.
    int ShowAndAwaitSoundLocked(std::unique_lock<std::mutex>& lock, QueuedPicture& picture);
    bool EndReachedLocked() const;
    // Every picture packet read has been decoded and the input waits for
    // more of a file still being written.
    bool InputStarvedLocked() const;

    // Runs or holds the clock and the sound as the state says, and wakes the
    // presenter and the sound thread to look again.
    void UpdateClockLocked();
    // Lets the player's lock go while the thread waits for its wakeup, at
    // most `longest`.
    static void AwaitLocked(std::unique_lock<std::mutex>& lock, Wakeup& wakeup,
                            PlaybackClock::WallClock::duration longest = PlaybackClock::WallClock::duration::max());

    static constexpr int64_t kUnknownTime = INT64_MIN;

    // --- the media, set by the open ---
    std::unique_ptr<MediaInput> input_;
    AVIOContext* avio_ = nullptr;
    AVFormatContext* format_ = nullptr;
    int video_stream_ = -1;
    int audio_stream_ = -1;
    int64_t start_us_ = 0;          // media time 0, in AV_TIME_BASE units
    int64_t frame_interval_us_ = 40000;
    // Grows as packets past it are read (a recording still being written).
    std::atomic<uint32_t> total_ms_{0};
    // Where the media the file holds ends, when its container claims more
    // (a recording cut short); AV_NOPTS_VALUE when it holds all it claims.
    int64_t held_end_us_ = AV_NOPTS_VALUE;
    // The container can be read further as its file grows.
    bool may_grow_ = true;
    // A fragmented MP4 or an MPEG-TS being written: where what it holds
    // ends; null for anything else.
    std::unique_ptr<WrittenEnd> written_end_;
    PlaybackClock::WallClock::time_point written_end_looked_at_;
    // Timestamps that jump, or none at all, made one continuous media time.
    std::unique_ptr<Timeline> timeline_;
    bool seekable_ = true;
    // The container seeks by timestamps to any picture (MPEG-TS, MPEG-PS):
    // seeks find their key frame by reading.
    bool seek_by_reading_ = false;
    // The key frames: all of them when the container's index is whole at
    // the open (MP4 but a fragmented one still being written); else those
    // the read thread has read so far, with the stretches it read through.
    KeyFrameMap key_frames_;

    // The picture thread's decoder. Playing needs few decoding threads (each
    // costs CPU of its own); an exact seek decoding on from a key frame wants
    // every core, until the next key frame after it lets the decoder change back.
    AVCodecContext* video_decoder_ = nullptr;
    int playback_decoder_threads_ = 1;
    int seek_decoder_threads_ = 1;
    int video_decoder_threads_ = 1;
    // The open gave the decoder every picture packet from a key frame on:
    // the picture thread goes on from whole references.
    bool opened_on_key_frame_ = false;

    // Abort: every thread and every wait ends once this is set.
    std::atomic<bool> quit_{false};
    // The play time: the picture on screen, or a seek's target.
    std::atomic<int64_t> shown_us_{0};
    std::atomic<int64_t> read_started_ms_{0};
    std::atomic<int64_t> decode_cost_us_{0};

    // Where reading has got to since the latest seek (the read thread's):
    // the media times of the latest picture and sound packets, and the
    // seek's target they count from.
    std::atomic<int64_t> video_read_us_{kUnknownTime};
    std::atomic<int64_t> sound_read_us_{kUnknownTime};
    std::atomic<int64_t> read_from_us_{0};
    mutable std::mutex read_mark_mutex_;
    Player::ReadMark last_read_;  // guarded by read_mark_mutex_

    // Each thread's wakeup, rung by whatever changes what it waits for (the
    // picture thread waits on its queues themselves).
    Wakeup reader_wake_;
    Wakeup sound_wake_;
    Wakeup presenter_wake_;

    // The queues, each under a lock of its own (docs/ENGINE.md: lock order).
    PacketQueue video_packets_{&reader_wake_};
    PacketQueue sound_packets_{&reader_wake_, &sound_wake_};
    PictureQueue pictures_{&presenter_wake_};

    // The player's lock: the playback state, the exact seek's progress and
    // the sound output.
    mutable std::mutex mutex_;
    PlaybackState state_;
    // The picture thread is decoding on to the serial's target; the pictures
    // it has decoded under the serial end at decoded_to_us_. A seek further on
    // before the next key frame only moves the target.
    bool refining_ = false;
    int64_t decoded_to_us_ = 0;
    // The picture thread's decoder holds every reference the pictures after
    // decoded_to_us_ need: nothing was dropped or decoded without its loop
    // filter since their key frame, in the packets it has taken so far, nor
    // at key-frames-only speeds, and the end was not drained. Paused, the
    // clock stands for the packets it takes after, so that none is dropped
    // to catch up: a target further on can be reached by decoding on, too.
    bool decodes_on_ = false;
    std::unique_ptr<AudioOutput> audio_;  // created by the first SoundOn

    PlaybackClock clock_;
    EventPoster events_;
    WindowGate window_;

    // The presenting thread's own.
    QueuedPicture next_;
    bool has_next_ = false;
    uint64_t rendered_id_ = 0;
    PlayerWindow* rendered_for_ = nullptr;
    int64_t last_end_us_ = 0;
    PictureScaler scaler_;
    PlaybackClock::WallClock::time_point last_present_;

    std::mutex shown_mutex_;        // guards shown_
    AVFrame* shown_ = nullptr;      // the picture on screen, for snapshots

    std::unique_ptr<CutRecorder> cut_;

    std::mutex close_mutex_;
    std::thread reader_;
    std::thread video_;
    std::thread sound_;
    std::thread presenter_;
};

}  // namespace playersdk
