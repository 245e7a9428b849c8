// ics-split run on ICS images made by lsm-to-ics and by the tests' libics writer: report,
// TIFF planes, ICS subsets read back through libics, refusals and failures.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <tiffio.h>
#include <unistd.h>

#include <cstdio>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "ics_support.h"
#include "lsm_writer.h"
#include "test_support.h"
#include "tiff_writer.h"

using lsmtest::Bytes;
using lsmtest::LsmContent;
using lsmtest::RunResult;

namespace {

const std::string program = PROGRAM_PATH;
const std::string lsmToIcs = LSM_TO_ICS_PATH;

std::vector<std::string> words(const std::string& text) {
    std::istringstream in(text);
    return {std::istream_iterator<std::string>(in), std::istream_iterator<std::string>()};
}

std::string number(int value) {
    return std::to_string(value);
}

// The image "cell": 6 x 4 pixels, 5 slices, 2 channels (488 and 561 nm), 16 bits.
LsmContent cellContent() {
    LsmContent c;
    c.width = 6;
    c.height = 4;
    c.slices = 5;
    c.channels = 2;
    c.scanInfo.wavelengths = {488, 561};
    return c;
}

// Plane (k, t, z), counted from 1, of an image that lsm-to-ics made from the writer's files.
Bytes plane(LsmContent c, int k, int t, int z) {
    c.seed = static_cast<uint32_t>(t);
    return lsmtest::planeData(c, static_cast<uint32_t>(k - 1), static_cast<uint32_t>(z - 1));
}

// The planes of a selection in export order: channel, then time point, then slice.
Bytes planes(const LsmContent& c, const std::vector<int>& channels, int t0, int t1, int z0,
             int z1) {
    Bytes data;
    for (int k : channels)
        for (int t = t0; t <= t1; ++t)
            for (int z = z0; z <= z1; ++z) {
                const Bytes p = plane(c, k, t, z);
                data.insert(data.end(), p.begin(), p.end());
            }
    return data;
}

// The echo of "-i cell -o output -z z0 z1 ... -t t0 t1".
std::string cellEcho(const std::string& output, int z0, int z1, int t0, int t1) {
    return "input file : cell\noutput file : " + output + "\nzstart = " + number(z0) +
           " ; zend = " + number(z1) + "\ntstart = " + number(t0) + " ; tend = " + number(t1) +
           "\n";
}

// The header report of "cell" (3 time points 2 s apart), then the sensor lines of the channels.
std::string cellReport(const std::vector<int>& channels) {
    std::string text =
        "x 6 0, 0.1, micrometers\ny 4 0, 0.1, micrometers\nz 5 0, 0.5, micrometers\n"
        "t 3 0, 2, seconds\nch 2 0, 2, undefined\n\nvx=0.100000, vy=0.100000, vz=0.500000\n"
        "x = 6, y = 4\nz = 5, t = 3\nch = 2\n";
    for (int k : channels)
        text += k == 1 ? "pinholeRadius = 212.629\nexcitation = 488\nemission = 510\n"
                       : "pinholeRadius = 244.436\nexcitation = 561\nemission = 569\n";
    return text;
}

std::string tiffProgress(int k, int t0, int t1, int z0, int z1) {
    std::string text;
    for (int t = t0; t <= t1; ++t)
        for (int z = z0; z <= z1; ++z)
            text += "channel = " + number(k) + ", t = " + number(t) + ", i = " + number(z) + "\nt" +
                    number(t) + ",z" + number(z) + "\n";
    return text;
}

std::string tiffName(const std::string& base, int k, int t, int z) {
    char name[96];
    std::snprintf(name, sizeof name, "%s_ch%02dt%04dz%03d.tif", base.c_str(), k, t, z);
    return name;
}

using Names = std::vector<std::string>;
using History = std::vector<std::pair<std::string, std::string>>;
using Sizes = std::vector<size_t>;

Sizes sizesOf(const lsmtest::IcsContents& ics) {
    Sizes sizes;
    for (const lsmtest::IcsDimension& d : ics.dimensions) sizes.push_back(d.size);
    return sizes;
}

class IcsSplit : public testing::Test {
   protected:
    lsmtest::TempDir dir;
    const LsmContent cell = cellContent();

    void SetUp() override { convert("cell", cell, 3); }

    // name.ics and name.ids (or name.ics alone with "-S2") from lsm-to-ics on timePoints LSM
    // files of c, 2 s apart, with all slices and channels; the LSM files, numbered from 11 to
    // fill the pattern's two digits, are removed after.
    void convert(const std::string& name, LsmContent c, int timePoints,
                 const std::string& version = "-S1") {
        std::string channels;
        for (uint32_t k = 1; k <= c.channels; ++k) channels += number(static_cast<int>(k)) + " ";
        for (int t = 1; t <= timePoints; ++t) {
            c.seed = static_cast<uint32_t>(t);
            lsmtest::writeBytes(dir.file(name + number(10 + t) + ".lsm"), lsmtest::buildLsmFile(c));
        }
        const RunResult r = lsmtest::runProgram(
            lsmToIcs,
            words("-s 11 -j 1 -e " + number(10 + timePoints) + " " + name + "??.lsm -o " + name +
                  " -z 1 " + number(static_cast<int>(c.slices)) + " -c " + channels + "-t 2 " +
                  version),
            dir.path);
        ASSERT_EQ(r.status, 0) << r.err;
        for (int t = 1; t <= timePoints; ++t)
            std::remove(dir.file(name + number(10 + t) + ".lsm").c_str());
    }

    RunResult run(const std::string& args) {
        return lsmtest::runProgram(program, words(args), dir.path);
    }

    // Runs ics-split through the shell with its file size limit set to blocks.
    RunResult runLimited(int blocks, const std::string& args) {
        std::vector<std::string> shellArgs = {
            "-c", "ulimit -f " + number(blocks) + "; trap '' XFSZ; exec \"$0\" \"$@\"", program};
        for (const std::string& word : words(args)) shellArgs.push_back(word);
        return lsmtest::runProgram("/bin/sh", shellArgs, dir.path);
    }

