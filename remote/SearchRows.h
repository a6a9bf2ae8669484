// The rows of the result list as the search callback reports them, and the
// relay that carries them from whatever thread the library calls on to the
// remote window's own thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "player/PlayerSdk.h"
#include "ui/Dialog.h"

namespace remote {

// One recording found, as the four column texts of the result list.
struct ResultRow {
    std::string name;   // exactly as the library gave it
    std::string size;   // megabytes, two decimals
    std::string start;  // YYYYMMDDhhmmss
    std::string end;
};

// Bytes shown as megabytes: bytes / 1024 / 1024 with "%.2f".
std::string FormatSizeMb(uint32_t bytes);
// A NetTime as "%04d%02d%02d%02d%02d%02d"; the year is printed unsigned, so
// a year beyond the signed range prints its value rather than a negative one.
std::string FormatNetTime(const NetTime& time);
ResultRow MakeResultRow(const char* name, const NetTime* start, const NetTime* end, uint32_t bytes);

// Carries rows to the window that is currently open. Push may be called
// from any thread; the rows reach the window's thread in the order of the
// Push calls, and a row pushed on the window's own thread is in the list
// when Push returns. Rows pushed while no window is attached, or still pending when
// the window detaches, are dropped, so a row never reaches a window that is
// gone.
class ResultRowRelay {
public:
    using Deliver = std::function<void(const ResultRow&)>;

    // Window thread. The mailbox runs tasks on the window's thread; deliver
    // appends one row to its list.
    void Attach(std::shared_ptr<ui::Mailbox> mailbox, Deliver deliver);
    // Window thread, when the window is being destroyed.
    void Detach();
    // Window thread: forget the rows not yet delivered (the list is being
    // emptied, and rows reported before that must not reappear after it).
    void DiscardPending();
    // Any thread.
    void Push(ResultRow row);

private:
    // The longest the window's thread appends rows before it lets other
    // events run.
    static constexpr std::chrono::milliseconds kDeliverSlice{8};

    void DeliverPending();   // runs on the window's thread
    void PostDrainLocked();  // unless one is on its way; mutex_ held

    std::mutex mutex_;
    std::shared_ptr<ui::Mailbox> mailbox_;  // guarded by mutex_
    std::thread::id window_thread_;         // guarded by mutex_
    std::vector<ResultRow> pending_;        // guarded by mutex_
    bool drain_posted_ = false;             // guarded by mutex_
    Deliver deliver_;                       // window thread only
};

// The process's one relay, shared by the search callback and the window.
ResultRowRelay& SearchRowRelay();

}  // namespace remote
