/* The player library's contract: the 28 numbered entry points, the
 * notification message and its codes, the date-time record and the search
 * callback. Any library that exports these names with these signatures can
 * serve as libPlayerSDK.so; on Windows, any PlayerSDK.dll that exports these
 * numbers (texts then in the system's ANSI code page). Plain C so that any
 * library can include it. */
#ifndef VARNEL_PLAYER_PLAYERSDK_H
#define VARNEL_PLAYER_PLAYERSDK_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* An open local file or network stream; -1 means none. */
typedef int32_t PlayerHandle;
#define PLAYER_NO_HANDLE (-1)

#define WM_USER 0x0400
#define WM_PLAYER_NOTIFY (WM_USER + 200) /* 1224 */

/* First parameter of WM_PLAYER_NOTIFY; the second is the PlayerHandle. */
#define PLAYER_EVENT_END 1
#define PLAYER_EVENT_STARTED 2
#define PLAYER_EVENT_BUFFERING 3

#ifdef _WIN32
/* On Windows a window is the native HWND: the library posts WM_PLAYER_NOTIFY
 * to it and draws into it itself. Declared as windows.h declares HWND, so
 * that this header needs no system header. */
typedef struct HWND__* PlayerWindowHandle;
#else
/* A window as the library sees it. The windowing layer owns the structure
 * and keeps it alive while the window exists; the library keeps the pointer
 * only while a handle it issued refers to the window, and calls nothing else.
 * Every function here may be called from any thread. */
typedef struct PlayerWindow {
    void* context;
    /* Queues a message to the window's own thread; messages from one thread
     * arrive in the order they were posted. Never blocks. */
    void (*post)(void* context, uint32_t message, intptr_t wparam, intptr_t lparam);
    /* Hands over a picture to show: 32-bit pixels, bytes B, G, R, X in
     * memory. The pixels are copied before the call returns; never blocks
     * the window's thread. A picture smaller than the drawing area is shown
     * at its centre, the rest of the area black. */
    void (*present)(void* context, const uint8_t* pixels, int width, int height, int stride);
    /* The drawable size of the window in device pixels, so that the library
     * can scale its picture once, to the size that is shown. */
    void (*area_size)(void* context, int* width, int* height);
    /* For diagnostics and test logs only: the dialog template and control id
     * (0 for the dialog itself). */
    int dialog_id;
    int control_id;
} PlayerWindow;

typedef PlayerWindow* PlayerWindowHandle;
#endif

/* The 12-byte date-time record, in the recorder's local calendar. */
typedef struct NetTime {
    uint32_t year;
    uint8_t month;
    uint8_t day;
    uint8_t hour;
    uint8_t minute;
    uint8_t second;
    uint8_t reserved[3]; /* carries nothing; never set or read */
} NetTime;

/* Called once per recording found: (search handle, 0, name, start, end,
 * size in bytes, 0). The name and the records are valid during the call. */
typedef void (*SearchResultCallback)(int32_t search, int32_t unused, const char* name,
                                     const NetTime* start, const NetTime* end, uint32_t size,
                                     int32_t unused2);

/* X(number, name, result type, parameter list, argument list) for each entry
 * point, in the order of their numbers. */
