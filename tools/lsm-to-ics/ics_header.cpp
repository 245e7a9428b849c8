// The libics call sequence that writes an output image's header.
#include "ics_header.h"

#include <libics_sensor.h>

#include <cstdio>
#include <cstdlib>

#include "byte_range_copy.h"
#include "command_line.h"

namespace {

const char* const couldNotOpenIcsForWriting = "Could not open ICS file for writing!\n";
const char* const couldNotSetLayout = "Could not set ICS layout!\n";
const char* const unableToWriteParameters = "Unable to write parameter fields!\n";
const char* const unableToWriteSensor = "Unable to write sensor params!\n";
const char* const noMemory = "no memory";
const char* const firstPlaneCloseFailed = "2. Could not close ICS file!\n";
const char* const imageCloseFailed = "Could not close ICS file!\n";
const char* const dataFileNotOpen = "Could not open ids image file for appending\nTerminating...";
const char* const couldNotAppend = "Could not append all data into file\nTerminating...";
// After all data is written, when libics could not write the header at the first plane.
const char* const headerNotWritten =
    "The ICS header was not written; the image data is in %s.\nTerminating...";
const char* const imageNotWritten =
    "The ICS image was not written; its data stays in %s.\nTerminating...";
const char* const fileNameTooLong =
    "An ICS file name of %zu characters is too long for libics, which takes at most "
    "%d.\nTerminating...";
const char* const tooManySensorChannels =
    "More than 32 channels: the sensor parameters are not written to the ICS header.\n";

constexpr int dimensionNumbers = 5;
constexpr double pinholeSpacing = 2.53;

void report(const char* message) {
    std::fputs(message, stderr);
    std::fflush(stderr);
}

// Name, label and position of dimensions 0 to 4, whatever the layout's count: libics refuses
// the numbers beyond it, and those results are not looked at.
void describeDimensions(ICS* ics, const IcsHeaderValues& v) {
    const bool timeAtTwo = dimensionTwoIsTime(v.zCount, v.timeCount, v.channelCount);
    struct Dimension {
        const char* name;
        double scale;
        const char* units;
    };
    const Dimension dimensions[dimensionNumbers] = {
        {"x", v.scaleX, "micrometers"},
        {"y", v.scaleY, "micrometers"},
        timeAtTwo ? Dimension{"t", v.scaleT, "seconds"} : Dimension{"z", v.scaleZ, "micrometers"},
        {"t", v.scaleT, "seconds"},
        {"ch", static_cast<double>(v.channelCount), "undefined"},
    };
    for (int d = 0; d < dimensionNumbers; ++d) {
        IcsSetOrder(ics, d, dimensions[d].name, dimensions[d].name);
        IcsSetPosition(ics, d, 0.0, dimensions[d].scale, dimensions[d].units);
    }
}

void describeSensor(ICS* ics, const IcsHeaderValues& v) {
    if (IcsEnableWriteSensor(ics, 1) != IcsErr_Ok) report(unableToWriteSensor);
    const int channels = static_cast<int>(v.channelCount);
    // This libics keeps a type per sensor channel.
    for (int i = 0; i < channels; ++i) IcsSetSensorType(ics, i, "IncohConfMicr");
    IcsSetSensorModel(ics, "PMT");
    IcsSetSensorChannels(ics, channels);
    for (int i = 0; i < channels && i < static_cast<int>(v.sensorChannels.size()); ++i) {
        const SensorChannel& channel = v.sensorChannels[static_cast<size_t>(i)];
        if (!channel.excitationWavelength) continue;
        if (channel.pinholeRadius) IcsSetSensorPinholeRadius(ics, i, *channel.pinholeRadius);
        IcsSetSensorExcitationWavelength(ics, i, *channel.excitationWavelength);
        IcsSetSensorEmissionWavelength(ics, i, channel.emissionWavelength);
        IcsSetSensorPhotonCount(ics, i, 1);
    }
    IcsSetSensorMediumRI(ics, v.mediumRefractiveIndex);
    if (v.numericalAperture) IcsSetSensorNumAperture(ics, *v.numericalAperture);
    if (v.lensRefractiveIndex) IcsSetSensorLensRI(ics, *v.lensRefractiveIndex);
    IcsSetSensorPinholeSpacing(ics, pinholeSpacing);
}

// Opens a data file for whole planes, emptied or to be appended to.
int openPlaneDataFile(const std::string& name, bool emptied) {
    const int file = fileio::openForWriting(name, emptied);
    if (file < 0) cli::fail(dataFileNotOpen);
    if (!emptied) fileio::seekToEnd(file);
    return file;
}

}  // namespace