    void replaceInHeader(const std::string& name, const std::string& from, const std::string& to) {
        std::string text = lsmtest::readText(dir.file(name + ".ics"));
        const size_t at = text.find(from);
        ASSERT_NE(at, std::string::npos) << from;
        lsmtest::writeText(dir.file(name + ".ics"), text.replace(at, from.size(), to));
    }
};

TEST_F(IcsSplit, OnePlaneToOneTiffHoldsTheFirstPlaneOfTheDataFile) {
    LsmContent big = cell;
    big.width = big.height = 512;
    big.slices = big.channels = 1;
    big.scanInfo.wavelengths = {488};
    convert("big", big, 1);
    const RunResult r = run("-i big.ics -o base -z 1 1 -c 1 -t 1 1");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out,
              "input file : big\noutput file : base\nzstart = 1 ; zend = 1\n"
              "tstart = 1 ; tend = 1\nx 512 0, 0.1, micrometers\ny 512 0, 0.1, micrometers\n"
              "\nvx=0.100000, vy=0.100000, vz=0.000000\nx = 512, y = 512\nz = 1, t = 1\n"
              "ch = 1\npinholeRadius = 212.629\nexcitation = 488\nemission = 510\n" +
                  tiffProgress(1, 1, 1, 1, 1) + "complete\n");
    EXPECT_EQ(lsmtest::listFolder(dir.path),
              Names({"base_ch01t0001z001.tif", "big.ics", "big.ids", "cell.ics", "cell.ids"}));
    const lsmtest::TiffContents tiff = lsmtest::readTiff(dir.file("base_ch01t0001z001.tif"));
    EXPECT_EQ(tiff.width, 512u);
    EXPECT_EQ(tiff.height, 512u);
    EXPECT_EQ(tiff.bitsPerSample, 16);
    EXPECT_EQ(tiff.compression, 1);
    const Bytes data = lsmtest::readBytes(dir.file("big.ids"));
    EXPECT_EQ(tiff.pixels, Bytes(data.begin(), data.begin() + 512 * 512 * 2));

    // "c": the strips as stored, not cut into smaller ones for reading.
    TIFF* file = TIFFOpen(dir.file("base_ch01t0001z001.tif").c_str(), "rc");
    ASSERT_TRUE(file);
    uint16_t orientation = 0, planar = 0, photometric = 0, samples = 0;
    uint64_t* stripBytes = nullptr;
    TIFFGetField(file, TIFFTAG_ORIENTATION, &orientation);
    TIFFGetField(file, TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetField(file, TIFFTAG_PHOTOMETRIC, &photometric);
    TIFFGetFieldDefaulted(file, TIFFTAG_SAMPLESPERPIXEL, &samples);
    const uint32_t strips = TIFFNumberOfStrips(file);
    TIFFGetField(file, TIFFTAG_STRIPBYTECOUNTS, &stripBytes);
    const uint64_t firstStripBytes = stripBytes ? stripBytes[0] : 0;
    TIFFClose(file);
    EXPECT_EQ(orientation, 1);
    EXPECT_EQ(planar, 1);
    EXPECT_EQ(photometric, 1);
    EXPECT_EQ(samples, 1);
    EXPECT_EQ(strips, 1u);
    EXPECT_EQ(firstStripBytes, 512u * 512 * 2);
}

TEST_F(IcsSplit, ChannelTwoAloneComesFromTheSecondChannelBlock) {
    const RunResult r = run("-i cell -o part.tif -z 2 3 -c 2 -t 1 3 -TIFF");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, cellEcho("part", 2, 3, 1, 3) + cellReport({2}) + tiffProgress(2, 1, 3, 2, 3) +
                         "complete\n");
    Names expected = {"cell.ics", "cell.ids"};
    for (int t = 1; t <= 3; ++t)
        for (int z = 2; z <= 3; ++z) {
            expected.push_back(tiffName("part", 2, t, z));
            EXPECT_EQ(lsmtest::readTiff(dir.file(tiffName("part", 2, t, z))).pixels,
                      plane(cell, 2, t, z));
        }
    EXPECT_EQ(lsmtest::listFolder(dir.path), expected);
}

TEST_F(IcsSplit, WhatIsNotGivenIsTheWholeExtentAndAChannelListMayRunToTheEnd) {
    const RunResult all = run("-i cell -o all");
    ASSERT_EQ(all.status, 0) << all.err;
    EXPECT_EQ(all.out, "input file : cell\noutput file : all\n" + cellReport({1, 2}) +
                           tiffProgress(1, 1, 3, 1, 5) + tiffProgress(2, 1, 3, 1, 5) +
                           "complete\n");
    EXPECT_EQ(lsmtest::listFolder(dir.path).size(), 2u + 30u);
    EXPECT_EQ(lsmtest::readTiff(dir.file("all_ch02t0003z005.tif")).pixels, plane(cell, 2, 3, 5));

    // The list after -c, not closed by -t, ends at the last argument; the channels keep its order.
    const RunResult end = run("-i cell -o end -z 4 4 -t 2 2 -c 2 1");
    ASSERT_EQ(end.status, 0) << end.err;
    EXPECT_EQ(end.out, cellEcho("end", 4, 4, 2, 2) + cellReport({2, 1}) +
                           tiffProgress(2, 2, 2, 4, 4) + tiffProgress(1, 2, 2, 4, 4) +
                           "complete\n");
    EXPECT_EQ(lsmtest::readTiff(dir.file("end_ch01t0002z004.tif")).pixels, plane(cell, 1, 2, 4));

    // An empty channel list takes every channel; the slices default to all of them.
    const RunResult whole = run("-i cell -o whole -c -t 1 1 -s1");
    ASSERT_EQ(whole.status, 0) << whole.err;
    EXPECT_EQ(sizesOf(lsmtest::readIcs(dir.file("whole"))), Sizes({6, 4, 5, 1, 2}));
    EXPECT_EQ(lsmtest::readBytes(dir.file("whole.ids")), planes(cell, {1, 2}, 1, 1, 1, 5));
}

