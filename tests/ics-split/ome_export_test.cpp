// ics-split -ome on ICS images made by the tests' libics writer: the pages and their OME-XML as
// libtiff reads them back, refusals before any file, and runs that fail on the way.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <tiffio.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "ics_support.h"
#include "test_support.h"

using lsmtest::Bytes;
using lsmtest::RunResult;

namespace {

const std::string program = PROGRAM_PATH;

struct Page {
    uint32_t width = 0, height = 0, strips = 0;
    uint16_t bits = 0, sampleFormat = 0;
    std::string description;  // empty where the page has none
    Bytes strip;
};

// Every page of a TIFF file, and whether it is big-endian; libtiff's own reading.
std::vector<Page> readPages(const std::string& path, bool* bigEndian = nullptr) {
    std::vector<Page> pages;
    TIFF* tiff = TIFFOpen(path.c_str(), "r");
    if (!tiff) return pages;
    if (bigEndian) *bigEndian = TIFFIsBigEndian(tiff);
    do {
        Page page;
        const char* description = nullptr;
        TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &page.width);
        TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &page.height);
        TIFFGetField(tiff, TIFFTAG_BITSPERSAMPLE, &page.bits);
        TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLEFORMAT, &page.sampleFormat);
        if (TIFFGetField(tiff, TIFFTAG_IMAGEDESCRIPTION, &description))
            page.description = description;
        page.strips = TIFFNumberOfStrips(tiff);
        page.strip.resize(static_cast<size_t>(TIFFRawStripSize(tiff, 0)));
        TIFFReadRawStrip(tiff, 0, page.strip.data(), static_cast<tmsize_t>(page.strip.size()));
        pages.push_back(page);
    } while (TIFFReadDirectory(tiff));
    TIFFClose(tiff);
    return pages;
}

// x 3, y 2, z 3, t 2, ch 2 of 16 bits, each sample the number of its plane (counted from 0) in
// its low byte; scaled in micrometres along x, in the symbol along y, in nanometres along z and
// in milliseconds along t; two sensor channels, the second without its emission wavelength.
lsmtest::IcsImage cellImage() {
    lsmtest::IcsImage image;
    image.sizes = {3, 2, 3, 2, 2};
    image.labels = {"x", "y", "z", "t", "ch"};
    image.scales = {0.25, 0.25, 200, 500, 1};
    image.pinholeRadius = {100, 120};
    image.excitation = {488, 561};
    image.emission = {510, 0};
    image.numericalAperture = 1.3;
    for (uint8_t plane = 0; plane < 12; ++plane)
        for (int sample = 0; sample < 6; ++sample) image.data.insert(image.data.end(), {plane, 0});
    return image;
}

Bytes planeData(int index) {
    Bytes plane;
    for (int sample = 0; sample < 6; ++sample)
        plane.insert(plane.end(), {static_cast<uint8_t>(index), 0});
    return plane;
}

class OmeExport : public testing::Test {
   protected:
    lsmtest::TempDir dir;

    void SetUp() override {
        lsmtest::writeIcs(dir.file("cell"), cellImage());
        std::string header = lsmtest::readText(dir.file("cell.ics"));
        replace(header, "micrometers\tmicrometers\tmicrometers\tmicrometers\tmicrometers",
                "micrometers\tum\tnm\tms\tundefined");
        replace(header, "RefrInxMedium\t0.000000", "RefrInxMedium\t1.33");
        lsmtest::writeText(dir.file("cell.ics"), header);
    }

    static void replace(std::string& text, const std::string& from, const std::string& to) {
        const size_t at = text.find(from);
        ASSERT_NE(at, std::string::npos) << from;
        text.replace(at, from.size(), to);
    }

    RunResult run(const std::vector<std::string>& args) {
        return lsmtest::runProgram(program, args, dir.path);
    }
};

