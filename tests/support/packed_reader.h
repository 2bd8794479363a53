// Reading back what the module serves: the PackedFile container and the
// MultiFileBin inside it, inflated with zlib.
#pragma once

#include <stdint.h>
#include <string.h>
#include <zlib.h>

#include <string>
#include <vector>

inline uint32_t readLe32(const std::vector<uint8_t>& bytes, size_t at) {
    uint32_t value = 0;
    if (at + 4 <= bytes.size())
        memcpy(&value, bytes.data() + at, 4);
    return value;
}

// The payload of a PackedFile, or empty (with *error set) when the container
// is not well formed.
inline std::vector<uint8_t> unpack(const std::vector<uint8_t>& file, std::string* error) {
    static const uint8_t Magic[8] = {0x00, 0x01, 0x01, 'W', 'E', 'S', 'Y', 'S'};
    if (file.size() < 16 || memcmp(file.data(), Magic, 8) != 0) {
        *error = "no PackedFile header";
        return {};
    }
    const uint32_t compressed = readLe32(file, 8);
    const uint32_t size = readLe32(file, 12);
    if (16 + uint64_t(compressed) > file.size()) {
        *error = "stream longer than the file";
        return {};
    }
    std::vector<uint8_t> payload(size);
    uLongf got = size;
    if (uncompress(payload.data(), &got, file.data() + 16, compressed) != Z_OK || got != size) {
        *error = "stream does not inflate to uncompressedSize";
        return {};
    }
    return payload;
}
