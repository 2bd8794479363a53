// The few host symbols the module's code needs, for the fuzz build, which
// links the parsers without the simulated hosts: the descriptor, a log that
// reads every argument its format names (so a bad string argument is caught),
// an empty host record, and no embedded resources.
#include <stdarg.h>

#include "module/descriptor.h"
#include "module/host_api.h"
#include "platform/embedded_resources.h"

ModuleDescriptor Descriptor = {111, u"Quindral Module (fuzz)", u"QUINDRAL", 0};

const EmbeddedResource EmbeddedResources[1] = {{0, 0, nullptr, 0}};
const uint32_t EmbeddedResourceCount = 0;

namespace {

alignas(16) uint8_t HostInfo[65536];
volatile uint32_t LogSink;

}  // namespace

extern "C" {

void* QD_CDECL getPesInfo(void) {
    return HostInfo;
}

void QD_CDECL _LogX(const ModuleDescriptor* descriptor, const char16_t* format, ...) {
    (void)descriptor;
    va_list args;
    va_start(args, format);
    uint32_t sum = 0;
    for (const char16_t* p = format; *p != 0; ++p) {
        if (*p != u'%')
            continue;
        ++p;
        while (*p == u'-' || *p == u'0' || (*p >= u'1' && *p <= u'9') || *p == u'.' || *p == u'l' || *p == u'h')
            ++p;
        if (*p == 0)
            break;
        if (*p == u's') {
            const char16_t* text = va_arg(args, const char16_t*);
            for (; text != nullptr && *text != 0; ++text)
                sum += *text;
        } else if (*p != u'%') {
            sum += static_cast<uint32_t>(va_arg(args, int32_t));
        }
    }
    va_end(args);
    LogSink = sum;
}
}
