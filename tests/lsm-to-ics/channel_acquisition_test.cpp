// Each channel's own acquisition in the header and in image-info's line: lasers through the
// tracks, the acquisition's optics with -a, and two-channel depths stored apart.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "ics_support.h"
#include "lsm_writer.h"
#include "test_support.h"

using lsmtest::DetectorContent;
using lsmtest::LsmContent;
using lsmtest::RunResult;
using lsmtest::TrackContent;
using History = std::vector<std::pair<std::string, std::string>>;

namespace {

const std::string program = PROGRAM_PATH;
const std::string imageInfo = IMAGE_INFO_PATH;

TrackContent track(const std::string& name, std::vector<DetectorContent> detectors,
                   std::vector<lsmtest::LaserContent> lasers) {
    TrackContent t;
    t.name = name;
    t.detectors = std::move(detectors);
    t.lasers = std::move(lasers);
    return t;
}

DetectorContent detector(const std::string& channelName, const std::string& filter = "",
                         double bandStart = 0, double bandStop = 0) {
    DetectorContent d;
    d.channelName = channelName;
    d.filterName = filter;
    d.bandStart = bandStart;
    d.bandStop = bandStop;
    return d;
}

LsmContent recording(uint32_t channels, std::vector<TrackContent> tracks) {
    LsmContent c;
    c.width = 4;
    c.height = 2;
    c.channels = channels;
    c.bitsPerSample = 8;
    c.scanInfo.startTime = lsmtest::oleDate(2017, 6, 2, 15, 37, 43);
    c.scanInfo.tracks = std::move(tracks);
    return c;
}

// Three tracks of one detector and one laser each, as a three-colour recording is made.
LsmContent threeTracks() {
    return recording(3, {track("Track 1", {detector("Ch1", "", 410, 492)}, {{405, 1}}),
                         track("Track 2", {detector("ChS1", "", 492, 551)}, {{488, 1}}),
                         track("Track 3", {detector("Ch2", "", 551, 622)}, {{543, 1}})});
}

class ChannelAcquisition : public testing::Test {
   protected:
    lsmtest::TempDir dir;

    // Converts the file with the options and reads the header back.
    lsmtest::IcsContents convert(const LsmContent& c, std::vector<std::string> options,
                                 RunResult* result = nullptr) {
        lsmtest::writeBytes(dir.file("in.lsm"), lsmtest::buildLsmFile(c));
        std::vector<std::string> args = {"in.lsm", "-o", "out", "-S1"};
        args.insert(args.end(), options.begin(), options.end());
        const RunResult r = lsmtest::runProgram(program, args, dir.path);
        EXPECT_EQ(r.status, 0) << r.err;
        if (result) *result = r;
        return lsmtest::readIcs(dir.file("out"));
    }

    std::string infoLine(const LsmContent& c) {
        lsmtest::writeBytes(dir.file("info.lsm"), lsmtest::buildLsmFile(c));
        const RunResult r = lsmtest::runProgram(imageInfo, {"info.lsm"}, dir.path);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "");
        return r.out;
    }
};

TEST_F(ChannelAcquisition, EveryChannelTakesItsOwnTracksLaserWhateverTheSelection) {
    const LsmContent c = threeTracks();
    EXPECT_EQ(convert(c, {"-c", "3", "-t", "1"}).excitation, std::vector<double>({543}));
    const lsmtest::IcsContents ics = convert(c, {"-c", "3", "1", "-t", "1"});
    EXPECT_EQ(ics.excitation, std::vector<double>({543, 405}));
    EXPECT_EQ(ics.emission, std::vector<double>({569, 476}));  // the recipe's, without -a
    EXPECT_EQ(ics.history, History({{"time_start", "1"}, {"time_end", "1"}}));
    EXPECT_EQ(infoLine(c), "1 1 8 0 0.1 0.1 0.5 3 405 488 543 2017:6:2:15:37:43 4 2\n");
}

TEST_F(ChannelAcquisition, TwoDetectorsOfOneLaserThenAnotherTrackThenABleachTrack) {
    // The bleach track holds lasers but no detection channel, and a switched-off track and
    // unflagged lasers and detectors of the acquired tracks count for nothing.
    DetectorContent off = detector("ChS1");
    off.acquire = 0;
    TrackContent unused = track("Lambda", {detector("ChS")}, {{458, 1}});
    unused.acquire = 0;
    LsmContent c =
        recording(3, {track("Track 1", {detector("Ch1", "BP 505-550"), off, detector("ChD")},
                            {{405, 0}, {488, -1}, {633, 0}}),
                      unused, track("Track 2", {detector("Ch3", "LP 580")}, {{543, 1}}),
                      track("Bleach", {}, {{488, 1}})});
    EXPECT_EQ(convert(c, {}).excitation, std::vector<double>({488, 488, 543}));
    EXPECT_EQ(infoLine(c), "1 1 8 0 0.1 0.1 0.5 3 488 488 543 2017:6:2:15:37:43 4 2\n");
    // With -a: the filter's band centre, the laser itself for transmitted light, the long-pass
    // edge where the recipe's value lies below it.
    c.scanInfo.tracks[0].detectors[0].pinholeDiameter = 41.5;
    c.scanInfo.tracks[0].detectors[0].dyeName = "FITC";
    RunResult r;
    const lsmtest::IcsContents ics = convert(c, {"-a"}, &r);
    EXPECT_EQ(ics.emission, std::vector<double>({527.5, 488, 580}));
    EXPECT_EQ(ics.history, History({{"time_start", "1"},
                                    {"time_end", "1"},
                                    {"objective", c.scanInfo.objective},
                                    {"immersion", "oil"},
                                    {"channel_1",
                                     "track Track 1; laser 488 nm; filter BP 505-550; pinhole "
                                     "41.5 um; dye FITC"},
                                    {"channel_2", "track Track 1; laser 488 nm"},
                                    {"channel_3", "track Track 2; laser 543 nm; filter LP 580"}}));
    const std::string echo =
        "out\nacquisition optics: emission from each channel's detection, refractive indices "
        "from the objective's immersion\n";
    EXPECT_EQ(r.out.substr(0, echo.size()), echo);
}

