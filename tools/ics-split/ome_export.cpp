// The OME-TIFF export: every chosen plane a page of one TIFF file, whose first page describes the
// whole image in OME-XML. libtiff writes the file through procedures of ours, which lay its
// strips one after the other, as the input's planes often lie, so that the kernel copies runs of
// them whole, and gather the directories after them into large writes.
#include <fcntl.h>
#include <sys/sendfile.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include "command_line.h"
#include "ics_header.h"
#include "ics_split.h"

namespace {

const char* const noOmeType =
    "The input's samples are %s, for which OME-TIFF has no pixel type; split them into TIFF "
    "planes (-tif) or an ICS image (-s1, -s2) instead.\nTerminating...";
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
    uint64_t from = 0;
    uint64_t to = 0;
    uint64_t bytes = 0;
};

// The output file as libtiff sees it: a position, a size, and bytes not yet written.
struct OmeFile {
    int fd = -1;
    int input = -1;
    std::vector<unsigned char> buffer;  // the file's bytes from bufferStart on, not yet written
    uint64_t bufferStart = 0;
    uint64_t position = 0;
    uint64_t end = 0;           // the file's size, what is not yet written included
    uint64_t stripsEnd = 0;     // where the next strip goes
    bool placingStrip = false;  // libtiff writes a strip, at the "end" that it asks for
    uint64_t planeOffset = 0;   // in the input, of the plane that the strip copies
    CopyRun run;
};

// libtiff (4.x, as Debian's 4.5) hands the bytes of a raw strip to the write procedure without
// reading or copying them: a strip that the kernel copies is handed over as this byte, and the
// procedure copies the input's plane.
unsigned char kernelCopyMark = 0;

OmeFile& fileOf(thandle_t handle) {
    return *static_cast<OmeFile*>(handle);
}

bool writeAt(int fd, const unsigned char* data, uint64_t bytes, uint64_t at) {
    while (bytes > 0) {
        const auto piece = static_cast<size_t>(std::min<uint64_t>(bytes, planes::writePieceBytes));
        const ssize_t written = pwrite(fd, data, piece, static_cast<off_t>(at));
        if (written <= 0) return false;
        data += written;
        at += static_cast<uint64_t>(written);
        bytes -= static_cast<uint64_t>(written);
    }
    return true;
}

bool flush(OmeFile& f) {
    const bool written = writeAt(f.fd, f.buffer.data(), f.buffer.size(), f.bufferStart);
    f.buffer.clear();
    return written;
}

// The input ended before a plane that was there when the run began: it was cut meanwhile.
[[noreturn]] void failShortInput() {
    cli::fail(planes::couldNotReadPlane);
}

// Copies the run by the kernel, or where it cannot copy between the two files, reads and writes
// it through the buffer.
bool copyRun(OmeFile& f) {
    const CopyRun run = f.run;
    f.run.bytes = 0;
    if (run.bytes == 0) return true;
    if (lseek(f.fd, static_cast<off_t>(run.to), SEEK_SET) < 0) return false;
    auto from = static_cast<off_t>(run.from);
    uint64_t left = run.bytes;
    while (left > 0) {
        const ssize_t copied = sendfile(f.fd, f.input, &from, static_cast<size_t>(left));
        if (copied < 0 && planes::kernelCannotCopy(errno)) break;
        if (copied == 0) failShortInput();
        if (copied < 0) return false;
        left -= static_cast<uint64_t>(copied);
    }
    if (left == 0) return true;
    if (!flush(f)) return false;
    f.buffer.resize(bufferBytes);
    for (uint64_t at = run.to + run.bytes - left; left > 0;) {
        const auto piece = static_cast<size_t>(std::min<uint64_t>(left, bufferBytes));
        const ssize_t got = pread(f.input, f.buffer.data(), piece, from);
        if (got == 0) failShortInput();
        if (got < 0 || !writeAt(f.fd, f.buffer.data(), static_cast<uint64_t>(got), at))
            return false;
        from += got;
        at += static_cast<uint64_t>(got);
        left -= static_cast<uint64_t>(got);
    }
    f.buffer.clear();
    return true;
}

