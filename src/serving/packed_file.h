// The game's packed file formats, as the module writes them: the compressed
// container (PackedFile), the bundle of sub-files inside it (MultiFileBin) and
// the palette texture sub-file (PaletteTexture). All integers little-endian.
//
// Every writer here takes the caller's buffer and its size, checks the whole
// write against that size first, and writes nothing when it does not fit.
#pragma once

#include <stdint.h>

// ---- Checked 32-bit size arithmetic: the module is a 32-bit process. ----

inline bool addU32(uint32_t a, uint32_t b, uint32_t* sum) {
    if (a > UINT32_MAX - b)
        return false;
    *sum = a + b;
    return true;
}

inline bool mulU32(uint32_t a, uint32_t b, uint32_t* product) {
    if (b != 0 && a > UINT32_MAX / b)
        return false;
    *product = a * b;
    return true;
}

inline void storeLe16(uint8_t* at, uint16_t value) {
    at[0] = static_cast<uint8_t>(value);
    at[1] = static_cast<uint8_t>(value >> 8);
}

inline void storeLe32(uint8_t* at, uint32_t value) {
    at[0] = static_cast<uint8_t>(value);
    at[1] = static_cast<uint8_t>(value >> 8);
    at[2] = static_cast<uint8_t>(value >> 16);
    at[3] = static_cast<uint8_t>(value >> 24);
}

inline uint32_t loadLe32(const uint8_t* at) {
    return static_cast<uint32_t>(at[0]) | static_cast<uint32_t>(at[1]) << 8 | static_cast<uint32_t>(at[2]) << 16 |
           static_cast<uint32_t>(at[3]) << 24;
}

// True when [offset, offset + length) lies inside a buffer of `size` bytes.
inline bool rangeFits(uint32_t size, uint32_t offset, uint32_t length) {
    return offset <= size && length <= size - offset;
}

// ---- PackedFile: a 16-byte header, then a zlib stream (RFC 1950). ----
//  0  8  magic 00 01 01 57 45 53 59 53 (00 01 01 "WESYS")
//  8  4  compressedSize: length of the stream that starts at 16
// 12  4  uncompressedSize: length of the payload the stream inflates to
// A PackedFile the module writes is exactly 16 + compressedSize bytes.

enum : uint32_t { PackedFileHeaderSize = 16 };

extern const uint8_t PackedFileMagic[8];

// Writes the 16-byte header at the start of `block`.
bool writePackedFileHeader(uint8_t* block, uint32_t blockSize, uint32_t compressedSize, uint32_t uncompressedSize);

// The two packing levels the module uses: zlib's default level through
// compress(), and level 0 (stored blocks) through compress2().
enum PackLevel : int32_t {
    PackDefault = -1,  // Z_DEFAULT_COMPRESSION
    PackStored = 0,
};

// Length of the block packPayload reserves for `length` payload bytes: the
// header plus zlib's worst case for the stream (compressBound), so that the
// PackedFile fills the block but for a few bytes per 16 KiB of payload. False
// when it does not fit in 32 bits.
bool packedBlockSize(uint32_t length, uint32_t* blockSize);

// Packs `length` payload bytes into `block`: the stream from byte 16 on, into
// the blockSize - 16 bytes that follow the header, then the header. Returns 0
// (zlib's Z_OK) with *packedLength = 16 + compressedSize. Otherwise returns the
// failing result code (zlib's, or Z_BUF_ERROR for a block shorter than the
// header), logs "BIN re-compression failed. retval=%d" with it, and leaves
// *packedLength unchanged; the block's bytes are then undefined.
int32_t packPayloadInto(const uint8_t* payload, uint32_t length, PackLevel level, uint8_t* block, uint32_t blockSize,
                        uint32_t* packedLength);

// Packs `length` payload bytes into a new zero-filled block of packedBlockSize
// bytes from the process heap. Returns 0 with *packed (release it with
// platformHeapFree) and *packedLength = 16 + compressedSize, the length of the
// PackedFile at the start of the block. Otherwise returns the result code
// (Z_MEM_ERROR when the block's size overflows or it cannot be reserved),
// having logged "BIN re-compression failed. retval=%d", and *packed is null.
int32_t packPayload(const uint8_t* payload, uint32_t length, PackLevel level, uint8_t** packed, uint32_t* packedLength);

