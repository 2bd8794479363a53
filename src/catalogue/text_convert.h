// Conversions between the UTF-8 of the names file and the game's ball table and
// the UTF-16 the module parses. Both work one 16-bit unit at a time (Basic
// Multilingual Plane only) and never depend on the system code page.
#pragma once

#include <stdint.h>

// Number of units utf8ToUtf16 produces from `text`: one per decoded sequence,
// up to the zero byte or the first byte that ends the text (a stray
// continuation byte 0x80-0xBF, a lead byte 0xF0-0xFF, or a two- or three-byte
// form cut off by the zero byte). 0 for a null text.
int32_t utf8CharCount(const char* text);

// New zero-terminated UTF-16 text from the process heap (release with
// platformHeapFree). The bytes after a lead byte contribute their low six bits
// whatever their high bits are; overlong forms decode to the value they spell.
// Null when `text` is null or the allocation fails.
char16_t* utf8ToUtf16(const char* text);

// New zero-terminated UTF-8 text from the process heap (release with
// platformHeapFree); each unit is encoded by itself in one to three bytes, so
// surrogates are not paired. Null when `text` is null or the allocation fails.
char* utf16ToUtf8(const char16_t* text);
