// The one place where the programs meet the platform's files: binary mode, 64-bit positions,
// and the copy of a byte range, by the kernel on Linux and through one buffer elsewhere.
#include "byte_range_copy.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <memory>

#include "plane_copy.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif
#if defined(__linux__) && !defined(LSM_BYTE_COPY_FALLBACK)
#include <sys/sendfile.h>
#define LSM_KERNEL_COPY 1
#endif

#ifndef O_BINARY
#define O_BINARY 0
#endif

namespace fileio {
namespace {

// A read or a kernel copy of more than this is done in pieces: Windows counts bytes in 32 bits,
// and the kernel copies at most about 2 GiB a call. Writes go in pieces of writePieceBytes.
constexpr size_t longestCall = size_t{1} << 30;
// The buffer of a copy that the kernel cannot make: a piece as the programs write, small enough
// to stay in the processor's cache.
constexpr size_t copyBufferBytes = planes::writePieceBytes;

#ifdef _WIN32
// Windows has no positioned read or write on a descriptor: the position is moved there and back.
template <typename Transfer>
int64_t atPosition(int file, uint64_t position, Transfer transfer) {
    const int64_t kept = _lseeki64(file, 0, SEEK_CUR);
    if (kept < 0 || _lseeki64(file, static_cast<int64_t>(position), SEEK_SET) < 0) return -1;
    const int64_t done = transfer();
    if (_lseeki64(file, kept, SEEK_SET) < 0) return -1;
    return done;
}

int64_t readSome(int file, void* data, size_t count) {
    return _read(file, data, static_cast<unsigned>(std::min(count, longestCall)));
}

int64_t writeSome(int file, const void* data, size_t count) {
    return _write(file, data, static_cast<unsigned>(std::min(count, planes::writePieceBytes)));
}

int64_t readSomeAt(int file, void* data, size_t count, uint64_t position) {
    return atPosition(file, position, [&] { return readSome(file, data, count); });
}

int64_t writeSomeAt(int file, const void* data, size_t count, uint64_t position) {
    return atPosition(file, position, [&] { return writeSome(file, data, count); });
}
#else
int64_t writeSome(int file, const void* data, size_t count) {
    return write(file, data, std::min(count, planes::writePieceBytes));
}

int64_t readSomeAt(int file, void* data, size_t count, uint64_t position) {
    return pread(file, data, std::min(count, longestCall), static_cast<off_t>(position));
}

int64_t writeSomeAt(int file, const void* data, size_t count, uint64_t position) {
    return pwrite(file, data, std::min(count, planes::writePieceBytes), static_cast<off_t>(position));
}
#endif

// Reads and writes the bytes through one buffer, kept for every later copy.
CopyResult copyThroughBuffer(int output, int input, uint64_t offset, uint64_t count) {
    static const std::unique_ptr<unsigned char[]> buffer(new unsigned char[copyBufferBytes]);
    while (count > 0) {
        const auto piece = static_cast<size_t>(std::min<uint64_t>(count, copyBufferBytes));
        const int64_t got = readSomeAt(input, buffer.get(), piece, offset);
        if (got == 0) return CopyResult::inputEnded;
        if (got < 0) return CopyResult::readFailed;
        if (!writeAll(output, buffer.get(), static_cast<size_t>(got)))
            return CopyResult::writeFailed;
        offset += static_cast<uint64_t>(got);
        count -= static_cast<uint64_t>(got);
    }
    return CopyResult::copied;
}

#ifdef LSM_KERNEL_COPY
// Whether a failed kernel copy means that the kernel cannot copy between the two files (some
// file systems, or a pipe as input), so that the bytes must be read and written.
bool kernelCannotCopy(int error) {
    return error == EINVAL || error == ENOSYS || error == EOPNOTSUPP;
}
#endif

}  // namespace

int openForWriting(const std::string& name, bool emptied) {
    return open(name.c_str(), O_WRONLY | O_CREAT | O_BINARY | (emptied ? O_TRUNC : 0), 0666);
}

int openForUpdate(const std::string& name) {
    return open(name.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_BINARY, 0666);
}

bool closeFile(int file) {
    return close(file) == 0;
}

void seekToEnd(int file) {
    lseek(file, 0, SEEK_END);
}

bool seekTo(int file, uint64_t position) {
    return lseek(file, static_cast<off_t>(position), SEEK_SET) >= 0;
}

#ifdef _WIN32
// Windows numbers no file in stat: its volume and its index within the volume tell it.
bool fileIdentity(const std::string& name, BY_HANDLE_FILE_INFORMATION& identity) {
    const HANDLE file = CreateFileA(name.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE |
                                    FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    const bool known = GetFileInformationByHandle(file, &identity) != 0;
    CloseHandle(file);
    return known;
}

bool sameFile(const std::string& first, const std::string& second) {
    BY_HANDLE_FILE_INFORMATION a, b;
    return fileIdentity(first, a) && fileIdentity(second, b) &&
           a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
           a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
}
#else
bool sameFile(const std::string& first, const std::string& second) {
    struct stat a, b;
    return stat(first.c_str(), &a) == 0 && stat(second.c_str(), &b) == 0 &&
           a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}
#endif

int64_t fileSize(int file) {
    struct stat status;
    return fstat(file, &status) == 0 ? static_cast<int64_t>(status.st_size) : -1;
}

bool isRegularFile(int file) {
    struct stat status;
    return fstat(file, &status) == 0 && S_ISREG(status.st_mode);
}

int64_t readAt(int file, void* data, size_t count, uint64_t position) {
    return readSomeAt(file, data, count, position);
}

bool writeAllAt(int file, const void* data, size_t count, uint64_t position) {
    auto bytes = static_cast<const unsigned char*>(data);
    while (count > 0) {
        const int64_t written = writeSomeAt(file, bytes, count, position);
        if (written <= 0) return false;
        bytes += written;
        position += static_cast<uint64_t>(written);
        count -= static_cast<size_t>(written);
    }
    return true;
}

bool writeAll(int file, const void* data, size_t count) {
    auto bytes = static_cast<const unsigned char*>(data);
    while (count > 0) {
        const int64_t written = writeSome(file, bytes, count);
        if (written <= 0) return false;
        bytes += written;
        count -= static_cast<size_t>(written);
    }
    return true;
}

CopyResult copyRange(int output, int input, uint64_t offset, uint64_t count) {
#ifdef LSM_KERNEL_COPY
    auto position = static_cast<off_t>(offset);
    while (count > 0) {
        const ssize_t copied =
            sendfile(output, input, &position, static_cast<size_t>(std::min<uint64_t>(count, longestCall)));
        if (copied < 0 && kernelCannotCopy(errno)) break;
        if (copied == 0) return CopyResult::inputEnded;
        if (copied < 0) return CopyResult::writeFailed;
        count -= static_cast<uint64_t>(copied);
    }
    offset = static_cast<uint64_t>(position);
#endif
    return copyThroughBuffer(output, input, offset, count);
}

}  // namespace fileio
