// The scan-information walk and the conversion of its start time.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "lsm_reader.h"
#include "lsm_writer.h"
#include "test_support.h"

using namespace lsm;
using lsmtest::Bytes;
using lsmtest::exactly;
using testing::ExitedWithCode;

namespace {

struct Walk {
    ScanInfoNumbers numbers;
    ScanInfoTexts texts;
    long positionAfter = 0;
};

// Walks a tree that starts at offset 4 of the bytes.
Walk walk(const Bytes& tree) {
    Bytes bytes(4 + tree.size(), 0xAB);
    std::copy(tree.begin(), tree.end(), bytes.begin() + 4);
    FILE* stream = lsmtest::streamOf(bytes);
    Walk result;
    readScanInfo(stream, 4, result.numbers, result.texts);
    result.positionAfter = std::ftell(stream) - 4;
    std::fclose(stream);
    return result;
}

std::vector<double> dateAndTime(int y, int mo, int d, int h, int mi, int s) {
    return {double(y), double(mo), double(d), double(h), double(mi), double(s)};
}

std::vector<double> calendarOf(double oleDate) {
    CalendarTime t{};
    if (!oleDateToCalendar(oleDate, t)) return std::vector<double>(6, -1.0);
    return dateAndTime(t.year, t.month, t.day, t.hour, t.minute, t.second);
}

}  // namespace

TEST(ScanInfo, RecordingTreeGivesStartTimeWavelengthsAndTextsInFileOrder) {
    lsmtest::ScanInfoContent content;
    content.startTime = lsmtest::oleDate(2006, 5, 17, 13, 45, 2);
    content.wavelengths = {488, 543, 633};
    const Bytes tree = lsmtest::scanInfoTree(content);
    Walk result = walk(tree);
    std::vector<double> expected = dateAndTime(2006, 5, 17, 13, 45, 2);
    expected.insert(expected.end(), {488, 543, 633});
    EXPECT_EQ(result.numbers, expected);
    ASSERT_GE(result.texts.size(), 5u);
    EXPECT_EQ(result.texts[objectiveTextPosition], content.objective);
    EXPECT_EQ(result.texts[0], content.name);
    EXPECT_EQ(result.texts[4], "Ch1");  // from a block three levels down
    EXPECT_EQ(result.positionAfter, static_cast<long>(tree.size()));
}

TEST(ScanInfo, EntriesOfEveryKind) {
    Bytes tree;
    lsmtest::appendScanBlockStart(tree, 0x10000000);
    lsmtest::appendScanDouble(tree, 0x10000036, 1.25);               // 31 December 1899, 06:00
    lsmtest::appendScanDouble(tree, 0x10000036, 1e9);                // beyond 9999: six -1 values
    lsmtest::appendScanDouble(tree, 0x12345678, 7.0);                // unknown tag: ignored
    lsmtest::appendScanEntry(tree, 0x10000040, 4, 6, {1, 2, 3, 4});  // consumes 4 bytes
    lsmtest::appendScanEntry(tree, 0x10000041, 2, 3, {'a', 'b', 'c'});  // no NUL
    lsmtest::appendScanEntry(tree, 0x10000042, 2, 0, {});
    lsmtest::appendScanEntry(tree, 0x90000003, 5, 7, {});  // no first value: ignored
    lsmtest::appendScanEntry(tree, 0x90000003, 5, 16, Bytes(16, 0));
    lsmtest::appendScanBlockEnd(tree);
    Walk result = walk(tree);
    std::vector<double> expected = dateAndTime(1899, 12, 31, 6, 0, 0);
    expected.insert(expected.end(), 6, -1.0);
    expected.push_back(0.0);
    EXPECT_EQ(result.numbers, expected);
    EXPECT_EQ(result.texts, ScanInfoTexts({"abc", ""}));
    EXPECT_EQ(result.positionAfter, static_cast<long>(tree.size()));
}

TEST(ScanInfo, WalkEndsWhenDepthComesBackToOne) {
    // A first entry that is not a block ends the walk at once.
    Bytes single;
    lsmtest::appendScanText(single, 0x10000001, "alone");
    lsmtest::appendScanText(single, 0x10000002, "never read");
    EXPECT_EQ(walk(single).texts, ScanInfoTexts({"alone"}));
    // An end marker at depth 1 brings it to 0; two openings bring it back to 1.
    Bytes down;
    lsmtest::appendScanBlockEnd(down);
    lsmtest::appendScanText(down, 1, "at depth 0");
    lsmtest::appendScanBlockStart(down, 2);
    lsmtest::appendScanText(down, 3, "after");
    EXPECT_EQ(walk(down).texts, ScanInfoTexts({"at depth 0"}));
}

