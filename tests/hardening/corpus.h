// The bad-input corpus: runs a program on the files of one crafted case and checks how it ended.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "lsm_writer.h"
#include "test_support.h"

namespace corpus {

// Messages that cases of more than one kind of input end with: those of the LSM reader, which
// image-info also meets on a TIFF file that libtiff cannot open, and the short read of a plane
// that lsm-to-ics and ics-split share.
const std::string endOfFile =
    "Unexpected end of file: the file is shorter than its structure says.\nTerminating...";
const std::string arraysBeyondFile =
    "The directory's value arrays hold more bytes than the file.\nTerminating...";
const std::string lsmTagNotFound = "LSM TAG nr (34412) WAS NOT FOUND !!!!!\nTerminating....";
const std::string couldNotReadPlane = "Could not read all data into buffer\nTerminating...";

// How a run must end: exit status 0 or 1 and what the program itself writes on standard error.
struct Outcome {
    int status = 0;
    std::string message;  // the program's standard error, final newline included
};

// Status 0, with warning (a whole line, without its newline) on standard error, or nothing.
Outcome success(const std::string& warning = "");

// Status 1 after exactly message (without its final newline) on standard error.
Outcome failure(const std::string& message);

// One call of a program on the files of a case, in the case's folder.
struct Invocation {
    std::string program;
    std::vector<std::string> args;
    std::string outputNames;  // regular expression: the only names the run may create or change
    bool saysComplete;        // a successful run ends with the line "complete"
    bool libraryDiagnostics;  // libtiff may write lines of its own: compare the end of the output
};

// A run still going after this many seconds is killed, and the case fails.
constexpr int runSeconds = 20;

// Runs the invocation in dir, which holds the case's files, and checks the exit status, the
// message, that a success is one, and that no file but the run's outputs was created, changed
// or removed.
void expectOutcome(const lsmtest::TempDir& dir, const Invocation& invocation,
                   const Outcome& expected);

// Names each test of a table after its case.
struct CaseName {
    template <class Case>
    std::string operator()(const testing::TestParamInfo<Case>& info) const {
        return info.param.name;
    }
};

// Little-endian 32-bit value at a position of a file's bytes.
uint32_t get32(const lsmtest::Bytes& bytes, size_t at);

}  // namespace corpus
