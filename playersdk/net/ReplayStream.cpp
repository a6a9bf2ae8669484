#include "net/ReplayStream.h"

#include <algorithm>
#include <cstring>

#include "core/Barrier.h"
#include "net/OnvifDevice.h"
#include "net/ReplayMuxer.h"
#include "net/ReplaySession.h"
#include "net/SinceKey.h"

namespace playersdk::net {
namespace {

// The laid-out file's bytes per ms of media: above the bit rate of
// recorders' streams (16 Mbit/s), so that frames mostly land at their times.
constexpr uint64_t kBytesPerMs = 2000;
// Media times count from this before the stretch's start, so that the key
// frame a replay starts from, before the stretch's start, has a time too.
// The file's bytes count from the stretch's start: such a frame goes first.
constexpr int64_t kLeadMs = 10000;
constexpr uint64_t kTsPacket = 188;
// A read this far beyond what has arrived waits for it instead of asking
// for a new PLAY.
constexpr uint64_t kWaitAheadBytes = 3000 * kBytesPerMs;
// The window ahead of the reader and behind it (real bytes).
constexpr uint64_t kAheadBytes = 32 * 1024 * 1024;
constexpr int64_t kAheadMs = 30000;
constexpr uint64_t kBehindBytes = 8 * 1024 * 1024;
// A device held back this long is paused.
constexpr auto kPauseAfter = std::chrono::seconds(2);
constexpr auto kCallTimeout = std::chrono::seconds(5);
constexpr auto kConnectTimeout = std::chrono::seconds(2);
constexpr auto kReadTimeout = std::chrono::seconds(10);
// Reconnections in a row after a lost connection, and the waits before them.
constexpr std::chrono::milliseconds kRetryDelays[] = {
    std::chrono::milliseconds(100), std::chrono::milliseconds(200), std::chrono::milliseconds(400),
    std::chrono::milliseconds(500), std::chrono::milliseconds(500), std::chrono::milliseconds(500),
    std::chrono::milliseconds(500), std::chrono::milliseconds(500)};
// From this speed on, the device sends key frames only.
constexpr double kIntraFromSpeed = 8.0;

uint64_t AlignDown(uint64_t pos) { return pos / kTsPacket * kTsPacket; }
uint64_t AlignUp(uint64_t pos) { return (pos + kTsPacket - 1) / kTsPacket * kTsPacket; }

// Byte `at` of an endless run of MPEG-TS null packets.
uint8_t NullPacketByte(uint64_t at) {
    switch (at % kTsPacket) {
        case 0: return 0x47;
        case 1: return 0x1F;
        case 2: return 0xFF;
        case 3: return 0x10;
        default: return 0xFF;
    }
}

}  // namespace

ReplayStream::ReplayStream(RecorderLogin login, ReplayStretch stretch)
    : login_(std::move(login)),
      stretch_(std::move(stretch)),
      size_(AlignUp(static_cast<uint64_t>(stretch_.end_ms - stretch_.start_ms + 1000) * kBytesPerMs)) {}

ReplayStream::~ReplayStream() {
    Interrupt();
    if (fetcher_.joinable()) fetcher_.join();
}

StreamOpen ReplayStream::Connect(std::chrono::milliseconds budget) {
    std::unique_lock lock(mutex_);
    if (!fetcher_.joinable()) fetcher_ = std::thread([this] { Shielded([this] { Run(); }); });
    changed_.wait_for(lock, budget, [this] { return answered_; });
    return answered_ ? status_ : StreamOpen::Unreachable;
}

void ReplayStream::Run() {
    OnvifDevice device(login_);
    std::optional<std::string> uri;
    const SoapResult found = device.FindServices(kCallTimeout);
    if (found == SoapResult::Ok) uri = ReplayUri(device, stretch_.recording, kCallTimeout);
    if (!uri) {
        std::lock_guard lock(mutex_);
        status_ = found == SoapResult::Refused ? StreamOpen::Refused : StreamOpen::Missing;
        answered_ = gone_ = true;
        changed_.notify_all();
        return;
    }
    // The first run starts at the stretch's start.
    uint64_t from = 0;
    std::unique_ptr<ReplaySession> replay;
    for (;;) {
        const RunEnd end = RunFrom(*uri, device.Login(), from, replay);
        std::unique_lock lock(mutex_);
        if (end == RunEnd::Interrupted || interrupted_) return;
        if (end == RunEnd::Gone) {
            gone_ = answered_ = true;
            changed_.notify_all();
            return;
        }
        if (end == RunEnd::Over) {
            over_ = true;
            if (!answered_) {
                status_ = StreamOpen::Missing;
                answered_ = true;
            }
            changed_.notify_all();
            changed_.wait(lock, [this] { return interrupted_ || restart_; });
            if (interrupted_) return;
        }
        restart_ = false;
        from = AlignDown(restart_at_);
        chunks_.clear();
        held_from_ = cursor_ = from;
        over_ = false;
        abandon_ = false;
    }
}

ReplayStream::RunEnd ReplayStream::RunFrom(const std::string& uri, const RecorderLogin& login, uint64_t from,
                                           std::unique_ptr<ReplaySession>& replay) {
    {
        std::lock_guard lock(mutex_);
        held_from_ = cursor_ = from;
    }
    // Past the stretch's last moment lies nothing a PLAY could bring: the
    // player's open reads there for the length before the replay arrives.
    const auto start_ms = static_cast<int64_t>(from / kBytesPerMs);
    if (start_ms >= stretch_.end_ms - stretch_.start_ms) return RunEnd::Over;
    std::string pending;
    std::unique_ptr<ReplayMuxer> muxer;
    std::optional<int64_t> last_ms;  // media time of the last frame placed
    SinceKey since_key;
    size_t losses = 0;
    for (;;) {
        // A new position is a new PLAY on the same session; a lost one is
        // set up again.
        RtspSession::Result opened = RtspSession::Result::Ok;
        if (!replay) {
            replay = std::make_unique<ReplaySession>(abandon_, kConnectTimeout, kReadTimeout);
            opened = replay->Open(uri, login);
            if (opened != RtspSession::Result::Ok) replay.reset();
        }
        if (opened == RtspSession::Result::Stopped) return Abandoned();
        if (opened == RtspSession::Result::Ok && !muxer) {
            muxer = ReplayMuxer::Open(ReplayMuxer::Kind::Stream, replay->Tracks(),
                                      {[&pending](const uint8_t* data, int size) {
                                           pending.append(reinterpret_cast<const char*>(data), static_cast<size_t>(size));
                                           return true;
                                       },
                                       nullptr});
            if (!muxer) return RunEnd::Gone;
        }
        RtspPlay play;
        // Resumed after a loss from the last key picture written.
        play.from_ms = stretch_.start_ms + (since_key.KeyMs() ? *since_key.KeyMs() - kLeadMs : start_ms);
        play.to_ms = stretch_.end_ms;
        play.rate_control = false;
        const RtspSession::Result played = opened == RtspSession::Result::Ok ? replay->Play(play) : opened;
        // A device that declines the range holds nothing more of the stretch.
        if (played == RtspSession::Result::Declined && opened == RtspSession::Result::Ok) return RunEnd::Over;
        if (played == RtspSession::Result::Ok) {
            DevicePace pace;
            for (;;) {
                const std::optional<int64_t> key_utc_ms =
                    since_key.KeyMs() ? std::optional<int64_t>(stretch_.start_ms + *since_key.KeyMs() - kLeadMs)
                                      : std::nullopt;
                const Paced paced = KeepPace(*replay, pace, key_utc_ms);
                if (paced == Paced::Stop) return Abandoned();
                if (paced == Paced::Over) return PlaceLast(*muxer, pending, last_ms);
                if (paced == Paced::Lost) {
                    since_key.AskedAgain();
                    replay.reset();
                    break;
                }
                if (paced == Paced::AskedAgain) since_key.AskedAgain();
                size_t track = 0;
                ReplayFrame frame;
                const ReplaySession::Next next = replay->NextFrame(track, frame);
                if (next == ReplaySession::Next::Stopped) return Abandoned();
                if (next == ReplaySession::Next::End) return PlaceLast(*muxer, pending, last_ms);
                if (next == ReplaySession::Next::Lost) {
                    since_key.AskedAgain();
                    replay.reset();
                    break;
                }
                losses = 0;
                const int64_t ms = std::max<int64_t>(*frame.utc_ms - stretch_.start_ms + kLeadMs, 0);
                const bool picture = track < replay->Tracks().size() && IsPicture(replay->Tracks()[track].codec);
                if (since_key.Sent(track, picture, ms)) continue;
                if (!muxer->Write(track, frame, ms)) return RunEnd::Gone;
                since_key.Written(track, picture, frame.key, ms);
                if (pending.empty()) continue;
                std::lock_guard lock(mutex_);
                PlaceLocked(std::move(pending), ms);
                pending.clear();
                last_ms = std::max(ms, last_ms.value_or(ms));
                if (!answered_) {
                    status_ = StreamOpen::Ready;
                    answered_ = true;
                }
                changed_.notify_all();
            }
        } else if (opened == RtspSession::Result::Refused) {
            std::lock_guard lock(mutex_);
            status_ = StreamOpen::Refused;
            return RunEnd::Gone;
        } else {
            replay.reset();
        }
        // Lost: tried again from the last time received, a few times.
        if (losses >= std::size(kRetryDelays)) return RunEnd::Gone;
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, kRetryDelays[losses++], [this] { return interrupted_ || restart_; });
        if (interrupted_ || restart_) return interrupted_ ? RunEnd::Interrupted : RunEnd::Restart;
    }
}

