// Reading the input image: its header through libics, what each dimension is, where the data
// lies and how one plane is found and read.
#include <libics_sensor.h>
#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "byte_range_copy.h"
#include "command_line.h"
#include "ics_header.h"
#include "ics_split.h"

namespace {

const char* const couldNotOpenIcs = "Could not open ICS file for reading!";
const char* const sensorParameterWithoutName =
    "The input header has a sensor parameter line without a parameter name.\nTerminating...";
const char* const tooManyHeaderSensorChannels =
    "The input header gives %lld sensor channels; libics holds at most %d.\nTerminating...";
const char* const couldNotCloseInput = "Could not close ICS file!\n";
const char* const couldNotOpenIds = "Could not open IDS file!";
const char* const tooManyDimensions =
    "The input has %d dimensions; at most 5 (x, y, z, t, ch) can be split.\nTerminating...";
const char* const compressInput =
    "The input's data is compressed (compress); only uncompressed and gzip data can be "
    "split.\nTerminating...";
const char* const unsupportedSignificantBits =
    "The input's significant bits (%zu) must lie between 1 and its sample size (%zu "
    "bits).\nTerminating...";
const char* const unknownDataType =
    "The input's data type is unknown: the size of a sample cannot be told.\nTerminating...";
const char* const versionTwoWithoutData =
    "The input is an ICS version 2 header without data: it has neither an \"end\" line nor a "
    "\"source file\" line.\nTerminating...";
const char* const undefinedLabel = "Undefined multi-dimensional label";
const char* const unidentifiedDimension =
    "The input's dimension %zu (order \"%s\", label \"%s\") has %zu elements but is none of x, "
    "y, z, t and ch: its planes cannot be told apart.\nTerminating...";
const char* const dimensionNamedTwice =
    "The input's dimensions %zu and %zu are both %s.\nTerminating...";
const char* const dimensionTooLarge =
    "The input's %s dimension has %zu elements, more than %zu.\nTerminating...";
const char* const imageTooLarge =
    "The input's image is larger than 2^64 bytes: its planes cannot be located.\nTerminating...";
const char* const emptyDimension =
    "The input has a dimension of size 0: it holds no plane.\nTerminating...";
const char* const planesNotWhole =
    "The input's x and y dimensions do not come first, x before y: its planes are not stored "
    "whole.\nTerminating...";
const char* const gzipChannelsBeyondData =
    "The input names %u channels, more than its gzip data (%s, %llu bytes) can be counted on to "
    "hold; choose them with -c.\nTerminating...";
const char* const gzipPlaneBeyondData =
    "The gzip data of %s (%llu bytes) cannot decode to a plane of %llu bytes.\nTerminating...";
const char* const mixedByteOrder =
    "The input's byte order is neither little- nor big-endian for its samples.\nTerminating...";
const char* const dataBeyondFile =
    "The input's image data (%llu bytes from byte %llu) does not lie within %s (%lld "
    "bytes).\nTerminating...";

const char* const dimensionNames[] = {"x", "y", "z", "t", "ch"};

// The number of characters libics reads of a header line at a time: it meets the rest of a
// longer line as a line of its own.
constexpr size_t libicsLineLength = ICS_LINE_LENGTH - 1;

// The fields of one header line, as libics splits it: runs of the separator between fields,
// the line ending at a NUL byte as a C string does, and a carriage return at its end dropped.
std::vector<std::string> headerFields(std::string line, char separator) {
    line = line.substr(0, line.find('\0'));
    while (!line.empty() && line.back() == '\r') line.pop_back();  // the end of a CR LF line
    std::vector<std::string> fields;
    size_t at = 0;
    while ((at = line.find_first_not_of(separator, at)) != std::string::npos) {
        const size_t end = line.find(separator, at);
        fields.push_back(line.substr(at, end - at));
        at = end;
    }
    return fields;
}

// libics reads the words of a header line regardless of case.
bool sameWord(const std::string& field, const char* word) {
    return strcasecmp(field.c_str(), word) == 0;
}

void refuseSensorLineThatCrashesLibics(const std::vector<std::string>& fields) {
    if (fields.size() < 2 || !sameWord(fields[0], "sensor") || !sameWord(fields[1], "s_params"))
        return;
    if (fields.size() == 2) cli::fail(sensorParameterWithoutName);
    const long long channels = sameWord(fields[2], "Channels") && fields.size() > 3
                                   ? std::strtoll(fields[3].c_str(), nullptr, 10)
                                   : 0;
    if (channels > ICS_MAX_LAMBDA)
        cli::failWith(tooManyHeaderSensorChannels, channels, ICS_MAX_LAMBDA);
}

// libics trusts two things of a header that make it crash: a sensor channel count far beyond
// its limit (it writes past its own arrays) and a sensor parameter line without a parameter
// name (it reads through a null pointer). Such a header is refused before libics reads it. The
// header's first two characters are its field and line separators; its "end" line ends it, as
// the image data may follow.
void refuseHeaderLinesThatCrashLibics(const std::string& headerName) {
    FILE* header = std::fopen(headerName.c_str(), "rb");
    if (!header) cli::fail(couldNotOpenIcs);
    const int fieldSeparator = std::fgetc(header);
    const int lineSeparator = std::fgetc(header);
    std::string line;
    for (int c = 0; c != EOF;) {
        c = std::fgetc(header);
        const bool lineEnds = c == lineSeparator || c == EOF;
        if (!lineEnds) line += static_cast<char>(c);
        if (!lineEnds && line.size() < libicsLineLength) continue;
        const std::vector<std::string> fields =
            headerFields(line, static_cast<char>(fieldSeparator));
        if (!fields.empty() && sameWord(fields[0], "end")) break;
        refuseSensorLineThatCrashesLibics(fields);
        line.clear();
    }
    std::fclose(header);
}

// The header libics reads for a name: a name ending in ".ics" or ".ids", in any case, with its
// "d" turned into "c"; any other name with ".ics" added. The data file of a version-1 header is
// named alike, with "d".
std::string libicsFileName(const std::string& name, char letter) {
    const size_t dot = name.size() >= 4 ? name.size() - 4 : std::string::npos;
    const char* extension = dot == std::string::npos ? "" : name.c_str() + dot;
    if (strcasecmp(extension, ".ics") != 0 && strcasecmp(extension, ".ids") != 0)
        return name + ".i" + letter + "s";
    std::string file = name;
    file[dot + 2] = std::isupper(static_cast<unsigned char>(file[dot + 2]))
                        ? static_cast<char>(std::toupper(letter))
                        : letter;
    return file;
}

bool isDimensionName(const std::string& word) {
    return std::find_if(std::begin(dimensionNames), std::end(dimensionNames),
                        [&](const char* name) { return word == name; }) !=
           std::end(dimensionNames);
}

// The label names a dimension; where it is none of the five, the order line's name does, as
// headers without labels, or with labels such as "x-position", have it.
std::string nameOf(const IcsDimensionInfo& d) {
    if (isDimensionName(d.label)) return d.label;
    if (isDimensionName(d.order)) return d.order;
    return "";
}

// Takes the sizes and scales of the dimensions named x, y, z, t and ch. A dimension of more
// than one element that has no such name, or a name given twice, would be copied wrongly.
void identifyDimensions(IcsInputInfo& info) {
    for (size_t j = 0; j < info.dimensions.size(); ++j) {
        IcsDimensionInfo& d = info.dimensions[j];
        d.name = nameOf(d);
        if (d.name.empty()) {
            if (d.size > 1)
                cli::failWith(unidentifiedDimension, j + 1, d.order.c_str(), d.label.c_str(),
                              d.size);
            continue;
        }
        for (size_t earlier = 0; earlier < j; ++earlier)
            if (info.dimensions[earlier].name == d.name)
                cli::failWith(dimensionNamedTwice, earlier + 1, j + 1, d.name.c_str());
        // Widths are 32-bit in a TIFF file; slice, time and channel numbers are ints.
        const size_t largest = d.name == "x" || d.name == "y" ? UINT32_MAX : INT_MAX;
        if (d.size > largest) cli::failWith(dimensionTooLarge, d.name.c_str(), d.size, largest);
        const auto size = static_cast<uint32_t>(d.size);
        if (d.name == "x") {
            info.X = size;
            info.vx = d.scale;
        } else if (d.name == "y") {
            info.Y = size;
            info.vy = d.scale;
        } else if (d.name == "z") {
            info.Z = size;
            info.vz = d.scale;
        } else if (d.name == "t") {
            info.T = size;
            info.vt = d.scale;
        } else {
            info.CH = size;
        }
    }
}

int64_t sizeOfFile(const std::string& name) {
    struct stat status;
    return stat(name.c_str(), &status) == 0 ? static_cast<int64_t>(status.st_size) : -1;
}

// A run without a channel list takes every channel of the input. A header may claim far more
// channels than its data file holds; each needs a byte at least, and the export stops at the
// first plane missing from the file, so the channels beyond one past the data's size are never
// reached and are not listed. gzip data may decode to more channels than it has bytes, but only
// -c lists them: a thousand channels a byte would let a small file take memory without bound.
// Without a data file the run ends when it is opened.
void takeEveryChannel(SplitOptions& options, const IcsInputInfo& info) {
    const int64_t fileBytes = sizeOfFile(info.dataFileName);
    if (fileBytes < 0) return;
    const uint64_t storedBytes = static_cast<uint64_t>(fileBytes) > info.dataOffset
                                     ? static_cast<uint64_t>(fileBytes) - info.dataOffset
                                     : 0;
    if (info.gzipData && info.CH > storedBytes + 1)
        cli::failWith(gzipChannelsBeyondData, info.CH, info.dataFileName.c_str(),
                      static_cast<unsigned long long>(storedBytes));
    const uint64_t channels = std::min({uint64_t{info.CH}, storedBytes + 1, uint64_t{INT_MAX}});
    for (uint64_t channel = 1; channel <= channels; ++channel)
        options.channels.push_back(static_cast<int>(channel));
}

// Where the image data lies and how it is stored: a version-1 header's data file beside it, or
// the file and offset that libics found for a version-2 header (its own file, after the "end"
// line, or the file its "source" line names); the header's compression. As libics does, a
// missing version-1 data file may stand compressed beside the header, NAME.ids.gz or NAME.ids.Z,
// which then tells the compression, whatever the header says. "compress" data cannot be read
// plane by plane.
void locateData(const ICS* ics, const SplitOptions& options, IcsInputInfo& info) {
    info.versionTwo = ics->version == 2;
    info.dataFileName = info.versionTwo ? ics->srcFile : libicsFileName(options.inputBase, 'd');
    info.dataOffset = info.versionTwo ? ics->srcOffset : 0;
    if (info.dataFileName.empty()) cli::fail(versionTwoWithoutData);
    Ics_Compression compression = ics->compression;
    if (!info.versionTwo && sizeOfFile(info.dataFileName) < 0) {
        const std::pair<const char*, Ics_Compression> compressedFiles[] = {
            {".gz", IcsCompr_gzip}, {".Z", IcsCompr_compress}};
        for (const auto& [extension, packing] : compressedFiles)
            if (sizeOfFile(info.dataFileName + extension) >= 0) {
                info.dataFileName += extension;
                compression = packing;
                break;
            }
    }
    if (compression == IcsCompr_compress) cli::fail(compressInput);
    info.gzipData = compression == IcsCompr_gzip;
    for (int i = 0; i < ICS_MAX_IMEL_SIZE && ics->byteOrder[i] != 0; ++i)
        info.byteOrder.push_back(ics->byteOrder[i]);
}

size_t sampleBitsOf(Ics_DataType dataType) {
    switch (dataType) {
        case Ics_uint8:
        case Ics_sint8: return 8;
        case Ics_uint16:
        case Ics_sint16: return 16;
        case Ics_uint32:
        case Ics_sint32:
        case Ics_real32: return 32;
        case Ics_uint64:
        case Ics_sint64:
        case Ics_real64:
        case Ics_complex32: return 64;
        case Ics_complex64: return 128;
        default: return 0;
    }
}

// The header gives the place of each byte of a sample, 1 for the least significant: 1 2 3 4 is
// little-endian, 4 3 2 1 big-endian. Without it the samples are in this machine's order.
bool samplesAreBigEndian(const std::vector<int>& byteOrder, size_t sampleBytes) {
    if (byteOrder.empty()) return hostIsBigEndian();
    const size_t n = byteOrder.size();
    if (n != sampleBytes) cli::fail(mixedByteOrder);
    bool little = true, big = true;
    for (size_t i = 0; i < n; ++i) {
        little = little && byteOrder[i] == static_cast<int>(i + 1);
        big = big && byteOrder[i] == static_cast<int>(n - i);
    }
    if (!little && !big) cli::fail(mixedByteOrder);
    return !little;
}

// The distance in bytes between neighbouring elements of each dimension, in the header's
// order; x and y must come first, so that a plane lies whole in the data.
void deriveStrides(IcsInputInfo& info) {
    uint64_t stride = info.sampleBytes, xStride = 0, yStride = 0;
    for (const IcsDimensionInfo& d : info.dimensions) {
        uint64_t& of = d.name == "x"   ? xStride
                       : d.name == "y" ? yStride
                       : d.name == "z" ? info.zStride
                       : d.name == "t" ? info.tStride
                                       : info.channelStride;
        if (!d.name.empty()) of = stride;
        if (__builtin_mul_overflow(stride, uint64_t{d.size}, &stride)) cli::fail(imageTooLarge);
    }
    info.imageBytes = stride;
    if ((info.X > 1 && xStride != info.sampleBytes) ||
        (info.Y > 1 && yStride != info.sampleBytes * info.X))
        cli::fail(planesNotWhole);
}

// A version-2 header says where its data starts; data that cannot lie there is refused before
// anything is written. gzip data is checked as it is decoded, but a plane it cannot decode to
// even at deflate's largest ratio is refused before its buffer is made.
void requireDataInFile(const IcsInputInfo& info, const PlaneReader& reader) {
    if (info.gzipData) {
        constexpr uint64_t largestGzipRatio = 1032;
        const auto size = static_cast<uint64_t>(reader.fileSize);
        const uint64_t stored = size > info.dataOffset ? size - info.dataOffset : 0;
        if (info.planeBytes / largestGzipRatio > stored)
            cli::failWith(gzipPlaneBeyondData, info.dataFileName.c_str(),
                          static_cast<unsigned long long>(stored),
                          static_cast<unsigned long long>(info.planeBytes));
        return;
    }
    if (!info.versionTwo) return;
    const uint64_t image = info.imageBytes;
    const auto size = static_cast<uint64_t>(reader.fileSize);
    if (info.dataOffset > size || image > size - info.dataOffset)
        cli::failWith(dataBeyondFile, static_cast<unsigned long long>(image),
                      static_cast<unsigned long long>(info.dataOffset), info.dataFileName.c_str(),
                      static_cast<long long>(reader.fileSize));
}

}  // namespace

