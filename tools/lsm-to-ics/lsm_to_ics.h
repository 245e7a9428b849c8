// What the stages of lsm-to-ics share: the extraction plan that the command line gives.
#pragma once

#include <string>
#include <vector>

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

// Scans the command line into the plan; fatal on every command-line fault, before any file is
// written.
ExtractionPlan readCommandLine(int argc, char** argv);
