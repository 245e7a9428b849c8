// The description of an output image to libics, shared by lsm-to-ics and ics-split: layout,
// units, dimension names and scales, sensor parameters and history, on one open handle.
#pragma once

#include <libics.h>

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "plane_copy.h"

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
    size_t significantBits = 0;  // 0: libics's default, the sample size
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
    // The recipe's indices are those of oil immersion; a lens index left out is not written.
    double mediumRefractiveIndex = 1.515;
    std::optional<double> lensRefractiveIndex = 1.515;
    long timeStart = 1;  // the history's time range
    long timeEnd = 1;
    std::vector<std::pair<std::string, std::string>> history;  // lines after the time range
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

// Fatal when libics cannot hold the file name whole: it cuts longer names, and would read or
// write another file than the one named.
void requireLibicsFileName(const std::string& name);

// Opens the output handle and describes the image. Failures of the calls that are tested are
// reported on standard error and the run goes on.
ICS* setupIcsHeader(const IcsHeaderValues& values);

// The output image's data file while the planes are written: libics writes the header and the
// first plane, the following planes are appended.
struct OutputData {
    int file = -1;
    std::string fileName;        // NAME.ids in version 1, NAME.ics in version 2, else NAME.ids
    bool headerWritten = false;  // false: libics could not write it, and the planes go to NAME.ids
    int icsVersion = 2;
};

// Completes the image with its first plane: libics writes the header and, with it, the plane
// (into NAME.ids in version 1, after the header in NAME.ics in version 2); the data file is then
// opened for the following planes. When libics cannot write the header, the first plane goes to
// a new NAME.ids, where the others follow it. Fatal when no data file can be opened.
OutputData startOutputData(ICS* ics, int icsVersion, const std::string& outputBase,
                           const void* plane, size_t planeBytes);

// Appends a plane held in memory to the data file. Fatal when it cannot all be written.
void appendPlane(const OutputData& output, const void* plane, size_t planeBytes);

// Appends planeBytes bytes of the input file from offset on to the data file, copied by the
// kernel without passing through memory of ours, or read and written through one buffer where
// the kernel cannot copy between the two files. Fatal when fewer bytes can be read (the input
// has shrunk since it was checked) or written.
void appendPlaneFrom(const OutputData& output, int input, uint64_t offset, size_t planeBytes);

// Closes the data file after the last plane. Fatal when the close fails, or when libics could
// not write the header: the data then stays in NAME.ids and the message says so.
void finishOutputData(OutputData& output);

// Prints "no memory" on standard output, the one fatal message there, and exits with status 1.
[[noreturn]] void failNoMemory();
