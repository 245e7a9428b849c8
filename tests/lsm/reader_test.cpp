// The TIFF side of the LSM reader: primitives, entries, header, directories, information block.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "lsm_reader.h"
#include "lsm_writer.h"
#include "test_support.h"

using namespace lsm;
using lsmtest::Bytes;
using lsmtest::exactly;
using lsmtest::streamOf;
using testing::ExitedWithCode;

namespace {

const char* const endOfFile =
    "Unexpected end of file: the file is shorter than its structure says.\nTerminating...\n";
const TiffHeaderMessages headerMessages{"byte order", "magic"};

Bytes entryBytes(uint16_t tag, uint16_t type, uint32_t count, uint32_t value) {
    Bytes bytes;
    lsmtest::appendTiffEntry(bytes, tag, type, count, value);
    return bytes;
}

struct EntryResult {
    int32_t tag, type, count;
    EntryValueList values;
    long positionAfter;
};

// Reads one entry at offset 0 of bytes.
EntryResult readEntry(const Bytes& bytes) {
    FILE* stream = streamOf(bytes);
    EntryResult result{};
    readIfdEntry(stream, result.tag, result.type, result.count, result.values);
    result.positionAfter = std::ftell(stream);
    std::fclose(stream);
    return result;
}

// An entry followed by a value array at offset 16.
Bytes entryWithArray(uint16_t type, uint32_t count, const std::vector<uint32_t>& array,
                     int width) {
    Bytes bytes = entryBytes(300, type, count, 16);
    bytes.resize(16, 0xEE);
    for (uint32_t value : array)
        width == 2 ? lsmtest::append16(bytes, static_cast<uint16_t>(value))
                   : lsmtest::append32(bytes, value);
    return bytes;
}

}  // namespace

