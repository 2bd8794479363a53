// Makes the three menu files that the module embeds as RCBALL resources, and
// turns menu files into the compiled-in resource table of the Linux builds.
//
//   make_menu_files generate DIR
//       writes stand-ins DIR/127.bin, DIR/269.bin and DIR/833.bin
//   make_menu_files embed OUT.cpp 127=FILE 269=FILE 833=FILE
//       writes the EmbeddedResources table holding those files' bytes
//
// The stand-ins have the game files' layout, not their content: each is a
// PackedFile, packed by the module's own code, around a MultiFileBin with the
// game's sub-file names, kinds and lengths (DDS textures of the right formats
// and sizes behind the embedded texture header, "DPOW" object placeholders).
// Their bytes past the headers are filler, zero or pseudo-random, and the
// amount of pseudo-random filler is chosen so that the zlib stream has the
// game file's length. They are not playable menus.
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "module/descriptor.h"
#include "module/host_api.h"
#include "platform/platform.h"
#include "serving/packed_file.h"

// What the module's packing code needs from the module and its platform: the
// descriptor its log lines name, the loader's log (printed here) and the heap.
ModuleDescriptor Descriptor = {111, u"make_menu_files", u"MENUFILES", 0};

extern "C" void QD_CDECL _LogX(const ModuleDescriptor*, const char16_t* format, ...) {
    // The formats use %d (32-bit signed) and %s (UTF-16); text is ASCII.
    va_list args;
    va_start(args, format);
    std::string line;
    for (const char16_t* p = format; *p; ++p) {
        if (p[0] == u'%' && p[1] == u'd') {
            line += std::to_string(va_arg(args, int32_t));
            ++p;
        } else if (p[0] == u'%' && p[1] == u's') {
            for (const char16_t* s = va_arg(args, const char16_t*); *s; ++s)
                line += static_cast<char>(*s < 0x80 ? *s : '?');
            ++p;
        } else {
            line += static_cast<char>(*p < 0x80 ? *p : '?');
        }
    }
    va_end(args);
    fprintf(stderr, "make_menu_files: log: %s\n", line.c_str());
}

void* platformHeapAlloc(size_t bytes) {
    return calloc(1, bytes ? bytes : 1);
}

void platformHeapFree(void* block) {
    free(block);
}

