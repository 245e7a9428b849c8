// Where the planes of an LSM file lie: a stride from one image to the next, each image's own
// directory, or one after the other inside the first image.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "command_line.h"
#include "lsm_to_ics.h"

namespace {

const char* const tooFewImageEntries =
    "%s: the second image's directory has fewer than seven entries.\nTerminating...";
const char* const holdsOneImage =
    "%s: it claims %d slices of %d time frames, %lld images, but holds one image.\nTerminating...";
const char* const fewerImages =
    "%s: it holds %lld images, fewer than its %d positions of %d time frames of %d slices "
    "call for.\nTerminating...";
const char* const directoriesOutOfOrder =
    "%s: its image directories do not follow each other through the file.\nTerminating...";
const char* const stripsBeyondFile =
    "%s: its directories name more strips than the file could hold.\nTerminating...";
const char* const channelMissingInImage =
    "%s: image %lld holds no strip of channel %d.\nTerminating...";
const char* const positionsAbove4GiB =
    "%s: a file of several positions above 4 GiB cannot be converted: its 32-bit offsets wrap, "
    "and its images are not stored in the order of their directories.\nTerminating...";
const char* const overlappingImages =
    "%s: its images lie %lld bytes apart, closer than a plane of %llu bytes.\nTerminating...";
const char* const framesBeyondFile =
    "%s: its %d time frames of %d slices do not fit in the file.\nTerminating...";
const char* const planeBeyondCompressedFile =
    "%s: planes of %d x %d pixels cannot be decoded from a file of %lld bytes.\nTerminating...";

constexpr int32_t newSubfileTypeTag = 254;
constexpr int32_t thumbnailSubfileType = 1;
constexpr int64_t fourGiB = int64_t{1} << 32;
// No codec decoded here makes more than 4096 bytes of one: LZW, the most, about 1400.
constexpr uint64_t mostDecodedPerByte = 4096;

// Full-resolution images of the file: positions x frames x slices, at most one per byte of the
// file, so that absurd counts read from it neither overflow nor make the walk run on.
int64_t imageCount(const LsmFile& file) {
    int64_t images = 0;
    if (__builtin_mul_overflow(int64_t{file.positions.positions} * file.frames,
                               int64_t{lsmInt(file, lsm::DimensionZ)}, &images))
        return file.size;
    return std::min(images, file.size);
}

// A 32-bit offset of a file above 4 GiB is taken as the offset of its kind nearest to the one
// before it: the images of one position follow each other by less than 2 GiB.
int64_t unwrapped(int64_t stored, int64_t previous, int64_t fileSize) {
    if (fileSize <= fourGiB) return stored;
    const int64_t candidate = (previous & ~(fourGiB - 1)) | stored;
    if (candidate - previous > fourGiB / 2 && candidate >= fourGiB) return candidate - fourGiB;
    if (previous - candidate > fourGiB / 2) return candidate + fourGiB;
    return candidate;
}

struct DirectoryWalk {
    int64_t directory = 0;  // offset of the directory last read
    int64_t strip = 0;      // offset of the strip last seen
    int64_t fullImages = 0;
    int64_t strips = 0;  // strip offsets read, each four bytes of the file
};

// Takes the strips of one directory: the chosen channel's of the chosen position's images, and
// for compressed files every strip's start.
void takeStrips(const ExtractionPlan& plan, int channel, LsmFile& file, bool thumbnail,
                const lsm::StripOffsetList& offsets, DirectoryWalk& walk) {
    const int64_t perPosition = int64_t{file.frames} * lsmInt(file, lsm::DimensionZ);
    const int64_t position = plan.position > 0 ? plan.position - 1 : 0;
    // Inside one image, its strips hold the planes of every position.
    const bool chosen =
        !thumbnail && (file.layout == PlaneLayout::insideOneImage
                           ? walk.fullImages == 0
                           : walk.fullImages / perPosition == position);
    if (chosen && offsets.size() < static_cast<size_t>(channel))
        cli::failWith(channelMissingInImage, file.name, static_cast<long long>(walk.fullImages),
                      channel);
    for (size_t c = 0; c < offsets.size(); ++c) {
        walk.strip = unwrapped(static_cast<uint32_t>(offsets[c]), walk.strip, file.size);
        if (file.compression != 1) file.stripStarts.push_back(walk.strip);
        if (chosen && c == static_cast<size_t>(channel - 1)) file.planeStrips.push_back(walk.strip);
    }
    if (!thumbnail) ++walk.fullImages;
    // Directories that share one array of offsets over and over would make the lists grow
    // without bound.
    walk.strips += static_cast<int64_t>(offsets.size());
    if (walk.strips > file.size / 4) cli::failWith(stripsBeyondFile, file.name);
}

// Reads every directory of the chain once. An uncompressed file is left after the chosen
// position's last image; a compressed one is read to its end, as any strip may bound another.
void walkImageDirectories(const ExtractionPlan& plan, int channel, LsmFile& file) {
    const int64_t images = file.layout == PlaneLayout::insideOneImage ? 1 : imageCount(file);
    int64_t throughChosen = 0;
    if (__builtin_mul_overflow(int64_t{plan.position > 0 ? plan.position : 1},
                               int64_t{file.frames} * lsmInt(file, lsm::DimensionZ),
                               &throughChosen))
        throughChosen = images;
    throughChosen = std::min(throughChosen, images);
    const int64_t wanted = file.compression != 1 ? images : throughChosen;
    // Each image has at most a thumbnail besides; more directories are not read.
    const int64_t directoryLimit = 2 * images + 2;
    DirectoryWalk walk;
    walk.directory = file.firstDirectoryOffset;
    takeStrips(plan, channel, file, false, file.stripOffsets, walk);
    auto next = static_cast<uint32_t>(file.nextDirectoryOffset);
    for (int64_t read = 1; next != 0 && read < directoryLimit; ++read) {
        if (file.compression == 1 && walk.fullImages >= wanted) break;
        const int64_t offset = unwrapped(next, walk.directory, file.size);
        if (offset <= walk.directory) cli::failWith(directoriesOutOfOrder, file.name);
        walk.directory = offset;
        lsm::TiffDirectory directory;
        lsm::StripOffsetList offsets;
        next = lsm::readDirectoryAt(file.stream, offset, directory, offsets);
        const bool thumbnail =
            lsm::entryValue(directory, newSubfileTypeTag, 0) == thumbnailSubfileType;
        if (!thumbnail && walk.fullImages >= wanted) break;
        takeStrips(plan, channel, file, thumbnail, offsets, walk);
    }
    if (walk.fullImages < wanted)
        cli::failWith(fewerImages, file.name, static_cast<long long>(walk.fullImages),
                      file.positions.positions, file.frames, lsmInt(file, lsm::DimensionZ));
    std::sort(file.stripStarts.begin(), file.stripStarts.end());
}

// The distance from the first image's channel 1 strip to the second image's, the stride of
// every image of the file. The thumbnail's directory is read also for a single image; the
// second image's directory is the one stored right after it.
void readImageStride(LsmFile& file, int64_t images) {
    // A chain that ends at the first image holds no second one.
    if (images > 1 && file.nextDirectoryOffset == 0)
        cli::failWith(holdsOneImage, file.name, lsmInt(file, lsm::DimensionZ), file.frames,
                      static_cast<long long>(images));
    lsm::TiffDirectory thumbnail, second;
    lsm::StripOffsetList strips;
    const uint32_t afterThumbnail = lsm::readDirectoryAt(
        file.stream, static_cast<uint32_t>(file.nextDirectoryOffset), thumbnail, strips);
    if (images < 2) return;
    if (afterThumbnail == 0)
        cli::failWith(holdsOneImage, file.name, lsmInt(file, lsm::DimensionZ), file.frames,
                      static_cast<long long>(images));
    lsm::readDirectoryAt(file.stream, ftello(file.stream), second, strips);
    const lsm::TiffDirectory& first = file.directories[0];
    if (first.size() <= lsm::stripOffsetsEntry) cli::failWith(tooFewFirstEntries, file.name);
    if (second.size() <= lsm::stripOffsetsEntry) cli::failWith(tooFewImageEntries, file.name);
    const auto difference = static_cast<uint32_t>(second[lsm::stripOffsetsEntry].firstValue) -
                            static_cast<uint32_t>(first[lsm::stripOffsetsEntry].firstValue);
    file.planeStride = static_cast<int32_t>(difference);
}

}  // namespace

