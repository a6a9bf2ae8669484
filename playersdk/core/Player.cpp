// The entry points, each handed on to the engine.
#include "core/Player.h"

#include "core/Engine.h"

namespace playersdk {

Player::Player(std::unique_ptr<Engine> engine) : engine_(std::move(engine)) {}

Player::~Player() = default;

std::shared_ptr<Player> Player::Open(std::unique_ptr<MediaInput> input, std::string* why) {
    std::unique_ptr<Engine> engine = Engine::Open(std::move(input), why);
    if (!engine) return nullptr;
    return std::shared_ptr<Player>(new Player(std::move(engine)));
}

void Player::SetHandle(PlayerHandle handle) { engine_->SetHandle(handle); }
void Player::AttachPictureWindow(PlayerWindow* window) { engine_->AttachPictureWindow(window); }
void Player::Start() { engine_->Start(); }
void Player::SetBuffering(bool buffering) { engine_->SetBuffering(buffering); }
int64_t Player::ReadBlockedMs() const { return engine_->ReadBlockedMs(); }
int64_t Player::QueuedAheadMs() const { return engine_->QueuedAheadMs(); }
Player::ReadMark Player::LastRead() const { return engine_->LastRead(); }
double Player::Speed() const { return engine_->Speed(); }
bool Player::Paused() const { return engine_->Paused(); }
void Player::PostEvent(int code) { engine_->PostEvent(code); }
MediaInput* Player::Input() const { return engine_->Input(); }
void Player::SetDecodeCostForTesting(std::chrono::microseconds cost) { engine_->SetDecodeCostForTesting(cost); }
void Player::SetNotifyWindow(PlayerWindow* window, uint32_t message) { engine_->SetNotifyWindow(window, message); }
bool Player::Play(PlayerWindow* window) { return engine_->Play(window); }
bool Player::Pause() { return engine_->Pause(); }
bool Player::StepFrame() { return engine_->StepFrame(); }
bool Player::Faster() { return engine_->Faster(); }
bool Player::Slower() { return engine_->Slower(); }
bool Player::SeekToMs(uint32_t ms) { return engine_->SeekToMs(ms); }
bool Player::SeekToRatio(float ratio) { return engine_->SeekToRatio(ratio); }
bool Player::HasAudio() const { return engine_->HasAudio(); }
bool Player::SoundOn() { return engine_->SoundOn(); }
bool Player::SoundOff() { return engine_->SoundOff(); }
uint32_t Player::TotalMs() const { return engine_->TotalMs(); }
uint32_t Player::PlayMs() const { return engine_->PlayMs(); }
bool Player::Snapshot(const std::string& path) { return engine_->Snapshot(path); }
bool Player::StartCut(const std::string& path) { return engine_->StartCut(path); }
bool Player::StopCut() { return engine_->StopCut(); }
void Player::Close() { engine_->Close(); }

}  // namespace playersdk
