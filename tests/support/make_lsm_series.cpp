// Writes a numbered series of LSM files with the tests' writer, one file per time point:
//   make-lsm-series PATTERN COUNT WIDTH HEIGHT SLICES CHANNELS BITS [RAWFILE]
// PATTERN holds one run of "?" for the number (cell_t??.lsm gives cell_t01.lsm, ...). With
// RAWFILE, the planes of every file are also written there, in file, slice, channel order.
#include <cstdio>
#include <cstdlib>
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

}  // namespace

int main(int argc, char** argv) {
    if (argc != 8 && argc != 9) {
        std::fputs("usage: make-lsm-series PATTERN COUNT WIDTH HEIGHT SLICES CHANNELS BITS "
                   "[RAWFILE]\n", stderr);
        return 1;
    }
    const std::string pattern = argv[1];
    const auto count = static_cast<unsigned>(std::atoi(argv[2]));
    lsmtest::LsmContent content;
    content.width = static_cast<uint32_t>(std::atoi(argv[3]));
    content.height = static_cast<uint32_t>(std::atoi(argv[4]));
    content.slices = static_cast<uint32_t>(std::atoi(argv[5]));
    content.channels = static_cast<uint32_t>(std::atoi(argv[6]));
    content.bitsPerSample = static_cast<uint16_t>(std::atoi(argv[7]));
    content.voxelSizeX = content.voxelSizeY = 0.2e-6;
    content.voxelSizeZ = 0.5e-6;
    content.scanInfo.startTime = lsmtest::oleDate(2026, 12, 8, 9, 30, 0);
    content.scanInfo.objective = "Plan-Apochromat 63x/1.40 Oil DIC M27";
    content.scanInfo.wavelengths.clear();
    const double lasers[] = {488.0, 561.0, 633.0, 405.0};
    for (uint32_t ch = 0; ch < content.channels; ++ch)
        content.scanInfo.wavelengths.push_back(lasers[ch % 4]);
    FILE* raw = argc == 9 ? std::fopen(argv[8], "wb") : nullptr;
    for (unsigned t = 1; t <= count; ++t) {
        content.seed = t;
        const std::string name = numberedName(pattern, t);
        lsmtest::writeLsmFile(name, content);
        std::printf("%s\n", name.c_str());
        for (uint32_t z = 0; raw && z < content.slices; ++z)
            for (uint32_t ch = 0; ch < content.channels; ++ch) {
                const lsmtest::Bytes plane = lsmtest::planeData(content, ch, z);
                std::fwrite(plane.data(), 1, plane.size(), raw);
            }
    }
    if (raw) std::fclose(raw);
    return 0;
}
