// image-info: one line of numbers about an LSM or TIFF file, for calling scripts.
#include <sys/types.h>
#include <tiffio.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <vector>

#include "lsm_reader.h"
#include "standard_options.h"

namespace {

const char* const usage =
    "usage: image-info FILE\n"
    "  A name containing \".tif\" that libtiff opens prints: width height bits-per-sample.\n"
    "  An LSM file prints: slices frames bits interval voxel-x voxel-y voxel-z (micrometres)\n"
    "  channels, one wavelength per channel, year:month:day:hour:minute:second, width height.";
const char* const notLittleEndian =
    "Incorrect file format. Did not find small endian identifier (II).\nTerminating...";
const char* const notTiff =
    "Incorrect file format. Did not find TIFF identifier (42).\nTerminating...";
const char* const noBitsPerSampleEntry =
    "Incorrect file format. The first directory has fewer than four entries before the LSM "
    "entry, so it holds no bits per sample.\nTerminating...";
const char* const noStartTime =
    "The scan information holds fewer than six date and time numbers: the start time of the "
    "recording cannot be printed.\nTerminating...";
const char* const absurdChannelCount =
    "The channel count is larger than the scan information could describe: every channel needs "
    "at least one of its 12-byte entries.\nTerminating...";
const char* const missingWavelengths =
    "Warning: the scan information holds fewer illumination wavelengths than the file has "
    "channels; 0 is printed for each missing one.";

constexpr double micrometresPerMetre = 1e6;
constexpr int64_t smallestScanInfoEntry = 12;  // tag, data type and size, without data

// Fields are separated by one blank; floating-point values in the default general format of
// output streams: six significant digits, no trailing zeros.
void printNumber(double value) {
    std::printf(" %g", value);
}

void endLine() {
    std::putchar('\n');
    std::fflush(stdout);
}

void warn(const char* message) {
    std::fputs(message, stderr);
    std::fputc('\n', stderr);
    std::fflush(stderr);
}

// Prints width, height and bits per sample and returns true when libtiff opens the file.
bool reportTiff(const char* fileName) {
    TIFF* tiff = TIFFOpen(fileName, "r");
    if (!tiff) return false;
    uint32_t width = 0, height = 0;
    uint16_t bitsPerSample = 1;  // the TIFF default, kept when the entry is absent
    TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height);
    TIFFGetField(tiff, TIFFTAG_BITSPERSAMPLE, &bitsPerSample);
    TIFFClose(tiff);
    std::printf("%u %u %u", width, height, static_cast<unsigned>(bitsPerSample));
    endLine();
    return true;
}

// LSM files keep BitsPerSample at a fixed position of the first directory.
int32_t bitDepthOf(const lsm::DirectoryList& directories) {
    const lsm::TiffDirectory& first = directories.at(0);
    if (first.size() <= lsm::bitsPerSampleEntry) lsm::fail(noBitsPerSampleEntry);
    return first[lsm::bitsPerSampleEntry].firstValue;
}

// Slices, frames, bit depth, time interval, voxel size in micrometres and channel count.
void printImageFields(const lsm::LsmInfo& info, int32_t bitDepth) {
    std::printf("%g %g %d", info[lsm::DimensionZ], info[lsm::DimensionTime], bitDepth);
    printNumber(info[lsm::TimeInterval]);
    for (lsm::LsmInfoField field : {lsm::VoxelSizeX, lsm::VoxelSizeY, lsm::VoxelSizeZ})
        printNumber(info[field] * micrometresPerMetre);
    printNumber(info[lsm::DimensionChannels]);
    // Written out now, so that a fatal message of the scan-information walk follows it.
    std::fflush(stdout);
}

// Walks the scan information and returns how many bytes of it the walk consumed.
int64_t readScanInfoFrom(FILE* stream, const lsm::LsmInfo& info, lsm::ScanInfoNumbers& numbers,
                         lsm::ScanInfoTracks& tracks) {
    const int32_t offset = lsm::toInt32(info[lsm::OffsetScanInformation]);
    lsm::ScanInfoTexts texts;
    lsm::readScanInfo(stream, offset, numbers, texts, &tracks);
    // The walk leaves the stream after its last entry; offsets are unsigned 32-bit values.
    return static_cast<int64_t>(ftello(stream)) -
           static_cast<int64_t>(static_cast<uint32_t>(offset));
}

// Each channel's own illumination wavelength, 0 where the scan information holds none; then
// the start time joined by ":" and the plane size. Returns whether a wavelength was missing.
bool printAcquisitionFields(const lsm::LsmInfo& info, const lsm::ScanInfoNumbers& numbers,
                            const lsm::ScanInfoTracks& tracks, int64_t scanInfoBytes) {
    if (numbers.size() < lsm::FirstWavelength) lsm::fail(noStartTime);
    const int32_t channels = lsm::toInt32(info[lsm::DimensionChannels]);
    if (channels > scanInfoBytes / smallestScanInfoEntry) lsm::fail(absurdChannelCount);
    const std::vector<lsm::ChannelAcquisition> acquired = lsm::acquiredChannels(tracks);
    bool missing = false;
    for (int channel = 1; channel <= channels; ++channel) {
        const std::optional<double> laser =
            lsm::acquisitionOfChannel(acquired, numbers, channels, channel).laser;
        missing = missing || !laser;
        printNumber(laser.value_or(0.0));
    }
    printNumber(numbers[lsm::StartYear]);
    for (size_t field = lsm::StartMonth; field <= lsm::StartSecond; ++field)
        std::printf(":%g", numbers[field]);
    printNumber(info[lsm::DimensionX]);
    printNumber(info[lsm::DimensionY]);
    endLine();
    return missing;
}

void reportLsm(const char* fileName) {
    FILE* stream = lsm::openLsmFile(fileName);
    lsm::readTiffHeader(stream, {notLittleEndian, notTiff});
    lsm::DirectoryList directories;
    const int32_t lsmInfoOffset = lsm::readFirstDirectory(stream, directories, nullptr);
    const int32_t bitDepth = bitDepthOf(directories);
    lsm::LsmInfo info;
    lsm::readLsmInfo(stream, lsmInfoOffset, info);
    printImageFields(info, bitDepth);
    lsm::ScanInfoNumbers numbers;
    lsm::ScanInfoTracks tracks;
    const int64_t scanInfoBytes = readScanInfoFrom(stream, info, numbers, tracks);
    std::fclose(stream);
    if (printAcquisitionFields(info, numbers, tracks, scanInfoBytes)) warn(missingWavelengths);
}

}  // namespace

int main(int argc, char** argv) {
    if (answeredStandardOption(argc, argv, "image-info", usage)) return 0;
    if (argc < 2) lsm::fail(usage);
    const char* fileName = argv[1];
    // libtiff's own diagnostics stay on; a file it cannot open is read as an LSM file.
    if (std::strstr(fileName, ".tif") && reportTiff(fileName)) return 0;
    reportLsm(fileName);
    return 0;
}
