// The suite's OME-TIFF writer: a program describes its image in one plain OmeImage, and its own
// loop hands the planes over one by one, each copied by the kernel from an input file or given
// in memory. The writer builds the OME-XML and every TIFF directory; every failure is fatal
// (message on standard error, exit status 1).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ome {

// The messages of a TIFF file that cannot be made or written, the same in every TIFF export.
inline const char* const couldNotCreateTiff = "Could not create TIFF file %s!\nTerminating...";
inline const char* const couldNotWriteTiff = "Could not write to TIFF file!\nTerminating...";

// The sample types of OME's Pixels: 64-bit integers and complex numbers have none.
enum class PixelType { uint8, int8, uint16, int16, uint32, int32, float32, float64 };

// A length in one of OME's units of length: "m", "mm", "\xC2\xB5m" (UTF-8), "nm".
struct Length {
    double value = 0;
    std::string unit;
};

// The objective of the Instrument, and the medium of the Image's ObjectiveSettings.
struct Objective {
    std::string model;      // empty: left out
    std::string immersion;  // OME's word: "Oil", "Water", ...; empty: left out
    std::optional<double> lensNA;
    std::optional<double> nominalMagnification;
    std::optional<double> refractiveIndex;  // of the immersion medium
};

// One output channel, the pages of channel c being those with TheC = c.
struct Channel {
    std::string name;                            // empty: left out
    std::optional<double> pinholeSize;           // in µm
    std::optional<double> excitationWavelength;  // in nm
    std::optional<double> emissionWavelength;    // in nm
    std::string fluor;                           // empty: left out
    std::optional<int32_t> color;                // red, green, blue, alpha as OME's signed int
    std::optional<size_t> laser;                 // index into OmeImage::laserWavelengths
};

// What the OME-XML of one image says. Its pages are the planes in XYZTC order: every z of the
// first time point of the first channel, then the next time point, then the next channel.
struct OmeImage {
    std::string creator;          // the program and its version, e.g. "ics-split 1.0.0"
    std::string name;             // always written, empty or not
    std::string description;      // empty: left out
    std::string acquisitionDate;  // ISO 8601 (YYYY-MM-DDThh:mm:ss); empty: left out
    PixelType pixelType = PixelType::uint16;
    size_t significantBits = 0;
    bool bigEndian = false;  // the samples' byte order, which the TIFF file takes
    uint32_t sizeX = 1, sizeY = 1, sizeZ = 1, sizeC = 1, sizeT = 1;
    std::optional<Length> physicalSizeX, physicalSizeY, physicalSizeZ;
    std::optional<double> timeIncrement;   // in s
    std::optional<Objective> objective;    // with laser wavelengths, the image's Instrument
    std::vector<double> laserWavelengths;  // in nm; laser i is LightSource:0:i
    std::vector<Channel> channels;         // sizeC of them
    bool planeElements = false;            // one Plane element per page
    std::vector<double> deltaT;            // in s, by time point; empty: no DeltaT
};

// The OME-XML of the image, as the first page of its OME-TIFF carries it: ome_xml.cpp.
std::string omeXml(const OmeImage& image);

// An OME-TIFF file being written: ome_tiff.cpp.
struct OmeTiffWriter;

// Creates fileName for the image's pages of planeBytes each. Fatal when OME-XML cannot count
// the pages, or a file cannot hold their bytes, or the file cannot be created. The strips of an
// image of 1 MiB or more start at the place within 64 KiB where firstPlaneOffset lies, so that
// planes copied from an input file at that offset stay aligned as they were there; a smaller
// image's follow the header. inputCut is the program's message for an input file that ends
// before a plane that it held when the run began.
OmeTiffWriter* startOmeTiff(const std::string& fileName, const OmeImage& image, uint64_t planeBytes,
                            uint64_t firstPlaneOffset, const char* inputCut);
// The next page, its plane the planeBytes at offset in the open file input, which the kernel
// copies in runs of neighbouring planes: input stays open until a plane from another file or
// from memory is written, releaseInputs is called, or the file is finished.
void writePlaneFrom(OmeTiffWriter* writer, int input, uint64_t offset);
// Copies the planes gathered from input files now, so that the caller may close them: a file
// closed before and another opened after may share its descriptor.
void releaseInputs(OmeTiffWriter* writer);
// The next page, its plane in memory, which may be reused once the call returns.
void writePlane(OmeTiffWriter* writer, const void* plane);
// Writes what is left and closes the file; the writer is gone.
void finishOmeTiff(OmeTiffWriter* writer);

}  // namespace ome
