// The INI reader of the catalogue: SimpleIni's wide-character reader in its
// default settings, decoding the file in the system ANSI code page.
//
// On Windows that is CSimpleIniW with the library's Win32 converter. Elsewhere
// wchar_t is 32 bits and there is no Windows code page, so the reader gets a
// converter of its own that decodes Windows-1252, the ANSI code page of a
// Western Windows, byte for byte.
#pragma once

#include <stddef.h>
#include <string.h>

#if defined(_WIN32)
#define SI_CONVERT_WIN32
#else
#define SI_NO_CONVERSION
#endif
#define SI_IMPLEMENTATION
#include <SimpleIni.h>

#if !defined(_WIN32)

// The Unicode code points of the bytes 0x80 to 0x9F in Windows-1252. The five
// bytes the code page leaves undefined (81, 8D, 8F, 90, 9D) map to the C1
// control of the same value, as Windows' own table does.
extern const wchar_t Windows1252High[32];

// Decodes Windows-1252 bytes (one character per byte). Used only for reading;
// the encoding direction exists because the reader's template asks for it.
template <class SI_CHAR>
class Windows1252Converter {
  public:
    explicit Windows1252Converter(bool storeIsUtf8) { (void)storeIsUtf8; }

    size_t SizeFromStore(const char* data, size_t length) {
        (void)data;
        return length;
    }

    bool ConvertFromStore(const char* data, size_t length, SI_CHAR* out, size_t outSize) {
        if (length > outSize)
            return false;
        for (size_t i = 0; i < length; ++i)
            out[i] = decode(static_cast<unsigned char>(data[i]));
        return true;
    }

    size_t SizeToStore(const SI_CHAR* text) {
        size_t length = 0;
        while (text[length] != 0)
            ++length;
        return length + 1;
    }

    bool ConvertToStore(const SI_CHAR* text, char* out, size_t outSize) {
        size_t i = 0;
        for (;; ++i) {
            if (i >= outSize)
                return false;
            int byte = encode(text[i]);
            if (byte < 0)
                return false;
            out[i] = static_cast<char>(byte);
            if (byte == 0)
                return true;
        }
    }

  private:
    static SI_CHAR decode(unsigned char byte) {
        if (byte >= 0x80 && byte <= 0x9F)
            return static_cast<SI_CHAR>(Windows1252High[byte - 0x80]);
        return static_cast<SI_CHAR>(byte);
    }

    static int encode(SI_CHAR ch) {
        unsigned long value = static_cast<unsigned long>(ch);
        if (value < 0x80 || (value >= 0xA0 && value <= 0xFF))
            return static_cast<int>(value);
        for (int i = 0; i < 32; ++i) {
            if (static_cast<unsigned long>(Windows1252High[i]) == value)
                return 0x80 + i;
        }
        return -1;
    }
};

typedef CSimpleIniTempl<wchar_t, SI_GenericNoCase<wchar_t>, Windows1252Converter<wchar_t> > CatalogueIni;

#else

typedef CSimpleIniW CatalogueIni;

#endif
