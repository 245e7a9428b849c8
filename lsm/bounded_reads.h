// Reads within the reader's files that check every length against the file's end first: a size or
// count read from the file must not make the reader allocate or loop beyond what the file holds.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace lsm {

// Reads exactly length bytes; a short read is fatal, told apart as end of file or read error.
void readExact(FILE* stream, void* buffer, size_t length);

// Each walk over the file learns its size once and hands it on, rather than asking the system
// for every value.
int64_t fileSize(FILE* stream);

int64_t currentPosition(FILE* stream);

void seekTo(FILE* stream, int64_t position);

// Fatal unless length bytes from the current position lie within the file of size bytes.
void requireBytesInFile(FILE* stream, int64_t size, uint64_t length);

// A value of kind ('u', 's' two bytes; 'l', 't' four) by the integer conversion rule.
int32_t readInt(FILE* stream, char kind);

// Reads length bytes within a file of fileBytes bytes and returns them up to the first NUL.
std::string readText(FILE* stream, int64_t fileBytes, uint64_t length);

}  // namespace lsm
