// The TIFF export: one single-strip TIFF file per plane, holding the plane's bytes unchanged.
#include <tiffio.h>

#include <algorithm>

#include "command_line.h"
#include "ics_header.h"
#include "ics_split.h"
#include "ome_tiff.h"

namespace {

// The number written right-aligned in at least width digits, zero-filled.
std::string zeroFilled(int number, int width) {
    char digits[16];
    std::snprintf(digits, sizeof digits, "%0*d", width, number);
    return digits;
}

std::string tiffFileName(const std::string& base, int k, int t, int z) {
    return base + "_ch" + zeroFilled(k, 2) + "t" + zeroFilled(t, 4) + "z" + zeroFilled(z, 3) +
           ".tif";
}

// TIFF readers take samples without a sample format for unsigned integers.
uint16_t sampleFormatOf(Ics_DataType dataType) {
    switch (dataType) {
        case Ics_sint8:
        case Ics_sint16:
        case Ics_sint32:
        case Ics_sint64: return SAMPLEFORMAT_INT;
        case Ics_real32:
        case Ics_real64: return SAMPLEFORMAT_IEEEFP;
        case Ics_complex32:
        case Ics_complex64: return SAMPLEFORMAT_COMPLEXIEEEFP;
        default: return SAMPLEFORMAT_UINT;
    }
}

void setPlaneTags(TIFF* tiff, const IcsInputInfo& info) {
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, info.X);
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, info.Y);
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, static_cast<uint16_t>(info.sampleBytes * 8));
    TIFFSetField(tiff, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
    const uint16_t sampleFormat = sampleFormatOf(info.dataType);
    if (sampleFormat != SAMPLEFORMAT_UINT) TIFFSetField(tiff, TIFFTAG_SAMPLEFORMAT, sampleFormat);
}

void writeTiffPlane(const std::string& name, const IcsInputInfo& info, PlaneReader& reader, int k,
                    int t, int z) {
    // Read first, so that a plane that cannot be read leaves no broken file.
    unsigned char* plane = readPlane(reader, info, k, t, z);
    // The file takes the samples' byte order, so that their bytes are copied unchanged.
    TIFF* tiff = TIFFOpen(name.c_str(), info.bigEndianSamples ? "wb" : "wl");
    if (!tiff) cli::failWith(ome::couldNotCreateTiff, name.c_str());
    setPlaneTags(tiff, info);
    // Each raw write appends to the strip. A decoded plane goes out in pieces, a plane read
    // from the input whole: each way is the faster one for it, as measured.
    const uint64_t pieceBytes = info.gzipData ? planes::writePieceBytes : info.planeBytes;
    for (uint64_t at = 0; at < info.planeBytes; at += pieceBytes) {
        const uint64_t piece = std::min(info.planeBytes - at, pieceBytes);
        if (TIFFWriteRawStrip(tiff, 0, plane + at, static_cast<tmsize_t>(piece)) == -1)
            cli::fail(ome::couldNotWriteTiff);
    }
    TIFFClose(tiff);
}

}  // namespace

void exportTiffPlanes(const SplitOptions& options, const IcsInputInfo& info, PlaneReader& reader) {
    for (int k : options.channels)
        for (int t = options.t.start; t <= options.t.end; ++t)
            for (int z = options.z.start; z <= options.z.end; ++z) {
                cli::printLine("channel = %d, t = %d, i = %d", k, t, z);
                const std::string name = tiffFileName(options.outputBase, k, t, z);
                cli::printLine("t%d,z%d", t, z);
                writeTiffPlane(name, info, reader, k, t, z);
            }
}
