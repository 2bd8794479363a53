#include <stdarg.h>
#include <stdio.h>

#include "module/log.h"
#include "platform/platform.h"

void consolePrint(const char* format, ...) {
    char text[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    platformConsoleWrite(text);
}
