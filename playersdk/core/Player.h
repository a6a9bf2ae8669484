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
//
// Inside, Player is only the entry points: each hands on to the engine
// (Engine.h), whose threads and pieces docs/ENGINE.md describes.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "core/MediaInput.h"
#include "player/PlayerSdk.h"

namespace playersdk {

class Engine;

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
    // Media read from the input and queued for decoding, in ms: held ahead of
    // the play position on top of what the input itself holds.
    int64_t QueuedAheadMs() const;
    // Where reading has got to in the input: the byte position of the latest
    // picture packet read and its decoding time in ms (pos < 0 before any).
    // A stream's buffer takes the bit rate of what is read from these.
    struct ReadMark {
        int64_t pos = -1;
        int64_t ms = 0;
    };
    ReadMark LastRead() const;
    // The pace playing asks of a stream: its speed, and whether it is paused.
    double Speed() const;
    bool Paused() const;
    // An event for the registered notify window (kept until there is one).
    void PostEvent(int code);
    MediaInput* Input() const;
    // Tests: every picture packet costs this much more to decode, as on a
    // machine too slow for the media.
    void SetDecodeCostForTesting(std::chrono::microseconds cost);

    // --- the Player* entry points ---
    void SetNotifyWindow(PlayerWindow* window, uint32_t message);
    bool Play(PlayerWindow* window);
    bool Pause();
    bool StepFrame();
    bool Faster();
    bool Slower();
    bool SeekToMs(uint32_t ms);
    bool SeekToRatio(float ratio);
    bool HasAudio() const;
    bool SoundOn();
    bool SoundOff();
    uint32_t TotalMs() const;
    uint32_t PlayMs() const;
    bool Snapshot(const std::string& path);
    bool StartCut(const std::string& path);
    bool StopCut();
    // Finishes a running cut, stops and joins every thread of the player and
    // detaches it from its windows. Safe to call more than once.
    void Close();

private:
    explicit Player(std::unique_ptr<Engine> engine);

    std::unique_ptr<Engine> engine_;
};

}  // namespace playersdk
