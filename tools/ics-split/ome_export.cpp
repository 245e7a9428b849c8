// The OME-TIFF export: every chosen plane a page of one OME-TIFF file, whose OME-XML gives the
// input's scales and optics where its header gives them.
#include <cmath>

#include "command_line.h"
#include "ics_split.h"
#include "ome_tiff.h"
#include "plane_copy.h"

namespace {

const char* const noOmeType =
    "The input's samples are %s, for which OME-TIFF has no pixel type; split them into TIFF "
    "planes (-tif) or an ICS image (-s1, -s2) instead.\nTerminating...";

// ICS units of length as OME names them: libics writes the words, other software the symbols.
// OME's micrometre is written as UTF-8 bytes, for it is not ASCII.
const std::pair<const char*, const char*> lengthUnits[] = {
    {"meters", "m"},
    {"m", "m"},
    {"millimeters", "mm"},
    {"mm", "mm"},
    {"micrometers", "\xC2\xB5m"},
    {"microns", "\xC2\xB5m"},
    {"um", "\xC2\xB5m"},
    {"\xC2\xB5m", "\xC2\xB5m"},
    {"nanometers", "nm"},
    {"nm", "nm"},
};

// ICS units of time in seconds, which OME's TimeIncrement is written in.
const std::pair<const char*, double> timeUnits[] = {
    {"seconds", 1},         {"s", 1},     {"milliseconds", 1e-3}, {"ms", 1e-3},
    {"microseconds", 1e-6}, {"us", 1e-6}, {"minutes", 60},        {"min", 60},
    {"hours", 3600},        {"h", 3600},
};

bool positive(double value) {
    return std::isfinite(value) && value > 0;
}

// A value of the header where it is positive; libics gives 0 where the header has none.
std::optional<double> given(double value) {
    return positive(value) ? std::optional<double>(value) : std::nullopt;
}

const IcsDimensionInfo* dimensionNamed(const IcsInputInfo& info, const char* name) {
    for (const IcsDimensionInfo& d : info.dimensions)
        if (d.name == name) return &d;
    return nullptr;
}

// The physical size of a pixel along x, y or z, where the input scales it in a length OME knows.
std::optional<ome::Length> physicalSize(const IcsInputInfo& info, const char* name) {
    const IcsDimensionInfo* d = dimensionNamed(info, name);
    if (!d || !positive(d->scale)) return std::nullopt;
    for (const auto& [icsUnit, omeUnit] : lengthUnits)
        if (d->units == icsUnit) return ome::Length{d->scale, omeUnit};
    return std::nullopt;
}

std::optional<double> timeIncrement(const IcsInputInfo& info) {
    const IcsDimensionInfo* d = dimensionNamed(info, "t");
    if (!d || !positive(d->scale)) return std::nullopt;
    for (const auto& [icsUnit, seconds] : timeUnits)
        if (d->units == icsUnit) return d->scale * seconds;
    return std::nullopt;
}

// The OME name of the samples' type; none for 64-bit integers and complex samples.
std::optional<ome::PixelType> omePixelType(Ics_DataType dataType) {
    switch (dataType) {
        case Ics_uint8: return ome::PixelType::uint8;
        case Ics_sint8: return ome::PixelType::int8;
        case Ics_uint16: return ome::PixelType::uint16;
        case Ics_sint16: return ome::PixelType::int16;
        case Ics_uint32: return ome::PixelType::uint32;
        case Ics_sint32: return ome::PixelType::int32;
        case Ics_real32: return ome::PixelType::float32;
        case Ics_real64: return ome::PixelType::float64;
        default: return std::nullopt;
    }
}

// The name of a path's last part.
std::string lastPart(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

uint32_t countOf(const Range& range) {
    return static_cast<uint32_t>(range.end - range.start + 1);
}

// One Image of the chosen planes.
ome::OmeImage omeImageOf(const SplitOptions& options, const IcsInputInfo& info,
                         ome::PixelType pixelType) {
    ome::OmeImage image;
    image.creator = "ics-split " LSM_ICS_VERSION;
    image.name = lastPart(options.outputBase);
    image.pixelType = pixelType;
    image.significantBits = info.significantBits;
    image.bigEndian = info.bigEndianSamples;
    image.sizeX = info.X;
    image.sizeY = info.Y;
    image.sizeZ = countOf(options.z);
    image.sizeC = static_cast<uint32_t>(options.channels.size());
    image.sizeT = countOf(options.t);
    image.physicalSizeX = physicalSize(info, "x");
    image.physicalSizeY = physicalSize(info, "y");
    image.physicalSizeZ = physicalSize(info, "z");
    image.timeIncrement = timeIncrement(info);
    if (positive(info.numericalAperture) || positive(info.mediumRefractiveIndex)) {
        image.objective.emplace();
        image.objective->lensNA = given(info.numericalAperture);
        image.objective->refractiveIndex = given(info.mediumRefractiveIndex);
    }
    for (size_t k = 0; k < options.channels.size(); ++k) {
        ome::Channel channel;
        channel.excitationWavelength = given(info.excitation[k]);
        channel.emissionWavelength = given(info.emission[k]);
        image.channels.push_back(channel);
    }
    return image;
}

}  // namespace

void exportOmeTiff(const SplitOptions& options, const IcsInputInfo& info, PlaneReader& reader) {
    const std::optional<ome::PixelType> pixelType = omePixelType(info.dataType);
    if (!pixelType)
        cli::failWith(noOmeType, info.dataType == Ics_uint64 || info.dataType == Ics_sint64
                                     ? "64-bit integers"
                                     : "complex numbers");
    refuseEmptyRanges(options, "OME-TIFF");
    const std::string name = options.outputBase + ".ome.tif";
    refuseOutputOverInput({name}, info);
    const uint64_t firstPlane =
        planeOffset(info, options.channels[0], options.t.start, options.z.start);
    ome::OmeTiffWriter* writer =
        ome::startOmeTiff(name, omeImageOf(options, info, *pixelType), info.planeBytes, firstPlane,
                          planes::couldNotReadPlane);
    const int input = fileno(reader.stream);
    for (int k : options.channels)
        for (int t = options.t.start; t <= options.t.end; ++t)
            for (int z = options.z.start; z <= options.z.end; ++z) {
                // Both progress lines in one write: a call for each costs more than a small page.
                cli::printLine("channel = %d, t = %d, i = %d\nt%d,z%d", k, t, z, t, z);
                // Decoded planes go from memory, the others are copied by the kernel.
                if (info.gzipData)
                    ome::writePlane(writer, readPlane(reader, info, k, t, z));
                else
                    ome::writePlaneFrom(writer, input, planeInFile(reader, info, k, t, z));
            }
    ome::finishOmeTiff(writer);
}
