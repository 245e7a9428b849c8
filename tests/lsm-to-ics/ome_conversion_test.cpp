// lsm-to-ics -ome: the run as the ICS modes run it, runs of no plane, and the OME-XML of what a
// file records and of what it leaves out or damaged. Pages are checked by tifffile
// (check_ome_with_tifffile.py).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "lsm_writer.h"
#include "test_support.h"

using lsmtest::DetectorContent;
using lsmtest::LsmContent;
using lsmtest::RunResult;
using lsmtest::TrackContent;

namespace {

const std::string program = PROGRAM_PATH;

RunResult runIn(const lsmtest::TempDir& dir, const std::vector<std::string>& args) {
    return lsmtest::runProgram(program, args, dir.path);
}

// The OME-XML of an OME-TIFF, found by its bytes: one ImageDescription.
std::string omeXmlOf(const std::string& path) {
    const std::string file = lsmtest::readText(path);
    const size_t start = file.find("<?xml");
    const size_t end = file.find("</OME>\n", start);
    if (start == std::string::npos || end == std::string::npos) return "";
    return file.substr(start, end + 7 - start);
}

// The lines of the XML that begin, after their indentation, with prefix.
std::vector<std::string> linesStarting(const std::string& xml, const std::string& prefix) {
    std::vector<std::string> lines;
    for (size_t at = 0; at < xml.size();) {
        const size_t end = xml.find('\n', at);
        const std::string line = xml.substr(at, end - at);
        const size_t text = line.find_first_not_of(' ');
        if (text != std::string::npos && line.compare(text, prefix.size(), prefix) == 0)
            lines.push_back(line.substr(text));
        at = end == std::string::npos ? xml.size() : end + 1;
    }
    return lines;
}

TrackContent track(std::vector<DetectorContent> detectors, double laser) {
    TrackContent t;
    t.detectors = std::move(detectors);
    t.lasers = {{laser, 1}};
    return t;
}

DetectorContent detector(const std::string& channelName, const std::string& filter) {
    DetectorContent d;
    d.channelName = channelName;
    d.filterName = filter;
    d.dyeName = " ";  // blank: no Fluor
    return d;
}

LsmContent smallFile(uint32_t channels) {
    LsmContent c;
    c.width = 4;
    c.height = 2;
    c.channels = channels;
    c.bitsPerSample = 8;
    return c;
}

TEST(OmeConversion, RunsAsTheIcsModesAndWritesOnlyTheOmeTiff) {
    // No aperture and no wavelength: the ICS modes warn of the sensor values they leave out.
    LsmContent c = smallFile(2);
    c.scanInfo.objective = "Plan-Apochromat 63x Oil";
    c.scanInfo.wavelengths = {};
    lsmtest::TempDir ics, ome;
    lsmtest::writeBytes(ics.file("in.lsm"), lsmtest::buildLsmFile(c));
    lsmtest::writeBytes(ome.file("in.lsm"), lsmtest::buildLsmFile(c));
    const RunResult icsRun = runIn(ics, {"in.lsm", "-o", "out", "-c", "2", "1", "-t", "1", "-S1"});
    const RunResult omeRun =
        runIn(ome, {"in.lsm", "-o", "out", "-c", "2", "1", "-t", "1", "-S1", "-ome"});
    ASSERT_EQ(icsRun.status, 0) << icsRun.err;
    EXPECT_NE(icsRun.err, "");
    EXPECT_EQ(omeRun.status, 0);
    EXPECT_EQ(omeRun.err, "");
    EXPECT_EQ(omeRun.out, icsRun.out);
    EXPECT_EQ(lsmtest::listFolder(ome.path), (std::vector<std::string>{"in.lsm", "out.ome.tif"}));
    // The last mode word wins.
    const RunResult again = runIn(ome, {"in.lsm", "-o", "again", "-ome", "-S2"});
    EXPECT_EQ(again.status, 0) << again.err;
    EXPECT_EQ(lsmtest::listFolder(ome.path),
              (std::vector<std::string>{"again.ics", "in.lsm", "out.ome.tif"}));
}

TEST(OmeConversion, RunOfNoPlaneIsRefusedBeforeAnyFile) {
    lsmtest::TempDir dir;
    lsmtest::writeBytes(dir.file("in.lsm"), lsmtest::buildLsmFile(smallFile(1)));
    const RunResult noFile = runIn(dir, {"-o", "out", "-z", "1", "1", "-t", "1", "-ome"});
    EXPECT_EQ(noFile.status, 1);
    EXPECT_EQ(noFile.err,
              "An OME-TIFF needs at least one plane, and the run names no input file.\n"
              "Terminating...\n");
    const RunResult noChannel = runIn(dir, {"in.lsm", "-o", "out", "-c", "-t", "1", "-ome"});
    EXPECT_EQ(noChannel.status, 1);
    EXPECT_EQ(noChannel.err,
              "An OME-TIFF needs at least one plane, and the run names no channel.\n"
              "Terminating...\n");
    EXPECT_EQ(noChannel.out, "out\ntime interval = 1\n");
    EXPECT_EQ(lsmtest::listFolder(dir.path), std::vector<std::string>{"in.lsm"});
}

TEST(OmeConversion, EmissionOnlyWhereTheDetectionTellsIt) {
    // The transmitted-light detector sees its laser; a long pass whose edge lies below the
    // derived 510 nm, and a detector of no filter and no band, tell nothing; an edge above it
    // is the emission.
    LsmContent c = smallFile(4);
    c.scanInfo.tracks = {track({detector("ChD", "")}, 633), track({detector("Ch1", "LP 505")}, 488),
                         track({detector("Ch2", "LP 560")}, 488),
                         track({detector("Ch3", "")}, 561)};
    c.scanInfo.name = "";
    c.scanInfo.description = " \t";
    lsmtest::TempDir dir;
    lsmtest::writeBytes(dir.file("in.lsm"), lsmtest::buildLsmFile(c));
    ASSERT_TRUE(lsmtest::makeFolder(dir.file("out")));
    const RunResult r = runIn(dir, {"in.lsm", "-o", "out/cell", "-ome"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string xml = omeXmlOf(dir.file("out/cell.ome.tif"));
    const std::string ex = " ExcitationWavelengthUnit=\"nm\"";
    const std::string em = " EmissionWavelengthUnit=\"nm\"";
    EXPECT_EQ(linesStarting(xml, "<Channel "),
              (std::vector<std::string>{
                  "<Channel ID=\"Channel:0:0\" SamplesPerPixel=\"1\" ExcitationWavelength=\"633\"" +
                      ex + " EmissionWavelength=\"633\"" + em + ">",
                  "<Channel ID=\"Channel:0:1\" SamplesPerPixel=\"1\" ExcitationWavelength=\"488\"" +
                      ex + ">",
                  "<Channel ID=\"Channel:0:2\" SamplesPerPixel=\"1\" ExcitationWavelength=\"488\"" +
                      ex + " EmissionWavelength=\"560\"" + em + ">",
                  "<Channel ID=\"Channel:0:3\" SamplesPerPixel=\"1\" ExcitationWavelength=\"561\"" +
                      ex + ">"}));
    EXPECT_EQ(linesStarting(xml, "<Laser "),
              (std::vector<std::string>{
                  "<Laser ID=\"LightSource:0:0\" Wavelength=\"633\" WavelengthUnit=\"nm\"/>",
                  "<Laser ID=\"LightSource:0:1\" Wavelength=\"488\" WavelengthUnit=\"nm\"/>",
                  "<Laser ID=\"LightSource:0:2\" Wavelength=\"561\" WavelengthUnit=\"nm\"/>"}));
    // Without a recording name the output's; no blank description, no stamps: no DeltaT.
    EXPECT_EQ(linesStarting(xml, "<Image "),
              std::vector<std::string>{"<Image ID=\"Image:0\" Name=\"cell\">"});
    EXPECT_EQ(xml.find("<Description"), std::string::npos);
    EXPECT_EQ(xml.find("DeltaT"), std::string::npos);
}

TEST(OmeConversion, ObjectiveByTheWordsOfItsName) {
    struct Case {
        const char* name;
        std::vector<std::string> objective;  // the Objective line, then ObjectiveSettings
    };
    const Case cases[] = {
        {"EC Plan-Neofluar 10x/0.30 M27",
         {"<Objective ID=\"Objective:0\" Model=\"EC Plan-Neofluar 10x/0.30 M27\" "
          "Immersion=\"Air\" LensNA=\"0.3\" NominalMagnification=\"10\"/>",
          "<ObjectiveSettings ID=\"Objective:0\" RefractiveIndex=\"1\"/>"}},
        {"LD LCI Plan-Apochromat 25x/0.8 Imm Korr DIC M27",
         {"<Objective ID=\"Objective:0\" Model=\"LD LCI Plan-Apochromat 25x/0.8 Imm Korr DIC "
          "M27\" Immersion=\"Multi\" LensNA=\"0.8\" NominalMagnification=\"25\"/>",
          "<ObjectiveSettings ID=\"Objective:0\"/>"}},
        {"C-Apochromat 40x/1.2 W Korr",
         {"<Objective ID=\"Objective:0\" Model=\"C-Apochromat 40x/1.2 W Korr\" "
          "Immersion=\"Water\" LensNA=\"1.2\" NominalMagnification=\"40\"/>",
          "<ObjectiveSettings ID=\"Objective:0\" RefractiveIndex=\"1.333\"/>"}},
        {"", {}},
    };
    for (const Case& test : cases) {
        LsmContent c = smallFile(1);
        c.scanInfo.objective = test.name;
        c.scanInfo.wavelengths = {};  // no laser: an objective is all the instrument has
        lsmtest::TempDir dir;
        lsmtest::writeBytes(dir.file("in.lsm"), lsmtest::buildLsmFile(c));
        const RunResult r = runIn(dir, {"in.lsm", "-o", "out", "-ome"});
        ASSERT_EQ(r.status, 0) << r.err;
        const std::string xml = omeXmlOf(dir.file("out.ome.tif"));
        std::vector<std::string> lines = linesStarting(xml, "<Objective");
        EXPECT_EQ(lines, test.objective) << test.name;
        EXPECT_EQ(xml.find("Instrument") == std::string::npos, test.objective.empty());
    }
}

TEST(OmeConversion, DamagedColoursBlockIsLeftOut) {
    LsmContent c = smallFile(2);
    c.channelColors = {{255, 0, 0, "Red"}, {0, 255, 0, "Green"}};
    c.rawChannelColors = lsmtest::channelColorsBlock(c.channelColors);
    lsmtest::put32(c.rawChannelColors, 8, 3);  // three names for two colours
    lsmtest::TempDir dir;
    lsmtest::writeBytes(dir.file("in.lsm"), lsmtest::buildLsmFile(c));
    const RunResult r = runIn(dir, {"in.lsm", "-o", "out", "-ome"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.substr(r.out.size() - 9), "complete\n");
    const std::string xml = omeXmlOf(dir.file("out.ome.tif"));
    ASSERT_EQ(linesStarting(xml, "<Channel ").size(), 2u) << xml;
    EXPECT_EQ(xml.find("Name=\"Red\""), std::string::npos);
    EXPECT_EQ(xml.find("Color="), std::string::npos);
    // The block whole gives both.
    c.rawChannelColors.clear();
    lsmtest::writeBytes(dir.file("in.lsm"), lsmtest::buildLsmFile(c));
    ASSERT_EQ(runIn(dir, {"in.lsm", "-o", "out", "-ome"}).status, 0);
    EXPECT_NE(omeXmlOf(dir.file("out.ome.tif")).find("Name=\"Green\""), std::string::npos);
}

}  // namespace
