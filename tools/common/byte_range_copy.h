// Files of the programs as bytes on every platform: opened in binary mode, read and written at
// 64-bit positions, and byte ranges copied from one file into another by the kernel where it
// can copy between files, else read and written through one bounded buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace fileio {

// Opens a file for writing, created where missing, emptied or with its bytes kept; -1 where it
// cannot be opened. Not in append mode, in which the kernel refuses to copy into a file.
int openForWriting(const std::string& name, bool emptied);
// Opens a file for reading and writing, created where missing and emptied; -1 where it cannot.
int openForUpdate(const std::string& name);
bool closeFile(int file);

// Moves the file's position to its end, or to the position; a pipe has neither and appends.
void seekToEnd(int file);
bool seekTo(int file, uint64_t position);

// Whether both names are of one existing file, whatever the names or links that lead to it.
bool sameFile(const std::string& first, const std::string& second);

// The file's size in bytes, or -1 where it cannot be asked.
int64_t fileSize(int file);
bool isRegularFile(int file);

// Reads up to the count of bytes at the position, leaving the file's position as it is; returns
// the count read, 0 at the end of the file, -1 on a read error.
int64_t readAt(int file, void* data, size_t count, uint64_t position);
// Writes the bytes at the position, leaving the file's position as it is; false on an error.
bool writeAllAt(int file, const void* data, size_t count, uint64_t position);
// Writes the bytes at the file's position; false on an error.
bool writeAll(int file, const void* data, size_t count);

enum class CopyResult { copied, inputEnded, readFailed, writeFailed };

// Copies the count of bytes at the input's offset to the output's position, which it advances;
// the input's position stays. inputEnded where the input ends before them.
CopyResult copyRange(int output, int input, uint64_t offset, uint64_t count);

}  // namespace fileio
