// The command line of lsm-to-ics: options, the series of input files, the checks of the plan.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "command_line.h"
#include "ics_header.h"
#include "lsm_to_ics.h"

const char* const usage =
    "usage: lsm-to-ics FILE... -o NAME [-z ZSTART ZEND] [-c CHANNEL...] [-t INTERVAL]\n"
    "                  [-p POSITION] [-a] [-S1|-S2|-ome]\n"
    "       lsm-to-ics -s FIRST -j STEP -e LAST PATTERN -o NAME [the same options]\n"
    "  The series' files are named in order, or by PATTERN with one run of \"?\" for the\n"
    "  number (img??.lsm). Left out, -z takes every slice and -c every channel of the first\n"
    "  file, -t its own time interval (several files need -t; a -c list ends at -t).\n"
    "  -a takes each channel's emission from its detection channel and the refractive indices\n"
    "  from the objective's immersion, and records the acquisition in the history.\n"
    "  NAME is cut at its first \".\"; -S1 writes NAME.ics and NAME.ids, -S2 (default) NAME.ics,\n"
    "  -ome one OME-TIFF NAME.ome.tif with what the microscope recorded in its OME-XML.";

namespace {

const char* const noInputFile =
    "No input file: name the LSM files, or a series with -s, -j and -e.\n%s\nTerminating...";
const char* const acquisitionOpticsEcho =
    "acquisition optics: emission from each channel's detection, refractive indices from the "
    "objective's immersion";
const char* const filesAndSeries =
    "Input files are named either one by one or as a series with -e, not both (%s).\n"
    "Terminating...";
const char* const intervalOfSeveralFiles =
    "The time between the %zu input files is recorded in none of them: give it with -t "
    "INTERVAL.\nTerminating...";
const char* const channelsWithoutStrips =
    "%s: its information block counts %d channels, its first directory has strips for %zu; "
    "give the channels with -c.\nTerminating...";
const char* const channelListNotClosed =
    "The channel list after -c must be closed by -t.\nTerminating...";
const char* const seriesBeforeStartAndStep =
    "Option -e must come after -s and -j: the series is expanded where -e stands.\nTerminating...";
const char* const secondSeries = "Option -e may be given only once.\nTerminating...";
const char* const patternMarksNotOneRun =
    "The \"?\" marks of the pattern %s must form one run.\nTerminating...";
const char* const numberTooWide =
    "Series number %lld needs more digits than the pattern %s has \"?\" marks.\nTerminating...";
const char* const negativeSeriesNumber =
    "Series numbers cannot be negative (-s %d).\nTerminating...";
const char* const seriesNeverEnds =
    "The series step (-j %d) must be above 0 for the series %d to %d to end.\nTerminating...";
const char* const channelBelowOne =
    "Channel numbers start at 1 (-c ... %d).\nTerminating...";
const char* const positionBelowOne =
    "The position (-p) is counted from 1.\nTerminating...";
const char* const zStartBelowOne = "The first slice (-z) must be 1 or more.\nTerminating...";
const char* const omeTiffWithoutPlanes =
    "An OME-TIFF needs at least one plane, and the run names no %s.\nTerminating...";
const char* const zEndBelowZStart =
    "The last slice (-z %d %d) must not lie below the first.\nTerminating...";
std::string numberedName(const std::string& pattern, size_t runStart, size_t runLength,
                         long long number) {
    std::string digits = std::to_string(number);
    if (digits.size() > runLength) cli::failWith(numberTooWide, number, pattern.c_str());
    digits.insert(0, runLength - digits.size(), '0');
    return pattern.substr(0, runStart) + digits + pattern.substr(runStart + runLength);
}

// The input files of the series: the run of "?" replaced by each number, zero-padded.
std::vector<std::string> expandSeries(const std::string& pattern, int start, int step, int end) {
    const size_t runStart = pattern.find('?');
    size_t runLength = 0;
    if (runStart != std::string::npos) {
        runLength = pattern.find_first_not_of('?', runStart) - runStart;
        if (pattern.find('?', runStart + runLength) != std::string::npos)
            cli::failWith(patternMarksNotOneRun, pattern.c_str());
    }
    std::vector<std::string> names;
    if (start > end) return names;
    if (step <= 0) cli::failWith(seriesNeverEnds, step, start, end);
    if (start < 0) cli::failWith(negativeSeriesNumber, start);
    for (long long n = start; n <= end; n += step)
        names.push_back(runLength ? numberedName(pattern, runStart, runLength, n) : pattern);
    return names;
}

// The options the command line gave; what it leaves out is taken from the first input file.
struct GivenOptions {
    bool start = false, step = false, series = false, output = false;
    bool slices = false, channels = false, time = false, position = false;
};

using cli::takeValues;

// Reads every argument into the plan; an argument that is neither an option word nor a value
// is an input file, or refused when it begins with "-". Returns the files named so.
std::vector<std::string> scanArguments(int argc, char** argv, ExtractionPlan& plan,
                                       GivenOptions& given) {
    std::vector<bool> isValue(static_cast<size_t>(argc), false);
    std::vector<std::string> namedFiles;
    for (int i = 0; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "-s") {
            plan.seriesStart = cli::leadingInteger(takeValues(argc, argv, i, 1, isValue)[0]);
            given.start = true;
        } else if (argument == "-j") {
            plan.seriesStep = cli::leadingInteger(takeValues(argc, argv, i, 1, isValue)[0]);
            given.step = true;
        } else if (argument == "-e") {
            char** values = takeValues(argc, argv, i, 2, isValue);
            if (!given.start || !given.step) cli::fail(seriesBeforeStartAndStep);
            if (given.series) cli::fail(secondSeries);
            given.series = true;
            plan.seriesEnd = cli::leadingInteger(values[0]);
            plan.inputFiles =
                expandSeries(values[1], plan.seriesStart, plan.seriesStep, plan.seriesEnd);
        } else if (argument == "-o") {
            const std::string name = takeValues(argc, argv, i, 1, isValue)[0];
            cli::printLine("%s", name.c_str());
            plan.outputBase = name.substr(0, name.find('.'));
            given.output = true;
        } else if (argument == "-z") {
            char** values = takeValues(argc, argv, i, 2, isValue);
            plan.zStart = cli::leadingInteger(values[0]);
            plan.zEnd = cli::leadingInteger(values[1]);
            cli::printLine("zstart = %d ; zend = %d", plan.zStart, plan.zEnd);
            given.slices = true;
        } else if (argument == "-c") {
            int j = i + 1;
            for (; j < argc && std::strcmp(argv[j], "-t") != 0; ++j) {
                plan.channels.push_back(cli::leadingInteger(argv[j]));
                isValue[static_cast<size_t>(j)] = true;
            }
            if (j == argc) cli::fail(channelListNotClosed);
            given.channels = true;
        } else if (argument == "-t") {
            plan.timeInterval = std::strtod(takeValues(argc, argv, i, 1, isValue)[0], nullptr);
            cli::printLine("time interval = %g", plan.timeInterval);
            given.time = true;
        } else if (argument == "-p") {
            plan.position = cli::leadingInteger(takeValues(argc, argv, i, 1, isValue)[0]);
            cli::printLine("position = %d", plan.position);
            given.position = true;
        } else if (argument == "-a") {
            plan.acquisitionOptics = true;
            cli::printLine("%s", acquisitionOpticsEcho);
        } else if (argument == "-S1" || argument == "-s1") {
            plan.icsVersion = 1;
            plan.omeTiff = false;
        } else if (argument == "-S2" || argument == "-s2") {
            plan.icsVersion = 2;
            plan.omeTiff = false;
        } else if (argument == "-ome") {
            plan.omeTiff = true;
        } else if (i > 0 && !isValue[static_cast<size_t>(i)]) {
            // "-" alone too: the planes are read at offsets, which standard input cannot give.
            if (argument[0] == '-') cli::unknownOption(argv[i]);
            namedFiles.push_back(argument);
        }
    }
    return namedFiles;
}