TEST_F(ChannelAcquisition, FilterNamesGiveTheEmissionWhereTheyReadAsFilters) {
    // A long pass below the recipe's value; blanks around a band pass's dash; a wavelength no
    // filter passes, beside an infinite band; a kind not known, whose channel takes its band in the
    // header and history.
    const LsmContent c = recording(
        4, {track("T",
                  {detector("Ch1", "LP 505"), detector("Ch2", "BP 500 - 550"),
                   detector("Ch3", "LP 1e999", 500, HUGE_VAL), detector("Ch4", "KP 685", 600, 700)},
                  {{488, 1}, {488, 1}, {488, 1}, {488, 1}})});
    const lsmtest::IcsContents ics = convert(c, {"-a"});
    EXPECT_EQ(ics.emission, std::vector<double>({510, 525, 510, 650}));
    ASSERT_EQ(ics.history.size(), 8u);
    EXPECT_EQ(ics.history[4].second, "track T; laser 488 nm; filter LP 505");
    EXPECT_EQ(ics.history[5].second, "track T; laser 488 nm; filter BP 500 - 550");
    EXPECT_EQ(ics.history[6].second, "track T; laser 488 nm; filter LP 1e999");
    EXPECT_EQ(ics.history[7].second, "track T; laser 488 nm; detection 600-700 nm");
}

TEST_F(ChannelAcquisition, ASpectralImageLightsEveryChannelWithItsOneLaser) {
    const LsmContent c =
        recording(4, {track("Lambda", {detector("ChS", "", 500, 580)}, {{740, 0}, {0, 0}})});
    RunResult r;
    EXPECT_EQ(convert(c, {}, &r).excitation, std::vector<double>(4, 740));
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(infoLine(c), "1 1 8 0 0.1 0.1 0.5 4 740 740 740 740 2017:6:2:15:37:43 4 2\n");
    // With -a every channel lies at the centre of its bin of the detected band.
    const lsmtest::IcsContents ics = convert(c, {"-c", "2", "4", "-t", "1", "-a"});
    EXPECT_EQ(ics.emission, std::vector<double>({530, 570}));
    ASSERT_EQ(ics.history.size(), 6u);
    EXPECT_EQ(ics.history[4].second, "track Lambda; laser 740 nm; detection 520-540 nm");
    EXPECT_EQ(ics.history[5].second, "track Lambda; laser 740 nm; detection 560-580 nm");
}

TEST_F(ChannelAcquisition, ImmersionOfTheObjectiveSetsTheRefractiveIndices) {
    struct Case {
        const char* objective;
        const char* immersion;
        double lens, medium;
    };
    for (const Case& k : {Case{"Plan-Apochromat 63x/1.40 Oil DIC M27", "oil", 1.515, 1.515},
                          Case{"C-Apochromat 40x/1.2 W Korr", "water", 1.333, 1.333},
                          Case{"LD LCI Plan-Apochromat 25x/0.8 Imm Korr", "unknown", 1.515, 1.515},
                          Case{"EC Plan-Neofluar 10x/0.30 M27", "dry", 1.0, 1.515},
                          Case{"Plan 63x/1.3 glyc", "glycerol", 1.47, 1.47}}) {
        LsmContent c = threeTracks();
        c.scanInfo.objective = k.objective;
        const lsmtest::IcsContents ics = convert(c, {"-a"});
        EXPECT_DOUBLE_EQ(ics.lensRefractiveIndex, k.lens) << k.objective;
        EXPECT_DOUBLE_EQ(ics.mediumRefractiveIndex, k.medium) << k.objective;
        ASSERT_GE(ics.history.size(), 4u);
        EXPECT_EQ(ics.history[3],
                  std::make_pair(std::string("immersion"), std::string(k.immersion)));
    }
    // The bands' centres, and texts of the file that would break a header line.
    LsmContent c = threeTracks();
    c.scanInfo.tracks[1].name = "Track\t2\nend";
    const lsmtest::IcsContents ics = convert(c, {"-a"});
    EXPECT_EQ(ics.emission, std::vector<double>({451, 521.5, 586.5}));
    ASSERT_EQ(ics.history.size(), 7u);
    EXPECT_EQ(ics.history[5].second, "track Track 2 end; laser 488 nm; detection 492-551 nm");
}

TEST_F(ChannelAcquisition, TwoChannelDepthsStoredAtAnOffsetConvertAsThoseInTheEntry) {
    LsmContent c = threeTracks();
    c.channels = 2;
    c.scanInfo.tracks.pop_back();
    const lsmtest::IcsContents inside = convert(c, {});
    c.depthsAtOffset = true;
    const lsmtest::IcsContents apart = convert(c, {});
    EXPECT_EQ(apart.dataType, Ics_uint8);
    EXPECT_EQ(apart.data, inside.data);
    EXPECT_EQ(infoLine(c), "1 1 8 0 0.1 0.1 0.5 2 405 488 2017:6:2:15:37:43 4 2\n");
}

}  // namespace