#define PLAYER_ENTRY_POINTS(X)                                                                    \
    X(1, PlayerInit, int32_t, (void), ())                                                         \
    X(3, PlayerOpenFile, PlayerHandle, (const char* path, int32_t reserved), (path, reserved))   \
    X(4, PlayerSetNotifyWindow, int32_t,                                                          \
      (PlayerHandle h, PlayerWindowHandle window, uint32_t message), (h, window, message))        \
    X(5, PlayerPlay, int32_t, (PlayerHandle h, PlayerWindowHandle window), (h, window))          \
    X(6, PlayerClose, int32_t, (PlayerHandle h), (h))                                             \
    X(7, PlayerPause, int32_t, (PlayerHandle h), (h))                                             \
    X(8, PlayerFast, int32_t, (PlayerHandle h), (h))                                              \
    X(9, PlayerSlow, int32_t, (PlayerHandle h), (h))                                              \
    X(10, PlayerStepFrame, int32_t, (PlayerHandle h), (h))                                        \
    X(11, PlayerSetPosRatio, int32_t, (PlayerHandle h, float ratio), (h, ratio))                 \
    X(14, PlayerHasAudio, int32_t, (PlayerHandle h), (h))                                         \
    X(16, PlayerSoundOn, int32_t, (PlayerHandle h), (h))                                          \
    X(17, PlayerSoundOff, int32_t, (PlayerHandle h), (h))                                         \
    X(18, PlayerGetTotalTime, uint32_t, (PlayerHandle h), (h))                                    \
    X(19, PlayerGetPlayTime, uint32_t, (PlayerHandle h), (h))                                     \
    X(20, PlayerSetPlayTime, int32_t, (PlayerHandle h, uint32_t ms), (h, ms))                    \
    X(23, PlayerSnapshot, int32_t, (PlayerHandle h, const char* path), (h, path))                \
    X(27, PlayerStartCut, int32_t, (PlayerHandle h, const char* path), (h, path))                \
    X(28, PlayerStopCut, int32_t, (PlayerHandle h), (h))                                          \
    X(29, NetSearchFiles, int32_t,                                                                \
      (const char* address, const char* text, int32_t channel, const char* login,                \
       const char* password, int32_t file_type, int32_t constant, int32_t time_limit,            \
       const NetTime* start, const NetTime* end, SearchResultCallback callback,                   \
       PlayerWindowHandle window, uint16_t port),                                                 \
      (address, text, channel, login, password, file_type, constant, time_limit, start, end,     \
       callback, window, port))                                                                   \
    X(30, NetGetSearchState, int32_t, (int32_t search), (search))                                 \
    X(31, NetStopSearch, int32_t, (int32_t search), (search))                                     \
    X(32, NetStartDownload, int32_t,                                                              \
      (const char* address, const char* login, const char* password, const char* name,           \
       const char* destination, uint16_t port, int32_t zero1, int32_t zero2, int32_t zero3),     \
      (address, login, password, name, destination, port, zero1, zero2, zero3))                  \
    X(33, NetStopDownload, int32_t, (int32_t download), (download))                               \
    X(34, NetGetDownloadProgress, int32_t, (int32_t download), (download))                        \
    X(35, NetOpenStream, PlayerHandle,                                                            \
      (const char* address, const char* login, const char* password, const char* name,           \
       PlayerWindowHandle picture, uint16_t port),                                                \
      (address, login, password, name, picture, port))                                            \
    X(36, NetSetBufferTime, int32_t, (PlayerHandle h, int32_t seconds), (h, seconds))            \
    X(37, NetGetBufferProgress, int32_t, (PlayerHandle h), (h))

#define PLAYER_ENTRY_POINT_COUNT 28

/* The type of each entry point: PlayerOpenFile_fn and so on. */
#define PLAYER_DECLARE_FN_TYPE(number, name, result, params, args) typedef result(*name##_fn) params;
PLAYER_ENTRY_POINTS(PLAYER_DECLARE_FN_TYPE)
#undef PLAYER_DECLARE_FN_TYPE

#ifdef __cplusplus
} /* extern "C" */

static_assert(sizeof(NetTime) == 12, "NetTime is 12 bytes");
static_assert(alignof(NetTime) == alignof(uint32_t), "NetTime is aligned like a 32-bit integer");
static_assert(offsetof(NetTime, year) == 0);
static_assert(offsetof(NetTime, month) == 4);
static_assert(offsetof(NetTime, day) == 5);
static_assert(offsetof(NetTime, hour) == 6);
static_assert(offsetof(NetTime, minute) == 7);
static_assert(offsetof(NetTime, second) == 8);
static_assert(offsetof(NetTime, reserved) == 9);
static_assert(WM_PLAYER_NOTIFY == 1224);
#endif

#endif /* VARNEL_PLAYER_PLAYERSDK_H */