TEST_F(IcsSplit, NameFieldsAreZeroFilledAfreshAndWidenForLargeNumbers) {
    // 100 channels, 12 time points, 123 slices of 4 x 1 bytes; each plane holds k, t and z.
    lsmtest::IcsImage image;
    image.dataType = Ics_uint8;
    image.sizes = {4, 1, 123, 12, 100};
    image.labels = {"x", "y", "z", "t", "ch"};
    for (int k = 1; k <= 100; ++k)
        for (int t = 1; t <= 12; ++t)
            for (int z = 1; z <= 123; ++z)
                image.data.insert(image.data.end(), {uint8_t(k), uint8_t(t), uint8_t(z), 0});
    lsmtest::writeIcs(dir.file("many"), image);

    const RunResult slices = run("-i many -o s -z 1 123 -c 12 -t 11 12");
    ASSERT_EQ(slices.status, 0) << slices.err;
    Names expected = {"cell.ics", "cell.ids", "many.ics", "many.ids"};
    for (int t = 11; t <= 12; ++t)
        for (int z = 1; z <= 123; ++z) expected.push_back(tiffName("s", 12, t, z));
    // Among them s_ch12t0012z001.tif, written right after s_ch12t0011z123.tif.
    EXPECT_EQ(lsmtest::listFolder(dir.path), expected);
    EXPECT_EQ(lsmtest::readTiff(dir.file("s_ch12t0012z100.tif")).pixels, Bytes({12, 12, 100, 0}));

    const RunResult channels = run("-i many -o c -z 7 7 -c 100 12 1 -t 9 9");
    ASSERT_EQ(channels.status, 0) << channels.err;
    EXPECT_EQ(lsmtest::readTiff(dir.file("c_ch100t0009z007.tif")).pixels, Bytes({100, 9, 7, 0}));
    EXPECT_EQ(lsmtest::readTiff(dir.file("c_ch12t0009z007.tif")).pixels, Bytes({12, 9, 7, 0}));
    EXPECT_EQ(lsmtest::readTiff(dir.file("c_ch01t0009z007.tif")).pixels, Bytes({1, 9, 7, 0}));
    EXPECT_EQ(lsmtest::listFolder(dir.path).size(), expected.size() + 3);
}

TEST_F(IcsSplit, AnEmptyRangeWritesNoTiffAndStillCompletes) {
    const RunResult slices = run("-i cell -o none -z 3 2 -c 1 -t 1 3");
    EXPECT_EQ(slices.status, 0);
    EXPECT_EQ(slices.err, "");
    EXPECT_EQ(slices.out, cellEcho("none", 3, 2, 1, 3) + cellReport({1}) + "complete\n");
    const RunResult times = run("-i cell -o none -c 1 2 -t 7 3");
    EXPECT_EQ(times.status, 0);
    EXPECT_EQ(times.out, "input file : cell\noutput file : none\ntstart = 7 ; tend = 3\n" +
                             cellReport({1, 2}) + "complete\n");
    EXPECT_EQ(lsmtest::listFolder(dir.path), Names({"cell.ics", "cell.ids"}));
}

void expectCellHeader(const lsmtest::IcsContents& ics, const Sizes& sizes, const Names& labels) {
    ASSERT_TRUE(ics.opened);
    EXPECT_EQ(ics.dataType, Ics_uint16);
    EXPECT_EQ(sizesOf(ics), sizes);
    Names read;
    for (const lsmtest::IcsDimension& d : ics.dimensions) read.push_back(d.label);
    EXPECT_EQ(read, labels);
    ASSERT_GE(ics.dimensions.size(), 2u);
    EXPECT_EQ(ics.dimensions[0].scale, 0.1);  // the input's scales, unchanged
    EXPECT_EQ(ics.dimensions[1].units, "micrometers");
}

TEST_F(IcsSplit, VersionOneSubsetsReadBackPlaneByPlane) {
    const RunResult one = run("-i cell -o first -z 1 1 -c 1 -t 1 1 -s2 -S1");
    ASSERT_EQ(one.status, 0) << one.err;
    EXPECT_EQ(one.err, "");
    EXPECT_EQ(one.out, cellEcho("first", 1, 1, 1, 1) + cellReport({1}) + "t1,z1\n0\ncomplete\n");
    expectCellHeader(lsmtest::readIcs(dir.file("first")), {6, 4}, {"x", "y"});
    EXPECT_EQ(lsmtest::readBytes(dir.file("first.ids")), plane(cell, 1, 1, 1));

    // Channels in list order, each with its own sensor values.
    const RunResult two = run("-i cell -o part -z 3 4 -c 2 1 -t 1 1 -s1");
    ASSERT_EQ(two.status, 0) << two.err;
    EXPECT_EQ(two.err, "");
    EXPECT_EQ(two.out, cellEcho("part", 3, 4, 1, 1) + cellReport({2, 1}) +
                           "t1,z3\n816\nt1,z4\n864\nt1,z3\n96\nt1,z4\n144\ncomplete\n");
    const Bytes data = planes(cell, {2, 1}, 1, 1, 3, 4);
    EXPECT_EQ(lsmtest::readBytes(dir.file("part.ids")), data);
    const lsmtest::IcsContents input = lsmtest::readIcs(dir.file("cell"));
    const lsmtest::IcsContents ics = lsmtest::readIcs(dir.file("part"));
    expectCellHeader(ics, {6, 4, 2, 1, 2}, {"x", "y", "z", "t", "ch"});
    EXPECT_EQ(ics.version, 1);
    EXPECT_EQ(ics.data, data);
    EXPECT_EQ(ics.dimensions[2].scale, 0.5);
    EXPECT_EQ(ics.dimensions[3].scale, 2.0);
    EXPECT_EQ(ics.dimensions[3].units, "seconds");
    EXPECT_EQ(ics.dimensions[4].scale, 2.0);
    EXPECT_EQ(ics.dimensions[4].units, "undefined");
    EXPECT_EQ(ics.sensorChannels, 2);
    EXPECT_EQ(ics.sensorModel, "PMT");
    EXPECT_EQ(ics.excitation, std::vector<double>({561, 488}));
    EXPECT_EQ(ics.emission, std::vector<double>({569, 510}));
    EXPECT_EQ(ics.pinholeRadius,
              std::vector<double>({input.pinholeRadius[1], input.pinholeRadius[0]}));
    EXPECT_EQ(ics.photonCount, std::vector<int>({1, 1}));
    EXPECT_EQ(ics.numericalAperture, input.numericalAperture);
    EXPECT_EQ(ics.mediumRefractiveIndex, 1.515);
    EXPECT_EQ(ics.lensRefractiveIndex, 0.0);  // not set: libics's default
    EXPECT_EQ(ics.pinholeSpacing, 2.53);
    EXPECT_EQ(ics.history, History({{"time_start", "1"}, {"time_end", "1"}}));
    EXPECT_EQ(lsmtest::listFolder(dir.path),
              Names({"cell.ics", "cell.ids", "first.ics", "first.ids", "part.ics", "part.ids"}));
}

