// Broken ICS headers and data files, each read by ics-split in its four output modes.
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "corpus.h"
#include "tiff_writer.h"

using corpus::failure;
using corpus::Outcome;
using corpus::success;
using lsmtest::Bytes;

namespace {

// ics-split's messages.
const std::string couldNotOpenIcs = "Could not open ICS file for reading!";
const std::string couldNotOpenIds = "Could not open IDS file!";
const std::string emptyDimension =
    "The input has a dimension of size 0: it holds no plane.\nTerminating...";
const std::string sixDimensions =
    "The input has 6 dimensions; at most 5 (x, y, z, t, ch) can be split.\nTerminating...";
const std::string unknownDataType =
    "The input's data type is unknown: the size of a sample cannot be told.\nTerminating...";
const std::string versionTwoWithoutData =
    "The input is an ICS version 2 header without data: it has neither an \"end\" line nor a "
    "\"source file\" line.\nTerminating...";
const std::string imageTooLarge =
    "The input's image is larger than 2^64 bytes: its planes cannot be located.\nTerminating...";
const std::string noSensorParameters =
    "More than 32 channels: the sensor parameters are not written to the ICS header.\n";
const std::string compressRefused =
    "The input's data is compressed (compress); only uncompressed and gzip data can be "
    "split.\nTerminating...";

std::string significantBits(const std::string& bits, const std::string& sampleBits) {
    return "The input's significant bits (" + bits + ") must lie between 1 and its sample size (" +
           sampleBits + " bits).\nTerminating...";
}

// libics reads a header's sizes with strtoul, whose long is 32 bits on Windows: there a width of
// 2^32 or more, or a negative one, comes out as 2^32 - 1 at the most, and the run stops at the
// first plane missing instead.
std::string widthTooLarge(const std::string& size) {
#ifdef _WIN32
    (void)size;
    return corpus::couldNotReadPlane;
#else
    return "The input's x dimension has " + size +
           " elements, more than 4294967295.\nTerminating...";
#endif
}

const std::string sensorParameterWithoutName =
    "The input header has a sensor parameter line without a parameter name.\nTerminating...";

std::string sensorChannels(const std::string& count) {
    return "The input header gives " + count +
           " sensor channels; libics holds at most 32.\nTerminating...";
}

// 16-bit samples, x 8, y 4, z 2 and two channels, with two sensor channels.
const std::vector<std::string> goodHeaderLines = {
    "ics_version\t1.0",
    "filename\tin",
    "layout\tparameters\t5",
    "layout\torder\tbits\tx\ty\tz\tch",
    "layout\tsizes\t16\t8\t4\t2\t2",
    "layout\tcoordinates\tvideo",
    "layout\tsignificant_bits\t16",
    "representation\tformat\tinteger",
    "representation\tsign\tunsigned",
    "representation\tcompression\tuncompressed",
    "representation\tbyte_order\t1\t2",
    "parameter\torigin\t0\t0\t0\t0\t0",
    "parameter\tscale\t1\t0.1\t0.1\t0.5\t1",
    "parameter\tunits\tbits\tmicrometers\tmicrometers\tmicrometers\tundefined",
    "parameter\tlabels\tintensity\tx\ty\tz\tch",
    "sensor\ttype\tIncohConfMicr\tIncohConfMicr",
    "sensor\ts_params\tChannels\t2",
    "sensor\ts_params\tLambdaEx\t488\t543",
};

// A header's text: the field and line separators first, then its lines.
std::string headerText(const std::vector<std::string>& lines) {
    std::string text = "\t\n";
    for (const std::string& line : lines) text += line + "\n";
    return text;
}

Bytes goodData() {
    return lsmtest::tiffPixels(8, 4 * 2 * 2, 16, 1);
}

void writeInput(const lsmtest::TempDir& dir, const std::string& header, const Bytes& data) {
    lsmtest::writeText(dir.file("in.ics"), header);
    lsmtest::writeBytes(dir.file("in.ids"), data);
}

using Maker = std::function<void(const lsmtest::TempDir&)>;

bool lineHasKey(const std::string& line, const std::string& key) {
    return line.compare(0, key.size() + 1, key + "\t") == 0;
}

// The good header with the lines that begin with the keys given other values.
Maker withLines(const std::vector<std::pair<std::string, std::string>>& changes) {
    return [changes](const lsmtest::TempDir& dir) {
        std::vector<std::string> lines = goodHeaderLines;
        for (std::string& line : lines)
            for (const auto& [key, values] : changes)
                if (lineHasKey(line, key)) line = key + "\t" + values;
        writeInput(dir, headerText(lines), goodData());
    };
}

Maker withLine(const std::string& key, const std::string& values) {
    return withLines({{key, values}});
}

Maker withoutLine(const std::string& key) {
    return [key](const lsmtest::TempDir& dir) {
        std::vector<std::string> lines;
        for (const std::string& line : goodHeaderLines)
            if (!lineHasKey(line, key)) lines.push_back(line);
        writeInput(dir, headerText(lines), goodData());
    };
}

// A header of the case's own making beside the good data file.
Maker withHeader(std::string (*header)()) {
    return [header](const lsmtest::TempDir& dir) { writeInput(dir, header(), goodData()); };
}

// The good header beside the first bytes of the good data file.
Maker withDataCutAt(size_t bytes) {
    return [bytes](const lsmtest::TempDir& dir) {
        Bytes data = goodData();
        data.resize(bytes);
        writeInput(dir, headerText(goodHeaderLines), data);
    };
}

void withoutDataFile(const lsmtest::TempDir& dir) {
    lsmtest::writeText(dir.file("in.ics"), headerText(goodHeaderLines));
}

// Bytes that are no text at all, the same at every run.
std::string binaryGarbage() {
    std::string text;
    uint32_t state = 12345;
    for (int i = 0; i < 4096; ++i) {
        state = state * 1103515245u + 12345u;
        text += static_cast<char>(state >> 23);
    }
    return text;
}

// A version 2 header with the lines given after its own, then the bytes of data.
std::string versionTwoFile(const std::string& lastLines, size_t dataBytes) {
    std::vector<std::string> lines = goodHeaderLines;
    lines[0] = "ics_version\t2.0";
    const Bytes data = goodData();
    return headerText(lines) + lastLines + std::string(data.begin(), data.begin() + dataBytes);
}

std::string versionTwoWhole() {
    return versionTwoFile("end\n", goodData().size());
}

std::string versionTwoDataCut() {
    return versionTwoFile("end\n", goodData().size() - 1);
}

// The good header written with "|" between fields and far too many sensor channels.
// The good header with its sensor channel line in other letter cases, as libics accepts it.
std::string headerWithSensorLine(const std::string& sensorLine) {
    std::vector<std::string> lines = goodHeaderLines;
    for (std::string& line : lines)
        if (line == "sensor\ts_params\tChannels\t2") line = sensorLine;
    return headerText(lines);
}

std::string capitalSensorLineWithoutName() {
    return headerWithSensorLine("Sensor\tS_PARAMS");
}

std::string crlfSensorLineWithoutName() {
    return headerWithSensorLine("sensor\ts_params\r");
}

std::string capitalManySensorChannels() {
    return headerWithSensorLine("SENSOR\ts_params\tchannels\t1000");
}

std::string otherSeparatorsManySensorChannels() {
    std::string text = "|\n";
    for (std::string line : goodHeaderLines) {
        for (char& c : line)
            if (c == '\t') c = '|';
        if (line == "sensor|s_params|Channels|2") line = "sensor|s_params|Channels|1000";
        text += line + "\n";
    }
    return text;
}

struct IcsCase {
    IcsCase(std::string name, Maker make, Outcome outcome, std::vector<std::string> selection = {},
            std::optional<Outcome> exportOutcome = std::nullopt)
        : name(std::move(name)),
          make(std::move(make)),
          tiffPlanes(outcome),
          icsExport(exportOutcome.value_or(outcome)),
          selection(std::move(selection)) {}
    std::string name;
    Maker make;
    Outcome tiffPlanes;
    Outcome icsExport;                   // the same in ICS versions 1 and 2
    std::vector<std::string> selection;  // options that choose planes; none: the whole image
};

void PrintTo(const IcsCase& c, std::ostream* out) {
    *out << c.name;
}

const std::vector<IcsCase> icsCases = {
    // Nothing broken: the image the other cases break.
    {"Unbroken", withHeader([] { return headerText(goodHeaderLines); }), success()},

    // Missing, absurd and inconsistent layout lines:

    // No dimension sizes: libics knows no sample type.
    {"NoLayoutSizes", withoutLine("layout\tsizes"), failure(unknownDataType)},
    // No dimension order.
    {"NoLayoutOrder", withoutLine("layout\torder"), failure(couldNotOpenIcs)},
    // No dimension count.
    {"NoLayoutParameters", withoutLine("layout\tparameters"), failure(couldNotOpenIcs)},
    // A dimension count of 0.
    {"LayoutParametersZero", withLine("layout\tparameters", "0"), failure(couldNotOpenIcs)},
    // A dimension count of 1: the sample size alone, an image of one sample.
    {"LayoutParametersOne", withLine("layout\tparameters", "1"), success()},
    // A dimension count of 1000.
    {"LayoutParameters1000", withLine("layout\tparameters", "1000"), failure(couldNotOpenIcs)},
    // A dimension count above the sizes given: libics takes the missing sizes as 1.
    {"LayoutParametersAboveSizes", withLine("layout\tparameters", "7"), failure(sixDimensions)},
    // Fewer sizes than dimensions: libics takes the missing ones as 1.
    {"LayoutSizesFewerThanParameters", withLine("layout\tsizes", "16\t8\t4"), success()},
    // A width of 0.
    {"LayoutSizeZero", withLine("layout\tsizes", "16\t0\t4\t2\t2"), failure(emptyDimension)},
    // A width of 2^40.
    {"LayoutSize2Pow40", withLine("layout\tsizes", "16\t1099511627776\t4\t2\t2"),
     failure(widthTooLarge("1099511627776"))},
    // A width of 2^32 + 8, which is 8 in its low 32 bits.
    {"LayoutSizeAbove32Bits", withLine("layout\tsizes", "16\t4294967304\t4\t2\t2"),
     failure(widthTooLarge("4294967304"))},
    // A width of -8, which libics reads as 2^64 - 8.
    {"LayoutSizeNegative", withLine("layout\tsizes", "16\t-8\t4\t2\t2"),
     failure(widthTooLarge("18446744073709551608"))},
    // Three thousand million slices, beyond the slice numbers of the command line.
    {"LayoutSlicesAboveInt", withLine("layout\tsizes", "16\t8\t4\t3000000000\t2"),
     failure("The input's z dimension has 3000000000 elements, more than "
             "2147483647.\nTerminating...")},
    // 2^31 x 2^31 samples of 16 bits: a plane of 2^66 bytes, 0 in 64 bits.
    {"LayoutPlaneSizeOverflow", withLine("layout\tsizes", "16\t2147483648\t2147483648\t2\t2"),
     failure(imageTooLarge)},
    // Four thousand million channels, beyond the channel numbers of the command line.
    {"LayoutChannelCountHuge", withLine("layout\tsizes", "16\t8\t4\t2\t4000000000"),
     failure("The input's ch dimension has 4000000000 elements, more than "
             "2147483647.\nTerminating...")},
    // Two thousand million channels for a run without -c, which stops at the first plane
    // missing.
    {"LayoutChannelCountLarge",
     withLine("layout\tsizes", "16\t8\t4\t2\t2000000000"),
     failure(corpus::couldNotReadPlane),
     {},
     failure(noSensorParameters + corpus::couldNotReadPlane)},
    // 2^29 slices and time points of 64-byte planes: channel 2 starts at 2^64, that is at 0.
    {"PlaneOffsetBeyond64Bits",
     withLines({{"layout\tparameters", "6"},
                {"layout\torder", "bits\tx\ty\tz\tt\tch"},
                {"layout\tsizes", "16\t8\t4\t536870912\t536870912\t2"},
                {"parameter\tlabels", "intensity\tx\ty\tz\tt\tch"}}),
     failure(imageTooLarge),
     {"-c", "2", "-t", "1", "1", "-z", "1", "1"}},
    // Significant bits of 0.
    {"SignificantBitsZero", withLine("layout\tsignificant_bits", "0"),
     failure(significantBits("0", "16"))},
    // Significant bits of 17, above the sample size.
    {"SignificantBits17", withLine("layout\tsignificant_bits", "17"),
     failure(significantBits("17", "16"))},
    // Significant bits of 1000.
    {"SignificantBits1000", withLine("layout\tsignificant_bits", "1000"),
     failure(significantBits("1000", "16"))},

    // Sensor parameter lines that libics reads through a null pointer (found by fuzzing):

    // Sensor parameter lines that end before their parameter names.
    {"SensorParameterWithoutName", withLine("sensor\ts_params", ""),
     failure(sensorParameterWithoutName)},
    // Sensor parameter names behind a NUL byte, which ends a line for libics.
    {"SensorParameterNameAfterNul", withLine("sensor\ts_params", std::string("\0LambdaEm\t1", 12)),
     failure(sensorParameterWithoutName)},

    // The same, with the input named by its data file, which libics takes for the header's name.
    {"SensorParameterWithoutNameInputNamedIds", withLine("sensor\ts_params", ""),
     failure(sensorParameterWithoutName), {"-i", "in.ids"}},

    // The same in capitals, which libics reads alike (found by fuzzing).
    {"SensorParameterWithoutNameInCapitals", withHeader(capitalSensorLineWithoutName),
     failure(sensorParameterWithoutName)},

    // A nameless sensor parameter line ending in CR LF, whose CR libics drops (found by fuzzing).
    {"SensorParameterWithoutNameCrLf", withHeader(crlfSensorLineWithoutName),
     failure(sensorParameterWithoutName)},

    // A sensor parameter name beyond the characters libics reads of a line: libics meets the
    // line without it (found by fuzzing).
    {"SensorParameterNameBeyondLineLength",
     withLine("sensor\ts_params", std::string(1008, '\t') + "LambdaEm\t1"),
     failure(sensorParameterWithoutName)},

    // Sensor channel counts that libics cannot hold:

    // 33 sensor channels, one above libics's limit.
    {"SensorChannels33", withLine("sensor\ts_params\tChannels", "33"),
     failure(sensorChannels("33"))},
    // 1000 sensor channels.
    {"SensorChannels1000", withLine("sensor\ts_params\tChannels", "1000"),
     failure(sensorChannels("1000"))},
    // A sensor channel count beyond every integer type.
    {"SensorChannelsBeyondAnyInteger",
     withLine("sensor\ts_params\tChannels", "99999999999999999999999"),
     failure(sensorChannels("9223372036854775807"))},
    // 1000 sensor channels on a line in other letter cases.
    {"SensorChannelsInCapitals", withHeader(capitalManySensorChannels),
     failure(sensorChannels("1000"))},
    // 1000 sensor channels in a header of other separators.
    {"SensorChannelsWithOtherSeparators", withHeader(otherSeparatorsManySensorChannels),
     failure(sensorChannels("1000"))},
    // A negative sensor channel count, which libics holds as none.
    {"SensorChannelsNegative", withLine("sensor\ts_params\tChannels", "-1"), success()},

    // The data file:

    // A data file shorter than the header says: the second plane is cut.
    {"DataFileShorterThanHeader", withDataCutAt(100), failure(corpus::couldNotReadPlane)},
    // An empty data file.
    {"EmptyDataFile", withDataCutAt(0), failure(corpus::couldNotReadPlane)},
    // No data file.
    {"NoDataFile", withoutDataFile, failure(couldNotOpenIds)},

    // Headers of the wrong kind or none at all:

    // A version 2 file, its data inside the header file.
    {"VersionTwoHeader", withHeader(versionTwoWhole), success()},
    // A version 2 file whose data ends a byte early.
    {"VersionTwoDataCut", withHeader(versionTwoDataCut),
     failure("The input's image data (256 bytes from byte 548) does not lie within in.ics (803 "
             "bytes).\nTerminating...")},
    // A version 2 header without its "end" line, and without data.
    {"VersionTwoWithoutEnd", withHeader([] { return versionTwoFile("", 0); }),
     failure(versionTwoWithoutData)},
    // A version 2 header whose "source" line names a missing file.
    {"VersionTwoSourceMissing",
     withHeader([] { return versionTwoFile("source\tfile\tmissing.bin\nend\n", 0); }),
     failure(couldNotOpenIds)},
    // A version 2 header whose data would start past the end of its file.
    {"VersionTwoOffsetPastEnd", withHeader([] {
         return versionTwoFile("source\tfile\tin.ics\nsource\toffset\t100000\nend\n", 0);
     }),
     failure("The input's image data (256 bytes from byte 100000) does not lie within in.ics "
             "(588 bytes).\nTerminating...")},
    // Uncompressed data under a header that says gzip: the header decides.
    {"NotTheCompressionItSays", withLine("representation\tcompression", "gzip"),
     failure("The gzip data of in.ids is corrupt (incorrect header check).\nTerminating...")},
    // gzip data named for two thousand million channels, in a run without -c: listing them
    // would take memory without bound.
    {"GzipChannelCountLarge",
     withLines({{"layout\tsizes", "16\t8\t4\t2\t2000000000"},
                {"representation\tcompression", "gzip"}}),
     failure("The input names 2000000000 channels, more than its gzip data (in.ids, 256 bytes) "
             "can be counted on to hold; choose them with -c.\nTerminating...")},
    // A plane of 2 TB from 256 bytes of gzip data, refused before its buffer is made.
    {"GzipPlaneHuge",
     withLines({{"layout\tsizes", "16\t1000000\t1000000\t1\t1"},
                {"representation\tcompression", "gzip"}}),
     failure("The gzip data of in.ids (256 bytes) cannot decode to a plane of 2000000000000 "
             "bytes.\nTerminating...")},
    // Data compressed with "compress", which cannot be read plane by plane.
    {"CompressData", withLine("representation\tcompression", "compress"),
     failure(compressRefused)},
    // An empty header file.
    {"EmptyHeader", withHeader([] { return std::string(); }), failure(couldNotOpenIcs)},
    // Binary garbage for a header.
    {"BinaryGarbage", withHeader(binaryGarbage), failure(couldNotOpenIcs)},
    // A header without its separator line.
    {"NoSeparatorLine", withHeader([] { return headerText(goodHeaderLines).substr(2); }),
     failure(couldNotOpenIcs)},
    // Dimensions that cannot be told apart:

    // A dimension of two elements that neither its label nor its order name calls x, y, z, t
    // or ch.
    {"DimensionOfNoKnownName",
     withLines({{"layout\torder", "bits\tx\ty\tz\tphase"},
                {"parameter\tlabels", "intensity\tx\ty\tz\tlambda"}}),
     failure("The input's dimension 4 (order \"phase\", label \"lambda\") has 2 elements but is "
             "none of x, y, z, t and ch: its planes cannot be told apart.\nTerminating...")},
    // Two dimensions named z.
    {"DimensionNamedTwice", withLine("parameter\tlabels", "intensity\tx\ty\tz\tz"),
     failure("The input's dimensions 3 and 4 are both z.\nTerminating...")},
    // A history line of 100000 characters, far beyond libics's line length.
    {"VeryLongLine", withHeader([] {
         return headerText(goodHeaderLines) + "history\t" + std::string(100000, 'a') + "\n";
     }),
     success()},
};

const char* const icsOutputs = "out\\.(ics|ids)";

class IcsCorpus : public testing::TestWithParam<IcsCase> {
   protected:
    lsmtest::TempDir dir;