TEST_F(OmeExport, PagesHoldThePlanesInOrderAndTheFirstDescribesTheImage) {
    for (const char* folder : {"sub", "read"}) ASSERT_EQ(mkdir(dir.file(folder).c_str(), 0755), 0);
    const RunResult r = run(
        {"-i", "cell", "-o", "sub/a&b", "-z", "2", "3", "-c", "2", "1", "-t", "2", "2", "-ome"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out.substr(r.out.find("channel = ")),
              "channel = 2, t = 2, i = 2\nt2,z2\nchannel = 2, t = 2, i = 3\nt2,z3\n"
              "channel = 1, t = 2, i = 2\nt2,z2\nchannel = 1, t = 2, i = 3\nt2,z3\ncomplete\n");
    EXPECT_EQ(lsmtest::listFolder(dir.file("sub")), std::vector<std::string>({"a&b.ome.tif"}));
    bool bigEndian = true;
    const std::vector<Page> pages = readPages(dir.file("sub/a&b.ome.tif"), &bigEndian);
    ASSERT_EQ(pages.size(), 4u);
    EXPECT_FALSE(bigEndian);
    // A small image's strips follow the header, without the hole that aligns large ones.
    EXPECT_LT(lsmtest::readBytes(dir.file("sub/a&b.ome.tif")).size(), 4096u);
    // Planes (k, t, z) at index 6 (k - 1) + 3 (t - 1) + z - 1.
    const int planes[] = {10, 11, 4, 5};
    for (size_t p = 0; p < pages.size(); ++p) {
        EXPECT_EQ(pages[p].width, 3u);
        EXPECT_EQ(pages[p].height, 2u);
        EXPECT_EQ(pages[p].bits, 16);
        EXPECT_EQ(pages[p].sampleFormat, SAMPLEFORMAT_UINT);
        EXPECT_EQ(pages[p].strips, 1u);
        EXPECT_EQ(pages[p].strip, planeData(planes[p])) << p;
        if (p > 0) {
            EXPECT_EQ(pages[p].description, "") << p;
        }
    }
    // The XML's text is UTF-8: the micrometre's sign is two bytes.
    EXPECT_EQ(
        pages[0].description,
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<OME xmlns=\"http://www.openmicroscopy.org/Schemas/OME/2016-06\" "
        "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
        "xsi:schemaLocation=\"http://www.openmicroscopy.org/Schemas/OME/2016-06 "
        "http://www.openmicroscopy.org/Schemas/OME/2016-06/ome.xsd\" "
        "Creator=\"ics-split " LSM_ICS_VERSION
        "\">\n"
        "  <Instrument ID=\"Instrument:0\">\n"
        "    <Objective ID=\"Objective:0\" LensNA=\"1.3\"/>\n"
        "  </Instrument>\n"
        "  <Image ID=\"Image:0\" Name=\"a&amp;b\">\n"
        "    <InstrumentRef ID=\"Instrument:0\"/>\n"
        "    <ObjectiveSettings ID=\"Objective:0\" RefractiveIndex=\"1.33\"/>\n"
        "    <Pixels ID=\"Pixels:0\" DimensionOrder=\"XYZTC\" Type=\"uint16\" "
        "SignificantBits=\"16\" BigEndian=\"false\" SizeX=\"3\" SizeY=\"2\" SizeZ=\"2\" "
        "SizeC=\"2\" SizeT=\"1\" PhysicalSizeX=\"0.25\" PhysicalSizeXUnit=\"\xC2\xB5m\" "
        "PhysicalSizeY=\"0.25\" PhysicalSizeYUnit=\"\xC2\xB5m\" PhysicalSizeZ=\"200\" "
        "PhysicalSizeZUnit=\"nm\" TimeIncrement=\"0.5\" TimeIncrementUnit=\"s\">\n"
        "      <Channel ID=\"Channel:0:0\" SamplesPerPixel=\"1\" ExcitationWavelength=\"561\" "
        "ExcitationWavelengthUnit=\"nm\"/>\n"
        "      <Channel ID=\"Channel:0:1\" SamplesPerPixel=\"1\" ExcitationWavelength=\"488\" "
        "ExcitationWavelengthUnit=\"nm\" EmissionWavelength=\"510\" "
        "EmissionWavelengthUnit=\"nm\"/>\n"
        "      <TiffData IFD=\"0\" PlaneCount=\"4\"/>\n"
        "    </Pixels>\n"
        "  </Image>\n"
        "</OME>\n");

    // A name that is no UTF-8 (Latin-1) keeps the XML well-formed.
    ASSERT_EQ(run({"-i", "cell", "-o", "caf\xE9", "-z", "1", "1", "-t", "1", "1", "-ome"}).status,
              0);
    EXPECT_NE(
        readPages(dir.file("caf\xE9.ome.tif")).at(0).description.find("Name=\"caf\xEF\xBF\xBD\""),
        std::string::npos);

    // Where the kernel cannot copy between the files, the planes are read and written instead.
    const char* sanitizer = std::getenv("ASAN_OPTIONS");
    const RunResult read = lsmtest::runProgram(
        "/usr/bin/env",
        {"LD_PRELOAD=" NO_SENDFILE_PATH,
         // The sanitizer's runtime must otherwise come first among the preloaded libraries.
         "ASAN_OPTIONS=" + std::string(sanitizer ? sanitizer : "") + ":verify_asan_link_order=0",
         program, "-i", "cell", "-o", "read/a&b", "-z", "2", "3", "-c", "2", "1", "-t", "2", "2",
         "-ome"},
        dir.path);
    ASSERT_EQ(read.status, 0) << read.err;
    EXPECT_EQ(lsmtest::readBytes(dir.file("read/a&b.ome.tif")),
              lsmtest::readBytes(dir.file("sub/a&b.ome.tif")));
}

TEST_F(OmeExport, WhatOmeTiffCannotHoldIsRefusedBeforeAnyFile) {
    lsmtest::IcsImage image;
    image.sizes = {2, 2};
    image.labels = {"x", "y"};
    for (const Ics_DataType type : {Ics_complex32, Ics_uint64}) {
        image.dataType = type;
        image.data = Bytes(2 * 2 * 8);
        lsmtest::writeIcs(dir.file(type == Ics_uint64 ? "long" : "complex"), image);
    }
    const std::string tail = "\nTerminating...\n";
    const std::string instead =
        ", for which OME-TIFF has no pixel type; split them into TIFF planes (-tif) or an ICS "
        "image (-s1, -s2) instead.";
    const struct {
        std::vector<std::string> args;
        std::string message;
    } refusals[] = {
        {{"-i", "complex", "-o", "x", "-ome"},
         "The input's samples are complex numbers" + instead + tail},
        {{"-i", "long", "-o", "x", "-ome"},
         "The input's samples are 64-bit integers" + instead + tail},
        {{"-i", "cell", "-o", "x", "-z", "3", "2", "-ome"},
         "An OME-TIFF export needs a slice range whose start (3) does not lie above its end (2)." +
             tail},
        {{"-i", "cell", "-o", "x", "-t", "2", "1", "-ome"},
         "An OME-TIFF export needs a time range whose start (2) does not lie above its end (1)." +
             tail},
    };
    const std::vector<std::string> before = lsmtest::listFolder(dir.path);
    for (const auto& refusal : refusals) {
        const RunResult r = run(refusal.args);
        EXPECT_EQ(r.status, 1) << refusal.args[1];
        EXPECT_EQ(r.err, refusal.message) << refusal.args[1];
    }
    EXPECT_EQ(lsmtest::listFolder(dir.path), before);
}

TEST_F(OmeExport, AFailingRunEndsWithStatusOneAndLeavesItsPartialFile) {
    // The data file ends inside the fourth plane.
    Bytes data = lsmtest::readBytes(dir.file("cell.ids"));
    const Bytes whole = data;
    data.resize(3 * 12 + 5);
    lsmtest::writeBytes(dir.file("cell.ids"), data);
    const RunResult cut = run({"-i", "cell", "-o", "cut", "-ome", "-c", "1"});
    EXPECT_EQ(cut.status, 1);
    EXPECT_EQ(cut.err, "Could not read all data into buffer\nTerminating...\n");
    EXPECT_EQ(cut.out.substr(cut.out.find("channel = ")),
              "channel = 1, t = 1, i = 1\nt1,z1\nchannel = 1, t = 1, i = 2\nt1,z2\n"
              "channel = 1, t = 1, i = 3\nt1,z3\nchannel = 1, t = 2, i = 1\nt2,z1\n");
    EXPECT_TRUE(lsmtest::fileExists(dir.file("cut.ome.tif")));

    // A file size limit of one block, far below the file's directories.
    lsmtest::writeBytes(dir.file("cell.ids"), whole);
    const RunResult limited =
        lsmtest::runProgram("/bin/sh",
                            {"-c", "ulimit -f 1; trap '' XFSZ; exec \"$0\" \"$@\"", program, "-i",
                             "cell", "-o", "full", "-ome"},
                            dir.path);
    EXPECT_EQ(limited.status, 1);
    const std::string message = "Could not write to TIFF file!\nTerminating...\n";
    ASSERT_GE(limited.err.size(), message.size());
    EXPECT_EQ(limited.err.substr(limited.err.size() - message.size()), message);
    EXPECT_EQ(limited.out.find("complete"), std::string::npos);
    EXPECT_EQ(run({"-i", "cell", "-o", "nodir/x", "-ome"}).err,
              "Could not create TIFF file nodir/x.ome.tif!\nTerminating...\n");
}

}  // namespace
