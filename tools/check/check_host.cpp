// The loader and archive hosts as far as the checker needs them: the module's
// code reads the loader folder from the host's record and writes its log
// through _LogX. The checker runs no game, so registrations and hooks are
// refused; the reading code it calls never asks for them.
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "check.h"
#include "module/host_api.h"

namespace {

enum : uint32_t {
    HostInfoBytes = HostInfoGameVersionOffset + 4,
    LoaderDirUnits = (HostInfoGameVersionOffset - HostInfoLoaderDirOffset) / 2,
};

alignas(8) uint8_t HostInfo[HostInfoBytes] = {};
std::vector<std::string> Log;

// The host's log formats: %s a UTF-16 string, %d a 32-bit signed integer,
// with an optional zero flag and width.
std::u16string format16(const char16_t* format, va_list args) {
    std::u16string out;
    for (const char16_t* p = format; *p != 0; ++p) {
        if (*p != u'%' || p[1] == 0) {
            out += *p;
            continue;
        }
        ++p;
        bool zero = false;
        int width = 0;
        if (*p == u'0') {
            zero = true;
            ++p;
        }
        while (*p >= u'0' && *p <= u'9' && width < 64) {
            width = width * 10 + (*p - u'0');
            ++p;
        }
        if (*p == u's') {
            const char16_t* text = va_arg(args, const char16_t*);
            out += text ? text : u"(null)";
        } else if (*p == u'd' || *p == u'u' || *p == u'x' || *p == u'X') {
            const int value = va_arg(args, int);
            char digits[16];
            if (*p == u'd')
                snprintf(digits, sizeof digits, "%d", value);
            else if (*p == u'u')
                snprintf(digits, sizeof digits, "%u", static_cast<unsigned>(value));
            else if (*p == u'x')
                snprintf(digits, sizeof digits, "%x", static_cast<unsigned>(value));
            else
                snprintf(digits, sizeof digits, "%X", static_cast<unsigned>(value));
            const int length = static_cast<int>(strlen(digits));
            for (int i = length; i < width; ++i)
                out += zero ? u'0' : u' ';
            for (const char* d = digits; *d != 0; ++d)
                out += static_cast<char16_t>(*d);
        } else if (*p == u'%') {
            out += u'%';
        } else if (*p == 0) {
            break;
        } else {
            out += u'%';
            out += *p;
        }
    }
    return out;
}

}  // namespace

bool setHostLoaderDir(const std::u16string& loaderDir) {
    if (loaderDir.size() >= LoaderDirUnits)
        return false;
    memset(HostInfo + HostInfoLoaderDirOffset, 0, LoaderDirUnits * 2);
    memcpy(HostInfo + HostInfoLoaderDirOffset, loaderDir.data(), loaderDir.size() * 2);
    return true;
}

std::vector<std::string>& hostLog() {
    return Log;
}

extern "C" {

uint32_t QD_CDECL RegisterTModule(ModuleDescriptor* descriptor) {
    (void)descriptor;
    return 0;
}

void* QD_CDECL getPesInfo(void) {
    return HostInfo;
}

uint32_t QD_CDECL hookFunction(int32_t event, void* callback) {
    (void)event;
    (void)callback;
    return 0;
}

uint32_t QD_CDECL unhookFunction(int32_t event, void* callback) {
    (void)event;
    (void)callback;
    return 0;
}

uint32_t QD_CDECL HookCallPoint(uint32_t address, void* hook, int32_t entryOffset, int32_t extraBytes, int32_t flag) {
    (void)address;
    (void)hook;
    (void)entryOffset;
    (void)extraBytes;
    (void)flag;
    return 0;
}

void QD_CDECL _LogX(const ModuleDescriptor* descriptor, const char16_t* format, ...) {
    (void)descriptor;
    va_list args;
    va_start(args, format);
    std::u16string line = format16(format, args);
    va_end(args);
    while (!line.empty() && (line.back() == u'\n' || line.back() == u'\r'))
        line.pop_back();
    Log.push_back(toUtf8(line));
}

void QD_CDECL parvexAddCallback(ArchiveReadCallbackFn callback) {
    (void)callback;
}

void QD_CDECL parvexExtendSlots(int32_t archive, int32_t slots) {
    (void)archive;
    (void)slots;
}
}