TEST(ScanInfo, FatalEntries) {
    const char* unknownType = "Data type not defined in LSM! (1)\nTerminating...\n";
    const char* pastEnd = "A value array or text runs past the end of the file.\nTerminating...\n";
    const char* endOfFile =
        "Unexpected end of file: the file is shorter than its structure says.\nTerminating...\n";
    for (uint32_t type : {1u, 3u, 6u}) {
        Bytes tree;
        lsmtest::appendScanBlockStart(tree, 0x10000000);
        lsmtest::appendScanEntry(tree, 0x10000001, type, 4, {0, 0, 0, 0});
        EXPECT_EXIT(walk(tree), ExitedWithCode(1), exactly(unknownType)) << "type " << type;
    }
    for (uint32_t type : {2u, 4u, 5u}) {
        Bytes tree;
        lsmtest::appendScanBlockStart(tree, 0x10000000);
        lsmtest::appendScanEntry(tree, 0x10000001, type, 0xFFFFFFFFu, {0, 0, 0, 0});
        EXPECT_EXIT(walk(tree), ExitedWithCode(1), exactly(pastEnd)) << "type " << type;
    }
    Bytes neverClosed;
    lsmtest::appendScanBlockStart(neverClosed, 0x10000000);
    lsmtest::appendScanBlockStart(neverClosed, 0x20000000);
    lsmtest::appendScanText(neverClosed, 0x10000001, "open");
    EXPECT_EXIT(walk(neverClosed), ExitedWithCode(1), exactly(endOfFile));
}

namespace {

struct KeptParts {
    ScanInfoTracks tracks;
    RecordingTexts recording;
};

// The tracks and the recording's texts of a tree that starts at offset 4 of the bytes.
KeptParts partsOf(const Bytes& tree) {
    Bytes bytes(4 + tree.size(), 0xAB);
    std::copy(tree.begin(), tree.end(), bytes.begin() + 4);
    FILE* stream = lsmtest::streamOf(bytes);
    ScanInfoNumbers numbers;
    ScanInfoTexts texts;
    KeptParts parts;
    readScanInfo(stream, 4, numbers, texts, &parts.tracks, &parts.recording);
    std::fclose(stream);
    return parts;
}

ScanInfoTracks tracksOf(const Bytes& tree) {
    return partsOf(tree).tracks;
}

lsmtest::TrackContent trackOf(std::vector<int32_t> detectorFlags,
                              std::vector<lsmtest::LaserContent> lasers) {
    lsmtest::TrackContent track;
    for (int32_t flag : detectorFlags) {
        lsmtest::DetectorContent d;
        d.acquire = flag;
        track.detectors.push_back(d);
    }
    track.lasers = std::move(lasers);
    return track;
}

// The laser of each of channelCount channels, 0 where none is known.
std::vector<double> lasersOf(const std::vector<lsmtest::TrackContent>& tracks, int32_t channelCount,
                             const ScanInfoNumbers& numbers = {}) {
    lsmtest::ScanInfoContent content;
    content.tracks = tracks;
    const ScanInfoTracks kept = tracksOf(lsmtest::scanInfoTree(content));
    const std::vector<ChannelAcquisition> acquired = acquiredChannels(kept);
    std::vector<double> lasers;
    for (int channel = 1; channel <= channelCount; ++channel)
        lasers.push_back(
            acquisitionOfChannel(acquired, numbers, channelCount, channel).laser.value_or(0));
    return lasers;
}

}  // namespace

