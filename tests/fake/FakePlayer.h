// A scripted stand-in for the player library, for window tests. Constructing
// a FakePlayer installs it as the table the windows call through; every call
// is recorded as text, in order, and answered from the script.
//
//   fake::FakePlayer lib;
//   lib.AnswerOnce("PlayerOpenFile", 7);          // the next open gives 7
//   lib.Answer("PlayerGetTotalTime", 61000);      // every call gives 61000
//   ... drive the window ...
//   EXPECT_THAT(lib.Calls(), ElementsAre("PlayerOpenFile(\"a.mp4\", 0)", ...));
//
// Arguments print as: integers in decimal, floats with %g, texts quoted
// (null as null), window handles as hwnd(DIALOG) or hwnd(DIALOG:CONTROL),
// NetTime records as {year,month,day,hour,minute,second}, the search
// callback as callback. Unscripted calls answer 0.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "player/Binding.h"

namespace fake {

struct Call {
    std::string name;
    std::vector<std::string> args;
    std::string Text() const;  // name(arg, arg, ...)
};

class FakePlayer {
public:
    FakePlayer();  // installs the fake table
    ~FakePlayer();  // installs an empty table again
    FakePlayer(const FakePlayer&) = delete;
    FakePlayer& operator=(const FakePlayer&) = delete;

    // The answer of every later call of this entry point.
    void Answer(const std::string& name, int64_t value);
    // Answers for the next calls, used up in order before the standing one.
    void AnswerOnce(const std::string& name, int64_t value);
    // Computes the answer from the call (runs on the calling thread).
    void AnswerWith(const std::string& name, std::function<int64_t(const Call&)> answer);

    std::vector<std::string> Calls() const;  // every call's text, in order
    std::vector<std::string> CallsNamed(const std::string& name) const;
    size_t CountOf(const std::string& name) const;
    void ClearCalls();

    // The fake's entry points, for a stand-in library to call on to.
    static player::Table Table();

    // The callback of the last NetSearchFiles call, null before one.
    SearchResultCallback SearchCallback() const;
    // Calls it once as the library reports a recording (search handle, 0,
    // name, start, end, size, 0), in whatever convention the library has.
    void ReportSearchResult(int32_t search, const char* name, const NetTime* start, const NetTime* end,
                            uint32_t size) const;

    // How a new FakePlayer reaches the windows: by default its table is
    // installed; a suite can install instead a stand-in library that calls
    // on to Table() (a fake DLL on Windows).
    static void SetInstaller(std::function<void()> install);

    // Used by the fake's entry points.
    int64_t Record(Call call);
    void RememberSearchCallback(SearchResultCallback callback);

private:
    mutable std::mutex mutex_;
    std::vector<Call> calls_;
    std::map<std::string, int64_t> standing_;
    std::map<std::string, std::deque<int64_t>> once_;
    std::map<std::string, std::function<int64_t(const Call&)>> computed_;
    SearchResultCallback search_callback_ = nullptr;
};

}  // namespace fake
