// A stand-in player library that exports all 28 entry points by name. Each
// answers its own entry-point number, so a test can tell that every name
// was bound to the right slot.
#include "player/PlayerSdk.h"

#pragma GCC diagnostic ignored "-Wunused-parameter"

#define COMPLETE_ENTRY(number, name, result, params, args) \
    extern "C" __attribute__((visibility("default"))) result name params { return (result)number; }
PLAYER_ENTRY_POINTS(COMPLETE_ENTRY)
#undef COMPLETE_ENTRY
