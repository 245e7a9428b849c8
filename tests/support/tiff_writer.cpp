// Plain TIFF files through libtiff, for the tests.
#include "tiff_writer.h"

#include <tiffio.h>

#include <algorithm>
#include <stdexcept>

namespace lsmtest {

Bytes tiffPixels(uint32_t width, uint32_t height, uint16_t bitsPerSample, uint32_t seed) {
    Bytes pixels(uint64_t{width} * height * (bitsPerSample / 8u));
    for (size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = static_cast<uint8_t>(seed * 37u + i * 11u + (i >> 7));
    return pixels;
}

TiffImage tiffImage(uint32_t width, uint32_t height, uint16_t bitsPerSample, uint32_t seed) {
    TiffImage image;
    image.width = width;
    image.height = height;
    image.bitsPerSample = bitsPerSample;
    image.pixels = tiffPixels(width, height, bitsPerSample, seed);
    return image;
}

namespace {

void writeStrips(TIFF* tiff, const TiffImage& image, uint64_t rowBytes) {
    const uint32_t rows = image.rowsPerStrip ? image.rowsPerStrip : image.height;
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, rows);
    for (uint32_t row = 0, strip = 0; row < image.height; row += rows, ++strip) {
        const uint32_t stripRows = std::min(rows, image.height - row);
        const tmsize_t size = static_cast<tmsize_t>(stripRows * rowBytes);
        if (TIFFWriteEncodedStrip(tiff, strip, const_cast<uint8_t*>(&image.pixels[row * rowBytes]),
                                  size) < 0)
            throw std::runtime_error("cannot write a strip");
    }
}

void writeTiles(TIFF* tiff, const TiffImage& image, uint64_t rowBytes) {
    const uint32_t size = image.tileSize;
    const uint32_t bytesPerPixel = image.bitsPerSample / 8u;
    TIFFSetField(tiff, TIFFTAG_TILEWIDTH, size);
    TIFFSetField(tiff, TIFFTAG_TILELENGTH, size);
    Bytes tile(uint64_t{size} * size * bytesPerPixel);
    for (uint32_t y = 0; y < image.height; y += size)
        for (uint32_t x = 0; x < image.width; x += size) {
            std::fill(tile.begin(), tile.end(), 0);
            for (uint32_t ty = 0; ty < size && y + ty < image.height; ++ty)
                for (uint32_t tx = 0; tx < size && x + tx < image.width; ++tx)
                    for (uint32_t b = 0; b < bytesPerPixel; ++b)
                        tile[(ty * size + tx) * bytesPerPixel + b] =
                            image.pixels[(y + ty) * rowBytes + (x + tx) * bytesPerPixel + b];
            if (TIFFWriteTile(tiff, tile.data(), x, y, 0, 0) < 0)
                throw std::runtime_error("cannot write a tile");
        }
}

}  // namespace

void writeTiff(const std::string& path, const std::vector<TiffImage>& images, bool bigEndian) {
    TIFF* tiff = TIFFOpen(path.c_str(), bigEndian ? "wb" : "wl");
    if (!tiff) throw std::runtime_error("cannot create " + path);
    for (const TiffImage& image : images) {
        const uint64_t rowBytes = uint64_t{image.width} * (image.bitsPerSample / 8u);
        if (image.pixels.size() != rowBytes * image.height)
            throw std::invalid_argument("pixel count does not match the image size");
        TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, image.width);
        TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, image.height);
        if (image.writeBitsPerSample) TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, image.bitsPerSample);
        TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 1);
        TIFFSetField(tiff, TIFFTAG_COMPRESSION, image.compression);
        TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
        TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        if (image.tileSize)
            writeTiles(tiff, image, rowBytes);
        else
            writeStrips(tiff, image, rowBytes);
        if (!TIFFWriteDirectory(tiff)) throw std::runtime_error("cannot write a directory");
    }
    TIFFClose(tiff);
}

TiffContents readTiff(const std::string& path) {
    TIFF* tiff = TIFFOpen(path.c_str(), "r");
    if (!tiff) throw std::runtime_error("libtiff cannot open " + path);
    TiffContents contents;
    TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &contents.width);
    TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &contents.height);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &contents.bitsPerSample);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_COMPRESSION, &contents.compression);
    contents.stripCount = TIFFNumberOfStrips(tiff);
    uint64_t* counts = nullptr;
    if (TIFFGetField(tiff, TIFFTAG_STRIPBYTECOUNTS, &counts) && counts)
        contents.stripByteCounts.assign(counts, counts + contents.stripCount);
    Bytes strip(static_cast<size_t>(TIFFStripSize(tiff)));
    for (uint32_t s = 0; s < contents.stripCount; ++s) {
        const tmsize_t got = TIFFReadEncodedStrip(tiff, s, strip.data(), -1);
        if (got < 0) throw std::runtime_error("cannot read a strip of " + path);
        contents.pixels.insert(contents.pixels.end(), strip.begin(), strip.begin() + got);
    }
    TIFFClose(tiff);
    return contents;
}

}  // namespace lsmtest
