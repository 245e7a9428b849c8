// The OME-XML description of -ome: what the first input file records of the recording, its
// objective, lasers and channels, each value only where the file gives it.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "lsm_to_ics.h"
#include "plane_copy.h"

namespace {

constexpr double micrometresPerMetre = 1e6;
const char* const micrometre = "\xC2\xB5m";  // UTF-8

bool positive(double value) {
    return std::isfinite(value) && value > 0;
}

bool blank(const std::string& text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return std::isspace(static_cast<unsigned char>(c)); });
}

// A measured value of the file to 15 significant digits, more than any holds: what lies beyond
// is binary rounding (a laser of 405.00000000000006 nm; 0.2e-6 m x 1e6 gives 0.19999999999999998).
double measured(double value) {
    char digits[32];
    std::snprintf(digits, sizeof digits, "%.15g", value);
    return std::strtod(digits, nullptr);
}

std::optional<ome::Length> micrometres(double metres) {
    if (!positive(metres)) return std::nullopt;
    return ome::Length{measured(metres * micrometresPerMetre), micrometre};
}

std::string lastPart(const std::string& path) {
    return path.substr(path.rfind('/') + 1);
}

// The start time as ISO 8601, where the scan information holds a calendar date (the reader
// gives -1 for a start time it cannot convert).
std::string acquisitionDate(const lsm::ScanInfoNumbers& n) {
    if (n.size() < lsm::FirstWavelength || !(n[lsm::StartYear] >= 1 && n[lsm::StartYear] <= 9999))
        return "";
    char date[32];
    std::snprintf(date, sizeof date, "%04d-%02d-%02dT%02d:%02d:%02d",
                  static_cast<int>(n[lsm::StartYear]), static_cast<int>(n[lsm::StartMonth]),
                  static_cast<int>(n[lsm::StartDay]), static_cast<int>(n[lsm::StartHour]),
                  static_cast<int>(n[lsm::StartMinute]), static_cast<int>(n[lsm::StartSecond]));
    return date;
}

// The magnification of an objective's name: the number right before an "x" that ends a word,
// as in "Plan-Apochromat 63x/1.40 Oil DIC".
std::optional<double> magnificationOf(const std::string& objective) {
    for (size_t x = 1; x < objective.size(); ++x) {
        const bool endsWord = x + 1 == objective.size() ||
                              !std::isalnum(static_cast<unsigned char>(objective[x + 1]));
        if ((objective[x] != 'x' && objective[x] != 'X') || !endsWord ||
            !std::isdigit(static_cast<unsigned char>(objective[x - 1])))
            continue;
        size_t start = x;
        while (start > 0 && (std::isdigit(static_cast<unsigned char>(objective[start - 1])) ||
                             objective[start - 1] == '.'))
            --start;
        const double value = std::strtod(objective.substr(start, x - start).c_str(), nullptr);
        if (positive(value)) return value;
    }
    return std::nullopt;
}

std::optional<ome::Objective> objectiveOf(const std::string& name) {
    ome::Objective objective;
    objective.model = blank(name) ? "" : name;
    objective.lensNA = numericalApertureOf(name);
    objective.nominalMagnification = magnificationOf(name);
    const Immersion immersion = immersionOf(name, objective.lensNA);
    objective.immersion = immersion.omeName;
    // The lens's index is the one of its immersion medium: 1.0 for a dry lens.
    objective.refractiveIndex = immersion.lensRefractiveIndex;
    if (objective.model.empty() && !objective.lensNA && !objective.nominalMagnification &&
        objective.immersion.empty())
        return std::nullopt;
    return objective;
}

// OME's colour, red, green, blue and alpha as one signed integer. Black, which the microscope
// stores for the transmitted-light channel, is written as white: a viewer would draw it unseen.
int32_t omeColor(const lsm::RgbColor& c) {
    if (c.red == 0 && c.green == 0 && c.blue == 0) return -1;
    const uint32_t rgba =
        uint32_t{c.red} << 24 | uint32_t{c.green} << 16 | uint32_t{c.blue} << 8 | 0xFF;
    return static_cast<int32_t>(rgba);
}

// The index of a laser's wavelength in the list, added where new.
size_t laserIndex(std::vector<double>& lasers, double wavelength) {
    const auto found = std::find(lasers.begin(), lasers.end(), wavelength);
    if (found != lasers.end()) return static_cast<size_t>(found - lasers.begin());
    lasers.push_back(wavelength);
    return lasers.size() - 1;
}

