// The floor of converting compressed LSM files: libtiff alone decoding the strips of every
// full-resolution image (thumbnails left out) of LSM files whose StripByteCounts are true, into
// one output file. Built and run by bench/run.sh:
//   decode-with-libtiff OUTPUT INPUT...
#include <tiffio.h>

#include <cstdio>
#include <vector>

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    TIFFSetWarningHandler(nullptr);  // the LSM entry is a tag libtiff does not know
    FILE* out = std::fopen(argv[1], "wb");
    if (!out) return 1;
    std::vector<unsigned char> strip;
    for (int i = 2; i < argc; ++i) {
        TIFF* in = TIFFOpen(argv[i], "r");
        if (!in) return 1;
        do {
            uint32_t subfileType = 0;
            TIFFGetField(in, TIFFTAG_SUBFILETYPE, &subfileType);
            if (subfileType == FILETYPE_REDUCEDIMAGE) continue;
            for (tstrip_t s = 0; s < TIFFNumberOfStrips(in); ++s) {
                strip.resize(static_cast<size_t>(TIFFStripSize(in)));
                const tmsize_t got = TIFFReadEncodedStrip(in, s, strip.data(),
                                                          static_cast<tmsize_t>(strip.size()));
                if (got < 0 || std::fwrite(strip.data(), 1, static_cast<size_t>(got), out) !=
                                   static_cast<size_t>(got))
                    return 1;
            }
        } while (TIFFReadDirectory(in));
        TIFFClose(in);
    }
    return std::fclose(out) == 0 ? 0 : 1;
}
