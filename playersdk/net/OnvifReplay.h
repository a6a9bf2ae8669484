// An ONVIF device's recording replayed for a download: the stretch a
// search row names, asked as fast as the link goes ("Rate-Control: no") and
// written as an MP4 at the destination, whole or not at all. Progress is
// the media time received.
#pragma once

#include <string>

#include "net/DownloadTask.h"
#include "net/OnvifSearch.h"
#include "net/RecorderClient.h"

namespace playersdk::net {

DownloadJob ReplayDownloadJob(RecorderLogin login, ReplayStretch stretch, std::string destination);

// The replay at `rtsp_url` of the stretch, into `destination`: true when it
// was written whole.
bool ReplayStretchToFile(const std::string& rtsp_url, const RecorderLogin& login, const ReplayStretch& stretch,
                         const std::string& destination, const std::atomic<bool>& stopping,
                         DownloadProgress& progress);

}  // namespace playersdk::net
