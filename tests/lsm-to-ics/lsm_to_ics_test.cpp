// lsm-to-ics run on LSM series from the tests' writer: report, header, data bytes, failures.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <string>
#include <vector>

#include "ics_support.h"
#include "lsm_writer.h"
#include "test_support.h"

using lsmtest::Bytes;
using lsmtest::LsmContent;
using lsmtest::RunResult;

namespace {

const std::string program = PROGRAM_PATH;

LsmContent content(uint32_t channels, uint32_t slices, uint16_t bits = 16) {
    LsmContent c;
    c.width = 6;
    c.height = 3;
    c.channels = channels;
    c.slices = slices;
    c.bitsPerSample = bits;
    c.scanInfo.startTime = lsmtest::oleDate(2007, 5, 12, 10, 20, 30);
    c.scanInfo.wavelengths = {488, 543, 633, 405};
    c.scanInfo.wavelengths.resize(channels < 4 ? channels : 4);
    return c;
}

std::vector<std::string> split(const std::string& args) {
    std::vector<std::string> words;
    size_t at = 0;
    while ((at = args.find_first_not_of(' ', at)) != std::string::npos) {
        const size_t end = args.find(' ', at);
        words.push_back(args.substr(at, end - at));
        at = end;
    }
    return words;
}

// The report printed for every file opened.
std::string report(const LsmContent& c, int zCount, int timeCount, std::vector<int> channels) {
    std::string text = "************************ ORIGINAL LSMINFO ***************************** \n";
    text += "#zslices = " + std::to_string(c.slices) + " ; #timeframes = 1\n";
    text += "#rows = " + std::to_string(c.height) + " ; #cols = " + std::to_string(c.width) + "\n";
    text += "#channels = " + std::to_string(c.channels) +
            " ; bitdepth = " + std::to_string(c.bitsPerSample) + "\n";
    text += "\n************************ DESIRED EXTRACTION ***************************\n";
    text += "#zslices = " + std::to_string(zCount) +
            " ; #timeframes = " + std::to_string(timeCount) + "\n";
    text += "channel size " + std::to_string(channels.size()) + "\n";
    for (int channel : channels) text += "channel# = " + std::to_string(channel) + "\n";
    return text;
}

std::string progress(int zStart, int zEnd) {
    std::string text;
    for (int z = zStart - 1; z <= zEnd - 1; ++z) text += "t1,z" + std::to_string(z) + "\n";
    return text;
}

class LsmToIcs : public testing::Test {
protected:
    lsmtest::TempDir dir;

    // Writes one file per time point, pixel values varied by the time point.
    void writeSeries(const std::string& prefix, LsmContent c, int count) {
        for (int t = 1; t <= count; ++t) {
            c.seed = static_cast<uint32_t>(t);
            char name[64];
            std::snprintf(name, sizeof name, "%s%02d.lsm", prefix.c_str(), t);
            lsmtest::writeBytes(dir.file(name), lsmtest::buildLsmFile(c));
        }
    }

    RunResult run(const std::string& args) {
        return lsmtest::runProgram(program, split(args), dir.path);
    }

    struct RefusedLine {
        std::string args, message;  // the message without its "Terminating..." line
    };

    void expectRefused(const std::vector<RefusedLine>& lines) {
        for (const RefusedLine& line : lines) {
            const RunResult r = run(line.args);
            EXPECT_EQ(r.status, 1) << line.args;
            EXPECT_EQ(r.err, line.message + "\nTerminating...\n") << line.args;
        }
    }

    // The planes the data file must hold: channels, then time points, then slices.
    static Bytes expectedData(LsmContent c, const std::vector<int>& channels, int files,
                              int zStart, int zEnd) {
        Bytes data;
        for (int channel : channels)
            for (int t = 1; t <= files; ++t)
                for (int z = zStart - 1; z < zEnd; ++z) {
                    c.seed = static_cast<uint32_t>(t);
                    const Bytes plane = lsmtest::planeData(c, static_cast<uint32_t>(channel - 1),
                                                           static_cast<uint32_t>(z));
                    data.insert(data.end(), plane.begin(), plane.end());
                }
        return data;
    }
};

TEST_F(LsmToIcs, OneChannelOneSliceOneFileGivesATwoDimensionalImage) {
    const LsmContent c = content(1, 1);
    writeSeries("cell", c, 1);
    const RunResult r = run("-s 1 -j 1 -e 1 cell??.lsm -o out.ics -z 1 1 -c 1 -t 0 -S1");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, "out.ics\nzstart = 1 ; zend = 1\ntime interval = 0\n" +
                             report(c, 1, 1, {1}) + "Timestamp = 2007:5:12\nt1,z0\ncomplete\n");
    EXPECT_EQ(lsmtest::readBytes(dir.file("out.ids")), expectedData(c, {1}, 1, 1, 1));