// The command-line faults that need the whole line: refused before any file is read.
void checkPlan(const ExtractionPlan& plan, const GivenOptions& given) {
    // Without -c a run of no file converts nothing, as it always has; -z and -t need a file.
    if ((!given.slices || !given.time) && plan.inputFiles.empty())
        cli::failWith(noInputFile, usage);
    if (!given.time && plan.inputFiles.size() > 1)
        cli::failWith(intervalOfSeveralFiles, plan.inputFiles.size());
    if (given.position && plan.position < 1) cli::fail(positionBelowOne);
    if (given.slices && plan.zStart < 1) cli::fail(zStartBelowOne);
    if (plan.zEnd < plan.zStart) cli::failWith(zEndBelowZStart, plan.zStart, plan.zEnd);
    for (int channel : plan.channels)
        if (channel < 1) cli::failWith(channelBelowOne, channel);
    if (!given.output || plan.outputBase.empty()) cli::fail(cli::emptyOutputBase);
    if (!plan.omeTiff) {
        requireLibicsFileName(plan.outputBase + ".ids");
        return;
    }
    // An ICS run of no plane leaves its empty data file; an OME-TIFF cannot be empty.
    if (plan.inputFiles.empty()) cli::failWith(omeTiffWithoutPlanes, "input file");
    if (given.channels && plan.channels.empty()) cli::failWith(omeTiffWithoutPlanes, "channel");
}

// Every slice and every channel of the first input file, and its own time interval where the
// command line leaves them out (the interval only for a run of one file: checkPlan).
void takeDefaults(ExtractionPlan& plan, const GivenOptions& given) {
    if (plan.inputFiles.empty() || (given.slices && given.channels && given.time)) return;
    const std::string& name = plan.inputFiles.front();
    const LsmFile first = openLsmFileForReport(name);
    std::fclose(first.stream);
    if (!given.slices) {
        plan.zStart = 1;
        // A slice count below 1 asks for slice 1, which the run refuses naming the file's count.
        plan.zEnd = std::max(lsmInt(first, lsm::DimensionZ), int32_t{1});
    }
    if (!given.channels) {
        // Checked against the strips, so that a count read from the file cannot make the list
        // longer than the file.
        const int32_t channels = lsmInt(first, lsm::DimensionChannels);
        if (channels < 1 || static_cast<size_t>(channels) > first.stripOffsets.size())
            cli::failWith(channelsWithoutStrips, name.c_str(), channels,
                          first.stripOffsets.size());
        for (int channel = 1; channel <= channels; ++channel) plan.channels.push_back(channel);
    }
    if (!given.time) plan.timeInterval = first.info[lsm::TimeInterval];
}

}  // namespace

ExtractionPlan readCommandLine(int argc, char** argv) {
    ExtractionPlan plan;
    GivenOptions given;
    const std::vector<std::string> namedFiles = scanArguments(argc, argv, plan, given);
    if (!namedFiles.empty()) {
        if (given.series) cli::failWith(filesAndSeries, namedFiles.front().c_str());
        plan.inputFiles = namedFiles;
    }
    checkPlan(plan, given);
    takeDefaults(plan, given);
    return plan;
}
