// The ICS header values of a run: from the plan, the first input file and its scan information.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "command_line.h"
#include "lsm_to_ics.h"

namespace {

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

void warn(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    std::vfprintf(stderr, format, arguments);
    va_end(arguments);
    std::fflush(stderr);
}

std::string objectiveOf(const lsm::ScanInfoTexts& texts) {
    return texts.size() > lsm::objectiveTextPosition ? texts[lsm::objectiveTextPosition] : "";
}

// The header values of the run, from the plan, the first file and its scan information. Each
// channel takes its own laser, by its channel number in the file.
IcsHeaderValues headerValuesOf(const ExtractionPlan& plan, const LsmFile& file,
                               const ScanInformation& scan) {
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
    v.numericalAperture = numericalApertureOf(objectiveOf(scan.texts));
    // Without room for the sensor parameters, what is missing of them goes unsaid.
    const bool sensorWritten = sensorParametersFit(plan.channels.size());
    if (!v.numericalAperture && sensorWritten) warn(unknownNumericalAperture);
    const std::vector<lsm::ChannelAcquisition> acquired = lsm::acquiredChannels(scan.tracks);
    const int32_t fileChannels = lsmInt(file, lsm::DimensionChannels);
    std::vector<lsm::ChannelAcquisition> outputChannels;
    for (int number : plan.channels) {
        const lsm::ChannelAcquisition acquisition =
            lsm::acquisitionOfChannel(acquired, scan.numbers, fileChannels, number);
        SensorChannel channel;
        if (acquisition.laser) {
            const double wavelength = *acquisition.laser;
            channel.excitationWavelength = wavelength;
            channel.emissionWavelength =
                plan.acquisitionOptics
                    ? acquiredEmission(acquisition, number, fileChannels, wavelength)
                    : emissionWavelengthFor(wavelength);
            // The Airy radius, passed in single precision.
            if (v.numericalAperture)
                channel.pinholeRadius =
                    static_cast<float>(wavelength * airyFactor / *v.numericalAperture);
        } else if (sensorWritten) {
            warn(missingWavelength, number);
        }
        v.sensorChannels.push_back(channel);
        outputChannels.push_back(acquisition);
    }
    v.timeStart = 1;
    v.timeEnd = static_cast<long>(v.timeCount);
    if (plan.acquisitionOptics)
        describeAcquisitionOptics(objectiveOf(scan.texts), outputChannels, plan.channels,
                                  fileChannels, v);
    return v;
}

}  // namespace

std::optional<double> numericalApertureOf(const std::string& objective) {
    const size_t slash = objective.find('/');
    if (slash == std::string::npos) return std::nullopt;
    const size_t piece = objective.find_first_not_of('/', slash);
    const double aperture =
        piece == std::string::npos ? 0 : std::strtod(objective.c_str() + piece, nullptr);
    // An aperture of 0 would make every pinhole radius infinite.
    if (!(aperture > 0)) return std::nullopt;
    return aperture;
}

void setUpHeader(const ExtractionPlan& plan, const LsmFile& file, ConversionState& run) {
    ScanInformation scan;
    lsm::readScanInfo(file.stream, lsmInt(file, lsm::OffsetScanInformation), scan.numbers,
                      scan.texts, &scan.tracks, &scan.recording);
    const lsm::ScanInfoNumbers& numbers = scan.numbers;
    if (numbers.size() < lsm::FirstWavelength) cli::fail(noStartTime);
    cli::printLine("Timestamp = %g:%g:%g", numbers[lsm::StartYear], numbers[lsm::StartMonth],
                   numbers[lsm::StartDay]);
    if (plan.omeTiff)
        run.omeTiff = startOmeTiffOutput(plan, file, scan);
    else
        run.ics = setupIcsHeader(headerValuesOf(plan, file, scan));
    run.headerSetUp = true;
    run.columns = lsmInt(file, lsm::DimensionX);
    run.rows = lsmInt(file, lsm::DimensionY);
    run.bitDepth = file.bitDepth;
    run.framesPerFile = file.frames;
    run.positionsPerFile = file.positions.positions;
}

