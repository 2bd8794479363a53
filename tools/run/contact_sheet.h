// The preview textures of a served preview file as one labelled picture, for
// people to look at.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

struct SheetTile {
    std::string label;
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint8_t> rgba;  // width x height pixels, red, green, blue, alpha
};

// Reads the textures of a preview-file payload (a bundle of palette
// textures) into tiles labelled with their names; empty when the payload is
// not one.
std::vector<SheetTile> previewTiles(const std::vector<uint8_t>& payload);

// Lays the tiles out in rows under their labels and writes an RGBA PNG.
// False when the file cannot be written.
bool writeContactSheet(const std::vector<SheetTile>& tiles, const std::string& path);
