// The OME-TIFF writer driven as a program with several input files drives it: planes copied from
// two files and given from memory, each file closed as soon as the writer allows.
#include "ome_tiff.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <tiffio.h>
#include <unistd.h>

#include "lsm_writer.h"
#include "plane_copy.h"
#include "test_support.h"

namespace {

using lsmtest::Bytes;

Bytes plane(uint8_t value) {
    return Bytes(6 * 4, value);
}

TEST(OmeTiffWriter, PlanesFromSeveralFilesAndMemoryLandInTheirPages) {
    lsmtest::TempDir dir;
    // Two input files of two planes each, after a header of 5 bytes.
    for (const char* name : {"a", "b"}) {
        Bytes file(5, 0xEE);
        for (uint8_t p = 0; p < 2; ++p) {
            const Bytes bytes = plane(static_cast<uint8_t>(name[0] + p));
            file.insert(file.end(), bytes.begin(), bytes.end());
        }
        lsmtest::writeBytes(dir.file(name), file);
    }
    ome::OmeImage image;
    image.pixelType = ome::PixelType::uint8;
    image.significantBits = 8;
    image.sizeX = 6;
    image.sizeY = 4;
    image.sizeT = 5;
    image.channels.resize(1);
    ome::OmeTiffWriter* writer =
        ome::startOmeTiff(dir.file("out.ome.tif"), image, 24, 5, planes::couldNotReadPlane);
    const int a = open(dir.file("a").c_str(), O_RDONLY);
    ome::writePlaneFrom(writer, a, 5);
    ome::writePlaneFrom(writer, a, 5 + 24);
    Bytes fromMemory = plane('m');
    ome::writePlane(writer, fromMemory.data());
    fromMemory = plane('x');  // reused
    close(a);
    const int b = open(dir.file("b").c_str(), O_RDONLY);
    ome::writePlaneFrom(writer, b, 5 + 24);
    ome::writePlaneFrom(writer, b, 5);
    ome::finishOmeTiff(writer);
    close(b);

    TIFF* tiff = TIFFOpen(dir.file("out.ome.tif").c_str(), "r");
    ASSERT_NE(tiff, nullptr);
    std::vector<Bytes> pages;
    do {
        Bytes strip(static_cast<size_t>(TIFFRawStripSize(tiff, 0)));
        TIFFReadRawStrip(tiff, 0, strip.data(), static_cast<tmsize_t>(strip.size()));
        pages.push_back(strip);
    } while (TIFFReadDirectory(tiff));
    TIFFClose(tiff);
    EXPECT_EQ(pages,
              std::vector<Bytes>({plane('a'), plane('b'), plane('m'), plane('c'), plane('b')}));
}

}  // namespace
