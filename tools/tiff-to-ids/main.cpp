// tiff-to-ids: appends the strips of the first image of each listed TIFF file to one ICS data
// file, for an ICS header written by other means.
#include <tiffio.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

#include "byte_range_copy.h"
#include "standard_options.h"

namespace {

const char* const usage =
    "usage: tiff-to-ids -i N FILE... [-o NAME] [-z ZSTART ZEND] [-t TSTART TEND] [-ch CHANNELS]\n"
    "  Appends the strips of the first image of each TIFF file, in order, to NAME.ids (NAME cut\n"
    "  at its first \".ics\"; \".ids\" without -o). -z, -t and -ch are only echoed.";

constexpr char zOption[] = "-z";
constexpr char tOption[] = "-t";
constexpr char channelsOption[] = "-ch";
constexpr char inputOption[] = "-i";
constexpr char outputOption[] = "-o";

constexpr char zStartText[] = "zstart = ";
constexpr char zEndText[] = " ; zend = ";
constexpr char tStartText[] = "tstart = ";
constexpr char tEndText[] = " ; tend = ";
constexpr char channelsText[] = "# channels = ";
constexpr char completeText[] = "complete";

constexpr char missingValueText[] = "Missing value after option ";
constexpr char missingNamesText[] = "Too few file names after -i ";
constexpr char skippedFileText[] = "Could not open as TIFF, skipped: ";
constexpr char skippedCountText[] = "Input files skipped: ";
constexpr char tiledText[] = "Tiled image, no strips to append: ";
constexpr char noStripByteCountsText[] = "No strip byte counts in ";
constexpr char stripTooLargeText[] = "Strip larger than the file can hold in ";
constexpr char noMemoryText[] = "Could not allocate the strip buffer for ";
constexpr char stripReadText[] = "Could not read strip ";
constexpr char stripOfText[] = " of ";
constexpr char dataOpenText[] = "Could not open data file for appending: ";
constexpr char dataWriteText[] = "Could not write to data file: ";

constexpr char headerExtension[] = ".ics";
constexpr char dataExtension[] = ".ids";

// A compressed strip decodes to more bytes than it stores, but real images stay far below this
// many decoded bytes per byte of the file; a file claiming larger strips would only exhaust
// memory.
constexpr uint64_t maxDecodedPerFileByte = 4096;


struct RunSettings {
    std::string outputBaseName;
    std::vector<std::string> inputList;
    std::vector<std::string> echoLines;  // printed once the whole command line has been checked
};

void writeLine(FILE* stream, const std::string& line) {
    std::fputs(line.c_str(), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

void printLine(const std::string& line) {
    writeLine(stdout, line);
}

[[noreturn]] void fail(const std::string& message) {
    writeLine(stderr, message);
    std::exit(1);
}

// Leading blanks, an optional sign and the digits up to the first other character; 0 when
// there are none. Values beyond the 32-bit range are held at its ends.
int32_t decimalValue(const char* text) {
    const long long value = std::strtoll(text, nullptr, 10);
    if (value < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
    if (value > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
    return static_cast<int32_t>(value);
}

// Fatal unless count arguments follow the option at position at.
void requireValues(int argc, char** argv, int at, int64_t count) {
    if (at + count >= argc) fail(missingValueText + std::string(argv[at]));
}

std::string rangeEcho(int argc, char** argv, int at, const char* startText, const char* endText) {
    requireValues(argc, argv, at, 2);
    return startText + std::to_string(decimalValue(argv[at + 1])) + endText +
           std::to_string(decimalValue(argv[at + 2]));
}

std::string channelsEcho(int argc, char** argv, int at) {
    requireValues(argc, argv, at, 1);
    return channelsText + std::to_string(decimalValue(argv[at + 1]));
}

// "-i" N, then N names: the names join the list behind those of any earlier "-i".
void appendInputNames(int argc, char** argv, int at, std::vector<std::string>& inputList) {
    requireValues(argc, argv, at, 1);
    const int32_t count = decimalValue(argv[at + 1]);
    if (count <= 0) return;
    if (at + 1 + int64_t{count} >= argc) fail(missingNamesText + std::to_string(count));
    inputList.insert(inputList.end(), argv + at + 2, argv + at + 2 + count);
}

// The name up to its first ".ics", so that a header's name serves as well as a base name.
std::string outputBaseName(int argc, char** argv, int at) {
    requireValues(argc, argv, at, 1);
    const std::string name = argv[at + 1];
    return name.substr(0, name.find(headerExtension));
}

// Every argument, the program's name included, is compared with the option words; values are
// not consumed, so each value is in its turn examined as a possible option.
RunSettings scanCommandLine(int argc, char** argv) {
    RunSettings settings;
    for (int at = 0; at < argc; ++at) {
        const std::string argument = argv[at];
        if (argument == zOption)
            settings.echoLines.push_back(rangeEcho(argc, argv, at, zStartText, zEndText));
        else if (argument == tOption)
            settings.echoLines.push_back(rangeEcho(argc, argv, at, tStartText, tEndText));
        else if (argument == channelsOption)
            settings.echoLines.push_back(channelsEcho(argc, argv, at));
        else if (argument == inputOption)
            appendInputNames(argc, argv, at, settings.inputList);
        else if (argument == outputOption)
            settings.outputBaseName = outputBaseName(argc, argv, at);
    }
    return settings;
}

uint64_t fileSize(TIFF* tiff) {
    return static_cast<uint64_t>(std::max<int64_t>(fileio::fileSize(TIFFFileno(tiff)), 0));
}

bool isCompressed(TIFF* tiff) {
    uint16_t compression = COMPRESSION_NONE;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_COMPRESSION, &compression);
    return compression != COMPRESSION_NONE;
}

uint64_t largestStrip(const uint64_t* stripByteCounts, uint32_t stripCount) {
    uint64_t largest = 0;
    for (uint32_t j = 0; j < stripCount; ++j)
        if (stripByteCounts[j] > largest) largest = stripByteCounts[j];
    return largest;
}

// Room for the largest strip: as stored, or decoded for a compressed file. Stored strips
// cannot be larger than the file, decoded ones not by more than a codec can expand.
size_t stripBufferSize(TIFF* tiff, const uint64_t* stripByteCounts, bool decode, uint64_t tiffSize,
                       const std::string& tiffName) {
    const uint64_t size =
        decode ? TIFFStripSize64(tiff) : largestStrip(stripByteCounts, TIFFNumberOfStrips(tiff));
    const uint64_t limit = decode ? maxDecodedPerFileByte : 1;
    if (size / limit > tiffSize) fail(stripTooLargeText + tiffName);
    return static_cast<size_t>(size);
}

[[noreturn]] void failStripRead(uint32_t strip, const std::string& tiffName) {
    fail(stripReadText + std::to_string(strip) + stripOfText + tiffName);
}

// Reads the strip into buffer and returns its byte count: the stored bytes of an uncompressed
// file, exactly as many as StripByteCounts gives, or the decoded bytes of a compressed one.
size_t readStrip(TIFF* tiff, uint32_t strip, const uint64_t* stripByteCounts, bool decode,
                 unsigned char* buffer, size_t bufferSize, const std::string& tiffName) {
    if (decode) {
        const tmsize_t got =
            TIFFReadEncodedStrip(tiff, strip, buffer, static_cast<tmsize_t>(bufferSize));
        if (got < 0) failStripRead(strip, tiffName);
        return static_cast<size_t>(got);
    }
    const tmsize_t asked = static_cast<tmsize_t>(stripByteCounts[strip]);
    if (TIFFReadRawStrip(tiff, strip, buffer, asked) != asked) failStripRead(strip, tiffName);
    return static_cast<size_t>(asked);
}

[[noreturn]] void failDataWrite(const std::string& dataName) {
    fail(dataWriteText + dataName);
}

void writeStrip(int data, const unsigned char* buffer, size_t size, const std::string& dataName) {
    if (!fileio::writeAll(data, buffer, size)) failDataWrite(dataName);
}

// Stored strips that lie back to back in the TIFF file, copied to the data file together.
struct StoredRun {
    uint32_t firstStrip;
    uint64_t offset;
    uint64_t length;
};

// The bytes of the run go from the TIFF file to the end of the data file within the kernel where
// it can copy between the two files, else through one buffer.
void copyStoredRun(int tiff, const StoredRun& run, int data, const std::string& tiffName,
                   const std::string& dataName) {
    const fileio::CopyResult result = fileio::copyRange(data, tiff, run.offset, run.length);
    // Copying stops short only when the TIFF file has shrunk since it was opened.
    if (result == fileio::CopyResult::inputEnded || result == fileio::CopyResult::readFailed)
        failStripRead(run.firstStrip, tiffName);
    if (result == fileio::CopyResult::writeFailed) failDataWrite(dataName);
}

// Whether libtiff would read the stored strip: some bytes, all of them within the file.
bool storedWithinFile(uint64_t offset, uint64_t count, uint64_t tiffSize) {
    return count > 0 && !(offset > tiffSize || count > tiffSize - offset);
}

// Opens the data file to write at its end without truncating it.
int openDataFile(const std::string& dataName) {
    const int data = fileio::openForWriting(dataName, false);
    if (data < 0) fail(dataOpenText + dataName);
    fileio::seekToEnd(data);
    return data;
}

// Appends the strips of the file's first image to the data file, which is opened for this
// file alone once its strips have passed the checks. Stored strips within the file are copied
// by the kernel, strips that follow each other in one go; libtiff decodes compressed strips and
// refuses stored ones outside the file with its own diagnostic. Returns false when libtiff
// cannot open the file.
bool appendTiffFile(const std::string& tiffName, const std::string& dataName) {
    // "c": the strips as stored, not cut by libtiff into pieces of a few kilobytes.
    TIFF* tiff = TIFFOpen(tiffName.c_str(), "rc");
    if (!tiff) return false;
    uint32_t width = 0;
    uint32_t height = 0;
    uint64_t* stripByteCounts = nullptr;
    TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height);
    TIFFGetField(tiff, TIFFTAG_STRIPBYTECOUNTS, &stripByteCounts);
    printLine(std::to_string(width) + " " + std::to_string(height));

    // Tiles hold no strips, and their counts are not as many as TIFFNumberOfStrips says.
    if (TIFFIsTiled(tiff)) fail(tiledText + tiffName);
    if (!stripByteCounts) fail(noStripByteCountsText + tiffName);
    const bool decode = isCompressed(tiff);
    const uint64_t tiffSize = fileSize(tiff);
    const size_t bufferSize = stripBufferSize(tiff, stripByteCounts, decode, tiffSize, tiffName);
    // Untouched, and so costing no memory, while every strip is copied by the kernel.
    unsigned char* buffer = static_cast<unsigned char*>(std::malloc(bufferSize ? bufferSize : 1));
    if (!buffer) fail(noMemoryText + tiffName);
    const int data = openDataFile(dataName);

    const int tiffFile = TIFFFileno(tiff);
    StoredRun run = {0, 0, 0};
    for (uint32_t strip = 0; strip < TIFFNumberOfStrips(tiff); ++strip) {
        const uint64_t offset = TIFFGetStrileOffset(tiff, strip);
        const uint64_t count = stripByteCounts[strip];
        if (!decode && storedWithinFile(offset, count, tiffSize)) {
            if (run.length == 0 || run.offset + run.length != offset) {
                copyStoredRun(tiffFile, run, data, tiffName, dataName);
                run = {strip, offset, 0};
            }
            run.length += count;
            continue;
        }
        copyStoredRun(tiffFile, run, data, tiffName, dataName);
        run.length = 0;
        const size_t size =
            readStrip(tiff, strip, stripByteCounts, decode, buffer, bufferSize, tiffName);
        writeStrip(data, buffer, size, dataName);
    }
    copyStoredRun(tiffFile, run, data, tiffName, dataName);
    if (!fileio::closeFile(data)) failDataWrite(dataName);
    std::free(buffer);
    TIFFClose(tiff);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (answeredStandardOption(argc, argv, "tiff-to-ids", usage)) return 0;
    const RunSettings settings = scanCommandLine(argc, argv);
    for (const std::string& line : settings.echoLines) printLine(line);

    const std::string dataName = settings.outputBaseName + dataExtension;
    size_t skipped = 0;
    for (const std::string& tiffName : settings.inputList) {
        if (appendTiffFile(tiffName, dataName)) continue;
        writeLine(stderr, skippedFileText + tiffName);
        ++skipped;
    }
    // A skipped file leaves the data file short, so the run must not look like a success.
    if (skipped > 0) fail(skippedCountText + std::to_string(skipped));
    printLine(completeText);
    return 0;
}