    const lsmtest::IcsContents ics = lsmtest::readIcs(dir.file("out"));
    ASSERT_TRUE(ics.opened);
    EXPECT_EQ(ics.version, 1);
    EXPECT_EQ(ics.dataType, Ics_uint16);
    ASSERT_EQ(ics.dimensions.size(), 2u);
    EXPECT_EQ(ics.dimensions[0].label, "x");
    EXPECT_EQ(ics.dimensions[0].order, "x");
    EXPECT_EQ(ics.dimensions[1].label, "y");
    EXPECT_EQ(ics.dimensions[0].size, 6u);
    EXPECT_EQ(ics.dimensions[1].size, 3u);
    EXPECT_NEAR(ics.dimensions[0].scale, 0.1, 1e-9);
    EXPECT_EQ(ics.dimensions[1].units, "micrometers");
    EXPECT_EQ(ics.imelUnits, "bits");
    EXPECT_EQ(ics.sensorChannels, 1);
    EXPECT_EQ(ics.sensorModel, "PMT");
    EXPECT_EQ(ics.sensorTypes, std::vector<std::string>({"IncohConfMicr"}));
    EXPECT_NEAR(ics.numericalAperture, 1.4, 1e-9);
    EXPECT_NEAR(ics.pinholeRadius[0], static_cast<float>(488 * 0.61 / 1.4), 1e-5);
    EXPECT_EQ(ics.excitation[0], 488);
    EXPECT_EQ(ics.emission[0], 510);
    EXPECT_EQ(ics.photonCount[0], 1);
    EXPECT_NEAR(ics.mediumRefractiveIndex, 1.515, 1e-9);
    EXPECT_NEAR(ics.lensRefractiveIndex, 1.515, 1e-9);
    EXPECT_NEAR(ics.pinholeSpacing, 2.53, 1e-9);
    using History = std::vector<std::pair<std::string, std::string>>;
    EXPECT_EQ(ics.history, History({{"time_start", "1"}, {"time_end", "1"}}));
    EXPECT_EQ(ics.data, expectedData(c, {1}, 1, 1, 1));
}

TEST_F(LsmToIcs, ChannelsInTheGivenOrderFromValueArraysAtOffsets) {
    // Three channels: BitsPerSample, StripOffsets and StripByteCounts lie outside the entries;
    // one slice: there is no second image, and the bytes after the thumbnail are other data.
    const LsmContent c = content(3, 1, 8);
    writeSeries("s", c, 1);
    const RunResult r = run("-s 1 -j 1 -e 1 s??.lsm -o out -z 1 1 -c 3 1 -t 1.5 -S1");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "out\nzstart = 1 ; zend = 1\ntime interval = 1.5\n" + report(c, 1, 1, {3, 1}) +
                         "Timestamp = 2007:5:12\nt1,z0\n" + report(c, 1, 1, {3, 1}) +
                         "t1,z0\ncomplete\n");
    EXPECT_EQ(lsmtest::readBytes(dir.file("out.ids")), expectedData(c, {3, 1}, 1, 1, 1));
    const lsmtest::IcsContents ics = lsmtest::readIcs(dir.file("out"));
    EXPECT_EQ(ics.dataType, Ics_uint8);
    ASSERT_EQ(ics.dimensions.size(), 5u);
    EXPECT_EQ(ics.dimensions[4].label, "ch");
    EXPECT_EQ(ics.dimensions[4].scale, 2.0);
    EXPECT_EQ(ics.dimensions[4].units, "undefined");
    EXPECT_EQ(ics.dimensions[3].units, "seconds");
    EXPECT_EQ(ics.dimensions[3].scale, 1.5);
    // Each channel keeps its own wavelength, whatever its place in the selection.
    EXPECT_EQ(ics.excitation, std::vector<double>({633, 488}));
    EXPECT_EQ(ics.emission, std::vector<double>({569, 510}));
}

TEST_F(LsmToIcs, SeriesOfThreeFilesWithASliceRange) {
    const LsmContent c = content(2, 5);
    writeSeries("t", c, 3);
    const RunResult r = run("-S2 -s 1 -j 1 -e 3 t??.lsm -o res -z 2 4 -c 1 2 -t 2.5 -S1");
    ASSERT_EQ(r.status, 0) << r.err;
    std::string expected = "res\nzstart = 2 ; zend = 4\ntime interval = 2.5\n";
    for (int file = 0; file < 6; ++file)
        expected += report(c, 3, 3, {1, 2}) + (file == 0 ? "Timestamp = 2007:5:12\n" : "") +
                    progress(2, 4);
    EXPECT_EQ(r.out, expected + "complete\n");
    const Bytes data = expectedData(c, {1, 2}, 3, 2, 4);
    EXPECT_EQ(lsmtest::readBytes(dir.file("res.ids")), data);
    const lsmtest::IcsContents ics = lsmtest::readIcs(dir.file("res"));
    ASSERT_EQ(ics.dimensions.size(), 5u);
    const std::vector<size_t> sizes = {6, 3, 3, 3, 2};
    for (size_t d = 0; d < 5; ++d) EXPECT_EQ(ics.dimensions[d].size, sizes[d]);
    EXPECT_EQ(ics.dimensions[2].label, "z");
    EXPECT_NEAR(ics.dimensions[2].scale, 0.5, 1e-9);
    EXPECT_EQ(ics.history.back(), std::make_pair(std::string("time_end"), std::string("3")));
    EXPECT_EQ(ics.data, data);
}

