// The ball catalogue: GDB\balls\map.txt read once at start-up through
// SimpleIni, with the module's own reading of integer values.
#include "catalogue/catalogue.h"

#include <string.h>

#include <new>

#include "catalogue/ini_reader.h"
#include "module/log.h"
#include "platform/platform.h"

BallCatalogue Catalogue = {0, 0, 0, {}};
char16_t CataloguePath[PathUnits] = {};

#if !defined(_WIN32)
const wchar_t Windows1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};
#endif

namespace {

enum : uint32_t {
    MaximumBalls = CatalogueMaximumBalls,
    NumberTextLimit = 63,  // a value is read from a 64-byte narrow buffer
    ReadChunk = 1 << 16,
};

// The folder-name copies live until the module is unloaded.
struct CatalogueRelease {
    ~CatalogueRelease() { releaseBallCatalogue(); }
} ReleaseAtUnload;

int digitValue(wchar_t c, int base) {
    int value = 99;
    if (c >= L'0' && c <= L'9')
        value = c - L'0';
    if (c >= L'a' && c <= L'f')
        value = c - L'a' + 10;
    if (c >= L'A' && c <= L'F')
        value = c - L'A' + 10;
    return value < base ? value : -1;
}

int32_t integerValue(const CatalogueIni& ini, const wchar_t* key, int32_t fallback) {
    const wchar_t* text = ini.GetValue(CatalogueBallSection, key, nullptr);
    int32_t value = fallback;
    if (!text || !parseCatalogueInteger(text, &value))
        return fallback;
    return value;
}

char16_t* copyFolderName(const wchar_t* name) {
    size_t length = wcslen(name);
    char16_t* copy = static_cast<char16_t*>(platformHeapAlloc((length + 1) * sizeof(char16_t)));
    if (!copy)
        return nullptr;
    // The reader only produces characters of the Basic Multilingual Plane.
    for (size_t i = 0; i < length; ++i)
        copy[i] = static_cast<char16_t>(name[i]);
    return copy;
}

// Writes n (0 or more) in decimal with at least `digits` digits, zero-padded;
// `out` holds 11 characters.
void writeDecimal(wchar_t* out, int32_t n, int digits) {
    wchar_t reversed[10];
    int length = 0;
    do {
        reversed[length++] = static_cast<wchar_t>(L'0' + n % 10);
        n /= 10;
    } while (n > 0 && length < 10);
    while (length < digits && length < 10)
        reversed[length++] = L'0';
    for (int i = 0; i < length; ++i)
        out[i] = reversed[length - 1 - i];
    out[length] = 0;
}

// wchar_t is 32 bits off Windows: the log takes UTF-16.
void logFolder(int32_t number, const char16_t* name) {
    logLine(u"Ball %d : %s\n", number, name ? name : u"");
}

int32_t readCatalogue(CatalogueIni& ini) {
    logLine(u"Ball ini config :  %s\n", CataloguePath);

    size_t length = 0;
    char* text = readCatalogueText(CataloguePath, &length);
    if (text) {
        try {
            ini.LoadData(text, length);
        } catch (const std::bad_alloc&) {
            // Whatever the reader holds by now is used; the rest takes defaults.
        }
        platformHeapFree(text);
    }

    int32_t count = integerValue(ini, CatalogueCountKey, 0);
    Catalogue.previewWidth = integerValue(ini, CatalogueWidthKey, 512);
    Catalogue.previewHeight = integerValue(ini, CatalogueHeightKey, 128);
    logLine(u"Ball count : %d\n", count);
    logLine(u"Ball preview width : %d\n", Catalogue.previewWidth);
    logLine(u"Ball preview heigh : %d\n", Catalogue.previewHeight);
    if (count <= 0)
        return 0;
    if (count > int32_t(MaximumBalls)) {
        logLine(u"Ball count %d is more than the %d balls the catalogue holds: only balls 1 to %d are offered\n", count,
                int32_t(MaximumBalls), int32_t(MaximumBalls));
        count = MaximumBalls;
    }

    for (int32_t n = 0; n <= count; ++n) {
        wchar_t key[16];
        wchar_t fallback[16] = L"Ball ";
        writeDecimal(key, n, 1);
        writeDecimal(fallback + 5, n, 3);
        const wchar_t* name = ini.GetValue(CatalogueNameSection, key, fallback);
        char16_t* copy = copyFolderName(name ? name : fallback);
        if (Catalogue.folderNames[n])
            platformHeapFree(Catalogue.folderNames[n]);
        Catalogue.folderNames[n] = copy;
        logFolder(n, copy);
    }
    return count;
}

}  // namespace

// Out-of-range numbers saturate to the 32-bit limits, as the Windows C
// library's strtol does.
bool parseCatalogueInteger(const wchar_t* text, int32_t* result) {
    size_t length = wcslen(text);
    if (length == 0 || length > NumberTextLimit)
        return false;
    const wchar_t* p = text;
    int base = 10;
    bool negative = false;
    if (p[0] == L'0' && (p[1] == L'x' || p[1] == L'X')) {
        base = 16;
        p += 2;
    } else if (*p == L'+' || *p == L'-') {
        negative = *p == L'-';
        ++p;
    }
    if (*p == 0)
        return false;
    const int64_t limit = negative ? int64_t(INT32_MAX) + 1 : INT32_MAX;
    int64_t value = 0;
    for (; *p; ++p) {
        int digit = digitValue(*p, base);
        if (digit < 0)
            return false;
        value = value * base + digit;
        if (value > limit)
            value = limit;
    }
    *result = static_cast<int32_t>(negative ? -value : value);
    return true;
}

// The block starts with a line break of its own: the reader takes a leading
// UTF-8 mark as a switch to UTF-8, while the file is ANSI text in which those
// three bytes are the start of the first line. An empty first line changes
// nothing else.
char* readCatalogueText(const char16_t* path, size_t* length) {
    PlatformHandle file = platformOpenRead(path);
    if (file == PLATFORM_INVALID_HANDLE)
        return nullptr;
    uint32_t size = 0;
    char* text = nullptr;
    if (platformFileSize(file, &size) && size < UINT32_MAX - 1) {
        text = static_cast<char*>(platformHeapAlloc(size_t(size) + 1));
    }
    size_t held = 0;
    if (text) {
        text[held++] = '\n';
        while (held < size_t(size) + 1) {
            uint32_t want = static_cast<uint32_t>(size_t(size) + 1 - held);
            if (want > ReadChunk)
                want = ReadChunk;
            uint32_t got = 0;
            if (!platformReadFile(file, text + held, want, &got) || got == 0)
                break;
            held += got;
        }
    }
    platformCloseHandle(file);
    *length = held;
    return text;
}

void releaseBallCatalogue() {
    for (char16_t*& name : Catalogue.folderNames) {
        if (name)
            platformHeapFree(name);
        name = nullptr;
    }
    Catalogue.ballCount = 0;
    Catalogue.previewWidth = 0;
    Catalogue.previewHeight = 0;
}

int32_t loadBallCatalogue() {
    // The reader is needed only while the catalogue is read.
    CatalogueIni* ini = new (std::nothrow) CatalogueIni();
    if (!ini)
        return 0;
    int32_t count = readCatalogue(*ini);
    delete ini;
    return count;
}
