// The TIFF container walk and the LSM information block.
#include "lsm_reader.h"

#include "bounded_reads.h"

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

namespace lsm {

namespace {

const char* const couldNotOpenFile = "Could not open file.\nTerminating...";
const char* const allocationInRead = "Could not allocate memory in read()!\nTerminating...";
const char* const allocationInCharread =
    "Could not allocate memory in charread()!\nTerminating...";
const char* const unknownReadKind = "None recognised type in read().\nTerminating...";
const char* const tiffTypeNotSupported = "Tiff type not supported! - Not LSM! (1)\nTerminating...";
const char* const tiffTypeNotSupportedOutOfEntry = "Tiff type not supported!2\nTerminating...";
const char* const tiffTypeNotSupportedInEntry = "Tiff type not supported!3\nTerminating...";
const char* const lsmTagNotFound = "LSM TAG nr (34412) WAS NOT FOUND !!!!!\nTerminating....";
const char* const lsmTagNotByte = "LSM TAG type WAS NOT TIF_BYTE !!!!!\nTerminating....";
const char* const unexpectedEndOfFile =
    "Unexpected end of file: the file is shorter than its structure says.\nTerminating...";
const char* const readError = "Read error in the input file.\nTerminating...";
const char* const seekFailed = "Could not seek to an offset in the input file.\nTerminating...";
const char* const arraysBeyondFile =
    "The directory's value arrays hold more bytes than the file.\nTerminating...";
const char* const dataPastEndOfFile =
    "A value array or text runs past the end of the file.\nTerminating...";

constexpr int32_t lsmTag = 34412;
constexpr int32_t tiffTypeByte = 1;
constexpr int32_t tiffTypeAscii = 2;
constexpr int32_t tiffTypeShort = 3;
constexpr int32_t tiffTypeLong = 4;
constexpr int32_t tiffTypeRational = 5;
constexpr int32_t bitsPerSampleTag = 258;
constexpr int32_t stripOffsetsTag = 273;
constexpr int32_t positionsField = 264;  // byte positions in the information block
constexpr int32_t tilesField = 268;

}  // namespace

void readExact(FILE* stream, void* buffer, size_t length) {
    if (length == 0) return;
    if (std::fread(buffer, 1, length, stream) != length)
        fail(std::ferror(stream) ? readError : unexpectedEndOfFile);
}

int64_t fileSize(FILE* stream) {
    struct stat status;
    if (fstat(fileno(stream), &status) != 0) fail(readError);
    return static_cast<int64_t>(status.st_size);
}

int64_t currentPosition(FILE* stream) {
    const off_t position = ftello(stream);
    if (position < 0) fail(seekFailed);
    return static_cast<int64_t>(position);
}

void seekTo(FILE* stream, int64_t position) {
    // Even a seek within the stream's buffer costs a system call, and most targets are where
    // the stream already is.
    if (currentPosition(stream) == position) return;
    if (fseeko(stream, static_cast<off_t>(position), SEEK_SET) != 0) fail(seekFailed);
}

void requireBytesInFile(FILE* stream, int64_t size, uint64_t length) {
    const int64_t left = size - currentPosition(stream);
    if (left < 0 || length > static_cast<uint64_t>(left)) fail(dataPastEndOfFile);
}

int32_t readInt(FILE* stream, char kind) {
    return toInt32(read(stream, kind == 'u' || kind == 's' ? 2 : 4, 1, kind));
}

std::string readText(FILE* stream, int64_t fileBytes, uint64_t length) {
    requireBytesInFile(stream, fileBytes, length);
    char* buffer = static_cast<char*>(std::malloc(length ? length : 1));
    if (!buffer) fail(allocationInCharread);
    readExact(stream, buffer, length);
    const void* nul = std::memchr(buffer, 0, length);
    const size_t textLength =
        nul ? static_cast<size_t>(static_cast<const char*>(nul) - buffer) : length;
    std::string text(buffer, textLength);
    std::free(buffer);
    return text;
}

namespace {

uint32_t littleEndian32(const unsigned char* bytes) {
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

uint16_t littleEndian16(const unsigned char* bytes) {
    return static_cast<uint16_t>(bytes[0] | bytes[1] << 8);
}

int elementSizeOfTiffType(int32_t type) {
    switch (type) {
        case tiffTypeByte:
        case tiffTypeAscii: return 1;
        case tiffTypeShort: return 2;
        case tiffTypeLong: return 4;
        case tiffTypeRational: return 8;
        default: fail(tiffTypeNotSupported);
    }
}

// Appends count values of kind read from the offset that the entry's value field holds.
void readValuesAtOffset(FILE* stream, int64_t fileBytes, int32_t offset, int32_t count, int size,
                        char kind, EntryValueList& values) {
    seekToFileOffset(stream, offset);
    requireBytesInFile(stream, fileBytes,
                       static_cast<uint64_t>(count) * static_cast<uint64_t>(size));
    for (int32_t i = 0; i < count; ++i) values.push_back(readInt(stream, kind));
}

// readIfdEntry within a file of fileBytes bytes.
void readEntry(FILE* stream, int64_t fileBytes, int32_t& tag, int32_t& type, int32_t& count,
               EntryValueList& values) {
    const int64_t entryStart = currentPosition(stream);
    tag = readInt(stream, 'u');
    type = readInt(stream, 'u');
    count = readInt(stream, 'l');
    const int size = elementSizeOfTiffType(type);
    const int64_t byteCount = static_cast<int64_t>(count) * size;
    if (count > 1 && byteCount > 4) {
        // The value field holds the offset of the values.
        if (type == tiffTypeShort) {
            const int32_t offset = readInt(stream, 'l');
            readValuesAtOffset(stream, fileBytes, offset, count, size, 'u', values);
        } else if (type == tiffTypeLong) {
            const int32_t offset = readInt(stream, 'l');
            readValuesAtOffset(stream, fileBytes, offset, count, size, 'l', values);
        } else if (type == tiffTypeByte) {
            values.push_back(readInt(stream, 'l'));  // the offset itself; the bytes are not read
        } else {
            fail(tiffTypeNotSupportedOutOfEntry);
        }
    } else if (count > 1) {
        // Up to four bytes of values inside the entry; only SHORT values are kept.
        if (type == tiffTypeShort)
            for (int32_t i = 0; i < count; ++i) values.push_back(readInt(stream, 'u'));
    } else {
        // A count of 0 or 1 still yields the value field.
        if (type == tiffTypeShort)
            values.push_back(readInt(stream, 'u'));
        else if (type == tiffTypeLong || type == tiffTypeByte)
            values.push_back(readInt(stream, 'l'));
        else
            fail(tiffTypeNotSupportedInEntry);
    }
    seekTo(stream, entryStart + 12);
}

bool isConvertedDepth(int32_t bits) { return bits == 8 || bits == 16; }

// Readers of the field take the two values of a two-channel BitsPerSample entry as stored at an
// offset, as some LSM writers store them, though TIFF keeps them inside the entry. Values that
// are not both depths are read as that offset, where it lies in the file and holds two depths.
void takeTwoDepthsStoredApart(FILE* stream, int64_t fileBytes, EntryValueList& values) {
    if (values.size() != 2 || (isConvertedDepth(values[0]) && isConvertedDepth(values[1])))
        return;
    const int64_t offset = static_cast<int64_t>(static_cast<uint32_t>(values[0]) |
                                                static_cast<uint32_t>(values[1]) << 16);
    if (offset > fileBytes - 4) return;
    const int64_t after = currentPosition(stream);
    seekTo(stream, offset);
    const int32_t first = readInt(stream, 'u'), second = readInt(stream, 'u');
    seekTo(stream, after);
    if (isConvertedDepth(first) && isConvertedDepth(second)) values = {first, second};
}

// The value arrays that a directory's reader keeps whole, where asked.
struct KeptArrays {
    StripOffsetList* stripOffsets = nullptr;
    EntryValueList* bitsPerSample = nullptr;
};

// Reads one directory entry into a record, keeping the arrays asked for. arrayBytes counts the
// bytes of the directory's value arrays read at offsets: entries of a real file have arrays of
// their own, so more than the file holds means entries that share one array over and over, which
// would make reading them take without end.
void readDirectoryEntry(FILE* stream, int64_t fileBytes, TiffDirectory& directory,
                        const KeptArrays& kept, uint64_t& arrayBytes) {
    int32_t tag = 0, type = 0, count = 0;
    EntryValueList values;
    readEntry(stream, fileBytes, tag, type, count, values);
    if (tag == bitsPerSampleTag && type == tiffTypeShort && count == 2)
        takeTwoDepthsStoredApart(stream, fileBytes, values);
    const uint64_t valueBytes = values.size() * static_cast<uint64_t>(elementSizeOfTiffType(type));
    if (valueBytes > 4) {
        arrayBytes += valueBytes;
        if (arrayBytes > static_cast<uint64_t>(fileBytes)) fail(arraysBeyondFile);
    }
    if (tag == stripOffsetsTag && kept.stripOffsets)
        kept.stripOffsets->insert(kept.stripOffsets->end(), values.begin(), values.end());
    if (tag == bitsPerSampleTag && kept.bitsPerSample)
        kept.bitsPerSample->insert(kept.bitsPerSample->end(), values.begin(), values.end());
    directory.push_back({tag, type, count, values.empty() ? 0 : values[0]});
}

}  // namespace

void fail(const char* message) {
    std::fputs(message, stderr);
    std::fputc('\n', stderr);
    std::fflush(stderr);
    std::exit(1);
}

FILE* openLsmFile(const char* fileName) {
    FILE* stream = std::fopen(fileName, "rb");
    if (!stream) fail(couldNotOpenFile);
    return stream;
}

int32_t toInt32(double value) {
    // Outside the 64-bit range (only a float64 could be) the low 32 bits are all zero.
    if (!(value > -9.2e18 && value < 9.2e18)) return 0;
    const auto whole = static_cast<int64_t>(value);
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(whole)));
}