TEST_F(LsmToIcs, VersionTwoLeavesOnlyTheHeaderWithTheDataInside) {
    const LsmContent c = content(2, 3);
    writeSeries("v", c, 2);
    const RunResult r = run("-s 1 -j 1 -e 2 v??.lsm -o v2 -z 1 3 -c 2 -t 1 -S1 -s2");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_FALSE(lsmtest::fileExists(dir.file("v2.ids")));
    const lsmtest::IcsContents ics = lsmtest::readIcs(dir.file("v2"));
    EXPECT_EQ(ics.version, 2);
    ASSERT_EQ(ics.dimensions.size(), 4u);  // one channel: x, y, z, t
    EXPECT_EQ(ics.data, expectedData(c, {2}, 2, 1, 3));
    EXPECT_EQ(lsmtest::listFolder(dir.path),
              std::vector<std::string>({"v01.lsm", "v02.lsm", "v2.ics"}));
}

TEST_F(LsmToIcs, OneChannelOneSliceSeveralFilesPutsTimeAtDimensionTwo) {
    const LsmContent c = content(1, 2);
    writeSeries("p", c, 3);
    const RunResult r = run("-s 1 -j 1 -e 3 p??.lsm -o out -z 2 2 -c 1 -t 4 -S1");
    ASSERT_EQ(r.status, 0) << r.err;
    const lsmtest::IcsContents ics = lsmtest::readIcs(dir.file("out"));
    ASSERT_EQ(ics.dimensions.size(), 3u);
    EXPECT_EQ(ics.dimensions[2].label, "t");
    EXPECT_EQ(ics.dimensions[2].size, 3u);
    EXPECT_EQ(ics.dimensions[2].scale, 4.0);
    EXPECT_EQ(ics.dimensions[2].units, "seconds");
    EXPECT_EQ(lsmtest::readBytes(dir.file("out.ids")), expectedData(c, {1}, 3, 2, 2));
}

TEST_F(LsmToIcs, OptionValuesThatEqualOptionWordsAreReadAgainAsOptions) {
    const LsmContent c = content(2, 1);
    writeSeries("o", c, 2);
    // The output name "-S1" is also the version option; the "-t" closing the channel list is
    // the time option; the series steps over the second file.
    const RunResult r = run("-s 1 -j 2 -e 2 o??.lsm -z 1 1 -c 2 -t 3 -o -S1");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "zstart = 1 ; zend = 1\ntime interval = 3\n-S1\n" + report(c, 1, 1, {2}) +
                         "Timestamp = 2007:5:12\nt1,z0\ncomplete\n");
    EXPECT_TRUE(lsmtest::fileExists(dir.file("-S1.ics")));
    EXPECT_EQ(lsmtest::readBytes(dir.file("-S1.ids")), expectedData(c, {2}, 1, 1, 1));
}

TEST_F(LsmToIcs, NoChannelOrNoFileCompletesWithAnEmptyDataFile) {
    writeSeries("e", content(1, 1), 1);
    for (const char* args : {"-s 1 -j 1 -e 1 e??.lsm -o a -z 1 1 -c -t 1 -S1",
                             "-s 1 -j 1 -e 1 e??.lsm -o b -z 1 1 -c -t 1",
                             "-s 5 -j 1 -e 1 e??.lsm -o c -z 1 1 -c 1 -t 1"}) {
        const RunResult r = run(args);
        EXPECT_EQ(r.status, 0) << args;
        EXPECT_EQ(r.out.substr(r.out.size() - 9), "complete\n") << args;
        EXPECT_EQ(r.out.find("ORIGINAL"), std::string::npos) << args;
    }
    EXPECT_EQ(lsmtest::listFolder(dir.path),
              std::vector<std::string>({"a.ids", "b.ids", "c.ids", "e01.lsm"}));
    EXPECT_TRUE(lsmtest::readBytes(dir.file("b.ids")).empty());
}

TEST_F(LsmToIcs, CommandLineFaultsAreRefusedBeforeAnyFileIsCreated) {
    writeSeries("f", content(2, 3), 1);
    const std::string series = "-s 1 -j 1 -e 1 f??.lsm ";
    const std::vector<RefusedLine> cases = {
        {series + "-o x -c 1 -t 1 -z 1", "Option -z needs 2 value(s) after it."},
        {series + "-z 1 1 -c 1 -t 1 -o", "Option -o needs 1 value(s) after it."},
        {series + "-o x -z 1 1 -c 1 2", "The channel list after -c must be closed by -t."},
        {"-e 1 f??.lsm -s 1 -j 1 -o x -z 1 1 -c 1 -t 1",
         "Option -e must come after -s and -j: the series is expanded where -e stands."},
        {series + "-e 1 f??.lsm -o x -z 1 1 -c 1 -t 1", "Option -e may be given only once."},
        {"-s 1 -j 1 -e 1 f?a?.lsm -o x -z 1 1 -c 1 -t 1",
         "The \"?\" marks of the pattern f?a?.lsm must form one run."},
        {"-s 1 -j 1 -e 100 f??.lsm -o x -z 1 1 -c 1 -t 1",
         "Series number 100 needs more digits than the pattern f??.lsm has \"?\" marks."},
        {"-s -1 -j 1 -e 1 f??.lsm -o x -z 1 1 -c 1 -t 1",
         "Series numbers cannot be negative (-s -1)."},
        {"-s 1 -j 0 -e 1 f??.lsm -o x -z 1 1 -c 1 -t 1",
         "The series step (-j 0) must be above 0 for the series 1 to 1 to end."},
        {series + "-o x -z 0 1 -c 1 -t 1", "The first slice (-z) must be 1 or more."},
        {series + "-o x -z 3 2 -c 1 -t 1", "The last slice (-z 3 2) must not lie below the first."},
        {series + "-o x -z 1 1 -c 1 0 -t 1", "Channel numbers start at 1 (-c ... 0)."},
        {series + "-o " + std::string(508, 'o') + " -z 1 1 -c 1 -t 1",
         "An ICS file name of 512 characters is too long for libics, which takes at most 511."},
        {series + "-z 1 1 -c 1 -t 1",
         "The output base name is empty: the name after -o is cut at its first \".\", so give "
         "one such as -o out/cell."},
        {series + "-o ./out/result -z 1 1 -c 1 -t 1",
         "The output base name is empty: the name after -o is cut at its first \".\", so give "
         "one such as -o out/cell."},
    };
    expectRefused(cases);
    // Without a file, -z has nothing to be taken from.
    const RunResult usage = run("-o x -c 1 -t 1");
    EXPECT_EQ(usage.status, 1);
    EXPECT_EQ(usage.err.rfind("No input file: name the LSM files, or a series with -s, -j and "
                              "-e.\nusage: lsm-to-ics ",
                              0),
              0u)
        << usage.err;
    EXPECT_EQ(lsmtest::listFolder(dir.path), std::vector<std::string>({"f01.lsm"}));
}

