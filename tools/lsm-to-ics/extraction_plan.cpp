// The command line of lsm-to-ics: options, the series of input files, the checks of the plan.
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "command_line.h"
#include "ics_header.h"
#include "lsm_to_ics.h"

const char* const usage =
    "usage: lsm-to-ics -s FIRST -j STEP -e LAST PATTERN -o NAME -z ZSTART ZEND\n"
    "                  -c CHANNEL... -t INTERVAL [-p POSITION] [-S1|-S2]\n"
    "  PATTERN names the series' files with one run of \"?\" for the number (img??.lsm);\n"
    "  NAME is cut at its first \".\"; -S1 writes NAME.ics and NAME.ids, -S2 (default) NAME.ics.";

namespace {

const char* const missingRequiredOptions =
    "The options -z and -t are required.\n%s\nTerminating...";
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

}  // namespace

ExtractionPlan readCommandLine(int argc, char** argv) {
    ExtractionPlan plan;
    bool seenStart = false, seenStep = false, seenSeries = false, seenOutput = false;
    bool seenZ = false, seenTime = false, seenPosition = false;
    for (int i = 0; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "-s") {
            plan.seriesStart = cli::leadingInteger(cli::optionValues(argc, argv, i, 1)[0]);
            seenStart = true;
        } else if (argument == "-j") {
            plan.seriesStep = cli::leadingInteger(cli::optionValues(argc, argv, i, 1)[0]);
            seenStep = true;
        } else if (argument == "-e") {
            char** values = cli::optionValues(argc, argv, i, 2);
            if (!seenStart || !seenStep) cli::fail(seriesBeforeStartAndStep);
            if (seenSeries) cli::fail(secondSeries);
            seenSeries = true;
            plan.seriesEnd = cli::leadingInteger(values[0]);
            plan.inputFiles =
                expandSeries(values[1], plan.seriesStart, plan.seriesStep, plan.seriesEnd);
        } else if (argument == "-o") {
            const std::string name = cli::optionValues(argc, argv, i, 1)[0];
            cli::printLine("%s", name.c_str());
            plan.outputBase = name.substr(0, name.find('.'));
            seenOutput = true;
        } else if (argument == "-z") {
            char** values = cli::optionValues(argc, argv, i, 2);
            plan.zStart = cli::leadingInteger(values[0]);
            plan.zEnd = cli::leadingInteger(values[1]);
            cli::printLine("zstart = %d ; zend = %d", plan.zStart, plan.zEnd);
            seenZ = true;
        } else if (argument == "-c") {
            int j = i + 1;
            for (; j < argc && std::strcmp(argv[j], "-t") != 0; ++j)
                plan.channels.push_back(cli::leadingInteger(argv[j]));
            if (j == argc) cli::fail(channelListNotClosed);
        } else if (argument == "-t") {
            plan.timeInterval = std::strtod(cli::optionValues(argc, argv, i, 1)[0], nullptr);
            cli::printLine("time interval = %g", plan.timeInterval);
            seenTime = true;
        } else if (argument == "-p") {
            plan.position = cli::leadingInteger(cli::optionValues(argc, argv, i, 1)[0]);
            cli::printLine("position = %d", plan.position);
            seenPosition = true;
        } else if (argument == "-S1" || argument == "-s1") {
            plan.icsVersion = 1;
        } else if (argument == "-S2" || argument == "-s2") {
            plan.icsVersion = 2;
        }
    }
    if (!seenZ || !seenTime) cli::failWith(missingRequiredOptions, usage);
    if (seenPosition && plan.position < 1) cli::fail(positionBelowOne);
    if (plan.zStart < 1) cli::fail(zStartBelowOne);
    if (plan.zEnd < plan.zStart) cli::failWith(zEndBelowZStart, plan.zStart, plan.zEnd);
    for (int channel : plan.channels)
        if (channel < 1) cli::failWith(channelBelowOne, channel);
    if (!seenOutput || plan.outputBase.empty()) cli::fail(cli::emptyOutputBase);
    requireLibicsFileName(plan.outputBase + ".ids");
    return plan;
}

