// ics-split: a channel/time/z range of an ICS image as per-plane TIFF files or a smaller ICS image.
#include <libics.h>
#include <libics_sensor.h>
#include <strings.h>
#include <sys/stat.h>
#include <tiffio.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "command_line.h"
#include "ics_header.h"
#include "standard_options.h"

namespace {

const char* const usage =
    "usage: ics-split -i INPUT[.ics] -o NAME [-z ZSTART ZEND] [-t TSTART TEND] [-c CHANNEL... -t "
    "TSTART TEND]\n"
    "                 [-tif|-tiff|-TIF|-TIFF | -s1|-S1 | -s2|-S2]\n"
    "  Without -z, -t or -c the whole extent of the input is taken. -tif (the default) writes\n"
    "  NAME_chCCtTTTTzZZZ.tif per plane; -s1 writes NAME.ics and NAME.ids, -s2 one NAME.ics.";
const char* const missingInput = "The input is missing: give it with -i.\n%s";
const char* const numberBelowOne =
    "Channel, time point and slice numbers start at 1 (%s %d).\nTerminating...";
const char* const beyondExtent =
    "%s %d lies beyond the input, which has %s 1 to %u.\nTerminating...";
const char* const emptyRangeForIcs =
    "An ICS export needs a %s range whose start (%d) does not lie above its end "
    "(%d).\nTerminating...";
const char* const couldNotOpenIcs = "Could not open ICS file for reading!";
const char* const sensorParameterWithoutName =
    "The input header has a sensor parameter line without a parameter name.\nTerminating...";
const char* const tooManyHeaderSensorChannels =
    "The input header gives %ld sensor channels; libics holds at most %d.\nTerminating...";
const char* const couldNotCloseInput = "Could not close ICS file!\n";
const char* const couldNotOpenIds = "Could not open IDS file!";
const char* const tooManyDimensions =
    "The input has %d dimensions; at most 5 (x, y, z, t, ch) can be split.\nTerminating...";
const char* const versionTwoInput =
    "The input is an ICS version 2 file (data inside the .ics); only a .ics header beside its "
    ".ids data file can be split.\nTerminating...";
const char* const compressedInput =
    "The input's data is compressed; only uncompressed data can be split.\nTerminating...";
const char* const unsupportedSignificantBits =
    "The input's significant bits (%zu) must be a whole number of bytes equal to its sample "
    "size (%zu bits).\nTerminating...";
const char* const undefinedLabel = "Undefined multi-dimensional label";
const char* const dimensionTooLarge =
    "The input's %s dimension has %zu elements, more than 4294967295.\nTerminating...";
const char* const imageTooLarge =
    "The input's image is larger than 2^64 bytes: its planes cannot be located.\nTerminating...";
const char* const emptyDimension =
    "The input has a dimension of size 0: it holds no plane.\nTerminating...";
const char* const couldNotCreateTiff = "Could not create TIFF file %s!\nTerminating...";
const char* const couldNotWriteTiff = "Could not write to TIFF file!\nTerminating...";
const char* const outputIsInput =
    "The output %s is the input file %s; give another name after -o.\nTerminating...";

enum OutputMode { icsVersion1 = 1, icsVersion2 = 2, tiffPlanes = 3 };

// A range of channel, time or slice numbers, counted from 1, both ends included.
struct Range {
    bool given = false;
    int start = 0;
    int end = 0;
};

struct SplitOptions {
    bool hasInput = false;
    bool hasOutput = false;
    std::string inputBase;
    std::string outputBase;
    Range z;
    Range t;
    std::vector<int> channels;
    int mode = tiffPlanes;
};

struct IcsDimensionInfo {
    size_t size = 0;
    double origin = 0;
    double scale = 0;
    std::string label;
    std::string units;
};

struct IcsInputInfo {
    Ics_DataType dataType = Ics_unknown;
    std::vector<IcsDimensionInfo> dimensions;
    uint32_t X = 1, Y = 1, Z = 1, T = 1, CH = 1;
    double vx = 0, vy = 0, vz = 0, vt = 0;
    size_t significantBits = 0;
    double numericalAperture = 0;
    std::vector<double> pinholeRadius, excitation, emission;  // one per channel-list entry
    uint64_t planeBytes = 0;                                  // P
    size_t sampleBytes = 0;                                   // w
};

std::string cutAt(const std::string& text, const char* mark) {
    return text.substr(0, text.find(mark));
}

Range readRange(char** values) {
    return {true, cli::leadingInteger(values[0]), cli::leadingInteger(values[1])};
}

SplitOptions readCommandLine(int argc, char** argv) {
    SplitOptions options;
    for (int i = 0; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "-i") {
            options.inputBase = cutAt(cli::optionValues(argc, argv, i, 1)[0], ".ics");
            options.hasInput = true;
            cli::printLine("input file : %s", options.inputBase.c_str());
        } else if (argument == "-o") {
            options.outputBase = cutAt(cli::optionValues(argc, argv, i, 1)[0], ".");
            options.hasOutput = true;
            cli::printLine("output file : %s", options.outputBase.c_str());
        } else if (argument == "-z") {
            options.z = readRange(cli::optionValues(argc, argv, i, 2));
            cli::printLine("zstart = %d ; zend = %d", options.z.start, options.z.end);
        } else if (argument == "-t") {
            options.t = readRange(cli::optionValues(argc, argv, i, 2));
            cli::printLine("tstart = %d ; tend = %d", options.t.start, options.t.end);
        } else if (argument == "-c") {
            // The list ends at the next "-t", which the scan then meets as the time option.
            for (int j = i + 1; j < argc && std::strcmp(argv[j], "-t") != 0; ++j)
                options.channels.push_back(cli::leadingInteger(argv[j]));
        } else if (argument == "-TIF" || argument == "-TIFF" || argument == "-tif" ||
                   argument == "-tiff") {
            options.mode = tiffPlanes;
        } else if (argument == "-S2" || argument == "-s2") {
            options.mode = icsVersion2;
        } else if (argument == "-S1" || argument == "-s1") {
            options.mode = icsVersion1;
        }
    }
    if (!options.hasInput) cli::failWith(missingInput, usage);
    if (!options.hasOutput || options.outputBase.empty()) cli::fail(cli::emptyOutputBase);
    for (int channel : options.channels)
        if (channel < 1) cli::failWith(numberBelowOne, "channel", channel);
    for (const auto& [name, range] :
         {std::make_pair("time point", options.t), std::make_pair("slice", options.z)})
        if (range.given && (range.start < 1 || range.end < 1))
            cli::failWith(numberBelowOne, name, range.start < 1 ? range.start : range.end);
    return options;
}

