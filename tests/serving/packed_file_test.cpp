// The packed file formats: PackedFile packing over zlib, the MultiFileBin and
// PaletteTexture writers, and the three embedded menu files.
#include "serving/packed_file.h"

#include <gtest/gtest.h>
#include <string.h>
#include <zlib.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "tremix/tremix_driver.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes noise(uint32_t length, uint32_t seed) {
    Bytes bytes(length);
    uint32_t state = seed * 2654435761u + 1;
    for (uint8_t& b : bytes) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        b = static_cast<uint8_t>(state >> 24);
    }
    return bytes;
}

uint16_t le16(const uint8_t* at) {
    return static_cast<uint16_t>(at[0] | at[1] << 8);
}

std::string hex(const uint8_t* at, size_t length) {
    std::string text;
    char byte[4];
    for (size_t i = 0; i < length; ++i) {
        snprintf(byte, sizeof byte, i ? " %02X" : "%02X", at[i]);
        text += byte;
    }
    return text;
}

// A PackedFile made by packPayload, owned by the test.
struct Packed {
    int32_t result = -100;
    Bytes file;
};

Packed pack(const Bytes& payload, PackLevel level) {
    Packed packed;
    uint8_t* block = nullptr;
    uint32_t length = 0;
    packed.result = packPayload(payload.data(), static_cast<uint32_t>(payload.size()), level, &block, &length);
    if (packed.result == Z_OK) {
        packed.file.assign(block, block + length);
        platformHeapFree(block);
    } else {
        EXPECT_EQ(block, nullptr);
    }
    return packed;
}

Bytes inflateStream(const Bytes& file, size_t room) {
    Bytes out(room + 1);
    uLongf got = out.size();
    const int result =
        uncompress(out.data(), &got, file.data() + PackedFileHeaderSize, file.size() - PackedFileHeaderSize);
    EXPECT_EQ(result, Z_OK);
    out.resize(result == Z_OK ? got : 0);
    return out;
}

// The payload of the ball list of one ball in the folder "Ball 001".
Bytes ballListOfOneBall() {
    Bytes payload(92, 0);
    EXPECT_TRUE(writeMultiFileBinHeader(payload.data(), 92, 1));
    EXPECT_TRUE(writeMultiFileBinEntry(payload.data(), 92, 0, {20, 72, MultiFileBinNoName}));
    memcpy(payload.data() + 20, "Ball 001", 9);
    storeLe16(payload.data() + 20 + 66, 4);
    storeLe16(payload.data() + 20 + 68, 1023);
    return payload;
}

TEST(PackPayloadTest, DefaultLevelIsZlibsCompressBehindTheHeader) {
    const Bytes payload = ballListOfOneBall();
    EXPECT_EQ(hex(payload.data(), 20), "01 00 00 00 08 00 00 00 14 00 00 00 48 00 00 00 F0 FF FF FF");
    const Packed packed = pack(payload, PackDefault);
    ASSERT_EQ(packed.result, Z_OK);
    const Bytes& file = packed.file;
    ASSERT_GT(file.size(), 16u);
    EXPECT_EQ(hex(file.data(), 8), "00 01 01 57 45 53 59 53");
    EXPECT_EQ(loadLe32(&file[8]), file.size() - 16);
    EXPECT_EQ(hex(&file[12], 4), "5C 00 00 00");

    // The stream is exactly what compress() makes of the payload.
    Bytes reference(compressBound(payload.size()));
    uLongf referenceLength = reference.size();
    ASSERT_EQ(compress(reference.data(), &referenceLength, payload.data(), payload.size()), Z_OK);
    reference.resize(referenceLength);
    EXPECT_EQ(Bytes(file.begin() + 16, file.end()), reference);
    EXPECT_EQ(inflateStream(file, payload.size()), payload);
}