TEST(ScanInfo, TracksKeepTheirChannelsFlagsAndTexts) {
    lsmtest::ScanInfoContent content;
    lsmtest::TrackContent track = trackOf({-1, 0}, {{405, 0}, {488, -1}});
    track.name = "LP505";
    track.detectors[0].filterName = "LP 505";
    track.detectors[0].dyeName = "FITC";
    track.detectors[0].pinholeDiameter = 154;
    track.detectors[1].bandStart = 415;
    track.detectors[1].bandStop = 735;
    lsmtest::TrackContent off = trackOf({1}, {});
    off.acquire = 0;
    content.tracks = {track, off};
    const ScanInfoTracks kept = tracksOf(lsmtest::scanInfoTree(content));
    ASSERT_EQ(kept.size(), 2u);
    EXPECT_EQ(kept[0].name, "LP505");
    EXPECT_TRUE(kept[0].acquired);
    EXPECT_FALSE(kept[1].acquired);
    ASSERT_EQ(kept[0].detectionChannels.size(), 2u);
    const DetectionChannel& first = kept[0].detectionChannels[0];
    EXPECT_TRUE(first.acquired);
    EXPECT_EQ(first.filterName, "LP 505");
    EXPECT_EQ(first.dyeName, "FITC");
    EXPECT_EQ(first.channelName, "Ch1");
    EXPECT_EQ(first.pinholeDiameter, 154.0);
    EXPECT_FALSE(first.bandStart);
    const DetectionChannel& second = kept[0].detectionChannels[1];
    EXPECT_FALSE(second.acquired);
    EXPECT_EQ(second.bandStart, 415.0);
    EXPECT_EQ(second.bandStop, 735.0);
    ASSERT_EQ(kept[0].illuminationChannels.size(), 2u);
    EXPECT_FALSE(kept[0].illuminationChannels[0].acquired);
    EXPECT_EQ(kept[0].illuminationChannels[1].wavelength, 488.0);
    // The one track of the default tree carries no flags: all on.
    const ScanInfoTracks plain = tracksOf(lsmtest::scanInfoTree({}));
    ASSERT_EQ(plain.size(), 1u);
    EXPECT_TRUE(plain[0].acquired && plain[0].detectionChannels.at(0).acquired &&
                plain[0].illuminationChannels.at(0).acquired);
    // Far more tracks than microscopes write are not kept, rather than kept without bound.
    Bytes many;
    lsmtest::appendScanBlockStart(many, 0x10000000);
    lsmtest::appendScanBlockStart(many, 0x20000000);
    for (int i = 0; i < 70000; ++i) {
        lsmtest::appendScanBlockStart(many, 0x40000000);
        lsmtest::appendScanBlockEnd(many);
    }
    lsmtest::appendScanBlockEnd(many);
    lsmtest::appendScanBlockEnd(many);
    EXPECT_TRUE(tracksOf(many).empty());
    // Blocks of the tracks' tags nested inside a channel describe no track: the channel's
    // entries after them still belong to it.
    Bytes nested;
    for (uint32_t tag : {0x10000000u, 0x20000000u, 0x40000000u, 0x60000000u, 0x70000000u})
        lsmtest::appendScanBlockStart(nested, tag);
    for (uint32_t tag : {0x20000000u, 0x40000000u, 0x60000000u, 0x70000000u})
        lsmtest::appendScanBlockStart(nested, tag);
    for (int i = 0; i < 4; ++i) lsmtest::appendScanBlockEnd(nested);
    lsmtest::appendScanText(nested, 0x70000026, "DAPI");
    for (int i = 0; i < 5; ++i) lsmtest::appendScanBlockEnd(nested);
    const ScanInfoTracks outer = tracksOf(nested);
    ASSERT_EQ(outer.size(), 1u);
    ASSERT_EQ(outer[0].detectionChannels.size(), 1u);
    EXPECT_EQ(outer[0].detectionChannels[0].dyeName, "DAPI");
}

TEST(ScanInfo, ChannelsTakeTheirTracksLasersOrTheWavelengthOfTheirNumber) {
    // As many lasers in use as detectors on: by position; a switched-off track counts not.
    lsmtest::TrackContent off = trackOf({1}, {{561, 1}});
    off.acquire = 0;
    EXPECT_EQ(lasersOf({trackOf({1, 0, 1}, {{488, 1}, {0, 1}, {633, 1}}), off}, 2),
              std::vector<double>({488, 633}));
    // No laser flagged: all of them are in use.
    EXPECT_EQ(lasersOf({trackOf({1}, {{740, 0}})}, 1), std::vector<double>({740}));
    // Lasers that cannot be paired, or other counts: the wavelength of the channel's number.
    const ScanInfoNumbers numbers = {2020, 1, 1, 0, 0, 0, 405, 488};
    EXPECT_EQ(lasersOf({trackOf({1, 1, 1}, {{561, 1}, {633, 1}})}, 3, numbers),
              std::vector<double>({405, 488, 0}));
    EXPECT_EQ(lasersOf({trackOf({1}, {{561, 1}}), trackOf({1}, {{633, 1}})}, 3, numbers),
              std::vector<double>({405, 488, 0}));
}

