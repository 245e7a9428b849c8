// Broken TIFF files, each read by tiff-to-ids and by image-info (through a name with ".tif").
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <initializer_list>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "corpus.h"
#include "tiff_writer.h"

using corpus::failure;
using corpus::Outcome;
using corpus::success;
using lsmtest::Bytes;

namespace {

// tiff-to-ids's last lines.
const std::string skipped = "Input files skipped: 1";
const std::string tiled = "Tiled image, no strips to append: in.tif";
const std::string stripTooLarge = "Strip larger than the file can hold in in.tif";
const std::string stripUnreadable = "Could not read strip 0 of in.tif";

constexpr uint16_t imageWidthTag = 256, imageLengthTag = 257, compressionTag = 259;
constexpr uint16_t stripOffsetsTag = 273, stripByteCountsTag = 279;
constexpr uint16_t typeShort = 3, typeLong = 4;
constexpr uint32_t lzw = 5;
constexpr uint32_t max31 = 0x7FFFFFFFu, max32 = 0xFFFFFFFFu;

// An 8-bit image of 8 x 4 pixels in one uncompressed strip.
lsmtest::TiffImage goodImage() {
    return lsmtest::tiffImage(8, 4, 8, 1);
}

Bytes tiffBytes(const std::vector<lsmtest::TiffImage>& images) {
    lsmtest::TempDir scratch;
    lsmtest::writeTiff(scratch.file("image.tif"), images);
    return lsmtest::readBytes(scratch.file("image.tif"));
}

uint16_t get16(const Bytes& bytes, size_t at) {
    return static_cast<uint16_t>(bytes.at(at) | bytes.at(at + 1) << 8);
}

// Where the entry tag of the first directory of a little-endian file begins.
size_t entryOf(const Bytes& file, uint16_t tag) {
    const size_t directory = corpus::get32(file, 4);
    for (size_t i = 0; i < get16(file, directory); ++i) {
        const size_t entry = directory + 2 + 12 * i;
        if (get16(file, entry) == tag) return entry;
    }
    throw std::runtime_error("no entry " + std::to_string(tag));
}

// The entry tag made a LONG entry of count values whose value field holds value.
void putEntry(Bytes& file, uint16_t tag, uint32_t count, uint32_t value) {
    const size_t entry = entryOf(file, tag);
    lsmtest::put16(file, entry + 2, typeLong);
    lsmtest::put32(file, entry + 4, count);
    lsmtest::put32(file, entry + 8, value);
}

// Value index of the entry tag: in the entry when its values fit there, else at its offset.
void putValue(Bytes& file, uint16_t tag, uint32_t index, uint32_t value) {
    const size_t entry = entryOf(file, tag);
    const bool shorts = get16(file, entry + 2) == typeShort;
    const uint32_t size = shorts ? 2 : 4;
    const uint32_t count = corpus::get32(file, entry + 4);
    const size_t at =
        (count * size <= 4 ? entry + 8 : corpus::get32(file, entry + 8)) + index * size;
    if (shorts)
        lsmtest::put16(file, at, static_cast<uint16_t>(value));
    else
        lsmtest::put32(file, at, value);
}

// Takes the entries out of the first directory: the later entries and the next-directory
// offset move up, and every offset in the file stays as it was.
void removeEntries(Bytes& file, std::initializer_list<uint16_t> tags) {
    for (uint16_t tag : tags) {
        const size_t directory = corpus::get32(file, 4);
        const size_t entry = entryOf(file, tag);
        const size_t end = directory + 2 + 12 * get16(file, directory) + 4;
        std::copy(file.begin() + static_cast<long>(entry + 12),
                  file.begin() + static_cast<long>(end), file.begin() + static_cast<long>(entry));
        lsmtest::put16(file, directory, static_cast<uint16_t>(get16(file, directory) - 1));
    }
}

using Maker = std::function<Bytes()>;

// The file of image, the good one unless given, after an edit.
Maker edited(const std::function<void(Bytes&)>& edit,
             const lsmtest::TiffImage& image = goodImage()) {
    return [edit, image] {
        Bytes file = tiffBytes({image});
        edit(file);
        return file;
    };
}

// The good image in strips of rows rows.
lsmtest::TiffImage inStripsOf(uint32_t rows) {
    lsmtest::TiffImage image = goodImage();
    image.rowsPerStrip = rows;
    return image;
}

// The good file with one value in an entry.
Maker withEntry(uint16_t tag, uint32_t value) {
    return edited([tag, value](Bytes& file) { putEntry(file, tag, 1, value); });
}

// The good file with an entry's value past its end.
Maker pastEndIn(uint16_t tag) {
    return edited(
        [tag](Bytes& file) { putEntry(file, tag, 1, static_cast<uint32_t>(file.size() + 100)); });
}

Maker withImages(std::vector<lsmtest::TiffImage> (*images)()) {
    return [images] { return tiffBytes(images()); };
}

struct TiffCase {
    std::string name;
    Maker make;
    Outcome tiffToIds;
    Outcome imageInfo;
};

void PrintTo(const TiffCase& c, std::ostream* out) {
    *out << c.name;
}

const std::vector<TiffCase> tiffCases = {
    // Nothing broken: the file the other cases break.
    {"Unbroken", withImages([] { return std::vector<lsmtest::TiffImage>{goodImage()}; }), success(),
     success()},
    // No StripOffsets and no StripByteCounts: an image without strips.
    {"NoStrips", edited([](Bytes& file) {
         removeEntries(file, {stripOffsetsTag, stripByteCountsTag});
     }),
     failure(skipped), failure(corpus::lsmTagNotFound)},
    // StripOffsets and StripByteCounts of no values.
    {"StripCountZero", edited([](Bytes& file) {
         putEntry(file, stripOffsetsTag, 0, 8);
         putEntry(file, stripByteCountsTag, 0, 32);
     }),
     failure(stripUnreadable), success()},
    // The one strip's StripByteCounts larger than the file: libtiff takes the strip's size.
    {"StripByteCountsLargerThanFile", pastEndIn(stripByteCountsTag), success(), success()},
    // The one strip's StripByteCounts of 2^32 - 1.
    {"StripByteCountsMax32", withEntry(stripByteCountsTag, max32), success(), success()},
    // The second of two strips larger than the file, which libtiff leaves as it is.
    {"SecondStripLargerThanFile",
     edited(
         [](Bytes& file) {
             putValue(file, stripByteCountsTag, 1, static_cast<uint32_t>(file.size() + 100));
         },
         inStripsOf(2)),
     failure(stripTooLarge), success()},
    // The strip past the end of the file.
    {"StripOffsetsPastEnd", pastEndIn(stripOffsetsTag), failure(stripUnreadable), success()},
    // The strip at 2^32 - 1.
    {"StripOffsetsMax32", withEntry(stripOffsetsTag, max32), failure(stripUnreadable), success()},
    // Two images: only the first is read.
    {"MultiImage", withImages([] {
         return std::vector<lsmtest::TiffImage>{goodImage(), goodImage()};
     }),
     success(), success()},
    // Tiles instead of strips.
    {"Tiled", withImages([] {
         lsmtest::TiffImage image = lsmtest::tiffImage(32, 32, 8, 1);
         image.tileSize = 16;
         return std::vector<lsmtest::TiffImage>{image};
     }),
     failure(tiled), success()},
    // A width of 0.
    {"WidthZero", withEntry(imageWidthTag, 0), failure(skipped), failure(corpus::lsmTagNotFound)},
    // A height of 0.
    {"HeightZero", withEntry(imageLengthTag, 0), failure(skipped), failure(corpus::lsmTagNotFound)},
    // Strips of one row and a height of 2^31 - 1: far more strips than StripOffsets gives.
    {"StripCountBeyondTheFile",
     edited([](Bytes& file) { putEntry(file, imageLengthTag, 1, max31); }, inStripsOf(1)),
     failure(skipped), failure(corpus::lsmTagNotFound)},
    // An LZW strip of 2^32 - 1 columns: far more decoded bytes than the file could give.
    {"DecodedStripBeyondTheFile", edited([](Bytes& file) {
         putEntry(file, compressionTag, 1, lzw);
         putEntry(file, imageWidthTag, 1, max32);
     }),
     failure(stripTooLarge), success()},
    // Uncompressed pixels under an LZW Compression tag.
    {"NotTheCompressionItSays", withEntry(compressionTag, lzw), failure(stripUnreadable),
     success()},
    // The file ends inside its directory.
    {"CutInDirectory", edited([](Bytes& file) { file.resize(corpus::get32(file, 4) + 20); }),
     failure(skipped), failure(corpus::endOfFile)},
};

class TiffCorpus : public testing::TestWithParam<TiffCase> {
   protected:
    lsmtest::TempDir dir;

    void SetUp() override { lsmtest::writeBytes(dir.file("in.tif"), GetParam().make()); }
};

TEST_P(TiffCorpus, TiffToIds) {
    corpus::expectOutcome(
        dir, {TIFF_TO_IDS_PATH, {"-i", "1", "in.tif", "-o", "out"}, "out\\.ids", true, true},
        GetParam().tiffToIds);
}

TEST_P(TiffCorpus, ImageInfo) {
    corpus::expectOutcome(dir, {IMAGE_INFO_PATH, {"in.tif"}, "", false, true},
                          GetParam().imageInfo);
}

INSTANTIATE_TEST_SUITE_P(BadTiff, TiffCorpus, testing::ValuesIn(tiffCases), corpus::CaseName());

}  // namespace