// Level 0: a zlib header, the payload unchanged in stored blocks (each a
// byte-aligned block header, LEN, NLEN, then LEN bytes) and the Adler-32.
TEST(PackPayloadTest, StoredLevelHoldsThePayloadInStoredBlocks) {
    for (uint32_t length : {92u, 2192u, 150000u}) {
        SCOPED_TRACE(length);
        const Bytes payload = noise(length, length);
        const Packed packed = pack(payload, PackStored);
        ASSERT_EQ(packed.result, Z_OK);
        const Bytes& file = packed.file;
        ASSERT_EQ(loadLe32(&file[8]), file.size() - 16);
        EXPECT_EQ(loadLe32(&file[12]), length);
        ASSERT_GE(file.size(), 16u + 6);
        EXPECT_EQ(file[16], 0x78);
        EXPECT_EQ(file[17], 0x01);

        Bytes stored;
        size_t at = 18;
        uint32_t blocks = 0;
        bool last = false;
        while (!last && at + 5 <= file.size()) {
            ASSERT_EQ(file[at] & ~1u, 0u) << "not a stored block at " << at;
            last = file[at] & 1;
            const uint16_t blockLength = le16(&file[at + 1]);
            ASSERT_EQ(blockLength ^ le16(&file[at + 3]), 0xFFFF);
            ASSERT_LE(at + 5 + blockLength, file.size());
            stored.insert(stored.end(), file.begin() + at + 5, file.begin() + at + 5 + blockLength);
            at += 5 + blockLength;
            ++blocks;
        }
        EXPECT_TRUE(last);
        EXPECT_EQ(stored, payload);
        ASSERT_EQ(at + 4, file.size());
        const uint32_t adler = adler32(adler32(0, nullptr, 0), payload.data(), length);
        EXPECT_EQ(static_cast<uint32_t>(file[at] << 24 | file[at + 1] << 16 | file[at + 2] << 8 | file[at + 3]), adler);
        EXPECT_EQ(file.size(), 16 + 2 + 4 + length + 5 * blocks);
        EXPECT_LE(blocks, length / 65535 + 2);
    }
}

// The block is the header and zlib's bound for the payload, from an empty
// payload to the largest whose block fits in 32 bits.
TEST(PackPayloadTest, BlockSizes) {
    struct Case {
        uint32_t payload;
        bool fits;
        uint32_t block;
    };
    const Case cases[] = {
        {0, true, 16 + 13},
        {1, true, 16 + 14},
        {8, true, 16 + 21},
        {29, true, 58},
        {30, true, 59},
        {92, true, 121},
        // The preview file of 254 balls at 512 x 128: the payload, 5 bytes a 16 KiB block, 13 more.
        {16988108, true, 16 + 16988108 + 4147 + 1036 + 13},
        {0x7FFFFFFFu, true, 0x800A0059u},
        {0xFFEC00F3u, true, 0xFFFFFFFFu},
        {0xFFEC00F4u, false, 0},
        {0xFFFFFFFFu, false, 0},  // on a 32-bit target zlib's bound itself wraps here
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.payload);
        uint32_t block = 0;
        ASSERT_EQ(packedBlockSize(c.payload, &block), c.fits);
        if (c.fits) {
            EXPECT_EQ(block, c.block);
            EXPECT_GE(block, 16 + compressBound(c.payload));
        }
    }
}

TEST(PackPayloadTest, TinyPayloadsPackAtBothLevels) {
    for (uint32_t length : {0u, 1u, 8u, 15u, 29u}) {
        for (PackLevel level : {PackDefault, PackStored}) {
            SCOPED_TRACE(testing::Message() << length << " bytes, level " << level);
            const Bytes payload = noise(length, 7);
            const Packed packed = pack(payload, level);
            ASSERT_EQ(packed.result, Z_OK);
            EXPECT_EQ(loadLe32(&packed.file[8]), packed.file.size() - 16);
            EXPECT_EQ(loadLe32(&packed.file[12]), length);
            EXPECT_EQ(inflateStream(packed.file, length), payload);
        }
    }
}