void expectFatal(const lsmtest::RunResult& r, const std::string& message) {
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, message + "\n");
}

TEST_F(LsmToIcs, FilesThatCannotBeConvertedStopTheRun) {
    LsmContent c = content(2, 3);
    c.seed = 1;
    lsmtest::LsmLayout layout;
    const Bytes good = lsmtest::buildLsmFile(c, &layout);
    auto variant = [&](const std::string& name, auto change) {
        Bytes bytes = good;
        change(bytes);
        lsmtest::writeBytes(dir.file(name), bytes);
    };
    variant("mm01.lsm", [](Bytes& b) { b[0] = b[1] = 'M'; });
    variant("magic01.lsm", [](Bytes& b) { b[2] = 43; });
    variant("tag01.lsm", [&](Bytes& b) { lsmtest::put16(b, layout.lsmEntry, 34411); });
    variant("packed01.lsm", [&](Bytes& b) { lsmtest::put32(b, 8 + 2 + 4 * 12 + 8, 7); });
    variant("bits01.lsm", [&](Bytes& b) { lsmtest::put32(b, 8 + 2 + 3 * 12 + 8, 12 | 12 << 16); });
    variant("short01.lsm", [&](Bytes& b) { b.resize(layout.pixelData + 2 * layout.planeStride); });
    variant("third01.lsm", [&](Bytes& b) { lsmtest::put16(b, layout.directories[2], 6); });
    variant("nodate01.lsm", [&](Bytes& b) {
        LsmContent noDate = c;
        noDate.scanInfo.hasStartTime = false;
        b = lsmtest::buildLsmFile(noDate);
    });
    const std::string rest = " -o out -z 1 3 -c 1 -t 1 -S1";
    auto runOn = [&](const std::string& prefix, const std::string& tail = "") {
        return run("-s 1 -j 1 -e 1 " + prefix + "??.lsm" + (tail.empty() ? rest : tail));
    };
    expectFatal(runOn("missing"), "Could not open file.\nTerminating...");
    expectFatal(runOn("mm"), "Incorrect file format.\nTerminating...");
    expectFatal(runOn("magic"), "Incorrect file format.\nTerminating...");
    expectFatal(runOn("tag"), "LSM TAG nr (34412) WAS NOT FOUND !!!!!\nTerminating....");
    expectFatal(runOn("packed"),
                "packed01.lsm: the image data is compressed (Compression 7), which cannot be "
                "decoded; uncompressed, LZW, Deflate and PackBits data can.\nTerminating...");
    expectFatal(runOn("bits"),
                "bits01.lsm: a bit depth of 12 is not supported; only 8 and 16 bits per sample "
                "can be converted.\nTerminating...");
    expectFatal(runOn("third"),
                "third01.lsm: the second image's directory has fewer than seven "
                "entries.\nTerminating...");
    expectFatal(runOn("nodate"),
                "The scan information holds no start time of the recording.\nTerminating...");
    writeSeries("good", c, 1);
    expectFatal(runOn("good", " -o out -z 1 3 -c 3 -t 1"),
                "good01.lsm: channel 3 does not exist; the file has channels 1 to "
                "2.\nTerminating...");
    expectFatal(runOn("good", " -o out -z 2 4 -c 1 -t 1"),
                "good01.lsm: slice 4 does not exist; the file has slices 1 to 3.\nTerminating...");

    // A plane cut short by the end of the file: the planes before it stay in the data file.
    const RunResult shortRun = runOn("short");
    expectFatal(shortRun, "Could not read all data into buffer\nTerminating...");
    EXPECT_EQ(shortRun.out.substr(shortRun.out.size() - 12), "t1,z1\nt1,z2\n");
    EXPECT_EQ(lsmtest::readBytes(dir.file("out.ids")), expectedData(c, {1}, 1, 1, 2));
}

