// image-info run on LSM files from the tests' writer, on plain TIFF files and on real files.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "lsm_writer.h"
#include "test_support.h"
#include "tiff_writer.h"

using lsmtest::Bytes;
using lsmtest::LsmContent;
using lsmtest::RunResult;

namespace {

const std::string program = PROGRAM_PATH;

const std::string couldNotOpen = "Could not open file.\nTerminating...\n";
const std::string notLittleEndian =
    "Incorrect file format. Did not find small endian identifier (II).\nTerminating...\n";
const std::string missingWavelengthsWarning =
    "Warning: the scan information holds fewer illumination wavelengths than the file has "
    "channels; 0 is printed for each missing one.\n";

constexpr size_t channelsInInfo = 20;  // byte offset of DimensionChannels in the block
constexpr size_t tiffEntrySize = 12;

// 8 x 4 pixels, one slice, one 16-bit channel lit at 488 nm, started 17 May 2006 13:45:02.
LsmContent smallStack() {
    LsmContent c;
    c.scanInfo.startTime = lsmtest::oleDate(2006, 5, 17, 13, 45, 2);
    return c;
}
const std::string smallStackLine = "1 1 16 0 0.1 0.1 0.5 1 488 2006:5:17:13:45:2 8 4\n";
const std::string smallStackImageFields = "1 1 16 0 0.1 0.1 0.5 1";

class ImageInfo : public testing::Test {
   protected:
    lsmtest::TempDir dir;

    RunResult run(const std::vector<std::string>& args) {
        return lsmtest::runProgram(program, args, dir.path, 20);
    }

    RunResult runOn(const std::string& name, const Bytes& bytes) {
        lsmtest::writeBytes(dir.file(name), bytes);
        return run({name});
    }

    RunResult runOn(const std::string& name, const LsmContent& c) {
        return runOn(name, lsmtest::buildLsmFile(c));
    }

    RunResult runOnTiff(const std::string& name, const lsmtest::TiffImage& image,
                        bool bigEndian = false) {
        lsmtest::writeTiff(dir.file(name), {image}, bigEndian);
        return run({name});
    }
};

void expectLine(const RunResult& r, const std::string& line) {
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, line);
    EXPECT_EQ(r.err, "");
}

void expectFailure(const RunResult& r, const std::string& out, const std::string& err) {
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, out);
    EXPECT_EQ(r.err, err);
}

TEST_F(ImageInfo, RecordingOfThirtySlicesAndTwoChannelsPrintsTheFullLine) {
    LsmContent c;
    c.width = 512;
    c.height = 512;
    c.slices = 30;
    c.channels = 2;
    c.bitsPerSample = 8;
    c.scanInfo.wavelengths = {488, 543};
    c.scanInfo.startTime = lsmtest::oleDate(2006, 5, 17, 13, 45, 2);
    lsmtest::writeLsmFile(dir.file("stack.lsm"), c);
    const std::string line = "30 1 8 0 0.1 0.1 0.5 2 488 543 2006:5:17:13:45:2 512 512\n";
    expectLine(run({"stack.lsm"}), line);
    expectLine(run({"stack.lsm", "more", "arguments"}), line);
}

TEST_F(ImageInfo, NumbersPrintWithSixSignificantDigits) {
    LsmContent c = smallStack();
    c.timeFrames = 3;
    c.timeInterval = 1234567.0;
    c.voxelSizeX = 1.23456789e-6;
    c.voxelSizeY = 6.918881841365326e-07;
    c.voxelSizeZ = 1e-19;
    c.scanInfo.wavelengths = {405.00000000000006, 561};  // one wavelength more than channels
    expectLine(runOn("stack.lsm", c),
               "1 3 16 1.23457e+06 1.23457 0.691888 1e-13 1 405 2006:5:17:13:45:2 8 4\n");
}

