// Compressed planes of LSM files, decoded by libtiff. libtiff cannot be given the LSM file
// itself: its StripByteCounts hold the uncompressed sizes. So each channel strip is shown to
// libtiff as the one strip of a small TIFF of our making, whose strip bytes are read from the
// LSM file and end where the next strip of the file begins.
#include <tiffio.h>

#include <algorithm>
#include <cstring>

#include "byte_range_copy.h"
#include "command_line.h"
#include "lsm_to_ics.h"

namespace {

const char* const stripNotDecoded =
    "%s: channel %d of image %lld does not decode to a whole plane.\nTerminating...";

constexpr uint16_t typeShort = 3, typeLong = 4;
constexpr int32_t lzw = 5, adobeDeflate = 8, deflate = 32946, packBits = 32773;

void put16(std::vector<unsigned char>& bytes, uint32_t value) {
    bytes.push_back(static_cast<unsigned char>(value));
    bytes.push_back(static_cast<unsigned char>(value >> 8));
}

void put32(std::vector<unsigned char>& bytes, uint32_t value) {
    put16(bytes, value & 0xFFFF);
    put16(bytes, value >> 16);
}

struct Entry {
    uint16_t tag;
    uint16_t type;
    uint32_t value;
};

// A little-endian TIFF of one grey image in one strip, stored right after its directory.
std::vector<unsigned char> oneStripTiff(uint32_t width, uint32_t rows, uint32_t bits,
                                        const LsmFile& file, uint32_t stripBytes) {
    std::vector<Entry> entries = {
        {256, typeLong, width},
        {257, typeLong, rows},
        {258, typeShort, bits},
        {259, typeShort, static_cast<uint32_t>(file.compression)},
        {262, typeShort, 1},  // black is zero
        {273, typeLong, 0},   // the strip's offset, right after the directory
        {277, typeShort, 1},
        {278, typeLong, rows},
        {279, typeLong, stripBytes},
        {284, typeShort, 1},
    };
    // Only the codecs that difference their samples know the predictor's tag.
    if (file.compression == lzw || file.compression == adobeDeflate ||
        file.compression == deflate)
        entries.push_back({317, typeShort, static_cast<uint32_t>(file.predictor)});
    entries[5].value = static_cast<uint32_t>(8 + 2 + 12 * entries.size() + 4);
    std::vector<unsigned char> bytes = {'I', 'I', 42, 0};
    put32(bytes, 8);
    put16(bytes, static_cast<uint32_t>(entries.size()));
    for (const Entry& entry : entries) {
        put16(bytes, entry.tag);
        put16(bytes, entry.type);
        put32(bytes, 1);
        put32(bytes, entry.value);  // a SHORT in the low half: little-endian
    }
    put32(bytes, 0);
    return bytes;
}

StripSource& sourceOf(thandle_t handle) { return *static_cast<StripSource*>(handle); }

uint64_t sourceSize(const StripSource& source) { return source.header.size() + source.stripBytes; }

tmsize_t readSource(thandle_t handle, void* buffer, tmsize_t size) {
    StripSource& source = sourceOf(handle);
    auto* out = static_cast<unsigned char*>(buffer);
    uint64_t wanted = std::min<uint64_t>(static_cast<uint64_t>(size),
                                         sourceSize(source) - std::min(source.position,
                                                                       sourceSize(source)));
    tmsize_t done = 0;
    while (wanted > 0 && source.position < source.header.size()) {
        const size_t part =
            std::min<uint64_t>(wanted, source.header.size() - source.position);
        std::memcpy(out + done, source.header.data() + source.position, part);
        source.position += part;
        done += static_cast<tmsize_t>(part);
        wanted -= part;
    }
    while (wanted > 0) {
        const auto at = static_cast<uint64_t>(source.stripOffset +
                                              static_cast<int64_t>(source.position -
                                                                   source.header.size()));
        const int64_t got = fileio::readAt(source.file, out + done, wanted, at);
        if (got <= 0) break;
        source.position += static_cast<uint64_t>(got);
        done += got;
        wanted -= static_cast<uint64_t>(got);
    }
    return done;
}

tmsize_t writeNothing(thandle_t, void*, tmsize_t) { return 0; }

toff_t seekSource(thandle_t handle, toff_t offset, int whence) {
    StripSource& source = sourceOf(handle);
    if (whence == SEEK_CUR) offset += source.position;
    if (whence == SEEK_END) offset += sourceSize(source);
    source.position = offset;
    return offset;
}

int closeNothing(thandle_t) { return 0; }

toff_t sizeOfSource(thandle_t handle) { return sourceSize(sourceOf(handle)); }

int mapNothing(thandle_t, void**, toff_t*) { return 0; }

void unmapNothing(thandle_t, void*, toff_t) {}

// The bytes a compressed strip may span: up to the next strip of the file, or the file's end.
// No codec that libtiff decodes here grows data to twice its size, so more is never read.
uint64_t compressedStripBytes(const LsmFile& file, int64_t strip, uint64_t decodedBytes) {
    const auto next = std::upper_bound(file.stripStarts.begin(), file.stripStarts.end(), strip);
    const int64_t end = next == file.stripStarts.end() ? file.size : std::min(*next, file.size);
    const uint64_t span = end > strip ? static_cast<uint64_t>(end - strip) : 0;
    if (decodedBytes >= span) return span;  // and twice it cannot overflow below
    return std::min(span, 2 * decodedBytes + 1024);
}

[[noreturn]] void failStrip(const LsmFile& file, int channel, int64_t image) {
    cli::failWith(stripNotDecoded, file.name, channel, static_cast<long long>(image + 1));
}

// Opens the strip that starts at strip and holds rows rows for libtiff.
void openStrip(PlaneDecoder& decoder, const LsmFile& file, int channel, int64_t image,
               int64_t strip, uint32_t rows) {
    closePlaneDecoder(decoder);
    const auto width = static_cast<uint32_t>(lsmInt(file, lsm::DimensionX));
    const uint64_t rowBytes =
        file.planeBytes / static_cast<uint32_t>(lsmInt(file, lsm::DimensionY));
    uint64_t decodedBytes = 0;
    if (__builtin_mul_overflow(rowBytes, uint64_t{rows}, &decodedBytes)) decodedBytes = UINT64_MAX;
    const uint64_t stripBytes = compressedStripBytes(file, strip, decodedBytes);
    if (strip < 0 || strip > file.size || stripBytes == 0 || stripBytes > UINT32_MAX)
        failStrip(file, channel, image);
    StripSource& source = decoder.source;
    source.header = oneStripTiff(width, rows, static_cast<uint32_t>(file.bitDepth), file,
                                 static_cast<uint32_t>(stripBytes));
    source.file = fileno(file.stream);
    source.stripOffset = strip;
    source.stripBytes = stripBytes;
    source.position = 0;
    decoder.tiff = TIFFClientOpen(file.name, "rm", &source, readSource, writeNothing, seekSource,
                                  closeNothing, sizeOfSource, mapNothing, unmapNothing);
    if (!decoder.tiff) failStrip(file, channel, image);
    decoder.nextRow = 0;
    decoder.stripOffset = strip;
}

}  // namespace

