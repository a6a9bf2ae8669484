#include "tests/fake/FakePlayer.h"

#include <cstdio>
#include <stdexcept>

#ifdef _WIN32
#include <windows.h>

#include "player/CallThunk.h"
#endif

namespace fake {
namespace {

FakePlayer* g_instance = nullptr;
std::function<void()> g_installer;

FakePlayer& Instance() {
    if (g_instance == nullptr) throw std::logic_error("a player call with no FakePlayer installed");
    return *g_instance;
}

std::string Format(int32_t value) { return std::to_string(value); }
std::string Format(uint32_t value) { return std::to_string(value); }
std::string Format(uint16_t value) { return std::to_string(value); }

std::string Format(float value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", static_cast<double>(value));
    return text;
}

// Texts are appended piece by piece: GCC 12 at -O3 warns falsely on "a" + b.
std::string Format(const char* text) {
    if (text == nullptr) return "null";
    std::string quoted = "\"";
    quoted += text;
    quoted += '"';
    return quoted;
}

std::string Format(PlayerWindowHandle window) {
    if (window == nullptr) return "null";
#ifdef _WIN32
    // The native handle: its dialog's template id (kept by the windowing
    // layer as a window property) and, for a control, the control's id.
    HWND handle = reinterpret_cast<HWND>(window);
    HWND dialog = GetAncestor(handle, GA_ROOT);
    const int dialog_id = static_cast<int>(reinterpret_cast<intptr_t>(GetPropW(dialog, L"varnel.template")));
    const int control_id = handle != dialog ? GetDlgCtrlID(handle) : 0;
#else
    const int dialog_id = window->dialog_id;
    const int control_id = window->control_id;
#endif
    std::string text = "hwnd(";
    text += std::to_string(dialog_id);
    if (control_id != 0) {
        text += ':';
        text += std::to_string(control_id);
    }
    text += ')';
    return text;
}

std::string Format(const NetTime* time) {
    if (time == nullptr) return "null";
    std::string text = "{";
    for (unsigned field : {static_cast<unsigned>(time->year), unsigned{time->month}, unsigned{time->day},
                           unsigned{time->hour}, unsigned{time->minute}, unsigned{time->second}}) {
        if (text.size() > 1) text += ',';
        text += std::to_string(field);
    }
    text += '}';
    return text;
}

std::string Format(SearchResultCallback callback) {
    Instance().RememberSearchCallback(callback);
    return callback == nullptr ? "null" : "callback";
}

template <typename... Args>
std::vector<std::string> Formatted(Args... args) {
    return {Format(args)...};
}

#define FAKE_ENTRY(number, name, result, params, args)                     \
    result Fake##name params {                                             \
        return static_cast<result>(Instance().Record({#name, Formatted args})); \
    }
PLAYER_ENTRY_POINTS(FAKE_ENTRY)
#undef FAKE_ENTRY

}  // namespace

player::Table FakePlayer::Table() {
    player::Table table;
#define FAKE_SLOT(number, name, result, params, args) table.name = &Fake##name;
    PLAYER_ENTRY_POINTS(FAKE_SLOT)
#undef FAKE_SLOT
    return table;
}

std::string Call::Text() const {
    std::string text = name + "(";
    for (size_t i = 0; i < args.size(); ++i) {
        if (i > 0) text += ", ";
        text += args[i];
    }
    return text + ")";
}

FakePlayer::FakePlayer() {
    g_instance = this;
    if (g_installer) g_installer();
    else player::InstallTable(Table());
}

FakePlayer::~FakePlayer() {
    player::InstallTable(player::Table{});
    g_instance = nullptr;
}

void FakePlayer::Answer(const std::string& name, int64_t value) {
    std::lock_guard lock(mutex_);
    standing_[name] = value;
}

void FakePlayer::AnswerOnce(const std::string& name, int64_t value) {
    std::lock_guard lock(mutex_);
    once_[name].push_back(value);
}

void FakePlayer::AnswerWith(const std::string& name, std::function<int64_t(const Call&)> answer) {
    std::lock_guard lock(mutex_);
    computed_[name] = std::move(answer);
}

std::vector<std::string> FakePlayer::Calls() const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> texts;
    for (const Call& call : calls_) texts.push_back(call.Text());
    return texts;
}

std::vector<std::string> FakePlayer::CallsNamed(const std::string& name) const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> texts;
    for (const Call& call : calls_)
        if (call.name == name) texts.push_back(call.Text());
    return texts;
}

size_t FakePlayer::CountOf(const std::string& name) const { return CallsNamed(name).size(); }

void FakePlayer::ClearCalls() {
    std::lock_guard lock(mutex_);
    calls_.clear();
}

SearchResultCallback FakePlayer::SearchCallback() const {
    std::lock_guard lock(mutex_);
    return search_callback_;
}

void FakePlayer::ReportSearchResult(int32_t search, const char* name, const NetTime* start,
                                    const NetTime* end, uint32_t size) const {
    const SearchResultCallback callback = SearchCallback();
    if (callback == nullptr) throw std::logic_error("a search result with no search started");
#if defined(_WIN32) && defined(__i386__)
    // The binding hands the library a callback in the library's own convention.
    const auto word = [](const void* p) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)); };
    const uint32_t words[7] = {static_cast<uint32_t>(search), 0, word(name), word(start), word(end), size, 0};
    varnel_call_words(reinterpret_cast<const void*>(callback), words, 7, nullptr);
#else
    callback(search, 0, name, start, end, size, 0);
#endif
}

void FakePlayer::SetInstaller(std::function<void()> install) { g_installer = std::move(install); }

void FakePlayer::RememberSearchCallback(SearchResultCallback callback) {
    std::lock_guard lock(mutex_);
    search_callback_ = callback;
}

int64_t FakePlayer::Record(Call call) {
    std::function<int64_t(const Call&)> compute;
    int64_t answer = 0;
    {
        std::lock_guard lock(mutex_);
        calls_.push_back(call);
        if (auto queued = once_.find(call.name); queued != once_.end() && !queued->second.empty()) {
            answer = queued->second.front();
            queued->second.pop_front();
            return answer;
        }
        if (auto found = computed_.find(call.name); found != computed_.end()) compute = found->second;
        else if (auto standing = standing_.find(call.name); standing != standing_.end())
            answer = standing->second;
    }
    return compute ? compute(call) : answer;
}

}  // namespace fake
