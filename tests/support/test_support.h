// Helpers of the end-to-end tests: a temporary folder per test and running a built program.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace lsmtest {

// A fresh folder below the system's temporary folder, removed with everything in it at the end.
struct TempDir {
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string path;
    std::string file(const std::string& name) const { return path + "/" + name; }
};

struct RunResult {
    int status = -1;  // exit status, or 128 + signal number when a signal ended the program
    std::string out;
    std::string err;
};

// Runs program with args in folder workDir, with no standard input; the program's own name is
// argument 0. A program that runs longer than timeoutSeconds is killed (status 128 + 9).
RunResult runProgram(const std::string& program, const std::vector<std::string>& args,
                     const std::string& workDir, int timeoutSeconds = 60);

// A regular expression that matches exactly text, for death tests and message checks.
std::string exactly(const std::string& text);

// A temporary file holding bytes, positioned at its start.
FILE* streamOf(const std::vector<uint8_t>& bytes);

bool fileExists(const std::string& path);
bool makeFolder(const std::string& path);  // false where it cannot be made
std::vector<std::string> listFolder(const std::string& path);  // sorted names
std::string readText(const std::string& path);
void writeText(const std::string& path, const std::string& text);

}  // namespace lsmtest