bool isKnownLabel(const std::string& label) {
    return label == "x" || label == "y" || label == "z" || label == "t" || label == "ch";
}

// Takes the sizes and scales of the dimensions labelled x, y, z, t and ch.
void takeLabelledDimensions(IcsInputInfo& info) {
    for (const IcsDimensionInfo& d : info.dimensions) {
        if (isKnownLabel(d.label) && d.size > UINT32_MAX)
            cli::failWith(dimensionTooLarge, d.label.c_str(), d.size);
        const auto size = static_cast<uint32_t>(d.size);
        if (d.label == "x") {
            info.X = size;
            info.vx = d.scale;
        } else if (d.label == "y") {
            info.Y = size;
            info.vy = d.scale;
        } else if (d.label == "z") {
            info.Z = size;
            info.vz = d.scale;
        } else if (d.label == "t") {
            info.T = size;
            info.vt = d.scale;
        } else if (d.label == "ch") {
            info.CH = size;
        }
    }
}

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

// libics trusts two things of a header that make it crash: a sensor channel count far beyond
// its limit (it writes past its own arrays) and a sensor parameter line without a parameter
// name (it reads through a null pointer). Such a header is refused before libics reads it.
// The header's first two characters are its field and line separators.
void refuseHeaderLinesThatCrashLibics(const std::string& headerName) {
    FILE* header = std::fopen(headerName.c_str(), "rb");
    if (!header) return;  // libics reports what it cannot open
    const int fieldSeparator = std::fgetc(header);
    const int lineSeparator = std::fgetc(header);
    std::string line;
    for (int c = 0; c != EOF;) {
        c = std::fgetc(header);
        if (c != lineSeparator && c != EOF) {
            line += static_cast<char>(c);
            continue;
        }
        const std::vector<std::string> fields =
            headerFields(line, static_cast<char>(fieldSeparator));
        if (fields.size() >= 2 && sameWord(fields[0], "sensor") &&
            sameWord(fields[1], "s_params")) {
            if (fields.size() == 2) cli::fail(sensorParameterWithoutName);
            const long channels = sameWord(fields[2], "Channels") && fields.size() > 3
                                      ? std::strtol(fields[3].c_str(), nullptr, 10)
                                      : 0;
            if (channels > ICS_MAX_LAMBDA)
                cli::failWith(tooManyHeaderSensorChannels, channels, ICS_MAX_LAMBDA);
        }
        line.clear();
    }
    std::fclose(header);
}

