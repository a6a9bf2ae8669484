// Sound played faster or slower at the same pitch.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

struct AVFilterGraph;
struct AVFilterContext;
struct AVFrame;

namespace playersdk {

// The speeds at which sound is heard (time-stretched); beyond them it is silent.
inline bool HeardAtSpeed(double speed) { return speed >= 0.5 && speed <= 4.0; }

// Changes the tempo of 16-bit interleaved sound and keeps its pitch
// (FFmpeg's atempo filter). Media times are carried through: a piece out
// starts at the media time its first sample came from.
class TempoStretcher {
public:
    // nullptr when the filter cannot be set up.
    static std::unique_ptr<TempoStretcher> Create(int rate, int channels, double tempo);
    ~TempoStretcher();
    TempoStretcher(const TempoStretcher&) = delete;
    TempoStretcher& operator=(const TempoStretcher&) = delete;

    double Tempo() const { return tempo_; }
    // Whether samples at pts_us carry on from those fed so far: output times
    // are counted from the first sample fed, so a gap (sound skipped to catch
    // up) needs a stretcher of its own.
    bool Continues(int64_t pts_us) const;
    // Feeds samples that start at media time pts_us (nullptr: no more
    // samples, give out what is held); every stretched piece goes to
    // sink(pts_us, samples).
    template <typename Sink>
    void Stretch(int64_t pts_us, const std::vector<uint8_t>* samples, Sink&& sink) {
        if (!Feed(pts_us, samples)) return;
        std::vector<uint8_t> out;
        int64_t out_pts_us = 0;
        while (Take(&out_pts_us, &out)) sink(out_pts_us, std::move(out));
    }

private:
    TempoStretcher() = default;
    bool Feed(int64_t pts_us, const std::vector<uint8_t>* samples);
    bool Take(int64_t* pts_us, std::vector<uint8_t>* samples);

    AVFilterGraph* graph_ = nullptr;
    AVFilterContext* source_ = nullptr;
    AVFilterContext* sink_ = nullptr;
    AVFrame* frame_ = nullptr;
    int rate_ = 48000;
    int channels_ = 2;
    double tempo_ = 1.0;
    int lead_ = 0;              // samples in before the first one out
    int64_t first_pts_us_ = 0;  // media time of the first sample fed
    int64_t fed_ = 0;           // samples in
    int64_t given_ = 0;         // samples out
};

}  // namespace playersdk
