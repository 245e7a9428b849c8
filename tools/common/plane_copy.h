// What the programs share in copying planes into their outputs: the message of a plane that
// cannot be read whole and the size of the pieces planes are written in.
#pragma once

#include <cstddef>

namespace planes {

// The message of a plane that cannot be read whole from the input, the same in every program.
inline const char* const couldNotReadPlane = "Could not read all data into buffer\nTerminating...";
// Decoded planes are written in pieces of this size: the kernel takes a write of a whole
// decoded plane of megabytes into the page cache markedly more slowly than the same bytes in
// pieces (a plane just read from a file goes faster whole).
inline constexpr size_t writePieceBytes = 256 * 1024;

}  // namespace planes