TEST_F(IcsSplit, VersionTwoSubsetsLeaveOneFileWithTheDataInside) {
    const RunResult r = run("-i cell -o part -z 3 4 -c 2 1 -t 1 1 -s2");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out.substr(r.out.rfind("emission = 510\n")),
              "emission = 510\nt1,z3\n816\nt1,z4\n864\nt1,z3\n96\nt1,z4\n144\ncomplete\n");
    const lsmtest::IcsContents ics = lsmtest::readIcs(dir.file("part"));
    expectCellHeader(ics, {6, 4, 2, 1, 2}, {"x", "y", "z", "t", "ch"});
    EXPECT_EQ(ics.version, 2);
    EXPECT_EQ(ics.data, planes(cell, {2, 1}, 1, 1, 3, 4));
    EXPECT_EQ(lsmtest::listFolder(dir.path), Names({"cell.ics", "cell.ids", "part.ics"}));

    // One channel, one slice, time points 4 to 9: time is dimension 2; the history has the range.
    LsmContent flat = cell;
    flat.slices = flat.channels = 1;
    flat.scanInfo.wavelengths = {488};
    convert("long", flat, 9);
    const RunResult times = run("-i long -o times -t 4 9 -s2");
    ASSERT_EQ(times.status, 0) << times.err;
    EXPECT_EQ(times.out.substr(0, times.out.find("pinhole")),
              "input file : long\noutput file : times\ntstart = 4 ; tend = 9\n"
              "x 6 0, 0.1, micrometers\ny 4 0, 0.1, micrometers\nt 9 0, 2, seconds\n"
              "\nvx=0.100000, vy=0.100000, vz=0.000000\nx = 6, y = 4\nz = 1, t = 9\nch = 1\n");
    const lsmtest::IcsContents series = lsmtest::readIcs(dir.file("times"));
    expectCellHeader(series, {6, 4, 6}, {"x", "y", "t"});
    EXPECT_EQ(series.dimensions[2].scale, 2.0);
    EXPECT_EQ(series.dimensions[2].units, "seconds");
    EXPECT_EQ(series.history, History({{"time_start", "4"}, {"time_end", "9"}}));
    EXPECT_EQ(series.data, planes(flat, {1}, 4, 9, 1, 1));
}

TEST_F(IcsSplit, ALabelOfNoKnownNameLeavesItToTheOrderNameAndMissingSensorValuesReadAsZero) {
    // Other software labels x "x-position"; the order line still names it x.
    replaceInHeader("cell", "labels\tintensity\tx\t", "labels\tintensity\tx-position\t");
    const RunResult r = run("-i cell -o pos -z 1 1 -c 1 -t 1 1");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.substr(0, r.out.find("z = ")),
              cellEcho("pos", 1, 1, 1, 1) +
                  "x-position 6 0, 0.1, micrometers\ny 4 0, 0.1, micrometers\n"
                  "z 5 0, 0.5, micrometers\nt 3 0, 2, seconds\nch 2 0, 2, undefined\n"
                  "\nvx=0.100000, vy=0.100000, vz=0.500000\nx = 6, y = 4\n");
    EXPECT_EQ(lsmtest::readTiff(dir.file("pos_ch01t0001z001.tif")).pixels, plane(cell, 1, 1, 1));

    // Three channels, sensor values for the first only.
    lsmtest::IcsImage image;
    image.sizes = {2, 2, 1, 1, 3};
    image.labels = {"x", "y", "z", "t", "ch"};
    image.pinholeRadius = {100};
    image.excitation = {633};
    image.emission = {650};
    image.numericalAperture = 0.9;
    image.data = lsmtest::tiffPixels(2, 2 * 3, 16, 7);
    lsmtest::writeIcs(dir.file("three"), image);
    const RunResult three = run("-i three -o sub -c 3 1 -t 1 1 -s1");
    ASSERT_EQ(three.status, 0) << three.err;
    EXPECT_EQ(three.out.substr(three.out.find("ch = 3\n")),
              "ch = 3\npinholeRadius = 0\nexcitation = 0\nemission = 0\n"
              "pinholeRadius = 100\nexcitation = 633\nemission = 650\n"
              "t1,z1\n16\nt1,z1\n0\ncomplete\n");
    const lsmtest::IcsContents ics = lsmtest::readIcs(dir.file("sub"));
    EXPECT_EQ(ics.excitation, std::vector<double>({0, 633}));
    EXPECT_EQ(ics.pinholeRadius, std::vector<double>({0, 100}));
    EXPECT_EQ(ics.numericalAperture, 0.9);
    Bytes data(image.data.begin() + 16, image.data.end());
    data.insert(data.end(), image.data.begin(), image.data.begin() + 8);
    EXPECT_EQ(ics.data, data);
}

