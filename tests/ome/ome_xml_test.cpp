// The OME-XML builder: every field in the schema's order and escaped, and what is absent or
// cannot be written left out.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "every_field_image.h"
#include "ome_tiff.h"

namespace {

const std::string head =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<OME xmlns=\"http://www.openmicroscopy.org/Schemas/OME/2016-06\" "
    "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
    "xsi:schemaLocation=\"http://www.openmicroscopy.org/Schemas/OME/2016-06 "
    "http://www.openmicroscopy.org/Schemas/OME/2016-06/ome.xsd\" ";

TEST(OmeXml, EveryFieldInTheSchemasOrder) {
    EXPECT_EQ(
        ome::omeXml(everyFieldImage()),
        head +
            "Creator=\"lsm-to-ics 9.9\">\n"
            "  <Instrument ID=\"Instrument:0\">\n"
            "    <Laser ID=\"LightSource:0:0\" Wavelength=\"488\" WavelengthUnit=\"nm\"/>\n"
            "    <Laser ID=\"LightSource:0:1\" Wavelength=\"561\" WavelengthUnit=\"nm\"/>\n"
            "    <Objective ID=\"Objective:0\" Model=\"Plan-Apochromat 63x/1.40 Oil DIC\" "
            "Immersion=\"Oil\" LensNA=\"1.4\" NominalMagnification=\"63\"/>\n"
            "  </Instrument>\n"
            "  <Image ID=\"Image:0\" Name=\"cell &lt;1&gt; &amp; &quot;2&quot;\">\n"
            "    <AcquisitionDate>2024-03-05T14:07:09</AcquisitionDate>\n"
            "    <Description>fixed&#9;cells&#10;day 3</Description>\n"
            "    <InstrumentRef ID=\"Instrument:0\"/>\n"
            "    <ObjectiveSettings ID=\"Objective:0\" RefractiveIndex=\"1.515\"/>\n"
            "    <Pixels ID=\"Pixels:0\" DimensionOrder=\"XYZTC\" Type=\"uint8\" "
            "SignificantBits=\"8\" BigEndian=\"false\" SizeX=\"5\" SizeY=\"4\" SizeZ=\"2\" "
            "SizeC=\"2\" SizeT=\"2\" PhysicalSizeX=\"0.1\" PhysicalSizeXUnit=\"\xC2\xB5m\" "
            "PhysicalSizeY=\"0.1\" PhysicalSizeYUnit=\"\xC2\xB5m\" PhysicalSizeZ=\"0.5\" "
            "PhysicalSizeZUnit=\"\xC2\xB5m\" TimeIncrement=\"2.5\" TimeIncrementUnit=\"s\">\n"
            "      <Channel ID=\"Channel:0:0\" Name=\"Ch1-T1\" SamplesPerPixel=\"1\" "
            "PinholeSize=\"45\" PinholeSizeUnit=\"\xC2\xB5m\" ExcitationWavelength=\"488\" "
            "ExcitationWavelengthUnit=\"nm\" EmissionWavelength=\"525\" "
            "EmissionWavelengthUnit=\"nm\" Fluor=\"Alexa Fluor 488\" Color=\"-16711936\">\n"
            "        <LightSourceSettings ID=\"LightSource:0:0\"/>\n"
            "      </Channel>\n"
            "      <Channel ID=\"Channel:0:1\" Name=\"TPMT\xEF\xBF\xBD\" SamplesPerPixel=\"1\" "
            "PinholeSize=\"70.5\" PinholeSizeUnit=\"\xC2\xB5m\" ExcitationWavelength=\"561\" "
            "ExcitationWavelengthUnit=\"nm\" Color=\"-1\">\n"
            "        <LightSourceSettings ID=\"LightSource:0:1\"/>\n"
            "      </Channel>\n"
            "      <TiffData IFD=\"0\" PlaneCount=\"8\"/>\n"
            "      <Plane TheZ=\"0\" TheT=\"0\" TheC=\"0\" DeltaT=\"0\" DeltaTUnit=\"s\"/>\n"
            "      <Plane TheZ=\"1\" TheT=\"0\" TheC=\"0\" DeltaT=\"0\" DeltaTUnit=\"s\"/>\n"
            "      <Plane TheZ=\"0\" TheT=\"1\" TheC=\"0\" DeltaT=\"2.25\" DeltaTUnit=\"s\"/>\n"
            "      <Plane TheZ=\"1\" TheT=\"1\" TheC=\"0\" DeltaT=\"2.25\" DeltaTUnit=\"s\"/>\n"
            "      <Plane TheZ=\"0\" TheT=\"0\" TheC=\"1\" DeltaT=\"0\" DeltaTUnit=\"s\"/>\n"
            "      <Plane TheZ=\"1\" TheT=\"0\" TheC=\"1\" DeltaT=\"0\" DeltaTUnit=\"s\"/>\n"
            "      <Plane TheZ=\"0\" TheT=\"1\" TheC=\"1\" DeltaT=\"2.25\" DeltaTUnit=\"s\"/>\n"
            "      <Plane TheZ=\"1\" TheT=\"1\" TheC=\"1\" DeltaT=\"2.25\" DeltaTUnit=\"s\"/>\n"
            "    </Pixels>\n"
            "  </Image>\n"
            "</OME>\n");
}

// Lasers without an objective still make an Instrument, without ObjectiveSettings; a number that
// is no number, and a laser that is not in the list, are left out rather than written invalid.
TEST(OmeXml, WhatIsAbsentOrUnwritableIsLeftOut) {
    ome::OmeImage image;
    image.creator = "ics-split 1.0.0";
    image.pixelType = ome::PixelType::float32;
    image.significantBits = 32;
    image.bigEndian = true;
    image.physicalSizeX = ome::Length{std::nan(""), "nm"};
    image.timeIncrement = INFINITY;
    image.laserWavelengths = {633};
    ome::Channel channel;
    channel.laser = 1;
    image.channels = {channel};
    image.deltaT = {1};  // without Plane elements, nowhere to go
    EXPECT_EQ(ome::omeXml(image),
              head +
                  "Creator=\"ics-split 1.0.0\">\n"
                  "  <Instrument ID=\"Instrument:0\">\n"
                  "    <Laser ID=\"LightSource:0:0\" Wavelength=\"633\" WavelengthUnit=\"nm\"/>\n"
                  "  </Instrument>\n"
                  "  <Image ID=\"Image:0\" Name=\"\">\n"
                  "    <InstrumentRef ID=\"Instrument:0\"/>\n"
                  "    <Pixels ID=\"Pixels:0\" DimensionOrder=\"XYZTC\" Type=\"float\" "
                  "SignificantBits=\"32\" BigEndian=\"true\" SizeX=\"1\" SizeY=\"1\" SizeZ=\"1\" "
                  "SizeC=\"1\" SizeT=\"1\">\n"
                  "      <Channel ID=\"Channel:0:0\" SamplesPerPixel=\"1\"/>\n"
                  "      <TiffData IFD=\"0\" PlaneCount=\"1\"/>\n"
                  "    </Pixels>\n"
                  "  </Image>\n"
                  "</OME>\n");
}

}  // namespace
