// Builds LSM files byte by byte; see lsm_writer.h for the layout.
#include "lsm_writer.h"

#include <cstdio>
#include <algorithm>
#include <cstring>
#include <functional>
#include <stdexcept>

namespace lsmtest {

namespace {

constexpr uint16_t typeByte = 1, typeShort = 3, typeLong = 4;
constexpr uint32_t lsmMagic = 0x00400494C;
constexpr size_t tiffEntrySize = 12;
constexpr uint16_t lzwCompression = 5;
constexpr uint32_t dimensionPAt = 264, dimensionMAt = 268;
constexpr uint32_t channelColorsAt = 108, timeStampsAt = 132;  // offsets in the information block

uint32_t directorySize(size_t entryCount) {
    return static_cast<uint32_t>(2 + tiffEntrySize * entryCount + 4);
}

bool bitsOutOfEntry(const LsmContent& c) {
    return c.channels * 2 > 4 || (c.depthsAtOffset && c.channels == 2);
}
bool longsOutOfEntry(const LsmContent& c) { return c.channels > 1; }
bool compressed(const LsmContent& c) { return c.compression == lzwCompression; }
bool predicted(const LsmContent& c) { return compressed(c) && c.predictor != 1; }

uint16_t channelDepth(const LsmContent& c, uint32_t channel) {
    return c.channelBits.empty() ? c.bitsPerSample : c.channelBits.at(channel);
}

uint64_t planeSize(const LsmContent& c, uint32_t channel) {
    return uint64_t{c.width} * c.height * (channelDepth(c, channel) / 8u);
}

uint32_t planeCount(const LsmContent& c) { return c.positions * frameCount(c) * c.slices; }
uint32_t imageCount(const LsmContent& c) { return c.planesInOneImage ? 1 : planeCount(c); }
uint32_t planesPerImage(const LsmContent& c) { return c.planesInOneImage ? planeCount(c) : 1; }

// Directory order: positions outermost, then frames, then slices.
uint32_t imageIndex(const LsmContent& c, uint32_t z, uint32_t frame, uint32_t position) {
    return (position * frameCount(c) + frame) * c.slices + z;
}

// Image directories hold the LSM entry (first only) and the predictor entry (LZW with
// differencing); thumbnail directories the latter.
uint32_t imageEntries(const LsmContent& c, bool first) { return 10 + predicted(c) + first; }
uint32_t thumbnailEntries(const LsmContent& c) { return 10 + predicted(c); }

// StripByteCounts as written: the uncompressed size unless the true lengths are asked for.
uint32_t storedCount(const LsmContent& c, uint64_t uncompressed, uint64_t written) {
    return static_cast<uint32_t>(c.trueByteCounts ? written : uncompressed);
}

uint32_t storedChannelCount(const LsmContent& c, const LsmLayout& layout, uint32_t image,
                            uint32_t channel) {
    return storedCount(c, planeSize(c, channel) * planesPerImage(c),
                       layout.imageStripBytes[image][channel]);
}

uint32_t arraysSize(const LsmContent& c) {
    return (bitsOutOfEntry(c) ? 2 * c.channels : 0) + (longsOutOfEntry(c) ? 8 * c.channels : 0);
}

// The directory of an image: entries in tag order, the LSM entry last in the first.
void appendImageDirectory(Bytes& out, const LsmContent& c, const LsmLayout& layout, uint32_t arrays,
                          uint32_t image, uint32_t nextDirectory) {
    const bool first = image == 0;
    append16(out, static_cast<uint16_t>(imageEntries(c, first)));
    const uint32_t bitsArray = arrays;
    const uint32_t offsetsArray = bitsArray + (bitsOutOfEntry(c) ? 2 * c.channels : 0);
    const uint32_t countsArray = offsetsArray + 4 * c.channels;
    appendTiffEntry(out, 254, typeLong, 1, 0);
    appendTiffEntry(out, 256, typeLong, 1, c.width);
    appendTiffEntry(out, 257, typeLong, 1, c.height * planesPerImage(c));
    if (bitsOutOfEntry(c))
        appendTiffEntry(out, 258, typeShort, c.channels, bitsArray);
    else
        appendTiffEntry(out, 258, typeShort, c.channels,
                        channelDepth(c, 0) |
                            (c.channels == 2 ? uint32_t{channelDepth(c, 1)} << 16 : 0));
    appendTiffEntry(out, 259, typeShort, 1, c.compression);
    appendTiffEntry(out, 262, typeShort, 1, 1);
    appendTiffEntry(out, 273, typeLong, c.channels,
                    longsOutOfEntry(c) ? offsetsArray
                                       : static_cast<uint32_t>(layout.imageStrips[image][0]));
    appendTiffEntry(out, 277, typeShort, 1, c.channels);
    appendTiffEntry(out, 279, typeLong, c.channels,
                    longsOutOfEntry(c) ? countsArray : storedChannelCount(c, layout, image, 0));
    appendTiffEntry(out, 284, typeShort, 1, 2);
    if (predicted(c)) appendTiffEntry(out, 317, typeShort, 1, c.predictor);
    if (first) appendTiffEntry(out, 34412, typeByte, c.infoBlockSize, layout.lsmInfo);
    append32(out, nextDirectory);
}

void appendThumbnailDirectory(Bytes& out, const LsmContent& c, const LsmLayout& layout,
                              uint32_t image, uint32_t nextDirectory) {
    append16(out, static_cast<uint16_t>(thumbnailEntries(c)));
    appendTiffEntry(out, 254, typeLong, 1, 1);
    appendTiffEntry(out, 256, typeLong, 1, c.thumbnailWidth);
    appendTiffEntry(out, 257, typeLong, 1, c.thumbnailHeight);
    appendTiffEntry(out, 258, typeShort, 1, 8);
    appendTiffEntry(out, 259, typeShort, 1, compressed(c) ? lzwCompression : 1);
    appendTiffEntry(out, 262, typeShort, 1, 1);
    appendTiffEntry(out, 273, typeLong, 1, static_cast<uint32_t>(layout.thumbnailStrips[image]));
    appendTiffEntry(out, 277, typeShort, 1, 1);
    appendTiffEntry(out, 279, typeLong, 1,
                    storedCount(c, uint64_t{c.thumbnailWidth} * c.thumbnailHeight,
                                layout.thumbnailStripBytes[image]));
    appendTiffEntry(out, 284, typeShort, 1, 1);
    if (predicted(c)) appendTiffEntry(out, 317, typeShort, 1, c.predictor);
    append32(out, nextDirectory);
}

void appendImageArrays(Bytes& out, const LsmContent& c, const LsmLayout& layout, uint32_t image) {
    if (bitsOutOfEntry(c))
        for (uint32_t ch = 0; ch < c.channels; ++ch) append16(out, channelDepth(c, ch));
    if (!longsOutOfEntry(c)) return;
    for (uint32_t ch = 0; ch < c.channels; ++ch)
        append32(out, static_cast<uint32_t>(layout.imageStrips[image][ch]));
    for (uint32_t ch = 0; ch < c.channels; ++ch)
        append32(out, storedChannelCount(c, layout, image, ch));
}

// DataType: 1 for 8-bit, 2 for 12- or 16-bit, 0 for channels of different depths.
uint32_t dataType(const LsmContent& c) {
    for (uint32_t ch = 1; ch < c.channels; ++ch)
        if (channelDepth(c, ch) != channelDepth(c, 0)) return 0;
    return channelDepth(c, 0) == 8 ? 1 : 2;
}

void appendLsmInfo(Bytes& out, const LsmContent& c, const LsmLayout& layout) {
    const size_t start = out.size();
    append32(out, lsmMagic);
    append32(out, c.infoBlockSize);
    for (uint32_t value : {c.width, c.height, c.slices, c.channels, c.timeFrames, dataType(c),
                           c.thumbnailWidth, c.thumbnailHeight})
        append32(out, value);
    for (double value : {c.voxelSizeX, c.voxelSizeY, c.voxelSizeZ, 0.0, 0.0, 0.0})
        appendDouble(out, value);
    append16(out, c.scanType);
    append16(out, 0);
    append32(out, 0);  // TypeOfData: original scan data
    for (int i = 0; i < 4; ++i) append32(out, 0);
    appendDouble(out, c.timeInterval);
    append32(out, 0);
    append32(out, layout.scanInfo);
    out.resize(start + c.infoBlockSize, 0);
    if (c.infoBlockSize >= dimensionPAt + 4) put32(out, start + dimensionPAt, c.positions);
    if (c.infoBlockSize >= dimensionMAt + 4) put32(out, start + dimensionMAt, c.tiles);
    if (c.infoBlockSize >= channelColorsAt + 4)
        put32(out, start + channelColorsAt, layout.channelColors);
    if (c.infoBlockSize >= timeStampsAt + 4) put32(out, start + timeStampsAt, layout.timeStamps);
}

Bytes scanInfoOf(const LsmContent& c) {
    return c.rawScanInfo.empty() ? scanInfoTree(c.scanInfo) : c.rawScanInfo;
}

Bytes channelColorsOf(const LsmContent& c) {
    if (!c.rawChannelColors.empty()) return c.rawChannelColors;
    return c.channelColors.empty() ? Bytes{} : channelColorsBlock(c.channelColors);
}

Bytes timeStampsOf(const LsmContent& c) {
    if (!c.rawTimeStamps.empty()) return c.rawTimeStamps;
    return c.timeStamps.empty() ? Bytes{} : timeStampsBlock(c.timeStamps);
}

// Places everything in front of the pixel data; the strips are placed as they are written.
void planLayout(const LsmContent& c, LsmLayout& layout) {
    if (c.slices == 0 || c.channels == 0 || c.positions == 0 ||
        (!c.channelBits.empty() && c.channelBits.size() != c.channels))
        throw std::invalid_argument("inconsistent LSM content");
    layout = LsmLayout{};
    layout.firstDirectory = 8;
    layout.planeBytes = planeSize(c, 0);
    layout.planeStride = uint64_t{c.thumbnailWidth} * c.thumbnailHeight;
    for (uint32_t ch = 0; ch < c.channels; ++ch) layout.planeStride += planeSize(c, ch);
    const uint32_t images = imageCount(c);
    uint32_t position = layout.firstDirectory;
    for (uint32_t image = 0; image < images; ++image) {
        layout.directories.push_back(position);
        position += directorySize(imageEntries(c, image == 0));
        layout.directories.push_back(position);
        position += directorySize(thumbnailEntries(c));
    }
    layout.lsmEntry = layout.firstDirectory + 2 + (imageEntries(c, true) - 1) * tiffEntrySize;
    position += arraysSize(c) * images;
    layout.lsmInfo = position;
    position += c.infoBlockSize;
    layout.scanInfo = position;
    position += static_cast<uint32_t>(scanInfoOf(c).size());
    const auto colorsSize = static_cast<uint32_t>(channelColorsOf(c).size());
    layout.channelColors = colorsSize > 0 ? position : 0;
    position += colorsSize;
    const auto stampsSize = static_cast<uint32_t>(timeStampsOf(c).size());
    layout.timeStamps = stampsSize > 0 ? position : 0;
    layout.pixelData = position + stampsSize;
    layout.fileSize = layout.pixelData;
    layout.imageStrips.assign(images, std::vector<uint64_t>(c.channels));
    layout.imageStripBytes = layout.imageStrips;
    layout.thumbnailStrips.assign(images, 0);
    layout.thumbnailStripBytes = layout.thumbnailStrips;
}

// Everything in front of the pixel data, with the strips as placed in the layout.
Bytes metadata(const LsmContent& c, const LsmLayout& layout) {
    Bytes out;
    out.push_back('I');
    out.push_back('I');
    append16(out, 42);
    append32(out, layout.firstDirectory);
    const uint32_t images = imageCount(c);
    const uint32_t arraysStart = layout.directories.back() + directorySize(thumbnailEntries(c));
    for (uint32_t image = 0; image < images; ++image) {
        const uint32_t nextImage = image + 1 < images ? layout.directories[2 * image + 2] : 0;
        appendImageDirectory(out, c, layout, arraysStart + image * arraysSize(c), image,
                             layout.directories[2 * image + 1]);
        appendThumbnailDirectory(out, c, layout, image, nextImage);
    }
    for (uint32_t image = 0; image < images; ++image) appendImageArrays(out, c, layout, image);
    appendLsmInfo(out, c, layout);
    for (const Bytes& block : {scanInfoOf(c), channelColorsOf(c), timeStampsOf(c)})
        out.insert(out.end(), block.begin(), block.end());
    return out;
}

Bytes thumbnailData(const LsmContent& c, uint32_t image) {
    return Bytes(uint64_t{c.thumbnailWidth} * c.thumbnailHeight, static_cast<uint8_t>(image));
}

// The planes of a channel back to back, in image order: the strip of an image holding them all.
Bytes allPlanes(const LsmContent& c, uint32_t channel) {
    Bytes strip;
    for (uint32_t p = 0; p < c.positions; ++p)
        for (uint32_t f = 0; f < frameCount(c); ++f)
            for (uint32_t z = 0; z < c.slices; ++z) {
                const Bytes plane = planeData(c, channel, z, f, p);
                strip.insert(strip.end(), plane.begin(), plane.end());
            }
    return strip;
}

// Hands over the pixel data in file order (frames outermost, then positions, then slices; per
// image its channel strips and its thumbnail's), noting in the layout where each strip lies.
void putPixelData(const LsmContent& c, LsmLayout& layout,
                  const std::function<void(const Bytes&)>& put) {
    auto putStrip = [&](const Bytes& raw, uint16_t bits, uint64_t& offset, uint64_t& length) {
        Bytes encoded;
        if (compressed(c)) encoded = lzwStrip(raw, c.predictor, c.width, bits);
        const Bytes& strip = compressed(c) ? encoded : raw;
        offset = layout.fileSize;
        length = strip.size();
        layout.fileSize += strip.size();
        put(strip);
    };
    auto putImage = [&](uint32_t image, const std::function<Bytes(uint32_t)>& channelStrip) {
        auto putThumbnail = [&] {
            putStrip(thumbnailData(c, image), 8, layout.thumbnailStrips[image],
                     layout.thumbnailStripBytes[image]);
        };
        if (c.thumbnailBeforePlanes) putThumbnail();
        for (uint32_t ch = 0; ch < c.channels; ++ch)
            putStrip(channelStrip(ch), channelDepth(c, ch), layout.imageStrips[image][ch],
                     layout.imageStripBytes[image][ch]);
        if (!c.thumbnailBeforePlanes) putThumbnail();
    };
    if (c.planesInOneImage) {
        putImage(0, [&](uint32_t ch) { return allPlanes(c, ch); });
        return;
    }
    for (uint32_t f = 0; f < frameCount(c); ++f)
        for (uint32_t p = 0; p < c.positions; ++p)
            for (uint32_t z = 0; z < c.slices; ++z)
                putImage(imageIndex(c, z, f, p),
                         [&](uint32_t ch) { return planeData(c, ch, z, f, p); });
}

// TIFF LZW: codes of 9 to 12 bits, most significant bit first, starting with a Clear; the code
// width grows one code early, as TIFF readers expect; a Clear where the table fills.
constexpr uint32_t lzwClear = 256, lzwEnd = 257, lzwFirst = 258, lzwTableEnd = 4094;

struct LzwOutput {
    Bytes bytes;
    uint64_t bits = 0;
    uint32_t pending = 0;  // bits not yet in bytes
    uint32_t width = 9;
    uint32_t next = lzwFirst;
};

void putCode(LzwOutput& o, uint32_t code) {
    o.bits = o.bits << o.width | code;
    o.pending += o.width;
    while (o.pending >= 8) {
        o.pending -= 8;
        o.bytes.push_back(static_cast<uint8_t>(o.bits >> o.pending));
    }
}

// Counts the table entry made after a code; false where the table filled and was cleared.
bool countEntry(LzwOutput& o) {
    if (++o.next == lzwTableEnd) {
        putCode(o, lzwClear);
        o.next = lzwFirst;
        o.width = 9;
        return false;
    }
    if (o.next == 1u << o.width) ++o.width;
    return true;
}

Bytes lzwEncode(const Bytes& data) {
    LzwOutput o;
    // Open-addressed table from (prefix code, byte) to code; keys stored plus one, 0 is empty.
    constexpr uint32_t slots = 1u << 13;
    std::vector<uint32_t> keys(slots), values(slots);
    auto slotOf = [&](uint32_t key) {
        uint32_t slot = (key * 2654435761u) >> 19;
        while (keys[slot] != 0 && keys[slot] != key + 1) slot = (slot + 1) & (slots - 1);
        return slot;
    };
    putCode(o, lzwClear);
    uint32_t prefix = data.empty() ? 0 : data[0];
    for (size_t i = 1; i < data.size(); ++i) {
        const uint32_t key = prefix << 8 | data[i];
        const uint32_t slot = slotOf(key);
        if (keys[slot] != 0) {
            prefix = values[slot];
            continue;
        }
        putCode(o, prefix);
        keys[slot] = key + 1;
        values[slot] = o.next;
        if (!countEntry(o)) std::fill(keys.begin(), keys.end(), 0);
        prefix = data[i];
    }
    if (!data.empty()) {
        putCode(o, prefix);
        countEntry(o);
    }
    putCode(o, lzwEnd);
    if (o.pending > 0) o.bytes.push_back(static_cast<uint8_t>(o.bits << (8 - o.pending)));
    return o.bytes;
}

// Predictor 2: every sample of a row less the one before it, little-endian samples.
Bytes differenced(const Bytes& raw, uint32_t width, uint16_t bits) {
    Bytes out = raw;
    const size_t sampleBytes = bits / 8u, row = size_t{width} * sampleBytes;
    for (size_t start = 0; row > 0 && start + row <= out.size(); start += row)
        for (size_t i = row; i > sampleBytes; ) {
            i -= sampleBytes;
            uint32_t value = 0, before = 0;
            for (size_t b = 0; b < sampleBytes; ++b) {
                value |= uint32_t{raw[start + i + b]} << 8 * b;
                before |= uint32_t{raw[start + i - sampleBytes + b]} << 8 * b;
            }
            for (size_t b = 0; b < sampleBytes; ++b)
                out[start + i + b] = static_cast<uint8_t>((value - before) >> 8 * b);
        }
    return out;
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

Bytes planeData(const LsmContent& c, uint32_t channel, uint32_t z, uint32_t frame,
                uint32_t position) {
    Bytes plane(planeSize(c, channel));
    // Distinct bytes per channel, image and seed, so that a misplaced plane shows.
    const uint32_t base =
        channel * 71u + imageIndex(c, z, frame, position) * 13u + c.seed * 101u;
    for (size_t i = 0; i < plane.size(); ++i)
        plane[i] = static_cast<uint8_t>(base + i * 7u + (i >> 8) * 3u);
    if (c.noisy)
        // Noise in the low bits of every sample, as in recorded images: even-numbered bytes
        // hold the low byte of 16-bit samples.
        for (size_t i = 0; i < plane.size(); i += c.bitsPerSample == 16 ? 2 : 1) {
            uint32_t hash = static_cast<uint32_t>(i + base) * 2654435761u;
            hash ^= hash >> 15;
            hash *= 2246822519u;
            plane[i] = static_cast<uint8_t>((plane[i] & 0x80u) | (hash >> 25));
        }
    return plane;
}

Bytes lzwStrip(const Bytes& raw, uint16_t predictor, uint32_t width, uint16_t bits) {
    return lzwEncode(predictor == 2 ? differenced(raw, width, bits) : raw);
}

Bytes buildLsmFile(const LsmContent& content, LsmLayout* layout) {
    LsmLayout local;
    LsmLayout& where = layout ? *layout : local;
    planLayout(content, where);
    Bytes out(where.pixelData);
    putPixelData(content, where,
                 [&](const Bytes& part) { out.insert(out.end(), part.begin(), part.end()); });
    const Bytes front = metadata(content, where);
    std::copy(front.begin(), front.end(), out.begin());
    return out;
}

void writeLsmFile(const std::string& path, const LsmContent& content) {
    LsmLayout layout;
    planLayout(content, layout);
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) throw std::runtime_error("cannot create " + path);
    auto put = [&](const Bytes& bytes) {
        if (std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size())
            throw std::runtime_error("cannot write " + path);
    };
    if (std::fseek(file, static_cast<long>(layout.pixelData), SEEK_SET) != 0)
        throw std::runtime_error("cannot seek in " + path);
    putPixelData(content, layout, put);
    std::rewind(file);
    put(metadata(content, layout));
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

namespace {

// One track of one detector without flags, lit by every wavelength.
void appendDefaultTrack(Bytes& tree, const std::vector<double>& wavelengths) {
    appendScanBlockStart(tree, 0x40000000);  // track
    appendScanInteger(tree, 0x40000001, 1);  // multiplex type
    appendScanBlockStart(tree, 0x60000000);  // detection channels
    appendScanBlockStart(tree, 0x70000000);  // detection channel
    appendScanDouble(tree, 0x70000003, 650.0);  // detector gain
    appendScanText(tree, 0x70000014, "Ch1");
    appendScanBlockEnd(tree);
    appendScanBlockEnd(tree);
    appendScanBlockStart(tree, 0x80000000);  // illumination channels
    for (double wavelength : wavelengths) {
        appendScanBlockStart(tree, 0x90000000);
        appendScanText(tree, 0x90000001, "Laser");
        appendScanDouble(tree, 0x90000002, 50.0);  // power
        appendScanDouble(tree, 0x90000003, wavelength);
        appendScanBlockEnd(tree);
    }
    appendScanBlockEnd(tree);
    appendScanBlockEnd(tree);
}

void appendDetector(Bytes& tree, const DetectorContent& d) {
    appendScanBlockStart(tree, 0x70000000);
    appendScanDouble(tree, 0x70000003, 650.0);  // detector gain
    if (d.pinholeDiameter > 0) appendScanDouble(tree, 0x70000009, d.pinholeDiameter);
    appendScanInteger(tree, 0x7000000B, static_cast<uint32_t>(d.acquire));
    appendScanText(tree, 0x70000010, d.filterName);
    appendScanText(tree, 0x70000014, d.channelName);
    if (d.bandStop > 0) {
        appendScanDouble(tree, 0x70000022, d.bandStart);
        appendScanDouble(tree, 0x70000023, d.bandStop);
    }
    appendScanText(tree, 0x70000026, d.dyeName);
    appendScanBlockEnd(tree);
}

void appendTrack(Bytes& tree, const TrackContent& track) {
    appendScanBlockStart(tree, 0x40000000);
    appendScanInteger(tree, 0x40000001, 1);  // multiplex type
    appendScanInteger(tree, 0x40000006, static_cast<uint32_t>(track.acquire));
    appendScanText(tree, 0x4000000C, track.name);
    appendScanBlockStart(tree, 0x60000000);
    for (const DetectorContent& detector : track.detectors) appendDetector(tree, detector);
    appendScanBlockEnd(tree);
    appendScanBlockStart(tree, 0x80000000);
    for (const LaserContent& laser : track.lasers) {
        appendScanBlockStart(tree, 0x90000000);
        appendScanText(tree, 0x90000001, "Laser");
        appendScanDouble(tree, 0x90000003, laser.wavelength);
        appendScanInteger(tree, 0x90000004, static_cast<uint32_t>(laser.acquire));
        appendScanBlockEnd(tree);
    }
    appendScanBlockEnd(tree);
    appendScanBlockEnd(tree);
}

}  // namespace

Bytes scanInfoTree(const ScanInfoContent& s) {
    Bytes tree;
    appendScanBlockStart(tree, 0x10000000);  // recording
    appendScanText(tree, 0x10000001, s.name);
    appendScanText(tree, 0x10000002, s.description);
    appendScanText(tree, 0x10000003, s.notes);
    appendScanText(tree, 0x10000004, s.objective);
    if (s.hasStartTime) appendScanDouble(tree, 0x10000036, s.startTime);
    appendScanBlockStart(tree, 0x20000000);  // tracks
    if (s.tracks.empty())
        appendDefaultTrack(tree, s.wavelengths);
    else
        for (const TrackContent& track : s.tracks) appendTrack(tree, track);
    appendScanBlockEnd(tree);
    appendScanBlockEnd(tree);
    return tree;
}

Bytes channelColorsBlock(const std::vector<ChannelColorContent>& channels) {
    constexpr uint32_t colorsStart = 40;  // after the header and 16 reserved bytes
    const auto count = static_cast<uint32_t>(channels.size());
    Bytes block(colorsStart, 0);
    put32(block, 4, count);
    put32(block, 8, count);
    put32(block, 12, colorsStart);
    put32(block, 16, colorsStart + 4 * count);
    for (const ChannelColorContent& channel : channels)
        block.insert(block.end(), {channel.red, channel.green, channel.blue, 0});
    for (const ChannelColorContent& channel : channels) {
        append32(block, static_cast<uint32_t>(channel.name.size() + 1));
        block.insert(block.end(), channel.name.begin(), channel.name.end());
        block.push_back(0);
    }
    put32(block, 0, static_cast<uint32_t>(block.size()));
    return block;
}

Bytes timeStampsBlock(const std::vector<double>& stamps) {
    Bytes block;
    append32(block, static_cast<uint32_t>(8 + 8 * stamps.size()));
    append32(block, static_cast<uint32_t>(stamps.size()));
    for (double stamp : stamps) appendDouble(block, stamp);
    return block;
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
