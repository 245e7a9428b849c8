// The OME-XML that the first page of an OME-TIFF carries: one Image, its elements and attributes
// in the order of OME's 2016-06 schema, every text escaped so that the XML stays well-formed.
#include <charconv>
#include <cmath>

#include "ome_tiff.h"

namespace ome {
namespace {

// U+FFFD, written for every byte that is not part of well-formed UTF-8 or not allowed in XML.
const char* const replacementCharacter = "\xEF\xBF\xBD";

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

// text as an attribute value or element text: markup characters escaped, bytes that are no XML
// text replaced.
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

void textAttribute(std::string& xml, const char* name, const std::string& value) {
    if (!value.empty()) attribute(xml, name, value);
}

// A number, and its unit where one is given; left out where absent or no number XML can read.
void numberAttribute(std::string& xml, const char* name, const std::optional<double>& value,
                     const char* unit = nullptr) {
    if (!value || !std::isfinite(*value)) return;
    attribute(xml, name, decimal(*value));
    if (unit) attribute(xml, (std::string(name) + "Unit").c_str(), unit);
}

void lengthAttribute(std::string& xml, const char* name, const std::optional<Length>& length) {
    if (length) numberAttribute(xml, name, length->value, length->unit.c_str());
}

void textElement(std::string& xml, const char* indent, const char* name, const std::string& text) {
    if (text.empty()) return;
    xml += std::string(indent) + "<" + name + ">" + escaped(text) + "</" + name + ">\n";
}

std::string lightSourceId(size_t laser) {
    return "LightSource:0:" + std::to_string(laser);
}

const char* pixelTypeName(PixelType type) {
    switch (type) {
        case PixelType::uint8: return "uint8";
        case PixelType::int8: return "int8";
        case PixelType::uint16: return "uint16";
        case PixelType::int16: return "int16";
        case PixelType::uint32: return "uint32";
        case PixelType::int32: return "int32";
        case PixelType::float32: return "float";
        case PixelType::float64: return "double";
    }
    return "";
}

bool hasInstrument(const OmeImage& image) {
    return image.objective || !image.laserWavelengths.empty();
}

// Light sources come before the objective, as the schema orders an Instrument's children.
void instrument(std::string& xml, const OmeImage& image) {
    if (!hasInstrument(image)) return;
    xml += "  <Instrument ID=\"Instrument:0\">\n";
    for (size_t i = 0; i < image.laserWavelengths.size(); ++i) {
        xml += "    <Laser";
        attribute(xml, "ID", lightSourceId(i));
        numberAttribute(xml, "Wavelength", image.laserWavelengths[i], "nm");
        xml += "/>\n";
    }
    if (image.objective) {
        const Objective& objective = *image.objective;
        xml += "    <Objective ID=\"Objective:0\"";
        textAttribute(xml, "Model", objective.model);
        textAttribute(xml, "Immersion", objective.immersion);
        numberAttribute(xml, "LensNA", objective.lensNA);
        numberAttribute(xml, "NominalMagnification", objective.nominalMagnification);
        xml += "/>\n";
    }
    xml += "  </Instrument>\n";
}

void instrumentReferences(std::string& xml, const OmeImage& image) {
    if (!hasInstrument(image)) return;
    xml += "    <InstrumentRef ID=\"Instrument:0\"/>\n";
    if (!image.objective) return;
    xml += "    <ObjectiveSettings ID=\"Objective:0\"";
    numberAttribute(xml, "RefractiveIndex", image.objective->refractiveIndex);
    xml += "/>\n";
}

void pixelsAttributes(std::string& xml, const OmeImage& image) {
    xml += "    <Pixels ID=\"Pixels:0\" DimensionOrder=\"XYZTC\"";
    attribute(xml, "Type", pixelTypeName(image.pixelType));
    attribute(xml, "SignificantBits", std::to_string(image.significantBits));
    attribute(xml, "BigEndian", image.bigEndian ? "true" : "false");
    attribute(xml, "SizeX", std::to_string(image.sizeX));
    attribute(xml, "SizeY", std::to_string(image.sizeY));
    attribute(xml, "SizeZ", std::to_string(image.sizeZ));
    attribute(xml, "SizeC", std::to_string(image.sizeC));
    attribute(xml, "SizeT", std::to_string(image.sizeT));
    lengthAttribute(xml, "PhysicalSizeX", image.physicalSizeX);
    lengthAttribute(xml, "PhysicalSizeY", image.physicalSizeY);
    lengthAttribute(xml, "PhysicalSizeZ", image.physicalSizeZ);
    numberAttribute(xml, "TimeIncrement", image.timeIncrement, "s");
    xml += ">\n";
}

void channel(std::string& xml, const OmeImage& image, size_t c) {
    const Channel& channel = image.channels[c];
    xml += "      <Channel";
    attribute(xml, "ID", "Channel:0:" + std::to_string(c));
    textAttribute(xml, "Name", channel.name);
    attribute(xml, "SamplesPerPixel", "1");
    numberAttribute(xml, "PinholeSize", channel.pinholeSize, "\xC2\xB5m");
    numberAttribute(xml, "ExcitationWavelength", channel.excitationWavelength, "nm");
    numberAttribute(xml, "EmissionWavelength", channel.emissionWavelength, "nm");
    textAttribute(xml, "Fluor", channel.fluor);
    if (channel.color) attribute(xml, "Color", std::to_string(*channel.color));
    if (!channel.laser || *channel.laser >= image.laserWavelengths.size()) {
        xml += "/>\n";
        return;
    }
    xml += ">\n        <LightSourceSettings";
    attribute(xml, "ID", lightSourceId(*channel.laser));
    xml += "/>\n      </Channel>\n";
}

// One Plane per page, in the pages' order.
void planes(std::string& xml, const OmeImage& image) {
    if (!image.planeElements) return;
    for (uint32_t c = 0; c < image.sizeC; ++c)
        for (uint32_t t = 0; t < image.sizeT; ++t)
            for (uint32_t z = 0; z < image.sizeZ; ++z) {
                xml += "      <Plane";
                attribute(xml, "TheZ", std::to_string(z));
                attribute(xml, "TheT", std::to_string(t));
                attribute(xml, "TheC", std::to_string(c));
                if (t < image.deltaT.size()) numberAttribute(xml, "DeltaT", image.deltaT[t], "s");
                xml += "/>\n";
            }
}

}  // namespace

std::string omeXml(const OmeImage& image) {
    std::string xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<OME xmlns=\"http://www.openmicroscopy.org/Schemas/OME/2016-06\" "
        "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
        "xsi:schemaLocation=\"http://www.openmicroscopy.org/Schemas/OME/2016-06 "
        "http://www.openmicroscopy.org/Schemas/OME/2016-06/ome.xsd\"";
    attribute(xml, "Creator", image.creator);
    xml += ">\n";
    instrument(xml, image);
    xml += "  <Image ID=\"Image:0\"";
    attribute(xml, "Name", image.name);
    xml += ">\n";
    textElement(xml, "    ", "AcquisitionDate", image.acquisitionDate);
    textElement(xml, "    ", "Description", image.description);
    instrumentReferences(xml, image);
    pixelsAttributes(xml, image);
    for (size_t c = 0; c < image.channels.size(); ++c) channel(xml, image, c);
    const uint64_t pages = uint64_t{image.sizeZ} * image.sizeC * image.sizeT;
    xml += "      <TiffData IFD=\"0\"";
    attribute(xml, "PlaneCount", std::to_string(pages));
    xml += "/>\n";
    planes(xml, image);
    xml += "    </Pixels>\n  </Image>\n</OME>\n";
    return xml;
}

}  // namespace ome