TEST_F(IcsSplit, TheDefaultVersionTwoOutputOfLsmToIcsSplitsAsVersionOneDoes) {
    convert("v2", cell, 3, "-S2");
    ASSERT_EQ(mkdir(dir.file("out").c_str(), 0755), 0);
    for (const char* mode : {" -tif", " -s1", " -s2"}) {
        std::vector<std::pair<std::string, Bytes>> outputs[2];
        for (int route = 0; route < 2; ++route) {
            const RunResult r = run("-i " + std::string(route ? "v2.ics" : "cell") +
                                    " -o out/p -z 2 4 -c 2 1 -t 2 3" + mode);
            ASSERT_EQ(r.status, 0) << r.err;
            for (const std::string& name : lsmtest::listFolder(dir.file("out"))) {
                outputs[route].emplace_back(name, lsmtest::readBytes(dir.file("out/" + name)));
                std::remove(dir.file("out/" + name).c_str());
            }
        }
        EXPECT_FALSE(outputs[0].empty()) << mode;
        EXPECT_EQ(outputs[0], outputs[1]) << mode;
    }
}

TEST_F(IcsSplit, HeadersOfOtherSoftwareWithoutLabelsOrWithFewerSignificantBits) {
    // No labels line: the order line names the dimensions; a fourth of one element is no plane
    // dimension and is only reported.
    lsmtest::writeText(dir.file("other.ics"),
                       "\t\nics_version\t1.0\nfilename\tother\nlayout\tparameters\t5\n"
                       "layout\torder\tbits\tx\ty\tz\tprobe\nlayout\tsizes\t8\t5\t4\t3\t1\n"
                       "layout\tsignificant_bits\t8\nrepresentation\tformat\tinteger\n"
                       "representation\tsign\tunsigned\n");
    const Bytes data = lsmtest::tiffPixels(5, 4 * 3, 8, 3);
    lsmtest::writeBytes(dir.file("other.ids"), data);
    const RunResult r = run("-i other -o o -z 2 2");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find(" 1 0, 1, undefined\nUndefined multi-dimensional label\n\nvx="),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("x = 5, y = 4\nz = 3, t = 1\nch = 1\n"), std::string::npos) << r.out;
    EXPECT_EQ(lsmtest::readTiff(dir.file("o_ch01t0001z002.tif")).pixels,
              Bytes(data.begin() + 20, data.begin() + 40));

    // 12 significant bits of 16-bit samples: 16-bit TIFF planes, and 12 bits in an ICS export.
    replaceInHeader("cell", "significant_bits\t16", "significant_bits\t12");
    ASSERT_EQ(run("-i cell -o twelve -z 1 1 -c 2 -t 1 1").status, 0);
    EXPECT_EQ(lsmtest::readTiff(dir.file("twelve_ch02t0001z001.tif")).bitsPerSample, 16);
    ASSERT_EQ(run("-i cell -o twelve -z 1 2 -c 2 -t 1 1 -s1").status, 0);
    const lsmtest::IcsContents ics = lsmtest::readIcs(dir.file("twelve"));
    EXPECT_EQ(ics.significantBits, 12u);
    EXPECT_EQ(ics.data, planes(cell, {2}, 1, 1, 1, 2));
}

TEST_F(IcsSplit, MoreThan32ChannelsAreExportedWithoutSensorParameters) {
    std::string list;
    for (int i = 0; i < 33; ++i) list += "1 ";
    const RunResult r = run("-i cell -o many -z 2 2 -c " + list + "-t 1 1 -s1");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err,
              "More than 32 channels: the sensor parameters are not written to the ICS header.\n");
    const lsmtest::IcsContents ics = lsmtest::readIcs(dir.file("many"));
    EXPECT_EQ(sizesOf(ics), Sizes({6, 4, 1, 1, 33}));
    EXPECT_EQ(ics.sensorChannels, 0);
    EXPECT_EQ(ics.data, planes(cell, std::vector<int>(33, 1), 1, 1, 2, 2));
}

struct Refusal {
    std::string args, message;
};

TEST_F(IcsSplit, CommandLinesOutsideTheInputAreRefusedBeforeAnyFileIsWritten) {
    const std::string tail = "\nTerminating...\n";
    const std::string emptyBase =
        "The output base name is empty: the name after -o is cut at its first \".\", so give one "
        "such as -o out/cell." +
        tail;
    const std::vector<Refusal> refusals = {
        {"-i cell -o ./out/result -z 1 1 -c 1 -t 1 1", emptyBase},
        {"-i cell -z 1 1 -c 1 -t 1 1 -s1", emptyBase},
        {"-i cell -o x -c 1 -t 1 1 -z 1", "Option -z needs 2 value(s) after it." + tail},
        {"-o x -i", "Option -i needs 1 value(s) after it." + tail},
        {"-i cell -o x -z 1 1 -c 1 -t", "Option -t needs 2 value(s) after it." + tail},
        {"-i cell -o x -z 1 1 -c 0 -t 1 1",
         "Channel, time point and slice numbers start at 1 (channel 0)." + tail},
        {"-i cell -o x -z 1 1 -c 1 -t -1 2",
         "Channel, time point and slice numbers start at 1 (time point -1)." + tail},
        {"-i cell -o x -z 2 0 -c 1 -t 1 1",
         "Channel, time point and slice numbers start at 1 (slice 0)." + tail},
        {"-i cell -o x -z 1 1 -c 1 3 -t 1 1",
         "Channel 3 lies beyond the input, which has channels 1 to 2." + tail},
        {"-i cell -o x -z 1 1 -c 1 -t 2 4",
         "Time point 4 lies beyond the input, which has time points 1 to 3." + tail},
        {"-i cell -o x -z 4 6 -s2",
         "Slice 6 lies beyond the input, which has slices 1 to 5." + tail},
        {"-i cell -o x -z 3 2 -c 1 -t 1 1 -s1",
         "An ICS export needs a slice range whose start (3) does not lie above its end (2)." +
             tail},
        {"-i cell -o x -z 1 1 -c 1 -t 3 1 -s2",
         "An ICS export needs a time range whose start (3) does not lie above its end (1)." + tail},
        // A mistyped mode word, which would otherwise write TIFF planes; negative values are not
        // taken for options.
        {"-i cell -o x -z -1 1 -c -2 -t 1 1 -s3", "Unknown option -s3." + tail},
    };
    for (const Refusal& refusal : refusals) {
        const RunResult r = run(refusal.args);
        EXPECT_EQ(r.status, 1) << refusal.args;
        EXPECT_EQ(r.err, refusal.message) << refusal.args;
        EXPECT_EQ(r.out.find("complete"), std::string::npos) << refusal.args;
    }
    const RunResult beyond = run("-i cell -o x -z 1 1 -c 3 -t 1 1");
    EXPECT_EQ(beyond.out, cellEcho("x", 1, 1, 1, 1) + cellReport({}) +
                              "pinholeRadius = 0\nexcitation = 0\nemission = 0\n");
    const RunResult usage = run("-o x -z 1 1");
    EXPECT_EQ(usage.status, 1);
    EXPECT_EQ(usage.out, "output file : x\nzstart = 1 ; zend = 1\n");
    EXPECT_EQ(usage.err.rfind("The input is missing: give it with -i.\nusage: ics-split -i ", 0),
              0u)
        << usage.err;
    EXPECT_EQ(lsmtest::listFolder(dir.path), Names({"cell.ics", "cell.ids"}));
}

