#include "catalogue/text_convert.h"

#include <stddef.h>
#include <stdint.h>

#include "platform/platform.h"

namespace {

// Decodes the sequence at `text`. Returns the number of bytes it takes, or 0
// when the text ends there. A form whose trailing bytes run into the zero byte
// ends the text, so nothing past the zero is ever read.
size_t decodeOne(const unsigned char* text, char16_t* unit) {
    const unsigned b0 = text[0];
    if (b0 >= 0x01 && b0 <= 0x7F) {
        *unit = static_cast<char16_t>(b0);
        return 1;
    }
    if (b0 >= 0xC0 && b0 <= 0xDF) {
        const unsigned b1 = text[1];
        if (b1 == 0) {
            return 0;
        }
        *unit = static_cast<char16_t>(((b0 & 0x1F) << 6) | (b1 & 0x3F));
        return 2;
    }
    if (b0 >= 0xE0 && b0 <= 0xEF) {
        const unsigned b1 = text[1];
        if (b1 == 0) {
            return 0;
        }
        const unsigned b2 = text[2];
        if (b2 == 0) {
            return 0;
        }
        *unit = static_cast<char16_t>(((b0 & 0x0F) << 12) | ((b1 & 0x3F) << 6) | (b2 & 0x3F));
        return 3;
    }
    // 0x00, a stray continuation byte, or a four-byte or longer form.
    return 0;
}

size_t encodedLength(char16_t unit) {
    if (unit < 0x80) {
        return 1;
    }
    if (unit < 0x800) {
        return 2;
    }
    return 3;
}

}  // namespace

int32_t utf8CharCount(const char* text) {
    if (text == nullptr) {
        return 0;
    }
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(text);
    int32_t count = 0;
    char16_t unit;
    // The count stays below INT32_MAX so that count + 1 units can be asked for.
    while (count < INT32_MAX - 1) {
        const size_t taken = decodeOne(bytes, &unit);
        if (taken == 0) {
            break;
        }
        bytes += taken;
        ++count;
    }
    return count;
}

char16_t* utf8ToUtf16(const char* text) {
    if (text == nullptr) {
        return nullptr;
    }
    const size_t count = static_cast<size_t>(utf8CharCount(text));
    if (count + 1 > SIZE_MAX / sizeof(char16_t)) {
        return nullptr;
    }
    char16_t* out = static_cast<char16_t*>(platformHeapAlloc((count + 1) * sizeof(char16_t)));
    if (out == nullptr) {
        return nullptr;
    }
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(text);
    for (size_t i = 0; i < count; ++i) {
        const size_t taken = decodeOne(bytes, &out[i]);
        if (taken == 0) {
            break;
        }
        bytes += taken;
    }
    // out[count] is the zero unit of the zero-filled block.
    return out;
}

char* utf16ToUtf8(const char16_t* text) {
    if (text == nullptr) {
        return nullptr;
    }
    // Measure first and allocate the exact size, so no work buffer of three
    // bytes per unit is needed.
    size_t bytes = 0;
    for (const char16_t* p = text; *p != 0; ++p) {
        const size_t width = encodedLength(*p);
        if (bytes > SIZE_MAX - 1 - width) {
            return nullptr;
        }
        bytes += width;
    }
    unsigned char* out = static_cast<unsigned char*>(platformHeapAlloc(bytes + 1));
    if (out == nullptr) {
        return nullptr;
    }
    size_t at = 0;
    for (const char16_t* p = text; *p != 0; ++p) {
        const unsigned u = *p;
        if (u < 0x80) {
            out[at++] = static_cast<unsigned char>(u);
        } else if (u < 0x800) {
            out[at++] = static_cast<unsigned char>(0xC0 | (u >> 6));
            out[at++] = static_cast<unsigned char>(0x80 | (u & 0x3F));
        } else {
            out[at++] = static_cast<unsigned char>(0xE0 | (u >> 12));
            out[at++] = static_cast<unsigned char>(0x80 | ((u >> 6) & 0x3F));
            out[at++] = static_cast<unsigned char>(0x80 | (u & 0x3F));
        }
    }
    // out[bytes] is the zero byte of the zero-filled block.
    return reinterpret_cast<char*>(out);
}