void seekToFileOffset(FILE* stream, int32_t offset) {
    seekTo(stream, static_cast<int64_t>(static_cast<uint32_t>(offset)));
}

double read(FILE* stream, int size, int count, char kind) {
    if (kind != 'u' && kind != 'l' && kind != 's' && kind != 't' && kind != 'f')
        fail(unknownReadKind);
    const int width = kind == 'f' ? 8 : kind == 'l' || kind == 't' ? 4 : 2;
    if (size < width || count < 1) fail(unknownReadKind);
    const size_t length = static_cast<size_t>(size) * static_cast<size_t>(count);
    unsigned char small[8];
    unsigned char* buffer = small;
    if (length > sizeof small) {
        requireBytesInFile(stream, fileSize(stream), length);
        buffer = static_cast<unsigned char*>(std::malloc(length));
        if (!buffer) fail(allocationInRead);
    }
    readExact(stream, buffer, length);
    double value = 0;
    switch (kind) {
        case 'u': value = littleEndian16(buffer); break;
        case 's': value = static_cast<int16_t>(littleEndian16(buffer)); break;
        case 'l': value = littleEndian32(buffer); break;
        case 't': value = static_cast<int32_t>(littleEndian32(buffer)); break;
        case 'f': {
            const uint64_t bits =
                littleEndian32(buffer) | static_cast<uint64_t>(littleEndian32(buffer + 4)) << 32;
            std::memcpy(&value, &bits, sizeof value);
            break;
        }
    }
    if (buffer != small) std::free(buffer);
    return value;
}