TEST_F(LsmToIcs, ADataFileThatCannotBeWrittenStopsTheRun) {
    writeSeries("x", content(1, 2), 1);
    // No folder to create the data file in: libics cannot write its header either.
    const RunResult missing = run("-s 1 -j 1 -e 1 x??.lsm -o nowhere/out -z 1 2 -c 1 -t 1 -S1");
    expectFatal(missing, "2. Could not close ICS file!\n"
                         "Could not open ids image file for appending\nTerminating...");
    EXPECT_EQ(missing.out.substr(missing.out.size() - 6), "t1,z0\n");
    // A full disk: the data file is a link to /dev/full.
    ASSERT_EQ(symlink("/dev/full", dir.file("full.ids").c_str()), 0);
    const RunResult full = run("-s 1 -j 1 -e 1 x??.lsm -o full -z 1 2 -c 1 -t 1 -S1");
    expectFatal(full, "2. Could not close ICS file!\n"
                      "Could not append all data into file\nTerminating...");
    // In version 2 the one file is on the full disk: the planes go to a data file instead.
    ASSERT_EQ(symlink("/dev/full", dir.file("disk.ics").c_str()), 0);
    const RunResult disk = run("-s 1 -j 1 -e 1 x??.lsm -o disk -z 1 2 -c 1 -t 1");
    expectFatal(disk, "Could not close ICS file!\n"
                      "The ICS image was not written; its data stays in disk.ids.\nTerminating...");
    EXPECT_EQ(lsmtest::readBytes(dir.file("disk.ids")), expectedData(content(1, 2), {1}, 1, 1, 2));
}

TEST_F(LsmToIcs, AVersionTwoRunCutShortKeepsItsHeaderAndThePlanesWritten) {
    lsmtest::LsmLayout layout;
    Bytes file = lsmtest::buildLsmFile(content(1, 3), &layout);
    lsmtest::writeBytes(dir.file("v01.lsm"), file);
    ASSERT_EQ(run("-s 1 -j 1 -e 1 v??.lsm -o cut -z 1 3 -c 1 -t 1").status, 0);
    const Bytes whole = lsmtest::readBytes(dir.file("cut.ics"));
    file.resize(layout.pixelData + 2 * layout.planeStride + layout.planeBytes - 1);
    lsmtest::writeBytes(dir.file("v01.lsm"), file);  // the last plane is one byte short
    expectFatal(run("-s 1 -j 1 -e 1 v??.lsm -o cut -z 1 3 -c 1 -t 1"),
                "Could not read all data into buffer\nTerminating...");
    EXPECT_EQ(lsmtest::readBytes(dir.file("cut.ics")),
              Bytes(whole.begin(), whole.end() - static_cast<long>(layout.planeBytes)));
    EXPECT_FALSE(lsmtest::fileExists(dir.file("cut.ids")));
}

TEST_F(LsmToIcs, AHeaderLibicsCannotWriteEndsWithStatus1AndKeepsTheData) {
    const LsmContent c = content(1, 2);
    writeSeries("h", c, 1);
    ASSERT_EQ(mkdir(dir.file("out.ics").c_str(), 0755), 0);  // where the header should go
    const RunResult one = run("-s 1 -j 1 -e 1 h??.lsm -o out -z 1 2 -c 1 -t 1 -S1");
    expectFatal(one, "2. Could not close ICS file!\n"
                     "The ICS header was not written; the image data is in out.ids.\n"
                     "Terminating...");
    EXPECT_EQ(lsmtest::readBytes(dir.file("out.ids")), expectedData(c, {1}, 1, 1, 2));
    const RunResult two = run("-s 1 -j 1 -e 1 h??.lsm -o out -z 1 2 -c 1 -t 1 -S2");
    expectFatal(two, "Could not close ICS file!\n"
                     "The ICS image was not written; its data stays in out.ids.\nTerminating...");
    EXPECT_EQ(lsmtest::readBytes(dir.file("out.ids")), expectedData(c, {1}, 1, 1, 2));
}

TEST_F(LsmToIcs, AFileUnlikeTheFirstIsRefusedAndEarlierPlanesStay) {
    LsmContent c = content(1, 1);
    writeSeries("d", c, 1);
    c.width = 7;
    c.seed = 2;
    lsmtest::writeBytes(dir.file("d02.lsm"), lsmtest::buildLsmFile(c));
    const RunResult r = run("-s 1 -j 1 -e 2 d??.lsm -o out -z 1 1 -c 1 -t 1 -S1");
    expectFatal(r,
                "d02.lsm: its size or bit depth (7 x 3, 16 bits) differs from the first file's "
                "(6 x 3, 16 bits).\nTerminating...");
    EXPECT_EQ(lsmtest::readBytes(dir.file("out.ids")), expectedData(content(1, 1), {1}, 1, 1, 1));
}

TEST_F(LsmToIcs, MissingScanInformationLeavesItsSensorValuesOutWithAWarning) {
    LsmContent c = content(2, 1);
    // A track without detection channels pairs no laser with a channel: each channel takes
    // the wavelength of its number, and there is none for channel 2.
    lsmtest::TrackContent track;
    track.lasers = {{561, 1}};
    c.scanInfo.tracks = {track};
    c.scanInfo.objective = "Plan-Neofluar 40x Oil";
    writeSeries("w", c, 1);
    const RunResult r = run("-s 1 -j 1 -e 1 w??.lsm -o out -z 1 1 -c 1 2 -t 1 -S1");
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.err,
              "Warning: the objective's numerical aperture is unknown; the numerical aperture and "
              "the pinhole radii are not written.\n"
              "Warning: the scan information holds no illumination wavelength for channel 2; its "
              "sensor parameters are not written.\n");
    EXPECT_EQ(lsmtest::readBytes(dir.file("out.ids")), expectedData(c, {1, 2}, 1, 1, 1));
    const lsmtest::IcsContents ics = lsmtest::readIcs(dir.file("out"));
    EXPECT_EQ(ics.excitation, std::vector<double>({561, 0}));
    EXPECT_EQ(ics.emission, std::vector<double>({569, 0}));
    EXPECT_EQ(ics.pinholeRadius, std::vector<double>({0, 0}));
    EXPECT_EQ(ics.numericalAperture, 0);
}

