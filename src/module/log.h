// The module's two output channels: the loader's log (UTF-16 printf formats,
// %s a UTF-16 string, %d a 32-bit signed integer) and the process console.
#pragma once

#include "module/descriptor.h"
#include "module/host_api.h"

#define logLine(...) _LogX(&Descriptor, __VA_ARGS__)

// Narrow printf to standard output; the text is cut at 1023 bytes.
void consolePrint(const char* format, ...) __attribute__((format(printf, 1, 2)));
