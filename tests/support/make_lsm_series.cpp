// Writes a numbered series of LSM files with the tests' writer, one file per time point:
//   make-lsm-series [OPTIONS] PATTERN COUNT WIDTH HEIGHT SLICES CHANNELS BITS [RAWFILE]
// PATTERN holds one run of "?" for the number (cell_t??.lsm gives cell_t01.lsm, ...). Options:
//   -t FRAMES     every file a time lapse of FRAMES frames of SLICES slices each
//   -p POSITIONS  every file of POSITIONS stage positions (in a 464-byte information block)
//   -lzw, -lzw2   LZW-compressed strips, without or with horizontal differencing
//   -true-counts  StripByteCounts holding the compressed lengths
//   -line         every plane inside the first image, as line scans are stored
//   -noisy        noise in the low bits of the pixels, which compresses as recorded images do
//   -tracks       a track per channel (one detector, its laser flagged -1 beside one flagged 0),
//                 then a bleach track, instead of one track lighting one detector with every laser
//   -depths-apart two channels' BitsPerSample values at an offset, as old writers store them
//   -colors       a channel-colours block: red, green, black, blue, ... named "Ch1-T1", ...
//   -stamps       a time-stamps block: frame f at 1000 + 2.5 f seconds
// With RAWFILE, the planes of every file are also written there, in file, position, frame, slice,
// channel order.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "lsm_writer.h"