// The output channel of the file's channel number: its display name and colour, and what its
// acquisition tells.
ome::Channel channelOf(const lsm::ChannelAcquisition& a, int number, int32_t fileChannels,
                       const lsm::ChannelColors& colors, ome::OmeImage& image) {
    ome::Channel channel;
    const auto at = static_cast<size_t>(number - 1);
    if (at < colors.names.size()) channel.name = colors.names[at];
    if (at < colors.colors.size()) channel.color = omeColor(colors.colors[at]);
    if (a.laser) {
        const double laser = measured(*a.laser);
        channel.excitationWavelength = laser;
        const std::optional<double> emission = detectedEmission(a, number, fileChannels, *a.laser);
        if (emission) channel.emissionWavelength = measured(*emission);
        channel.laser = laserIndex(image.laserWavelengths, laser);
    }
    if (const lsm::DetectionChannel* d = a.detection) {
        if (!blank(d->dyeName)) channel.fluor = d->dyeName;
        if (d->pinholeDiameter && positive(*d->pinholeDiameter))
            channel.pinholeSize = measured(*d->pinholeDiameter);
    }
    return channel;
}

// Each frame's time from the first, where the run converts one file whose time stamps cover
// its frames: the clocks of several files are not known to agree.
std::vector<double> frameTimes(const ExtractionPlan& plan, const LsmFile& file) {
    if (plan.inputFiles.size() != 1) return {};
    const std::vector<double> stamps =
        lsm::readTimeStamps(file.stream, lsmInt(file, lsm::OffsetTimeStamps));
    if (stamps.size() < static_cast<size_t>(file.frames)) return {};
    std::vector<double> times;
    for (int32_t frame = 0; frame < file.frames; ++frame) {
        const double time = stamps[static_cast<size_t>(frame)] - stamps[0];
        if (!std::isfinite(time)) return {};
        times.push_back(time);
    }
    return times;
}

ome::OmeImage omeImageOf(const ExtractionPlan& plan, const LsmFile& file,
                         const ScanInformation& scan) {
    ome::OmeImage image;
    image.creator = "lsm-to-ics " LSM_ICS_VERSION;
    const lsm::RecordingTexts& recording = scan.recording;
    image.name = blank(recording.name) ? lastPart(plan.outputBase) : recording.name;
    if (!blank(recording.description)) image.description = recording.description;
    image.acquisitionDate = acquisitionDate(scan.numbers);
    image.pixelType = file.bitDepth == 8 ? ome::PixelType::uint8 : ome::PixelType::uint16;
    image.significantBits = static_cast<size_t>(file.bitDepth);
    image.sizeX = static_cast<uint32_t>(lsmInt(file, lsm::DimensionX));
    image.sizeY = static_cast<uint32_t>(lsmInt(file, lsm::DimensionY));
    image.sizeZ = static_cast<uint32_t>(plan.zEnd - plan.zStart + 1);
    image.sizeT = static_cast<uint32_t>(outputTimeCount(plan, file.frames));
    image.sizeC = static_cast<uint32_t>(plan.channels.size());
    image.physicalSizeX = micrometres(file.info[lsm::VoxelSizeX]);
    image.physicalSizeY = micrometres(file.info[lsm::VoxelSizeY]);
    if (image.sizeZ > 1) image.physicalSizeZ = micrometres(file.info[lsm::VoxelSizeZ]);
    if (image.sizeT > 1 && positive(plan.timeInterval)) image.timeIncrement = plan.timeInterval;
    image.objective = objectiveOf(recording.objective);
    const int32_t fileChannels = lsmInt(file, lsm::DimensionChannels);
    const lsm::ChannelColors colors =
        lsm::readChannelColors(file.stream, lsmInt(file, lsm::OffsetChannelColors), fileChannels);
    const std::vector<lsm::ChannelAcquisition> acquired = lsm::acquiredChannels(scan.tracks);
    for (int number : plan.channels) {
        const lsm::ChannelAcquisition acquisition =
            lsm::acquisitionOfChannel(acquired, scan.numbers, fileChannels, number);
        image.channels.push_back(channelOf(acquisition, number, fileChannels, colors, image));
    }
    image.planeElements = true;
    image.deltaT = frameTimes(plan, file);
    return image;
}

}  // namespace

ome::OmeTiffWriter* startOmeTiffOutput(const ExtractionPlan& plan, const LsmFile& file,
                                       const ScanInformation& scan) {
    // The OME-XML describes every page before the first is copied: a frame count read from the
    // file must not make it describe more planes than the file holds.
    checkPlanesFit(plan, plan.channels.front(), file);
    // Where the first plane lies in the file, so that the copied planes keep their alignment;
    // decoded planes have none to keep.
    const int64_t firstPlane =
        file.compression == 1 ? planePosition(plan, plan.channels.front(), file, 0, plan.zStart - 1)
                              : 0;
    return ome::startOmeTiff(
        plan.outputBase + ".ome.tif", omeImageOf(plan, file, scan), file.planeBytes,
        static_cast<uint64_t>(std::max<int64_t>(firstPlane, 0)), planes::couldNotReadPlane);
}
