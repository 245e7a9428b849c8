// What the programs share in reading their command lines and writing their lines: one fatal
// message and exit, a flushed output line, the leading integer of an argument.
#pragma once

#include <cctype>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace cli {

// An output name is cut at its first "."; nothing may be left of it for "./out/cell".
inline const char* const emptyOutputBase =
    "The output base name is empty: the name after -o is cut at its first \".\", so give one "
    "such as -o out/cell.\nTerminating...";

// Writes message, a newline and a flush to standard error, then exits with status 1.
[[noreturn]] inline void fail(const char* message) {
    std::fputs(message, stderr);
    std::fputc('\n', stderr);
    std::fflush(stderr);
    std::exit(1);
}

[[noreturn]] inline void failWith(const char* format, ...) {
    char message[2048];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(message, sizeof message, format, arguments);
    va_end(arguments);
    fail(message);
}

// One line on standard output, flushed, so that a calling script sees it at once.
inline void printLine(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    std::vprintf(format, arguments);
    va_end(arguments);
    std::putchar('\n');
    std::fflush(stdout);
}

// Leading blanks, an optional sign, then digits; no digits gives 0. Saturates at the int range.
inline int leadingInteger(const char* text) {
    while (std::isspace(static_cast<unsigned char>(*text))) ++text;
    const bool negative = *text == '-';
    if (*text == '-' || *text == '+') ++text;
    long long value = 0;
    for (; std::isdigit(static_cast<unsigned char>(*text)) && value <= INT_MAX; ++text)
        value = value * 10 + (*text - '0');
    if (negative) value = -value;
    return static_cast<int>(value > INT_MAX ? INT_MAX : value < INT_MIN ? INT_MIN : value);
}

// The count values after the option at position at: fatal when the command line ends first.
inline char** optionValues(int argc, char** argv, int at, int count) {
    if (at + count >= argc)
        failWith("Option %s needs %d value(s) after it.\nTerminating...", argv[at], count);
    return argv + at + 1;
}

// The count values after the option at position at, each marked as a value: a value such as a
// negative number is no unknown option, though the scan still meets it as a candidate word.
inline char** takeValues(int argc, char** argv, int at, int count, std::vector<bool>& isValue) {
    char** values = optionValues(argc, argv, at, count);
    for (int k = 1; k <= count; ++k) isValue[static_cast<size_t>(at + k)] = true;
    return values;
}

// A word beginning with "-" where no option and no value stands: refused, for a mistyped option
// would otherwise be ignored or taken for a name.
[[noreturn]] inline void unknownOption(const char* word) {
    failWith("Unknown option %s.\nTerminating...", word);
}

}  // namespace cli