bool hostIsBigEndian() {
    const uint16_t one = 1;
    unsigned char first = 0;
    std::memcpy(&first, &one, 1);
    return first == 0;
}

IcsInputInfo readInputHeader(SplitOptions& options) {
    IcsInputInfo info;
    info.headerFileName = libicsFileName(options.inputBase, 'c');
    requireLibicsFileName(info.headerFileName);
    refuseHeaderLinesThatCrashLibics(info.headerFileName);
    ICS* ics = nullptr;
    if (IcsOpen(&ics, options.inputBase.c_str(), "r") != IcsErr_Ok) cli::fail(couldNotOpenIcs);
    int dimensionCount = 0;
    size_t sizes[ICS_MAXDIM];
    std::fill(sizes, sizes + ICS_MAXDIM, size_t{1});
    IcsGetLayout(ics, &info.dataType, &dimensionCount, sizes);
    if (dimensionCount > 5) cli::failWith(tooManyDimensions, dimensionCount);
    for (int d = 0; d < dimensionCount; ++d) {
        IcsDimensionInfo dimension;
        dimension.size = sizes[d];
        char order[ICS_STRLEN_TOKEN] = "", label[ICS_STRLEN_TOKEN] = "",
             units[ICS_STRLEN_TOKEN] = "";
        IcsGetOrder(ics, d, order, label);
        IcsGetPosition(ics, d, &dimension.origin, &dimension.scale, units);
        dimension.order = order;
        dimension.label = label;
        dimension.units = units[0] ? units : "undefined";
        info.dimensions.push_back(dimension);
    }
    identifyDimensions(info);
    locateData(ics, options, info);
    IcsGetSignificantBits(ics, &info.significantBits);
    info.numericalAperture = IcsGetSensorNumAperture(ics);
    info.mediumRefractiveIndex = IcsGetSensorMediumRI(ics);
    if (options.channels.empty()) takeEveryChannel(options, info);
    for (int channel : options.channels) {
        info.pinholeRadius.push_back(IcsGetSensorPinholeRadius(ics, channel - 1));
        info.excitation.push_back(IcsGetSensorExcitationWavelength(ics, channel - 1));
        info.emission.push_back(IcsGetSensorEmissionWavelength(ics, channel - 1));
    }
    if (IcsClose(ics) != IcsErr_Ok) {
        std::fputs(couldNotCloseInput, stderr);
        std::fflush(stderr);
    }
    return info;
}

