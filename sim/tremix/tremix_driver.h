// Driver side of the simulated loader host: what tests and tools use to
// stand in for the game process that loads the module.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

struct TremixHookRequest {
    uint32_t address;
    void* hook;
    int32_t entryOffset;
    int32_t extraBytes;
    int32_t flag;
};

// Forgets everything of an earlier run (log, hooks, events); the module must
// be unloaded first. The loader folder and the game build are kept.
void tremixReset();

// The HostInfo fields the module reads. Setting the build to 0 or 1 also
// maps the simulated game of that build (see sim/game/game.h); any other
// value leaves the game unmapped.
void tremixSetGameBuild(int32_t build);
// The loader folder as the host holds it (UTF-16, should end in '\').
void tremixSetLoaderDir(const std::u16string& dir);
void tremixSetLoaderDirUtf8(const std::string& dir);
// The value GetLoaderVersion returns (in the build of the host that has the
// export); default 0x000D0000 (13.0).
void tremixSetLoaderVersion(int32_t version);
// True when this build of the host exports GetLoaderVersion.
bool tremixHasLoaderVersionExport();

// Loads the module (dlopen, then its entry point with reason 1, as the
// Windows loader does: a refused attach is followed by reason 0 and the
// library is unloaded). True when the module stayed loaded.
bool tremixLoadModule(const std::string& path);
bool tremixModuleLoaded();
// Calls the module's entry point with reason 0, then unloads the library.
void tremixUnloadModule();
// Calls every callback hooked for `event`, with seven zero arguments.
// Returns how many were called.
int tremixDeliverEvent(int32_t event);

// The module's registered descriptor (null before RegisterTModule).
void* tremixRegisteredDescriptor();
// Writes the descriptor's `debug` field, as the host may.
void tremixSetDebug(uint32_t value);

// Every _LogX line so far, formatted, as UTF-8, in call order.
const std::vector<std::string>& tremixLog();
void tremixClearLog();
// How many _LogX calls arrived with a stack that was not 16-byte aligned at
// the call, as the compiler's 32-bit code assumes.
int tremixMisalignedLogCalls();
// Every HookCallPoint request so far.
const std::vector<TremixHookRequest>& tremixHookRequests();
// Number of callbacks currently hooked for `event`.
int tremixHookedCount(int32_t event);

// Captures what the process writes to its standard output between begin
// and end (the module's console lines).
void tremixConsoleBegin();
std::string tremixConsoleEnd();

// Text helpers shared by the simulated hosts.
std::string tremixUtf16ToUtf8(const char16_t* text);
std::u16string tremixUtf8ToUtf16(const std::string& text);