namespace {

const uint16_t ResourceLanguage = 1041;  // Japanese (Japan), as the game's files are stored

enum class Kind { Dxt1, Dxt5, Object };

struct SubFileShape {
    const char* name;
    Kind kind;
    uint32_t width;  // textures: the top level's size and the number of levels
    uint32_t height;
    uint32_t mipLevels;
    uint32_t length;  // the sub-file's length in the game's file
};

struct MenuFileShape {
    uint32_t id;
    uint32_t payloadLength;  // the MultiFileBin, once inflated
    uint32_t streamLength;   // compressedSize
    uint32_t sizeField;      // what uncompressedSize reads
    uint32_t trailingZeros;  // zero bytes after the stream
    std::vector<SubFileShape> subFiles;
};

const SubFileShape BallBase = {"ball_base.tex", Kind::Dxt5, 4, 4, 3, 192};
const SubFileShape BallOn = {"ball_on.tex", Kind::Dxt5, 256, 64, 1, 16528};
const SubFileShape EnvSettingBall = {"env_setting_ball.obj", Kind::Object, 0, 0, 0, 2256};

const MenuFileShape MenuFiles[] = {
    {127,
     89633,
     52255,
     89632,  // one less than the payload, as in the game's file
     0,
     {{"edit_embset_model.tex", Kind::Dxt1, 256, 256, 1, 32912},
      {"edit_embset_model02.tex", Kind::Dxt1, 256, 256, 1, 32912},
      BallBase,
      BallOn,
      {"editLCDetailSettings.obj", Kind::Object, 0, 0, 0, 4544},
      EnvSettingBall}},
    {269,
     35136,
     3428,
     35136,
     12,
     {{"ball_select.obj", Kind::Object, 0, 0, 0, 2152}, {"ballDmy.tex", Kind::Dxt1, 512, 128, 1, 32912}}},
    {833,
     24416,
     14416,
     24416,
     0,
     {BallBase, BallOn, EnvSettingBall, {"simCupSetting.obj", Kind::Object, 0, 0, 0, 5296}}},
};

// The embedded texture kind: "WE00", 00 00 00 FF, the length of the DDS image,
// no palette (offset 0), the image at 16.
const uint8_t EmbeddedTextureKind[4] = {0x00, 0x00, 0x00, 0xFF};
const uint32_t EmbeddedTextureHeaderSize = 16;
const uint32_t DdsHeaderSize = 128;  // "DDS " and the 124-byte DDS_HEADER
const uint8_t ObjectMagic[4] = {'D', 'P', 'O', 'W'};

uint32_t dxtImageSize(const SubFileShape& s) {
    const uint32_t blockBytes = s.kind == Kind::Dxt1 ? 8 : 16;
    uint32_t total = 0;
    uint32_t w = s.width;
    uint32_t h = s.height;
    for (uint32_t level = 0; level < s.mipLevels; ++level) {
        total += (w + 3) / 4 * ((h + 3) / 4) * blockBytes;  // 4 x 4 pixel blocks
        w = w > 1 ? w / 2 : 1;
        h = h > 1 ? h / 2 : 1;
    }
    return total;
}

// The DDS file header of a DXT1 or DXT5 texture, with or without mip levels.
void writeDdsHeader(uint8_t* at, const SubFileShape& s) {
    const uint32_t DdsdCaps = 0x1, DdsdHeight = 0x2, DdsdWidth = 0x4, DdsdPixelFormat = 0x1000,
                   DdsdMipMapCount = 0x20000, DdsdLinearSize = 0x80000;
    const uint32_t DdpfFourCc = 0x4;
    const uint32_t DdsCapsComplex = 0x8, DdsCapsTexture = 0x1000, DdsCapsMipMap = 0x400000;
    const bool mips = s.mipLevels > 1;
    SubFileShape top = s;
    top.mipLevels = 1;
    memcpy(at, "DDS ", 4);
    storeLe32(at + 4, 124);  // dwSize
    storeLe32(at + 8,
              DdsdCaps | DdsdHeight | DdsdWidth | DdsdPixelFormat | DdsdLinearSize | (mips ? DdsdMipMapCount : 0u));
    storeLe32(at + 12, s.height);
    storeLe32(at + 16, s.width);
    storeLe32(at + 20, dxtImageSize(top));  // dwPitchOrLinearSize: the top level's bytes
    storeLe32(at + 28, mips ? s.mipLevels : 0);
    storeLe32(at + 76, 32);  // ddspf.dwSize
    storeLe32(at + 80, DdpfFourCc);
    memcpy(at + 84, s.kind == Kind::Dxt1 ? "DXT1" : "DXT5", 4);
    storeLe32(at + 108, DdsCapsTexture | (mips ? DdsCapsComplex | DdsCapsMipMap : 0u));
}

uint32_t align16(uint32_t offset) {
    return (offset + 15) & ~15u;
}

struct Region {
    uint32_t offset;
    uint32_t length;
};

struct Layout {
    std::vector<MultiFileBinEntry> entries;
    std::vector<Region> filler;  // the bytes past each sub-file's headers
    uint32_t fillerBytes;
};

bool fail(const char* format, ...) __attribute__((format(printf, 1, 2)));
bool fail(const char* format, ...) {
    va_list args;
    va_start(args, format);
    fputs("make_menu_files: ", stderr);
    vfprintf(stderr, format, args);
    fputc('\n', stderr);
    va_end(args);
    return false;
}

// Sub-files at multiples of 16 from the end of the table, names one after
// another after the last sub-file, zero bytes to the payload's end.
bool layOut(const MenuFileShape& shape, Layout* layout) {
    uint32_t at = 0;
    const uint32_t count = static_cast<uint32_t>(shape.subFiles.size());
    multiFileBinTableEnd(count, &at);
    layout->fillerBytes = 0;
    for (const SubFileShape& s : shape.subFiles) {
        at = align16(at);
        uint32_t headers = sizeof ObjectMagic;
        if (s.kind != Kind::Object) {
            headers = EmbeddedTextureHeaderSize + DdsHeaderSize;
            if (s.length != headers + dxtImageSize(s))
                return fail("%u: %s is %u bytes, its DDS image needs %u", shape.id, s.name, s.length,
                            headers + dxtImageSize(s));
        }
        layout->entries.push_back({at, s.length, 0});
        layout->filler.push_back({at + headers, s.length - headers});
        layout->fillerBytes += s.length - headers;
        at += s.length;
    }
    for (size_t i = 0; i < shape.subFiles.size(); ++i) {
        layout->entries[i].nameOffset = at;
        at += static_cast<uint32_t>(strlen(shape.subFiles[i].name)) + 1;
    }
    if (at > shape.payloadLength)
        return fail("%u: the sub-files and names need %u bytes, the payload is %u", shape.id, at, shape.payloadLength);
    return true;
}

// The payload, with the first `randomBytes` filler bytes pseudo-random.
bool buildPayload(const MenuFileShape& shape, const Layout& layout, uint32_t randomBytes, uint32_t seed,
                  std::vector<uint8_t>* payload) {
    payload->assign(shape.payloadLength, 0);
    uint8_t* bin = payload->data();
    const uint32_t size = shape.payloadLength;
    if (!writeMultiFileBinHeader(bin, size, static_cast<uint32_t>(shape.subFiles.size())))
        return fail("%u: no room for the table", shape.id);
    for (size_t i = 0; i < shape.subFiles.size(); ++i) {
        const SubFileShape& s = shape.subFiles[i];
        const MultiFileBinEntry& entry = layout.entries[i];
        if (!writeMultiFileBinEntry(bin, size, static_cast<uint32_t>(i), entry) ||
            !writeMultiFileBinName(bin, size, entry.nameOffset, size - entry.nameOffset, s.name))
            return fail("%u: %s does not fit", shape.id, s.name);
        uint8_t* at = bin + entry.dataOffset;
        if (s.kind == Kind::Object) {
            memcpy(at, ObjectMagic, sizeof ObjectMagic);
        } else {
            memcpy(at, TextureMagic, sizeof TextureMagic);
            memcpy(at + 4, EmbeddedTextureKind, sizeof EmbeddedTextureKind);
            storeLe32(at + 8, s.length - EmbeddedTextureHeaderSize);
            storeLe16(at + 12, 0);
            storeLe16(at + 14, EmbeddedTextureHeaderSize);
            writeDdsHeader(at + EmbeddedTextureHeaderSize, s);
        }
    }
    uint32_t state = seed * 0x9E3779B9u + 0x6D2B79F5u;  // xorshift32, never zero for these seeds
    uint32_t left = randomBytes;
    for (const Region& region : layout.filler) {
        for (uint32_t i = 0; i < region.length && left > 0; ++i, --left) {
            state ^= state << 13;
            state ^= state >> 17;
            state ^= state << 5;
            bin[region.offset + i] = static_cast<uint8_t>(state >> 24);
        }
    }
    return true;
}

// The stream length of the payload at the default level, as the ball list is
// packed; 0 when packing fails.
uint32_t streamLength(const std::vector<uint8_t>& payload) {
    uint8_t* packed = nullptr;
    uint32_t packedLength = 0;
    if (packPayload(payload.data(), static_cast<uint32_t>(payload.size()), PackDefault, &packed, &packedLength) != 0)
        return 0;
    platformHeapFree(packed);
    return packedLength - PackedFileHeaderSize;
}

bool writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    // Written under a temporary name first, so that a failed run leaves no
    // file the build would take as made.
    const std::string temporary = path + ".tmp";
    FILE* file = fopen(temporary.c_str(), "wb");
    if (!file)
        return fail("cannot create %s", temporary.c_str());
    const bool written = fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    if (fclose(file) != 0 || !written)
        return fail("cannot write %s", temporary.c_str());
    if (rename(temporary.c_str(), path.c_str()) != 0)
        return fail("cannot rename %s to %s", temporary.c_str(), path.c_str());
    return true;
}

