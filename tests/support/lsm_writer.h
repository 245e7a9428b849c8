// Writer of small, exact LSM files for the tests, the built-in sample and the benchmarks.
// Layout as microscopes write it: a little-endian TIFF, per image (position by position, within a
// position frame by frame, within a frame slice by slice) an image directory followed by a
// thumbnail directory, all directories back to back, the LSM entry (34412) last in the first
// directory, the information block and a scan-information tree, then the pixel data: frame by
// frame across positions, per image its channel strips and its thumbnail strip.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace lsmtest {

using Bytes = std::vector<uint8_t>;

// A track of the scan information: its detection channels and its lasers, each with its flag
// (1 on, 0 off, -1 on as older software writes it).
struct DetectorContent {
    std::string channelName = "Ch1";
    int32_t acquire = 1;
    std::string filterName;
    std::string dyeName;
    double pinholeDiameter = 0;  // written where above 0, as the band where its stop is
    double bandStart = 0;
    double bandStop = 0;
};
struct LaserContent {
    double wavelength = 488;
    int32_t acquire = 1;
};
struct TrackContent {
    std::string name = "Track 1";
    int32_t acquire = 1;
    std::vector<DetectorContent> detectors;
    std::vector<LaserContent> lasers;
};

struct ScanInfoContent {
    std::string name = "Image 1";
    std::string description = "Test recording";
    std::string notes = "";
    std::string objective = "Plan-Apochromat 63x/1.40 Oil DIC M27";
    bool hasStartTime = true;
    double startTime = 38854.573;  // OLE Automation date
    std::vector<double> wavelengths = {488.0};
    // When not empty, the tracks written instead of one track of one detector under every
    // wavelength above.
    std::vector<TrackContent> tracks;
};

// A channel's display colour and name in the channel-colours block.
struct ChannelColorContent {
    uint8_t red = 0;
    uint8_t green = 0;
    uint8_t blue = 0;
    std::string name;
};

struct LsmContent {
    uint32_t width = 8;
    uint32_t height = 4;
    uint32_t slices = 1;
    uint32_t channels = 1;
    uint16_t bitsPerSample = 16;
    uint32_t timeFrames = 1;     // 0 is written as such, with one frame's images
    double voxelSizeX = 0.1e-6;  // metres
    double voxelSizeY = 0.1e-6;
    double voxelSizeZ = 0.5e-6;
    double timeInterval = 0;
    uint32_t thumbnailWidth = 2;
    uint32_t thumbnailHeight = 2;
    uint16_t compression = 1;    // 5 LZW-compresses every strip; other values only name it
    uint16_t predictor = 1;      // 2: horizontal differencing before LZW (tag 317 with LZW)
    bool trueByteCounts = false; // else StripByteCounts hold the uncompressed sizes, as microscopes
    bool thumbnailBeforePlanes = false;  // per image the thumbnail's strip before the channels'
    uint32_t positions = 1;      // DimensionP
    uint32_t tiles = 1;          // DimensionM (only written in the block)
    uint32_t infoBlockSize = 228;  // 464 holds DimensionP (byte 264) and DimensionM (byte 268)
    std::vector<uint16_t> channelBits;  // when not empty, the depth of every channel
    bool depthsAtOffset = false;  // two channels' depths at an offset, as old writers store them
    // Every plane inside the first image, as line scans are stored: ImageLength = height x planes,
    // one image and its thumbnail; plane i (the image number below) at StripOffsets[c] + i x plane.
    bool planesInOneImage = false;
    uint16_t scanType = 0;       // 2: line scan
    bool noisy = false;          // noise in the low bits, which compresses as recorded images do
    uint32_t seed = 0;   // varies the pixel values, for example per time point
    ScanInfoContent scanInfo;
    Bytes rawScanInfo;   // when not empty, written instead of the tree made from scanInfo
    // The channel-colours and time-stamps blocks, each written after the scan information with
    // its offset in the information block where not empty; the raw bytes instead where given.
    std::vector<ChannelColorContent> channelColors;
    std::vector<double> timeStamps;  // seconds
    Bytes rawChannelColors;
    Bytes rawTimeStamps;
};

