// Planes of gzip-compressed image data: the stream is decoded in order, what lies before a plane
// is decoded and dropped, and the stream's own check is verified where the image ends.
#include <algorithm>
#include <cstdlib>

#include "command_line.h"
#include "ics_header.h"
#include "ics_split.h"

namespace {

const char* const gzipEndsEarly =
    "The gzip data of %s ends early, after %llu of the image's %llu bytes.\nTerminating...";
const char* const gzipEndsBeforeCheck =
    "The gzip data of %s ends before its check.\nTerminating...";
const char* const gzipCorrupt = "The gzip data of %s is corrupt (%s).\nTerminating...";

constexpr size_t readAheadBytes = 256 * 1024;
// What lies before a plane is decoded into the plane buffer, which is made at least this large
// so that small planes do not make the dropping slow.
constexpr size_t leastBufferBytes = 256 * 1024;
// zlib counts in unsigned int: a larger plane is decoded in parts.
constexpr uint64_t largestPart = 1u << 30;

[[noreturn]] void failEndsEarly(const PlaneReader& reader, const IcsInputInfo& info) {
    if (reader.decoded >= info.imageBytes)
        cli::failWith(gzipEndsBeforeCheck, info.dataFileName.c_str());
    cli::failWith(gzipEndsEarly, info.dataFileName.c_str(),
                  static_cast<unsigned long long>(reader.decoded),
                  static_cast<unsigned long long>(info.imageBytes));
}

void startStream(PlaneReader& reader, const IcsInputInfo& info) {
    z_stream& z = reader.inflater;
    z.next_in = nullptr;
    z.avail_in = 0;
    // 16 + MAX_WBITS: a gzip stream, whose check inflate verifies at its end.
    const int status = reader.inflating ? inflateReset(&z) : inflateInit2(&z, 16 + MAX_WBITS);
    if (status != Z_OK) failNoMemory();
    reader.inflating = true;
    reader.streamEnded = false;
    reader.streamCorrupt = false;
    reader.decoded = 0;
    if (fseeko(reader.stream, static_cast<off_t>(info.dataOffset), SEEK_SET) != 0)
        cli::fail(planes::couldNotReadPlane);
}

// Reads the next compressed bytes for the decoder; false at the end of the file.
bool readAhead(PlaneReader& reader) {
    if (!reader.compressed)
        reader.compressed = static_cast<unsigned char*>(std::malloc(readAheadBytes));
    if (!reader.compressed) failNoMemory();
    const size_t got = std::fread(reader.compressed, 1, readAheadBytes, reader.stream);
    if (std::ferror(reader.stream)) cli::fail(planes::couldNotReadPlane);
    reader.inflater.next_in = reader.compressed;
    reader.inflater.avail_in = static_cast<uInt>(got);
    return got > 0;
}

[[noreturn]] void failCorrupt(const PlaneReader& reader, const IcsInputInfo& info) {
    cli::failWith(gzipCorrupt, info.dataFileName.c_str(),
                  reader.inflater.msg ? reader.inflater.msg : "unreadable");
}

// Decodes up to bytes (at most largestPart) into to; returns how many came, fewer only where the
// stream has ended past the image, every member's check verified. Fatal when the stream is corrupt
// or the file ends first. zlib reads on past the bytes asked for and may meet damage beyond them:
// that damage ends the run at the next bytes asked for, so that whole planes before it are written.
size_t inflateUpTo(PlaneReader& reader, const IcsInputInfo& info, unsigned char* to,
                   uint64_t bytes) {
    if (reader.streamCorrupt) failCorrupt(reader, info);
    z_stream& z = reader.inflater;
    z.next_out = to;
    z.avail_out = static_cast<uInt>(bytes);
    while (z.avail_out > 0 && !reader.streamEnded) {
        if (z.avail_in == 0 && !readAhead(reader)) failEndsEarly(reader, info);
        const uInt room = z.avail_out;
        const int status = inflate(&z, Z_NO_FLUSH);
        reader.decoded += room - z.avail_out;
        if (status == Z_STREAM_END && reader.decoded < info.imageBytes) {
            // The image goes on in the next gzip member, as gzip -dc reads files of several.
            if (inflateReset(&z) != Z_OK) failCorrupt(reader, info);
        } else if (status == Z_STREAM_END) {
            reader.streamEnded = true;
        } else if (status == Z_MEM_ERROR)
            failNoMemory();
        else if (status != Z_OK && status != Z_BUF_ERROR)
            reader.streamCorrupt = true;
        if (reader.streamCorrupt && z.avail_out > 0) failCorrupt(reader, info);
    }
    return static_cast<size_t>(bytes - z.avail_out);
}

void inflateExactly(PlaneReader& reader, const IcsInputInfo& info, unsigned char* to,
                    uint64_t bytes) {
    while (bytes > 0) {
        const uint64_t part = std::min(bytes, largestPart);
        if (inflateUpTo(reader, info, to, part) < part) failEndsEarly(reader, info);
        to += part;
        bytes -= part;
    }
}

// Decoding stops at the image's last byte; one byte more tells whether the stream ends there
// with a good check. A stream that holds more than the image is not the image's concern.
void verifyStreamEnd(PlaneReader& reader, const IcsInputInfo& info) {
    unsigned char beyond = 0;
    inflateUpTo(reader, info, &beyond, 1);
}

}  // namespace

unsigned char* readGzipPlane(PlaneReader& reader, const IcsInputInfo& info, uint64_t offset) {
    if (!reader.buffer) {
        reader.bufferBytes = std::max(static_cast<size_t>(info.planeBytes), leastBufferBytes);
        reader.buffer = static_cast<unsigned char*>(std::malloc(reader.bufferBytes));
        if (!reader.buffer) failNoMemory();
    }
    if (!reader.inflating || offset < reader.decoded) startStream(reader, info);
    while (reader.decoded < offset)
        inflateExactly(reader, info, reader.buffer,
                       std::min(offset - reader.decoded, uint64_t{reader.bufferBytes}));
    inflateExactly(reader, info, reader.buffer, info.planeBytes);
    if (reader.decoded == info.imageBytes) verifyStreamEnd(reader, info);
    return reader.buffer;
}
