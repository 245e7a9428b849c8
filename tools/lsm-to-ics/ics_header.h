// The description of an output image to libics, shared by lsm-to-ics and ics-split: layout,
// units, dimension names and scales, sensor parameters and history, on one open handle.
#pragma once

#include <libics.h>

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

// Messages of the plane copy into an output data file, the same in both programs.
namespace icsout {
inline const char* const couldNotReadPlane = "Could not read all data into buffer\nTerminating...";
inline const char* const dataFileNotOpen =
    "Could not open ids image file for appending\nTerminating...";
inline const char* const couldNotAppend = "Could not append all data into file\nTerminating...";
inline const char* const firstPlaneCloseFailed = "2. Could not close ICS file!\n";
// After all data is written, when libics could not write the header at the first plane.
inline const char* const headerNotWritten =
    "The ICS header was not written; the image data is in %s.\nTerminating...";
}  // namespace icsout

// Sensor values of one output channel. Without an excitation wavelength the channel gets no
// per-channel sensor call; without a pinhole radius only that call is left out.
struct SensorChannel {
    std::optional<double> excitationWavelength;
    std::optional<double> pinholeRadius;
    double emissionWavelength = 0;
};

struct IcsHeaderValues {
    std::string icsFileName;  // output base name + ".ids"; libics derives the header's name
    int icsVersion = 2;       // 1: header and separate data file; 2: one file
    Ics_DataType dataType = Ics_uint16;
    size_t columns = 0;
    size_t rows = 0;
    size_t zCount = 0;
    size_t timeCount = 0;
    size_t channelCount = 0;
    double scaleX = 0;  // in the units written: micrometers, seconds
    double scaleY = 0;
    double scaleZ = 0;
    double scaleT = 0;
    std::vector<SensorChannel> sensorChannels;  // one per output channel
    std::optional<double> numericalAperture;
    bool writeLensRefractiveIndex = true;
    long timeStart = 1;  // the history's time range
    long timeEnd = 1;
};

// Dimension sizes in libics order: all five with two or more channels; with one channel a z or
// t count below 2 is left out, t moving to position 2 when z is.
std::vector<size_t> icsLayoutSizes(size_t columns, size_t rows, size_t zCount, size_t timeCount,
                                   size_t channelCount);

// Whether dimension 2 is time (one channel, no z dimension, several time points).
bool dimensionTwoIsTime(size_t zCount, size_t timeCount, size_t channelCount);

// The emission wavelength assumed for an excitation wavelength.
double emissionWavelengthFor(double excitationWavelength);

// Whether libics can hold the sensor parameters of this many channels.
bool sensorParametersFit(size_t channelCount);

// Opens the output handle and describes the image. Failures of the calls that are tested are
// reported on standard error and the run goes on.
ICS* setupIcsHeader(const IcsHeaderValues& values);

// Hands the data to libics and closes the handle; closeFailedMessage on failure. Returns
// whether libics wrote the image.
bool completeIcsHeader(ICS* ics, const void* data, size_t bytes, const char* closeFailedMessage);

// Opens a data file that is written a whole plane at a time: unbuffered, so that each plane
// goes to the file in one write instead of the stream's small blocks.
FILE* openPlaneDataFile(const std::string& name);

// Prints "no memory" on standard output, the one fatal message there, and exits with status 1.
[[noreturn]] void failNoMemory();

// Version 2 completion: reads the data file back whole (totalBytes, in samples of sampleBytes),
// hands it to libics, which writes the one ".ics" file, and deletes the data file. When libics
// cannot write the image, the data file stays and the run ends with status 1.
void completeIcsFromDataFile(ICS* ics, const std::string& dataFileName, uint64_t totalBytes,
                             size_t sampleBytes);
