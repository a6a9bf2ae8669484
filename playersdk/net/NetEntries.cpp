// The network entry points of the contract: search, download and streams
// from the recorder. Every handle argument may be negative, stale or never
// issued; such calls do nothing and answer failure.
#include <chrono>

#include "core/Barrier.h"
#include "core/DrivePath.h"
#include "core/Exports.h"
#include "core/HandleTable.h"
#include "core/Player.h"
#include "net/DownloadTask.h"
#include "net/OnvifDevice.h"
#include "net/OnvifReplay.h"
#include "net/OnvifSearch.h"
#include "net/ReplayStream.h"
#include "net/RecorderClient.h"
#include "net/SearchTask.h"
#include "net/StreamBuffer.h"
#include "net/StreamSupervisor.h"
#include "net/TaskTable.h"

using namespace playersdk;
using namespace playersdk::net;

namespace {

// The recorder must answer a search's or a stream's first request within this.
constexpr auto kAnswerBudget = std::chrono::milliseconds(2000);
// NetOpenStream holds its caller, the window's thread, while the recorder
// answers and the media's header and first picture arrive: all of it within
// this, or the stream is not opened.
constexpr auto kStreamOpenBudget = std::chrono::seconds(3);
// An ONVIF replay asks the device for its services and replay address, then
// sets up RTSP; the player's open then reads the laid-out stream's start and
// its tail (for the length): a read far from what has arrived is a new PLAY,
// sent as fast as the link goes. Generous for a slow device or a loaded machine.
constexpr auto kReplayOpenBudget = std::chrono::seconds(20);
// The first request to an address asks which protocol it speaks, within this.
constexpr auto kProtocolBudget = std::chrono::milliseconds(1000);

TaskTable<SearchTask>& Searches() {
    static TaskTable<SearchTask> table;
    return table;
}

TaskTable<DownloadTask>& Downloads() {
    static TaskTable<DownloadTask> table;
    return table;
}

}  // namespace

namespace {

// A search of an ONVIF device: its login checked (and its services found)
// before the search starts. Negative as NetSearchFiles answers.
int32_t StartOnvifSearch(const RecorderLogin& login, int32_t channel, int32_t file_type, bool limit,
                         const NetTime* start, const NetTime* end, std::unique_ptr<SearchSource>& source) {
    OnvifSearchRequest request;
    request.channel = channel;
    request.type = file_type;
    request.limit = limit;
    if (limit) {
        const auto from = LocalNetTimeToUtcMs(*start), to = LocalNetTimeToUtcMs(*end);
        if (!from || !to) return -1;
        request.from_ms = *from;
        request.to_ms = *to;
    }
    auto device = std::make_shared<OnvifDevice>(login);
    switch (device->FindServices(kAnswerBudget)) {
        case SoapResult::Ok: break;
        case SoapResult::Refused: return -2;
        default: return -3;
    }
    source = MakeOnvifSearch(std::move(device), request);
    return 0;
}

// The download of a row of either protocol's search, the protocol asked on
// the download's own thread.
DownloadJob AnyRecorderJob(RecorderLogin login, std::string name, std::string destination) {
    return [login = std::move(login), name = std::move(name), destination = std::move(destination)](
               const std::atomic<bool>& stopping, DownloadProgress& progress) {
        switch (ProtocolOf(login, kProtocolBudget)) {
            case RecorderProtocol::Ours: return RecorderFileJob(login, name, destination)(stopping, progress);
            case RecorderProtocol::Onvif:
                if (const auto stretch = ParseReplayName(name))
                    return ReplayDownloadJob(login, *stretch, destination)(stopping, progress);
                return false;
            case RecorderProtocol::Unreachable: break;
        }
        return false;
    };
}

}  // namespace

PLAYERSDK_EXPORT int32_t NetSearchFiles(const char* address, const char*, int32_t channel,
                                        const char* login, const char* password, int32_t file_type,
                                        int32_t, int32_t time_limit, const NetTime* start,
                                        const NetTime* end, SearchResultCallback callback,
                                        PlayerWindowHandle, uint16_t port) {
    return Shielded(-1, [&]() -> int32_t {
        SearchRequest request;
        if (!MakeLogin(address, port, login, password, request.login)) return -1;
        if (channel < 0 || channel > 3 || (file_type != 1 && file_type != 2) || callback == nullptr)
            return -1;
        request.channel = channel + 1;
        request.type = file_type;
        request.limit = time_limit != 0;
        if (request.limit && (start == nullptr || end == nullptr ||
                              !FormatNetTime(*start, request.from) || !FormatNetTime(*end, request.to)))
            return -1;
        std::unique_ptr<SearchSource> source;
        switch (ProtocolOf(request.login, kProtocolBudget)) {
            case RecorderProtocol::Unreachable: return -3;
            case RecorderProtocol::Onvif:
                if (const int32_t refused = StartOnvifSearch(request.login, channel, file_type, request.limit,
                                                             start, end, source);
                    refused < 0)
                    return refused;
                break;
            case RecorderProtocol::Ours:
                switch (CheckLogin(request.login, kAnswerBudget)) {
                    case LoginCheck::Accepted: break;
                    case LoginCheck::Refused: return -2;
                    case LoginCheck::Unreachable: return -3;
                }
                source = MakeRecorderSearch(std::move(request));
                break;
        }
        auto task = std::make_shared<SearchTask>(std::move(source), callback);
        const int32_t handle = Searches().Add(task);
        task->Start(handle);
        // Results flow once this call has returned to the caller, who empties
        // its list first.
        task->Release();
        return handle;
    });
}