// Finds an amount of pseudo-random filler for which the stream is exactly as
// long as the game's. The stream grows by about one byte per random byte, so a
// bisection finds the neighbourhood and a scan around it the exact amount;
// other seeds are tried when the length jumps over the target.
bool generate(const MenuFileShape& shape, const std::string& dir) {
    Layout layout;
    std::vector<uint8_t> payload;
    if (!layOut(shape, &layout) || !buildPayload(shape, layout, 0, 1, &payload))
        return false;
    auto lengthFor = [&](uint32_t randomBytes, uint32_t seed) {
        buildPayload(shape, layout, randomBytes, seed, &payload);
        return streamLength(payload);
    };
    auto distance = [&](uint32_t length) {
        return length > shape.streamLength ? length - shape.streamLength : shape.streamLength - length;
    };
    uint32_t best = 0;
    uint32_t bestSeed = 1;
    uint32_t bestLength = lengthFor(0, 1);
    for (uint32_t seed = 1; seed <= 8 && bestLength != shape.streamLength; ++seed) {
        uint32_t low = 0;
        uint32_t high = layout.fillerBytes;
        if (lengthFor(high, seed) < shape.streamLength || lengthFor(low, seed) > shape.streamLength)
            return fail("%u: no filler gives a stream of %u bytes", shape.id, shape.streamLength);
        while (low < high) {
            const uint32_t middle = low + (high - low) / 2;
            if (lengthFor(middle, seed) < shape.streamLength)
                low = middle + 1;
            else
                high = middle;
        }
        // low, low + 1, low - 1, low + 2, ...
        for (int64_t step = 0; step <= 128 && bestLength != shape.streamLength; ++step) {
            const int64_t candidate = low + (step % 2 ? (step + 1) / 2 : -(step / 2));
            if (candidate < 0 || candidate > layout.fillerBytes)
                continue;
            const uint32_t length = lengthFor(static_cast<uint32_t>(candidate), seed);
            if (distance(length) < distance(bestLength)) {
                best = static_cast<uint32_t>(candidate);
                bestSeed = seed;
                bestLength = length;
            }
        }
    }
    if (!buildPayload(shape, layout, best, bestSeed, &payload))
        return false;
    uint8_t* packed = nullptr;
    uint32_t packedLength = 0;
    if (packPayload(payload.data(), shape.payloadLength, PackDefault, &packed, &packedLength) != 0)
        return fail("%u: packing failed", shape.id);
    std::vector<uint8_t> file(packed, packed + packedLength);
    platformHeapFree(packed);
    writePackedFileHeader(file.data(), packedLength, packedLength - PackedFileHeaderSize, shape.sizeField);
    file.resize(file.size() + shape.trailingZeros, 0);
    if (bestLength != shape.streamLength)
        fprintf(stderr, "make_menu_files: warning: %u: stream of %u bytes, the game's is %u\n", shape.id,
                packedLength - PackedFileHeaderSize, shape.streamLength);
    return writeFile(dir + "/" + std::to_string(shape.id) + ".bin", file);
}