TEST_F(IcsSplit, InputsThatCannotBeSplitAreRefused) {
    const std::string tail = "\nTerminating...\n";
    const std::string compressRefused =
        "The input's data is compressed (compress); only uncompressed and gzip data can be split." +
        tail;
    const std::string header = lsmtest::readText(dir.file("cell.ics"));
    auto variant = [&](const std::string& name, const std::string& from, const std::string& to) {
        lsmtest::writeText(dir.file(name + ".ics"), header);
        lsmtest::writeBytes(dir.file(name + ".ids"), lsmtest::readBytes(dir.file("cell.ids")));
        replaceInHeader(name, from, to);
    };
    variant("packed", "compression\tuncompressed", "compression\tgzip");
    variant("shrunk", "compression\tuncompressed", "compression\tcompress");
    lsmtest::writeText(dir.file("dotz.ics"), header);  // its data file compressed by hand
    lsmtest::writeBytes(dir.file("dotz.ids.Z"), Bytes(16));
    variant("bits0", "significant_bits\t16", "significant_bits\t0");
    variant("bits17", "significant_bits\t16", "significant_bits\t17");
    variant("big", "byte_order\t1\t2", "byte_order\t2\t1");
    variant("sensors", "s_params\tChannels\t2", "s_params\tChannels\t33");
    lsmtest::writeText(dir.file("nodata.ics"), header);
    lsmtest::IcsImage six;
    six.sizes = {2, 2, 1, 1, 1, 2};
    six.labels = {"x", "y", "z", "t", "ch", "phase"};
    six.data = Bytes(2 * 2 * 2 * 2);
    lsmtest::writeIcs(dir.file("six"), six);
    const std::vector<Refusal> refusals = {
        {"missing", "Could not open ICS file for reading!\n"},
        {"nodata", "Could not open IDS file!\n"},
        {"packed", "The gzip data of packed.ids is corrupt (incorrect header check)." + tail},
        {"shrunk", compressRefused},
        {"dotz", compressRefused},
        {"six", "The input has 6 dimensions; at most 5 (x, y, z, t, ch) can be split." + tail},
        {"sensors", "The input header gives 33 sensor channels; libics holds at most 32." + tail},
        {"bits0",
         "The input's significant bits (0) must lie between 1 and its sample size (16 bits)." +
             tail},
        {"bits17",
         "The input's significant bits (17) must lie between 1 and its sample size (16 bits)." +
             tail},
        {"big",
         "The input's samples are stored big-endian, and an ICS image written here declares them "
         "in this machine's order; split it into TIFF planes (-tif) instead." +
             tail},
    };
    const Names before = lsmtest::listFolder(dir.path);
    for (const Refusal& refusal : refusals) {
        const RunResult r = run("-i " + refusal.args + ".ics -o out -z 1 1 -c 1 -t 1 1 -s1");
        EXPECT_EQ(r.status, 1) << refusal.args;
        EXPECT_EQ(r.err, refusal.message) << refusal.args;
    }
    EXPECT_EQ(lsmtest::listFolder(dir.path), before);
}

TEST_F(IcsSplit, AShortDataFileStopsTheRunAndEarlierPlanesStay) {
    Bytes data = lsmtest::readBytes(dir.file("cell.ids"));
    data.resize(48 + 24);
    lsmtest::writeBytes(dir.file("cell.ids"), data);
    const RunResult r = run("-i cell -o cut -z 1 2 -c 1 -t 1 1");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Could not read all data into buffer\nTerminating...\n");
    EXPECT_EQ(r.out.substr(r.out.find("emission = 510\n") + 15), tiffProgress(1, 1, 1, 1, 2));
    EXPECT_EQ(lsmtest::readTiff(dir.file("cut_ch01t0001z001.tif")).pixels, plane(cell, 1, 1, 1));
}