ReplayStream::RunEnd ReplayStream::PlaceLast(ReplayMuxer& muxer, std::string& pending,
                                             std::optional<int64_t> last_ms) {
    // The muxer holds the last pictures until the stream's end.
    muxer.Finish();
    if (pending.empty()) return RunEnd::Over;
    std::lock_guard lock(mutex_);
    PlaceLocked(std::move(pending), last_ms.value_or(kLeadMs));
    pending.clear();
    changed_.notify_all();
    return RunEnd::Over;
}

ReplayStream::RunEnd ReplayStream::Abandoned() {
    std::lock_guard lock(mutex_);
    return interrupted_ ? RunEnd::Interrupted : RunEnd::Restart;
}

void ReplayStream::PlaceLocked(std::string bytes, int64_t ms) {
    const uint64_t at =
        std::max(cursor_, AlignDown(static_cast<uint64_t>(std::max<int64_t>(ms - kLeadMs, 0)) * kBytesPerMs));
    cursor_ = at + AlignUp(bytes.size());
    bytes.resize(AlignUp(bytes.size()), static_cast<char>(0xFF));
    chunks_.push_back({at, std::move(bytes), ms});
    // What lies far behind the reader goes.
    uint64_t behind = 0;
    for (const auto& chunk : chunks_)
        if (chunk.pos + chunk.bytes.size() <= read_pos_) behind += chunk.bytes.size();
    while (behind > kBehindBytes && !chunks_.empty() && chunks_.front().pos + chunks_.front().bytes.size() <= read_pos_) {
        behind -= chunks_.front().bytes.size();
        held_from_ = chunks_.front().pos + chunks_.front().bytes.size();
        chunks_.pop_front();
    }
}