std::string charread(FILE* stream, int64_t size, int64_t count) {
    if (size < 0 || count < 0) fail(dataPastEndOfFile);
    return readText(stream, fileSize(stream),
                    static_cast<uint64_t>(size) * static_cast<uint64_t>(count));
}

void readIfdEntry(FILE* stream, int32_t& tag, int32_t& type, int32_t& count,
                  EntryValueList& values) {
    readEntry(stream, fileSize(stream), tag, type, count, values);
}

int32_t readLsmTagEntry(FILE* stream) {
    if (readInt(stream, 'u') != lsmTag) fail(lsmTagNotFound);
    if (readInt(stream, 'u') != tiffTypeByte) fail(lsmTagNotByte);
    readInt(stream, 'l');  // the count is not used
    return readInt(stream, 'l');
}

int32_t readTiffHeader(FILE* stream, const TiffHeaderMessages& messages) {
    if (charread(stream, 1, 2) != "II") fail(messages.notLittleEndian);
    if (readInt(stream, 'u') != 42) fail(messages.notTiff);
    const int32_t firstDirectoryOffset = readInt(stream, 'l');
    seekToFileOffset(stream, firstDirectoryOffset);
    return firstDirectoryOffset;
}

int32_t readFirstDirectory(FILE* stream, DirectoryList& directories,
                           StripOffsetList* stripOffsets, EntryValueList* bitsPerSample) {
    const int32_t entryCount = readInt(stream, 'u');
    const int64_t fileBytes = fileSize(stream);
    TiffDirectory directory;
    uint64_t arrayBytes = 0;
    for (int32_t i = 1; i < entryCount; ++i)
        readDirectoryEntry(stream, fileBytes, directory, {stripOffsets, bitsPerSample},
                           arrayBytes);
    directories.push_back(directory);
    return readLsmTagEntry(stream);
}

