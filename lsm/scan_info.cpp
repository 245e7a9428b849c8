// The scan-information tree: start times, illumination wavelengths and texts, and the tracks
// with their detection and illumination channels.
#include <initializer_list>

#include "bounded_reads.h"
#include "lsm_reader.h"

namespace lsm {

namespace {

const char* const scanInfoTypeUnknown = "Data type not defined in LSM! (1)\nTerminating...";

constexpr int32_t scanInfoBlockMarker = 0;
constexpr int32_t scanInfoText = 2;
constexpr int32_t scanInfoIntegers = 4;
constexpr int32_t scanInfoFloats = 5;

constexpr uint32_t endOfBlock = 0xFFFFFFFFu;
constexpr uint32_t recordingName = 0x10000001u;
constexpr uint32_t recordingDescription = 0x10000002u;
constexpr uint32_t recordingObjective = 0x10000004u;
constexpr uint32_t startTimeTag = 0x10000036u;
constexpr uint32_t tracksBlock = 0x20000000u;
constexpr uint32_t trackBlock = 0x40000000u;
constexpr uint32_t trackAcquire = 0x40000006u;
constexpr uint32_t trackName = 0x4000000Cu;
constexpr uint32_t detectionChannelsBlock = 0x60000000u;
constexpr uint32_t detectionChannelBlock = 0x70000000u;
constexpr uint32_t detectionPinholeDiameter = 0x70000009u;
constexpr uint32_t detectionAcquire = 0x7000000Bu;
constexpr uint32_t detectionFilterName = 0x70000010u;
constexpr uint32_t detectionChannelName = 0x70000014u;
constexpr uint32_t detectionBandStart = 0x70000022u;
constexpr uint32_t detectionBandStop = 0x70000023u;
constexpr uint32_t detectionDyeName = 0x70000026u;
constexpr uint32_t illuminationChannelsBlock = 0x80000000u;
constexpr uint32_t illuminationChannelBlock = 0x90000000u;
constexpr uint32_t illuminationWavelength = 0x90000003u;
constexpr uint32_t illuminationAcquire = 0x90000004u;

// The channels lie five levels down (recording, tracks, track, channels, channel); deeper
// blocks are walked without their place being kept.
constexpr int64_t keptLevels = 8;
// Far more tracks and channels than microscopes write, so that a tree of nothing but block
// markers cannot make the lists grow with the file.
constexpr size_t mostKeptBlocks = 65536;

struct TreeWalk {
    int64_t depth = 1;
    uint32_t blocks[keptLevels] = {};  // the tag of the open block at each level, outermost first
    ScanInfoTracks* tracks = nullptr;  // null where not asked for, or after too many blocks
    RecordingTexts* recording = nullptr;  // null where not asked for
    size_t keptBlocks = 0;
};

uint32_t blockAt(const TreeWalk& walk, int64_t level) {
    return level >= 0 && level < keptLevels ? walk.blocks[level] : 0;
}

// Whether the open blocks inside the recording are exactly these, outermost first. Places are
// absolute, so that a block of the same tags nested deeper (inside a channel, say) never
// describes the tracks.
bool atPlace(const TreeWalk& walk, std::initializer_list<uint32_t> outermostFirst) {
    if (walk.depth != static_cast<int64_t>(outermostFirst.size()) + 2) return false;
    int64_t level = 1;
    for (uint32_t tag : outermostFirst)
        if (blockAt(walk, level++) != tag) return false;
    return true;
}

enum class EntryOwner { none, track, detectionChannel, illuminationChannel };

// What the entries at the walk's place describe. A channel's place lies in the track block
// opened last, whose opening made the last track.
EntryOwner ownerOfEntries(const TreeWalk& walk) {
    if (!walk.tracks) return EntryOwner::none;
    if (atPlace(walk, {tracksBlock, trackBlock})) return EntryOwner::track;
    if (atPlace(walk, {tracksBlock, trackBlock, detectionChannelsBlock, detectionChannelBlock}))
        return EntryOwner::detectionChannel;
    if (atPlace(walk,
                {tracksBlock, trackBlock, illuminationChannelsBlock, illuminationChannelBlock}))
        return EntryOwner::illuminationChannel;
    return EntryOwner::none;
}

ScanTrack& currentTrack(TreeWalk& walk) {
    return walk.tracks->back();
}
DetectionChannel& currentDetection(TreeWalk& walk) {
    return currentTrack(walk).detectionChannels.back();
}
IlluminationChannel& currentIllumination(TreeWalk& walk) {
    return currentTrack(walk).illuminationChannels.back();
}

// A block that opens a track or a channel starts a new one.
void openBlock(TreeWalk& walk, uint32_t tag) {
    if (walk.depth >= 1 && walk.depth - 1 < keptLevels) walk.blocks[walk.depth - 1] = tag;
    ++walk.depth;
    const EntryOwner owner = ownerOfEntries(walk);
    if (owner == EntryOwner::none) return;
    if (++walk.keptBlocks > mostKeptBlocks) {
        walk.tracks->clear();
        walk.tracks = nullptr;
        return;
    }
    if (owner == EntryOwner::track) walk.tracks->emplace_back();
    if (owner == EntryOwner::detectionChannel) currentTrack(walk).detectionChannels.emplace_back();
    if (owner == EntryOwner::illuminationChannel)
        currentTrack(walk).illuminationChannels.emplace_back();
}

// The recording's entries lie in the outermost block itself.
void keepRecordingText(TreeWalk& walk, uint32_t tag, const std::string& text) {
    if (!walk.recording || !atPlace(walk, {})) return;
    if (tag == recordingName) walk.recording->name = text;
    if (tag == recordingDescription) walk.recording->description = text;
    if (tag == recordingObjective) walk.recording->objective = text;
}

void keepText(TreeWalk& walk, uint32_t tag, const std::string& text) {
    keepRecordingText(walk, tag, text);
    switch (ownerOfEntries(walk)) {
        case EntryOwner::track:
            if (tag == trackName) currentTrack(walk).name = text;
            break;
        case EntryOwner::detectionChannel: {
            DetectionChannel& channel = currentDetection(walk);
            if (tag == detectionChannelName) channel.channelName = text;
            if (tag == detectionFilterName) channel.filterName = text;
            if (tag == detectionDyeName) channel.dyeName = text;
            break;
        }
        default: break;
    }
}

void keepFlag(TreeWalk& walk, uint32_t tag, int32_t value) {
    const bool on = value != 0;
    switch (ownerOfEntries(walk)) {
        case EntryOwner::track:
            if (tag == trackAcquire) currentTrack(walk).acquired = on;
            break;
        case EntryOwner::detectionChannel:
            if (tag == detectionAcquire) currentDetection(walk).acquired = on;
            break;
        case EntryOwner::illuminationChannel:
            if (tag == illuminationAcquire) currentIllumination(walk).acquired = on;
            break;
        default: break;
    }
}

void keepNumber(TreeWalk& walk, uint32_t tag, double value) {
    switch (ownerOfEntries(walk)) {
        case EntryOwner::detectionChannel: {
            DetectionChannel& channel = currentDetection(walk);
            if (tag == detectionPinholeDiameter) channel.pinholeDiameter = value;
            if (tag == detectionBandStart) channel.bandStart = value;
            if (tag == detectionBandStop) channel.bandStop = value;
            break;
        }
        case EntryOwner::illuminationChannel:
            if (tag == illuminationWavelength) currentIllumination(walk).wavelength = value;
            break;
        default: break;
    }
}

// Skips the data of a scan-information entry after checking that it lies within the file. The
// few bytes of most entries are read past: even a seek within the stream's buffer costs a
// system call.
void skipScanInfoData(FILE* stream, int64_t fileBytes, uint64_t length) {
    requireBytesInFile(stream, fileBytes, length);
    unsigned char skipped[64];
    if (length <= sizeof skipped)
        readExact(stream, skipped, static_cast<size_t>(length));
    else
        seekTo(stream, currentPosition(stream) + static_cast<int64_t>(length));
}

void appendStartTime(double oleDate, ScanInfoNumbers& numbers) {
    CalendarTime time;
    if (!oleDateToCalendar(oleDate, time)) {
        numbers.insert(numbers.end(), 6, -1.0);
        return;
    }
    for (int field : {time.year, time.month, time.day, time.hour, time.minute, time.second})
        numbers.push_back(field);
}

// The first of an entry's values of width bytes, kind as for read; the others are skipped.
// An entry too small to hold one is consumed and ignored.
std::optional<double> readFirstValue(FILE* stream, int64_t fileBytes, uint32_t size, int width,
                                     char kind) {
    const uint64_t valueCount = size / static_cast<uint32_t>(width);
    if (valueCount == 0) return std::nullopt;
    requireBytesInFile(stream, fileBytes, valueCount * static_cast<uint64_t>(width));
    const double first = read(stream, width, 1, kind);
    skipScanInfoData(stream, fileBytes, (valueCount - 1) * static_cast<uint64_t>(width));
    return first;
}

void readScanInfoIntegers(FILE* stream, int64_t fileBytes, uint32_t tag, uint32_t size,
                          TreeWalk& walk) {
    const std::optional<double> first = readFirstValue(stream, fileBytes, size, 4, 't');
    if (first) keepFlag(walk, tag, toInt32(*first));
}

void readScanInfoFloats(FILE* stream, int64_t fileBytes, uint32_t tag, uint32_t size,
                        ScanInfoNumbers& numbers, TreeWalk& walk) {
    const std::optional<double> first = readFirstValue(stream, fileBytes, size, 8, 'f');
    if (!first) return;
    if (tag == startTimeTag) appendStartTime(*first, numbers);
    if (tag == illuminationWavelength) numbers.push_back(*first);
    keepNumber(walk, tag, *first);
}

}  // namespace

void readScanInfo(FILE* stream, int32_t offset, ScanInfoNumbers& numbers, ScanInfoTexts& texts,
                  ScanInfoTracks* tracks, RecordingTexts* recording) {
    seekToFileOffset(stream, offset);
    const int64_t fileBytes = fileSize(stream);
    TreeWalk walk;
    walk.tracks = tracks;
    walk.recording = recording;
    do {
        const auto tag = static_cast<uint32_t>(readInt(stream, 'l'));
        const int32_t type = readInt(stream, 'l');
        const auto size = static_cast<uint32_t>(readInt(stream, 'l'));
        switch (type) {
            case scanInfoBlockMarker:
                if (tag == endOfBlock)
                    --walk.depth;
                else
                    openBlock(walk, tag);
                break;
            case scanInfoText:
                texts.push_back(readText(stream, fileBytes, size));
                keepText(walk, tag, texts.back());
                break;
            case scanInfoIntegers: readScanInfoIntegers(stream, fileBytes, tag, size, walk); break;
            case scanInfoFloats:
                readScanInfoFloats(stream, fileBytes, tag, size, numbers, walk);
                break;
            default: fail(scanInfoTypeUnknown);
        }
    } while (walk.depth != 1);
}

}  // namespace lsm
