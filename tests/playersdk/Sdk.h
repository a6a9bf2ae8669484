// The library's entry points, declared from the contract, for tests linked
// against libPlayerSDK.so.
#pragma once

#include "player/PlayerSdk.h"

#define PLAYERSDK_TEST_DECLARE(number, name, result, params, args) extern "C" result name params;
PLAYER_ENTRY_POINTS(PLAYERSDK_TEST_DECLARE)
#undef PLAYERSDK_TEST_DECLARE