// ---- MultiFileBin: the payload of every PackedFile the module serves. ----
//  0  4  fileCount
//  4  4  tableOffset: always 8
//  8  12 x fileCount  entries: dataOffset, dataSize, nameOffset (offsets from
//                     the start of the bin; nameOffset F0 FF FF FF: no name)
// The module's bins put the sub-files back to back from the end of the table,
// then (when the sub-files are named) one 32-byte name slot per sub-file; a bin
// without names ends with its last sub-file.

enum : uint32_t {
    MultiFileBinTableOffset = 8,
    MultiFileBinEntrySize = 12,
    MultiFileBinNameSlotSize = 32,
    MultiFileBinNoName = 0xFFFFFFF0u,  // F0 FF FF FF, -16 as a signed value
};

struct MultiFileBinEntry {
    uint32_t dataOffset;
    uint32_t dataSize;
    uint32_t nameOffset;
};

// 8 + 12 x fileCount: where the first sub-file starts.
bool multiFileBinTableEnd(uint32_t fileCount, uint32_t* end);
// Length of a bin of `fileCount` sub-files holding `subFileBytes` in all, laid
// out back to back, with one name slot per sub-file when `named`.
bool multiFileBinSize(uint32_t fileCount, uint32_t subFileBytes, bool named, uint32_t* size);

// Writes fileCount and tableOffset; the whole table must fit in the bin.
bool writeMultiFileBinHeader(uint8_t* bin, uint32_t binSize, uint32_t fileCount);
// Writes entry `index` of a bin whose header is written. The entry must be in
// the table, its sub-file inside the bin after the table, and its name (unless
// MultiFileBinNoName) start inside the bin.
bool writeMultiFileBinEntry(uint8_t* bin, uint32_t binSize, uint32_t index, const MultiFileBinEntry& entry);
// Copies `name` and its NUL to `offset`; they must fit in `room` bytes and in
// the bin. Name slots pass MultiFileBinNameSlotSize.
bool writeMultiFileBinName(uint8_t* bin, uint32_t binSize, uint32_t offset, uint32_t room, const char* name);

// ---- PaletteTexture: the preview pictures' sub-files. ----
//  0  4     magic "WE00" (57 45 30 30)
//  4  4     kind bytes 00 00 03 08: a palette texture
//  8  2     width     10  2  height
// 12  2     paletteOffset: 16
// 14  2     pixelOffset: 1040
// 16  1024  palette: 256 entries of red, green, blue, alpha (255 opaque)
// 1040      width x height pixels, one palette index each, rows top down

enum : uint32_t {
    PaletteTextureHeaderSize = 16,
    PaletteTexturePaletteOffset = 16,
    PaletteTexturePaletteSize = 1024,
    PaletteTexturePixelOffset = 1040,
    PaletteTextureMaxSide = 65535,  // width and height are 16-bit fields
};

extern const uint8_t TextureMagic[4];                // "WE00", common to every texture kind
extern const uint8_t PaletteTextureKind[4];          // 00 00 03 08
extern const uint8_t PaletteTextureCreatedEntry[4];  // palette entry 0 when created: 40, 40, 40, opaque

// 1040 + width x height; false for a side above 65535.
bool paletteTextureSize(uint32_t width, uint32_t height, uint32_t* size);
// Writes a texture as created at `offset`: the header, palette entry 0 as
// 28 28 28 FF, every other palette byte and every pixel 0. Unconverted, it
// shows every pixel in opaque dark grey.
bool writePaletteTexture(uint8_t* buffer, uint32_t bufferSize, uint32_t offset, uint32_t width, uint32_t height);
// The same for a texture whose bytes are all zero already (a zero-filled
// payload): writes only the header and palette entry 0.
bool writePaletteTextureHeader(uint8_t* buffer, uint32_t bufferSize, uint32_t offset, uint32_t width, uint32_t height);