TEST_F(ImageInfo, NameContainingDotTifTakesTheTiffPathFirst) {
    // libtiff opens an LSM file too and reports its first image.
    expectLine(runOn("stack.lsm", smallStack()), smallStackLine);
    for (const char* name : {"stack.tif", "stack.tif.lsm", "stack.tiff"}) {
        const RunResult r = runOn(name, smallStack());
        EXPECT_EQ(r.status, 0) << name;
        EXPECT_EQ(r.out, "8 4 16\n") << name;
    }
    // The test is case-sensitive.
    expectLine(runOn("stack.TIF", smallStack()), smallStackLine);
}

TEST_F(ImageInfo, PlainTiffPrintsWidthHeightAndBitsPerSample) {
    expectLine(runOnTiff("plane.tif", lsmtest::tiffImage(512, 512, 8, 1)), "512 512 8\n");
    expectLine(runOnTiff("big-endian.tif", lsmtest::tiffImage(7, 3, 16, 2), true), "7 3 16\n");
    lsmtest::writeTiff(dir.file("two.tif"),
                       {lsmtest::tiffImage(5, 2, 16, 1), lsmtest::tiffImage(9, 9, 8, 2)});
    expectLine(run({"two.tif"}), "5 2 16\n");
}

TEST_F(ImageInfo, TiffWithoutBitsPerSamplePrintsTheDefaultOfOne) {
    lsmtest::TiffImage image = lsmtest::tiffImage(16, 2, 8, 1);
    image.writeBitsPerSample = false;
    const RunResult r = runOnTiff("bilevel.tif", image);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "16 2 1\n");
}

TEST_F(ImageInfo, NameThatLibtiffCannotOpenGoesThroughTheLsmPath) {
    // libtiff's own diagnostic comes first, then the LSM path's message.
    RunResult r = run({"a.tif"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    ASSERT_GT(r.err.size(), couldNotOpen.size());
    EXPECT_EQ(r.err.substr(r.err.size() - couldNotOpen.size()), couldNotOpen);

    lsmtest::writeText(dir.file("notes.tif"), "not an image at all");
    r = run({"notes.tif"});
    EXPECT_EQ(r.status, 1);
    ASSERT_GT(r.err.size(), notLittleEndian.size());
    EXPECT_EQ(r.err.substr(r.err.size() - notLittleEndian.size()), notLittleEndian);

    // An LSM file that libtiff refuses (its ImageWidth entry carries another tag) is still
    // reported: the LSM path reads no entry by its tag.
    lsmtest::LsmLayout layout;
    Bytes bytes = lsmtest::buildLsmFile(smallStack(), &layout);
    lsmtest::put16(bytes, layout.firstDirectory + 2 + tiffEntrySize, 255);
    r = runOn("no-width.tif", bytes);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, smallStackLine);
}

TEST_F(ImageInfo, FilesThatAreNotLsmFilesFailWithTheirMessage) {
    expectFailure(run({"missing.lsm"}), "", couldNotOpen);
    lsmtest::writeTiff(dir.file("big-endian.tif"), {lsmtest::tiffImage(4, 4, 8, 1)}, true);
    const Bytes bigEndian = lsmtest::readBytes(dir.file("big-endian.tif"));
    expectFailure(runOn("big-endian.lsm", bigEndian), "", notLittleEndian);
    Bytes notTiff = lsmtest::buildLsmFile(smallStack());
    lsmtest::put16(notTiff, 2, 43);
    expectFailure(runOn("magic.lsm", notTiff), "",
                  "Incorrect file format. Did not find TIFF identifier (42).\nTerminating...\n");
    // A little-endian plain TIFF passes the header tests; its last entry is not the LSM entry.
    lsmtest::writeTiff(dir.file("plain.tif"), {lsmtest::tiffImage(4, 4, 8, 1)});
    expectFailure(runOn("plain.lsm", lsmtest::readBytes(dir.file("plain.tif"))), "",
                  "LSM TAG nr (34412) WAS NOT FOUND !!!!!\nTerminating....\n");
}

TEST_F(ImageInfo, MissingFileNameArgumentPrintsUsage) {
    const RunResult r = run({});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.rfind("usage: image-info FILE\n", 0), 0u) << r.err;
}

