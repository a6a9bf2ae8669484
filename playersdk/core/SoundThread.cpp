// The sound thread: decodes the sound packets (through the tempo stretcher at
// speeds other than 1) into the device's queue, a little ahead of the clock;
// unheard sound is dropped in step with the clock.
#include "core/AudioOutput.h"
#include "core/EngineBounds.h"
#include "core/Engine.h"
#include "core/SoundDecoder.h"
#include "core/TempoStretcher.h"

namespace playersdk {

bool Engine::SoundWantedLocked() const {
    return state_.SoundOn() && audio_ != nullptr && HeardAtSpeed(state_.Speed());
}

void Engine::SoundLoop() {
    std::unique_ptr<SoundDecoder> decoder;
    std::unique_ptr<TempoStretcher> stretcher;  // at speeds other than 1
    int decoder_serial = -1;
    const AVStream* stream = format_->streams[audio_stream_];
    std::unique_lock lock(mutex_);
    while (!quit_) {
        const std::optional<QueuedPacket> front = sound_packets_.Front();
        if (!front) {
            AwaitLocked(lock, sound_wake_);
            continue;
        }
        const int64_t clock_us = clock_.NowUs();
        const int64_t time = front->time_us != kUnknownTime ? front->time_us : clock_us;
        const int64_t end = time + front->duration_us;
        QueuedPacket item;
        if (!SoundWantedLocked()) {
            // Unheard sound goes in step with the clock, so that it is there
            // when sound is turned on.
            if (end <= clock_us || front->serial != state_.Serial()) {
                if (sound_packets_.PopOf(front->serial, &item)) av_packet_free(&item.packet);
                continue;
            }
            // Back once a few packets are behind the clock, to drop them together.
            AwaitLocked(lock, sound_wake_, clock_.WallUntil(end + kUnheardSoundBatchUs));
            continue;
        }
        AudioOutput* audio = audio_.get();  // lives until the threads are joined
        if (const int64_t buffered = audio->BufferedUs(); buffered >= kSoundAheadUs) {
            // Topped up: back when half of it is heard, to refill in one go
            // rather than wake for every piece.
            AwaitLocked(lock, sound_wake_, std::chrono::microseconds(buffered - kSoundAheadUs / 2));
            continue;
        }
        const int serial = state_.Serial();
        const double speed = state_.Speed();
        if (!sound_packets_.PopOf(front->serial, &item)) continue;
        if (item.serial != serial) {
            av_packet_free(&item.packet);
            continue;
        }
        lock.unlock();
        if (!decoder) decoder = SoundDecoder::Create(stream, start_us_, audio->Rate(), audio->Channels());
        const int frame_bytes = audio->Channels() * 2;
        const int64_t bytes_per_second = static_cast<int64_t>(audio->Rate()) * frame_bytes;
        // Hands a piece to the device, with what the clock has passed already cut off.
        auto play = [&](int64_t pts_us, double piece_speed, std::vector<uint8_t> samples) {
            const int64_t now = clock_.NowUs();
            if (pts_us < now) {
                auto drop = static_cast<size_t>(static_cast<double>(now - pts_us) / piece_speed * bytes_per_second / 1e6);
                drop -= drop % static_cast<size_t>(frame_bytes);
                if (drop >= samples.size()) return;
                samples.erase(samples.begin(), samples.begin() + static_cast<long>(drop));
                pts_us += static_cast<int64_t>(static_cast<double>(drop) * piece_speed * 1e6 / bytes_per_second);
            }
            audio->Push(serial, pts_us, piece_speed, std::move(samples));
        };
        if (decoder && decoder_serial != serial) {
            decoder->Flush();
            stretcher.reset();
            decoder_serial = serial;
        }
        // A new stretcher for the speed; what the old one holds is still
        // heard at its own tempo.
        auto restart_stretcher = [&] {
            if (stretcher) {
                const double old = stretcher->Tempo();
                stretcher->Stretch(0, nullptr, [&](int64_t pts_us, std::vector<uint8_t> out) { play(pts_us, old, std::move(out)); });
            }
            stretcher = speed != 1.0 ? TempoStretcher::Create(audio->Rate(), audio->Channels(), speed) : nullptr;
        };
        if (stretcher ? stretcher->Tempo() != speed : speed != 1.0) restart_stretcher();
        if (decoder && end > clock_us - kSoundSkipBehindUs) {
            decoder->Decode(item.packet, [&](int64_t pts_us, std::vector<uint8_t> samples) {
                if (stretcher && !stretcher->Continues(pts_us)) restart_stretcher();
                if (!stretcher) {
                    play(pts_us, 1.0, std::move(samples));
                    return;
                }
                stretcher->Stretch(pts_us, &samples, [&](int64_t out_pts_us, std::vector<uint8_t> out) {
                    play(out_pts_us, speed, std::move(out));
                });
            });
        }
        av_packet_free(&item.packet);
        lock.lock();
        if (state_.Seeking() || state_.Starting()) presenter_wake_.Ring();  // the clock waits for this sound
    }
}

}  // namespace playersdk