TEST(OleDate, KnownDatesAndTheConventionForNegativeDays) {
    EXPECT_EQ(calendarOf(lsmtest::oleDate(2006, 5, 17, 13, 45, 2)),
              dateAndTime(2006, 5, 17, 13, 45, 2));
    EXPECT_EQ(calendarOf(0.0), dateAndTime(1899, 12, 30, 0, 0, 0));
    EXPECT_EQ(calendarOf(-1.25), dateAndTime(1899, 12, 29, 6, 0, 0));
    EXPECT_EQ(calendarOf(-0.5), dateAndTime(1899, 12, 30, 12, 0, 0));
    EXPECT_EQ(calendarOf(60.0), dateAndTime(1900, 2, 28, 0, 0, 0));
    EXPECT_EQ(calendarOf(61.0), dateAndTime(1900, 3, 1, 0, 0, 0));
    EXPECT_EQ(calendarOf(39142.0), dateAndTime(2007, 3, 1, 0, 0, 0));
}

TEST(OleDate, RoundsToTheNearestSecond) {
    const double second = 1.0 / 86400.0;
    EXPECT_EQ(calendarOf(1.0 + 0.4 * second), dateAndTime(1899, 12, 31, 0, 0, 0));
    EXPECT_EQ(calendarOf(1.0 + 0.6 * second), dateAndTime(1899, 12, 31, 0, 0, 1));
    EXPECT_EQ(calendarOf(1.0 - 0.2 * second), dateAndTime(1899, 12, 31, 0, 0, 0));
    EXPECT_EQ(calendarOf(-1.0 - (1.0 - 0.2 * second)), dateAndTime(1899, 12, 30, 0, 0, 0));
}

TEST(OleDate, RangeLimitsAndValuesThatAreNotDates) {
    EXPECT_EQ(calendarOf(-657434.0), dateAndTime(100, 1, 1, 0, 0, 0));
    EXPECT_EQ(calendarOf(2958465.0 + 86399.0 / 86400.0), dateAndTime(9999, 12, 31, 23, 59, 59));
    const std::vector<double> invalid(6, -1.0);
    EXPECT_EQ(calendarOf(-657434.0001), invalid);
    EXPECT_EQ(calendarOf(2958466.0), invalid);
    EXPECT_EQ(calendarOf(2958465.9999999), invalid);  // rounds into the year 10000
    EXPECT_EQ(calendarOf(std::nan("")), invalid);
    EXPECT_EQ(calendarOf(INFINITY), invalid);
}

TEST(ScanInfo, RecordingTextsComeFromTheRecordingLevelOnly) {
    lsmtest::ScanInfoContent content;
    content.name = "200nm bead";
    content.description = "PSF first try";
    content.objective = "Plan-Apochromat 100x/1.4 Oil DIC";
    const RecordingTexts written = partsOf(lsmtest::scanInfoTree(content)).recording;
    EXPECT_EQ(written.name, content.name);
    EXPECT_EQ(written.description, content.description);
    EXPECT_EQ(written.objective, content.objective);
    // Entries of the same tags inside a track are not the recording's; the recording's own
    // Objective after them still is, and a Name it leaves out stays empty.
    Bytes tree;
    lsmtest::appendScanBlockStart(tree, 0x10000000);
    lsmtest::appendScanBlockStart(tree, 0x20000000);
    lsmtest::appendScanBlockStart(tree, 0x40000000);
    lsmtest::appendScanText(tree, 0x10000001, "track's name");
    lsmtest::appendScanText(tree, 0x10000002, "track's description");
    lsmtest::appendScanBlockEnd(tree);
    lsmtest::appendScanBlockEnd(tree);
    lsmtest::appendScanText(tree, 0x10000004, "EC Plan-Neofluar 40x/1.30 Oil DIC M27");
    lsmtest::appendScanBlockEnd(tree);
    const RecordingTexts nested = partsOf(tree).recording;
    EXPECT_EQ(nested.name, "");
    EXPECT_EQ(nested.description, "");
    EXPECT_EQ(nested.objective, "EC Plan-Neofluar 40x/1.30 Oil DIC M27");
}