int64_t sizeOfFile(const std::string& name) {
    struct stat status;
    return stat(name.c_str(), &status) == 0 ? static_cast<int64_t>(status.st_size) : -1;
}

// A run without a channel list takes every channel of the input. A header may claim far more
// channels than its data file holds; each needs a byte at least, and the export stops at the
// first plane missing from the file, so the channels beyond one past the file's size are never
// reached and are not listed. Without a data file the run ends when it is opened.
void takeEveryChannel(SplitOptions& options, const IcsInputInfo& info) {
    const int64_t dataBytes = sizeOfFile(options.inputBase + ".ids");
    if (dataBytes < 0) return;
    const uint64_t reachable = static_cast<uint64_t>(dataBytes) + 1;
    const uint64_t channels = std::min({uint64_t{info.CH}, reachable, uint64_t{INT_MAX}});
    for (uint64_t channel = 1; channel <= channels; ++channel)
        options.channels.push_back(static_cast<int>(channel));
}

// Reads the input header through libics (IcsOpen adds ".ics" to the base name). A run without
// a channel list takes every channel of the input.
IcsInputInfo readInputHeader(SplitOptions& options) {
    IcsInputInfo info;
    refuseHeaderLinesThatCrashLibics(options.inputBase + ".ics");
    ICS* ics = nullptr;
    if (IcsOpen(&ics, options.inputBase.c_str(), "r") != IcsErr_Ok) cli::fail(couldNotOpenIcs);
    int dimensionCount = 0;
    size_t sizes[ICS_MAXDIM];
    std::fill(sizes, sizes + ICS_MAXDIM, size_t{1});
    IcsGetLayout(ics, &info.dataType, &dimensionCount, sizes);
    if (dimensionCount > 5) cli::failWith(tooManyDimensions, dimensionCount);
    if (ics->version == 2) cli::fail(versionTwoInput);
    if (ics->compression != IcsCompr_uncompressed) cli::fail(compressedInput);
    for (int d = 0; d < dimensionCount; ++d) {
        IcsDimensionInfo dimension;
        dimension.size = sizes[d];
        char order[ICS_STRLEN_TOKEN] = "", label[ICS_STRLEN_TOKEN] = "",
             units[ICS_STRLEN_TOKEN] = "";
        IcsGetOrder(ics, d, order, label);
        IcsGetPosition(ics, d, &dimension.origin, &dimension.scale, units);
        dimension.label = label;
        dimension.units = units[0] ? units : "undefined";
        info.dimensions.push_back(dimension);
    }
    takeLabelledDimensions(info);
    IcsGetSignificantBits(ics, &info.significantBits);
    info.numericalAperture = IcsGetSensorNumAperture(ics);
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
        if (!isKnownLabel(d.label)) cli::printLine("%s", undefinedLabel);
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

size_t sampleBitsOf(Ics_DataType dataType) {
    switch (dataType) {
        case Ics_uint8:
        case Ics_sint8: return 8;
        case Ics_uint16:
        case Ics_sint16: return 16;
        case Ics_uint32:
        case Ics_sint32:
        case Ics_real32: return 32;
        case Ics_real64:
        case Ics_complex32: return 64;
        case Ics_complex64: return 128;
        default: return 0;
    }
}

// The storage width of a sample is the header's significant bits; any other value than the
// sample size would cut planes at the wrong places.
void derivePlaneSize(IcsInputInfo& info) {
    if (!info.X || !info.Y || !info.Z || !info.T || !info.CH) cli::fail(emptyDimension);
    const size_t sampleBits = sampleBitsOf(info.dataType);
    if (info.significantBits == 0 || info.significantBits % 8 != 0 ||
        info.significantBits != sampleBits)
        cli::failWith(unsupportedSignificantBits, info.significantBits, sampleBits);
    info.sampleBytes = info.significantBits / 8;
    // Every plane offset must be a 64-bit number: the whole image, P x Z x T x CH bytes, too.
    uint64_t image = info.sampleBytes;
    for (uint64_t factor : {uint64_t{info.X}, uint64_t{info.Y}, uint64_t{info.Z}, uint64_t{info.T},
                            uint64_t{info.CH}})
        if (__builtin_mul_overflow(image, factor, &image)) cli::fail(imageTooLarge);
    info.planeBytes = info.sampleBytes * info.Y * info.X;
}

// What the user left out is the input's whole extent; what was given must lie inside it.
void completeRanges(SplitOptions& options, const IcsInputInfo& info) {
    if (!options.z.given) options.z = {false, 1, static_cast<int>(info.Z)};
    if (!options.t.given) options.t = {false, 1, static_cast<int>(info.T)};
    for (int channel : options.channels)
        if (static_cast<uint32_t>(channel) > info.CH)
            cli::failWith(beyondExtent, "Channel", channel, "channels", info.CH);
    if (options.t.start <= options.t.end && static_cast<uint32_t>(options.t.end) > info.T)
        cli::failWith(beyondExtent, "Time point", options.t.end, "time points", info.T);
    if (options.z.start <= options.z.end && static_cast<uint32_t>(options.z.end) > info.Z)
        cli::failWith(beyondExtent, "Slice", options.z.end, "slices", info.Z);
}

bool sameFile(const std::string& a, const std::string& b) {
    struct stat first, second;
    return stat(a.c_str(), &first) == 0 && stat(b.c_str(), &second) == 0 &&
           first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

// An ICS export onto its own input would destroy it: the output name is cut at its first ".",
// so "-o cell.part" names cell.ics and cell.ids, and a link can lead there too.
void refuseOutputOverInput(const SplitOptions& options) {
    for (const char* outputExtension : {".ics", ".ids"})
        for (const char* inputExtension : {".ics", ".ids"}) {
            const std::string output = options.outputBase + outputExtension;
            const std::string input = options.inputBase + inputExtension;
            if (sameFile(output, input))
                cli::failWith(outputIsInput, output.c_str(), input.c_str());
        }
}

uint64_t planeOffset(const IcsInputInfo& info, int k, int t, int z) {
    const uint64_t P = info.planeBytes;
    return uint64_t(k - 1) * P * info.Z * info.T + uint64_t(t - 1) * P * info.Z +
           uint64_t(z - 1) * P;
}

struct PlaneReader {
    FILE* stream = nullptr;
    int64_t fileSize = 0;
    unsigned char* buffer = nullptr;  // one plane, reused for every plane
};

// Reads plane (k, t, z) of the input data file into the reader's buffer.
unsigned char* readPlane(PlaneReader& reader, const IcsInputInfo& info, int k, int t, int z) {
    const uint64_t offset = planeOffset(info, k, t, z);
    const auto size = static_cast<uint64_t>(reader.fileSize);
    // A plane that cannot lie in the file is a short read; nothing is allocated for it.
    if (offset > size || info.planeBytes > size - offset) cli::fail(icsout::couldNotReadPlane);
    if (!reader.buffer) reader.buffer = static_cast<unsigned char*>(std::malloc(info.planeBytes));
    if (!reader.buffer) failNoMemory();
    const size_t items = static_cast<size_t>(info.planeBytes / info.sampleBytes);
    if (fseeko(reader.stream, static_cast<off_t>(offset), SEEK_SET) != 0 ||
        std::fread(reader.buffer, info.sampleBytes, items, reader.stream) != items)
        cli::fail(icsout::couldNotReadPlane);
    return reader.buffer;
}

// The number written right-aligned in at least width digits, zero-filled.
std::string zeroFilled(int number, int width) {
    char digits[16];
    std::snprintf(digits, sizeof digits, "%0*d", width, number);
    return digits;
}

std::string tiffFileName(const std::string& base, int k, int t, int z) {
    return base + "_ch" + zeroFilled(k, 2) + "t" + zeroFilled(t, 4) + "z" + zeroFilled(z, 3) +
           ".tif";
}

void writeTiffPlane(const std::string& name, const IcsInputInfo& info, PlaneReader& reader, int k,
                    int t, int z) {
    TIFF* tiff = TIFFOpen(name.c_str(), "w");
    if (!tiff) cli::failWith(couldNotCreateTiff, name.c_str());
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, info.X);
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, info.Y);
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, static_cast<uint16_t>(info.significantBits));
    TIFFSetField(tiff, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
    unsigned char* plane = readPlane(reader, info, k, t, z);
    // Written as stored: no compression, and the file is in the host byte order libtiff chose.
    if (TIFFWriteRawStrip(tiff, 0, plane, static_cast<tmsize_t>(info.planeBytes)) == -1)
        cli::fail(couldNotWriteTiff);
    TIFFClose(tiff);
}

