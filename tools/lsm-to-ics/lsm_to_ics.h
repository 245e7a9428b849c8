// What the stages of lsm-to-ics share: the extraction plan, one open input file and the run.
#pragma once

#include <libics.h>

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "ics_header.h"
#include "lsm_reader.h"
#include "ome_tiff.h"

extern const char* const usage;
extern const char* const tooFewFirstEntries;

struct ExtractionPlan {
    int seriesStart = 0;
    int seriesStep = 0;
    int seriesEnd = 0;
    std::vector<std::string> inputFiles;
    std::string outputBase;
    int zStart = 0;
    int zEnd = 0;
    std::vector<int> channels;
    double timeInterval = 0;
    int icsVersion = 2;
    bool omeTiff = false;  // -ome: one OME-TIFF instead of the ICS image
    int position = 0;  // the stage position of every file, counted from 1; 0 when -p is not given
    bool acquisitionOptics = false;  // -a: emission and immersion from the acquisition
};

// What the whole run keeps between files: the header, the first file's geometry.
struct ConversionState {
    ICS* ics = nullptr;
    bool headerSetUp = false;
    OutputData output;                      // open from the first plane on
    ome::OmeTiffWriter* omeTiff = nullptr;  // -ome: open from the header on
    int32_t columns = 0;
    int32_t rows = 0;
    int32_t bitDepth = 0;
    int32_t framesPerFile = 0;
    int32_t positionsPerFile = 0;
};

// How the planes of a file are found.
enum class PlaneLayout {
    imageStride,      // one image per plane, each the same distance from the one before
    ownDirectories,   // each plane through its own image's directory (compressed, positions)
    insideOneImage,   // all planes one after the other inside the first image (line scans)
};

// One input file while it is open.
struct LsmFile {
    const char* name = nullptr;
    FILE* stream = nullptr;
    int64_t size = 0;
    int64_t firstDirectoryOffset = 0;
    lsm::DirectoryList directories;
    lsm::StripOffsetList stripOffsets;  // of the first image, one per channel
    lsm::EntryValueList bitsPerSample;  // of the first image, one per channel
    lsm::LsmInfo info;
    int32_t nextDirectoryOffset = 0;
    int32_t bitDepth = 0;
    int32_t frames = 1;  // time frames, each of DimensionZ slices
    lsm::PositionsAndTiles positions;
    int32_t compression = 1;
    int32_t predictor = 1;
    int32_t imageLength = 0;  // rows of the first image
    PlaneLayout layout = PlaneLayout::imageStride;
    int64_t planeStride = 0;
    uint64_t planeBytes = 0;
    int bytesPerPixel = 0;
    // ownDirectories: the chosen channel's strip in every image of the chosen position, in
    // frame and slice order; for compressed files also where every strip of the file starts,
    // in file order, which bounds each compressed strip.
    std::vector<int64_t> planeStrips;
    std::vector<int64_t> stripStarts;
};

// Scans the command line into the plan, then fills what it leaves out (-z, -c, -t) from the
// first input file, read only when an option is left out. Fatal on every command-line fault,
// before any file is written.
ExtractionPlan readCommandLine(int argc, char** argv);

// Opens a file and reads what the report needs: header, first directory, information block;
// with the run's messages where it cannot. The file's name must outlive it.
LsmFile openLsmFileForReport(const std::string& name);

// A field of the file's information block by the integer conversion rule.
int32_t lsmInt(const LsmFile& file, lsm::LsmInfoField field);

// The output's time points: every frame of every file, counted by the first file's frames.
size_t outputTimeCount(const ExtractionPlan& plan, int32_t framesPerFile);

// Reads the scan information of the first file, prints the acquisition date and describes the
// output image to libics, or starts the OME-TIFF.
void setUpHeader(const ExtractionPlan& plan, const LsmFile& file, ConversionState& run);

// The scan information of the first file.
struct ScanInformation {
    lsm::ScanInfoNumbers numbers;
    lsm::ScanInfoTexts texts;
    lsm::ScanInfoTracks tracks;
    lsm::RecordingTexts recording;
};