// The first directory cut to entryCount entries, the LSM entry moved to the last place.
Bytes withFirstDirectoryOf(uint16_t entryCount) {
    lsmtest::LsmLayout layout;
    Bytes bytes = lsmtest::buildLsmFile(smallStack(), &layout);
    const size_t entries = layout.firstDirectory + 2;
    std::copy_n(
        bytes.begin() + static_cast<ptrdiff_t>(layout.lsmEntry), tiffEntrySize,
        bytes.begin() + static_cast<ptrdiff_t>(entries + (entryCount - 1u) * tiffEntrySize));
    lsmtest::put16(bytes, layout.firstDirectory, entryCount);
    return bytes;
}

TEST_F(ImageInfo, BitDepthIsTheFourthEntryOfTheFirstDirectory) {
    expectLine(runOn("four.lsm", withFirstDirectoryOf(5)), smallStackLine);
    expectFailure(runOn("three.lsm", withFirstDirectoryOf(4)), "",
                  "Incorrect file format. The first directory has fewer than four entries before "
                  "the LSM entry, so it holds no bits per sample.\nTerminating...\n");
}

TEST_F(ImageInfo, MissingWavelengthsPrintZeroWithOneWarning) {
    LsmContent c = smallStack();
    c.channels = 3;
    // A track without detection channels pairs no laser with a channel.
    lsmtest::TrackContent track;
    track.lasers = {{488, 1}};
    c.scanInfo.tracks = {track};
    const RunResult r = runOn("stack.lsm", c);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "1 1 16 0 0.1 0.1 0.5 3 488 0 0 2006:5:17:13:45:2 8 4\n");
    EXPECT_EQ(r.err, missingWavelengthsWarning);
    c.scanInfo.tracks.clear();
    c.scanInfo.wavelengths.clear();
    c.channels = 1;
    const RunResult none = runOn("none.lsm", c);
    EXPECT_EQ(none.status, 0);
    EXPECT_EQ(none.out, "1 1 16 0 0.1 0.1 0.5 1 0 2006:5:17:13:45:2 8 4\n");
    EXPECT_EQ(none.err, missingWavelengthsWarning);
}

TEST_F(ImageInfo, ScanInformationWithoutStartTimeFailsAfterTheImageFields) {
    const std::string noStartTime =
        "The scan information holds fewer than six date and time numbers: the start time of the "
        "recording cannot be printed.\nTerminating...\n";
    LsmContent c = smallStack();
    c.scanInfo.hasStartTime = false;
    expectFailure(runOn("one.lsm", c), smallStackImageFields, noStartTime);
    c.scanInfo.wavelengths = {488, 543, 633, 405, 561};  // five numbers in all
    expectFailure(runOn("five.lsm", c), smallStackImageFields, noStartTime);
}

TEST_F(ImageInfo, StartTimeThatIsNoCalendarDatePrintsMinusOnes) {
    LsmContent c = smallStack();
    c.scanInfo.startTime = 1e10;
    expectLine(runOn("stack.lsm", c), "1 1 16 0 0.1 0.1 0.5 1 488 -1:-1:-1:-1:-1:-1 8 4\n");
}

TEST_F(ImageInfo, ChannelCountOutsideWhatTheFileHoldsStaysBounded) {
    lsmtest::LsmLayout layout;
    Bytes bytes = lsmtest::buildLsmFile(smallStack(), &layout);
    lsmtest::put32(bytes, layout.lsmInfo + channelsInInfo, static_cast<uint32_t>(-2));
    expectLine(runOn("negative.lsm", bytes), "1 1 16 0 0.1 0.1 0.5 -2 2006:5:17:13:45:2 8 4\n");
    lsmtest::put32(bytes, layout.lsmInfo + channelsInInfo, 0x7FFFFFFFu);
    expectFailure(runOn("absurd.lsm", bytes), "1 1 16 0 0.1 0.1 0.5 2.14748e+09",
                  "The channel count is larger than the scan information could describe: every "
                  "channel needs at least one of its 12-byte entries.\nTerminating...\n");
}

