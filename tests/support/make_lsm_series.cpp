// Writes a numbered series of LSM files with the tests' writer, one file per time point:
//   make-lsm-series [-t FRAMES] PATTERN COUNT WIDTH HEIGHT SLICES CHANNELS BITS [RAWFILE]
// PATTERN holds one run of "?" for the number (cell_t??.lsm gives cell_t01.lsm, ...). With -t,
// every file is a time lapse of FRAMES frames of SLICES slices each. With RAWFILE, the planes of
// every file are also written there, in file, frame, slice, channel order.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

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

void appendPlanes(FILE* raw, const lsmtest::LsmContent& content) {
    for (uint32_t frame = 0; frame < lsmtest::frameCount(content); ++frame)
        for (uint32_t z = 0; z < content.slices; ++z)
            for (uint32_t ch = 0; ch < content.channels; ++ch) {
                const lsmtest::Bytes plane = lsmtest::planeData(content, ch, z, frame);
                std::fwrite(plane.data(), 1, plane.size(), raw);
            }
}

}  // namespace

int main(int argc, char** argv) {
    lsmtest::LsmContent content;
    const bool framesGiven = argc > 2 && std::strcmp(argv[1], "-t") == 0;
    if (framesGiven) content.timeFrames = static_cast<uint32_t>(std::atoi(argv[2]));
    char** args = argv + (framesGiven ? 3 : 1);
    const int argCount = argc - (framesGiven ? 3 : 1);
    if (argCount != 7 && argCount != 8) {
        std::fputs("usage: make-lsm-series [-t FRAMES] PATTERN COUNT WIDTH HEIGHT SLICES CHANNELS "
                   "BITS [RAWFILE]\n", stderr);
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
