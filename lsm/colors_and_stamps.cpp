// The information block's blocks that only decorate the image: the channels' display colours and
// names, and the frames' time stamps. Their content is checked before it is read and a block
// that does not hold together is left out, so nothing in it can end the run.
#include "bounded_reads.h"
#include "lsm_reader.h"

namespace lsm {

namespace {

constexpr int64_t colorsHeaderBytes = 24;
constexpr int64_t colorBytes = 4;
constexpr int64_t nameLengthBytes = 4;
constexpr int64_t stampsHeaderBytes = 8;
constexpr int64_t stampBytes = 8;

// Whether length bytes from start lie within the first end bytes; false for negative values.
bool liesWithin(int64_t start, int64_t length, int64_t end) {
    return start >= 0 && length >= 0 && start <= end && length <= end - start;
}

// The block's position in the file: offsets are unsigned 32-bit values.
int64_t blockStart(int32_t offset) {
    return int64_t{static_cast<uint32_t>(offset)};
}

// The names from namesAt on (from the block's start), each of them within the block's size
// bytes; false where one is not.
bool readChannelNames(FILE* stream, int64_t fileBytes, int64_t start, int64_t size, int64_t namesAt,
                      int32_t count, std::vector<std::string>& names) {
    int64_t at = namesAt;
    for (int32_t channel = 0; channel < count; ++channel) {
        if (!liesWithin(at, nameLengthBytes, size)) return false;
        seekTo(stream, start + at);
        const int64_t length = readInt(stream, 't');
        at += nameLengthBytes;
        if (!liesWithin(at, length, size)) return false;
        names.push_back(readText(stream, fileBytes, static_cast<uint64_t>(length)));
        at += length;
    }
    return true;
}

}  // namespace

ChannelColors readChannelColors(FILE* stream, int32_t offset, int32_t channelCount) {
    const int64_t start = blockStart(offset);
    const int64_t fileBytes = fileSize(stream);
    if (start == 0 || channelCount < 1 || !liesWithin(start, colorsHeaderBytes, fileBytes))
        return {};
    seekTo(stream, start);
    const int64_t size = readInt(stream, 't');
    const int32_t colorCount = readInt(stream, 't');
    const int32_t nameCount = readInt(stream, 't');
    const int64_t colorsAt = readInt(stream, 't');
    const int64_t namesAt = readInt(stream, 't');
    // The counts agree before they bound anything: the colours' bytes then bound the lists.
    if (colorCount != channelCount || nameCount != channelCount) return {};
    if (size < colorsHeaderBytes || !liesWithin(start, size, fileBytes)) return {};
    if (colorsAt < colorsHeaderBytes || !liesWithin(colorsAt, colorBytes * colorCount, size) ||
        namesAt < colorsHeaderBytes)
        return {};
    ChannelColors block;
    seekTo(stream, start + colorsAt);
    for (int32_t channel = 0; channel < channelCount; ++channel) {
        unsigned char color[colorBytes];  // red, green, blue, 0
        readExact(stream, color, sizeof color);
        block.colors.push_back({color[0], color[1], color[2]});
    }
    if (!readChannelNames(stream, fileBytes, start, size, namesAt, channelCount, block.names))
        return {};
    return block;
}

std::vector<double> readTimeStamps(FILE* stream, int32_t offset) {
    const int64_t start = blockStart(offset);
    const int64_t fileBytes = fileSize(stream);
    if (start == 0 || !liesWithin(start, stampsHeaderBytes, fileBytes)) return {};
    seekTo(stream, start);
    const int64_t size = readInt(stream, 't');
    const int64_t count = readInt(stream, 't');
    if (count < 0 || size != stampsHeaderBytes + stampBytes * count ||
        !liesWithin(start, size, fileBytes))
        return {};
    std::vector<double> stamps(static_cast<size_t>(count));
    for (double& stamp : stamps) stamp = read(stream, 8, 1, 'f');
    return stamps;
}

}  // namespace lsm