// Where the parts of a built file lie.
struct LsmLayout {
    uint32_t firstDirectory = 0;
    std::vector<uint32_t> directories;  // image and thumbnail directories of every image, in order
    uint32_t lsmEntry = 0;              // start of the LSM entry in the first directory
    uint32_t lsmInfo = 0;
    uint32_t scanInfo = 0;
    uint32_t channelColors = 0;  // 0 where not written
    uint32_t timeStamps = 0;
    uint64_t pixelData = 0;
    uint64_t planeBytes = 0;            // of channel 0, uncompressed
    // Uncompressed files of one position and depth, one image per plane: from one image of a
    // channel to the next. The plane of channel c, slice z, frame f lies at
    // pixelData + (f * slices + z) * planeStride + c * planeBytes.
    uint64_t planeStride = 0;
    uint64_t fileSize = 0;
    // Per full-resolution image in directory order, per channel: the strip's offset and the bytes
    // written there; the same for every image's thumbnail.
    std::vector<std::vector<uint64_t>> imageStrips;
    std::vector<std::vector<uint64_t>> imageStripBytes;
    std::vector<uint64_t> thumbnailStrips;
    std::vector<uint64_t> thumbnailStripBytes;
};

// The time frames whose images are written: timeFrames, or 1 where it is 0.
uint32_t frameCount(const LsmContent& content);

// The bytes of the plane of channel, slice z, time frame and position (all counted from 0), which
// is full-resolution image (position * frames + frame) * slices + z.
Bytes planeData(const LsmContent& content, uint32_t channel, uint32_t z, uint32_t frame = 0,
                uint32_t position = 0);

// A TIFF LZW strip of the bytes, with horizontal differencing of rows of width samples of the
// given depth first where predictor is 2.
Bytes lzwStrip(const Bytes& raw, uint16_t predictor, uint32_t width, uint16_t bits);

// The whole file in memory, with its layout if asked.
Bytes buildLsmFile(const LsmContent& content, LsmLayout* layout = nullptr);

// The same file streamed to disk plane by plane (large files for the benchmarks): the pixel data
// first, the directories last, at the file's start.
void writeLsmFile(const std::string& path, const LsmContent& content);

// OLE Automation date of a calendar date and time.
double oleDate(int year, int month, int day, int hour, int minute, int second);

// Scan-information entries, for trees of the tests' own making.
void appendScanBlockStart(Bytes& bytes, uint32_t tag);
void appendScanBlockEnd(Bytes& bytes);
void appendScanText(Bytes& bytes, uint32_t tag, const std::string& text);
void appendScanDouble(Bytes& bytes, uint32_t tag, double value);
void appendScanInteger(Bytes& bytes, uint32_t tag, uint32_t value);
void appendScanEntry(Bytes& bytes, uint32_t tag, uint32_t type, uint32_t size, const Bytes& data);
Bytes scanInfoTree(const ScanInfoContent& scanInfo);

// The channel-colours block as microscopes write it: 24 bytes of header, 16 reserved, the
// colours, then the names; its size field the block's whole length.
Bytes channelColorsBlock(const std::vector<ChannelColorContent>& channels);
// The time-stamps block: size, count, then the stamps.
Bytes timeStampsBlock(const std::vector<double>& stamps);

// Little-endian values, appended or put at a position.
void append16(Bytes& bytes, uint16_t value);
void append32(Bytes& bytes, uint32_t value);
void appendDouble(Bytes& bytes, double value);
void put16(Bytes& bytes, size_t at, uint16_t value);
void put32(Bytes& bytes, size_t at, uint32_t value);
void putDouble(Bytes& bytes, size_t at, double value);
// A 12-byte TIFF directory entry.
void appendTiffEntry(Bytes& bytes, uint16_t tag, uint16_t type, uint32_t count, uint32_t value);

void writeBytes(const std::string& path, const Bytes& bytes);
Bytes readBytes(const std::string& path);

}  // namespace lsmtest
