// Helper for the cut tests run in a process of their own:
//   playersdk_cut_child SOURCE CUT          plays SOURCE and cuts it until killed
//   playersdk_cut_child SOURCE CUT BYTES    the same on a "disk" that holds only
//                                           BYTES per file; exits 4 when the cut
//                                           reported success, 5 when it failed
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdlib>

#include "FakeWindow.h"
#include "Sdk.h"

int main(int argc, char** argv) {
    if (argc != 3 && argc != 4) return 2;
    const bool full_disk = argc == 4;
    if (full_disk) {
        // Writes past the limit fail with EFBIG, as on a full disk.
        signal(SIGXFSZ, SIG_IGN);
        rlim_t bytes = std::strtoull(argv[3], nullptr, 10);
        struct rlimit limit = {bytes, bytes};
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0) return 2;
    }
    PlayerInit();
    playersdk_test::FakeWindow window(64, 48);
    PlayerHandle h = PlayerOpenFile(argv[1], 0);
    if (h == PLAYER_NO_HANDLE || PlayerStartCut(h, argv[2]) == 0) return 1;
    PlayerSetNotifyWindow(h, window.Handle(), WM_PLAYER_NOTIFY);
    if (full_disk) {
        PlayerFast(h);  // the cut copies what is read, whatever the speed
        PlayerFast(h);
    }
    PlayerPlay(h, window.Handle());
    window.WaitForEvents(PLAYER_EVENT_END, 1, std::chrono::minutes(2));
    if (!full_disk) return 3;  // the parent kills this process long before the end
    int stopped = PlayerStopCut(h);
    PlayerClose(h);
    return stopped != 0 ? 4 : 5;
}
