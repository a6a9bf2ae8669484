// The download of the selected recording to a fixed file: button 1025
// starts and stops it, TIMER_DOWNLOAD polls its progress into the progress
// bar and label 1023 until the library reports it over.
#include <cstdio>

#include "player/Binding.h"
#include "remote/DlgNetFile.h"

namespace remote {

void CDlgNetFile::ToggleDownload() {
    if (Downloading == 0) StartDownload();
    else StopDownload();
}

void CDlgNetFile::StartDownload() {
    KillArmedTimer(DownloadTimerId);
    ExchangeFields(Exchange::FromControls);  // a refusal has shown its message; go on
    std::string name;
    if (!SelectedRecordingName(name)) return;
    // The handle is kept unchecked: a failed start ends at the first poll.
    DownloadHandle = player::NetStartDownload(player::LibraryText(ServerAddress).c_str(), kLogin, kPassword,
                                              name.c_str(), kDownloadPath, static_cast<uint16_t>(ServerPort), 0, 0,
                                              0);
    Downloading = 1;
    SetItemText(IDC_DOWNLOAD, kStopDownloadCaption);
    ProgressBar.SetPos(0);
    ProgressBar.Show(true);
    ShowItem(IDC_DOWNLOADING_LABEL, true);  // its text stays until the first tick
    DownloadTimerId = SetTimer(TIMER_DOWNLOAD, kDownloadIntervalMs);
}

void CDlgNetFile::StopDownload() {
    KillArmedTimer(DownloadTimerId);
    Downloading = 0;
    if (DownloadHandle != -1) player::NetStopDownload(DownloadHandle);
    DownloadHandle = -1;
    SetItemText(IDC_DOWNLOAD, kDownloadCaption);
    ProgressBar.Show(false);
    ShowItem(IDC_DOWNLOADING_LABEL, false);
}

void CDlgNetFile::PollDownload() {
    const int32_t progress = player::NetGetDownloadProgress(DownloadHandle);
    if (progress < 0) {
        // Finished or failed, the download ends the same way, silently.
        Downloading = 1;
        ToggleDownload();
        return;
    }
    char text[64];
    std::snprintf(text, sizeof text, "正在下载文件...%d%%", static_cast<int>(progress));
    ProgressBar.SetPos(progress);
    SetItemText(IDC_DOWNLOADING_LABEL, text);
}

}  // namespace remote