void readPlaneGeometry(const ExtractionPlan& plan, int channel, LsmFile& file) {
    file.bytesPerPixel = file.bitDepth / 8;
    file.planeBytes = static_cast<uint64_t>(lsmInt(file, lsm::DimensionX)) *
                      static_cast<uint64_t>(lsmInt(file, lsm::DimensionY)) *
                      static_cast<uint64_t>(file.bytesPerPixel);
    const int64_t images = imageCount(file);
    if (images > 1 && file.imageLength == int64_t{lsmInt(file, lsm::DimensionY)} * images)
        file.layout = PlaneLayout::insideOneImage;
    else if (file.compression != 1 || file.positions.positions > 1)
        file.layout = PlaneLayout::ownDirectories;
    if (file.positions.positions > 1 && file.size > fourGiB &&
        file.layout == PlaneLayout::ownDirectories)
        cli::failWith(positionsAbove4GiB, file.name);
    if (file.layout == PlaneLayout::ownDirectories ||
        (file.layout == PlaneLayout::insideOneImage && file.compression != 1))
        walkImageDirectories(plan, channel, file);
    else if (file.layout == PlaneLayout::imageStride)
        readImageStride(file, images);
    file.directories.clear();
    if (file.compression != 1 &&
        file.planeBytes / mostDecodedPerByte > static_cast<uint64_t>(file.size))
        cli::failWith(planeBeyondCompressedFile, file.name, lsmInt(file, lsm::DimensionX),
                      lsmInt(file, lsm::DimensionY), static_cast<long long>(file.size));
}