void reportHeader(const IcsInputInfo& info) {
    for (const IcsDimensionInfo& d : info.dimensions) {
        cli::printLine("%s %zu %g, %g, %s", d.label.c_str(), d.size, d.origin, d.scale,
                       d.units.c_str());
        if (d.name.empty()) cli::printLine("%s", undefinedLabel);
    }
    std::printf("\nvx=%lf, vy=%lf, vz=%lf\n", info.vx, info.vy, info.vz);
    std::printf("x = %d, y = %d\n", static_cast<int>(info.X), static_cast<int>(info.Y));
    std::printf("z = %d, t = %d\n", static_cast<int>(info.Z), static_cast<int>(info.T));
    std::printf("ch = %d\n", static_cast<int>(info.CH));
    for (size_t k = 0; k < info.pinholeRadius.size(); ++k) {
        cli::printLine("pinholeRadius = %g", info.pinholeRadius[k]);
        cli::printLine("excitation = %g", info.excitation[k]);
        cli::printLine("emission = %g", info.emission[k]);
    }
}

PlaneReader openInputData(const IcsInputInfo& info) {
    PlaneReader reader;
    reader.stream = std::fopen(info.dataFileName.c_str(), "rb");
    // A folder opens too, and has a size, but holds no data.
    if (!reader.stream || !fileio::isRegularFile(fileno(reader.stream)))
        cli::fail(couldNotOpenIds);
    reader.fileSize = fileio::fileSize(fileno(reader.stream));
    return reader;
}