TEST_F(LsmToIcs, MoreChannelsThanLibicsHoldsAreWrittenWithoutSensorParameters) {
    const LsmContent c = content(1, 1);
    writeSeries("m", c, 1);
    std::string channels;
    for (int i = 0; i < 33; ++i) channels += "1 ";
    const RunResult r = run("-s 1 -j 1 -e 1 m??.lsm -o out -z 1 1 -c " + channels + "-t 1 -S1");
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.err,
              "More than 32 channels: the sensor parameters are not written to the ICS header.\n");
    const lsmtest::IcsContents ics = lsmtest::readIcs(dir.file("out"));
    ASSERT_EQ(ics.dimensions.size(), 5u);
    EXPECT_EQ(ics.dimensions[4].size, 33u);
    EXPECT_EQ(ics.sensorChannels, 0);
    EXPECT_EQ(lsmtest::readBytes(dir.file("out.ids")).size(), 33u * 6 * 3 * 2);
}

TEST_F(LsmToIcs, StripOffsetsOfTwoGibibytesAndMoreAreFileOffsets) {
    // A sparse file whose one plane lies at 2^31: the offset reads as negative in the entry.
    const LsmContent c = content(1, 1);
    lsmtest::LsmLayout layout;
    Bytes bytes = lsmtest::buildLsmFile(c, &layout);
    const uint64_t far = 0x80000000ull;
    const Bytes plane = lsmtest::planeData(c, 0, 0);
    lsmtest::put32(bytes, 8 + 2 + 6 * 12 + 8, static_cast<uint32_t>(far));
    bytes.resize(layout.pixelData);
    lsmtest::writeBytes(dir.file("big01.lsm"), bytes);
    FILE* file = std::fopen(dir.file("big01.lsm").c_str(), "r+b");
    ASSERT_TRUE(file);
    ASSERT_EQ(fseeko(file, static_cast<off_t>(far), SEEK_SET), 0);
    ASSERT_EQ(std::fwrite(plane.data(), 1, plane.size(), file), plane.size());
    std::fclose(file);
    const RunResult r = run("-s 1 -j 1 -e 1 big??.lsm -o out -z 1 1 -c 1 -t 1 -S1");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(lsmtest::readBytes(dir.file("out.ids")), plane);
}

TEST_F(LsmToIcs, RealMicroscopeFilesMatchWhatTifffileReads) {
    const std::string samples = SAMPLES_DIR;
    if (!lsmtest::fileExists(samples)) GTEST_SKIP() << "no sample folder";
    if (access("/usr/bin/python3", X_OK) != 0) GTEST_SKIP() << "no Debian python3";
    struct Sample {
        const char* name;
        int channels;
    };
    for (const Sample& sample : {Sample{"jimpipeline_test", 1}, Sample{"nytra_test", 3}}) {
        const std::string input = samples + "/" + sample.name + ".lsm";
        const std::string planes = dir.file(std::string(sample.name) + ".raw");
        const RunResult dump = lsmtest::runProgram(
            "/usr/bin/python3",
            {"-c",
             "import sys, tifffile\n"
             "with tifffile.TiffFile(sys.argv[1]) as t:\n"
             "    t.series[0].asarray().tofile(sys.argv[2])\n",
             input, planes},
            dir.path);
        if (dump.status != 0) GTEST_SKIP() << "tifffile cannot read the samples: " << dump.err;
        std::string channels;
        for (int ch = 1; ch <= sample.channels; ++ch) channels += std::to_string(ch) + " ";
        lsmtest::writeBytes(dir.file("real01.lsm"), lsmtest::readBytes(input));
        const RunResult r =
            run("-s 1 -j 1 -e 1 real??.lsm -o real -z 1 1 -c " + channels + "-t 1 -S1");
        EXPECT_EQ(r.status, 0) << sample.name << ": " << r.err;
        EXPECT_EQ(lsmtest::readBytes(dir.file("real.ids")), lsmtest::readBytes(planes))
            << sample.name;
    }
    // Every channel carries its own track's laser, in whatever order it is chosen; the LSM 510
    // file's track lists seven lasers and uses the 488.
    struct Lasers {
        const char* name;
        const char* channels;
        std::vector<double> excitation;
    };
    for (const Lasers& sample : {Lasers{"nytra_test", "3 1 2", {543, 405, 488}},
                                 Lasers{"jimpipeline_test", "1", {561}},
                                 Lasers{"lsm510_bead_lzw", "1", {488}}}) {
        const RunResult r = run(samples + "/" + sample.name + ".lsm -o lasers -z 1 1 -c " +
                                sample.channels + " -t 1 -S1");
        EXPECT_EQ(r.status, 0) << sample.name << ": " << r.err;
        EXPECT_EQ(lsmtest::readIcs(dir.file("lasers")).excitation, sample.excitation)
            << sample.name;
    }
}

}  // namespace

