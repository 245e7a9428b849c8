// The libics call sequence that writes an output image's header.
#include "ics_header.h"

#include <libics_sensor.h>

#include <cstdio>
#include <cstdlib>

namespace {

const char* const couldNotOpenIcsForWriting = "Could not open ICS file for writing!\n";
const char* const couldNotSetLayout = "Could not set ICS layout!\n";
const char* const unableToWriteParameters = "Unable to write parameter fields!\n";
const char* const unableToWriteSensor = "Unable to write sensor params!\n";
const char* const noMemory = "no memory";
const char* const couldNotReopenData =
    "Could not open the data file %s to read it back.\nTerminating...\n";
const char* const couldNotReadImage =
    "Could not read all image data into file...terminating\n\n";
const char* const finalCloseFailed = "Could not close ICS file!\n";
const char* const imageNotWritten =
    "The ICS image was not written; its data stays in %s.\nTerminating...\n";
const char* const tooManySensorChannels =
    "More than 32 channels: the sensor parameters are not written to the ICS header.\n";

constexpr int dimensionNumbers = 5;
constexpr double mediumRefractiveIndex = 1.515;
constexpr double lensRefractiveIndex = 1.515;
constexpr double pinholeSpacing = 2.53;

void report(const char* message) {
    std::fputs(message, stderr);
    std::fflush(stderr);
}

[[noreturn]] void failReporting(const char* message) {
    report(message);
    std::exit(1);
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
    IcsSetSensorMediumRI(ics, mediumRefractiveIndex);
    if (v.numericalAperture) IcsSetSensorNumAperture(ics, *v.numericalAperture);
    if (v.writeLensRefractiveIndex) IcsSetSensorLensRI(ics, lensRefractiveIndex);
    IcsSetSensorPinholeSpacing(ics, pinholeSpacing);
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
    return ics;
}

bool completeIcsHeader(ICS* ics, const void* data, size_t bytes, const char* closeFailedMessage) {
    IcsSetData(ics, data, bytes);
    if (IcsClose(ics) == IcsErr_Ok) return true;
    report(closeFailedMessage);
    return false;
}

FILE* openPlaneDataFile(const std::string& name) {
    FILE* file = std::fopen(name.c_str(), "wb");
    if (file) std::setvbuf(file, nullptr, _IONBF, 0);
    return file;
}

void failNoMemory() {
    std::printf("%s\n", noMemory);
    std::fflush(stdout);
    std::exit(1);
}

void completeIcsFromDataFile(ICS* ics, const std::string& dataFileName, uint64_t totalBytes,
                             size_t sampleBytes) {
    FILE* data = std::fopen(dataFileName.c_str(), "rb");
    if (!data) {
        std::fprintf(stderr, couldNotReopenData, dataFileName.c_str());
        std::exit(1);
    }
    void* image = std::malloc(totalBytes ? totalBytes : 1);
    if (!image) {
        std::fclose(data);
        std::remove(dataFileName.c_str());
        failNoMemory();
    }
    const size_t items = static_cast<size_t>(totalBytes / sampleBytes);
    if (std::fread(image, sampleBytes, items, data) != items) failReporting(couldNotReadImage);
    const bool written =
        completeIcsHeader(ics, image, static_cast<size_t>(totalBytes), finalCloseFailed);
    std::free(image);
    std::fclose(data);
    // Deleting the data file of an image libics did not write would lose the image.
    if (!written) {
        std::fprintf(stderr, imageNotWritten, dataFileName.c_str());
        std::exit(1);
    }
    std::remove(dataFileName.c_str());
}
