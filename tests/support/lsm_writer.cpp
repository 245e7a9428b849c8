// Builds LSM files byte by byte; see lsm_writer.h for the layout.
#include "lsm_writer.h"

#include <cstdio>
#include <cstring>
#include <functional>
#include <stdexcept>

namespace lsmtest {

namespace {

constexpr uint16_t typeByte = 1, typeShort = 3, typeLong = 4;
constexpr uint32_t lsmMagic = 0x00400494C;
constexpr uint32_t lsmInfoSize = 228;
constexpr size_t tiffEntrySize = 12;

uint32_t directorySize(size_t entryCount) {
    return static_cast<uint32_t>(2 + tiffEntrySize * entryCount + 4);
}

// Sizes and positions of everything but the pixel data.
struct Plan {
    uint32_t imageEntries = 10;
    uint32_t thumbnailEntries = 10;
    uint32_t arraysStart = 0;     // out-of-line arrays of the image directories
    uint32_t arraysPerImage = 0;  // bytes of arrays per image directory
    uint64_t thumbnailBytes = 0;
};

bool bitsOutOfEntry(const LsmContent& c) { return c.channels * 2 > 4; }
bool longsOutOfEntry(const LsmContent& c) { return c.channels > 1; }

uint64_t planeSize(const LsmContent& c) {
    return uint64_t{c.width} * c.height * (c.bitsPerSample / 8u);
}

uint32_t imageCount(const LsmContent& c) { return frameCount(c) * c.slices; }

// Images follow each other frame by frame, and within a frame slice by slice.
uint32_t imageIndex(const LsmContent& c, uint32_t z, uint32_t frame) {
    return frame * c.slices + z;
}

uint64_t planeOffset(const LsmLayout& layout, uint32_t channel, uint32_t image) {
    return layout.pixelData + image * layout.planeStride + channel * layout.planeBytes;
}

// The directory of an image: entries in LSM tag order, the LSM entry last in the first.
void appendImageDirectory(Bytes& out, const LsmContent& c, const LsmLayout& layout, uint32_t arrays,
                          uint32_t image, uint32_t nextDirectory) {
    const bool first = image == 0;
    append16(out, static_cast<uint16_t>(first ? 11 : 10));
    const uint32_t bitsArray = arrays;
    const uint32_t offsetsArray = bitsArray + (bitsOutOfEntry(c) ? 2 * c.channels : 0);
    const uint32_t countsArray = offsetsArray + 4 * c.channels;
    appendTiffEntry(out, 254, typeLong, 1, 0);
    appendTiffEntry(out, 256, typeLong, 1, c.width);
    appendTiffEntry(out, 257, typeLong, 1, c.height);
    if (bitsOutOfEntry(c))
        appendTiffEntry(out, 258, typeShort, c.channels, bitsArray);
    else
        appendTiffEntry(out, 258, typeShort, c.channels,
                        c.bitsPerSample | (c.channels == 2 ? uint32_t{c.bitsPerSample} << 16 : 0));
    appendTiffEntry(out, 259, typeShort, 1, c.compression);
    appendTiffEntry(out, 262, typeShort, 1, 1);
    const auto firstPlane = static_cast<uint32_t>(planeOffset(layout, 0, image));
    appendTiffEntry(out, 273, typeLong, c.channels, longsOutOfEntry(c) ? offsetsArray : firstPlane);
    appendTiffEntry(out, 277, typeShort, 1, c.channels);
    appendTiffEntry(out, 279, typeLong, c.channels,
                    longsOutOfEntry(c) ? countsArray : static_cast<uint32_t>(layout.planeBytes));
    appendTiffEntry(out, 284, typeShort, 1, 2);
    if (first) appendTiffEntry(out, 34412, typeByte, lsmInfoSize, layout.lsmInfo);
    append32(out, nextDirectory);
}

void appendThumbnailDirectory(Bytes& out, const LsmContent& c, uint32_t thumbnail,
                              uint32_t nextDirectory) {
    append16(out, 10);
    appendTiffEntry(out, 254, typeLong, 1, 1);
    appendTiffEntry(out, 256, typeLong, 1, c.thumbnailWidth);
    appendTiffEntry(out, 257, typeLong, 1, c.thumbnailHeight);
    appendTiffEntry(out, 258, typeShort, 1, 8);
    appendTiffEntry(out, 259, typeShort, 1, 1);
    appendTiffEntry(out, 262, typeShort, 1, 1);
    appendTiffEntry(out, 273, typeLong, 1, thumbnail);
    appendTiffEntry(out, 277, typeShort, 1, 1);
    appendTiffEntry(out, 279, typeLong, 1, c.thumbnailWidth * c.thumbnailHeight);
    appendTiffEntry(out, 284, typeShort, 1, 1);
    append32(out, nextDirectory);
}

void appendImageArrays(Bytes& out, const LsmContent& c, const LsmLayout& layout, uint32_t image) {
    if (bitsOutOfEntry(c))
        for (uint32_t ch = 0; ch < c.channels; ++ch) append16(out, c.bitsPerSample);
    if (!longsOutOfEntry(c)) return;
    for (uint32_t ch = 0; ch < c.channels; ++ch)
        append32(out, static_cast<uint32_t>(planeOffset(layout, ch, image)));
    for (uint32_t ch = 0; ch < c.channels; ++ch)
        append32(out, static_cast<uint32_t>(layout.planeBytes));
}

void appendLsmInfo(Bytes& out, const LsmContent& c, const LsmLayout& layout) {
    const size_t start = out.size();
    append32(out, lsmMagic);
    append32(out, lsmInfoSize);
    for (uint32_t value : {c.width, c.height, c.slices, c.channels, c.timeFrames,
                           c.bitsPerSample == 8 ? 1u : 2u, c.thumbnailWidth, c.thumbnailHeight})
        append32(out, value);
    for (double value : {c.voxelSizeX, c.voxelSizeY, c.voxelSizeZ, 0.0, 0.0, 0.0})
        appendDouble(out, value);
    append16(out, 0);  // ScanType: normal x-y-z scan
    append16(out, 0);
    append32(out, 0);  // TypeOfData: original scan data
    for (int i = 0; i < 4; ++i) append32(out, 0);
    appendDouble(out, c.timeInterval);
    append32(out, 0);
    append32(out, layout.scanInfo);
    out.resize(start + lsmInfoSize, 0);
}

// Computes the layout and writes everything in front of the pixel data.
Bytes buildMetadata(const LsmContent& c, LsmLayout& layout) {
    if (c.slices == 0 || c.channels == 0) throw std::invalid_argument("empty LSM content");
    Plan plan;
    layout = LsmLayout{};
    layout.firstDirectory = 8;
    layout.planeBytes = planeSize(c);
    plan.thumbnailBytes = uint64_t{c.thumbnailWidth} * c.thumbnailHeight;
    layout.planeStride = c.channels * layout.planeBytes + plan.thumbnailBytes;

    const uint32_t images = imageCount(c);
    uint32_t position = layout.firstDirectory;
    for (uint32_t image = 0; image < images; ++image) {
        layout.directories.push_back(position);
        position += directorySize(image == 0 ? 11 : 10);
        layout.directories.push_back(position);
        position += directorySize(plan.thumbnailEntries);
    }
    layout.lsmEntry = layout.firstDirectory + 2 + 10 * tiffEntrySize;
    plan.arraysStart = position;
    plan.arraysPerImage =
        (bitsOutOfEntry(c) ? 2 * c.channels : 0) + (longsOutOfEntry(c) ? 8 * c.channels : 0);
    position += plan.arraysPerImage * images;
    layout.lsmInfo = position;
    position += lsmInfoSize;
    layout.scanInfo = position;
    const Bytes scanInfo = c.rawScanInfo.empty() ? scanInfoTree(c.scanInfo) : c.rawScanInfo;
    position += static_cast<uint32_t>(scanInfo.size());
    layout.pixelData = position;
    layout.fileSize = layout.pixelData + images * layout.planeStride;

    Bytes out;
    out.push_back('I');
    out.push_back('I');
    append16(out, 42);
    append32(out, layout.firstDirectory);
    for (uint32_t image = 0; image < images; ++image) {
        const uint32_t thumbnailDirectory = layout.directories[2 * image + 1];
        const uint32_t nextImage = image + 1 < images ? layout.directories[2 * image + 2] : 0;
        appendImageDirectory(out, c, layout, plan.arraysStart + image * plan.arraysPerImage, image,
                             thumbnailDirectory);
        const auto thumbnail = static_cast<uint32_t>(planeOffset(layout, c.channels, image));
        appendThumbnailDirectory(out, c, thumbnail, nextImage);
    }
    for (uint32_t image = 0; image < images; ++image) appendImageArrays(out, c, layout, image);
    appendLsmInfo(out, c, layout);
    out.insert(out.end(), scanInfo.begin(), scanInfo.end());
    return out;
}

Bytes thumbnailData(const LsmContent& c, uint32_t image) {
    return Bytes(uint64_t{c.thumbnailWidth} * c.thumbnailHeight, static_cast<uint8_t>(image));
}

// Hands over the pixel data in file order: per image its channel planes, then its thumbnail.
void putPixelData(const LsmContent& c, const std::function<void(const Bytes&)>& put) {
    for (uint32_t frame = 0; frame < frameCount(c); ++frame)
        for (uint32_t z = 0; z < c.slices; ++z) {
            for (uint32_t ch = 0; ch < c.channels; ++ch) put(planeData(c, ch, z, frame));
            put(thumbnailData(c, imageIndex(c, z, frame)));
        }
}

void appendLittleEndian(Bytes& bytes, uint64_t value, int width) {
    for (int i = 0; i < width; ++i) bytes.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

void putLittleEndian(Bytes& bytes, size_t at, uint64_t value, int width) {
    for (int i = 0; i < width; ++i) bytes.at(at + i) = static_cast<uint8_t>(value >> (8 * i));
}

uint64_t bitsOf(double value) {
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

}  // namespace

uint32_t frameCount(const LsmContent& c) { return c.timeFrames > 0 ? c.timeFrames : 1; }

Bytes planeData(const LsmContent& c, uint32_t channel, uint32_t z, uint32_t frame) {
    Bytes plane(planeSize(c));
    // Distinct bytes per position, channel, image and seed, so that a misplaced plane shows.
    const uint32_t base = channel * 71u + imageIndex(c, z, frame) * 13u + c.seed * 101u;
    for (size_t i = 0; i < plane.size(); ++i)
        plane[i] = static_cast<uint8_t>(base + i * 7u + (i >> 8) * 3u);
    return plane;
}

Bytes buildLsmFile(const LsmContent& content, LsmLayout* layout) {
    LsmLayout local;
    LsmLayout& where = layout ? *layout : local;
    Bytes out = buildMetadata(content, where);
    putPixelData(content,
                 [&](const Bytes& part) { out.insert(out.end(), part.begin(), part.end()); });
    return out;
}

void writeLsmFile(const std::string& path, const LsmContent& content) {
    LsmLayout layout;
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) throw std::runtime_error("cannot create " + path);
    auto put = [&](const Bytes& bytes) {
        if (std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size())
            throw std::runtime_error("cannot write " + path);
    };
    put(buildMetadata(content, layout));
    putPixelData(content, put);
    if (std::fclose(file) != 0) throw std::runtime_error("cannot close " + path);
}

double oleDate(int year, int month, int day, int hour, int minute, int second) {
    // Days from 30 December 1899 by the proleptic Gregorian calendar.
    auto daysFromCivil = [](int64_t y, int64_t m, int64_t d) {
        y -= m <= 2;
        const int64_t era = (y >= 0 ? y : y - 399) / 400;
        const int64_t yoe = y - era * 400;
        const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
        return era * 146097 + yoe * 365 + yoe / 4 - yoe / 100 + doy;
    };
    const double days = static_cast<double>(daysFromCivil(year, month, day) -
                                            daysFromCivil(1899, 12, 30));
    const double fraction = (hour * 3600.0 + minute * 60.0 + second) / 86400.0;
    return days >= 0 ? days + fraction : days - fraction;
}

void appendScanEntry(Bytes& bytes, uint32_t tag, uint32_t type, uint32_t size, const Bytes& data) {
    append32(bytes, tag);
    append32(bytes, type);
    append32(bytes, size);
    bytes.insert(bytes.end(), data.begin(), data.end());
}

void appendScanBlockStart(Bytes& bytes, uint32_t tag) { appendScanEntry(bytes, tag, 0, 0, {}); }

void appendScanBlockEnd(Bytes& bytes) { appendScanEntry(bytes, 0xFFFFFFFFu, 0, 0, {}); }

void appendScanText(Bytes& bytes, uint32_t tag, const std::string& text) {
    Bytes data(text.begin(), text.end());
    data.push_back(0);
    appendScanEntry(bytes, tag, 2, static_cast<uint32_t>(data.size()), data);
}

void appendScanDouble(Bytes& bytes, uint32_t tag, double value) {
    Bytes data;
    appendDouble(data, value);
    appendScanEntry(bytes, tag, 5, 8, data);
}

void appendScanInteger(Bytes& bytes, uint32_t tag, uint32_t value) {
    Bytes data;
    append32(data, value);
    appendScanEntry(bytes, tag, 4, 4, data);
}

Bytes scanInfoTree(const ScanInfoContent& s) {
    Bytes tree;
    appendScanBlockStart(tree, 0x10000000);  // recording
    appendScanText(tree, 0x10000001, s.name);
    appendScanText(tree, 0x10000002, s.description);
    appendScanText(tree, 0x10000003, s.notes);
    appendScanText(tree, 0x10000004, s.objective);
    if (s.hasStartTime) appendScanDouble(tree, 0x10000036, s.startTime);
    appendScanBlockStart(tree, 0x20000000);  // tracks
    appendScanBlockStart(tree, 0x40000000);  // track
    appendScanInteger(tree, 0x40000001, 1);  // multiplex type
    appendScanBlockStart(tree, 0x60000000);  // detection channels
    appendScanBlockStart(tree, 0x70000000);  // detection channel
    appendScanDouble(tree, 0x70000003, 650.0);  // detector gain
    appendScanText(tree, 0x70000014, "Ch1");
    appendScanBlockEnd(tree);
    appendScanBlockEnd(tree);
    appendScanBlockStart(tree, 0x80000000);  // illumination channels
    for (double wavelength : s.wavelengths) {
        appendScanBlockStart(tree, 0x90000000);
        appendScanText(tree, 0x90000001, "Laser");
        appendScanDouble(tree, 0x90000002, 50.0);  // power
        appendScanDouble(tree, 0x90000003, wavelength);
        appendScanBlockEnd(tree);
    }
    appendScanBlockEnd(tree);
    appendScanBlockEnd(tree);
    appendScanBlockEnd(tree);
    appendScanBlockEnd(tree);
    return tree;
}

void append16(Bytes& bytes, uint16_t value) { appendLittleEndian(bytes, value, 2); }
void append32(Bytes& bytes, uint32_t value) { appendLittleEndian(bytes, value, 4); }
void appendDouble(Bytes& bytes, double value) { appendLittleEndian(bytes, bitsOf(value), 8); }
void put16(Bytes& bytes, size_t at, uint16_t value) { putLittleEndian(bytes, at, value, 2); }
void put32(Bytes& bytes, size_t at, uint32_t value) { putLittleEndian(bytes, at, value, 4); }
void putDouble(Bytes& bytes, size_t at, double value) {
    putLittleEndian(bytes, at, bitsOf(value), 8);
}

void appendTiffEntry(Bytes& bytes, uint16_t tag, uint16_t type, uint32_t count, uint32_t value) {
    append16(bytes, tag);
    append16(bytes, type);
    append32(bytes, count);
    append32(bytes, value);
}

void writeBytes(const std::string& path, const Bytes& bytes) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) throw std::runtime_error("cannot create " + path);
    const bool written =
        bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    if (std::fclose(file) != 0 || !written) throw std::runtime_error("cannot write " + path);
}

Bytes readBytes(const std::string& path) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) throw std::runtime_error("cannot open " + path);
    Bytes bytes;
    uint8_t buffer[65536];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        bytes.insert(bytes.end(), buffer, buffer + got);
    std::fclose(file);
    return bytes;
}

}  // namespace lsmtest
