// What the stages of ics-split share: the options, the input image as its header describes it,
// and the reading of one plane; each export is a file of its own.
#pragma once

#include <libics.h>
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

enum OutputMode { icsVersion1 = 1, icsVersion2 = 2, tiffPlanes = 3, omeTiff = 4 };

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
    std::string order;  // the name of the layout's order line
    std::string label;
    std::string units;
    std::string name;   // "x", "y", "z", "t" or "ch" as identified; empty when neither names it
};

struct IcsInputInfo {
    Ics_DataType dataType = Ics_unknown;
    std::vector<IcsDimensionInfo> dimensions;
    uint32_t X = 1, Y = 1, Z = 1, T = 1, CH = 1;
    double vx = 0, vy = 0, vz = 0, vt = 0;
    size_t significantBits = 0;
    double numericalAperture = 0;
    double mediumRefractiveIndex = 0;
    std::vector<double> pinholeRadius, excitation, emission;  // one per channel-list entry
    std::string headerFileName;   // the file libics reads the header from
    std::string dataFileName;     // NAME.ids, or the file a version-2 header names
    uint64_t dataOffset = 0;      // where the image data starts in it
    bool versionTwo = false;
    bool gzipData = false;        // the data is gzip (one member or several), from the offset on
    std::vector<int> byteOrder;   // the header's byte order of one sample; all 0 when unsaid
    bool bigEndianSamples = false;
    size_t sampleBytes = 0;       // w, from the data type
    uint64_t planeBytes = 0;      // P
    uint64_t zStride = 0, tStride = 0, channelStride = 0;  // bytes between neighbouring planes
    uint64_t imageBytes = 0;
};

// The input data file, open for reading planes into one buffer. gzip data is decoded in stream
// order; a plane that lies before the decoder's position starts the stream again.
struct PlaneReader {
    FILE* stream = nullptr;
    int64_t fileSize = 0;
    unsigned char* buffer = nullptr;  // one plane, reused for every plane
    size_t bufferBytes = 0;
    z_stream inflater{};              // set up in place: zlib's state points back at it
    bool inflating = false;           // inflater set up
    bool streamEnded = false;
    bool streamCorrupt = false;       // met beyond the bytes decoded so far
    unsigned char* compressed = nullptr;  // the gzip data read ahead
    uint64_t decoded = 0;                 // bytes of the image decoded since the stream's start
};

// Reading the input: read_input.cpp.

// Reads the input header through libics; a run without a channel list takes every channel.
IcsInputInfo readInputHeader(SplitOptions& options);
void reportHeader(const IcsInputInfo& info);
// Opens the data file the header names; fatal when it cannot be opened.
PlaneReader openInputData(const IcsInputInfo& info);
// Sample and plane sizes, plane strides and sample byte order, checked against the data.
void derivePlaneLayout(IcsInputInfo& info, const PlaneReader& reader);
// The byte offset of plane (k, t, z), counted from 1, in the input data file.
uint64_t planeOffset(const IcsInputInfo& info, int k, int t, int z);
// The offset of plane (k, t, z); fatal unless the plane lies whole in the data file. Offsets in
// gzip data are those in the decoded image, checked as it is decoded.
uint64_t planeInFile(const PlaneReader& reader, const IcsInputInfo& info, int k, int t, int z);
// Reads plane (k, t, z) into the reader's buffer.
unsigned char* readPlane(PlaneReader& reader, const IcsInputInfo& info, int k, int t, int z);
void closeInputData(PlaneReader& reader);
bool hostIsBigEndian();

// Decoding gzip data: gzip_input.cpp.

// Decodes the plane at offset in the image into the reader's buffer, and verifies the stream's
// check when the plane is the image's last. Fatal when the stream is corrupt or ends first.
unsigned char* readGzipPlane(PlaneReader& reader, const IcsInputInfo& info, uint64_t offset);

// The exports: tiff_export.cpp, ics_export.cpp and ome_export.cpp.
void exportTiffPlanes(const SplitOptions& options, const IcsInputInfo& info, PlaneReader& reader);
void exportIcsSubset(const SplitOptions& options, const IcsInputInfo& info, PlaneReader& reader);
void exportOmeTiff(const SplitOptions& options, const IcsInputInfo& info, PlaneReader& reader);

// Fatal when a range of the options is empty: an export of one image needs a plane of each. The
// message names the export ("ICS").
void refuseEmptyRanges(const SplitOptions& options, const char* exportName);
// Fatal when one of the outputs is a file of the input, which writing would destroy.
void refuseOutputOverInput(const std::vector<std::string>& outputs, const IcsInputInfo& info);
