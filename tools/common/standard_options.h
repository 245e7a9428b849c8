// "--help" and "--version" as a program's only argument, as users expect of command-line tools.
#pragma once

#include <cstdio>
#include <cstring>
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

// Standard error in binary mode, so that messages are the same bytes as on Linux; standard
// output keeps the platform's line ends (CRLF on Windows), as its programs' output does.
inline void writeMessagesAsBytes() {
#ifdef _WIN32
    _setmode(_fileno(stderr), _O_BINARY);
#endif
}

// Prints the usage or the version on standard output when the only argument asks for it;
// returns whether it did, so that the program then exits with status 0. Every program calls it
// first, so it sets standard error's mode too.
inline bool answeredStandardOption(int argc, char** argv, const char* program,
                                   const char* usage) {
    writeMessagesAsBytes();
    if (argc != 2) return false;
    if (std::strcmp(argv[1], "--help") == 0)
        std::printf("%s\n", usage);
    else if (std::strcmp(argv[1], "--version") == 0)
        std::printf("%s %s\n", program, LSM_ICS_VERSION);
    else
        return false;
    std::fflush(stdout);
    return true;
}
