// Writing an OME-TIFF: every plane a page of one strip, the first page describing the whole
// image in OME-XML. libtiff writes the file through procedures of ours, which lay its strips
// one after the other, as an input's planes often lie, so that the kernel copies runs of them
// whole, and gather the directories after them into large writes.
#include "ome_tiff.h"

#include <tiffio.h>

#include <algorithm>
#include <climits>
#include <cstring>

#include "byte_range_copy.h"
#include "command_line.h"

namespace ome {
namespace {

const char* const tooManyPages =
    "The range holds more than %d planes, the most that OME-XML can count.\nTerminating...";
const char* const tooManyBytes =
    "The range holds more bytes than a file can (%llu planes of %llu bytes).\nTerminating...";

// The directories' bytes go out in writes of up to this size.
constexpr size_t bufferBytes = 1 << 20;
// The strips start after the first 64 KiB at the place within 64 KiB where the first plane lies
// in the input (in the decoded image for gzip data, which so gives the same file as the image
// stored uncompressed): the kernel then copies its cache's large pages whole, markedly faster,
// as measured.
constexpr uint64_t stripsAlignment = 64 * 1024;
// Images smaller than this gain nothing from the alignment and would carry its hole: their
// strips follow the header, of 16 bytes at the most (BigTIFF's).
constexpr uint64_t smallestAlignedImage = 1 << 20;
constexpr uint64_t headerRoom = 16;
// A run of strips copied at once: long enough that the calls cost nothing beside the copying,
// short enough that the progress lines keep pace with the file.
constexpr uint64_t longestRun = 64 << 20;
// A page's directory and its values, at most 13 entries here, take far fewer bytes in a classic
// TIFF; the OME-XML is counted apart.
constexpr uint64_t pageOverheadBytes = 256;
constexpr uint64_t classicTiffBytes = uint64_t{1} << 32;

// Strips that the kernel copies from the input, gathered while they follow one another in both.
struct CopyRun {
    int input = -1;
    uint64_t from = 0;
    uint64_t to = 0;
    uint64_t bytes = 0;
};

// The output file as libtiff sees it: a position, a size, and bytes not yet written.
struct OmeFile {
    int fd = -1;
    const char* inputCut = nullptr;     // the program's message for an input cut during the run
    std::vector<unsigned char> buffer;  // the file's bytes from bufferStart on, not yet written
    uint64_t bufferStart = 0;
    uint64_t position = 0;
    uint64_t end = 0;           // the file's size, what is not yet written included
    uint64_t stripsEnd = 0;     // where the next strip goes
    bool placingStrip = false;  // libtiff writes a strip, at the "end" that it asks for
    int planeInput = -1;        // the input file of the plane that the strip copies
    uint64_t planeOffset = 0;   // in it, of that plane
    CopyRun run;
};

// libtiff (4.x, as Debian's 4.5) hands the bytes of a raw strip to the write procedure without
// reading or copying them: a strip that the kernel copies is handed over as this byte, and the
// procedure copies the input's plane.
unsigned char kernelCopyMark = 0;

OmeFile& fileOf(thandle_t handle) {
    return *static_cast<OmeFile*>(handle);
}

bool flush(OmeFile& f) {
    const bool written = fileio::writeAllAt(f.fd, f.buffer.data(), f.buffer.size(), f.bufferStart);
    f.buffer.clear();
    return written;
}

// The input ended before a plane that was there when the run began: it was cut meanwhile.
[[noreturn]] void failShortInput(const OmeFile& f) {
    cli::fail(f.inputCut);
}

// Copies the run by the kernel, or where it cannot copy between the two files, through a buffer.
// The one place where the writer copies from an input file.
bool copyRun(OmeFile& f) {
    const CopyRun run = f.run;
    f.run.bytes = 0;
    if (run.bytes == 0) return true;
    if (!fileio::seekTo(f.fd, run.to)) return false;
    const fileio::CopyResult result = fileio::copyRange(f.fd, run.input, run.from, run.bytes);
    if (result == fileio::CopyResult::inputEnded) failShortInput(f);
    return result == fileio::CopyResult::copied;
}

bool gatherStrip(OmeFile& f, uint64_t bytes) {
    CopyRun& run = f.run;
    const bool follows = run.input == f.planeInput && run.from + run.bytes == f.planeOffset &&
                         run.to + run.bytes == f.position && run.bytes + bytes <= longestRun;
    if (!follows) {
        if (!copyRun(f)) return false;
        run = {f.planeInput, f.planeOffset, f.position, 0};
    }
    run.bytes += bytes;
    return true;
}

// Whether the bytes at the file's position go into the buffer. A buffer that holds bytes ends at
// the file's end: what lies past it is written only after a flush.
bool fitsBuffer(const OmeFile& f, uint64_t bytes) {
    return f.position >= f.bufferStart && f.position + bytes <= f.bufferStart + bufferBytes;
}

// Bytes from the buffer's start on: into the buffer, which is flushed first where it cannot take
// them, or straight to the file where they are more than it holds. Past the file's end the gap
// in the buffer is zeros, as the file's would be.
bool writeThroughBuffer(OmeFile& f, const unsigned char* data, uint64_t bytes) {
    if (!fitsBuffer(f, bytes)) {
        if (!flush(f)) return false;
        f.bufferStart = f.end;
        if (!fitsBuffer(f, bytes))
            return fileio::writeAllAt(f.fd, data, static_cast<size_t>(bytes), f.position);
    }
    const auto at = static_cast<size_t>(f.position - f.bufferStart);
    f.buffer.resize(std::max(f.buffer.size(), at + static_cast<size_t>(bytes)));
    std::memcpy(f.buffer.data() + at, data, static_cast<size_t>(bytes));
    return true;
}

tmsize_t writeProcedure(thandle_t handle, void* data, tmsize_t size) {
    OmeFile& f = fileOf(handle);
    const auto bytes = static_cast<uint64_t>(size);
    const auto* from = static_cast<const unsigned char*>(data);
    if (f.buffer.empty()) f.bufferStart = f.end;
    bool written = false;
    if (data == &kernelCopyMark)
        written = gatherStrip(f, bytes);
    else if (f.position + bytes <= f.bufferStart)
        // Before the buffer: a strip from memory, the header, or the link from the page before.
        written = fileio::writeAllAt(f.fd, from, static_cast<size_t>(bytes), f.position);
    else
        written = writeThroughBuffer(f, from, bytes);
    if (!written) return -1;
    f.position += bytes;
    f.end = std::max(f.end, f.position);
    return size;
}

tmsize_t readProcedure(thandle_t handle, void* data, tmsize_t size) {
    OmeFile& f = fileOf(handle);
    const auto bytes = static_cast<uint64_t>(size);
    const bool meetsRun = f.position < f.run.to + f.run.bytes && f.position + bytes > f.run.to;
    if (meetsRun && !copyRun(f)) return -1;
    const uint64_t bufferEnd = f.bufferStart + f.buffer.size();
    int64_t got = size;
    if (f.position >= f.bufferStart && f.position + bytes <= bufferEnd) {
        std::memcpy(data, f.buffer.data() + (f.position - f.bufferStart),
                    static_cast<size_t>(bytes));
    } else {
        // Bytes before the buffer are read without flushing it.
        if (f.position + bytes > f.bufferStart && !flush(f)) return -1;
        got = fileio::readAt(f.fd, data, static_cast<size_t>(bytes), f.position);
        if (got < 0) return -1;
    }
    f.position += static_cast<uint64_t>(got);
    return static_cast<tmsize_t>(got);
}

toff_t seekProcedure(thandle_t handle, toff_t offset, int whence) {
    OmeFile& f = fileOf(handle);
    const uint64_t end = f.placingStrip ? f.stripsEnd : f.end;
    const uint64_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? f.position : end;
    const uint64_t position = base + offset;  // a negative offset comes as its two's complement
    if (position > static_cast<uint64_t>(INT64_MAX)) return static_cast<toff_t>(-1);
    f.position = position;
    return position;
}

toff_t sizeProcedure(thandle_t handle) {
    return fileOf(handle).end;
}

// The file is closed by the export, which checks that its last bytes are written.
int closeProcedure(thandle_t) {
    return 0;
}

int mapProcedure(thandle_t, void**, toff_t*) {
    return 0;
}

void unmapProcedure(thandle_t, void*, toff_t) {}

// The pages of the image, which OME-XML counts in a signed 32-bit integer.
uint64_t pageCount(const OmeImage& image) {
    uint64_t pages = 0;
    if (__builtin_mul_overflow(uint64_t{image.sizeC}, uint64_t{image.sizeT}, &pages) ||
        __builtin_mul_overflow(pages, uint64_t{image.sizeZ}, &pages) || pages > INT_MAX)
        cli::failWith(tooManyPages, INT_MAX);
    return pages;
}

// The bytes of the image's planes, which with the strips' start leave room for the
// directories within a file's largest offset.
uint64_t stripsBytes(uint64_t pages, uint64_t planeBytes) {
    uint64_t bytes = 0;
    if (__builtin_mul_overflow(pages, planeBytes, &bytes) || bytes > INT64_MAX / 4)
        cli::failWith(tooManyBytes, static_cast<unsigned long long>(pages),
                      static_cast<unsigned long long>(planeBytes));
    return bytes;
}

// Classic TIFF counts offsets in 32 bits: a file that may reach 4 GiB, with its directories and
// its OME-XML, is written as a BigTIFF.
bool needsBigTiff(uint64_t directories, uint64_t pages, size_t xmlBytes) {
    return directories + pages * pageOverheadBytes + xmlBytes >= classicTiffBytes;
}

uint16_t bitsPerSample(PixelType type) {
    switch (type) {
        case PixelType::uint8:
        case PixelType::int8: return 8;
        case PixelType::uint16:
        case PixelType::int16: return 16;
        case PixelType::uint32:
        case PixelType::int32:
        case PixelType::float32: return 32;
        case PixelType::float64: return 64;
    }
    return 0;
}

// TIFF readers take samples without a sample format for unsigned integers.
uint16_t sampleFormat(PixelType type) {
    switch (type) {
        case PixelType::int8:
        case PixelType::int16:
        case PixelType::int32: return SAMPLEFORMAT_INT;
        case PixelType::float32:
        case PixelType::float64: return SAMPLEFORMAT_IEEEFP;
        default: return SAMPLEFORMAT_UINT;
    }
}

}  // namespace

struct OmeTiffWriter {
    OmeFile file;
    TIFF* tiff = nullptr;
    std::string xml;  // until the first page takes it
    bool firstPage = true;
    uint32_t width = 0;
    uint32_t height = 0;
    PixelType pixelType = PixelType::uint16;
    uint64_t planeBytes = 0;
};

namespace {

// One page: its tags, the OME-XML on the first, and strip 0 after the strip of the page before:
// a plane in memory, or the kernel copy mark for the plane that the file names.
void writePage(OmeTiffWriter* writer, void* strip) {
    TIFF* tiff = writer->tiff;
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, writer->width);
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, writer->height);
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, bitsPerSample(writer->pixelType));
    TIFFSetField(tiff, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
    const uint16_t format = sampleFormat(writer->pixelType);
    if (format != SAMPLEFORMAT_UINT) TIFFSetField(tiff, TIFFTAG_SAMPLEFORMAT, format);
    if (writer->firstPage) {
        TIFFSetField(tiff, TIFFTAG_IMAGEDESCRIPTION, writer->xml.c_str());
        std::string().swap(writer->xml);  // libtiff holds a copy until the page is written
    }
    writer->firstPage = false;
    OmeFile& file = writer->file;
    file.placingStrip = true;
    const tmsize_t written =
        TIFFWriteRawStrip(tiff, 0, strip, static_cast<tmsize_t>(writer->planeBytes));
    file.placingStrip = false;
    if (written == -1) cli::fail(couldNotWriteTiff);
    file.stripsEnd += writer->planeBytes;
    if (!TIFFWriteDirectory(tiff)) cli::fail(couldNotWriteTiff);
}

}  // namespace