namespace {

// Reads the directory at the stream position; returns its next-directory field, which it leaves
// the stream after.
uint32_t readDirectoryHere(FILE* stream, int64_t fileBytes, TiffDirectory& directory,
                           StripOffsetList* stripOffsets) {
    const int32_t entryCount = readInt(stream, 'u');
    uint64_t arrayBytes = 0;
    for (int32_t i = 0; i < entryCount; ++i)
        readDirectoryEntry(stream, fileBytes, directory, {stripOffsets, nullptr}, arrayBytes);
    return static_cast<uint32_t>(readInt(stream, 'l'));
}

}  // namespace

void readFollowingDirectories(FILE* stream, int32_t nextDirectoryOffset,
                              DirectoryList& directories, int directoryCount) {
    seekToFileOffset(stream, nextDirectoryOffset);
    const int64_t fileBytes = fileSize(stream);
    for (int d = 0; d < directoryCount; ++d) {
        TiffDirectory directory;
        readDirectoryHere(stream, fileBytes, directory, nullptr);
        directories.push_back(directory);
    }
}

uint32_t readDirectoryAt(FILE* stream, int64_t offset, TiffDirectory& directory,
                         StripOffsetList& stripOffsets) {
    seekTo(stream, offset);
    return readDirectoryHere(stream, fileSize(stream), directory, &stripOffsets);
}

int32_t entryValue(const TiffDirectory& directory, int32_t tag, int32_t absent) {
    for (const TiffEntryRecord& entry : directory)
        if (entry.tag == tag) return entry.firstValue;
    return absent;
}

PositionsAndTiles readPositionsAndTiles(FILE* stream, int32_t offset, int32_t structureSize) {
    PositionsAndTiles counts;
    const auto readCount = [&](int32_t field) {
        seekTo(stream, int64_t{static_cast<uint32_t>(offset)} + field);
        return std::max(readInt(stream, 't'), int32_t{1});
    };
    if (structureSize >= positionsField + 4) counts.positions = readCount(positionsField);
    if (structureSize >= tilesField + 4) counts.tiles = readCount(tilesField);
    return counts;
}

void readLsmInfo(FILE* stream, int32_t offset, LsmInfo& info) {
    // Kind of each field in block order; integer fields pass the integer conversion rule.
    static const char fieldKinds[LsmInfoFieldCount + 1] =
        "lttttttttt" "ffffff" "uu" "lllll" "f" "llllllll" "ffff" "lllllll" "f" "ll";
    seekToFileOffset(stream, offset);
    for (int field = 0; field < LsmInfoFieldCount; ++field) {
        const char kind = fieldKinds[field];
        if (kind == 'f')
            info.push_back(read(stream, 8, 1, 'f'));
        else
            info.push_back(readInt(stream, kind));
    }
}

}  // namespace lsm
