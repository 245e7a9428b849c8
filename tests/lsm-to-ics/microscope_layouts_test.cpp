// lsm-to-ics on LSM files as microscopes also write them: compressed planes, several stage
// positions, line scans stored as one image, unequal channel depths; and the copy of planes
// where the kernel cannot copy between files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "lsm_writer.h"
#include "test_support.h"

using lsmtest::Bytes;
using lsmtest::LsmContent;
using lsmtest::RunResult;

namespace {

const std::string program = PROGRAM_PATH;

LsmContent acquisition(uint32_t channels, uint32_t slices, uint32_t frames) {
    LsmContent c;
    c.width = 40;
    c.height = 7;
    c.channels = channels;
    c.slices = slices;
    c.timeFrames = frames;
    c.scanInfo.wavelengths = {488, 561, 633};
    c.scanInfo.wavelengths.resize(channels);
    return c;
}

class MicroscopeLayouts : public testing::Test {
protected:
    lsmtest::TempDir dir;

    // Runs lsm-to-ics on one file with the given options after the file's name.
    RunResult convert(const std::string& file, const std::vector<std::string>& options) {
        std::vector<std::string> args = {"-s", "1", "-j", "1", "-e", "1", file};
        args.insert(args.end(), options.begin(), options.end());
        return lsmtest::runProgram(program, args, dir.path);
    }

    std::string write(const std::string& name, const LsmContent& c) {
        lsmtest::writeBytes(dir.file(name), lsmtest::buildLsmFile(c));
        return name;
    }