void checkPlanesFit(const ExtractionPlan& plan, int channel, const LsmFile& file) {
    if (file.compression != 1) return;
    if (file.layout == PlaneLayout::ownDirectories) {
        for (int64_t frame = 0; frame < file.frames; ++frame)
            for (int64_t z = plan.zStart - 1; z < plan.zEnd; ++z)
                if (!planeLiesInFile(file, planePosition(plan, channel, file, frame, z)))
                    cli::failWith(framesBeyondFile, file.name, file.frames,
                                  lsmInt(file, lsm::DimensionZ));
        return;
    }
    if (file.frames == 1) return;
    if (file.layout == PlaneLayout::imageStride &&
        (file.planeStride < 0 || static_cast<uint64_t>(file.planeStride) < file.planeBytes))
        cli::failWith(overlappingImages, file.name, static_cast<long long>(file.planeStride),
                      static_cast<unsigned long long>(file.planeBytes));
    if (!planeLiesInFile(file,
                         planePosition(plan, channel, file, file.frames - 1, plan.zEnd - 1)))
        cli::failWith(framesBeyondFile, file.name, file.frames, lsmInt(file, lsm::DimensionZ));
}

int64_t imageIndexOf(const ExtractionPlan& plan, const LsmFile& file, int64_t frame, int64_t z) {
    const int64_t position = plan.position > 0 ? plan.position - 1 : 0;
    return (position * file.frames + frame) * lsmInt(file, lsm::DimensionZ) + z;
}

int64_t planePosition(const ExtractionPlan& plan, int channel, const LsmFile& file,
                      int64_t frame, int64_t z) {
    if (file.layout == PlaneLayout::ownDirectories) {
        const auto plane = static_cast<size_t>(frame * lsmInt(file, lsm::DimensionZ) + z);
        return plane < file.planeStrips.size() ? file.planeStrips[plane] : -1;
    }
    // Strip offsets are 32-bit file values: 2 GiB and more read as negative.
    const auto channelStart =
        static_cast<int64_t>(static_cast<uint32_t>(file.stripOffsets[channel - 1]));
    const bool inside = file.layout == PlaneLayout::insideOneImage;
    const int64_t image = inside ? imageIndexOf(plan, file, frame, z)
                                 : frame * lsmInt(file, lsm::DimensionZ) + z;
    const int64_t step = inside ? static_cast<int64_t>(file.planeBytes) : file.planeStride;
    int64_t distance = 0, position = 0;
    if (__builtin_mul_overflow(image, step, &distance) ||
        __builtin_add_overflow(channelStart, distance, &position))
        return -1;
    return position;
}

bool planeLiesInFile(const LsmFile& file, int64_t position) {
    return position >= 0 && position <= file.size &&
           file.planeBytes <= static_cast<uint64_t>(file.size - position);
}
