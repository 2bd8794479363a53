// The simulated loader host: the host API the module imports, and the driver
// API tests and tools use to play the game process around it.
#include <dlfcn.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <mutex>

#include "game/game.h"
#include "module/descriptor.h"
#include "module/host_api.h"
#include "tremix/tremix_driver.h"

namespace {

enum : uint32_t { HostInfoBytes = 65536 };

typedef int32_t(QD_STDCALL* DllMainFn)(void*, uint32_t, void*);
typedef uint32_t(QD_STDCALL* EventFn)(uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t);

struct EventHook {
    int32_t event;
    void* callback;
};

struct Host {
    alignas(16) uint8_t info[HostInfoBytes];
    void* library = nullptr;
    ModuleDescriptor* descriptor = nullptr;
    int32_t loaderVersion = 0x000D0000;
    std::vector<EventHook> events;
    std::vector<std::string> log;
    std::vector<TremixHookRequest> hooks;
    int consoleSaved = -1;
    int misalignedCalls = 0;
    // Log lines arrive from whichever game threads run the module.
    std::mutex logLock;
    int consoleFile = -1;
};

Host host;

void appendUtf8(std::string& out, uint32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

void pad(std::u16string& out, const std::u16string& text, int width, bool left, char16_t fill) {
    int missing = width - static_cast<int>(text.size());
    if (missing > 0 && !left)
        out.append(missing, fill);
    out += text;
    if (missing > 0 && left)
        out.append(missing, u' ');
}

// printf over UTF-16: %s takes a UTF-16 string, %d and %i a 32-bit signed
// integer, %u %x %X 32-bit unsigned, %c one unit, with flags '-' and '0',
// a width and (for %s) a precision.
std::u16string format16(const char16_t* format, va_list args) {
    std::u16string out;
    for (const char16_t* p = format; *p; ++p) {
        if (*p != u'%') {
            out += *p;
            continue;
        }
        ++p;
        if (*p == u'%') {
            out += u'%';
            continue;
        }
        bool left = false, zero = false;
        for (; *p == u'-' || *p == u'0'; ++p) {
            if (*p == u'-')
                left = true;
            if (*p == u'0')
                zero = true;
        }
        int width = 0, precision = -1;
        for (; *p >= u'0' && *p <= u'9'; ++p)
            width = width * 10 + (*p - u'0');
        if (*p == u'.') {
            precision = 0;
            for (++p; *p >= u'0' && *p <= u'9'; ++p)
                precision = precision * 10 + (*p - u'0');
        }
        if (*p == u'l' || *p == u'h')
            ++p;
        char narrow[40];
        std::u16string piece;
        switch (*p) {
            case u's': {
                const char16_t* s = va_arg(args, const char16_t*);
                if (!s)
                    s = u"(null)";
                for (int i = 0; s[i] && (precision < 0 || i < precision); ++i)
                    piece += s[i];
                pad(out, piece, width, left, u' ');
                continue;
            }
            case u'c':
                piece += static_cast<char16_t>(va_arg(args, int));
                break;
            case u'd':
            case u'i':
                snprintf(narrow, sizeof narrow, "%d", static_cast<int32_t>(va_arg(args, int32_t)));
                break;
            case u'u':
                snprintf(narrow, sizeof narrow, "%u", static_cast<uint32_t>(va_arg(args, uint32_t)));
                break;
            case u'x':
                snprintf(narrow, sizeof narrow, "%x", static_cast<uint32_t>(va_arg(args, uint32_t)));
                break;
            case u'X':
                snprintf(narrow, sizeof narrow, "%X", static_cast<uint32_t>(va_arg(args, uint32_t)));
                break;
            case 0:
                return out;
            default:
                out += u'%';
                out += *p;
                continue;
        }
        if (*p != u'c') {
            for (char* n = narrow; *n; ++n)
                piece += static_cast<char16_t>(*n);
        }
        if (zero && !left && !piece.empty() && piece[0] == u'-') {
            out += u'-';
            piece.erase(0, 1);
            --width;
        }
        pad(out, piece, width, left, zero && !left ? u'0' : u' ');
    }
    return out;
}

void writeGameVersion(int32_t build) {
    memcpy(host.info + HostInfoGameVersionOffset, &build, 4);
}

void writeLoaderDir(const std::u16string& dir) {
    const size_t room = (HostInfoGameVersionOffset - HostInfoLoaderDirOffset) / 2 - 1;
    size_t n = std::min(dir.size(), room);
    char16_t* target = reinterpret_cast<char16_t*>(host.info + HostInfoLoaderDirOffset);
    memcpy(target, dir.data(), n * 2);
    target[n] = 0;
}

}  // namespace

// ---- Host API ----

extern "C" {

__attribute__((visibility("default"))) uint32_t QD_CDECL RegisterTModule(ModuleDescriptor* descriptor) {
    host.descriptor = descriptor;
    return 1;
}

__attribute__((visibility("default"))) void* QD_CDECL getPesInfo(void) {
    return host.info;
}

__attribute__((visibility("default"))) uint32_t QD_CDECL hookFunction(int32_t event, void* callback) {
    host.events.push_back({event, callback});
    return 1;
}

__attribute__((visibility("default"))) uint32_t QD_CDECL unhookFunction(int32_t event, void* callback) {
    auto it = std::find_if(host.events.begin(), host.events.end(),
                           [&](const EventHook& h) { return h.event == event && h.callback == callback; });
    if (it == host.events.end())
        return 0;
    host.events.erase(it);
    return 1;
}

__attribute__((visibility("default"))) uint32_t QD_CDECL HookCallPoint(uint32_t address, void* hook,
                                                                       int32_t entryOffset, int32_t extraBytes,
                                                                       int32_t flag) {
    host.hooks.push_back({address, hook, entryOffset, extraBytes, flag});
    if (!simGameMapped() || address < SimGameBase || address + 5u + static_cast<uint32_t>(extraBytes) > SimGameEnd ||
        extraBytes < 0) {
        return 0;
    }
    // A call to the hook's entry, then filler the game runs through harmlessly.
    std::vector<uint8_t> bytes(5 + extraBytes, 0x90);
    uint32_t entry = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(hook)) + static_cast<uint32_t>(entryOffset);
    uint32_t rel = entry - (address + 5);
    bytes[0] = 0xE8;
    memcpy(&bytes[1], &rel, 4);
    simGameWrite(address, bytes.data(), static_cast<uint32_t>(bytes.size()));
    return 1;
}

__attribute__((visibility("default"))) void QD_CDECL _LogX(const ModuleDescriptor* descriptor, const char16_t* format,
                                                           ...) {
    (void)descriptor;
    // The compiler assumes a 16-byte aligned stack here and does not realign
    // it: a misaligned caller shows in the address of this aligned local.
    // The empty asm hides the address from the optimiser, which would
    // otherwise take the alignment as given.
    alignas(16) volatile uint8_t probe[16] = {};
    uintptr_t probeAddress = reinterpret_cast<uintptr_t>(&probe[0]);
    asm volatile("" : "+r"(probeAddress));
    va_list args;
    va_start(args, format);
    std::u16string line = format16(format, args);
    va_end(args);
    std::string text = tremixUtf16ToUtf8(line.c_str());
    std::lock_guard<std::mutex> guard(host.logLock);
    if (probeAddress % 16 != 0)
        ++host.misalignedCalls;
    host.log.push_back(std::move(text));
}

#if !defined(TREMIX_WITHOUT_LOADER_VERSION)
__attribute__((visibility("default"))) int32_t QD_CDECL GetLoaderVersion(void) {
    return host.loaderVersion;
}
#endif
}