ReplayStream::Paced ReplayStream::KeepPace(ReplaySession& replay, DevicePace& pace,
                                           std::optional<int64_t> key_utc_ms) {
    std::unique_lock lock(mutex_);
    const auto began = std::chrono::steady_clock::now();
    bool asked_pause = pace.paused;
    while (!interrupted_ && !restart_ &&
           (player_paused_ || AheadBytesLocked() >= kAheadBytes || ArrivedAheadMsLocked() >= kAheadMs)) {
        if (!asked_pause && (player_paused_ || std::chrono::steady_clock::now() - began >= kPauseAfter)) {
            asked_pause = true;
            lock.unlock();
            pace.paused = replay.Pause() == RtspSession::Result::Ok;
            lock.lock();
            continue;
        }
        changed_.wait_for(lock, std::chrono::milliseconds(100));
    }
    if (interrupted_ || restart_) return Paced::Stop;
    RtspPlay play = PacedPlayLocked();
    lock.unlock();
    if (pace.paused) {
        pace.paused = false;
    } else if (!pace.speed || *pace.speed == play.scale || !key_utc_ms) {
        return Paced::Go;
    } else {
        // A new speed while the device paces: from the last key picture, as
        // the pictures after it may not all have come (key pictures only).
        play.from_ms = *key_utc_ms;
        play.to_ms = stretch_.end_ms;
    }
    pace.speed = play.scale;
    switch (replay.Play(play)) {
        case RtspSession::Result::Ok: return Paced::AskedAgain;
        case RtspSession::Result::Stopped: return Paced::Stop;
        case RtspSession::Result::Declined: return Paced::Over;
        default: return Paced::Lost;
    }
}

