// Broken LSM files, each read by lsm-to-ics (ICS versions 1 and 2, OME-TIFF) and by image-info.
#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "corpus.h"

using corpus::failure;
using corpus::Outcome;
using corpus::success;
using lsmtest::Bytes;

namespace {

// The reader's messages.
const std::string pastEnd = "A value array or text runs past the end of the file.\nTerminating...";
const std::string typeNotSupported = "Tiff type not supported! - Not LSM! (1)\nTerminating...";
const std::string scanTypeUnknown = "Data type not defined in LSM! (1)\nTerminating...";

// lsm-to-ics's messages for the file bad1.lsm.
const std::string noStartTimeForHeader =
    "The scan information holds no start time of the recording.\nTerminating...";
const std::string fewImageEntries =
    "bad1.lsm: the second image's directory has fewer than seven entries.\nTerminating...";
const std::string compressed =
    "bad1.lsm: the image data is compressed (Compression 7), which cannot be decoded; "
    "uncompressed, LZW, Deflate and PackBits data can.\nTerminating...";

std::string unsupportedBitDepth(int bits) {
    return "bad1.lsm: a bit depth of " + std::to_string(bits) +
           " is not supported; only 8 and 16 bits per sample can be converted.\nTerminating...";
}

std::string emptyPlane(const std::string& size) {
    return "bad1.lsm: the image size " + size + " holds no pixels.\nTerminating...";
}

std::string missingSlice(int slices) {
    return "bad1.lsm: slice 1 does not exist; the file has slices 1 to " + std::to_string(slices) +
           ".\nTerminating...";
}

// image-info's messages.
const std::string noStartTimeForLine =
    "The scan information holds fewer than six date and time numbers: the start time of the "
    "recording cannot be printed.\nTerminating...";
const std::string absurdChannelCount =
    "The channel count is larger than the scan information could describe: every channel needs "
    "at least one of its 12-byte entries.\nTerminating...";

constexpr uint32_t max31 = 0x7FFFFFFFu;  // 2^31 - 1
constexpr uint32_t bit31 = 0x80000000u;  // 2^31
constexpr uint32_t max32 = 0xFFFFFFFFu;  // 2^32 - 1

// Positions of LSM files' fixed layout.
constexpr size_t bitsPerSampleEntry = 3;
constexpr size_t compressionEntry = 4;
constexpr size_t stripOffsetsEntry = 6;
constexpr size_t lsmEntry = 10;
constexpr size_t firstDirectoryEntries = 11;
constexpr uint16_t stripOffsetsTag = 273, lsmTag = 34412;
constexpr uint16_t typeByte = 1, typeLong = 4;
constexpr size_t dimensionXInBlock = 8;
constexpr size_t dimensionYInBlock = 12;
constexpr size_t dimensionZInBlock = 16;
constexpr size_t dimensionChannelsInBlock = 20;
constexpr size_t dimensionTimeInBlock = 24;
constexpr size_t scanInfoOffsetInBlock = 124;
constexpr uint32_t recordingBlock = 0x10000000;
constexpr uint32_t objectiveText = 0x10000004;
constexpr uint32_t startTimeTag = 0x10000036;
constexpr uint32_t scanText = 2, scanIntegers = 4, scanFloats = 5;

// Three 16-bit channels of 8 x 4 pixels and two slices: BitsPerSample and StripOffsets hold
// their values in arrays outside their entries, and lsm-to-ics reads three directories.
lsmtest::LsmContent goodContent() {
    lsmtest::LsmContent c;
    c.channels = 3;
    c.slices = 2;
    c.scanInfo.wavelengths = {488, 543, 633};
    return c;
}

struct LsmFile {
    Bytes bytes;
    lsmtest::LsmLayout layout;
};

LsmFile goodFile(const lsmtest::LsmContent& content = goodContent()) {
    LsmFile file;
    file.bytes = lsmtest::buildLsmFile(content, &file.layout);
    return file;
}

// Where the value that a case breaks lies in the good file.
using Position = std::function<size_t(const LsmFile&)>;

Position at(size_t byte) {
    return [byte](const LsmFile&) { return byte; };
}

Position plus(const Position& position, size_t bytes) {
    return [position, bytes](const LsmFile& f) { return position(f) + bytes; };
}

// Byte of entry index of directory (0 the first image, 1 its thumbnail, 2 the second image).
Position inEntry(size_t directory, size_t index, size_t byte) {
    return [directory, index, byte](const LsmFile& f) {
        return f.layout.directories.at(directory) + 2 + 12 * index + byte;
    };
}

Position inBlock(size_t byte) {
    return [byte](const LsmFile& f) { return f.layout.lsmInfo + byte; };
}

// The position that a 32-bit offset at position gives.
Position pointedAtBy(const Position& position) {
    return [position](const LsmFile& f) { return size_t{corpus::get32(f.bytes, position(f))}; };
}

Position directoryCount(size_t directory) {
    return [directory](const LsmFile& f) { return size_t{f.layout.directories.at(directory)}; };
}

const Position firstDirectoryOffset = at(4);
const Position nextDirectoryOffset = inEntry(0, firstDirectoryEntries, 0);
const Position lsmInfoOffset = inEntry(0, lsmEntry, 8);
const Position stripOffsetsCount = inEntry(0, stripOffsetsEntry, 4);
const Position stripOffsetsArray = inEntry(0, stripOffsetsEntry, 8);
const Position firstStripOffset = pointedAtBy(stripOffsetsArray);
const Position firstBitsPerSample = pointedAtBy(inEntry(0, bitsPerSampleEntry, 8));
const Position compressionValue = inEntry(0, compressionEntry, 8);
const Position scanInfoStart = [](const LsmFile& f) { return size_t{f.layout.scanInfo}; };
const Position pixelDataStart = [](const LsmFile& f) { return size_t{f.layout.pixelData}; };

using Maker = std::function<Bytes()>;

// The good file after an edit.
Maker edited(const std::function<void(LsmFile&)>& edit) {
    return [edit] {
        LsmFile f = goodFile();
        edit(f);
        return f.bytes;
    };
}

// The good file up to a position.
Maker cutAt(const Position& position) {
    return edited([position](LsmFile& f) { f.bytes.resize(position(f)); });
}

Maker with32(const Position& position, uint32_t value) {
    return edited([position, value](LsmFile& f) { lsmtest::put32(f.bytes, position(f), value); });
}

Maker with16(const Position& position, uint16_t value) {
    return edited([position, value](LsmFile& f) { lsmtest::put16(f.bytes, position(f), value); });
}

// The good file with an offset or count past its end at a position.
Maker pastEndAt(const Position& position) {
    return edited([position](LsmFile& f) {
        lsmtest::put32(f.bytes, position(f), static_cast<uint32_t>(f.bytes.size() + 16));
    });
}

// The good file with its scan information replaced by the entries of tree, and the pixel data
// left out if asked.
Maker withScanInfo(Bytes (*tree)(), bool endingAfterIt = false) {
    return [tree, endingAfterIt] {
        lsmtest::LsmContent c = goodContent();
        c.rawScanInfo = tree();
        LsmFile f = goodFile(c);
        if (endingAfterIt) f.bytes.resize(f.layout.pixelData);
        return f.bytes;
    };
}

// The good tree with entry inserted as the first one inside the recording block.
Bytes treeOpeningWith(const Bytes& entry) {
    const Bytes good = lsmtest::scanInfoTree(goodContent().scanInfo);
    Bytes tree;
    lsmtest::appendScanBlockStart(tree, recordingBlock);
    tree.insert(tree.end(), entry.begin(), entry.end());
    tree.insert(tree.end(), good.begin() + 12, good.end());
    return tree;
}

Bytes scanEntry(uint32_t tag, uint32_t type, uint32_t size, const Bytes& data) {
    Bytes entry;
    lsmtest::appendScanEntry(entry, tag, type, size, data);
    return entry;
}

Bytes bytesOf(const std::string& text) {
    Bytes bytes(text.begin(), text.end());
    bytes.push_back(0);
    return bytes;
}

Bytes startTimeData() {
    Bytes data;
    lsmtest::appendDouble(data, goodContent().scanInfo.startTime);
    return data;
}

Bytes repeatedEntry(const Bytes& entry, int times) {
    Bytes tree;
    for (int i = 0; i < times; ++i) tree.insert(tree.end(), entry.begin(), entry.end());
    return tree;
}

// The good file with a first directory of its own at the end: entries StripOffsets entries,
// each giving the same array of arrayValues values, then the LSM entry.
Bytes repeatedArrays(uint32_t entries, uint32_t arrayValues) {
    LsmFile f = goodFile();
    const auto array = static_cast<uint32_t>(f.bytes.size());
    for (uint32_t i = 0; i < arrayValues; ++i) lsmtest::append32(f.bytes, f.layout.pixelData);
    lsmtest::put32(f.bytes, 4, static_cast<uint32_t>(f.bytes.size()));
    lsmtest::append16(f.bytes, static_cast<uint16_t>(entries + 1));
    for (uint32_t i = 0; i < entries; ++i)
        lsmtest::appendTiffEntry(f.bytes, stripOffsetsTag, typeLong, arrayValues, array);
    lsmtest::appendTiffEntry(f.bytes, lsmTag, typeByte, 228, f.layout.lsmInfo);
    lsmtest::append32(f.bytes, 0);
    return f.bytes;
}

struct LsmCase {
    std::string name;
    Maker make;
    Outcome lsmToIcs;
    Outcome imageInfo;
};

void PrintTo(const LsmCase& c, std::ostream* out) {
    *out << c.name;
}

const Outcome endedEarly = failure(corpus::endOfFile);
const Outcome runsPastEnd = failure(pastEnd);

const std::vector<LsmCase> lsmCases = {
    // Nothing broken: the file the other cases break.
    {"Unbroken", [] { return goodFile().bytes; }, success(), success()},

    // Truncated files:

    // Nothing at all.
    {"EmptyFile", cutAt(at(0)), runsPastEnd, runsPastEnd},
    // The file ends inside the byte-order mark.
    {"CutInByteOrderMark", cutAt(at(1)), runsPastEnd, runsPastEnd},
    // The file ends inside the first directory's offset.
    {"CutInHeader", cutAt(at(6)), endedEarly, endedEarly},
    // The file ends in the middle of the first directory's second entry.
    {"CutInDirectory", cutAt(inEntry(0, 1, 6)), endedEarly, endedEarly},
    // The file ends inside the BitsPerSample values stored outside their entry.
    {"CutInValueArray", cutAt(plus(firstBitsPerSample, 3)), runsPastEnd, runsPastEnd},
    // The file ends inside the StripOffsets values.
    {"CutInStripOffsetsArray", cutAt(plus(firstStripOffset, 5)), runsPastEnd, runsPastEnd},
    // The file ends in the middle of the LSM information block.
    {"CutInInformationBlock", cutAt(inBlock(100)), endedEarly, endedEarly},
    // The file ends inside the first scan-information entry's header.
    {"CutInScanInfoEntry", cutAt(plus(scanInfoStart, 6)), endedEarly, endedEarly},
    // The file ends inside the text of the first scan-information text entry.
    {"CutInScanInfoText", cutAt(plus(scanInfoStart, 12 + 12 + 3)), runsPastEnd, runsPastEnd},
    // The file ends in the middle of the first plane.
    {"CutInPixelData", cutAt(plus(pixelDataStart, 32)), failure(corpus::couldNotReadPlane),
     success()},

    // Offsets at 0, past the end and at the edges of the signed and unsigned 32-bit ranges:

    // The first directory at 0: its entries are read from the header.
    {"FirstDirectoryAtZero", with32(firstDirectoryOffset, 0), failure(typeNotSupported),
     failure(typeNotSupported)},
    // The first directory past the end of the file.
    {"FirstDirectoryPastEnd", pastEndAt(firstDirectoryOffset), endedEarly, endedEarly},
    // The first directory at 2^31 - 1.
    {"FirstDirectoryAtMax31", with32(firstDirectoryOffset, max31), endedEarly, endedEarly},
    // The first directory at 2^31, negative as a signed value.
    {"FirstDirectoryAtBit31", with32(firstDirectoryOffset, bit31), endedEarly, endedEarly},
    // The first directory at 2^32 - 1.
    {"FirstDirectoryAtMax32", with32(firstDirectoryOffset, max32), endedEarly, endedEarly},
    // The information block at 0: the header and directory give no slices, scan info past the end.
    {"InformationBlockAtZero", with32(lsmInfoOffset, 0), failure(missingSlice(0)), endedEarly},
    // The information block past the end of the file.
    {"InformationBlockPastEnd", pastEndAt(lsmInfoOffset), endedEarly, endedEarly},
    // The information block at 2^31 - 1.
    {"InformationBlockAtMax31", with32(lsmInfoOffset, max31), endedEarly, endedEarly},
    // The information block at 2^31.
    {"InformationBlockAtBit31", with32(lsmInfoOffset, bit31), endedEarly, endedEarly},
    // The information block at 2^32 - 1.
    {"InformationBlockAtMax32", with32(lsmInfoOffset, max32), endedEarly, endedEarly},
    // The scan information at 0: the header is read as its first entry.
    {"ScanInfoAtZero", with32(inBlock(scanInfoOffsetInBlock), 0), failure(scanTypeUnknown),
     failure(scanTypeUnknown)},
    // The scan information past the end of the file.
    {"ScanInfoPastEnd", pastEndAt(inBlock(scanInfoOffsetInBlock)), endedEarly, endedEarly},
    // The scan information at 2^31 - 1.
    {"ScanInfoAtMax31", with32(inBlock(scanInfoOffsetInBlock), max31), endedEarly, endedEarly},
    // The scan information at 2^31.
    {"ScanInfoAtBit31", with32(inBlock(scanInfoOffsetInBlock), bit31), endedEarly, endedEarly},
    // The scan information at 2^32 - 1.
    {"ScanInfoAtMax32", with32(inBlock(scanInfoOffsetInBlock), max32), endedEarly, endedEarly},
    // Channel 1's strip at 0: a plane that lies in the file, so it is copied as it is.
    {"StripOffsetZero", with32(firstStripOffset, 0), success(), success()},
    // Channel 1's strip past the end of the file.
    {"StripOffsetPastEnd", pastEndAt(firstStripOffset), failure(corpus::couldNotReadPlane),
     success()},
    // Channel 1's strip at 2^31 - 1.
    {"StripOffsetAtMax31", with32(firstStripOffset, max31), failure(corpus::couldNotReadPlane),
     success()},
    // Channel 1's strip at 2^31.
    {"StripOffsetAtBit31", with32(firstStripOffset, bit31), failure(corpus::couldNotReadPlane),
     success()},
    // Channel 1's strip at 2^32 - 1.
    {"StripOffsetAtMax32", with32(firstStripOffset, max32), failure(corpus::couldNotReadPlane),
     success()},
    // The StripOffsets array at 0: the header's bytes are taken as strip offsets.
    {"StripOffsetsArrayAtZero", with32(stripOffsetsArray, 0), failure(corpus::couldNotReadPlane),
     success()},
    // The StripOffsets array past the end of the file.
    {"StripOffsetsArrayPastEnd", pastEndAt(stripOffsetsArray), runsPastEnd, runsPastEnd},
    // The StripOffsets array at 2^31 - 1.
    {"StripOffsetsArrayAtMax31", with32(stripOffsetsArray, max31), runsPastEnd, runsPastEnd},
    // The StripOffsets array at 2^31.
    {"StripOffsetsArrayAtBit31", with32(stripOffsetsArray, bit31), runsPastEnd, runsPastEnd},
    // The StripOffsets array at 2^32 - 1.
    {"StripOffsetsArrayAtMax32", with32(stripOffsetsArray, max32), runsPastEnd, runsPastEnd},
    // No StripOffsets values: the entry's value field, the array's offset, is the one strip.
    {"StripOffsetsCountZero", with32(stripOffsetsCount, 0), success(), success()},
    // More StripOffsets values than the file holds.
    {"StripOffsetsCountPastEnd", pastEndAt(stripOffsetsCount), runsPastEnd, runsPastEnd},
    // 2^31 - 1 StripOffsets values.
    {"StripOffsetsCountMax31", with32(stripOffsetsCount, max31), runsPastEnd, runsPastEnd},
    // 2^31 StripOffsets values, negative as a signed count: read as a count of at most 1.
    {"StripOffsetsCountBit31", with32(stripOffsetsCount, bit31), success(), success()},
    // 2^32 - 1 StripOffsets values, -1 as a signed count.
    {"StripOffsetsCountMax32", with32(stripOffsetsCount, max32), success(), success()},
    // No directory after the first: the chain ends at the first of the file's two images.
    {"NextDirectoryAtZero", with32(nextDirectoryOffset, 0),
     failure("bad1.lsm: it claims 2 slices of 1 time frames, 2 images, but holds one "
             "image.\nTerminating..."),
     success()},
    // The thumbnail directory past the end of the file.
    {"NextDirectoryPastEnd", pastEndAt(nextDirectoryOffset), endedEarly, success()},
    // The thumbnail directory at 2^31 - 1.
    {"NextDirectoryAtMax31", with32(nextDirectoryOffset, max31), endedEarly, success()},
    // The thumbnail directory at 2^31.
    {"NextDirectoryAtBit31", with32(nextDirectoryOffset, bit31), endedEarly, success()},
    // The thumbnail directory at 2^32 - 1.
    {"NextDirectoryAtMax32", with32(nextDirectoryOffset, max32), endedEarly, success()},

    // Directory entries:

    // 10000 StripOffsets entries sharing one array of 25000 values: 2.5 * 10^8 values in 220 KB.
    {"OneArrayForManyEntries", [] { return repeatedArrays(10000, 25000); },
     failure(corpus::arraysBeyondFile), failure(corpus::arraysBeyondFile)},
    // A first directory of no entries: the first entry is taken for the LSM entry.
    {"FirstDirectoryOfNoEntries", with16(directoryCount(0), 0), failure(corpus::lsmTagNotFound),
     failure(corpus::lsmTagNotFound)},
    // A first directory of 65535 entries, running over everything that follows it.
    {"FirstDirectoryOf65535Entries", with16(directoryCount(0), 65535), failure(typeNotSupported),
     failure(typeNotSupported)},
    // A thumbnail directory of no entries: the second image is read from its first entry.
    {"ThumbnailDirectoryOfNoEntries", with16(directoryCount(1), 0), failure(fewImageEntries),
     success()},
    // A thumbnail directory of 65535 entries.
    {"ThumbnailDirectoryOf65535Entries", with16(directoryCount(1), 65535),
     failure(typeNotSupported), success()},
    // A second image directory of no entries: no StripOffsets to step from plane to plane.
    {"SecondImageDirectoryOfNoEntries", with16(directoryCount(2), 0), failure(fewImageEntries),
     success()},
    // A second image directory of 65535 entries.
    {"SecondImageDirectoryOf65535Entries", with16(directoryCount(2), 65535),
     failure(typeNotSupported), success()},

    // The scan-information tree:

    // A text entry of size 0 followed by its text, which is then read as the next entry.
    {"ScanTextOfSizeZero", withScanInfo([] {
         return treeOpeningWith(scanEntry(objectiveText, scanText, 0, bytesOf("63x/1.4")));
     }),
     failure(scanTypeUnknown), failure(scanTypeUnknown)},
    // A text entry of size 0xFFFFFFFF.
    {"ScanTextOfSizeMax32", withScanInfo([] {
         return treeOpeningWith(scanEntry(objectiveText, scanText, max32, bytesOf("63x/1.4")));
     }),
     runsPastEnd, runsPastEnd},
    // An integer entry of size 0xFFFFFFFF.
    {"ScanIntegersOfSizeMax32", withScanInfo([] {
         return treeOpeningWith(scanEntry(0x40000001, scanIntegers, max32, {1, 0, 0, 0}));
     }),
     runsPastEnd, runsPastEnd},
    // A floating-point entry of size 0xFFFFFFFF.
    {"ScanFloatsOfSizeMax32", withScanInfo([] {
         return treeOpeningWith(scanEntry(startTimeTag, scanFloats, max32, startTimeData()));
     }),
     runsPastEnd, runsPastEnd},
    // The start time of size 0 followed by its value, which is then read as the next entry.
    {"ScanFloatsOfSizeZero", withScanInfo([] {
         return treeOpeningWith(scanEntry(startTimeTag, scanFloats, 0, startTimeData()));
     }),
     failure(scanTypeUnknown), failure(scanTypeUnknown)},
    // The recording block's marker of size 0xFFFFFFFF: block markers carry no data.
    {"ScanBlockMarkerOfSizeMax32", withScanInfo([] {
         Bytes tree = lsmtest::scanInfoTree(goodContent().scanInfo);
         lsmtest::put32(tree, 8, max32);
         return tree;
     }),
     success(), success()},
    // A thousand nested blocks that never close, and the file ends after them.
    {"ScanBlocksThatNeverClose",
     withScanInfo([] { return repeatedEntry(scanEntry(recordingBlock, 0, 0, {}), 1000); }, true),
     endedEarly, endedEarly},
    // A thousand end markers and no block to end: the walk goes on into the pixel data.
    {"ScanEndMarkersOnly",
     withScanInfo([] { return repeatedEntry(scanEntry(0xFFFFFFFF, 0, 0, {}), 1000); }),
     failure(scanTypeUnknown), failure(scanTypeUnknown)},
    // A recording without its start time.
    {"ScanInfoWithoutStartTime", withScanInfo([] {
         lsmtest::ScanInfoContent scanInfo = goodContent().scanInfo;
         scanInfo.hasStartTime = false;
         return lsmtest::scanInfoTree(scanInfo);
     }),
     failure(noStartTimeForHeader), failure(noStartTimeForLine)},

    // Absurd image descriptions:

    // DimensionX 0.
    {"DimensionXZero", with32(inBlock(dimensionXInBlock), 0), failure(emptyPlane("0 x 4")),
     success()},
    // DimensionX -1.
    {"DimensionXNegative", with32(inBlock(dimensionXInBlock), max32), failure(emptyPlane("-1 x 4")),
     success()},
    // DimensionX 2^31 - 1: a plane far larger than the file.
    {"DimensionXMax31", with32(inBlock(dimensionXInBlock), max31),
     failure(corpus::couldNotReadPlane), success()},
    // DimensionY 0.
    {"DimensionYZero", with32(inBlock(dimensionYInBlock), 0), failure(emptyPlane("8 x 0")),
     success()},
    // DimensionY -1.
    {"DimensionYNegative", with32(inBlock(dimensionYInBlock), max32), failure(emptyPlane("8 x -1")),
     success()},
    // DimensionY 2^31 - 1.
    {"DimensionYMax31", with32(inBlock(dimensionYInBlock), max31),
     failure(corpus::couldNotReadPlane), success()},
    // DimensionZ 0: the slice asked for is not there.
    {"DimensionZZero", with32(inBlock(dimensionZInBlock), 0), failure(missingSlice(0)), success()},
    // DimensionZ -1.
    {"DimensionZNegative", with32(inBlock(dimensionZInBlock), max32), failure(missingSlice(-1)),
     success()},
    // DimensionZ 2^31 - 1: only the slice asked for is read.
    {"DimensionZMax31", with32(inBlock(dimensionZInBlock), max31), success(), success()},
    // DimensionChannels 0: lsm-to-ics counts channels by their strips.
    {"DimensionChannelsZero", with32(inBlock(dimensionChannelsInBlock), 0), success(), success()},
    // DimensionChannels -1.
    {"DimensionChannelsNegative", with32(inBlock(dimensionChannelsInBlock), max32), success(),
     success()},
    // DimensionChannels 2^31 - 1: far more wavelengths than the scan information could hold.
    {"DimensionChannelsMax31", with32(inBlock(dimensionChannelsInBlock), max31), success(),
     failure(absurdChannelCount)},
    // DimensionTime -1, which counts as one frame.
    {"DimensionTimeNegative", with32(inBlock(dimensionTimeInBlock), max32), success(), success()},
    // DimensionTime 2^31 - 1 in a file of one frame: refused before a plane is copied.
    {"DimensionTimeMax31", with32(inBlock(dimensionTimeInBlock), max31),
     failure("bad1.lsm: its 2147483647 time frames of 2 slices do not fit in the "
             "file.\nTerminating..."),
     success()},
    // Two frames whose second image lies where the first does: the frames would be one image
    // copied over and over.
    {"DimensionTimeOverImagesInOnePlace", edited([](LsmFile& f) {
         lsmtest::put32(f.bytes, inBlock(dimensionTimeInBlock)(f), 2);
         const uint32_t first = corpus::get32(f.bytes, firstStripOffset(f));
         lsmtest::put32(f.bytes, pointedAtBy(inEntry(2, stripOffsetsEntry, 8))(f), first);
     }),
     failure("bad1.lsm: its images lie 0 bytes apart, closer than a plane of 64 "
             "bytes.\nTerminating..."),
     success()},
    // Channel 1 of 0 bits per sample.
    {"BitsPerSampleZero", with16(firstBitsPerSample, 0), failure(unsupportedBitDepth(0)),
     success()},
    // Channel 1 of 65535 bits per sample.
    {"BitsPerSampleMax16", with16(firstBitsPerSample, 65535), failure(unsupportedBitDepth(65535)),
     success()},
    // JPEG-compressed planes, which are not decoded.
    {"CompressedPlanes", with16(compressionValue, 7), failure(compressed), success()},
};

class LsmCorpus : public testing::TestWithParam<LsmCase> {
   protected:
    lsmtest::TempDir dir;