// The width of a sample comes from the data type; the significant bits may use fewer of its
// bits (12 of 16), never more.
void derivePlaneLayout(IcsInputInfo& info, const PlaneReader& reader) {
    for (const IcsDimensionInfo& d : info.dimensions)
        if (d.size == 0) cli::fail(emptyDimension);
    const size_t sampleBits = sampleBitsOf(info.dataType);
    if (sampleBits == 0) cli::fail(unknownDataType);
    if (info.significantBits == 0 || info.significantBits > sampleBits)
        cli::failWith(unsupportedSignificantBits, info.significantBits, sampleBits);
    info.sampleBytes = sampleBits / 8;
    info.bigEndianSamples =
        info.sampleBytes > 1 && samplesAreBigEndian(info.byteOrder, info.sampleBytes);
    deriveStrides(info);
    info.planeBytes = info.sampleBytes * info.Y * info.X;
    requireDataInFile(info, reader);
}

uint64_t planeOffset(const IcsInputInfo& info, int k, int t, int z) {
    // The decoded gzip stream begins with the image.
    return (info.gzipData ? 0 : info.dataOffset) + uint64_t(k - 1) * info.channelStride +
           uint64_t(t - 1) * info.tStride + uint64_t(z - 1) * info.zStride;
}

uint64_t planeInFile(const PlaneReader& reader, const IcsInputInfo& info, int k, int t, int z) {
    const uint64_t offset = planeOffset(info, k, t, z);
    if (info.gzipData) return offset;
    const auto size = static_cast<uint64_t>(reader.fileSize);
    // A plane that cannot lie in the file is a short read; nothing is allocated for it.
    if (offset > size || info.planeBytes > size - offset) cli::fail(planes::couldNotReadPlane);
    return offset;
}

unsigned char* readPlane(PlaneReader& reader, const IcsInputInfo& info, int k, int t, int z) {
    if (info.gzipData) return readGzipPlane(reader, info, planeOffset(info, k, t, z));
    const uint64_t offset = planeInFile(reader, info, k, t, z);
    if (!reader.buffer) reader.buffer = static_cast<unsigned char*>(std::malloc(info.planeBytes));
    if (!reader.buffer) failNoMemory();
    const size_t items = static_cast<size_t>(info.planeBytes / info.sampleBytes);
    if (fseeko(reader.stream, static_cast<off_t>(offset), SEEK_SET) != 0 ||
        std::fread(reader.buffer, info.sampleBytes, items, reader.stream) != items)
        cli::fail(planes::couldNotReadPlane);
    return reader.buffer;
}

void closeInputData(PlaneReader& reader) {
    if (reader.inflating) inflateEnd(&reader.inflater);
    std::free(reader.compressed);
    std::free(reader.buffer);
    std::fclose(reader.stream);
}
