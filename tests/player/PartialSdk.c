/* A stand-in player library that exports only three of the 28 entry points,
 * for the binding's report of what is missing. */
#include "player/PlayerSdk.h"

__attribute__((visibility("default"))) int32_t PlayerInit(void) { return 1; }

__attribute__((visibility("default"))) PlayerHandle PlayerOpenFile(const char* path,
                                                                   int32_t reserved) {
    (void)path;
    (void)reserved;
    return 3;
}

__attribute__((visibility("default"))) int32_t PlayerPlay(PlayerHandle h,
                                                         PlayerWindowHandle window) {
    (void)h;
    (void)window;
    return 5;
}
