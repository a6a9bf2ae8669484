#include "local/PositionDisplay.h"

#include <cstdio>

#include "player/Binding.h"

namespace local {

std::string FormatHms(uint32_t milliseconds) {
    const uint32_t seconds = milliseconds / 1000;
    const int hour = static_cast<int>((seconds / 3600) % 24);
    const int minute = static_cast<int>((seconds / 60) % 60);
    const int second = static_cast<int>(seconds % 60);
    char text[20];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", hour, minute, second);
    return text;
}

void SetUpSeekBar(ui::Dialog& window, uint32_t largest_seconds) {
    window.SetTrackLineSize(kSeekBarId, 1);
    window.SetTrackPageSize(kSeekBarId, 1);
    // A 32-bit millisecond total gives at most 4294967 seconds: fits an int.
    window.SetTrackRange(kSeekBarId, 0, static_cast<int>(largest_seconds), false);
}

void RefreshPosition(ui::Dialog& window, PlayerHandle handle, const int& seek_dragging) {
    if (seek_dragging == 1) return;  // the label shows the thumb's time meanwhile
    const uint32_t ms = player::PlayerGetPlayTime(handle);
    // A recording still being written grows while it plays: the total and
    // the bar's range follow it.
    const uint32_t total = player::PlayerGetTotalTime(handle);
    if (static_cast<int64_t>(total / 1000) > window.TrackMax(kSeekBarId)) {
        SetUpSeekBar(window, total / 1000);
        window.SetItemText(kTotalLabelId, FormatHms(total));
    }
    window.SetItemText(kElapsedLabelId, FormatHms(ms));
    window.SetTrackPos(kSeekBarId, static_cast<int>(ms / 1000));
}

namespace {

// The bar's position in whole seconds; it is never below its minimum of 0.
uint32_t BarSeconds(const ui::Dialog& window) {
    const int position = window.TrackPos(kSeekBarId);
    return position > 0 ? static_cast<uint32_t>(position) : 0u;
}

void SeekToBar(ui::Dialog& window, PlayerHandle handle) {
    const uint32_t seconds = BarSeconds(window);
    if (player::PlayerSetPlayTime(handle, seconds * 1000) != 0) return;
    // The library could not seek by time: seek by fraction of the length.
    const uint32_t total_seconds = player::PlayerGetTotalTime(handle) / 1000;
    if (total_seconds == 0) return;
    player::PlayerSetPosRatio(handle,
                              static_cast<float>(seconds) / static_cast<float>(total_seconds));
}

}  // namespace

void OnSeekBarScroll(ui::Dialog& window, int code, int control_id, PlayerHandle handle,
                     int& seek_dragging, HandleCheck check) {
    if (control_id != kSeekBarId) return;
    if (check == HandleCheck::kSkipWithoutHandle && handle == PLAYER_NO_HANDLE) return;
    switch (code) {
        case ui::TB_THUMBPOSITION:
        case ui::TB_THUMBTRACK:
            window.SetItemText(kElapsedLabelId, FormatHms(BarSeconds(window) * 1000));
            seek_dragging = 1;
            break;
        case ui::TB_ENDTRACK:
            SeekToBar(window, handle);
            seek_dragging = 0;
            break;
        default:
            break;  // line, page, top and bottom steps end with TB_ENDTRACK
    }
}

}  // namespace local