// ---- Driver API ----

void tremixReset() {
    std::lock_guard<std::mutex> guard(host.logLock);
    host.events.clear();
    host.log.clear();
    host.hooks.clear();
    host.descriptor = nullptr;
    host.misalignedCalls = 0;
}

void tremixSetGameBuild(int32_t build) {
    writeGameVersion(build);
    if (build == 0 || build == 1) {
        simGameMap(build);
    } else {
        simGameUnmap();
    }
}

void tremixSetLoaderDir(const std::u16string& dir) {
    writeLoaderDir(dir);
}

void tremixSetLoaderDirUtf8(const std::string& dir) {
    writeLoaderDir(tremixUtf8ToUtf16(dir));
}

void tremixSetLoaderVersion(int32_t version) {
    host.loaderVersion = version;
}

bool tremixHasLoaderVersionExport() {
#if defined(TREMIX_WITHOUT_LOADER_VERSION)
    return false;
#else
    return true;
#endif
}

bool tremixLoadModule(const std::string& path) {
    if (host.library)
        return false;
    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        fprintf(stderr, "tremix: cannot load %s: %s\n", path.c_str(), dlerror());
        return false;
    }
    DllMainFn entry = reinterpret_cast<DllMainFn>(dlsym(library, "DllMain"));
    if (!entry) {
        fprintf(stderr, "tremix: %s has no DllMain\n", path.c_str());
        dlclose(library);
        return false;
    }
    Dl_info info{};
    dladdr(reinterpret_cast<void*>(entry), &info);
    if (entry(info.dli_fbase, 1, nullptr) == 0) {
        entry(info.dli_fbase, 0, nullptr);
        dlclose(library);
        return false;
    }
    host.library = library;
    return true;
}

