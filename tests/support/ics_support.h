// ICS images read back and written through libics, for the tests.
#pragma once

#include <libics.h>

#include <string>
#include <utility>
#include <vector>

#include "lsm_writer.h"

namespace lsmtest {

struct IcsDimension {
    size_t size = 0;
    std::string order, label, units;
    double origin = 0, scale = 0;
};

struct IcsContents {
    bool opened = false;
    int version = 0;
    Ics_DataType dataType = Ics_unknown;
    std::vector<IcsDimension> dimensions;
    size_t significantBits = 0;
    std::string imelUnits;
    int sensorChannels = 0;
    std::string sensorModel;
    std::vector<std::string> sensorTypes;
    double numericalAperture = 0, mediumRefractiveIndex = 0, lensRefractiveIndex = 0;
    double pinholeSpacing = 0;
    std::vector<double> pinholeRadius, excitation, emission;  // one per sensor channel
    std::vector<int> photonCount;
    std::vector<std::pair<std::string, std::string>> history;
    Bytes data;  // the image data, through libics
};

// Reads the image base.ics (with its data) through libics; opened is false when it cannot.
IcsContents readIcs(const std::string& base);

struct IcsImage {
    Ics_DataType dataType = Ics_uint16;
    std::vector<size_t> sizes;
    std::vector<std::string> labels;  // one per dimension
    std::vector<double> scales;
    size_t significantBits = 0;       // 0: libics's default
    std::vector<double> pinholeRadius, excitation, emission;  // empty: no sensor parameters
    double numericalAperture = 0;
    int version = 1;    // 2: one file, the data after the header
    int gzipLevel = 0;  // 0: uncompressed; else gzip data at this level
    Bytes data;
};

// Writes base.ics, and base.ids in version 1, through libics.
void writeIcs(const std::string& base, const IcsImage& image);

// A gzip stream of the pieces, each ending on a byte boundary of the stream (a full flush), so
// that a piece can be cut off or damaged alone; ends receives the stream's length after each.
Bytes gzipStream(const std::vector<Bytes>& pieces, std::vector<size_t>* ends = nullptr);

}  // namespace lsmtest
