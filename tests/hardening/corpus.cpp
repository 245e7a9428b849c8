// Running one case of the bad-input corpus and checking the run.
#include "corpus.h"

#include <gtest/gtest.h>

#include <map>
#include <regex>

namespace corpus {

namespace {


#ifdef _WIN32
// No shell to set a memory bound on Windows: the program runs as it is; Linux runs hold the bound.
lsmtest::RunResult runBounded(const Invocation& invocation, const lsmtest::TempDir& dir) {
    return lsmtest::runProgram(invocation.program, invocation.args, dir.path, runSeconds);
}
#else
// Every run is held to a memory bound far above what the small files of the corpus need, so
// that an allocation sized by a number from a file fails instead of exhausting the machine.
#ifdef PROGRAMS_SANITIZED
// AddressSanitizer reserves terabytes of address space; its allocator holds the bound instead.
const char* const boundedRun =
    "export ASAN_OPTIONS=\"$ASAN_OPTIONS:max_allocation_size_mb=64\"; exec \"$0\" \"$@\"";
#else
const char* const boundedRun = "ulimit -v 262144 2>/dev/null; exec \"$0\" \"$@\"";
#endif

lsmtest::RunResult runBounded(const Invocation& invocation, const lsmtest::TempDir& dir) {
    std::vector<std::string> args = {"-c", boundedRun, invocation.program};
    args.insert(args.end(), invocation.args.begin(), invocation.args.end());
    return lsmtest::runProgram("/bin/sh", args, dir.path, runSeconds);
}
#endif

using FolderContents = std::map<std::string, lsmtest::Bytes>;

FolderContents contentsOf(const lsmtest::TempDir& dir) {
    FolderContents contents;
    for (const std::string& name : lsmtest::listFolder(dir.path))
        contents[name] = lsmtest::readBytes(dir.file(name));
    return contents;
}

// The names outside the run's outputs that are new, changed or gone.
std::vector<std::string> strayChanges(const FolderContents& before, const FolderContents& after,
                                      const std::regex& outputNames) {
    std::vector<std::string> stray;
    for (const auto& [name, bytes] : after) {
        const auto earlier = before.find(name);
        if (!std::regex_match(name, outputNames) &&
            (earlier == before.end() || earlier->second != bytes))
            stray.push_back(name);
    }
    for (const auto& [name, bytes] : before)
        if (!after.count(name) && !std::regex_match(name, outputNames)) stray.push_back(name);
    return stray;
}

bool endsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

void expectMessage(const lsmtest::RunResult& run, const Outcome& expected,
                   bool libraryDiagnostics) {
    if (libraryDiagnostics)
        EXPECT_TRUE(endsWith(run.err, expected.message)) << "standard error:\n"
                                                         << run.err << "expected it to end with:\n"
                                                         << expected.message;
    else
        EXPECT_EQ(run.err, expected.message);
}

// A success must have finished its output: the line "complete", or the one result line.
void expectFinishedOutput(const lsmtest::RunResult& run, bool saysComplete) {
    if (saysComplete)
        EXPECT_TRUE(endsWith(run.out, "\ncomplete\n")) << run.out;
    else
        EXPECT_TRUE(!run.out.empty() && run.out.find('\n') == run.out.size() - 1) << run.out;
}

}  // namespace

Outcome success(const std::string& warning) {
    return {0, warning.empty() ? "" : warning + "\n"};
}

Outcome failure(const std::string& message) {
    return {1, message + "\n"};
}

void expectOutcome(const lsmtest::TempDir& dir, const Invocation& invocation,
                   const Outcome& expected) {
    const FolderContents before = contentsOf(dir);
    const lsmtest::RunResult run = runBounded(invocation, dir);
    ASSERT_TRUE(run.status == 0 || run.status == 1)
        << "exit status " << run.status << ": a crash, a sanitizer report or a run killed after "
        << runSeconds << " s\n"
        << run.err;
    EXPECT_EQ(run.status, expected.status) << "standard error:\n" << run.err;
    if (run.status == expected.status) expectMessage(run, expected, invocation.libraryDiagnostics);
    if (run.status == 0) expectFinishedOutput(run, invocation.saysComplete);
    EXPECT_EQ(strayChanges(before, contentsOf(dir), std::regex(invocation.outputNames)),
              std::vector<std::string>{});
}

uint32_t get32(const lsmtest::Bytes& bytes, size_t at) {
    return static_cast<uint32_t>(bytes.at(at)) | static_cast<uint32_t>(bytes.at(at + 1)) << 8 |
           static_cast<uint32_t>(bytes.at(at + 2)) << 16 |
           static_cast<uint32_t>(bytes.at(at + 3)) << 24;
}

}  // namespace corpus