    void SetUp() override { GetParam().make(dir); }

    corpus::Invocation icsSplit(const std::vector<std::string>& modeWords,
                                const char* outputNames) const {
        std::vector<std::string> args = {"-i", "in", "-o", "out"};
        const std::vector<std::string>& selection = GetParam().selection;
        args.insert(args.end(), selection.begin(), selection.end());
        args.insert(args.end(), modeWords.begin(), modeWords.end());
        return {ICS_SPLIT_PATH, args, outputNames, true, false};
    }
};

TEST_P(IcsCorpus, TiffPlanes) {
    corpus::expectOutcome(dir, icsSplit({}, "out_ch[0-9]+t[0-9]+z[0-9]+\\.tif"),
                          GetParam().tiffPlanes);
}

TEST_P(IcsCorpus, IcsVersion1) {
    corpus::expectOutcome(dir, icsSplit({"-s1"}, icsOutputs), GetParam().icsExport);
}

TEST_P(IcsCorpus, IcsVersion2) {
    corpus::expectOutcome(dir, icsSplit({"-s2"}, icsOutputs), GetParam().icsExport);
}

TEST_P(IcsCorpus, OmeTiff) {
    corpus::expectOutcome(dir, icsSplit({"-ome"}, "out\\.ome\\.tif"), GetParam().tiffPlanes);
}

INSTANTIATE_TEST_SUITE_P(BadIcs, IcsCorpus, testing::ValuesIn(icsCases), corpus::CaseName());

}  // namespace