    void SetUp() override { lsmtest::writeBytes(dir.file("bad1.lsm"), GetParam().make()); }
};

corpus::Invocation lsmToIcs(const std::string& mode) {
    return {LSM_TO_ICS_PATH,
            {"-s", "1", "-j", "1", "-e", "1", "bad?.lsm", "-o", "out", "-z", "1", "1", "-c", "1",
             "-t", "1", mode},
            mode == "-ome" ? "out\\.ome\\.tif" : "out\\.(ics|ids)",
            true,
            false};
}

TEST_P(LsmCorpus, LsmToIcsVersion1) {
    corpus::expectOutcome(dir, lsmToIcs("-S1"), GetParam().lsmToIcs);
}

TEST_P(LsmCorpus, LsmToIcsVersion2) {
    corpus::expectOutcome(dir, lsmToIcs("-S2"), GetParam().lsmToIcs);
}

// The same run into an OME-TIFF, which prints none of the ICS header's sensor warnings.
TEST_P(LsmCorpus, LsmToOmeTiff) {
    const Outcome& ics = GetParam().lsmToIcs;
    corpus::expectOutcome(dir, lsmToIcs("-ome"), ics.status == 0 ? success() : ics);
}

TEST_P(LsmCorpus, ImageInfo) {
    corpus::expectOutcome(dir, {IMAGE_INFO_PATH, {"bad1.lsm"}, "", false, false},
                          GetParam().imageInfo);
}

INSTANTIATE_TEST_SUITE_P(BadLsm, LsmCorpus, testing::ValuesIn(lsmCases), corpus::CaseName());

}  // namespace
