#include "module/paths.h"

size_t text16Length(const char16_t* text) {
    size_t n = 0;
    while (text[n] != 0)
        ++n;
    return n;
}

bool joinPath(char16_t* out, size_t capacity, const char16_t* const* pieces, size_t count) {
    if (capacity == 0)
        return false;
    size_t n = 0;
    for (size_t p = 0; p < count; ++p) {
        const char16_t* piece = pieces[p] ? pieces[p] : u"";
        for (size_t i = 0; piece[i] != 0; ++i) {
            if (n + 1 >= capacity) {
                out[0] = 0;
                return false;
            }
            out[n++] = piece[i];
        }
    }
    out[n] = 0;
    return true;
}