namespace {

std::string numberedName(const std::string& pattern, unsigned number) {
    std::string name = pattern;
    size_t end = name.rfind('?');
    if (end == std::string::npos) return name;
    for (size_t i = end + 1; i-- > 0 && name[i] == '?'; number /= 10)
        name[i] = static_cast<char>('0' + number % 10);
    return name;
}

constexpr const char* usage =
    "usage: make-lsm-series [-t FRAMES] [-p POSITIONS] [-lzw | -lzw2] [-true-counts] [-line] "
    "[-noisy] [-tracks] [-depths-apart] [-colors] [-stamps] "
    "PATTERN COUNT WIDTH HEIGHT SLICES CHANNELS BITS [RAWFILE]\n";

void appendPlanes(FILE* raw, const lsmtest::LsmContent& content) {
    for (uint32_t p = 0; p < content.positions; ++p)
        for (uint32_t frame = 0; frame < lsmtest::frameCount(content); ++frame)
            for (uint32_t z = 0; z < content.slices; ++z)
                for (uint32_t ch = 0; ch < content.channels; ++ch) {
                    const lsmtest::Bytes plane = lsmtest::planeData(content, ch, z, frame, p);
                    std::fwrite(plane.data(), 1, plane.size(), raw);
                }
}

// A track per channel, then a bleach track: what the tifffile check expects.
std::vector<lsmtest::TrackContent> tracksOf(uint32_t channels) {
    std::vector<lsmtest::TrackContent> tracks(channels + 1);
    for (uint32_t ch = 0; ch < channels; ++ch) {
        lsmtest::TrackContent& track = tracks[ch];
        const std::string n = std::to_string(ch + 1);
        track.name = "Track " + n;
        track.acquire = -1;
        lsmtest::DetectorContent d;
        d.channelName = "Ch" + n;
        d.acquire = -1;
        d.filterName = "BP 500-550";
        d.dyeName = "Dye " + n;
        d.pinholeDiameter = 40 + ch;
        d.bandStart = 400 + 100 * ch;
        d.bandStop = 450 + 100 * ch;
        track.detectors = {d};
        track.lasers = {{405, 0}, {488.0 + 10 * ch, -1}};
    }
    tracks.back().name = "Bleach";
    tracks.back().lasers = {{405, 1}};
    return tracks;
}

// The colours and names of the -colors block; black, as microscopes store the transmitted-light
// channel, among them.
std::vector<lsmtest::ChannelColorContent> colorsOf(uint32_t channels) {
    const lsmtest::ChannelColorContent colors[] = {
        {255, 0, 0, ""}, {0, 255, 0, ""}, {0, 0, 0, ""}, {0, 0, 255, ""}};
    std::vector<lsmtest::ChannelColorContent> block;
    for (uint32_t ch = 0; ch < channels; ++ch) {
        block.push_back(colors[ch % 4]);
        block.back().name = "Ch" + std::to_string(ch + 1) + "-T" + std::to_string(ch + 1);
    }
    return block;
}

std::vector<double> stampsOf(uint32_t frames) {
    std::vector<double> stamps;
    for (uint32_t frame = 0; frame < frames; ++frame) stamps.push_back(1000 + 2.5 * frame);
    return stamps;
}

// Takes the options in front of the operands; false on one it does not know.
bool takeOptions(int& argc, char**& argv, lsmtest::LsmContent& content) {
    for (; argc > 0 && argv[0][0] == '-'; --argc, ++argv) {
        const std::string option = argv[0];
        if ((option == "-t" || option == "-p") && argc >= 2) {
            const auto value = static_cast<uint32_t>(std::atoi(argv[1]));
            (option == "-t" ? content.timeFrames : content.positions) = value;
            if (option == "-p") content.infoBlockSize = 464;
            --argc, ++argv;
        } else if (option == "-lzw" || option == "-lzw2") {
            content.compression = 5;
            content.predictor = option == "-lzw2" ? 2 : 1;
        } else if (option == "-true-counts") {
            content.trueByteCounts = true;
        } else if (option == "-noisy") {
            content.noisy = true;
        } else if (option == "-tracks") {
            content.scanInfo.tracks.resize(1);  // filled when the channel count is known
        } else if (option == "-colors") {
            content.channelColors.resize(1);  // filled when the channel count is known
        } else if (option == "-stamps") {
            content.timeStamps.resize(1);
        } else if (option == "-depths-apart") {
            content.depthsAtOffset = true;
        } else if (option == "-line") {
            content.planesInOneImage = true;
            content.scanType = 2;
        } else {
            return false;
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    lsmtest::LsmContent content;
    char** args = argv + 1;
    int argCount = argc - 1;
    if (!takeOptions(argCount, args, content) || (argCount != 7 && argCount != 8)) {
        std::fputs(usage, stderr);
        return 1;
    }
    const std::string pattern = args[0];
    const auto count = static_cast<unsigned>(std::atoi(args[1]));
    content.width = static_cast<uint32_t>(std::atoi(args[2]));
    content.height = static_cast<uint32_t>(std::atoi(args[3]));
    content.slices = static_cast<uint32_t>(std::atoi(args[4]));
    content.channels = static_cast<uint32_t>(std::atoi(args[5]));
    content.bitsPerSample = static_cast<uint16_t>(std::atoi(args[6]));
    content.voxelSizeX = content.voxelSizeY = 0.2e-6;
    content.voxelSizeZ = 0.5e-6;
    content.scanInfo.startTime = lsmtest::oleDate(2026, 12, 8, 9, 30, 0);
    content.scanInfo.objective = "Plan-Apochromat 63x/1.40 Oil DIC M27";
    content.scanInfo.wavelengths.clear();
    const double lasers[] = {488.0, 561.0, 633.0, 405.0};
    for (uint32_t ch = 0; ch < content.channels; ++ch)
        content.scanInfo.wavelengths.push_back(lasers[ch % 4]);
    if (!content.scanInfo.tracks.empty()) content.scanInfo.tracks = tracksOf(content.channels);
    if (!content.channelColors.empty()) content.channelColors = colorsOf(content.channels);
    if (!content.timeStamps.empty()) content.timeStamps = stampsOf(lsmtest::frameCount(content));
    FILE* raw = argCount == 8 ? std::fopen(args[7], "wb") : nullptr;
    for (unsigned t = 1; t <= count; ++t) {
        content.seed = t;
        const std::string name = numberedName(pattern, t);
        lsmtest::writeLsmFile(name, content);
        std::printf("%s\n", name.c_str());
        if (raw) appendPlanes(raw, content);
    }
    if (raw) std::fclose(raw);
    return 0;
}
