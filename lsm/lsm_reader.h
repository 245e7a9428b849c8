// Reader of LSM files: little-endian TIFF files whose first directory ends with tag 34412.
// Free functions over a stream the caller opened with "rb"; every failure is fatal (message on
// standard error, exit status 1), so no function returns an error.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace lsm {

// One directory entry; values are kept by the integer conversion rule (see toInt32).
struct TiffEntryRecord {
    int32_t tag;
    int32_t type;
    int32_t count;
    int32_t firstValue;  // 0 when the entry yields no value
};

using EntryValueList = std::vector<int32_t>;
using TiffDirectory = std::vector<TiffEntryRecord>;
using DirectoryList = std::vector<TiffDirectory>;
using StripOffsetList = std::vector<int64_t>;
using LsmInfo = std::vector<double>;
using ScanInfoNumbers = std::vector<double>;
using ScanInfoTexts = std::vector<std::string>;

// Positions of the 46 fields of the LSM information block within LsmInfo.
enum LsmInfoField {
    MagicNumber, StructureSize, DimensionX, DimensionY, DimensionZ, DimensionChannels,
    DimensionTime, DataType, ThumbnailX, ThumbnailY, VoxelSizeX, VoxelSizeY, VoxelSizeZ,
    OriginX, OriginY, OriginZ, ScanType, SpectralScan, TypeOfData, OffsetVectorOverlay,
    OffsetInputLut, OffsetOutputLut, OffsetChannelColors, TimeInterval, OffsetChannelDataTypes,
    OffsetScanInformation, OffsetKsData, OffsetTimeStamps, OffsetEventList, OffsetRoi,
    OffsetBleachRoi, OffsetNextRecording, DisplayAspectX, DisplayAspectY, DisplayAspectZ,
    DisplayAspectTime, OffsetMeanOfRoisOverlay, OffsetTopoIsolineOverlay,
    OffsetTopoProfileOverlay, OffsetLinescanOverlay, ToolbarFlags, OffsetChannelWavelength,
    OffsetChannelFactors, ObjectiveSphereCorrection, OffsetUnmixParameters, Reserved224,
    LsmInfoFieldCount
};

// Positions in ScanInfoNumbers: the start date and time, then one wavelength per channel.
enum ScanInfoNumberPosition {
    StartYear, StartMonth, StartDay, StartHour, StartMinute, StartSecond, FirstWavelength
};
// Position in ScanInfoTexts of the objective's name.
constexpr size_t objectiveTextPosition = 3;

// Positions in a directory of LSM files' fixed tag order.
constexpr size_t bitsPerSampleEntry = 3;
constexpr size_t stripOffsetsEntry = 6;

// The caller's two messages for the header tests.
struct TiffHeaderMessages {
    const char* notLittleEndian;
    const char* notTiff;
};

// Writes message, a newline and a flush to standard error, then exits with status 1.
[[noreturn]] void fail(const char* message);

// Opens an LSM file with "rb"; fatal "Could not open file." when it cannot.
FILE* openLsmFile(const char* fileName);

// Integer conversion rule: truncate toward zero, keep the low 32 bits as a signed value.
int32_t toInt32(double value);

// Seeks to an absolute offset given as a 32-bit file value: negative values stand for offsets
// of 2 GiB and more, so the seek takes the unsigned 32-bit value.
void seekToFileOffset(FILE* stream, int32_t offset);

// Reads count elements of size bytes and returns the first interpreted by kind
// ('u' u16, 'l' u32, 's' s16, 't' s32, 'f' float64).
double read(FILE* stream, int size, int count, char kind);

// Reads size * count bytes and returns them up to the first NUL byte.
std::string charread(FILE* stream, int64_t size, int64_t count);

// Reads the 12-byte entry at the stream position, appends its values, leaves the position at the
// entry's start + 12.
void readIfdEntry(FILE* stream, int32_t& tag, int32_t& type, int32_t& count,
                  EntryValueList& values);

// Reads the LSM entry (tag 34412, type BYTE) and returns its value, the information block's
// offset; leaves the position at the entry's end.
int32_t readLsmTagEntry(FILE* stream);

// Tests "II" and 42 with the caller's messages; returns the first directory's offset and leaves
// the stream there.
int32_t readTiffHeader(FILE* stream, const TiffHeaderMessages& messages);

// Reads the first directory (all entries but the last, the LSM entry) into directories, its
// StripOffsets values into stripOffsets and its BitsPerSample values into bitsPerSample (when
// given). Returns the LSM information block's offset and leaves the stream at the directory's
// next-directory field.
int32_t readFirstDirectory(FILE* stream, DirectoryList& directories,
                           StripOffsetList* stripOffsets, EntryValueList* bitsPerSample = nullptr);

// Reads directoryCount directories stored back to back from nextDirectoryOffset on (the
// thumbnail of the first image, then the second image); the stored next-directory offsets are
// not followed.
void readFollowingDirectories(FILE* stream, int32_t nextDirectoryOffset,
                              DirectoryList& directories, int directoryCount = 2);

// Reads the directory at offset into directory and its StripOffsets values into stripOffsets;
// returns its next-directory field, 0 at the end of the chain, and leaves the stream after it.
uint32_t readDirectoryAt(FILE* stream, int64_t offset, TiffDirectory& directory,
                         StripOffsetList& stripOffsets);

