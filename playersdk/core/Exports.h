// Declares every entry point of the contract with C linkage and default
// visibility (the library builds with hidden visibility). Each definition in
// this library must match its declaration here, so a signature that drifts
// from the contract fails to compile.
#pragma once

#include "player/PlayerSdk.h"

#define PLAYERSDK_EXPORT extern "C" __attribute__((visibility("default")))
#define PLAYERSDK_DECLARE_EXPORT(number, name, result, params, args) PLAYERSDK_EXPORT result name params;
PLAYER_ENTRY_POINTS(PLAYERSDK_DECLARE_EXPORT)
#undef PLAYERSDK_DECLARE_EXPORT