TEST(PackPayloadTest, FailuresAreLoggedWithTheResultCode) {
    const Bytes payload = noise(92, 3);
    uint8_t block[24];
    uint32_t packedLength = 12345;

    tremixClearLog();
    // Eight bytes of room after the header: zlib runs out of room.
    EXPECT_EQ(packPayloadInto(payload.data(), 92, PackDefault, block, sizeof block, &packedLength), Z_BUF_ERROR);
    EXPECT_EQ(packPayloadInto(payload.data(), 92, PackStored, block, sizeof block, &packedLength), Z_BUF_ERROR);
    // No room for the header.
    EXPECT_EQ(packPayloadInto(payload.data(), 92, PackDefault, block, 15, &packedLength), Z_BUF_ERROR);
    EXPECT_EQ(packedLength, 12345u);
    // The block does not fit in 32 bits: refused before anything is reserved
    // or read.
    uint8_t* packed = block;
    EXPECT_EQ(packPayload(payload.data(), 0xFFEC00F4u, PackDefault, &packed, &packedLength), Z_MEM_ERROR);
    EXPECT_EQ(packed, nullptr);
    EXPECT_EQ(packedLength, 12345u);

    const std::vector<std::string> expected = {
        "BIN re-compression failed. retval=-5",
        "BIN re-compression failed. retval=-5",
        "BIN re-compression failed. retval=-5",
        "BIN re-compression failed. retval=-4",
    };
    EXPECT_EQ(tremixLog(), expected);
}

TEST(MultiFileBinTest, LayoutSizes) {
    struct Case {
        uint32_t files;
        uint32_t subFileBytes;
        bool named;
        bool fits;
        uint32_t size;
    };
    const Case cases[] = {
        {1, 72, false, true, 92},                    // the ball list of one ball: no name area
        {2, 2 * 1048, true, true, 2192},             // two 4 x 2 textures and their name slots
        {11, 11 * 66576, true, true, 732828},        // ten balls and the random entry at 512 x 128
        {0x15555554u, 0, false, true, 0xFFFFFFF8u},  // the largest table
        {0x15555555u, 0, false, false, 0},
        {1, 0xFFFFFFECu, false, false, 0},
        {0x7FFFFFF, 0, true, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.files << " files, " << c.subFileBytes << " bytes");
        uint32_t size = 0;
        ASSERT_EQ(multiFileBinSize(c.files, c.subFileBytes, c.named, &size), c.fits);
        if (c.fits) {
            EXPECT_EQ(size, c.size);
        }
    }
}

TEST(MultiFileBinTest, NamedBinAndEntries) {
    // Two named sub-files of 4 bytes: table to 32, data 32 to 40, slots at 40 and 72.
    Bytes bin(104, 0xAA);
    ASSERT_TRUE(writeMultiFileBinHeader(bin.data(), 104, 2));
    ASSERT_TRUE(writeMultiFileBinEntry(bin.data(), 104, 0, {32, 4, 40}));
    ASSERT_TRUE(writeMultiFileBinEntry(bin.data(), 104, 1, {36, 4, MultiFileBinNoName}));
    ASSERT_TRUE(writeMultiFileBinName(bin.data(), 104, 40, MultiFileBinNameSlotSize, "ball_000.tex"));
    ASSERT_TRUE(writeMultiFileBinName(bin.data(), 104, 72, MultiFileBinNameSlotSize, "ball_random.tex"));
    EXPECT_EQ(hex(bin.data(), 32),
              "02 00 00 00 08 00 00 00 20 00 00 00 04 00 00 00 28 00 00 00 "
              "24 00 00 00 04 00 00 00 F0 FF FF FF");
    EXPECT_STREQ(reinterpret_cast<const char*>(&bin[40]), "ball_000.tex");
    EXPECT_EQ(bin[53], 0xAA);  // slot bytes after the NUL are left alone
    EXPECT_STREQ(reinterpret_cast<const char*>(&bin[72]), "ball_random.tex");
}