RtspPlay ReplayStream::PacedPlayLocked() const {
    RtspPlay play;
    play.rate_control = true;
    play.scale = speed_;
    play.intra_only = speed_ >= kIntraFromSpeed;
    return play;
}

int64_t ReplayStream::ArrivedAheadMsLocked() const {
    if (chunks_.empty()) return 0;
    const auto at = std::upper_bound(chunks_.begin(), chunks_.end(), read_pos_,
                                     [](uint64_t pos, const Chunk& chunk) { return pos < chunk.pos; });
    const int64_t read_ms = at == chunks_.begin() ? chunks_.front().ms : std::prev(at)->ms;
    return std::max<int64_t>(chunks_.back().ms - read_ms, 0);
}

uint64_t ReplayStream::AheadBytesLocked() const {
    uint64_t ahead = 0;
    for (auto it = chunks_.rbegin(); it != chunks_.rend() && it->pos >= read_pos_; ++it) ahead += it->bytes.size();
    return ahead;
}

size_t ReplayStream::CopyHeldLocked(uint8_t* buffer, size_t size) const {
    const auto next = std::upper_bound(chunks_.begin(), chunks_.end(), read_pos_,
                                       [](uint64_t pos, const Chunk& chunk) { return pos < chunk.pos; });
    if (next != chunks_.begin() && read_pos_ < std::prev(next)->pos + std::prev(next)->bytes.size()) {
        const Chunk& chunk = *std::prev(next);
        const size_t offset = static_cast<size_t>(read_pos_ - chunk.pos);
        const size_t n = std::min(chunk.bytes.size() - offset, size);
        std::memcpy(buffer, chunk.bytes.data() + offset, n);
        return n;
    }
    const uint64_t gap_end = next != chunks_.end() ? next->pos : cursor_;
    const size_t n = static_cast<size_t>(std::min<uint64_t>(gap_end - read_pos_, size));
    for (size_t i = 0; i < n; ++i) buffer[i] = NullPacketByte(read_pos_ + i);
    return n;
}

bool ReplayStream::NothingMoreLocked() const { return gone_ || (!restart_ && over_ && read_pos_ >= cursor_); }

bool ReplayStream::ComingLocked() const {
    return read_pos_ >= held_from_ && read_pos_ <= cursor_ + kWaitAheadBytes;
}

void ReplayStream::NotePace(double speed, bool paused) {
    std::lock_guard lock(mutex_);
    if (speed == speed_ && paused == player_paused_) return;
    speed_ = speed;
    player_paused_ = paused;
    changed_.notify_all();
}

void ReplayStream::NotePlayMs(int64_t play_ms) {
    std::lock_guard lock(mutex_);
    play_ms_ = play_ms;
}

int64_t ReplayStream::BufferedMs() const {
    std::lock_guard lock(mutex_);
    if (restart_ || read_pos_ < held_from_ || read_pos_ > cursor_) return 0;
    return ArrivedAheadMsLocked();
}

bool ReplayStream::Full() const {
    std::lock_guard lock(mutex_);
    return !restart_ && (AheadBytesLocked() >= kAheadBytes || ArrivedAheadMsLocked() >= kAheadMs);
}

bool ReplayStream::FetchOver() const {
    std::lock_guard lock(mutex_);
    return (over_ && !restart_) || gone_ || interrupted_;
}

}  // namespace playersdk::net