namespace {

// The planes of time-lapse files in output order: channels, files, frames, slices.
Bytes timeLapseData(LsmContent c, const std::vector<int>& channels, int files, int zStart,
                    int zEnd) {
    Bytes data;
    for (int channel : channels)
        for (int t = 1; t <= files; ++t)
            for (uint32_t frame = 0; frame < c.timeFrames; ++frame)
                for (int z = zStart - 1; z < zEnd; ++z) {
                    c.seed = static_cast<uint32_t>(t);
                    const Bytes plane =
                        lsmtest::planeData(c, static_cast<uint32_t>(channel - 1),
                                           static_cast<uint32_t>(z), frame);
                    data.insert(data.end(), plane.begin(), plane.end());
                }
    return data;
}

}  // namespace

TEST_F(LsmToIcs, EveryFrameOfATimeLapseFileIsConverted) {
    // A 2-D time lapse: five frames of one slice.
    LsmContent flat = content(1, 1);
    flat.timeFrames = 5;
    writeSeries("flat", flat, 1);
    const RunResult r = run("-s 1 -j 1 -e 1 flat??.lsm -o flat -z 1 1 -c 1 -t 2 -S1");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("#zslices = 1 ; #timeframes = 5\n#rows"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("DESIRED EXTRACTION ***************************\n"
                         "#zslices = 1 ; #timeframes = 5\n"),
              std::string::npos);
    EXPECT_EQ(r.out.substr(r.out.find("t1,z0")), "t1,z0\nt2,z0\nt3,z0\nt4,z0\nt5,z0\ncomplete\n");
    EXPECT_EQ(lsmtest::readBytes(dir.file("flat.ids")), timeLapseData(flat, {1}, 1, 1, 1));
    const lsmtest::IcsContents flatIcs = lsmtest::readIcs(dir.file("flat"));
    ASSERT_EQ(flatIcs.dimensions.size(), 3u);
    EXPECT_EQ(flatIcs.dimensions[2].label, "t");
    EXPECT_EQ(flatIcs.dimensions[2].size, 5u);
    EXPECT_EQ(flatIcs.history.back().second, "5");

    // Two files of four frames of three slices, slices 2 and 3 of channels 2 and 1, version 2.
    LsmContent deep = content(2, 3);
    deep.timeFrames = 4;
    writeSeries("deep", deep, 2);
    const RunResult d = run("-s 1 -j 1 -e 2 deep??.lsm -o deep -z 2 3 -c 2 1 -t 2");
    ASSERT_EQ(d.status, 0) << d.err;
    EXPECT_NE(d.out.find("#zslices = 2 ; #timeframes = 8\n"), std::string::npos);
    const lsmtest::IcsContents deepIcs = lsmtest::readIcs(dir.file("deep"));
    std::vector<size_t> sizes;
    for (const lsmtest::IcsDimension& dimension : deepIcs.dimensions)
        sizes.push_back(dimension.size);
    EXPECT_EQ(sizes, std::vector<size_t>({6, 3, 2, 8, 2}));
    EXPECT_EQ(deepIcs.history.back().second, "8");
    EXPECT_EQ(deepIcs.data, timeLapseData(deep, {2, 1}, 2, 2, 3));

    // A frame count of 0 counts as one frame.
    LsmContent none = content(1, 2);
    none.timeFrames = 0;
    writeSeries("none", none, 1);
    const RunResult n = run("-s 1 -j 1 -e 1 none??.lsm -o none -z 1 2 -c 1 -t 2 -S1");
    ASSERT_EQ(n.status, 0) << n.err;
    EXPECT_EQ(lsmtest::readBytes(dir.file("none.ids")), expectedData(none, {1}, 1, 1, 2));
}

TEST_F(LsmToIcs, TimeLapseFilesWhoseFramesDoNotMatchOrFitAreRefused) {
    LsmContent first = content(1, 2);
    first.timeFrames = 3;
    writeSeries("m", first, 1);
    LsmContent c = first;
    c.timeFrames = 2;
    c.seed = 2;
    lsmtest::writeBytes(dir.file("m02.lsm"), lsmtest::buildLsmFile(c));
    expectFatal(run("-s 1 -j 1 -e 2 m??.lsm -o m -z 1 2 -c 1 -t 1 -S1"),
                "m02.lsm: it holds 2 time frames, the first file 3; every file of a series must "
                "hold as many.\nTerminating...");
    EXPECT_EQ(lsmtest::readBytes(dir.file("m.ids")), timeLapseData(first, {1}, 1, 1, 2));

    // A frame count far beyond the file's images: refused before a plane of it is copied.
    lsmtest::LsmLayout layout;
    Bytes file = lsmtest::buildLsmFile(c, &layout);
    lsmtest::put32(file, layout.lsmInfo + 6 * 4, 1000000);  // DimensionTime
    lsmtest::writeBytes(dir.file("big01.lsm"), file);
    const RunResult big = run("-s 1 -j 1 -e 1 big??.lsm -o big -z 1 2 -c 1 -t 1 -S1");
    expectFatal(big, "big01.lsm: its 1000000 time frames of 2 slices do not fit in the "
                     "file.\nTerminating...");
    EXPECT_EQ(big.out.find("t1,z0"), std::string::npos);
}

