// The copy of a byte range and the positioned reads and writes, by the kernel and through the
// buffer (the same test built against the library made with LSM_BYTE_COPY_FALLBACK).
#include "byte_range_copy.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Bytes that differ from their neighbours, so that a piece copied from the wrong place shows.
Bytes countingBytes(size_t count) {
    Bytes bytes(count);
    for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + i / 251);
    return bytes;
}

void writeFile(const std::string& name, const Bytes& bytes) {
    const int file = fileio::openForWriting(name, true);
    ASSERT_GE(file, 0);
    ASSERT_TRUE(fileio::writeAll(file, bytes.data(), bytes.size()));
    ASSERT_TRUE(fileio::closeFile(file));
}

Bytes readFile(const std::string& name) {
    const std::string text = lsmtest::readText(name);
    return Bytes(text.begin(), text.end());
}

// A range of several buffers and an odd end, from an odd offset, after what the output holds:
// every byte lands in place, the input's own position untouched, and CR and LF bytes unchanged.
TEST(ByteRangeCopy, CopiesARangeToTheOutputsPositionByteForByte) {
    lsmtest::TempDir dir;
    const Bytes input = countingBytes(3 * 1024 * 1024 + 13);
    writeFile(dir.file("in"), input);
    writeFile(dir.file("out"), Bytes{'\r', '\n', 0x1A});
    FILE* from = std::fopen(dir.file("in").c_str(), "rb");  // as the programs open inputs
    const int to = fileio::openForWriting(dir.file("out"), false);
    ASSERT_TRUE(from);
    ASSERT_GE(to, 0);
    fileio::seekToEnd(to);
    const uint64_t offset = 5, count = input.size() - 9;
    EXPECT_EQ(fileio::copyRange(to, fileno(from), offset, count), fileio::CopyResult::copied);
    EXPECT_EQ(std::ftell(from), 0);
    ASSERT_TRUE(fileio::closeFile(to));
    std::fclose(from);
    Bytes expected{'\r', '\n', 0x1A};
    expected.insert(expected.end(), input.begin() + offset, input.begin() + offset + count);
    EXPECT_EQ(readFile(dir.file("out")), expected);
}

TEST(ByteRangeCopy, SaysWhereTheInputEndsBeforeTheRange) {
    lsmtest::TempDir dir;
    writeFile(dir.file("in"), countingBytes(1000));
    FILE* input = std::fopen(dir.file("in").c_str(), "rb");
    const int output = fileio::openForWriting(dir.file("out"), true);
    ASSERT_TRUE(input);
    EXPECT_EQ(fileio::copyRange(output, fileno(input), 600, 401), fileio::CopyResult::inputEnded);
    EXPECT_EQ(fileio::copyRange(output, fileno(input), 1000, 1), fileio::CopyResult::inputEnded);
    EXPECT_EQ(fileio::fileSize(fileno(input)), 1000);
    std::fclose(input);
    fileio::closeFile(output);
}

// Positioned reads and writes leave the file's position where it was: where the next plain
// write goes.
TEST(ByteRangeCopy, PositionedReadsAndWritesLeaveThePosition) {
    lsmtest::TempDir dir;
    const int file = fileio::openForUpdate(dir.file("f"));
    ASSERT_GE(file, 0);
    const Bytes ten = countingBytes(10);
    ASSERT_TRUE(fileio::writeAll(file, ten.data(), 4));
    ASSERT_TRUE(fileio::writeAllAt(file, ten.data() + 4, 6, uint64_t{5} << 32));
    uint8_t back[6] = {};
    EXPECT_EQ(fileio::readAt(file, back, 6, uint64_t{5} << 32), 6);
    EXPECT_EQ(Bytes(back, back + 6), Bytes(ten.begin() + 4, ten.end()));
    EXPECT_EQ(fileio::readAt(file, back, 6, (uint64_t{5} << 32) + 6), 0);
    ASSERT_TRUE(fileio::writeAll(file, ten.data() + 4, 1));
    EXPECT_EQ(fileio::readAt(file, back, 6, 0), 6);
    EXPECT_EQ(Bytes(back, back + 5), Bytes(ten.begin(), ten.begin() + 5));
    EXPECT_EQ(fileio::fileSize(file), static_cast<int64_t>((uint64_t{5} << 32) + 6));
    EXPECT_TRUE(fileio::isRegularFile(file));
    ASSERT_TRUE(fileio::closeFile(file));
}

}  // namespace
