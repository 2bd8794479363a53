// The three call-point hooks: x86-32 machine code that the game enters 3
// bytes past each hook's start, with its own registers, from a call the
// loader host writes at the call point.
#pragma once

#include <stdint.h>

#include "platform/platform.h"

// Where the host enters a hook: past the 3-byte preamble push ebx / push esi /
// push edi (53 56 57), which must never run on the hooked path.
enum : int32_t { HookEntryOffset = 3 };

#if QD_ARCH_X86_32
extern "C" {
// Ball-load call point. eax in: the game's ball number; eax out: the ball
// chosen (SelectedBall); everything else as on entry.
void BallLoadHook();
// Selection call point. ebp: the ball the player selected; all registers
// and flags preserved.
void SelectionHook();
// Ball-table call point. eax: the game's ball table; esi: a game object.
// Runs afsReadBalls(eax), then the game's two instructions the call took the
// place of: mov byte [esi+0x3C], 1 and mov esi, [esi+0x34].
void BallTableHook();
}
#else
// A 64-bit module cannot be entered from the 32-bit game: here the hooks are
// only their preamble followed by int3, so that entering one traps at once.
extern "C" const uint8_t BallLoadHook[4];
extern "C" const uint8_t SelectionHook[4];
extern "C" const uint8_t BallTableHook[4];
#endif

// Installs the hook at the ball-load call point (with 13 filler bytes behind
// the call), the selection hook and the ball-table hook.
void installBallLoadHook();
void installSelectionHooks();