bool readFile(const char* path, std::vector<uint8_t>* bytes) {
    FILE* file = fopen(path, "rb");
    if (!file)
        return fail("cannot open %s", path);
    bytes->clear();
    uint8_t chunk[65536];
    size_t got = 0;
    while ((got = fread(chunk, 1, sizeof chunk, file)) > 0)
        bytes->insert(bytes->end(), chunk, chunk + got);
    const bool ok = !ferror(file);
    fclose(file);
    if (!ok)
        return fail("cannot read %s", path);
    if (bytes->empty() || bytes->size() > UINT32_MAX)
        return fail("%s: %zu bytes is not a menu file", path, bytes->size());
    return true;
}

// Writes the table of compiled-in RCBALL resources, one array per file.
bool embed(const char* outPath, int count, char** items) {
    std::string text =
        "// Generated by make_menu_files: the module's RCBALL resources.\n"
        "#include \"platform/embedded_resources.h\"\n\n"
        "namespace {\n";
    std::string table;
    char line[160];
    for (int i = 0; i < count; ++i) {
        char* end = nullptr;
        const unsigned long id = strtoul(items[i], &end, 10);
        if (end == items[i] || *end != '=' || id == 0 || id > 0xFFFF)
            return fail("expected ID=FILE, got %s", items[i]);
        std::vector<uint8_t> bytes;
        if (!readFile(end + 1, &bytes))
            return false;
        snprintf(line, sizeof line, "const uint8_t Resource%lu[%zu] = {", id, bytes.size());
        text += line;
        for (size_t at = 0; at < bytes.size(); ++at) {
            snprintf(line, sizeof line, "%s0x%02x,", at % 16 == 0 ? "\n    " : " ", bytes[at]);
            text += line;
        }
        text += "\n};\n";
        snprintf(line, sizeof line, "    {%lu, %u, Resource%lu, %zu},\n", id, static_cast<unsigned>(ResourceLanguage),
                 id, bytes.size());
        table += line;
    }
    if (count == 0)
        table = "    {0, 0, nullptr, 0},\n";
    snprintf(line, sizeof line, "const EmbeddedResource EmbeddedResources[%d] = {\n", count > 0 ? count : 1);
    text += "}  // namespace\n\n";
    text += line;
    text += table;
    snprintf(line, sizeof line, "};\nconst uint32_t EmbeddedResourceCount = %d;\n", count);
    text += line;
    return writeFile(outPath, std::vector<uint8_t>(text.begin(), text.end()));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && strcmp(argv[1], "generate") == 0) {
        for (const MenuFileShape& shape : MenuFiles) {
            if (!generate(shape, argv[2]))
                return 1;
        }
        return 0;
    }
    if (argc >= 3 && strcmp(argv[1], "embed") == 0)
        return embed(argv[2], argc - 3, argv + 3) ? 0 : 1;
    fputs(
        "usage: make_menu_files generate DIR\n"
        "       make_menu_files embed OUT.cpp ID=FILE...\n",
        stderr);
    return 2;
}