bool compressionDecodable(int32_t compression) {
    return compression == lzw || compression == adobeDeflate || compression == deflate ||
           compression == packBits;
}

void decodePlane(PlaneDecoder& decoder, const ExtractionPlan& plan, int channel,
                 const LsmFile& file, int64_t frame, int64_t z, unsigned char* plane) {
    const auto rows = static_cast<uint32_t>(lsmInt(file, lsm::DimensionY));
    const int64_t slices = lsmInt(file, lsm::DimensionZ);
    const bool inside = file.layout == PlaneLayout::insideOneImage;
    const int64_t image = imageIndexOf(plan, file, frame, z);
    // Inside one image every plane of the channel is in its one strip, rows after rows, decoded
    // row by row so that memory holds one plane; a plane of its own image is decoded whole.
    const int64_t strip = inside ? file.planeStrips.at(0)
                                 : file.planeStrips.at(static_cast<size_t>(frame * slices + z));
    const uint32_t firstRow = inside ? static_cast<uint32_t>(image) * rows : 0;
    if (!decoder.tiff || decoder.stripOffset != strip || decoder.nextRow > firstRow)
        openStrip(decoder, file, channel, image, strip,
                  inside ? static_cast<uint32_t>(file.imageLength) : rows);
    auto* tiff = static_cast<TIFF*>(decoder.tiff);
    if (!inside) {
        const auto size = static_cast<tmsize_t>(file.planeBytes);
        if (TIFFReadEncodedStrip(tiff, 0, plane, size) != size) failStrip(file, channel, image);
        return;
    }
    const auto rowBytes = static_cast<size_t>(file.planeBytes / rows);
    // Rows before the plane (other positions inside one image) are decoded and dropped.
    for (; decoder.nextRow < firstRow; ++decoder.nextRow)
        if (TIFFReadScanline(tiff, plane, decoder.nextRow, 0) < 0) failStrip(file, channel, image);
    for (uint32_t row = 0; row < rows; ++row, ++decoder.nextRow)
        if (TIFFReadScanline(tiff, plane + row * rowBytes, decoder.nextRow, 0) < 0)
            failStrip(file, channel, image);
}

void closePlaneDecoder(PlaneDecoder& decoder) {
    if (decoder.tiff) TIFFClose(static_cast<TIFF*>(decoder.tiff));
    decoder.tiff = nullptr;
}
