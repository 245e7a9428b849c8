// Plain TIFF files for the tests, written and read back through libtiff.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "lsm_writer.h"

namespace lsmtest {

struct TiffImage {
    uint32_t width = 8;
    uint32_t height = 4;
    uint16_t bitsPerSample = 8;
    bool writeBitsPerSample = true;
    uint32_t rowsPerStrip = 0;  // 0: the whole image in one strip
    uint16_t compression = 1;   // 1 none, 5 LZW, 8 deflate, 32773 PackBits
    uint32_t tileSize = 0;      // above 0: square tiles of this size instead of strips
    Bytes pixels;               // width * height * bitsPerSample / 8 bytes
};

// Deterministic pixel bytes for an image of this size, varied by seed.
Bytes tiffPixels(uint32_t width, uint32_t height, uint16_t bitsPerSample, uint32_t seed);

// An image whose pixels are tiffPixels(..., seed).
TiffImage tiffImage(uint32_t width, uint32_t height, uint16_t bitsPerSample, uint32_t seed);

// Writes the images as the directories of one file; big-endian ("MM") when asked.
void writeTiff(const std::string& path, const std::vector<TiffImage>& images,
               bool bigEndian = false);

struct TiffContents {
    uint32_t width = 0;
    uint32_t height = 0;
    uint16_t bitsPerSample = 0;
    uint16_t compression = 0;
    uint32_t stripCount = 0;
    std::vector<uint64_t> stripByteCounts;
    Bytes pixels;  // all strips decoded, in strip order
};

// Reads the first image of a file; throws when libtiff cannot open it.
TiffContents readTiff(const std::string& path);

}  // namespace lsmtest