// The first value of the directory's entry of tag, or absent where it has none.
int32_t entryValue(const TiffDirectory& directory, int32_t tag, int32_t absent);

// Stage positions (DimensionP) and mosaic tiles (DimensionM), which information blocks of
// StructureSize 268 and 272 or more hold after the 46 fields.
struct PositionsAndTiles {
    int32_t positions = 1;
    int32_t tiles = 1;
};

// Reads them from the block at offset; a block too short to hold one, or a value below 1
// (older files hold 0), counts as 1.
PositionsAndTiles readPositionsAndTiles(FILE* stream, int32_t offset, int32_t structureSize);

// Appends the 46 fields of the information block at offset.
void readLsmInfo(FILE* stream, int32_t offset, LsmInfo& info);

// The tracks of a recording as its scan information describes them. A flag is on where it is
// not 0 (older software writes -1, newer 1) or where the file leaves it out; a text the file
// leaves out is empty, a number absent.
struct DetectionChannel {
    bool acquired = true;
    std::string channelName;  // "ChD" for the transmitted-light detector
    std::string filterName;   // "BP 590-650", "LP 505"
    std::string dyeName;
    std::optional<double> pinholeDiameter;  // micrometres
    std::optional<double> bandStart;        // the detected band, nm
    std::optional<double> bandStop;
};
struct IlluminationChannel {
    bool acquired = true;
    std::optional<double> wavelength;  // nm
};
struct ScanTrack {
    bool acquired = true;
    std::string name;
    std::vector<DetectionChannel> detectionChannels;
    std::vector<IlluminationChannel> illuminationChannels;
};
using ScanInfoTracks = std::vector<ScanTrack>;

// The recording's own texts: its entries Name, Description and Objective at the top level of
// the scan-information tree (entries of those tags deeper in the tree describe other things).
// A text the file leaves out is empty.
struct RecordingTexts {
    std::string name;
    std::string description;
    std::string objective;
};

// Walks the scan-information tree at offset: start times and illumination wavelengths into
// numbers, every text into texts, and where asked the tracks with their detection and
// illumination channels into tracks and the recording's texts into recording. A tree of more
// channels and tracks than any microscope writes leaves tracks empty.
void readScanInfo(FILE* stream, int32_t offset, ScanInfoNumbers& numbers, ScanInfoTexts& texts,
                  ScanInfoTracks* tracks = nullptr, RecordingTexts* recording = nullptr);

// The blocks below only decorate the image, so, unlike everything else the reader reads, a block
// that is absent (offset 0), lies partly outside the file or contradicts itself is left out:
// the functions return empty lists, never fail on its content. Offsets are the information
// block's 32-bit values, taken unsigned as by seekToFileOffset. Both leave the stream anywhere.

struct RgbColor {
    uint8_t red = 0;
    uint8_t green = 0;
    uint8_t blue = 0;
};
// The display colour and the name of every channel, in channel order; both lists channelCount
// long, or both empty.
struct ChannelColors {
    std::vector<RgbColor> colors;
    std::vector<std::string> names;
};

// Reads the channel-colours block at offset (OffsetChannelColors): int32 size, colour count,
// name count, offset of the colours and of the names from the block's start, mono flag; colours
// of 4 bytes (red, green, blue, 0); names one after another, each an int32 length and that many
// bytes ending in a zero byte. Both counts must equal channelCount (DimensionChannels), and
// colours and names lie within the block's size.
ChannelColors readChannelColors(FILE* stream, int32_t offset, int32_t channelCount);

// Reads the time-stamps block at offset (OffsetTimeStamps): int32 size, int32 count, then count
// float64 seconds, one per frame; the size must be 8 + 8 x count.
std::vector<double> readTimeStamps(FILE* stream, int32_t offset);

// Where an image channel was acquired: its detection channel, the track that holds it, and the
// laser that lit it.
struct ChannelAcquisition {
    const ScanTrack* track = nullptr;  // null where the tracks do not tell
    const DetectionChannel* detection = nullptr;
    std::optional<double> laser;  // nm
    bool spectralBin = false;     // one of the channels of a spectral (lambda) image
};

// The detection channels that are on, of the tracks that are on, in file order, each with its
// track's laser where the track pairs them: its one laser in use, or as many lasers in use as
// detection channels on, taken by position. A track's lasers in use are those of a wavelength
// above 0 flagged on, or all of them where none is flagged.
std::vector<ChannelAcquisition> acquiredChannels(const ScanInfoTracks& tracks);

// The acquisition of image channel (counted from 1) of a file of channelCount channels: the
// channel-th acquired channel where their count is channelCount; the one acquired channel for
// every channel of a spectral image; else no detection channel. Without a laser from the tracks,
// the channel-th illumination wavelength of numbers, where it holds one.
ChannelAcquisition acquisitionOfChannel(const std::vector<ChannelAcquisition>& acquired,
                                        const ScanInfoNumbers& numbers, int32_t channelCount,
                                        int channel);

struct CalendarTime {
    int year, month, day, hour, minute, second;
};

// Converts an OLE Automation date (days since 30 December 1899, the fraction the time of day
// forward from midnight, also for negative days) to calendar fields, rounded to the nearest
// second. Returns false outside 1 January 100 to 31 December 9999, or for a value that is not
// a number.
bool oleDateToCalendar(double oleDate, CalendarTime& time);

}  // namespace lsm
