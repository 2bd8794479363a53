#include "module/hooks.h"

#include "catalogue/display_names.h"
#include "module/host_api.h"
#include "module/selection.h"
#include "module/version_table.h"

// Every body saves the flags and ebp, eax, ebx, ecx, edx, esi, edi, aligns
// the stack to 16 bytes and clears the direction flag for the C++ code it
// calls (the game promises neither), and restores all of it afterwards.
#if QD_ARCH_X86_32

#define QD_HOOK_PREAMBLE \
    "push %%ebx\n\t"     \
    "push %%esi\n\t"     \
    "push %%edi\n\t"
#define QD_HOOK_SAVE                                              \
    "pushfl\n\t"                                                  \
    "push %%ebp\n\t"                                              \
    "push %%eax\n\t"                                              \
    "push %%ebx\n\t"                                              \
    "push %%ecx\n\t"                                              \
    "push %%edx\n\t"                                              \
    "push %%esi\n\t"                                              \
    "push %%edi\n\t"                                              \
    "movl %%esp, %%ebp\n\t" /* the saved frame, restored below */ \
    "andl $-16, %%esp\n\t"                                        \
    "cld\n\t"
#define QD_HOOK_RESTORE     \
    "movl %%ebp, %%esp\n\t" \
    "pop %%edi\n\t"         \
    "pop %%esi\n\t"         \
    "pop %%edx\n\t"         \
    "pop %%ecx\n\t"         \
    "pop %%ebx\n\t"         \
    "pop %%eax\n\t"         \
    "pop %%ebp\n\t"         \
    "popfl\n\t"

extern "C" __attribute__((naked, used)) void BallLoadHook() {
    asm volatile(QD_HOOK_PREAMBLE
                 // entry: eax = the game's ball number
                 "movl %%eax, %[selected]\n\t" QD_HOOK_SAVE "call %P[choose]\n\t" QD_HOOK_RESTORE
                 // mov does not touch the flags just restored
                 "movl %[selected], %%eax\n\t"
                 "ret\n\t"
                 :
                 : [selected] "m"(SelectedBall), [choose] "i"(&ChooseBall));
}

extern "C" __attribute__((naked, used)) void SelectionHook() {
    asm volatile(QD_HOOK_PREAMBLE
                 // entry: ebp = the selected ball
                 "movl %%ebp, %[selected]\n\t" QD_HOOK_SAVE "call %P[store]\n\t" QD_HOOK_RESTORE "ret\n\t"
                 :
                 : [selected] "m"(SelectedBall), [store] "i"(&StoreSelection));
}

extern "C" __attribute__((naked, used)) void BallTableHook() {
    asm volatile(QD_HOOK_PREAMBLE QD_HOOK_SAVE
                 // afsReadBalls(eax), cdecl, with the stack aligned at the call
                 "subl $12, %%esp\n\t"
                 "push %%eax\n\t"
                 "call %P[names]\n\t" QD_HOOK_RESTORE
                 // the game's own 7 bytes at the call point
                 "movb $1, 0x3C(%%esi)\n\t"     // C6 46 3C 01
                 "movl 0x34(%%esi), %%esi\n\t"  // 8B 76 34
                 "ret\n\t"
                 :
                 : [names] "i"(&afsReadBalls));
}

#else

extern "C" const uint8_t BallLoadHook[4] = {0x53, 0x56, 0x57, 0xCC};
extern "C" const uint8_t SelectionHook[4] = {0x53, 0x56, 0x57, 0xCC};
extern "C" const uint8_t BallTableHook[4] = {0x53, 0x56, 0x57, 0xCC};

#endif

namespace {

void* hookAddress(const void* hook) {
    return const_cast<void*>(hook);
}

}  // namespace

void installBallLoadHook() {
    HookCallPoint(VersionAddresses.ballLoadCallPoint[GameVersion],
                  hookAddress(reinterpret_cast<const void*>(&BallLoadHook)), HookEntryOffset, 13, 0);
}

void installSelectionHooks() {
    HookCallPoint(VersionAddresses.selectionCallPoint[GameVersion],
                  hookAddress(reinterpret_cast<const void*>(&SelectionHook)), HookEntryOffset, 0, 1);
    HookCallPoint(CurrentBallTableCallPoint, hookAddress(reinterpret_cast<const void*>(&BallTableHook)),
                  HookEntryOffset, 2, 0);
}
