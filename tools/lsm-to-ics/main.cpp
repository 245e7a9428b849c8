// lsm-to-ics: a numbered series of LSM files, each of one or more time frames, into one ICS image
// or one OME-TIFF.
#include <libics.h>
#include <sys/stat.h>

#include <algorithm>
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

int32_t lsmInt(const LsmFile& file, lsm::LsmInfoField field) {
    return lsm::toInt32(file.info[field]);
}

size_t outputTimeCount(const ExtractionPlan& plan, int32_t framesPerFile) {
    return plan.inputFiles.size() * static_cast<size_t>(framesPerFile);
}

const char* const tooFewFirstEntries =
    "%s: the first directory has too few entries for an LSM file.\nTerminating...";

namespace {

const char* const incorrectFileFormat = "Incorrect file format.\nTerminating...";
const char* const compressedInput =
    "%s: the image data is compressed (Compression %d), which cannot be decoded; uncompressed, "
    "LZW, Deflate and PackBits data can.\nTerminating...";
const char* const unequalBitDepths =
    "%s: its channels differ in bit depth (%s bits); only files whose channels share one depth "
    "can be converted.\nTerminating...";
const char* const unsupportedBitDepth =
    "%s: a bit depth of %d is not supported; only 8 and 16 bits per sample can be "
    "converted.\nTerminating...";
const char* const mosaicTiles =
    "%s: it holds %d mosaic tiles, which need stitching rather than conversion.\nTerminating...";
const char* const positionNotChosen =
    "%s: it holds %d positions; -p chooses one.\nTerminating...";
const char* const positionOutOfRange =
    "%s: position %d does not exist; the file has positions 1 to %d.\nTerminating...";
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
const char* const otherPositionCount =
    "%s: it holds %d positions, the first file %d; every file of a series must hold as "
    "many.\nTerminating...";

constexpr int32_t imageLengthTag = 257;
constexpr int32_t compressionTag = 259;
constexpr int32_t predictorTag = 317;

int64_t fileSizeOf(FILE* stream) {
    struct stat status;
    return fstat(fileno(stream), &status) == 0 ? static_cast<int64_t>(status.st_size) : 0;
}

void printReport(const ExtractionPlan& plan, const LsmFile& file, const ConversionState& run) {
    cli::printLine("************************ ORIGINAL LSMINFO ***************************** ");
    cli::printLine("#zslices = %d ; #timeframes = %g", lsmInt(file, lsm::DimensionZ),
              file.info[lsm::DimensionTime]);
    cli::printLine("#rows = %d ; #cols = %d", lsmInt(file, lsm::DimensionY),
              lsmInt(file, lsm::DimensionX));
    cli::printLine("#channels = %g ; bitdepth = %d", file.info[lsm::DimensionChannels],
                   file.bitDepth);
    cli::printLine("\n************************ DESIRED EXTRACTION ***************************");
    cli::printLine("#zslices = %d ; #timeframes = %zu", plan.zEnd - plan.zStart + 1,
                   outputTimeCount(plan, run.headerSetUp ? run.framesPerFile : file.frames));
    cli::printLine("channel size %zu", plan.channels.size());
    for (int channel : plan.channels) cli::printLine("channel# = %d", channel);
}

// Every channel's depth where they differ, as "8, 16"; empty where they are all one.
std::string unequalDepthsOf(const lsm::EntryValueList& depths) {
    if (std::all_of(depths.begin(), depths.end(), [&](int32_t d) { return d == depths[0]; }))
        return "";
    std::string list;
    for (int32_t depth : depths) list += (list.empty() ? "" : ", ") + std::to_string(depth);
    return list;
}

// Refuses the stage positions and tiles that the plan cannot convert.
void checkPositions(const ExtractionPlan& plan, const LsmFile& file, const ConversionState& run) {
    const lsm::PositionsAndTiles& counts = file.positions;
    if (counts.tiles > 1) cli::failWith(mosaicTiles, file.name, counts.tiles);
    if (plan.position == 0 && counts.positions > 1)
        cli::failWith(positionNotChosen, file.name, counts.positions);
    if (plan.position > counts.positions)
        cli::failWith(positionOutOfRange, file.name, plan.position, counts.positions);
    if (run.headerSetUp && counts.positions != run.positionsPerFile)
        cli::failWith(otherPositionCount, file.name, counts.positions, run.positionsPerFile);
}

// Refuses what would copy something other than the pixels that the header describes.
void checkFileAgainstPlan(const ExtractionPlan& plan, int channel, const LsmFile& file,
                          const ConversionState& run) {
    if (file.compression != 1 && !compressionDecodable(file.compression))
        cli::failWith(compressedInput, file.name, file.compression);
    if (file.bitDepth != 8 && file.bitDepth != 16)
        cli::failWith(unsupportedBitDepth, file.name, file.bitDepth);
    const std::string depths = unequalDepthsOf(file.bitsPerSample);
    if (!depths.empty()) cli::failWith(unequalBitDepths, file.name, depths.c_str());
    checkPositions(plan, file, run);
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

// A plane in memory to the data file, or a page of the OME-TIFF; the run's first goes to libics,
// which writes the header with it.
void writePlane(const ExtractionPlan& plan, const LsmFile& file, const unsigned char* plane,
                ConversionState& run) {
    if (run.omeTiff)
        ome::writePlane(run.omeTiff, plane);
    else if (run.output.file < 0)
        run.output =
            startOutputData(run.ics, plan.icsVersion, plan.outputBase, plane, file.planeBytes);
    else
        appendPlane(run.output, plane, static_cast<size_t>(file.planeBytes));
}

void readStoredPlane(const LsmFile& file, int64_t position, unsigned char* plane) {
    const auto items = static_cast<size_t>(file.planeBytes / file.bytesPerPixel);
    if (fseeko(file.stream, static_cast<off_t>(position), SEEK_SET) != 0 ||
        std::fread(plane, static_cast<size_t>(file.bytesPerPixel), items, file.stream) != items)
        cli::fail(planes::couldNotReadPlane);
}

unsigned char* allocatePlane(const LsmFile& file) {
    auto* plane = static_cast<unsigned char*>(std::malloc(file.planeBytes));
    if (!plane) failNoMemory();
    return plane;
}

// Copies the planes zStart to zEnd of every frame of one channel of a file to the data file:
// stored planes by the kernel, but for the run's first, and compressed planes decoded.
void copyPlanes(const ExtractionPlan& plan, int channel, const LsmFile& file,
                ConversionState& run) {
    checkPlanesFit(plan, channel, file);
    const bool compressed = file.compression != 1;
    unsigned char* plane = compressed ? allocatePlane(file) : nullptr;
    PlaneDecoder decoder;
    for (int32_t frame = 0; frame < file.frames; ++frame)
        for (int z = plan.zStart - 1; z <= plan.zEnd - 1; ++z) {
            cli::printLine("t%d,z%d", frame + 1, z);
            if (compressed) {
                decodePlane(decoder, plan, channel, file, frame, z, plane);
                writePlane(plan, file, plane, run);
                continue;
            }
            const int64_t position = planePosition(plan, channel, file, frame, z);
            if (!planeLiesInFile(file, position)) cli::fail(planes::couldNotReadPlane);
            if (run.omeTiff) {
                ome::writePlaneFrom(run.omeTiff, fileno(file.stream),
                                    static_cast<uint64_t>(position));
                continue;
            }
            if (run.output.file >= 0) {
                appendPlaneFrom(run.output, fileno(file.stream), static_cast<uint64_t>(position),
                                static_cast<size_t>(file.planeBytes));
                continue;
            }
            unsigned char* first = allocatePlane(file);
            readStoredPlane(file, position, first);
            writePlane(plan, file, first, run);
            std::free(first);
        }
    closePlaneDecoder(decoder);
    std::free(plane);
    // The file is closed next.
    if (run.omeTiff) ome::releaseInputs(run.omeTiff);
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
    readPlaneGeometry(plan, channel, file);
    if (!run.headerSetUp) setUpHeader(plan, file, run);
    copyPlanes(plan, channel, file, run);
    std::fclose(file.stream);
}

}  // namespace

LsmFile openLsmFileForReport(const std::string& name) {
    LsmFile file;
    file.name = name.c_str();
    file.stream = lsm::openLsmFile(file.name);
    file.size = fileSizeOf(file.stream);
    file.firstDirectoryOffset = static_cast<uint32_t>(
        lsm::readTiffHeader(file.stream, {incorrectFileFormat, incorrectFileFormat}));
    const int32_t lsmInfoOffset = lsm::readFirstDirectory(file.stream, file.directories,
                                                          &file.stripOffsets, &file.bitsPerSample);
    file.nextDirectoryOffset = lsm::toInt32(lsm::read(file.stream, 4, 1, 'l'));
    lsm::readLsmInfo(file.stream, lsmInfoOffset, file.info);
    file.positions =
        lsm::readPositionsAndTiles(file.stream, lsmInfoOffset, lsmInt(file, lsm::StructureSize));
    const lsm::TiffDirectory& first = file.directories[0];
    if (first.size() <= lsm::bitsPerSampleEntry) cli::failWith(tooFewFirstEntries, file.name);
    file.bitDepth = first[lsm::bitsPerSampleEntry].firstValue;
    file.frames = std::max(lsmInt(file, lsm::DimensionTime), int32_t{1});
    file.compression = lsm::entryValue(first, compressionTag, 1);  // the TIFF default: none
    file.predictor = lsm::entryValue(first, predictorTag, 1);
    file.imageLength = lsm::entryValue(first, imageLengthTag, 0);
    return file;
}

int main(int argc, char** argv) {
    if (answeredStandardOption(argc, argv, "lsm-to-ics", usage)) return 0;
    const ExtractionPlan plan = readCommandLine(argc, argv);
    ConversionState run;
    for (int channel : plan.channels)
        for (const std::string& name : plan.inputFiles) convertFile(plan, channel, name, run);
    if (run.omeTiff)
        ome::finishOmeTiff(run.omeTiff);
    else if (run.output.file >= 0)
        finishOutputData(run.output);
    else
        leaveEmptyDataFile(plan.outputBase + ".ids");
    cli::printLine("complete");
    return 0;
}