    Bytes output(const std::string& name) { return lsmtest::readBytes(dir.file(name)); }
};

// The planes of the chosen channels of one position, every frame, slices zStart to zEnd.
Bytes planesOf(const LsmContent& c, const std::vector<uint32_t>& channels, uint32_t position,
               uint32_t zStart, uint32_t zEnd) {
    Bytes data;
    for (uint32_t channel : channels)
        for (uint32_t frame = 0; frame < lsmtest::frameCount(c); ++frame)
            for (uint32_t z = zStart - 1; z < zEnd; ++z) {
                const Bytes plane = lsmtest::planeData(c, channel - 1, z, frame, position - 1);
                data.insert(data.end(), plane.begin(), plane.end());
            }
    return data;
}

// Sets an environment variable for the programs this test runs, and restores it afterwards.
struct ScopedVariable {
    std::string name;
    std::string before;
    bool had;
    ScopedVariable(const std::string& variable, const std::string& value) : name(variable) {
        const char* old = std::getenv(name.c_str());
        had = old != nullptr;
        before = had ? old : "";
        setenv(name.c_str(), value.c_str(), 1);
    }
    ~ScopedVariable() {
        if (had)
            setenv(name.c_str(), before.c_str(), 1);
        else
            unsetenv(name.c_str());
    }
};

TEST_F(MicroscopeLayouts, PlanesAreReadAndWrittenWhereTheKernelCannotCopyThem) {
    write("a1.lsm", acquisition(2, 3, 2));
    const std::vector<std::string> options = {"-o", "v1", "-z", "1", "3", "-c", "2", "1", "-t",
                                              "1", "-S1"};
    const RunResult copied = convert("a?.lsm", options);
    ASSERT_EQ(copied.status, 0) << copied.err;
    const Bytes copiedData = output("v1.ids");
    std::remove(dir.file("v1.ids").c_str());
    const char* asan = std::getenv("ASAN_OPTIONS");
    // The sanitizer's runtime must otherwise come first among the preloaded libraries.
    ScopedVariable sanitizer("ASAN_OPTIONS",
                             std::string(asan ? asan : "") + ":verify_asan_link_order=0");
    ScopedVariable preload("LD_PRELOAD", NO_SENDFILE_PATH);
    const RunResult read = convert("a?.lsm", options);
    ASSERT_EQ(read.status, 0) << read.err;
    EXPECT_EQ(read.out, copied.out);
    EXPECT_EQ(output("v1.ids"), copiedData);
}

TEST_F(MicroscopeLayouts, CompressedFilesConvertAsTheirUncompressedTwins) {
    LsmContent stored = acquisition(2, 3, 2);
    LsmContent lzw = stored;
    lzw.compression = 5;
    lzw.predictor = 2;
    // The last image's last strip then runs to the file's end.
    lzw.thumbnailBeforePlanes = true;
    LsmContent lzw8 = acquisition(3, 2, 1);
    lzw8.bitsPerSample = 8;
    LsmContent stored8 = lzw8;
    lzw8.compression = 5;
    const struct {
        LsmContent stored, compressed;
        std::vector<std::string> options;
    } twins[] = {
        {stored, lzw, {"-o", "v1", "-z", "2", "3", "-c", "2", "1", "-t", "1", "-S1"}},
        {stored, lzw, {"-o", "v2", "-z", "1", "3", "-c", "1", "2", "-t", "4"}},
        {stored8, lzw8, {"-o", "v1", "-z", "1", "2", "-c", "3", "-t", "1", "-S1"}},
    };
    for (const auto& twin : twins) {
        const std::string name = twin.options[1] + (twin.options.back() == "-S1" ? ".ids" : ".ics");
        write("a1.lsm", twin.stored);
        const RunResult expected = convert("a?.lsm", twin.options);
        ASSERT_EQ(expected.status, 0) << expected.err;
        const Bytes expectedData = output(name);
        write("a1.lsm", twin.compressed);
        const RunResult decoded = convert("a?.lsm", twin.options);
        ASSERT_EQ(decoded.status, 0) << decoded.err;
        EXPECT_EQ(decoded.err, "");  // libtiff has nothing to say of the strips it is shown
        EXPECT_EQ(decoded.out, expected.out);
        EXPECT_EQ(output(name), expectedData) << name;
    }
}

TEST_F(MicroscopeLayouts, AStripThatDoesNotDecodeWholeEndsTheRunAfterThePlanesBeforeIt) {
    LsmContent c = acquisition(1, 3, 1);
    c.compression = 5;
    lsmtest::LsmLayout layout;
    const Bytes good = lsmtest::buildLsmFile(c, &layout);
    const std::vector<std::string> options = {"-o", "v1", "-z", "1", "3", "-c", "1", "-t", "1",
                                              "-S1"};
    // Image 2's strip overwritten with codes that are not in the table; the file cut inside the
    // last image's strip.
    Bytes corrupt = good;
    std::fill_n(corrupt.begin() + static_cast<long>(layout.imageStrips[1][0]),
                layout.imageStripBytes[1][0], 0xFF);
    Bytes cut = good;
    cut.resize(layout.imageStrips[2][0] + layout.imageStripBytes[2][0] / 2);
    const struct {
        Bytes file;
        int image;
    } cases[] = {{corrupt, 2}, {cut, 3}};
    for (const auto& damaged : cases) {
        lsmtest::writeBytes(dir.file("a1.lsm"), damaged.file);
        const RunResult r = convert("a?.lsm", options);
        EXPECT_EQ(r.status, 1);
        const std::string message = "a1.lsm: channel 1 of image " +
                                    std::to_string(damaged.image) +
                                    " does not decode to a whole plane.\nTerminating...\n";
        ASSERT_GE(r.err.size(), message.size());
        EXPECT_EQ(r.err.substr(r.err.size() - message.size()), message) << r.err;
        EXPECT_EQ(r.out.find("complete"), std::string::npos);
        EXPECT_EQ(output("v1.ids"), planesOf(c, {1}, 1, 1, damaged.image - 1));
    }
}

TEST_F(MicroscopeLayouts, APositionOfAFileWrittenFrameByFrameAcrossPositions) {
    LsmContent c = acquisition(1, 2, 3);
    c.positions = 3;
    c.infoBlockSize = 464;
    LsmContent lzw = c;
    lzw.compression = 5;
    for (const LsmContent& file : {c, lzw}) {
        write("p1.lsm", file);
        const RunResult r =
            convert("p?.lsm", {"-o", "v1", "-z", "1", "2", "-c", "1", "-t", "1", "-p", "2", "-S1"});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.out.find("time interval = 1\nposition = 2\n*****"), std::string::npos);
        EXPECT_EQ(output("v1.ids"), planesOf(file, {1}, 2, 1, 2));
    }
    // -p 1 on a file of one position changes nothing but its echo line.
    write("q1.lsm", acquisition(2, 2, 2));
    const RunResult plain = convert("q?.lsm", {"-o", "q", "-z", "1", "2", "-c", "2", "-t", "1"});
    const Bytes plainImage = output("q.ics");
    const RunResult first =
        convert("q?.lsm", {"-o", "q", "-z", "1", "2", "-c", "2", "-t", "1", "-p", "1"});
    EXPECT_EQ(first.out, "q\nzstart = 1 ; zend = 2\ntime interval = 1\nposition = 1\n" +
                             plain.out.substr(plain.out.find("*")));
    EXPECT_EQ(output("q.ics"), plainImage);
}