PLAYERSDK_EXPORT int32_t NetGetSearchState(int32_t search) {
    return Shielded(1, [&] {
        const auto task = Searches().Find(search);
        // Nothing running under this handle: there is nothing left to wait for.
        if (!task) return 1;
        return task->Finished() ? 1 : 0;
    });
}

PLAYERSDK_EXPORT int32_t NetStopSearch(int32_t search) {
    return Shielded(0, [&] {
        const auto task = Searches().Remove(search);
        if (!task) return 0;
        task->Stop();
        return 1;
    });
}

PLAYERSDK_EXPORT int32_t NetStartDownload(const char* address, const char* login,
                                          const char* password, const char* name,
                                          const char* destination, uint16_t port, int32_t,
                                          int32_t, int32_t) {
    return Shielded(-1, [&] {
        RecorderLogin recorder;
        if (!MakeLogin(address, port, login, password, recorder) || name == nullptr ||
            name[0] == '\0' || destination == nullptr || destination[0] == '\0')
            return -1;
        auto task = std::make_shared<DownloadTask>(
            AnyRecorderJob(std::move(recorder), name, MapDrivePath(destination)));
        const int32_t handle = Downloads().Add(task);
        task->Start();
        return handle;
    });
}

PLAYERSDK_EXPORT int32_t NetStopDownload(int32_t download) {
    return Shielded(0, [&] {
        const auto task = Downloads().Remove(download);
        if (!task) return 0;
        task->Stop();
        return 1;
    });
}

PLAYERSDK_EXPORT int32_t NetGetDownloadProgress(int32_t download) {
    return Shielded(-1, [&] {
        const auto task = Downloads().Find(download);
        return task ? task->Progress() : -1;
    });
}

namespace {

// Opens the player on a stream's bytes once the source has answered, and
// hands the stream to the supervisor; -1 when it cannot be played.
template <typename Source>
PlayerHandle OpenStreamPlayer(std::shared_ptr<Source> source, PlayerWindowHandle picture,
                              std::chrono::milliseconds answer_budget,
                              std::chrono::steady_clock::time_point deadline) {
    if (source->Connect(answer_budget) != StreamOpen::Ready) return PLAYER_NO_HANDLE;
    source->SetReadDeadline(deadline);
    std::shared_ptr<Player> player = Player::Open(std::make_unique<StreamInput>(source));
    source->ClearReadDeadline();
    if (!player) return PLAYER_NO_HANDLE;
    player->AttachPictureWindow(picture);
    const PlayerHandle handle = RegisterPlayer(player);
    // Kept by the player until the caller registers its window.
    player->PostEvent(PLAYER_EVENT_BUFFERING);
    StreamSupervisor::Instance().Add(handle, player, std::move(source));
    return handle;
}

}  // namespace

PLAYERSDK_EXPORT PlayerHandle NetOpenStream(const char* address, const char* login,
                                            const char* password, const char* name,
                                            PlayerWindowHandle picture, uint16_t port) {
    return Shielded(PLAYER_NO_HANDLE, [&] {
        RecorderLogin recorder;
        if (!MakeLogin(address, port, login, password, recorder) || name == nullptr || name[0] == '\0')
            return PLAYER_NO_HANDLE;
        // The question of the protocol counts in the opening's budget.
        const auto began = std::chrono::steady_clock::now();
        switch (ProtocolOf(recorder, kProtocolBudget)) {
            case RecorderProtocol::Ours:
                return OpenStreamPlayer(std::make_shared<StreamBuffer>(std::move(recorder), name), picture,
                                        kAnswerBudget, began + kStreamOpenBudget);
            case RecorderProtocol::Onvif:
                if (const auto stretch = ParseReplayName(name))
                    return OpenStreamPlayer(std::make_shared<ReplayStream>(std::move(recorder), *stretch), picture,
                                            kReplayOpenBudget, began + kReplayOpenBudget);
                return PLAYER_NO_HANDLE;
            case RecorderProtocol::Unreachable: break;
        }
        return PLAYER_NO_HANDLE;
    });
}

PLAYERSDK_EXPORT int32_t NetSetBufferTime(PlayerHandle h, int32_t seconds) {
    return Shielded(0, [&] {
        return StreamSupervisor::Instance().SetBufferSeconds(h, seconds) ? 1 : 0;
    });
}

PLAYERSDK_EXPORT int32_t NetGetBufferProgress(PlayerHandle h) {
    return Shielded(-1, [&] {
        return StreamSupervisor::Instance().BufferProgress(h);
    });
}