TEST_F(IcsSplit, OutputFilesThatCannotBeWrittenEndTheRun) {
    const std::string selection = " -z 1 1 -c 1 -t 1 1";
    const RunResult tiff = run("-i cell -o nodir/p" + selection);
    EXPECT_EQ(tiff.status, 1);
    EXPECT_EQ(tiff.err,
              "TIFFOpen: nodir/p_ch01t0001z001.tif: No such file or directory.\n"
              "Could not create TIFF file nodir/p_ch01t0001z001.tif!\nTerminating...\n");
    const RunResult one = run("-i cell -o nodir/p -s1" + selection);
    EXPECT_EQ(one.status, 1);
    EXPECT_EQ(one.err,
              "2. Could not close ICS file!\n"
              "Could not open ids image file for appending\nTerminating...\n");
    EXPECT_EQ(one.out.substr(one.out.size() - 8), "t1,z1\n0\n");
    const RunResult two = run("-i cell -o nodir/p -s2" + selection);
    EXPECT_EQ(two.status, 1);
    EXPECT_EQ(two.err,
              "Could not close ICS file!\n"
              "Could not open ids image file for appending\nTerminating...\n");

    // A header libics cannot write (a folder stands at its name): the data stays, status 1.
    ASSERT_EQ(mkdir(dir.file("h.ics").c_str(), 0755), 0);
    const RunResult header = run("-i cell -o h -s1" + selection);
    EXPECT_EQ(header.status, 1);
    EXPECT_EQ(header.err, "2. Could not close ICS file!\n"
                          "The ICS header was not written; the image data is in h.ids.\n"
                          "Terminating...\n");
    EXPECT_EQ(lsmtest::readBytes(dir.file("h.ids")), plane(cell, 1, 1, 1));
    const RunResult image = run("-i cell -o h -s2" + selection);
    EXPECT_EQ(image.status, 1);
    EXPECT_EQ(image.err, "Could not close ICS file!\n"
                         "The ICS image was not written; its data stays in h.ids.\n"
                         "Terminating...\n");
    EXPECT_EQ(lsmtest::readBytes(dir.file("h.ids")), plane(cell, 1, 1, 1));

    // Planes of 2 KiB against a file size limit of 1 block: the strip write fails.
    LsmContent wide = cell;
    wide.width = wide.height = 32;
    wide.channels = 1;
    wide.scanInfo.wavelengths = {488};
    convert("wide", wide, 1);
    const RunResult strip = runLimited(1, "-i wide -o w" + selection);
    EXPECT_EQ(strip.status, 1);
    EXPECT_EQ(strip.err,
              "TIFFAppendToStrip: Write error at scanline 0.\n"
              "Could not write to TIFF file!\nTerminating...\n");
    // Five planes (10 KiB) against 8 blocks: the header fits, the data file does not.
    const RunResult append = runLimited(8, "-i wide -o a -z 1 5 -c 1 -t 1 1 -s1");
    EXPECT_EQ(append.status, 1);
    EXPECT_EQ(append.err, "Could not append all data into file\nTerminating...\n");
    EXPECT_EQ(append.out.find("complete"), std::string::npos);
    // In version 2 the header and the planes before the limit stay in the one file.
    ASSERT_EQ(run("-i wide -o cut -z 1 5 -c 1 -t 1 1 -s2").status, 0);
    const Bytes whole = lsmtest::readBytes(dir.file("cut.ics"));
    const RunResult cut = runLimited(16, "-i wide -o cut -z 1 5 -c 1 -t 1 1 -s2");
    EXPECT_EQ(cut.status, 1);
    EXPECT_EQ(cut.err, "Could not append all data into file\nTerminating...\n");
    EXPECT_EQ(lsmtest::readBytes(dir.file("cut.ics")), Bytes(whole.begin(), whole.begin() + 8192));
}

bool holds(const std::string& path, const Bytes& bytes) {
    return lsmtest::fileExists(path) && lsmtest::readBytes(path) == bytes;
}

TEST_F(IcsSplit, AnIcsExportOntoItsOwnInputIsRefusedAndTheInputStays) {
    // The output base name is cut at its first ".": "cell.part" names the input itself.
    const Bytes header = lsmtest::readBytes(dir.file("cell.ics"));
    const Bytes data = lsmtest::readBytes(dir.file("cell.ids"));
    ASSERT_EQ(symlink(".", dir.file("same").c_str()), 0);
    const std::vector<Refusal> refusals = {
        {"-i cell -o cell.part -z 1 2 -c 2 -t 1 1 -s1", "cell.ics"},
        {"-i cell.ics -o same/cell -z 1 2 -c 2 -t 1 1 -s2", "same/cell.ics"},
    };
    auto restore = [&] {
        lsmtest::writeBytes(dir.file("cell.ics"), header);
        lsmtest::writeBytes(dir.file("cell.ids"), data);
    };
    for (const Refusal& refusal : refusals) {
        restore();
        const RunResult r = run(refusal.args);
        EXPECT_EQ(r.status, 1) << refusal.args;
        EXPECT_EQ(r.err, "The output " + refusal.message +
                             " is the input file cell.ics; give another name after "
                             "-o.\nTerminating...\n")
            << refusal.args;
        EXPECT_TRUE(holds(dir.file("cell.ics"), header)) << refusal.args;
        EXPECT_TRUE(holds(dir.file("cell.ids"), data)) << refusal.args;
        EXPECT_EQ(lsmtest::listFolder(dir.path), Names({"cell.ics", "cell.ids", "same"}));
    }
    // TIFF planes carry a suffix of their own and never meet the input.
    restore();
    EXPECT_EQ(run("-i cell -o cell -z 1 1 -c 1 -t 1 1").status, 0);
}

// The files a run left in folder, with their bytes; they are removed.
std::vector<std::pair<std::string, Bytes>> takeFiles(const std::string& folder) {
    std::vector<std::pair<std::string, Bytes>> files;
    for (const std::string& name : lsmtest::listFolder(folder)) {
        files.emplace_back(name, lsmtest::readBytes(folder + "/" + name));
        std::remove((folder + "/" + name).c_str());
    }
    return files;
}