// The numerical aperture from an objective's name such as "Plan-Apochromat 63x/1.40 Oil".
std::optional<double> numericalApertureOf(const std::string& objective);

// The OME-TIFF of -ome: ome_description.cpp. Describes the image by what the first file
// records and creates NAME.ome.tif for its planes.
ome::OmeTiffWriter* startOmeTiffOutput(const ExtractionPlan& plan, const LsmFile& file,
                                       const ScanInformation& scan);

// The acquisition's own optics (-a): acquisition_optics.cpp.

// The emission wavelength of an image channel (counted from 1) of channelCount channels, lit at
// excitation, where its detection channel tells (the transmitted-light detector, a spectral bin,
// a filter, a detected band); none where only the recipe's value would stand.
std::optional<double> detectedEmission(const lsm::ChannelAcquisition& acquisition, int channel,
                                       int32_t channelCount, double excitation);
// The same, else the recipe's.
double acquiredEmission(const lsm::ChannelAcquisition& acquisition, int channel,
                        int32_t channelCount, double excitation);

// The immersion of an objective, by the words of its name, or dry where it has none and an
// aperture below 1. Indices left out are the recipe's.
struct Immersion {
    const char* name;     // oil, water, glycerol, dry or unknown
    const char* omeName;  // OME's word: Oil, Water, Glycerol, Multi, Air; empty where unknown
    std::optional<double> lensRefractiveIndex;
    std::optional<double> mediumRefractiveIndex;
};
Immersion immersionOf(const std::string& objective, std::optional<double> numericalAperture);

// Sets the immersion's refractive indices and adds the history lines "objective", "immersion"
// and "channel_i" for the i-th output channel (channel numbers of the file in channelNumbers).
void describeAcquisitionOptics(const std::string& objective,
                               const std::vector<lsm::ChannelAcquisition>& channels,
                               const std::vector<int>& channelNumbers, int32_t channelCount,
                               IcsHeaderValues& v);

// Whether libtiff can decode the file's compression for us.
bool compressionDecodable(int32_t compression);

// How the file's planes lie: reads the directories that tell.
void readPlaneGeometry(const ExtractionPlan& plan, int channel, LsmFile& file);

// A frame count read from the file must not make the run copy more than the file holds: the
// images may not overlap, and the last plane must lie in the file.
void checkPlanesFit(const ExtractionPlan& plan, int channel, const LsmFile& file);

// The image of the chosen position (from 0), a frame and a slice in directory order, where
// positions are outermost.
int64_t imageIndexOf(const ExtractionPlan& plan, const LsmFile& file, int64_t frame, int64_t z);

// The file offset of a stored plane of the chosen channel at a frame and slice (from 0), or -1
// where it cannot be one.
int64_t planePosition(const ExtractionPlan& plan, int channel, const LsmFile& file,
                      int64_t frame, int64_t z);

// Whether a plane from position on lies whole in the file.
bool planeLiesInFile(const LsmFile& file, int64_t position);

// Decodes compressed planes of one file through libtiff, one channel strip after another.
struct StripSource {
    std::vector<unsigned char> header;  // a TIFF header and one directory describing the strip
    int file = -1;
    int64_t stripOffset = 0;
    uint64_t stripBytes = 0;
    uint64_t position = 0;  // libtiff's reading position within header and strip
};
struct PlaneDecoder {
    void* tiff = nullptr;  // the libtiff handle of the strip being decoded
    StripSource source;
    int64_t stripOffset = -1;  // the strip being decoded
    uint32_t nextRow = 0;      // its next row to decode
};

// Decodes the plane of the chosen channel at a frame and slice (from 0) into plane. Fatal,
// naming the file, channel and image, when the strip does not decode to a whole plane.
void decodePlane(PlaneDecoder& decoder, const ExtractionPlan& plan, int channel,
                 const LsmFile& file, int64_t frame, int64_t z, unsigned char* plane);
void closePlaneDecoder(PlaneDecoder& decoder);
