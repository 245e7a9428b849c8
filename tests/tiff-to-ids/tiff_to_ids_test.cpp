// End-to-end tests of tiff-to-ids on TIFF files written through libtiff.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <stdexcept>

#include "test_support.h"
#include "tiff_writer.h"

using namespace lsmtest;

namespace {

struct Case {
    std::vector<std::string> args;
    std::string expected;
};

// Strips of two rows, the last one shorter when the height is odd.
TiffImage stripedImage(uint32_t width, uint32_t height, uint16_t bits, uint32_t seed,
                       uint16_t compression = 1) {
    TiffImage image = tiffImage(width, height, bits, seed);
    image.rowsPerStrip = 2;
    image.compression = compression;
    return image;
}

Bytes joined(const std::vector<Bytes>& parts) {
    Bytes all;
    for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

RunResult run(const TempDir& dir, const std::vector<std::string>& args) {
    return runProgram(PROGRAM_PATH, args, dir.path);
}

bool endsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// Where value index of the first directory's entry tag lies in a little-endian TIFF file.
size_t valuePosition(const Bytes& file, uint32_t tag, uint32_t index) {
    auto get = [&](size_t at, int size) {
        uint32_t value = 0;
        for (int b = size - 1; b >= 0; --b) value = value << 8 | file[at + b];
        return value;
    };
    const size_t directory = get(4, 4);
    for (size_t entry = directory + 2; entry < directory + 2 + 12 * get(directory, 2);
         entry += 12) {
        if (get(entry, 2) != tag) continue;
        const uint32_t size = get(entry + 2, 2) == 3 ? 2 : 4;
        const size_t values = get(entry + 4, 4) * size <= 4 ? entry + 8 : get(entry + 8, 4);
        return values + index * size;
    }
    throw std::runtime_error("no such entry");
}

// The first file holds two images, of which only the first counts.
TEST(TiffToIds, AppendsEveryStripOfEachFilesFirstImageInListOrder) {
    TempDir dir;
    const TiffImage a = stripedImage(6, 5, 8, 1);
    const TiffImage b = stripedImage(7, 6, 16, 2);
    // Samples are appended as stored: a big-endian file's 16-bit samples are not swapped.
    Bytes bStored = b.pixels;
    for (size_t i = 0; i < bStored.size(); i += 2) std::swap(bStored[i], bStored[i + 1]);
    writeTiff(dir.file("a.tif"), {a, stripedImage(9, 9, 8, 3)});
    writeTiff(dir.file("b.tif"), {b}, true);
    ASSERT_EQ(readTiff(dir.file("b.tif")).stripCount, 3u);

    const RunResult result = run(dir, {"-i", "2", "a.tif", "b.tif", "-o", "stack.ics"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "6 5\n7 6\ncomplete\n");
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(readBytes(dir.file("stack.ids")), joined({a.pixels, bStored}));
}

// Strips that follow each other in the file are copied together; these do not.
TEST(TiffToIds, StripsAreAppendedInStripOrderWhereverTheFileStoresThem) {
    TempDir dir;
    const TiffImage image = stripedImage(6, 5, 8, 1);
    writeTiff(dir.file("a.tif"), {image});
    Bytes file = readBytes(dir.file("a.tif"));
    // Strips 0 and 1, of 12 bytes each, swap their offsets; strip 2 stays behind them.
    const auto first = file.begin() + static_cast<long>(valuePosition(file, 273, 0));
    const auto second = file.begin() + static_cast<long>(valuePosition(file, 273, 1));
    std::swap_ranges(first, first + 4, second);
    writeBytes(dir.file("a.tif"), file);

    EXPECT_EQ(run(dir, {"-i", "1", "a.tif", "-o", "s"}).status, 0);
    const Bytes& p = image.pixels;
    EXPECT_EQ(readBytes(dir.file("s.ids")),
              joined({Bytes(p.begin() + 12, p.begin() + 24), Bytes(p.begin(), p.begin() + 12),
                      Bytes(p.begin() + 24, p.end())}));
}

TEST(TiffToIds, CompressedFilesGiveTheirDecodedPixels) {
    TempDir dir;
    const std::vector<TiffImage> images = {
        stripedImage(6, 5, 8, 1, 5), stripedImage(6, 5, 16, 2, 8), stripedImage(9, 4, 8, 3, 32773),
        stripedImage(6, 5, 8, 4)};
    std::vector<std::string> args = {"-o", "s", "-i", std::to_string(images.size())};
    std::vector<Bytes> pixels;
    for (const TiffImage& image : images) {
        args.push_back(std::to_string(args.size()) + ".tif");
        writeTiff(dir.file(args.back()), {image});
        pixels.push_back(image.pixels);
    }
    EXPECT_EQ(run(dir, args).status, 0);
    EXPECT_EQ(readBytes(dir.file("s.ids")), joined(pixels));
}

TEST(TiffToIds, UnopenableFilesAreSkippedAndTheRunFails) {
    TempDir dir;
    const TiffImage a = stripedImage(6, 5, 8, 1);
    const TiffImage c = stripedImage(3, 3, 8, 2);
    writeTiff(dir.file("a.tif"), {a});
    writeText(dir.file("junk.tif"), "not a TIFF file");
    writeTiff(dir.file("c.tif"), {c});
    const RunResult result =
        run(dir, {"-i", "4", "a.tif", "junk.tif", "missing.tif", "c.tif", "-o", "s"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "6 5\n3 3\n");
    EXPECT_NE(result.err.find("Could not open as TIFF, skipped: junk.tif\n"), std::string::npos);
    EXPECT_TRUE(endsWith(result.err,
                         "Could not open as TIFF, skipped: missing.tif\nInput files skipped: 2\n"));
    EXPECT_EQ(readBytes(dir.file("s.ids")), joined({a.pixels, c.pixels}));
}

TEST(TiffToIds, RunsAppendBehindWhatTheDataFileHolds) {
    TempDir dir;
    const TiffImage a = stripedImage(6, 5, 8, 1);
    const TiffImage b = stripedImage(2, 2, 8, 2);
    writeTiff(dir.file("a.tif"), {a});
    writeTiff(dir.file("b.tif"), {b});
    writeBytes(dir.file("s.ids"), {1, 2, 3});
    EXPECT_EQ(run(dir, {"-o", "s", "-i", "1", "a.tif"}).status, 0);
    // A second "-i" adds to the list of the first.
    EXPECT_EQ(run(dir, {"-o", "s", "-i", "1", "b.tif", "-i", "1", "a.tif"}).status, 0);
    EXPECT_EQ(readBytes(dir.file("s.ids")), joined({{1, 2, 3}, a.pixels, b.pixels, a.pixels}));
}

TEST(TiffToIds, DataFileNameIsTheOutputNameUpToItsFirstIcs) {
    const TiffImage a = stripedImage(6, 5, 8, 1);
    for (const Case& form : std::vector<Case>{{{"-o", "stack.ics"}, "stack.ids"},
                                              {{"-o", "stack"}, "stack.ids"},
                                              {{"-o", "a.ics.bak"}, "a.ids"},
                                              {{"-o", "data.icsx"}, "data.ids"},
                                              {{"-o", "first", "-o", "last.ics"}, "last.ids"},
                                              {{}, ".ids"}}) {
        TempDir dir;
        writeTiff(dir.file("a.tif"), {a});
        std::vector<std::string> args = form.args;
        args.insert(args.end(), {"-i", "1", "a.tif"});
        EXPECT_EQ(run(dir, args).status, 0) << form.expected;
        std::vector<std::string> names = {form.expected, "a.tif"};
        std::sort(names.begin(), names.end());
        EXPECT_EQ(listFolder(dir.path), names);
        EXPECT_EQ(readBytes(dir.file(form.expected)), a.pixels);
    }
}

TEST(TiffToIds, EchoesOptionValuesInCommandLineOrderAndWritesNothingWithoutInput) {
    for (const Case& echo : std::vector<Case>{
             {{"-z", "1", "5", "-ch", "2", "-t", "3", "4"},
              "zstart = 1 ; zend = 5\n# channels = 2\ntstart = 3 ; tend = 4\n"},
             {{"-i", "0", "-ch", "3"}, "# channels = 3\n"},
             {{"-z", "3", "-t", "1", "2"}, "zstart = 3 ; zend = 0\ntstart = 1 ; tend = 2\n"},
             {{"-ch", "-z", "1", "2"}, "# channels = 0\nzstart = 1 ; zend = 2\n"},
             {{"-z", "12abc", " -7", "-t", "+4", "x9", "-ch", "99999999999", "-Z", "-zz", "-CH"},
              "zstart = 12 ; zend = -7\ntstart = 4 ; tend = 0\n# channels = 2147483647\n"}}) {
        TempDir dir;
        const RunResult result = run(dir, echo.args);
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.out, echo.expected + "complete\n");
        EXPECT_EQ(result.err, "");
        EXPECT_TRUE(listFolder(dir.path).empty());
    }
}

TEST(TiffToIds, MissingOptionValuesStopTheRunBeforeAnythingIsWritten) {
    for (const Case& missing : std::vector<Case>{
             {{"-i", "1", "a.tif", "-z", "1"}, "Missing value after option -z"},
             {{"-i", "1", "a.tif", "-t"}, "Missing value after option -t"},
             {{"-ch"}, "Missing value after option -ch"},
             {{"-z", "1", "2", "-i", "1", "a.tif", "-o"}, "Missing value after option -o"},
             {{"-i"}, "Missing value after option -i"},
             {{"-i", "3", "a.tif", "a.tif"}, "Too few file names after -i 3"}}) {
        TempDir dir;
        writeTiff(dir.file("a.tif"), {stripedImage(6, 5, 8, 1)});
        const RunResult result = run(dir, missing.args);
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err, missing.expected + "\n");
        EXPECT_EQ(listFolder(dir.path), std::vector<std::string>{"a.tif"});
    }
}

TEST(TiffToIds, DataFileThatCannotBeOpenedStopsTheRun) {
    TempDir dir;
    writeTiff(dir.file("a.tif"), {stripedImage(6, 5, 8, 1)});
    ASSERT_EQ(mkdir(dir.file("s.ids").c_str(), 0755), 0);
    const RunResult result = run(dir, {"-i", "1", "a.tif", "-o", "s"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "6 5\n");
    EXPECT_EQ(result.err, "Could not open data file for appending: s.ids\n");
}

// Each broken file follows a good one, whose data must stay in the data file.
TEST(TiffToIds, BrokenFileStopsTheRunAndKeepsWhatWasAppended) {
    const TiffImage good = stripedImage(6, 5, 8, 1);
    const TiffImage striped = stripedImage(6, 5, 8, 2);
    TiffImage single = tiffImage(6, 5, 8, 3);
    single.compression = 5;
    TiffImage tiled = tiffImage(20, 20, 8, 4);
    tiled.tileSize = 16;
    struct Broken {
        TiffImage image;
        void (*damage)(Bytes&);
        std::string message;
        size_t bytesAppended;
    };
    for (const Broken& broken : std::vector<Broken>{
             // the last strip starts two bytes before the end of the file
             {striped, [](Bytes& f) { put32(f, valuePosition(f, 273, 2), uint32_t(f.size() - 2)); },
              "Could not read strip 2 of b.tif", 24},
             // deflate data that does not start with a zlib header
             {stripedImage(6, 5, 8, 2, 8), [](Bytes& f) { put32(f, 8, 0); },
              "Could not read strip 0 of b.tif", 0},
             // a stored strip of 1 GiB in a file of a few hundred bytes
             {striped, [](Bytes& f) { put32(f, valuePosition(f, 279, 1), 1u << 30); },
              "Strip larger than the file can hold in b.tif", 0},
             // a compressed strip that would decode to 4 GiB
             {single,
              [](Bytes& f) {
                  for (uint32_t tag : {256u, 257u, 278u}) put16(f, valuePosition(f, tag, 0), 65535);
              },
              "Strip larger than the file can hold in b.tif", 0},
             {tiled, [](Bytes&) {}, "Tiled image, no strips to append: b.tif", 0}}) {
        TempDir dir;
        writeTiff(dir.file("a.tif"), {good});
        writeTiff(dir.file("b.tif"), {broken.image});
        Bytes file = readBytes(dir.file("b.tif"));
        broken.damage(file);
        writeBytes(dir.file("b.tif"), file);
        const RunResult result = run(dir, {"-i", "3", "a.tif", "b.tif", "a.tif", "-o", "s"});
        EXPECT_EQ(result.status, 1) << broken.message;
        EXPECT_TRUE(endsWith(result.err, broken.message + "\n")) << result.err;
        const Bytes& partial = broken.image.pixels;
        EXPECT_EQ(
            readBytes(dir.file("s.ids")),
            joined({good.pixels, Bytes(partial.begin(), partial.begin() + broken.bytesAppended)}));
    }
}

TEST(TiffToIds, RealMicroscopeFileGivesTheStripsOfItsFirstImage) {
    const std::string sample = std::string(SAMPLES_DIR) + "/nytra_test.lsm";
    if (!fileExists(sample)) GTEST_SKIP() << "no samples folder";
    TempDir dir;
    const RunResult result = run(dir, {"-i", "1", sample, "-o", "s"});
    EXPECT_EQ(result.out, "512 512\ncomplete\n");
    EXPECT_EQ(readBytes(dir.file("s.ids")), readTiff(sample).pixels);
}

}  // namespace
