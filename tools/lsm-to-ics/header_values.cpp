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

}  // namespace

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
    run.positionsPerFile = file.positions.positions;
}

