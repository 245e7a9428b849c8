// An image that fills every field of ome::OmeImage, with texts that need escaping, for the XML
// builder's test and its check against OME's schema.
#pragma once

#include "ome_tiff.h"

inline ome::OmeImage everyFieldImage() {
    ome::OmeImage image;
    image.creator = "lsm-to-ics 9.9";
    image.name = "cell <1> & \"2\"";
    image.description = "fixed\tcells\nday 3";
    image.acquisitionDate = "2024-03-05T14:07:09";
    image.pixelType = ome::PixelType::uint8;
    image.significantBits = 8;
    image.sizeX = 5;
    image.sizeY = 4;
    image.sizeZ = 2;
    image.sizeC = 2;
    image.sizeT = 2;
    image.physicalSizeX = ome::Length{0.1, "\xC2\xB5m"};
    image.physicalSizeY = ome::Length{0.1, "\xC2\xB5m"};
    image.physicalSizeZ = ome::Length{0.5, "\xC2\xB5m"};
    image.timeIncrement = 2.5;
    image.objective = ome::Objective{"Plan-Apochromat 63x/1.40 Oil DIC", "Oil", 1.4, 63, 1.515};
    image.laserWavelengths = {488, 561};
    ome::Channel green{"Ch1-T1", 45, 488, 525, "Alexa Fluor 488", -16711936, 0};
    ome::Channel transmitted{"TPMT\xFF", 70.5, 561, std::nullopt, "", -1, 1};
    image.channels = {green, transmitted};
    image.planeElements = true;
    image.deltaT = {0, 2.25};
    return image;
}