TEST(MultiFileBinTest, WritersRefuseWhatDoesNotFit) {
    // A bin of 64 bytes whose header says two sub-files (the table ends at 32).
    const std::string longest(31, 'n');
    const std::string tooLong(32, 'n');
    struct Case {
        const char* what;
        std::function<bool(uint8_t*)> write;
        bool written;
    };
    const Case cases[] = {
        {"table to the end", [](uint8_t* b) { return writeMultiFileBinHeader(b, 64, 4); }, true},
        {"table past the end", [](uint8_t* b) { return writeMultiFileBinHeader(b, 64, 5); }, false},
        {"entry past the count",
         [](uint8_t* b) {
             return writeMultiFileBinEntry(b, 64, 2, {32, 4, 40});
         },
         false},
        {"data inside the table",
         [](uint8_t* b) {
             return writeMultiFileBinEntry(b, 64, 0, {28, 4, 40});
         },
         false},
        {"data to the end",
         [](uint8_t* b) {
             return writeMultiFileBinEntry(b, 64, 1, {32, 32, 40});
         },
         true},
        {"data past the end",
         [](uint8_t* b) {
             return writeMultiFileBinEntry(b, 64, 0, {32, 33, 40});
         },
         false},
        {"data wrapping around",
         [](uint8_t* b) {
             return writeMultiFileBinEntry(b, 64, 0, {32, 0xFFFFFFF0u, 40});
         },
         false},
        {"name past the end",
         [](uint8_t* b) {
             return writeMultiFileBinEntry(b, 64, 0, {32, 4, 64});
         },
         false},
        {"longest name in a slot", [&](uint8_t* b) { return writeMultiFileBinName(b, 64, 32, 32, longest.c_str()); },
         true},
        {"name too long for its slot",
         [&](uint8_t* b) { return writeMultiFileBinName(b, 64, 32, 32, tooLong.c_str()); }, false},
        {"slot past the end", [](uint8_t* b) { return writeMultiFileBinName(b, 64, 33, 32, "n"); }, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes bin(64 + 8, 0xAA);
        storeLe32(bin.data(), 2);
        const Bytes before = bin;
        EXPECT_EQ(c.write(bin.data()), c.written);
        if (!c.written) {
            EXPECT_EQ(bin, before);
        }
        EXPECT_EQ(Bytes(bin.begin() + 64, bin.end()), Bytes(8, 0xAA));  // nothing past the bin's 64 bytes
    }
}

TEST(PaletteTextureTest, FourByTwoAsCreated) {
    uint32_t size = 0;
    ASSERT_TRUE(paletteTextureSize(4, 2, &size));
    ASSERT_EQ(size, 1048u);
    // Written at offset 8 of a larger buffer full of other bytes.
    Bytes buffer(8 + 1048 + 8, 0xAA);
    ASSERT_TRUE(writePaletteTexture(buffer.data(), 8 + 1048, 8, 4, 2));
    const uint8_t* texture = &buffer[8];
    EXPECT_EQ(hex(texture, 16), "57 45 30 30 00 00 03 08 04 00 02 00 10 00 10 04");
    EXPECT_EQ(hex(texture + 16, 4), "28 28 28 FF");
    EXPECT_EQ(Bytes(texture + 20, texture + 1048), Bytes(1028, 0));
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 8), Bytes(8, 0xAA));
    EXPECT_EQ(Bytes(buffer.end() - 8, buffer.end()), Bytes(8, 0xAA));

    // One byte short: nothing written.
    Bytes shortBuffer(1047, 0xAA);
    EXPECT_FALSE(writePaletteTexture(shortBuffer.data(), 1047, 0, 4, 2));
    EXPECT_EQ(shortBuffer, Bytes(1047, 0xAA));
    EXPECT_FALSE(writePaletteTexture(buffer.data(), 8 + 1048, 9, 4, 2));
    EXPECT_FALSE(writePaletteTexture(buffer.data(), 8 + 1048, 0xFFFFFFF0u, 4, 2));
}