// Input files named directly, and the options left out taken from the first of them.

TEST_F(LsmToIcs, OneFileWithOnlyAnOutputNameIsConvertedWhole) {
    // A time lapse of three frames of four slices: its interval is its own, recorded in the file.
    LsmContent c = content(3, 4);
    c.timeFrames = 3;
    c.timeInterval = 2.5;
    writeSeries("cell", c, 1);
    const RunResult spelled = run("-s 1 -j 1 -e 1 cell??.lsm -o cell -z 1 4 -c 1 2 3 -t 2.5");
    ASSERT_EQ(spelled.status, 0) << spelled.err;
    const Bytes spelledIcs = lsmtest::readBytes(dir.file("cell.ics"));
    const RunResult r = run("cell01.lsm -o cell");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, spelled.err);
    const std::string echoes = "cell\nzstart = 1 ; zend = 4\ntime interval = 2.5\n";
    ASSERT_EQ(spelled.out.rfind(echoes, 0), 0u);
    EXPECT_EQ(r.out, "cell\n" + spelled.out.substr(echoes.size()));
    EXPECT_EQ(lsmtest::readBytes(dir.file("cell.ics")), spelledIcs);
    const lsmtest::IcsContents ics = lsmtest::readIcs(dir.file("cell"));
    EXPECT_EQ(ics.version, 2);
    ASSERT_EQ(ics.dimensions.size(), 5u);
    EXPECT_EQ(ics.dimensions[3].size, 3u);
    EXPECT_EQ(ics.dimensions[3].scale, 2.5);
    EXPECT_EQ(ics.data, timeLapseData(c, {1, 2, 3}, 1, 1, 4));
}

TEST_F(LsmToIcs, FilesNamedDirectlyAreTheSeriesAndValuesAreNeverFiles) {
    const LsmContent c = content(2, 3);
    writeSeries("t", c, 3);
    const RunResult series = run("-s 1 -j 1 -e 3 t??.lsm -o out -z 1 2 -c 1 2 -t 3 -S1");
    ASSERT_EQ(series.status, 0) << series.err;
    const Bytes header = lsmtest::readBytes(dir.file("out.ics"));
    const Bytes data = lsmtest::readBytes(dir.file("out.ids"));
    const RunResult named = run("t01.lsm -o out t02.lsm -z 1 2 t03.lsm -c 1 2 -t 3 -S1");
    ASSERT_EQ(named.status, 0) << named.err;
    EXPECT_EQ(named.out, series.out);
    EXPECT_EQ(lsmtest::readBytes(dir.file("out.ics")), header);
    EXPECT_EQ(lsmtest::readBytes(dir.file("out.ids")), data);

    // "-t" after -o is the output name and the time option; 4, 2 and 3 are values, not files.
    const RunResult values = run("t01.lsm -c 2 1 -t 1 -o -t 4 -z 2 3 -S1");
    ASSERT_EQ(values.status, 0) << values.err;
    EXPECT_EQ(values.out.rfind("time interval = 1\n-t\ntime interval = 4\nzstart = 2 ; zend = 3\n" +
                                   report(c, 2, 1, {2, 1}),
                               0),
              0u)
        << values.out;
    EXPECT_EQ(lsmtest::readBytes(dir.file("-t.ids")), expectedData(c, {2, 1}, 1, 2, 3));
    const lsmtest::IcsContents ics = lsmtest::readIcs(dir.file("-t"));
    ASSERT_EQ(ics.dimensions.size(), 5u);
    EXPECT_EQ(ics.dimensions[3].scale, 4.0);
}

TEST_F(LsmToIcs, FilesNamedWronglyAreRefusedBeforeAnyFileIsWritten) {
    writeSeries("f", content(2, 3), 2);
    lsmtest::LsmLayout layout;
    Bytes lying = lsmtest::buildLsmFile(content(2, 3), &layout);
    lsmtest::put32(lying, layout.lsmInfo + 5 * 4, 0x7fffffff);  // DimensionChannels
    lsmtest::writeBytes(dir.file("lying.lsm"), lying);
    const std::vector<RefusedLine> cases = {
        {"f01.lsm f02.lsm -o x",
         "The time between the 2 input files is recorded in none of them: give it with -t "
         "INTERVAL."},
        {"-s 1 -j 1 -e 2 f??.lsm -o x",
         "The time between the 2 input files is recorded in none of them: give it with -t "
         "INTERVAL."},
        {"f01.lsm -s 1 -j 1 -e 2 f??.lsm -o x -t 1",
         "Input files are named either one by one or as a series with -e, not both (f01.lsm)."},
        {"f01.lsm -o x -S3", "Unknown option -S3."},
        {"-v f01.lsm -o x", "Unknown option -v."},
        {"f01.lsm - -o x", "Unknown option -."},
        {"--help f01.lsm -o x", "Unknown option --help."},
        {"missing.lsm -o x", "Could not open file."},
        {"lying.lsm -o x -z 1 1",
         "lying.lsm: its information block counts 2147483647 channels, its first directory has "
         "strips for 2; give the channels with -c."},
    };
    expectRefused(cases);
    EXPECT_EQ(lsmtest::listFolder(dir.path),
              std::vector<std::string>({"f01.lsm", "f02.lsm", "lying.lsm"}));
}
