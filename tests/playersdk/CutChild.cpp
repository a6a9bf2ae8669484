// Helper for the killed-cut test: plays a file and cuts it until it is killed.
#include <unistd.h>

#include "FakeWindow.h"
#include "Sdk.h"

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    PlayerInit();
    playersdk_test::FakeWindow window(64, 48);
    PlayerHandle h = PlayerOpenFile(argv[1], 0);
    if (h == PLAYER_NO_HANDLE || PlayerStartCut(h, argv[2]) == 0) return 1;
    PlayerPlay(h, window.Handle());
    window.WaitForEvents(PLAYER_EVENT_END, 1, std::chrono::minutes(2));
    return 3;  // the parent kills this process long before the end
}