OmeTiffWriter* startOmeTiff(const std::string& fileName, const OmeImage& image, uint64_t planeBytes,
                            uint64_t firstPlaneOffset, const char* inputCut) {
    const uint64_t pages = pageCount(image);
    auto* writer = new OmeTiffWriter;
    writer->xml = omeXml(image);
    writer->width = image.sizeX;
    writer->height = image.sizeY;
    writer->pixelType = image.pixelType;
    writer->planeBytes = planeBytes;
    OmeFile& file = writer->file;
    file.inputCut = inputCut;
    const uint64_t strips = stripsBytes(pages, planeBytes);
    file.stripsEnd = strips < smallestAlignedImage
                         ? headerRoom
                         : stripsAlignment + firstPlaneOffset % stripsAlignment;
    // The directories follow the strips of every page.
    file.end = file.stripsEnd + strips;
    // The file takes the samples' byte order, so that their bytes are copied unchanged.
    const char* mode = needsBigTiff(file.end, pages, writer->xml.size())
                           ? (image.bigEndian ? "w8b" : "w8l")
                           : (image.bigEndian ? "wb" : "wl");
    file.fd = fileio::openForUpdate(fileName);
    if (file.fd < 0) cli::failWith(couldNotCreateTiff, fileName.c_str());
    file.buffer.reserve(bufferBytes);
    writer->tiff =
        TIFFClientOpen(fileName.c_str(), mode, &file, readProcedure, writeProcedure, seekProcedure,
                       closeProcedure, sizeProcedure, mapProcedure, unmapProcedure);
    if (!writer->tiff) cli::failWith(couldNotCreateTiff, fileName.c_str());
    return writer;
}

void writePlaneFrom(OmeTiffWriter* writer, int input, uint64_t offset) {
    writer->file.planeInput = input;
    writer->file.planeOffset = offset;
    writePage(writer, &kernelCopyMark);
}

void releaseInputs(OmeTiffWriter* writer) {
    if (!copyRun(writer->file)) cli::fail(couldNotWriteTiff);
}

void writePlane(OmeTiffWriter* writer, const void* plane) {
    // The planes gathered from an input file are copied first, so that it may be closed now.
    releaseInputs(writer);
    // libtiff hands a raw strip's bytes to the write procedure unchanged.
    writePage(writer, const_cast<void*>(plane));
}

void finishOmeTiff(OmeTiffWriter* writer) {
    TIFFClose(writer->tiff);
    OmeFile& file = writer->file;
    if (!copyRun(file) || !flush(file) || !fileio::closeFile(file.fd)) cli::fail(couldNotWriteTiff);
    delete writer;
}

}  // namespace ome
