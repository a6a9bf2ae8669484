#include "remote/SearchRows.h"

#include <chrono>
#include <cstdio>
#include <iterator>

namespace remote {

std::string FormatSizeMb(uint32_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", static_cast<double>(bytes) / 1024 / 1024);
    return text;
}

std::string FormatNetTime(const NetTime& time) {
    // Ten digits for the year and up to three for each byte field: 26 with
    // the terminator at most.
    char text[32];
    std::snprintf(text, sizeof text, "%04u%02d%02d%02d%02d%02d", static_cast<unsigned>(time.year),
                  time.month, time.day, time.hour, time.minute, time.second);
    return text;
}

ResultRow MakeResultRow(const char* name, const NetTime* start, const NetTime* end, uint32_t bytes) {
    ResultRow row;
    row.name = name != nullptr ? name : "";
    row.size = FormatSizeMb(bytes);
    row.start = start != nullptr ? FormatNetTime(*start) : "";
    row.end = end != nullptr ? FormatNetTime(*end) : "";
    return row;
}

void ResultRowRelay::Attach(std::shared_ptr<ui::Mailbox> mailbox, Deliver deliver) {
    std::lock_guard lock(mutex_);
    mailbox_ = std::move(mailbox);
    window_thread_ = std::this_thread::get_id();
    deliver_ = std::move(deliver);
    pending_.clear();
    drain_posted_ = false;
}

void ResultRowRelay::Detach() {
    std::lock_guard lock(mutex_);
    mailbox_.reset();
    deliver_ = nullptr;
    pending_.clear();
    drain_posted_ = false;
}

void ResultRowRelay::DiscardPending() {
    std::lock_guard lock(mutex_);
    pending_.clear();
}

void ResultRowRelay::Push(ResultRow row) {
    std::vector<ResultRow> rows;
    {
        std::lock_guard lock(mutex_);
        if (!mailbox_) return;
        pending_.push_back(std::move(row));
        if (std::this_thread::get_id() != window_thread_) {
            PostDrainLocked();
            return;
        }
        // On the window's thread the row goes in at once, after any still
        // on their way; a drain already posted then finds nothing.
        rows.swap(pending_);
    }
    for (const ResultRow& each : rows) deliver_(each);
}

void ResultRowRelay::PostDrainLocked() {
    if (drain_posted_) return;
    // One drain task at a time takes every row pending when it runs, so the
    // order of the rows never depends on how the mailbox orders tasks from
    // different threads.
    drain_posted_ = mailbox_ && mailbox_->Post([this] { DeliverPending(); });
    if (!drain_posted_) pending_.clear();  // the window is already gone
}

void ResultRowRelay::DeliverPending() {
    std::vector<ResultRow> rows;
    {
        std::lock_guard lock(mutex_);
        rows.swap(pending_);
        drain_posted_ = false;
    }
    // Detach and Attach run on this same thread, so deliver_ cannot change
    // while the rows are being appended.
    if (!deliver_) return;
    // A large answer is appended in slices, so that the window paints and
    // answers input between them instead of freezing until the last row.
    const auto deadline = std::chrono::steady_clock::now() + kDeliverSlice;
    size_t delivered = 0;
    while (delivered < rows.size()) {
        deliver_(rows[delivered++]);
        if (delivered % 64 == 0 && std::chrono::steady_clock::now() >= deadline) break;
    }
    if (delivered == rows.size()) return;
    std::lock_guard lock(mutex_);
    // Rows pushed meanwhile came later, so the rest goes before them.
    pending_.insert(pending_.begin(), std::make_move_iterator(rows.begin() + static_cast<std::ptrdiff_t>(delivered)),
                    std::make_move_iterator(rows.end()));
    PostDrainLocked();
}

ResultRowRelay& SearchRowRelay() {
    static ResultRowRelay relay;
    return relay;
}

}  // namespace remote
