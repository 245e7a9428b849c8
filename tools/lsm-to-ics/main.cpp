// lsm-to-ics: a numbered series of LSM files, each of one or more time frames, into one ICS image.
#include <libics.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "command_line.h"
#include "ics_header.h"
#include "lsm_reader.h"
#include "lsm_to_ics.h"
#include "standard_options.h"

namespace {

const char* const incorrectFileFormat = "Incorrect file format.\nTerminating...";
const char* const tooFewFirstEntries =
    "%s: the first directory has too few entries for an LSM file.\nTerminating...";
const char* const tooFewImageEntries =
    "%s: the second image's directory has fewer than seven entries.\nTerminating...";
const char* const compressedInput =
    "%s: the image data is compressed (Compression %d); only uncompressed LSM files can be "
    "copied.\nTerminating...";
const char* const unsupportedBitDepth =
    "%s: a bit depth of %d is not supported; only 8 and 16 bits per sample can be "
    "converted.\nTerminating...";
const char* const emptyPlane = "%s: the image size %d x %d holds no pixels.\nTerminating...";
const char* const channelOutOfRange =
    "%s: channel %d does not exist; the file has channels 1 to %zu.\nTerminating...";
const char* const sliceOutOfRange =
    "%s: slice %d does not exist; the file has slices 1 to %d.\nTerminating...";
const char* const differentFromFirstFile =
    "%s: its size or bit depth (%d x %d, %d bits) differs from the first file's (%d x %d, %d "
    "bits).\nTerminating...";
const char* const otherFrameCount =
    "%s: it holds %d time frames, the first file %d; every file of a series must hold as "
    "many.\nTerminating...";
const char* const overlappingImages =
    "%s: its images lie %lld bytes apart, closer than a plane of %llu bytes.\nTerminating...";
const char* const framesBeyondFile =
    "%s: its %d time frames of %d slices do not fit in the file.\nTerminating...";
const char* const noStartTime =
    "The scan information holds no start time of the recording.\nTerminating...";
const char* const missingWavelength =
    "Warning: the scan information holds no illumination wavelength for channel %d; its sensor "
    "parameters are not written.\n";
const char* const unknownNumericalAperture =
    "Warning: the objective's numerical aperture is unknown; the numerical aperture and the "
    "pinhole radii are not written.\n";

constexpr double micrometresPerMetre = 1e6;
constexpr double airyFactor = 0.61;

// What the whole run keeps between files: the header, the first file's geometry, one buffer.
struct ConversionState {
    ICS* ics = nullptr;
    bool headerSetUp = false;
    OutputData output;  // open from the first plane on
    int32_t columns = 0;
    int32_t rows = 0;
    int32_t bitDepth = 0;
    int32_t framesPerFile = 0;
};

// One input file while it is open.
struct LsmFile {
    const char* name = nullptr;
    FILE* stream = nullptr;
    lsm::DirectoryList directories;
    lsm::StripOffsetList stripOffsets;
    lsm::LsmInfo info;
    int32_t nextDirectoryOffset = 0;
    int32_t bitDepth = 0;
    int32_t frames = 1;  // time frames, each of DimensionZ slices
    int64_t planeStride = 0;
    uint64_t planeBytes = 0;
    int bytesPerPixel = 0;
};

void warn(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    std::vfprintf(stderr, format, arguments);
    va_end(arguments);
    std::fflush(stderr);
}

int32_t lsmInt(const LsmFile& file, lsm::LsmInfoField field) {
    return lsm::toInt32(file.info[field]);
}

// Opens a file and reads what the report needs: header, first directory, information block.
LsmFile openLsmFileForReport(const std::string& name) {
    LsmFile file;
    file.name = name.c_str();
    file.stream = lsm::openLsmFile(file.name);
    lsm::readTiffHeader(file.stream, {incorrectFileFormat, incorrectFileFormat});
    const int32_t lsmInfoOffset =
        lsm::readFirstDirectory(file.stream, file.directories, &file.stripOffsets);
    file.nextDirectoryOffset = lsm::toInt32(lsm::read(file.stream, 4, 1, 'l'));
    lsm::readLsmInfo(file.stream, lsmInfoOffset, file.info);
    if (file.directories[0].size() <= lsm::bitsPerSampleEntry)
        cli::failWith(tooFewFirstEntries, file.name);
    file.bitDepth = file.directories[0][lsm::bitsPerSampleEntry].firstValue;
    file.frames = std::max(lsmInt(file, lsm::DimensionTime), int32_t{1});
    return file;
}

// The output's time points: every frame of every file, counted by the first file's frames.
size_t outputTimeCount(const ExtractionPlan& plan, int32_t framesPerFile) {
    return plan.inputFiles.size() * static_cast<size_t>(framesPerFile);
}

void printReport(const ExtractionPlan& plan, const LsmFile& file, const ConversionState& run) {
    cli::printLine("************************ ORIGINAL LSMINFO ***************************** ");
    cli::printLine("#zslices = %d ; #timeframes = %g", lsmInt(file, lsm::DimensionZ),
              file.info[lsm::DimensionTime]);
    cli::printLine("#rows = %d ; #cols = %d", lsmInt(file, lsm::DimensionY),
              lsmInt(file, lsm::DimensionX));
    cli::printLine("#channels = %g ; bitdepth = %d", file.info[lsm::DimensionChannels], file.bitDepth);
    cli::printLine("\n************************ DESIRED EXTRACTION ***************************");
    cli::printLine("#zslices = %d ; #timeframes = %zu", plan.zEnd - plan.zStart + 1,
              outputTimeCount(plan, run.headerSetUp ? run.framesPerFile : file.frames));
    cli::printLine("channel size %zu", plan.channels.size());
    for (int channel : plan.channels) cli::printLine("channel# = %d", channel);
}

int32_t compressionOf(const lsm::TiffDirectory& directory) {
    constexpr int32_t compressionTag = 259;
    for (const lsm::TiffEntryRecord& entry : directory)
        if (entry.tag == compressionTag) return entry.firstValue;
    return 1;  // the TIFF default: uncompressed
}

// Refuses what would copy something other than the pixels that the header describes.
void checkFileAgainstPlan(const ExtractionPlan& plan, int channel, const LsmFile& file,
                          const ConversionState& run) {
    const int32_t compression = compressionOf(file.directories[0]);
    if (compression != 1) cli::failWith(compressedInput, file.name, compression);
    if (file.bitDepth != 8 && file.bitDepth != 16)
        cli::failWith(unsupportedBitDepth, file.name, file.bitDepth);
    const int32_t columns = lsmInt(file, lsm::DimensionX), rows = lsmInt(file, lsm::DimensionY);
    if (columns < 1 || rows < 1) cli::failWith(emptyPlane, file.name, columns, rows);
    if (static_cast<size_t>(channel) > file.stripOffsets.size())
        cli::failWith(channelOutOfRange, file.name, channel, file.stripOffsets.size());
    const int32_t slices = lsmInt(file, lsm::DimensionZ);
    if (plan.zEnd > slices) cli::failWith(sliceOutOfRange, file.name, plan.zEnd, slices);
    if (run.headerSetUp &&
        (columns != run.columns || rows != run.rows || file.bitDepth != run.bitDepth))
        cli::failWith(differentFromFirstFile, file.name, columns, rows, file.bitDepth, run.columns,
                 run.rows, run.bitDepth);
    if (run.headerSetUp && file.frames != run.framesPerFile)
        cli::failWith(otherFrameCount, file.name, file.frames, run.framesPerFile);
}

// Reads the directories that follow the first and derives where the planes lie.
void readPlaneGeometry(LsmFile& file) {
    // The second image's directory, the third of the file, exists when there is a second image.
    const bool severalImages = int64_t{lsmInt(file, lsm::DimensionZ)} * file.frames > 1;
    lsm::readFollowingDirectories(file.stream, file.nextDirectoryOffset, file.directories,
                                  severalImages ? 2 : 1);
    if (severalImages) {
        // The distance from the first image's channel 1 strip to the second image's.
        const lsm::TiffDirectory& first = file.directories[0];
        const lsm::TiffDirectory& second = file.directories[2];
        if (first.size() <= lsm::stripOffsetsEntry) cli::failWith(tooFewFirstEntries, file.name);
        if (second.size() <= lsm::stripOffsetsEntry) cli::failWith(tooFewImageEntries, file.name);
        const auto difference =
            static_cast<uint32_t>(second[lsm::stripOffsetsEntry].firstValue) -
            static_cast<uint32_t>(first[lsm::stripOffsetsEntry].firstValue);
        file.planeStride = static_cast<int32_t>(difference);
    }
    file.directories.clear();
    file.bytesPerPixel = file.bitDepth / 8;
    file.planeBytes = static_cast<uint64_t>(lsmInt(file, lsm::DimensionX)) *
                      static_cast<uint64_t>(lsmInt(file, lsm::DimensionY)) *
                      static_cast<uint64_t>(file.bytesPerPixel);
}

// The numerical aperture from an objective's name such as "Plan-Apochromat 63x/1.40 Oil".
std::optional<double> numericalApertureOf(const lsm::ScanInfoTexts& texts) {
    if (texts.size() <= lsm::objectiveTextPosition) return std::nullopt;
    const std::string& objective = texts[lsm::objectiveTextPosition];
    const size_t slash = objective.find('/');
    if (slash == std::string::npos) return std::nullopt;
    const size_t piece = objective.find_first_not_of('/', slash);
    const double aperture =
        piece == std::string::npos ? 0 : std::strtod(objective.c_str() + piece, nullptr);
    // An aperture of 0 would make every pinhole radius infinite.
    if (!(aperture > 0)) return std::nullopt;
    return aperture;
}

// The header values of the run, from the plan, the first file and its scan information.
IcsHeaderValues headerValuesOf(const ExtractionPlan& plan, const LsmFile& file,
                               const lsm::ScanInfoNumbers& numbers,
                               const lsm::ScanInfoTexts& texts) {
    IcsHeaderValues v;
    v.icsFileName = plan.outputBase + ".ids";
    v.icsVersion = plan.icsVersion;
    v.dataType = file.bitDepth == 8 ? Ics_uint8 : Ics_uint16;
    v.columns = static_cast<size_t>(lsmInt(file, lsm::DimensionX));
    v.rows = static_cast<size_t>(lsmInt(file, lsm::DimensionY));
    v.zCount = static_cast<size_t>(plan.zEnd - plan.zStart + 1);
    v.timeCount = outputTimeCount(plan, file.frames);
    v.channelCount = plan.channels.size();
    v.scaleX = file.info[lsm::VoxelSizeX] * micrometresPerMetre;
    v.scaleY = file.info[lsm::VoxelSizeY] * micrometresPerMetre;
    v.scaleZ = file.info[lsm::VoxelSizeZ] * micrometresPerMetre;
    v.scaleT = plan.timeInterval;
    v.numericalAperture = numericalApertureOf(texts);
    // Without room for the sensor parameters, what is missing of them goes unsaid.
    const bool sensorWritten = sensorParametersFit(plan.channels.size());
    if (!v.numericalAperture && sensorWritten) warn(unknownNumericalAperture);
    for (size_t i = 0; i < plan.channels.size(); ++i) {
        SensorChannel channel;
        const size_t position = lsm::FirstWavelength + i;
        if (position < numbers.size()) {
            const double wavelength = numbers[position];
            channel.excitationWavelength = wavelength;
            channel.emissionWavelength = emissionWavelengthFor(wavelength);
            // The Airy radius, passed in single precision.
            if (v.numericalAperture)
                channel.pinholeRadius =
                    static_cast<float>(wavelength * airyFactor / *v.numericalAperture);
        } else if (sensorWritten) {
            warn(missingWavelength, plan.channels[i]);
        }
        v.sensorChannels.push_back(channel);
    }
    v.writeLensRefractiveIndex = true;
    v.timeStart = 1;
    v.timeEnd = static_cast<long>(v.timeCount);
    return v;
}

// Reads the scan information of the first file, prints the acquisition date and describes
// the output image to libics.
void setUpHeader(const ExtractionPlan& plan, const LsmFile& file, ConversionState& run) {
    lsm::ScanInfoNumbers numbers;
    lsm::ScanInfoTexts texts;
    lsm::readScanInfo(file.stream, lsmInt(file, lsm::OffsetScanInformation), numbers, texts);
    if (numbers.size() < lsm::FirstWavelength) cli::fail(noStartTime);
    cli::printLine("Timestamp = %g:%g:%g", numbers[lsm::StartYear], numbers[lsm::StartMonth],
              numbers[lsm::StartDay]);
    run.ics = setupIcsHeader(headerValuesOf(plan, file, numbers, texts));
    run.headerSetUp = true;
    run.columns = lsmInt(file, lsm::DimensionX);
    run.rows = lsmInt(file, lsm::DimensionY);
    run.bitDepth = file.bitDepth;
    run.framesPerFile = file.frames;
}

int64_t fileSizeOf(FILE* stream) {
    struct stat status;
    return fstat(fileno(stream), &status) == 0 ? static_cast<int64_t>(status.st_size) : 0;
}

// The file offset of the plane of a channel at a frame and slice (from 0), or -1 where the
// offset does not fit in 64 bits: images follow each other frame by frame, slice by slice.
int64_t planePosition(const LsmFile& file, int channel, int64_t frame, int64_t z) {
    // Strip offsets are 32-bit file values: 2 GiB and more read as negative.
    const auto channelStart =
        static_cast<int64_t>(static_cast<uint32_t>(file.stripOffsets[channel - 1]));
    int64_t image = 0, distance = 0, position = 0;
    if (__builtin_mul_overflow(frame, int64_t{lsmInt(file, lsm::DimensionZ)}, &image) ||
        __builtin_add_overflow(image, z, &image) ||
        __builtin_mul_overflow(image, file.planeStride, &distance) ||
        __builtin_add_overflow(channelStart, distance, &position))
        return -1;
    return position;
}

bool planeLiesInFile(const LsmFile& file, int64_t position, int64_t fileSize) {
    return position >= 0 && position <= fileSize &&
           file.planeBytes <= static_cast<uint64_t>(fileSize - position);
}

// A frame count read from the file must not make the run copy more than the file holds: the
// frames' images may not overlap, and the last plane must lie in the file.
void checkFramesFit(const ExtractionPlan& plan, int channel, const LsmFile& file,
                    int64_t fileSize) {
    if (file.frames == 1) return;
    if (file.planeStride < 0 || static_cast<uint64_t>(file.planeStride) < file.planeBytes)
        cli::failWith(overlappingImages, file.name, static_cast<long long>(file.planeStride),
                      static_cast<unsigned long long>(file.planeBytes));
    if (!planeLiesInFile(file, planePosition(file, channel, file.frames - 1, plan.zEnd - 1),
                         fileSize))
        cli::failWith(framesBeyondFile, file.name, file.frames, lsmInt(file, lsm::DimensionZ));
}

// The first plane of the run goes to libics from memory, and libics writes the header with it.
void startOutputWithPlane(const ExtractionPlan& plan, const LsmFile& file, int64_t position,
                          ConversionState& run) {
    auto* plane = static_cast<unsigned char*>(std::malloc(file.planeBytes));
    if (!plane) failNoMemory();
    const auto items = static_cast<size_t>(file.planeBytes / file.bytesPerPixel);
    if (fseeko(file.stream, static_cast<off_t>(position), SEEK_SET) != 0 ||
        std::fread(plane, static_cast<size_t>(file.bytesPerPixel), items, file.stream) != items)
        cli::fail(icsout::couldNotReadPlane);
    run.output =
        startOutputData(run.ics, plan.icsVersion, plan.outputBase, plane, file.planeBytes);
    std::free(plane);
}

// Copies the planes zStart to zEnd of every frame of one channel of a file to the data file.
void copyPlanes(const ExtractionPlan& plan, int channel, const LsmFile& file,
                ConversionState& run) {
    const int64_t fileSize = fileSizeOf(file.stream);
    checkFramesFit(plan, channel, file, fileSize);
    for (int32_t frame = 0; frame < file.frames; ++frame)
        for (int z = plan.zStart - 1; z <= plan.zEnd - 1; ++z) {
            cli::printLine("t%d,z%d", frame + 1, z);
            const int64_t position = planePosition(file, channel, frame, z);
            if (!planeLiesInFile(file, position, fileSize)) cli::fail(icsout::couldNotReadPlane);
            if (run.output.file < 0)
                startOutputWithPlane(plan, file, position, run);
            else
                appendPlaneFrom(run.output, fileno(file.stream), static_cast<uint64_t>(position),
                                static_cast<size_t>(file.planeBytes));
        }
}

// A run that copies no plane has no image to write, yet leaves its empty data file for the
// scripts that look for one; that it cannot be created is no failure of such a run.
void leaveEmptyDataFile(const std::string& name) {
    if (FILE* data = std::fopen(name.c_str(), "wb")) std::fclose(data);
}

void convertFile(const ExtractionPlan& plan, int channel, const std::string& name,
                 ConversionState& run) {
    LsmFile file = openLsmFileForReport(name);
    printReport(plan, file, run);
    checkFileAgainstPlan(plan, channel, file, run);
    readPlaneGeometry(file);
    if (!run.headerSetUp) setUpHeader(plan, file, run);
    copyPlanes(plan, channel, file, run);
    std::fclose(file.stream);
}

// The first input file as the run reads it, for the options the command line leaves out.
FirstFileInfo readFirstFileInfo(const std::string& name) {
    const LsmFile file = openLsmFileForReport(name);
    std::fclose(file.stream);
    return {file.info, file.stripOffsets.size()};
}

}  // namespace

int main(int argc, char** argv) {
    if (answeredStandardOption(argc, argv, "lsm-to-ics", usage)) return 0;
    const ExtractionPlan plan = readCommandLine(argc, argv, readFirstFileInfo);
    ConversionState run;
    for (int channel : plan.channels)
        for (const std::string& name : plan.inputFiles) convertFile(plan, channel, name, run);
    if (run.output.file >= 0)
        finishOutputData(run.output);
    else
        leaveEmptyDataFile(plan.outputBase + ".ids");
    cli::printLine("complete");
    return 0;
}
