// Bounded joining of UTF-16 path pieces into the module's fixed buffers.
#pragma once

#include <stddef.h>

// Writes the pieces one after another, zero-terminated, into `out` of
// `capacity` units. A result that does not fit is refused: `out` is left
// empty and false returned, since a cut path could name another file.
bool joinPath(char16_t* out, size_t capacity, const char16_t* const* pieces, size_t count);

template <size_t N, size_t K>
bool joinPath(char16_t (&out)[N], const char16_t* const (&pieces)[K]) {
    return joinPath(out, N, pieces, K);
}

// Length in units of a zero-terminated UTF-16 text.
size_t text16Length(const char16_t* text);