std::vector<size_t> icsLayoutSizes(size_t columns, size_t rows, size_t zCount, size_t timeCount,
                                   size_t channelCount) {
    if (channelCount >= 2) return {columns, rows, zCount, timeCount, channelCount};
    std::vector<size_t> sizes = {columns, rows};
    if (zCount >= 2) sizes.push_back(zCount);
    if (timeCount >= 2) sizes.push_back(timeCount);
    return sizes;
}

bool sensorParametersFit(size_t channelCount) { return channelCount <= ICS_MAX_LAMBDA; }

bool dimensionTwoIsTime(size_t zCount, size_t timeCount, size_t channelCount) {
    return channelCount == 1 && zCount < 2 && timeCount > 1;
}

double emissionWavelengthFor(double excitationWavelength) {
    if (excitationWavelength >= 500) return 569;
    if (excitationWavelength > 440) return 510;
    return 476;
}

void requireLibicsFileName(const std::string& name) {
    if (name.size() >= ICS_MAXPATHLEN)
        cli::failWith(fileNameTooLong, name.size(), ICS_MAXPATHLEN - 1);
}

ICS* setupIcsHeader(const IcsHeaderValues& v) {
    ICS* ics = nullptr;
    if (IcsOpen(&ics, v.icsFileName.c_str(), v.icsVersion == 1 ? "w1" : "w2") != IcsErr_Ok) {
        report(couldNotOpenIcsForWriting);
        ics = nullptr;
    }
    const std::vector<size_t> sizes =
        icsLayoutSizes(v.columns, v.rows, v.zCount, v.timeCount, v.channelCount);
    if (IcsSetLayout(ics, v.dataType, static_cast<int>(sizes.size()), sizes.data()) != IcsErr_Ok)
        report(couldNotSetLayout);
    if (v.significantBits) IcsSetSignificantBits(ics, v.significantBits);
    if (IcsSetImelUnits(ics, 0.0, 1.0, "bits") != IcsErr_Ok) report(unableToWriteParameters);
    describeDimensions(ics, v);
    // Beyond its channel limit libics refuses the channel count, and writing sensor parameters
    // without sensor channels makes it read outside its own arrays.
    if (sensorParametersFit(v.channelCount))
        describeSensor(ics, v);
    else
        report(tooManySensorChannels);
    IcsAddHistory(ics, "time_start", std::to_string(v.timeStart).c_str());
    IcsAddHistory(ics, "time_end", std::to_string(v.timeEnd).c_str());
    for (const auto& [key, value] : v.history) IcsAddHistory(ics, key.c_str(), value.c_str());
    return ics;
}

OutputData startOutputData(ICS* ics, int icsVersion, const std::string& outputBase,
                           const void* plane, size_t planeBytes) {
    OutputData output;
    output.icsVersion = icsVersion;
    IcsSetData(ics, plane, planeBytes);
    output.headerWritten = IcsClose(ics) == IcsErr_Ok;
    if (!output.headerWritten) {
        report(icsVersion == 1 ? firstPlaneCloseFailed : imageCloseFailed);
        output.fileName = outputBase + ".ids";
        output.file = openPlaneDataFile(output.fileName, true);
        appendPlane(output, plane, planeBytes);
        return output;
    }
    output.fileName = outputBase + (icsVersion == 1 ? ".ids" : ".ics");
    output.file = openPlaneDataFile(output.fileName, false);
    return output;
}

void appendPlane(const OutputData& output, const void* plane, size_t planeBytes) {
    if (!fileio::writeAll(output.file, plane, planeBytes)) cli::fail(couldNotAppend);
}

void appendPlaneFrom(const OutputData& output, int input, uint64_t offset, size_t planeBytes) {
    const fileio::CopyResult result = fileio::copyRange(output.file, input, offset, planeBytes);
    if (result == fileio::CopyResult::writeFailed) cli::fail(couldNotAppend);
    if (result != fileio::CopyResult::copied) cli::fail(planes::couldNotReadPlane);
}

void finishOutputData(OutputData& output) {
    if (!fileio::closeFile(output.file)) cli::fail(couldNotAppend);
    output.file = -1;
    // The data is all written; an image whose header libics could not write is no success.
    if (!output.headerWritten)
        cli::failWith(output.icsVersion == 1 ? headerNotWritten : imageNotWritten,
                      output.fileName.c_str());
}

void failNoMemory() {
    std::printf("%s\n", noMemory);
    std::fflush(stdout);
    std::exit(1);
}