TEST_F(ImageInfo, FatalMessageOfTheScanInformationFollowsTheImageFields) {
    LsmContent c = smallStack();
    lsmtest::appendScanBlockStart(c.rawScanInfo, 0x10000000);
    lsmtest::appendScanEntry(c.rawScanInfo, 0x10000001, 3, 0, {});
    const std::string message = "Data type not defined in LSM! (1)\nTerminating...\n";
    expectFailure(runOn("stack.lsm", c), smallStackImageFields, message);
#ifndef _WIN32  // no /bin/sh to join the two streams
    // The fields are on their way before the walk starts: one stream holds both in order.
    const RunResult both =
        lsmtest::runProgram("/bin/sh", {"-c", "\"$0\" stack.lsm 2>&1", program}, dir.path);
    EXPECT_EQ(both.status, 1);
    EXPECT_EQ(both.out, smallStackImageFields + message);
#endif
}

TEST_F(ImageInfo, RealMicroscopeFilesMatchWhatTifffileReads) {
    const std::string samples = SAMPLES_DIR;
    if (!lsmtest::fileExists(samples)) GTEST_SKIP() << "no sample folder";
#ifdef _WIN32
    GTEST_SKIP() << "no Debian python3";
#endif
    if (access("/usr/bin/python3", X_OK) != 0) GTEST_SKIP() << "no Debian python3";
    // The line composed from tifffile's reading of the same file, each channel lit by the one
    // laser in use of its track.
    const char* const tifffileLine =
        "import sys, datetime, tifffile\n"
        "with tifffile.TiffFile(sys.argv[1]) as t:\n"
        "    m = t.lsm_metadata\n"
        "    scan = m['ScanInformation']\n"
        "    lasers = []\n"
        "    for track in scan['Tracks']:\n"
        "        if track.get('Acquire', 1) == 0: continue\n"
        "        lit = [c['Wavelength'] for c in track.get('IlluminationChannels', [])\n"
        "               if c['Wavelength'] > 0 and c.get('Aquire', 1) != 0]\n"
        "        lasers += [lit[0] for d in track.get('DetectionChannels', [])\n"
        "                   if d.get('Acquire', 1) != 0 and len(lit) == 1]\n"
        "    channels = m['DimensionChannels']\n"
        "    lasers = (lasers + [0] * channels)[:channels]\n"
        "    start = datetime.datetime(1899, 12, 30) + datetime.timedelta(\n"
        "        seconds=round(scan['Sample0time'] * 86400))\n"
        "    interval = m.get('TimeIntervall', m.get('TimeInterval'))\n"
        "    fields = ['%g' % v for v in [m['DimensionZ'], m['DimensionTime']]]\n"
        "    fields.append('%d' % t.pages[0].bitspersample)\n"
        "    fields += ['%g' % v for v in [interval, m['VoxelSizeX'] * 1e6,\n"
        "               m['VoxelSizeY'] * 1e6, m['VoxelSizeZ'] * 1e6, channels] + lasers]\n"
        "    fields.append('%d:%d:%d:%d:%d:%d' % (start.year, start.month, start.day,\n"
        "                  start.hour, start.minute, start.second))\n"
        "    fields += ['%g' % m['DimensionX'], '%g' % m['DimensionY']]\n"
        "    print(' '.join(fields))\n";
    // Each channel carries the laser of its own track: nytra_test 405 488 543, and
    // lsm510_bead_lzw the 488 of the seven lasers its acquired track lists.
    for (const char* name : {"jimpipeline_test.lsm", "nytra_test.lsm", "lsm510_bead_lzw.lsm"}) {
        const std::string input = samples + "/" + name;
        const RunResult expected =
            lsmtest::runProgram("/usr/bin/python3", {"-c", tifffileLine, input}, dir.path);
        if (expected.status != 0)
            GTEST_SKIP() << "tifffile cannot read the samples: " << expected.err;
        expectLine(run({input}), expected.out);
    }
}

}  // namespace
