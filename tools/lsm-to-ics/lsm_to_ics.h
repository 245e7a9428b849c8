// What the stages of lsm-to-ics share: the extraction plan that the command line gives.
#pragma once

#include <string>
#include <vector>

#include "lsm_reader.h"

extern const char* const usage;

struct ExtractionPlan {
    int seriesStart = 0;
    int seriesStep = 0;
    int seriesEnd = 0;
    std::vector<std::string> inputFiles;
    std::string outputBase;
    int zStart = 0;
    int zEnd = 0;
    std::vector<int> channels;
    double timeInterval = 0;
    int icsVersion = 2;
    int position = 0;  // the stage position of every file, counted from 1; 0 when -p is not given
};

// What options left out on the command line take their values from: the first input file's
// information block and the number of strips (channels) of its first directory.
struct FirstFileInfo {
    lsm::LsmInfo info;
    size_t stripCount = 0;
};
// Opens and reads a file as the run does, with the run's messages when it cannot.
using FirstFileReader = FirstFileInfo (*)(const std::string& name);

// Scans the command line into the plan, then fills what it leaves out (-z, -c, -t) from the
// first input file, read through readFirstFile only when an option is left out. Fatal on every
// command-line fault, before any file is written.
ExtractionPlan readCommandLine(int argc, char** argv, FirstFileReader readFirstFile);