TEST_F(MicroscopeLayouts, PositionsTilesAndUnequalDepthsThatCannotBeConvertedAreRefused) {
    LsmContent positions = acquisition(1, 2, 1);
    positions.positions = 3;
    positions.infoBlockSize = 464;
    write("pos1.lsm", positions);
    LsmContent tiles = positions;
    tiles.positions = 1;
    tiles.tiles = 4;
    write("tile1.lsm", tiles);
    LsmContent depths = acquisition(2, 2, 1);
    depths.channelBits = {8, 16};
    write("depth1.lsm", depths);
    // Position 2's last plane said to lie where the file ends.
    lsmtest::LsmLayout layout;
    Bytes beyond = lsmtest::buildLsmFile(positions, &layout);
    lsmtest::put32(beyond, layout.directories[2 * 3] + 2 + 6 * 12 + 8,
                   static_cast<uint32_t>(beyond.size() - 10));
    lsmtest::writeBytes(dir.file("end1.lsm"), beyond);
    const struct {
        std::string file, position, message;
    } cases[] = {
        {"pos?.lsm", "", "pos1.lsm: it holds 3 positions; -p chooses one."},
        {"pos?.lsm", "4", "pos1.lsm: position 4 does not exist; the file has positions 1 to 3."},
        {"tile?.lsm", "", "tile1.lsm: it holds 4 mosaic tiles, which need stitching rather than "
                          "conversion."},
        {"depth?.lsm", "", "depth1.lsm: its channels differ in bit depth (8, 16 bits); only files "
                           "whose channels share one depth can be converted."},
        {"end?.lsm", "2", "end1.lsm: its 1 time frames of 2 slices do not fit in the file."},
    };
    for (const auto& refused : cases) {
        std::vector<std::string> options = {"-o", "out", "-z", "1", "2", "-c", "1", "-t", "1"};
        if (!refused.position.empty()) options.insert(options.end(), {"-p", refused.position});
        const RunResult r = convert(refused.file, options);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, refused.message + "\nTerminating...\n");
        EXPECT_EQ(r.out.find("t1,z0"), std::string::npos) << r.out;
    }
    const RunResult zero = convert("pos?.lsm", {"-o", "out", "-z", "1", "2", "-c", "1", "-t", "1",
                                                "-p", "0"});
    EXPECT_EQ(zero.err, "The position (-p) is counted from 1.\nTerminating...\n");
    EXPECT_EQ(lsmtest::listFolder(dir.path),
              std::vector<std::string>({"depth1.lsm", "end1.lsm", "pos1.lsm", "tile1.lsm"}));
}

TEST_F(MicroscopeLayouts, ALineScanStoredAsOneImageConvertsFrameByFrame) {
    LsmContent line = acquisition(2, 1, 300);
    line.height = 1;
    line.planesInOneImage = true;
    line.scanType = 2;
    LsmContent lzw = line;
    lzw.compression = 5;
    for (const LsmContent& file : {line, lzw}) {
        write("l1.lsm", file);
        const RunResult r =
            convert("l?.lsm", {"-o", "v1", "-z", "1", "1", "-c", "2", "-t", "0.5", "-S1"});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.out.find("t300,z0\ncomplete\n"), std::string::npos);
        EXPECT_EQ(output("v1.ids"), planesOf(file, {2}, 1, 1, 1));
        EXPECT_NE(lsmtest::readText(dir.file("v1.ics")).find("layout\tsizes\t16\t40\t1\t300\n"),
                  std::string::npos);
    }
}

}  // namespace