bool gatherStrip(OmeFile& f, uint64_t bytes) {
    CopyRun& run = f.run;
    const bool follows = run.from + run.bytes == f.planeOffset &&
                         run.to + run.bytes == f.position && run.bytes + bytes <= longestRun;
    if (!follows) {
        if (!copyRun(f)) return false;
        run = {f.planeOffset, f.position, 0};
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
        if (!fitsBuffer(f, bytes)) return writeAt(f.fd, data, bytes, f.position);
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
        written = writeAt(f.fd, from, bytes, f.position);
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
    ssize_t got = size;
    if (f.position >= f.bufferStart && f.position + bytes <= bufferEnd) {
        std::memcpy(data, f.buffer.data() + (f.position - f.bufferStart),
                    static_cast<size_t>(bytes));
    } else {
        // Bytes before the buffer are read without flushing it.
        if (f.position + bytes > f.bufferStart && !flush(f)) return -1;
        got = pread(f.fd, data, static_cast<size_t>(bytes), static_cast<off_t>(f.position));
        if (got < 0) return -1;
    }
    f.position += static_cast<uint64_t>(got);
    return got;
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

uint64_t countOf(const Range& range) {
    return static_cast<uint64_t>(range.end - range.start + 1);
}

// The pages of the range, which OME-XML counts in a signed 32-bit integer.
uint64_t pageCount(const SplitOptions& options) {
    uint64_t pages = 0;
    if (__builtin_mul_overflow(uint64_t{options.channels.size()}, countOf(options.t), &pages) ||
        __builtin_mul_overflow(pages, countOf(options.z), &pages) || pages > INT_MAX)
        cli::failWith(tooManyPages, INT_MAX);
    return pages;
}

// The bytes of the range's planes, which with the strips' start leave room for the
// directories within a file's largest offset.
uint64_t stripsBytes(const IcsInputInfo& info, uint64_t pages) {
    uint64_t bytes = 0;
    if (__builtin_mul_overflow(pages, info.planeBytes, &bytes) || bytes > INT64_MAX / 4)
        cli::failWith(tooManyBytes, static_cast<unsigned long long>(pages),
                      static_cast<unsigned long long>(info.planeBytes));
    return bytes;
}

// Classic TIFF counts offsets in 32 bits: a file that may reach 4 GiB, with its directories and
// its OME-XML, is written as a BigTIFF.
bool needsBigTiff(uint64_t directories, uint64_t pages, size_t xmlBytes) {
    return directories + pages * pageOverheadBytes + xmlBytes >= classicTiffBytes;
}

// Strip 0 of the current page, after the strip of the page before: the plane decoded into
// memory, or copied by the kernel from the input file.
void writeStrip(TIFF* tiff, OmeFile& file, PlaneReader& reader, const IcsInputInfo& info, int k,
                int t, int z) {
    void* strip = &kernelCopyMark;
    if (info.gzipData)
        strip = readPlane(reader, info, k, t, z);
    else
        file.planeOffset = planeInFile(reader, info, k, t, z);
    file.placingStrip = true;
    const tmsize_t written =
        TIFFWriteRawStrip(tiff, 0, strip, static_cast<tmsize_t>(info.planeBytes));
    file.placingStrip = false;
    if (written == -1) cli::fail(couldNotWriteTiff);
    file.stripsEnd += info.planeBytes;
}

}  // namespace

void exportOmeTiff(const SplitOptions& options, const IcsInputInfo& info, PlaneReader& reader) {
    if (!omePixelType(info.dataType))
        cli::failWith(noOmeType, info.dataType == Ics_uint64 || info.dataType == Ics_sint64
                                     ? "64-bit integers"
                                     : "complex numbers");
    refuseEmptyRanges(options, "OME-TIFF");
    const std::string name = options.outputBase + ".ome.tif";
    refuseOutputOverInput({name}, info);
    const uint64_t pages = pageCount(options);
    const std::string xml = omeXml(options, info, pages);
    OmeFile file;
    const uint64_t firstPlane =
        planeOffset(info, options.channels[0], options.t.start, options.z.start);
    const uint64_t strips = stripsBytes(info, pages);
    file.stripsEnd =
        strips < smallestAlignedImage ? headerRoom : stripsAlignment + firstPlane % stripsAlignment;
    // The directories follow the strips of every page.
    file.end = file.stripsEnd + strips;
    // The file takes the samples' byte order, so that their bytes are copied unchanged.
    const char* mode = needsBigTiff(file.end, pages, xml.size())
                           ? (info.bigEndianSamples ? "w8b" : "w8l")
                           : (info.bigEndianSamples ? "wb" : "wl");
    file.input = fileno(reader.stream);
    file.fd = open(name.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0666);
    if (file.fd < 0) cli::failWith(couldNotCreateTiff, name.c_str());
    file.buffer.reserve(bufferBytes);
    TIFF* tiff =
        TIFFClientOpen(name.c_str(), mode, &file, readProcedure, writeProcedure, seekProcedure,
                       closeProcedure, sizeProcedure, mapProcedure, unmapProcedure);
    if (!tiff) cli::failWith(couldNotCreateTiff, name.c_str());
    bool firstPage = true;
    for (int k : options.channels)
        for (int t = options.t.start; t <= options.t.end; ++t)
            for (int z = options.z.start; z <= options.z.end; ++z) {
                // Both progress lines in one write: a call for each costs more than a small page.
                cli::printLine("channel = %d, t = %d, i = %d\nt%d,z%d", k, t, z, t, z);
                setPlaneTags(tiff, info);
                if (firstPage) TIFFSetField(tiff, TIFFTAG_IMAGEDESCRIPTION, xml.c_str());
                firstPage = false;
                writeStrip(tiff, file, reader, info, k, t, z);
                if (!TIFFWriteDirectory(tiff)) cli::fail(couldNotWriteTiff);
            }
    TIFFClose(tiff);
    if (!copyRun(file) || !flush(file) || close(file.fd) != 0) cli::fail(couldNotWriteTiff);
}