TEST(PaletteTextureTest, SidesAreSixteenBit) {
    uint32_t size = 0;
    ASSERT_TRUE(paletteTextureSize(65535, 65535, &size));
    EXPECT_EQ(size, 1040u + 65535u * 65535u);
    EXPECT_FALSE(paletteTextureSize(65536, 1, &size));
    EXPECT_FALSE(paletteTextureSize(1, 65536, &size));
}

// ---- The three embedded menu files, as the module finds them. ----

enum class Kind { Dxt1, Dxt5, Object };

struct SubFile {
    const char* name;
    Kind kind;
    uint32_t width;
    uint32_t height;
    uint32_t mipLevels;
    uint32_t length;
};

struct MenuFile {
    uint32_t id;
    uint32_t fileLength;
    uint32_t streamLength;
    uint32_t payloadLength;
    uint32_t sizeField;
    std::vector<SubFile> subFiles;
};

const SubFile BallBase = {"ball_base.tex", Kind::Dxt5, 4, 4, 3, 192};
const SubFile BallOn = {"ball_on.tex", Kind::Dxt5, 256, 64, 1, 16528};
const SubFile EnvSettingBall = {"env_setting_ball.obj", Kind::Object, 0, 0, 0, 2256};

const MenuFile MenuFiles[] = {
    {127,
     52271,
     52255,
     89633,
     89632,
     {{"edit_embset_model.tex", Kind::Dxt1, 256, 256, 1, 32912},
      {"edit_embset_model02.tex", Kind::Dxt1, 256, 256, 1, 32912},
      BallBase,
      BallOn,
      {"editLCDetailSettings.obj", Kind::Object, 0, 0, 0, 4544},
      EnvSettingBall}},
    {269,
     3456,
     3428,
     35136,
     35136,
     {{"ball_select.obj", Kind::Object, 0, 0, 0, 2152}, {"ballDmy.tex", Kind::Dxt1, 512, 128, 1, 32912}}},
    {833,
     14432,
     14416,
     24416,
     24416,
     {BallBase, BallOn, EnvSettingBall, {"simCupSetting.obj", Kind::Object, 0, 0, 0, 5296}}},
};

// Bytes of the DXT image described by a DDS header, all mip levels.
uint32_t ddsImageBytes(const uint8_t* dds) {
    const uint32_t blockBytes = memcmp(dds + 84, "DXT1", 4) == 0 ? 8 : 16;
    uint32_t width = loadLe32(dds + 16);
    uint32_t height = loadLe32(dds + 12);
    const uint32_t levels = loadLe32(dds + 8) & 0x20000 ? loadLe32(dds + 28) : 1;
    uint32_t total = 0;
    for (uint32_t level = 0; level < levels; ++level) {
        total += (width + 3) / 4 * ((height + 3) / 4) * blockBytes;
        width = width > 1 ? width / 2 : 1;
        height = height > 1 ? height / 2 : 1;
    }
    return total;
}

void checkSubFile(const SubFile& want, const uint8_t* at) {
    if (want.kind == Kind::Object) {
        EXPECT_EQ(memcmp(at, "DPOW", 4), 0);
        return;
    }
    EXPECT_EQ(hex(at, 8), "57 45 30 30 00 00 00 FF");
    EXPECT_EQ(loadLe32(at + 8), want.length - 16);  // the DDS image fills the rest
    EXPECT_EQ(le16(at + 12), 0);                    // no palette
    EXPECT_EQ(le16(at + 14), 16);
    const uint8_t* dds = at + 16;
    EXPECT_EQ(memcmp(dds, "DDS ", 4), 0);
    EXPECT_EQ(loadLe32(dds + 4), 124u);
    EXPECT_EQ(loadLe32(dds + 80) & 0x4, 0x4u);  // DDPF_FOURCC
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(dds + 84), 4), want.kind == Kind::Dxt1 ? "DXT1" : "DXT5");
    EXPECT_EQ(loadLe32(dds + 16), want.width);
    EXPECT_EQ(loadLe32(dds + 12), want.height);
    const bool mips = loadLe32(dds + 8) & 0x20000;
    EXPECT_EQ(mips ? loadLe32(dds + 28) : 1, want.mipLevels);
    EXPECT_EQ(16 + 128 + ddsImageBytes(dds), want.length);
}

