// One open media source playing into one window: the engine behind every
// Player* entry point, for local files and for network streams alike.
//
// How the stream side (net/) uses it:
//
//   auto input = std::make_unique<MyStreamInput>(...);      // a MediaInput
//   std::string why;
//   std::shared_ptr<Player> player = Player::Open(std::move(input), &why);
//       // Reads the header and decodes the first picture through the input,
//       // on the calling thread (Read may block until those bytes arrive).
//       // nullptr when the media cannot be played.
//   player->AttachPictureWindow(picture);   // PlayerPlay's window is then ignored
//   PlayerHandle h = RegisterPlayer(player); // HandleTable.h: every Player*
//                                           // entry point now works on h
//   player->PostEvent(PLAYER_EVENT_BUFFERING); // kept until the caller's
//                                           // PlayerSetNotifyWindow, then posted
//   ... when enough is buffered:
//   player->Start();                        // starts showing and playing
//   player->PostEvent(PLAYER_EVENT_STARTED);
//
//   While playing, the input's Read knows when it is waiting for data; the
//   player also reports how long its current Read has been blocked
//   (ReadBlockedMs). To re-buffer, call SetBuffering(true): the clock and the
//   pictures hold still; SetBuffering(false) carries on where it stopped.
//   PlayerClose(h) calls the input's Interrupt(), joins the player's threads
//   and then destroys the input; look the player up again with FindPlayer(h)
//   (and Input()) rather than keeping raw pointers to it.
//
// PLAYER_EVENT_END is posted by the player itself when the last picture has
// been shown and the sound has drained.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "core/EventPoster.h"
#include "core/MediaInput.h"
#include "core/PictureScaler.h"
#include "core/PlaybackClock.h"
#include "player/PlayerSdk.h"

struct AVFormatContext;
struct AVIOContext;
struct AVCodecContext;
struct AVFrame;
struct AVPacket;

namespace playersdk {

class AudioOutput;
class CutWriter;

class Player {
public:
    // Opens the media behind `input` and decodes its first picture. nullptr,
    // with the reason in *why when given, for anything that cannot be played.
    static std::shared_ptr<Player> Open(std::unique_ptr<MediaInput> input, std::string* why = nullptr);
    ~Player();
    Player(const Player&) = delete;
    Player& operator=(const Player&) = delete;

    // Set once by RegisterPlayer; the handle posted with every event.
    void SetHandle(PlayerHandle handle);

    // --- for the stream side ---
    // Ties the player to its picture window for good: Play ignores its window
    // argument from then on and only resumes.
    void AttachPictureWindow(PlayerWindow* window);
    // Starts showing pictures (from the first one) and running the clock.
    void Start();
    // Holds the clock and the pictures while the stream re-buffers.
    void SetBuffering(bool buffering);
    // How long the read in progress has waited, in ms; 0 when not reading.
    int64_t ReadBlockedMs() const;
    // An event for the registered notify window (kept until there is one).
    void PostEvent(int code) { events_.Post(code); }
    MediaInput* Input() const { return input_.get(); }

    // --- the Player* entry points ---
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
    // Finishes a running cut, stops and joins every thread of the player and
    // detaches it from its windows. Safe to call more than once.
    void Close();

private:
    explicit Player(std::unique_ptr<MediaInput> input);
    bool OpenMedia(std::string* why);
    bool OpenVideoDecoder(std::string* why);
    void OpenAudioDecoder();
    bool LooksTruncated() const;

    // The picture thread: demultiplexes, decodes, times and presents.
    void Run();
    // Decodes the next picture into `frame`; false at the end of the media.
    bool DecodeNext(AVFrame* frame);
    void RoutePacket(AVPacket* packet);
    void DoSeek(int64_t target_us);
    void ShowNext();
    bool RenderForWindow(const AVFrame* frame);
    void UpdateClockLocked();

    int64_t FrameTimeUs(const AVFrame* frame) const;
    int64_t FrameDurationUs(const AVFrame* frame) const;
    int SpeedStep() const;

    static int ReadPacket(void* opaque, uint8_t* buffer, int size);
    static int64_t SeekInput(void* opaque, int64_t offset, int whence);
    static int Interrupted(void* opaque);

    std::unique_ptr<MediaInput> input_;
    AVIOContext* avio_ = nullptr;
    AVFormatContext* format_ = nullptr;
    AVCodecContext* video_decoder_ = nullptr;
    AVPacket* packet_ = nullptr;
    int video_stream_ = -1;
    int audio_stream_ = -1;
    int64_t start_us_ = 0;          // media time 0, in AV_TIME_BASE units
    int64_t frame_interval_us_ = 40000;
    uint32_t total_ms_ = 0;
    bool seekable_ = true;

    // Touched only by the picture thread (and by Open before it starts).
    AVFrame* next_ = nullptr;       // decoded, not yet shown
    bool has_next_ = false;
    bool next_rendered_ = false;
    AVFrame* dropped_ = nullptr;    // the last picture dropped as late
    bool has_dropped_ = false;
    bool demux_ended_ = false;
    bool decoder_drained_ = false;
    bool keyframes_until_key_ = false;  // dropping to the next key frame
    int64_t last_end_us_ = 0;
    PictureScaler scaler_;
    PlaybackClock::WallClock::time_point last_present_;

    std::atomic<bool> quit_{false};
    std::atomic<int64_t> shown_us_{0};
    std::atomic<int64_t> read_started_ms_{0};

    // Commands from the entry points, under mutex_.
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    PlayerWindow* window_ = nullptr;
    bool window_fixed_ = false;
    bool started_ = false;
    bool paused_ = false;
    bool buffering_ = false;
    bool ended_ = false;
    bool at_end_ = false;           // every picture decoded
    bool seek_pending_ = false;
    int64_t seek_target_us_ = 0;
    int steps_ = 0;
    int speed_step_ = 0;            // speed = 2^speed_step_, -4..4
    bool sound_wanted_ = false;

    PlaybackClock clock_;
    EventPoster events_;

    std::mutex shown_mutex_;        // guards shown_
    AVFrame* shown_ = nullptr;      // the picture on screen, for snapshots

    std::unique_ptr<AudioOutput> audio_;  // created by the first SoundOn
    std::mutex cut_mutex_;                // guards cut_
    std::unique_ptr<CutWriter> cut_;

    std::mutex close_mutex_;
    bool closed_ = false;
    std::thread thread_;
};

}  // namespace playersdk
