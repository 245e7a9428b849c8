// The OME-XML that the first page of an OME-TIFF carries: one Image of the chosen planes, with
// the input's scales and optics where it gives them.
#include <charconv>
#include <cmath>
#include <cstring>

#include "ics_split.h"

namespace {

// U+FFFD, written for every byte that is not part of well-formed UTF-8 or not allowed in XML.
const char* const replacementCharacter = "\xEF\xBF\xBD";

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

// The length of the well-formed UTF-8 sequence at text, of a character XML allows; 0 if none.
size_t xmlCharacterLength(const unsigned char* text, size_t left) {
    const unsigned char lead = text[0];
    if (lead < 0x80) return lead >= 0x20 || lead == '\t' || lead == '\n' || lead == '\r' ? 1 : 0;
    const size_t length = lead >= 0xC2 && lead <= 0xDF   ? 2
                          : lead >= 0xE0 && lead <= 0xEF ? 3
                          : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                         : 0;
    if (length == 0 || length > left) return 0;
    uint32_t code = lead & (0x7F >> length);
    for (size_t i = 1; i < length; ++i) {
        if ((text[i] & 0xC0) != 0x80) return 0;
        code = code << 6 | (text[i] & 0x3F);
    }
    const uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    const bool allowed = code >= least[length] && code <= 0x10FFFF &&
                         !(code >= 0xD800 && code <= 0xDFFF) && code != 0xFFFE && code != 0xFFFF;
    return allowed ? length : 0;
}

// text as an attribute value: markup characters escaped, bytes that are no XML text replaced.
std::string escaped(const std::string& text) {
    std::string out;
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    for (size_t at = 0; at < text.size();) {
        const size_t length = xmlCharacterLength(bytes + at, text.size() - at);
        const char c = text[at];
        if (length == 0) {
            out += replacementCharacter;
            ++at;
            continue;
        }
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            // Kept as they are: an attribute's value would have them read as spaces.
            case '\t':
            case '\n':
            case '\r': out += "&#" + std::to_string(int(c)) + ";"; break;
            default: out.append(text, at, length);
        }
        at += length;
    }
    return out;
}

// The shortest decimal that reads back as value, in the C locale whatever the user's.
std::string decimal(double value) {
    char digits[32];
    const auto result = std::to_chars(digits, digits + sizeof digits, value);
    return std::string(digits, result.ptr);
}

void attribute(std::string& xml, const char* name, const std::string& value) {
    xml += std::string(" ") + name + "=\"" + escaped(value) + "\"";
}

bool positive(double value) {
    return std::isfinite(value) && value > 0;
}

const IcsDimensionInfo* dimensionNamed(const IcsInputInfo& info, const char* name) {
    for (const IcsDimensionInfo& d : info.dimensions)
        if (d.name == name) return &d;
    return nullptr;
}

// The physical size of a pixel along x, y or z, where the input scales it in a length OME knows.
void physicalSize(std::string& xml, const IcsInputInfo& info, const char* name,
                  const char* attributeName) {
    const IcsDimensionInfo* d = dimensionNamed(info, name);
    if (!d || !positive(d->scale)) return;
    for (const auto& [icsUnit, omeUnit] : lengthUnits)
        if (d->units == icsUnit) {
            attribute(xml, attributeName, decimal(d->scale));
            attribute(xml, (std::string(attributeName) + "Unit").c_str(), omeUnit);
            return;
        }
}

void timeIncrement(std::string& xml, const IcsInputInfo& info) {
    const IcsDimensionInfo* d = dimensionNamed(info, "t");
    if (!d || !positive(d->scale)) return;
    for (const auto& [icsUnit, seconds] : timeUnits)
        if (d->units == icsUnit) {
            attribute(xml, "TimeIncrement", decimal(d->scale * seconds));
            attribute(xml, "TimeIncrementUnit", "s");
            return;
        }
}

// A wavelength of the sensor block; 0 is what libics gives where the block has none.
void wavelength(std::string& xml, const char* name, double nanometres) {
    if (!positive(nanometres)) return;
    attribute(xml, name, decimal(nanometres));
    attribute(xml, (std::string(name) + "Unit").c_str(), "nm");
}

// The name of a path's last part.
std::string lastPart(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

const char* omePixelType(Ics_DataType dataType) {
    switch (dataType) {
        case Ics_uint8: return "uint8";
        case Ics_sint8: return "int8";
        case Ics_uint16: return "uint16";
        case Ics_sint16: return "int16";
        case Ics_uint32: return "uint32";
        case Ics_sint32: return "int32";
        case Ics_real32: return "float";
        case Ics_real64: return "double";
        default: return nullptr;
    }
}

std::string omeXml(const SplitOptions& options, const IcsInputInfo& info, uint64_t pages) {
    const bool objective = positive(info.numericalAperture) || positive(info.mediumRefractiveIndex);
    std::string xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<OME xmlns=\"http://www.openmicroscopy.org/Schemas/OME/2016-06\" "
        "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
        "xsi:schemaLocation=\"http://www.openmicroscopy.org/Schemas/OME/2016-06 "
        "http://www.openmicroscopy.org/Schemas/OME/2016-06/ome.xsd\" "
        "Creator=\"ics-split " LSM_ICS_VERSION "\">\n";
    if (objective) {
        xml += "  <Instrument ID=\"Instrument:0\">\n    <Objective ID=\"Objective:0\"";
        if (positive(info.numericalAperture))
            attribute(xml, "LensNA", decimal(info.numericalAperture));
        xml += "/>\n  </Instrument>\n";
    }
    xml += "  <Image ID=\"Image:0\"";
    attribute(xml, "Name", lastPart(options.outputBase));
    xml += ">\n";
    if (objective) {
        xml +=
            "    <InstrumentRef ID=\"Instrument:0\"/>\n    <ObjectiveSettings ID=\"Objective:0\"";
        if (positive(info.mediumRefractiveIndex))
            attribute(xml, "RefractiveIndex", decimal(info.mediumRefractiveIndex));
        xml += "/>\n";
    }
    xml += "    <Pixels ID=\"Pixels:0\" DimensionOrder=\"XYZTC\"";
    attribute(xml, "Type", omePixelType(info.dataType));
    attribute(xml, "SignificantBits", std::to_string(info.significantBits));
    attribute(xml, "BigEndian", info.bigEndianSamples ? "true" : "false");
    attribute(xml, "SizeX", std::to_string(info.X));
    attribute(xml, "SizeY", std::to_string(info.Y));
    attribute(xml, "SizeZ", std::to_string(options.z.end - options.z.start + 1));
    attribute(xml, "SizeC", std::to_string(options.channels.size()));
    attribute(xml, "SizeT", std::to_string(options.t.end - options.t.start + 1));
    physicalSize(xml, info, "x", "PhysicalSizeX");
    physicalSize(xml, info, "y", "PhysicalSizeY");
    physicalSize(xml, info, "z", "PhysicalSizeZ");
    timeIncrement(xml, info);
    xml += ">\n";
    for (size_t k = 0; k < options.channels.size(); ++k) {
        xml += "      <Channel";
        attribute(xml, "ID", "Channel:0:" + std::to_string(k));
        attribute(xml, "SamplesPerPixel", "1");
        wavelength(xml, "ExcitationWavelength", info.excitation[k]);
        wavelength(xml, "EmissionWavelength", info.emission[k]);
        xml += "/>\n";
    }
    xml += "      <TiffData IFD=\"0\"";
    attribute(xml, "PlaneCount", std::to_string(pages));
    xml += "/>\n    </Pixels>\n  </Image>\n</OME>\n";
    return xml;
}