TEST(EmbeddedMenuFilesTest, FollowTheGamesLayout) {
    const PlatformModule module = platformModuleFromAddress(reinterpret_cast<const void*>(&packPayload));
    ASSERT_NE(module, nullptr);
    for (const MenuFile& want : MenuFiles) {
        SCOPED_TRACE(want.id);
        const void* data = nullptr;
        uint32_t size = 0;
        platformLoadResource(module, u"RCBALL", want.id, 1033, &data, &size);
        EXPECT_EQ(data, nullptr) << "found in another language";
        platformLoadResource(module, u"RCBALL", want.id, 1041, &data, &size);
        ASSERT_NE(data, nullptr);
        ASSERT_EQ(size, want.fileLength);
        const Bytes file(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + size);

        // The container: the stream ends at 16 + compressedSize, zero bytes may follow.
        EXPECT_EQ(hex(file.data(), 8), "00 01 01 57 45 53 59 53");
        ASSERT_EQ(loadLe32(&file[8]), want.streamLength);
        EXPECT_EQ(loadLe32(&file[12]), want.sizeField);
        EXPECT_EQ(Bytes(file.begin() + 16 + want.streamLength, file.end()),
                  Bytes(want.fileLength - 16 - want.streamLength, 0));

        Bytes payload(want.payloadLength + 64);
        z_stream stream = {};
        ASSERT_EQ(inflateInit(&stream), Z_OK);
        stream.next_in = const_cast<uint8_t*>(&file[16]);
        stream.avail_in = size - 16;
        stream.next_out = payload.data();
        stream.avail_out = static_cast<uInt>(payload.size());
        EXPECT_EQ(inflate(&stream, Z_FINISH), Z_STREAM_END);
        EXPECT_EQ(stream.total_in, want.streamLength);
        ASSERT_EQ(stream.total_out, want.payloadLength);
        inflateEnd(&stream);
        payload.resize(want.payloadLength);

        // The bundle: sub-files in order at multiples of 16, zero bytes in
        // front of each, names after the last sub-file.
        const uint32_t count = static_cast<uint32_t>(want.subFiles.size());
        ASSERT_EQ(loadLe32(&payload[0]), count);
        ASSERT_EQ(loadLe32(&payload[4]), 8u);
        uint32_t end = 8 + 12 * count;
        for (uint32_t i = 0; i < count; ++i) {
            const SubFile& sub = want.subFiles[i];
            SCOPED_TRACE(sub.name);
            const uint32_t offset = loadLe32(&payload[8 + 12 * i]);
            EXPECT_EQ(loadLe32(&payload[12 + 12 * i]), sub.length);
            EXPECT_EQ(offset % 16, 0u);
            ASSERT_GE(offset, end);
            ASSERT_LE(offset + sub.length, want.payloadLength);
            EXPECT_EQ(Bytes(payload.begin() + end, payload.begin() + offset), Bytes(offset - end, 0));
            checkSubFile(sub, &payload[offset]);
            end = offset + sub.length;
        }
        for (uint32_t i = 0; i < count; ++i) {
            const uint32_t nameOffset = loadLe32(&payload[16 + 12 * i]);
            ASSERT_GE(nameOffset, end);
            ASSERT_LT(nameOffset, want.payloadLength);
            const size_t nameLength =
                strnlen(reinterpret_cast<const char*>(&payload[nameOffset]), want.payloadLength - nameOffset);
            ASSERT_LT(nameOffset + nameLength, want.payloadLength);
            EXPECT_EQ(std::string(reinterpret_cast<const char*>(&payload[nameOffset])), want.subFiles[i].name);
        }
    }
}

}  // namespace