TEST(ReadPrimitive, InterpretsEachKindLittleEndian) {
    Bytes bytes = {0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    lsmtest::appendDouble(bytes, -2.5);
    FILE* stream = streamOf(bytes);
    EXPECT_EQ(read(stream, 2, 1, 'u'), 65534.0);
    EXPECT_EQ(read(stream, 4, 1, 'l'), 4294967295.0);
    EXPECT_EQ(read(stream, 8, 1, 'f'), -2.5);
    std::rewind(stream);
    EXPECT_EQ(read(stream, 2, 1, 's'), -2.0);
    EXPECT_EQ(read(stream, 4, 1, 't'), -1.0);
    std::fclose(stream);
}

TEST(ReadPrimitive, UnknownKindAndShortReadAreFatal) {
    FILE* stream = streamOf({1, 2, 3});
    EXPECT_EXIT(read(stream, 4, 1, 'x'), ExitedWithCode(1),
                exactly("None recognised type in read().\nTerminating...\n"));
    EXPECT_EXIT(read(stream, 4, 1, 'l'), ExitedWithCode(1), exactly(endOfFile));
    std::fclose(stream);
}

TEST(ReadPrimitive, CharreadStopsAtTheFirstNulOrTakesAllBytes) {
    FILE* stream = streamOf({'a', 'b', 0, 'c', 'x', 'y', 'z'});
    EXPECT_EQ(charread(stream, 1, 4), "ab");
    EXPECT_EQ(std::ftell(stream), 4);
    EXPECT_EQ(charread(stream, 1, 3), "xyz");
    EXPECT_EQ(charread(stream, 1, 0), "");
    std::fclose(stream);
}

TEST(ReadPrimitive, CharreadOfMoreThanTheFileHoldsIsAnErrorNotAnAllocation) {
    FILE* stream = streamOf({'a', 'b'});
    EXPECT_EXIT(charread(stream, 1, 0xFFFFFFFFll), ExitedWithCode(1),
                exactly("A value array or text runs past the end of the file.\nTerminating...\n"));
    std::fclose(stream);
}

TEST(IntegerConversion, KeepsTheLow32BitsAsSigned) {
    EXPECT_EQ(toInt32(2147483647.0), 2147483647);
    EXPECT_EQ(toInt32(2147483648.0), -2147483647 - 1);
    EXPECT_EQ(toInt32(4294967295.0), -1);
    EXPECT_EQ(toInt32(4294967296.0 + 5), 5);
    EXPECT_EQ(toInt32(-1.7), -1);
    EXPECT_EQ(toInt32(3.99), 3);
    EXPECT_EQ(toInt32(std::nan("")), 0);
}

TEST(IfdEntry, ValuesInsideTheEntry) {
    // SHORT count 1 and 2 and LONG count 0 and 1 keep their values from the entry itself.
    EntryResult one = readEntry(entryBytes(256, 3, 1, 0x00030007));
    EXPECT_EQ(one.values, EntryValueList({7}));
    EntryResult two = readEntry(entryBytes(258, 3, 2, 0x00100008));
    EXPECT_EQ(two.values, EntryValueList({8, 16}));
    EntryResult none = readEntry(entryBytes(273, 4, 0, 1234));
    EXPECT_EQ(none.values, EntryValueList({1234}));
    EntryResult big = readEntry(entryBytes(273, 4, 1, 0x80000000u));
    EXPECT_EQ(big.values, EntryValueList({-2147483647 - 1}));
    EXPECT_EQ(big.tag, 273);
    EXPECT_EQ(big.type, 4);
    EXPECT_EQ(big.count, 1);
    for (const EntryResult& r : {one, two, none, big}) EXPECT_EQ(r.positionAfter, 12);
}

TEST(IfdEntry, ByteAndAsciiEntries) {
    // BYTE: count 0 or 1 gives the whole four-byte field, above 4 the offset, 2 to 4 nothing.
    EXPECT_EQ(readEntry(entryBytes(1, 1, 1, 0xFFFFFFFFu)).values, EntryValueList({-1}));
    EXPECT_EQ(readEntry(entryBytes(1, 1, 0, 0x01020304)).values, EntryValueList({0x01020304}));
    EXPECT_EQ(readEntry(entryBytes(34412, 1, 500, 9000)).values, EntryValueList({9000}));
    EXPECT_TRUE(readEntry(entryBytes(1, 1, 3, 7)).values.empty());
    EXPECT_TRUE(readEntry(entryBytes(270, 2, 4, 7)).values.empty());
}

TEST(IfdEntry, ValuesAtAnOffsetLeaveThePositionAfterTheEntry) {
    EntryResult shorts = readEntry(entryWithArray(3, 3, {8, 16, 65535}, 2));
    EXPECT_EQ(shorts.values, EntryValueList({8, 16, 65535}));
    EXPECT_EQ(shorts.positionAfter, 12);
    EntryResult longs = readEntry(entryWithArray(4, 3, {1, 0x80000000u, 0xFFFFFFFFu}, 4));
    EXPECT_EQ(longs.values, EntryValueList({1, -2147483647 - 1, -1}));
    EXPECT_EQ(longs.positionAfter, 12);
}

TEST(IfdEntry, ArrayPastTheEndOfTheFileIsFatal) {
    const char* pastEnd = "A value array or text runs past the end of the file.\nTerminating...\n";
    EXPECT_EXIT(readEntry(entryWithArray(4, 1000, {1, 2}, 4)), ExitedWithCode(1),
                exactly(pastEnd));
    // An offset of 2^31 or more is a position of its own, not a negative one.
    EXPECT_EXIT(readEntry(entryBytes(273, 4, 3, 0x80000000u)), ExitedWithCode(1),
                exactly(pastEnd));
}

TEST(IfdEntry, UnsupportedTypesAreFatal) {
    const char* unknown = "Tiff type not supported! - Not LSM! (1)\nTerminating...\n";
    const char* outOfEntry = "Tiff type not supported!2\nTerminating...\n";
    const char* inEntry = "Tiff type not supported!3\nTerminating...\n";
    EXPECT_EXIT(readEntry(entryBytes(1, 0, 1, 0)), ExitedWithCode(1), exactly(unknown));
    EXPECT_EXIT(readEntry(entryBytes(1, 6, 1, 0)), ExitedWithCode(1), exactly(unknown));
    EXPECT_EXIT(readEntry(entryBytes(270, 2, 5, 16)), ExitedWithCode(1), exactly(outOfEntry));
    EXPECT_EXIT(readEntry(entryBytes(282, 5, 2, 16)), ExitedWithCode(1), exactly(outOfEntry));
    EXPECT_EXIT(readEntry(entryBytes(270, 2, 1, 0)), ExitedWithCode(1), exactly(inEntry));
    EXPECT_EXIT(readEntry(entryBytes(282, 5, 0, 0)), ExitedWithCode(1), exactly(inEntry));
    EXPECT_EXIT(readEntry(Bytes{1, 1, 3, 0, 1}), ExitedWithCode(1), exactly(endOfFile));
}

TEST(LsmTagEntry, ReturnsTheBlockOffsetOrStops) {
    FILE* good = streamOf(entryBytes(34412, 1, 228, 0x80000010u));
    EXPECT_EQ(readLsmTagEntry(good), -2147483647 - 1 + 16);
    EXPECT_EQ(std::ftell(good), 12);
    std::fclose(good);
    EXPECT_EXIT(readLsmTagEntry(streamOf(entryBytes(34411, 1, 228, 8))), ExitedWithCode(1),
                exactly("LSM TAG nr (34412) WAS NOT FOUND !!!!!\nTerminating....\n"));
    EXPECT_EXIT(readLsmTagEntry(streamOf(entryBytes(34412, 4, 228, 8))), ExitedWithCode(1),
                exactly("LSM TAG type WAS NOT TIF_BYTE !!!!!\nTerminating....\n"));
}

TEST(TiffHeader, ReturnsTheFirstDirectoryAndStandsThere) {
    Bytes bytes = {'I', 'I', 42, 0, 12, 0, 0, 0};
    bytes.resize(20, 0);
    FILE* stream = streamOf(bytes);
    EXPECT_EQ(readTiffHeader(stream, headerMessages), 12);
    EXPECT_EQ(std::ftell(stream), 12);
    std::fclose(stream);
}

TEST(TiffHeader, EachFailedTestGivesTheCallersMessage) {
    for (Bytes mark : {Bytes{'M', 'M', 0, 42}, Bytes{'M', 'I', 42, 0}, Bytes{'I', 'M', 42, 0},
                       Bytes{'I', 0, 42, 0}})
        EXPECT_EXIT(readTiffHeader(streamOf(mark), headerMessages), ExitedWithCode(1),
                    exactly("byte order\n"));
    EXPECT_EXIT(readTiffHeader(streamOf({'I', 'I', 43, 0, 8, 0, 0, 0}), headerMessages),
                ExitedWithCode(1), exactly("magic\n"));
    EXPECT_EXIT(readTiffHeader(streamOf({'I', 'I', 42}), headerMessages), ExitedWithCode(1),
                exactly(endOfFile));
}

TEST(Directories, FirstDirectoryOfAnLsmFile) {
    lsmtest::LsmContent content;
    content.channels = 3;
    content.slices = 2;
    lsmtest::LsmLayout layout;
    FILE* stream = streamOf(lsmtest::buildLsmFile(content, &layout));
    DirectoryList directories;
    StripOffsetList offsets;
    readTiffHeader(stream, headerMessages);
    EXPECT_EQ(readFirstDirectory(stream, directories, &offsets),
              static_cast<int32_t>(layout.lsmInfo));
    EXPECT_EQ(std::ftell(stream), layout.lsmEntry + 12);
    ASSERT_EQ(directories.size(), 1u);
    const TiffDirectory first = directories[0];
    ASSERT_EQ(first.size(), 10u);
    EXPECT_EQ(first[bitsPerSampleEntry].tag, 258);
    EXPECT_EQ(first[bitsPerSampleEntry].firstValue, 16);
    EXPECT_EQ(first[stripOffsetsEntry].tag, 273);
    EXPECT_EQ(first[stripOffsetsEntry].count, 3);
    const auto plane0 = static_cast<int64_t>(layout.pixelData);
    const auto bytes = static_cast<int64_t>(layout.planeBytes);
    EXPECT_EQ(offsets, StripOffsetList({plane0, plane0 + bytes, plane0 + 2 * bytes}));
    EXPECT_EQ(first[stripOffsetsEntry].firstValue, plane0);

    // The thumbnail directory and the second image follow the next-directory field.
    const auto next = toInt32(read(stream, 4, 1, 'l'));
    readFollowingDirectories(stream, next, directories);
    ASSERT_EQ(directories.size(), 3u);
    EXPECT_EQ(directories[1][0].firstValue, 1);  // NewSubfileType of the thumbnail
    EXPECT_EQ(directories[2][stripOffsetsEntry].firstValue - first[stripOffsetsEntry].firstValue,
              static_cast<int32_t>(layout.planeStride));
    std::fclose(stream);
}

TEST(Directories, OneEntryIsTheLsmEntryAndAnEmptySecondDirectoryIsKept) {
    // Header, a first directory of only the LSM entry, an empty directory, a one-entry directory.
    Bytes bytes = {'I', 'I', 42, 0, 8, 0, 0, 0};
    lsmtest::append16(bytes, 1);
    lsmtest::appendTiffEntry(bytes, 34412, 1, 228, 500);
    lsmtest::append32(bytes, 26);
    lsmtest::append16(bytes, 0);
    lsmtest::append32(bytes, 0);
    lsmtest::append16(bytes, 1);
    lsmtest::appendTiffEntry(bytes, 273, 4, 1, 4242);
    lsmtest::append32(bytes, 0);
    FILE* stream = streamOf(bytes);
    DirectoryList directories;
    StripOffsetList offsets;
    readTiffHeader(stream, headerMessages);
    EXPECT_EQ(readFirstDirectory(stream, directories, &offsets), 500);
    EXPECT_TRUE(directories[0].empty());
    EXPECT_TRUE(offsets.empty());
    readFollowingDirectories(stream, toInt32(read(stream, 4, 1, 'l')), directories);
    ASSERT_EQ(directories.size(), 3u);
    EXPECT_TRUE(directories[1].empty());
    ASSERT_EQ(directories[2].size(), 1u);
    EXPECT_EQ(directories[2][0].firstValue, 4242);
    std::fclose(stream);
}

TEST(Directories, LsmEntryNotLastIsFatal) {
    Bytes bytes = {'I', 'I', 42, 0, 8, 0, 0, 0};
    lsmtest::append16(bytes, 2);
    lsmtest::appendTiffEntry(bytes, 34412, 1, 228, 500);
    lsmtest::appendTiffEntry(bytes, 256, 4, 1, 8);
    lsmtest::append32(bytes, 0);
    FILE* stream = streamOf(bytes);
    DirectoryList directories;
    readTiffHeader(stream, headerMessages);
    EXPECT_EXIT(readFirstDirectory(stream, directories, nullptr), ExitedWithCode(1),
                exactly("LSM TAG nr (34412) WAS NOT FOUND !!!!!\nTerminating....\n"));
    std::fclose(stream);
}

TEST(LsmInfoBlock, EveryFieldAtItsPosition) {
    // Each integer field holds its position number, each float64 field position + 0.5.
    static const char kinds[] =
        "lttttttttt" "ffffff" "uu" "lllll" "f" "llllllll" "ffff" "lllllll" "f" "ll";
    Bytes bytes(4, 0);
    for (int field = 0; field < LsmInfoFieldCount; ++field) {
        if (kinds[field] == 'f')
            lsmtest::appendDouble(bytes, field + 0.5);
        else if (kinds[field] == 'u')
            lsmtest::append16(bytes, static_cast<uint16_t>(field));
        else
            lsmtest::append32(bytes, static_cast<uint32_t>(field));
    }
    ASSERT_EQ(bytes.size(), 4u + 228u);
    lsmtest::put32(bytes, 4 + 124, 0x80000000u);  // OffsetScanInformation beyond 2 GiB
    lsmtest::put32(bytes, 4 + 12, 0xFFFFFFFFu);   // DimensionY of -1 is kept as read
    FILE* stream = streamOf(bytes);
    LsmInfo info;
    readLsmInfo(stream, 4, info);
    EXPECT_EQ(std::ftell(stream), 4 + 228);
    ASSERT_EQ(info.size(), static_cast<size_t>(LsmInfoFieldCount));
    for (int field = 0; field < LsmInfoFieldCount; ++field) {
        if (field == OffsetScanInformation || field == DimensionY) continue;
        EXPECT_EQ(info[field], kinds[field] == 'f' ? field + 0.5 : field) << "field " << field;
    }
    EXPECT_EQ(info[OffsetScanInformation], -2147483648.0);
    EXPECT_EQ(info[DimensionY], -1.0);
    std::fclose(stream);
}

TEST(LsmInfoBlock, CutShortIsFatal) {
    Bytes bytes(100, 0);
    EXPECT_EXIT(
        {
            LsmInfo info;
            readLsmInfo(streamOf(bytes), 0, info);
        },
        ExitedWithCode(1), exactly(endOfFile));
}

// Runs the whole walk lsm-to-ics makes over a file, as far as the reader goes.
void walkWholeFile(const Bytes& bytes) {
    FILE* stream = streamOf(bytes);
    DirectoryList directories;
    StripOffsetList offsets;
    LsmInfo info;
    ScanInfoNumbers numbers;
    ScanInfoTexts texts;
    readTiffHeader(stream, headerMessages);
    const int32_t infoOffset = readFirstDirectory(stream, directories, &offsets);
    const int32_t next = toInt32(read(stream, 4, 1, 'l'));
    readLsmInfo(stream, infoOffset, info);
    readFollowingDirectories(stream, next, directories);
    readScanInfo(stream, toInt32(info[OffsetScanInformation]), numbers, texts);
    std::exit(0);
}

TEST(HostileFiles, TruncatedAtEveryByteEndsWithAMessageAndStatus1) {
    lsmtest::LsmContent content;
    content.channels = 3;
    content.slices = 2;
    content.scanInfo.wavelengths = {488, 543, 633};
    lsmtest::LsmLayout layout;
    const Bytes whole = lsmtest::buildLsmFile(content, &layout);
    // Everything in front of the pixel data is read; the scan information comes last. Each cut
    // starts a process, slow to start on Windows (most of all under wine): there every seventh
    // byte is cut, a step that still meets every alignment of the fields.
#ifdef _WIN32
    constexpr uint64_t cutStep = 7;
#else
    constexpr uint64_t cutStep = 1;
#endif
    for (uint64_t cut = 0; cut < layout.pixelData; cut += cutStep) {
        const Bytes truncated(whole.begin(), whole.begin() + static_cast<long>(cut));
        EXPECT_EXIT(walkWholeFile(truncated), ExitedWithCode(1), "Terminating\\.\\.\\.\n$")
            << "cut at " << cut;
    }
    const Bytes beforePixels(whole.begin(), whole.begin() + static_cast<long>(layout.pixelData));
    EXPECT_EXIT(walkWholeFile(beforePixels), ExitedWithCode(0), exactly(""));
}

namespace {

constexpr int32_t blockAt = 16;

// A file of the block at offset 16, with 64 bytes after it, so that a block that runs past its
// own size still ends within the file.
Bytes fileWithBlock(const Bytes& block) {
    Bytes bytes(blockAt + block.size() + 64, 0xAB);
    std::copy(block.begin(), block.end(), bytes.begin() + blockAt);
    return bytes;
}

ChannelColors colorsIn(const Bytes& bytes, int32_t offset, int32_t channels) {
    FILE* stream = streamOf(bytes);
    ChannelColors colors = readChannelColors(stream, offset, channels);
    std::fclose(stream);
    return colors;
}

std::vector<double> stampsIn(const Bytes& bytes, int32_t offset) {
    FILE* stream = streamOf(bytes);
    std::vector<double> stamps = readTimeStamps(stream, offset);
    std::fclose(stream);
    return stamps;
}

const std::vector<lsmtest::ChannelColorContent> threeChannels = {
    {255, 0, 0, "Ch1-T1"}, {0, 255, 0, "ChS1-T2"}, {0, 0, 0, "ChD-T3"}};

}  // namespace

TEST(ChannelColors, ReadFromTheOffsetInTheInformationBlock) {
    lsmtest::LsmContent content;
    content.channels = 3;
    content.channelColors = threeChannels;
    content.channelColors[1] = {12, 34, 56, "with\tother bytes"};
    lsmtest::LsmLayout layout;
    const Bytes bytes = lsmtest::buildLsmFile(content, &layout);
    FILE* stream = streamOf(bytes);
    LsmInfo info;
    readLsmInfo(stream, static_cast<int32_t>(layout.lsmInfo), info);
    const ChannelColors colors = readChannelColors(stream, toInt32(info[OffsetChannelColors]),
                                                   toInt32(info[DimensionChannels]));
    std::fclose(stream);
    EXPECT_EQ(colors.names, (std::vector<std::string>{"Ch1-T1", "with\tother bytes", "ChD-T3"}));
    std::vector<std::vector<int>> rgb;
    for (const RgbColor& color : colors.colors) rgb.push_back({color.red, color.green, color.blue});
    EXPECT_EQ(rgb, (std::vector<std::vector<int>>{{255, 0, 0}, {12, 34, 56}, {0, 0, 0}}));
}

TEST(ChannelColors, ABlockThatDoesNotHoldTogetherGivesNoColoursAndNoNames) {
    const Bytes good = lsmtest::channelColorsBlock(threeChannels);
    ASSERT_EQ(colorsIn(fileWithBlock(good), blockAt, 3).names.size(), 3u);
    const uint32_t size = static_cast<uint32_t>(good.size());
    const uint32_t lastName = size - 4 - 7;  // "ChD-T3" and its zero byte
    // Each: the field's position in the block and the value written there.
    const std::vector<std::pair<size_t, uint32_t>> damages = {
        {4, 2},                  // colour count differs from the name count
        {8, 0xFFFFFFFF},         // name count differs, negative
        {0, size - 1},           // size: the last name runs past it
        {0, 20},                 // size smaller than the header
        {0, 0x7FFFFFFF},         // size past the end of the file
        {0, 0xFFFFFFF0},         // size negative
        {12, size - 8},          // colours run past the size
        {12, 8},                 // colours inside the header
        {12, 0x80000000},        // colours at a negative offset
        {16, 20},                // names inside the header (the mono flag, 0, read as one)
        {16, size + 16},         // names beyond the size
        {lastName, 200},         // a name's length past the block (within the file)
        {lastName, 0x80000000},  // a name's length negative
    };
    for (const auto& [at, value] : damages) {
        Bytes block = good;
        lsmtest::put32(block, at, value);
        const ChannelColors colors = colorsIn(fileWithBlock(block), blockAt, 3);
        EXPECT_TRUE(colors.colors.empty() && colors.names.empty()) << at << " " << value;
    }
    // Counts that agree with each other but not with the image's channels, also huge ones, which
    // the block cannot hold.
    EXPECT_TRUE(colorsIn(fileWithBlock(good), blockAt, 2).names.empty());
    EXPECT_TRUE(colorsIn(fileWithBlock(good), blockAt, 0).names.empty());
    Bytes huge = good;
    lsmtest::put32(huge, 4, 0x7FFFFFFF);
    lsmtest::put32(huge, 8, 0x7FFFFFFF);
    EXPECT_TRUE(colorsIn(fileWithBlock(huge), blockAt, 0x7FFFFFFF).colors.empty());
    // No block, and blocks at offsets of 2 GiB and of nearly 4 GiB, beyond this file.
    for (int32_t offset : {0, INT32_MIN, -16})
        EXPECT_TRUE(colorsIn(fileWithBlock(good), offset, 3).colors.empty()) << offset;
    // A file cut anywhere inside the block.
    const Bytes whole = fileWithBlock(good);
    for (size_t cut = blockAt; cut < blockAt + good.size(); ++cut) {
        const ChannelColors colors =
            colorsIn(Bytes(whole.begin(), whole.begin() + long(cut)), blockAt, 3);
        EXPECT_TRUE(colors.colors.empty() && colors.names.empty()) << "cut at " << cut;
    }
}

TEST(TimeStamps, ReadAsWrittenOrLeftOutWhereTheBlockDoesNotHoldTogether) {
    const std::vector<double> written = {6596.375, 6598.125, 6599.875};
    lsmtest::LsmContent content;
    content.timeFrames = 3;
    content.timeStamps = written;
    lsmtest::LsmLayout layout;
    const Bytes file = lsmtest::buildLsmFile(content, &layout);
    EXPECT_EQ(stampsIn(file, static_cast<int32_t>(layout.timeStamps)), written);
    const Bytes good = lsmtest::timeStampsBlock(written);
    EXPECT_EQ(stampsIn(fileWithBlock(good), blockAt), written);
    EXPECT_TRUE(stampsIn(fileWithBlock(lsmtest::timeStampsBlock({})), blockAt).empty());
    // Each: size and count.
    const std::vector<std::pair<uint32_t, uint32_t>> damages = {
        {40, 3},               // size larger than the count says
        {32, 2},               // count smaller than the size says
        {0, 0xFFFFFFFF},       // count negative, size as 8 + 8 x count would wrap to
        {8, 0x20000000},       // count huge, 8 + 8 x count wrapped in 32 bits
        {8 + 8 * 1000, 1000},  // size and count agree, past the end of the file
    };
    for (const auto& [size, count] : damages) {
        Bytes block = good;
        lsmtest::put32(block, 0, size);
        lsmtest::put32(block, 4, count);
        EXPECT_TRUE(stampsIn(fileWithBlock(block), blockAt).empty()) << size << " " << count;
    }
    for (int32_t offset : {0, INT32_MIN, -16})
        EXPECT_TRUE(stampsIn(fileWithBlock(good), offset).empty()) << offset;
    const Bytes whole = fileWithBlock(good);
    for (size_t cut = blockAt; cut < blockAt + good.size(); ++cut)
        EXPECT_TRUE(stampsIn(Bytes(whole.begin(), whole.begin() + long(cut)), blockAt).empty())
            << "cut at " << cut;
}
