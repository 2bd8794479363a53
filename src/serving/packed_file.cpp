// The packed file formats: header, bundle and texture writers, and the packing
// of a payload into a PackedFile over zlib.
#include "serving/packed_file.h"

#include <string.h>
#include <zlib.h>

#include "module/log.h"
#include "platform/platform.h"

const uint8_t PackedFileMagic[8] = {0x00, 0x01, 0x01, 'W', 'E', 'S', 'Y', 'S'};
const uint8_t TextureMagic[4] = {'W', 'E', '0', '0'};
const uint8_t PaletteTextureKind[4] = {0x00, 0x00, 0x03, 0x08};
const uint8_t PaletteTextureCreatedEntry[4] = {0x28, 0x28, 0x28, 0xFF};

bool writePackedFileHeader(uint8_t* block, uint32_t blockSize, uint32_t compressedSize, uint32_t uncompressedSize) {
    if (blockSize < PackedFileHeaderSize)
        return false;
    memcpy(block, PackedFileMagic, sizeof PackedFileMagic);
    storeLe32(block + 8, compressedSize);
    storeLe32(block + 12, uncompressedSize);
    return true;
}

bool packedBlockSize(uint32_t length, uint32_t* blockSize) {
    // zlib's worst case for the stream: the payload, 5 bytes per 16 KiB
    // stored block and 13 more (zlib's header, an empty block, Adler-32). On a
    // 32-bit target the bound itself wraps for payloads near 4 GiB; a wrapped
    // bound comes out below the payload.
    const uLong bound = compressBound(length);
    if (bound < length || bound > UINT32_MAX - PackedFileHeaderSize)
        return false;
    *blockSize = PackedFileHeaderSize + static_cast<uint32_t>(bound);
    return true;
}

namespace {

int32_t packFailed(int32_t result) {
    logLine(u"BIN re-compression failed. retval=%d", result);
    return result;
}

}  // namespace

int32_t packPayloadInto(const uint8_t* payload, uint32_t length, PackLevel level, uint8_t* block, uint32_t blockSize,
                        uint32_t* packedLength) {
    if (blockSize < PackedFileHeaderSize)
        return packFailed(Z_BUF_ERROR);
    uLongf streamLength = blockSize - PackedFileHeaderSize;
    int result = Z_STREAM_ERROR;
    if (level == PackDefault)
        result = compress(block + PackedFileHeaderSize, &streamLength, payload, length);
    else if (level == PackStored)
        result = compress2(block + PackedFileHeaderSize, &streamLength, payload, length, 0);
    if (result != Z_OK)
        return packFailed(result);
    // zlib wrote at most the room it was given, so the length fits the block.
    const uint32_t compressedSize = static_cast<uint32_t>(streamLength);
    writePackedFileHeader(block, blockSize, compressedSize, length);
    *packedLength = PackedFileHeaderSize + compressedSize;
    return Z_OK;
}

int32_t packPayload(const uint8_t* payload, uint32_t length, PackLevel level, uint8_t** packed,
                    uint32_t* packedLength) {
    *packed = nullptr;
    uint32_t blockSize = 0;
    if (!packedBlockSize(length, &blockSize))
        return packFailed(Z_MEM_ERROR);
    uint8_t* block = static_cast<uint8_t*>(platformHeapAlloc(blockSize));
    if (!block)
        return packFailed(Z_MEM_ERROR);
    const int32_t result = packPayloadInto(payload, length, level, block, blockSize, packedLength);
    if (result != Z_OK) {
        platformHeapFree(block);
        return result;
    }
    *packed = block;
    return Z_OK;
}

bool multiFileBinTableEnd(uint32_t fileCount, uint32_t* end) {
    uint32_t table = 0;
    return mulU32(fileCount, MultiFileBinEntrySize, &table) && addU32(MultiFileBinTableOffset, table, end);
}

bool multiFileBinSize(uint32_t fileCount, uint32_t subFileBytes, bool named, uint32_t* size) {
    uint32_t total = 0;
    uint32_t names = 0;
    if (!multiFileBinTableEnd(fileCount, &total) || !addU32(total, subFileBytes, &total))
        return false;
    if (named && (!mulU32(fileCount, MultiFileBinNameSlotSize, &names) || !addU32(total, names, &total)))
        return false;
    *size = total;
    return true;
}

bool writeMultiFileBinHeader(uint8_t* bin, uint32_t binSize, uint32_t fileCount) {
    uint32_t tableEnd = 0;
    if (!multiFileBinTableEnd(fileCount, &tableEnd) || tableEnd > binSize)
        return false;
    storeLe32(bin, fileCount);
    storeLe32(bin + 4, MultiFileBinTableOffset);
    return true;
}

bool writeMultiFileBinEntry(uint8_t* bin, uint32_t binSize, uint32_t index, const MultiFileBinEntry& entry) {
    if (binSize < MultiFileBinTableOffset)
        return false;
    const uint32_t fileCount = loadLe32(bin);
    uint32_t tableEnd = 0;
    if (index >= fileCount || !multiFileBinTableEnd(fileCount, &tableEnd) || tableEnd > binSize)
        return false;
    if (entry.dataOffset < tableEnd || !rangeFits(binSize, entry.dataOffset, entry.dataSize))
        return false;
    if (entry.nameOffset != MultiFileBinNoName && entry.nameOffset >= binSize)
        return false;
    uint8_t* at = bin + MultiFileBinTableOffset + index * MultiFileBinEntrySize;
    storeLe32(at, entry.dataOffset);
    storeLe32(at + 4, entry.dataSize);
    storeLe32(at + 8, entry.nameOffset);
    return true;
}

bool writeMultiFileBinName(uint8_t* bin, uint32_t binSize, uint32_t offset, uint32_t room, const char* name) {
    if (!rangeFits(binSize, offset, room))
        return false;
    const size_t length = strnlen(name, room);
    if (length >= room)
        return false;
    memcpy(bin + offset, name, length + 1);
    return true;
}

bool paletteTextureSize(uint32_t width, uint32_t height, uint32_t* size) {
    if (width > PaletteTextureMaxSide || height > PaletteTextureMaxSide)
        return false;
    // At most 65535 x 65535 + 1040, which fits in 32 bits.
    *size = PaletteTexturePixelOffset + width * height;
    return true;
}

bool writePaletteTexture(uint8_t* buffer, uint32_t bufferSize, uint32_t offset, uint32_t width, uint32_t height) {
    uint32_t size = 0;
    if (!paletteTextureSize(width, height, &size) || !rangeFits(bufferSize, offset, size))
        return false;
    memset(buffer + offset, 0, size);
    return writePaletteTextureHeader(buffer, bufferSize, offset, width, height);
}

bool writePaletteTextureHeader(uint8_t* buffer, uint32_t bufferSize, uint32_t offset, uint32_t width, uint32_t height) {
    uint32_t size = 0;
    if (!paletteTextureSize(width, height, &size) || !rangeFits(bufferSize, offset, size))
        return false;
    uint8_t* texture = buffer + offset;
    memcpy(texture, TextureMagic, sizeof TextureMagic);
    memcpy(texture + 4, PaletteTextureKind, sizeof PaletteTextureKind);
    storeLe16(texture + 8, static_cast<uint16_t>(width));
    storeLe16(texture + 10, static_cast<uint16_t>(height));
    storeLe16(texture + 12, PaletteTexturePaletteOffset);
    storeLe16(texture + 14, PaletteTexturePixelOffset);
    memcpy(texture + PaletteTexturePaletteOffset, PaletteTextureCreatedEntry, sizeof PaletteTextureCreatedEntry);
    return true;
}