TEST_F(IcsSplit, GzipImagesSplitAsTheirUncompressedTwins) {
    // x 6, y 4, z 5, t 3, ch 2 of 16 bits: stored uncompressed; as libics writes gzip data in
    // version 2 and in version 1; and gzipped by hand as img.ids.gz beside its header.
    lsmtest::IcsImage image;
    image.sizes = {6, 4, 5, 3, 2};
    image.labels = {"x", "y", "z", "t", "ch"};
    image.data = lsmtest::tiffPixels(6, 4 * 5 * 3 * 2, 16, 5);
    const Names twins = {"plain", "v2", "v1", "hand"};
    for (const std::string& twin : twins) {
        ASSERT_EQ(mkdir(dir.file(twin).c_str(), 0755), 0);
        ASSERT_EQ(mkdir(dir.file(twin + "/out").c_str(), 0755), 0);
        lsmtest::IcsImage stored = image;
        stored.version = twin == "v2" ? 2 : 1;
        stored.gzipLevel = twin == "v2" || twin == "v1" ? 6 : 0;
        lsmtest::writeIcs(dir.file(twin + "/img"), stored);
    }
    ASSERT_EQ(std::rename(dir.file("hand/img.ids").c_str(), dir.file("hand/img.raw").c_str()), 0);
    lsmtest::writeBytes(dir.file("hand/img.ids.gz"), lsmtest::gzipStream({image.data}));
    // A range from the middle with the channels backwards, and the whole image, which reaches
    // the stream's check.
    for (const std::string selection : {" -z 2 4 -c 2 1 -t 2 3", ""})
        for (const std::string mode : {" -tif", " -s1", " -s2", " -ome"}) {
            RunResult plain;
            std::vector<std::pair<std::string, Bytes>> plainFiles;
            for (const std::string& twin : twins) {
                const RunResult r = lsmtest::runProgram(
                    program, words("-i img -o out/p" + selection + mode), dir.file(twin));
                const auto files = takeFiles(dir.file(twin + "/out"));
                if (twin == "plain") {
                    ASSERT_EQ(r.status, 0) << r.err;
                    EXPECT_FALSE(files.empty());
                    plain = r;
                    plainFiles = files;
                    continue;
                }
                EXPECT_EQ(r.status, 0) << twin << selection << mode;
                EXPECT_EQ(r.err, plain.err) << twin << selection << mode;
                EXPECT_EQ(r.out, plain.out) << twin << selection << mode;
                EXPECT_EQ(files, plainFiles) << twin << selection << mode;
            }
        }
}

TEST_F(IcsSplit, DamagedGzipStreamsEndTheRunAfterTheirEarlierPlanes) {
    // Planes of 16 x 16 bytes, each ending on a byte boundary of the stream.
    std::vector<Bytes> planes;
    for (uint32_t z = 1; z <= 5; ++z) planes.push_back(lsmtest::tiffPixels(16, 16, 8, z));
    std::vector<size_t> ends;
    const Bytes whole = lsmtest::gzipStream({planes.begin(), planes.begin() + 4}, &ends);
    const Bytes cut(whole.begin(), whole.begin() + static_cast<long>(ends[1]));
    Bytes corrupt = cut;
    corrupt.push_back(0x07);  // a last block of the reserved type 3
    corrupt.insert(corrupt.end(), whole.begin() + static_cast<long>(ends[1]), whole.end());
    const Bytes noCheck(whole.begin(), whole.end() - 8);  // CRC-32 and length cut off
    Bytes members = lsmtest::gzipStream({planes.begin(), planes.begin() + 1});
    const Bytes second = lsmtest::gzipStream({planes.begin() + 1, planes.begin() + 4});
    members.insert(members.end(), second.begin(), second.end());
    Bytes badCheck = whole;
    badCheck[badCheck.size() - 8] ^= 1;  // the first byte of the CRC-32
    lsmtest::IcsImage image;  // a gzip header of four planes
    image.dataType = Ics_uint8;
    image.sizes = {16, 16, 4};
    image.labels = {"x", "y", "z"};
    image.gzipLevel = 6;
    image.data = Bytes(16 * 16 * 4);
    struct Damage {
        std::string name;
        Bytes stream;
        std::string message;
        int planesKept;
    };
    const std::string tail = ".\nTerminating...\n";
    const std::vector<Damage> damages = {
        {"cut", cut,
         "The gzip data of cut.ids ends early, after 512 of the image's 1024 bytes" + tail, 2},
        {"corrupt", corrupt, "The gzip data of corrupt.ids is corrupt (invalid block type)" + tail,
         2},
        {"check", badCheck, "The gzip data of check.ids is corrupt (incorrect data check)" + tail,
         3},
        {"nocheck", noCheck, "The gzip data of nocheck.ids ends before its check" + tail, 3},
        {"longer", lsmtest::gzipStream(planes), "", 4},  // a fifth plane the header does not have
        {"members", members, "", 4},  // two gzip members one after the other, whole
    };
    for (const Damage& d : damages) {
        lsmtest::writeIcs(dir.file(d.name), image);
        lsmtest::writeBytes(dir.file(d.name + ".ids"), d.stream);
        Bytes kept;
        for (int z = 0; z < d.planesKept; ++z)
            kept.insert(kept.end(), planes[z].begin(), planes[z].end());
        for (const std::string mode : {" -tif", " -s1", " -ome"}) {
            const RunResult r = run("-i " + d.name + " -o x" + d.name + mode);
            EXPECT_EQ(r.status, d.message.empty() ? 0 : 1) << d.name << mode;
            EXPECT_EQ(r.err, d.message) << d.name << mode;
            EXPECT_EQ(r.out.find("complete") != std::string::npos, d.message.empty()) << d.name;
        }
        EXPECT_TRUE(holds(dir.file("x" + d.name + ".ids"), kept)) << d.name;
        for (int z = 1; z <= 4; ++z) {
            const std::string tiff = dir.file(tiffName("x" + d.name, 1, 1, z));
            EXPECT_EQ(lsmtest::fileExists(tiff), z <= d.planesKept) << d.name << z;
            if (z <= d.planesKept) {
                EXPECT_EQ(lsmtest::readTiff(tiff).pixels, planes[z - 1]) << d.name << z;
            }
        }
    }
    // A range that stops before the last plane leaves the stream's end undecoded.
    EXPECT_EQ(run("-i check -o early -z 1 3").status, 0);
}

}  // namespace