void exportTiffPlanes(const SplitOptions& options, const IcsInputInfo& info, PlaneReader& reader) {
    for (int k : options.channels)
        for (int t = options.t.start; t <= options.t.end; ++t)
            for (int z = options.z.start; z <= options.z.end; ++z) {
                cli::printLine("channel = %d, t = %d, i = %d", k, t, z);
                const std::string name = tiffFileName(options.outputBase, k, t, z);
                cli::printLine("t%d,z%d", t, z);
                writeTiffPlane(name, info, reader, k, t, z);
            }
}

int countOf(const Range& range) {
    return range.end - range.start + 1;
}

IcsHeaderValues subsetHeaderValues(const SplitOptions& options, const IcsInputInfo& info) {
    IcsHeaderValues v;
    v.icsFileName = options.outputBase + ".ids";
    v.icsVersion = options.mode == icsVersion1 ? 1 : 2;
    v.dataType = info.dataType;
    v.columns = info.X;
    v.rows = info.Y;
    v.zCount = static_cast<size_t>(countOf(options.z));
    v.timeCount = static_cast<size_t>(countOf(options.t));
    v.channelCount = options.channels.size();
    v.scaleX = info.vx;
    v.scaleY = info.vy;
    v.scaleZ = info.vz;
    v.scaleT = info.vt;
    for (size_t k = 0; k < options.channels.size(); ++k) {
        SensorChannel channel;
        channel.pinholeRadius = info.pinholeRadius[k];
        channel.excitationWavelength = info.excitation[k];
        channel.emissionWavelength = info.emission[k];
        v.sensorChannels.push_back(channel);
    }
    v.numericalAperture = info.numericalAperture;
    v.writeLensRefractiveIndex = false;
    v.timeStart = options.t.start;
    v.timeEnd = options.t.end;
    return v;
}