bool tremixModuleLoaded() {
    return host.library != nullptr;
}

void tremixUnloadModule() {
    if (!host.library)
        return;
    DllMainFn entry = reinterpret_cast<DllMainFn>(dlsym(host.library, "DllMain"));
    Dl_info info{};
    dladdr(reinterpret_cast<void*>(entry), &info);
    entry(info.dli_fbase, 0, nullptr);
    dlclose(host.library);
    host.library = nullptr;
    // Callbacks into an unloaded module must never run.
    host.events.clear();
    host.descriptor = nullptr;
}

int tremixDeliverEvent(int32_t event) {
    // A copy: a callback may unhook itself while the event is dispatched.
    std::vector<EventHook> hooked = host.events;
    int called = 0;
    for (const EventHook& h : hooked) {
        if (h.event != event)
            continue;
        bool stillHooked = std::any_of(host.events.begin(), host.events.end(), [&](const EventHook& e) {
            return e.event == h.event && e.callback == h.callback;
        });
        if (!stillHooked)
            continue;
        reinterpret_cast<EventFn>(h.callback)(0, 0, 0, 0, 0, 0, 0);
        ++called;
    }
    return called;
}

void* tremixRegisteredDescriptor() {
    return host.descriptor;
}

void tremixSetDebug(uint32_t value) {
    if (host.descriptor)
        host.descriptor->debug = value;
}

const std::vector<std::string>& tremixLog() {
    return host.log;
}

int tremixMisalignedLogCalls() {
    return host.misalignedCalls;
}

void tremixClearLog() {
    std::lock_guard<std::mutex> guard(host.logLock);
    host.log.clear();
}

const std::vector<TremixHookRequest>& tremixHookRequests() {
    return host.hooks;
}

int tremixHookedCount(int32_t event) {
    return static_cast<int>(
        std::count_if(host.events.begin(), host.events.end(), [&](const EventHook& h) { return h.event == event; }));
}

void tremixConsoleBegin() {
    if (host.consoleSaved >= 0)
        return;
    fflush(stdout);
    host.consoleFile = memfd_create("tremix-console", MFD_CLOEXEC);
    if (host.consoleFile < 0)
        return;
    host.consoleSaved = dup(STDOUT_FILENO);
    dup2(host.consoleFile, STDOUT_FILENO);
}

std::string tremixConsoleEnd() {
    if (host.consoleSaved < 0)
        return {};
    fflush(stdout);
    dup2(host.consoleSaved, STDOUT_FILENO);
    close(host.consoleSaved);
    host.consoleSaved = -1;
    std::string text;
    char buffer[4096];
    lseek(host.consoleFile, 0, SEEK_SET);
    for (ssize_t n; (n = read(host.consoleFile, buffer, sizeof buffer)) > 0;)
        text.append(buffer, n);
    close(host.consoleFile);
    host.consoleFile = -1;
    return text;
}

std::string tremixUtf16ToUtf8(const char16_t* text) {
    std::string out;
    for (size_t i = 0; text[i]; ++i) {
        uint32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;  // an unpaired surrogate has no UTF-8 form
        }
        appendUtf8(out, c);
    }
    return out;
}

std::u16string tremixUtf8ToUtf16(const std::string& text) {
    std::u16string out;
    for (size_t i = 0; i < text.size();) {
        uint8_t b = static_cast<uint8_t>(text[i]);
        uint32_t c;
        size_t len;
        if (b < 0x80) {
            c = b;
            len = 1;
        } else if ((b & 0xE0) == 0xC0) {
            c = b & 0x1F;
            len = 2;
        } else if ((b & 0xF0) == 0xE0) {
            c = b & 0x0F;
            len = 3;
        } else if ((b & 0xF8) == 0xF0) {
            c = b & 0x07;
            len = 4;
        } else {
            out += u'\uFFFD';
            ++i;
            continue;
        }
        if (i + len > text.size()) {
            out += u'\uFFFD';
            break;
        }
        for (size_t k = 1; k < len; ++k)
            c = (c << 6) | (static_cast<uint8_t>(text[i + k]) & 0x3F);
        if (c >= 0x10000) {
            c -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (c >> 10));
            out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
        } else {
            out += static_cast<char16_t>(c);
        }
        i += len;
    }
    return out;
}
