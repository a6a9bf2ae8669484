// Where playback stands: its phase, what holds it, its speed, and the seek
// asked for and the one carried out. The entry points, the read thread and
// the presenter change it only through the steps below, under the player's
// lock; everything else only reads it.
//
//   Play/Start        seek asked            seek's target shown
//   ----------> Starting -----> Seeking --------------------> Playing
//   (first picture shown, clock              (or Starting, when Play came
//    waits for its sound) -> Playing          during a seek before the start)
//   Playing --(last picture's time passed, sound drained)--> Ended
//   Ended --(Play: a seek to 0)--> Seeking
//
// The clock runs only in Playing, once started, neither paused, buffering nor
// starved.
#pragma once

#include <cstdint>

namespace playersdk {

enum class Phase {
    kStarting,  // the first picture is out; the clock waits for its sound
    kPlaying,   // the clock runs unless a hold stops it
    kSeeking,   // until the picture at the seek's target is shown
    kEnded,     // the last picture has had its time and the sound has drained
};

class PlaybackState {
public:
    // --- reading ---
    Phase phase() const { return phase_; }
    bool Seeking() const { return phase_ == Phase::kSeeking; }
    bool Ended() const { return phase_ == Phase::kEnded; }
    // The first picture of this start is still to be shown with its sound
    // (now, or when the seek under way lands).
    bool Starting() const { return phase_ == Phase::kStarting || (Seeking() && start_on_landing_); }
    // Play, Start or a step has let the presenter show pictures.
    bool Started() const { return started_; }
    bool Paused() const { return paused_; }
    bool Buffering() const { return buffering_; }
    // Every picture there is has been shown and the input waits for more of
    // a file still being written.
    bool Starved() const { return starved_; }
    bool Closed() const { return closed_; }
    bool WindowFixed() const { return window_fixed_; }
    bool SoundOn() const { return sound_on_; }
    // Single pictures asked for while paused and not shown yet.
    int Steps() const { return steps_; }
    // Speed = 2^SpeedStep().
    int SpeedStep() const { return speed_step_; }
    double Speed() const;
    bool ClockRuns() const { return started_ && phase_ == Phase::kPlaying && !paused_ && !buffering_ && !starved_; }

    // Seeks: asked for by the entry points, carried out by the read thread.
    bool SeekPending() const { return seek_pending_; }
    // Bumped by every seek the read thread carries out; 0 for the open.
    int Serial() const { return serial_; }
    // The target of Serial()'s seek.
    int64_t SerialTargetUs() const { return serial_target_us_; }
    // Serial() came from a seek to an exact time.
    bool SerialExact() const { return serial_exact_; }

    // --- the steps that change it ---
    // Play (with its own window) or Start: pictures may be shown, the first
    // one at once with its sound. Nothing changes once started.
    void Start();
    // Play: no longer paused; pending single steps are forgotten.
    void Resume();
    void Pause() { paused_ = true; }
    // One picture more, paused.
    void Step();
    // The presenter showed a picture asked for by Step.
    void StepShown() { --steps_; }
    void SetBuffering(bool buffering) { buffering_ = buffering; }
    void SetStarved(bool starved) { starved_ = starved; }
    // False at the fastest (slowest) speed.
    bool Faster();
    bool Slower();
    void SetSoundOn(bool on) { sound_on_ = on; }
    void FixWindow() { window_fixed_ = true; }
    void Close() { closed_ = true; }

    // A seek to target_us: a new one for the read thread, or, when the
    // picture thread decodes on to it anyway, the target of the one under way.
    void RequestSeek(int64_t target_us, bool move_target_only);
    // The read thread takes the pending seek over: a new serial. Its target.
    int64_t BeginSeek();
    // The picture thread gave up decoding on to the target: the seek lands on
    // the picture it reached, at landing_us, instead.
    void LandSeekAt(int64_t landing_us) { serial_target_us_ = landing_us; }
    // The presenter showed the picture at the seek's target.
    void SeekLanded();
    // The presenter showed the first picture and its sound is ready.
    void FirstPictureShown();
    // The presenter met the end of the pictures: a seek past the last
    // picture, or a start with nothing to show, is over. True when it was.
    bool SettleAtEnd();
    // The presenter saw the last picture's time pass and the sound drain.
    void End() { phase_ = Phase::kEnded; }

private:
    Phase phase_ = Phase::kPlaying;
    bool started_ = false;
    // Started during a seek before any picture was shown: its landing is the
    // first picture.
    bool start_on_landing_ = false;
    bool paused_ = false;
    bool buffering_ = false;
    bool starved_ = false;
    bool closed_ = false;
    bool window_fixed_ = false;
    bool sound_on_ = false;
    int steps_ = 0;
    int speed_step_ = 0;
    bool seek_pending_ = false;
    int64_t seek_target_us_ = 0;
    int serial_ = 0;
    int64_t serial_target_us_ = 0;
    bool serial_exact_ = false;
};

}  // namespace playersdk