void exportIcsSubset(const SplitOptions& options, const IcsInputInfo& info, PlaneReader& reader) {
    for (const auto& [name, range] :
         {std::make_pair("slice", options.z), std::make_pair("time", options.t)})
        if (range.start > range.end) cli::failWith(emptyRangeForIcs, name, range.start, range.end);
    const IcsHeaderValues header = subsetHeaderValues(options, info);
    ICS* ics = setupIcsHeader(header);
    OutputData output;
    for (int k : options.channels)
        for (int t = options.t.start; t <= options.t.end; ++t)
            for (int z = options.z.start; z <= options.z.end; ++z) {
                unsigned char* plane = readPlane(reader, info, k, t, z);
                cli::printLine("t%d,z%d", t, z);
                cli::printLine("%llu", static_cast<unsigned long long>(planeOffset(info, k, t, z)));
                const auto planeBytes = static_cast<size_t>(info.planeBytes);
                if (output.stream)
                    appendPlane(output, plane, planeBytes);
                else
                    output =
                        startOutputData(ics, header.icsVersion, options.outputBase, plane, planeBytes);
            }
    finishOutputData(output);
}

}  // namespace

int main(int argc, char** argv) {
    if (answeredStandardOption(argc, argv, "ics-split", usage)) return 0;
    SplitOptions options = readCommandLine(argc, argv);
    IcsInputInfo info = readInputHeader(options);
    reportHeader(info);
    PlaneReader reader;
    reader.stream = std::fopen((options.inputBase + ".ids").c_str(), "rb");
    if (!reader.stream) cli::fail(couldNotOpenIds);
    struct stat status;
    reader.fileSize = fstat(fileno(reader.stream), &status) == 0 ? status.st_size : 0;
    derivePlaneSize(info);
    completeRanges(options, info);
    if (options.mode != tiffPlanes) refuseOutputOverInput(options);
    if (options.mode == tiffPlanes)
        exportTiffPlanes(options, info, reader);
    else
        exportIcsSubset(options, info, reader);
    cli::printLine("complete");
    std::free(reader.buffer);
    std::fclose(reader.stream);
    return 0;
}
