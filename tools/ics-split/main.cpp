// ics-split: a channel/time/z range of an ICS image as per-plane TIFF files, a smaller ICS image
// or one OME-TIFF.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "command_line.h"
#include "ics_split.h"
#include "standard_options.h"

namespace {

const char* const usage =
    "usage: ics-split -i INPUT[.ics] -o NAME [-z ZSTART ZEND] [-t TSTART TEND] [-c CHANNEL... -t "
    "TSTART TEND]\n"
    "                 [-tif|-tiff|-TIF|-TIFF | -s1|-S1 | -s2|-S2 | -ome]\n"
    "  Without -z, -t or -c the whole extent of the input is taken. -tif (the default) writes\n"
    "  NAME_chCCtTTTTzZZZ.tif per plane; -s1 writes NAME.ics and NAME.ids, -s2 one NAME.ics;\n"
    "  -ome one OME-TIFF NAME.ome.tif of a page per plane.";
const char* const missingInput = "The input is missing: give it with -i.\n%s";
const char* const numberBelowOne =
    "Channel, time point and slice numbers start at 1 (%s %d).\nTerminating...";
const char* const beyondExtent =
    "%s %d lies beyond the input, which has %s 1 to %u.\nTerminating...";

std::string cutAt(const std::string& text, const char* mark) {
    return text.substr(0, text.find(mark));
}

Range readRange(char** values) {
    return {true, cli::leadingInteger(values[0]), cli::leadingInteger(values[1])};
}

SplitOptions readCommandLine(int argc, char** argv) {
    SplitOptions options;
    std::vector<bool> isValue(static_cast<size_t>(argc), false);
    for (int i = 0; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "-i") {
            options.inputBase = cutAt(cli::takeValues(argc, argv, i, 1, isValue)[0], ".ics");
            options.hasInput = true;
            cli::printLine("input file : %s", options.inputBase.c_str());
        } else if (argument == "-o") {
            options.outputBase = cutAt(cli::takeValues(argc, argv, i, 1, isValue)[0], ".");
            options.hasOutput = true;
            cli::printLine("output file : %s", options.outputBase.c_str());
        } else if (argument == "-z") {
            options.z = readRange(cli::takeValues(argc, argv, i, 2, isValue));
            cli::printLine("zstart = %d ; zend = %d", options.z.start, options.z.end);
        } else if (argument == "-t") {
            options.t = readRange(cli::takeValues(argc, argv, i, 2, isValue));
            cli::printLine("tstart = %d ; tend = %d", options.t.start, options.t.end);
        } else if (argument == "-c") {
            // The list ends at the next "-t", which the scan then meets as the time option.
            for (int j = i + 1; j < argc && std::strcmp(argv[j], "-t") != 0; ++j) {
                options.channels.push_back(cli::leadingInteger(argv[j]));
                isValue[static_cast<size_t>(j)] = true;
            }
        } else if (argument == "-TIF" || argument == "-TIFF" || argument == "-tif" ||
                   argument == "-tiff") {
            options.mode = tiffPlanes;
        } else if (argument == "-S2" || argument == "-s2") {
            options.mode = icsVersion2;
        } else if (argument == "-S1" || argument == "-s1") {
            options.mode = icsVersion1;
        } else if (argument == "-ome") {
            options.mode = omeTiff;
        } else if (i > 0 && !isValue[static_cast<size_t>(i)] && argument[0] == '-') {
            cli::unknownOption(argv[i]);
        }
    }
    if (!options.hasInput) cli::failWith(missingInput, usage);
    if (!options.hasOutput || options.outputBase.empty()) cli::fail(cli::emptyOutputBase);
    for (int channel : options.channels)
        if (channel < 1) cli::failWith(numberBelowOne, "channel", channel);
    for (const auto& [name, range] :
         {std::make_pair("time point", options.t), std::make_pair("slice", options.z)})
        if (range.given && (range.start < 1 || range.end < 1))
            cli::failWith(numberBelowOne, name, range.start < 1 ? range.start : range.end);
    return options;
}

// What the user left out is the input's whole extent; what was given must lie inside it.
void completeRanges(SplitOptions& options, const IcsInputInfo& info) {
    if (!options.z.given) options.z = {false, 1, static_cast<int>(info.Z)};
    if (!options.t.given) options.t = {false, 1, static_cast<int>(info.T)};
    for (int channel : options.channels)
        if (static_cast<uint32_t>(channel) > info.CH)
            cli::failWith(beyondExtent, "Channel", channel, "channels", info.CH);
    if (options.t.start <= options.t.end && static_cast<uint32_t>(options.t.end) > info.T)
        cli::failWith(beyondExtent, "Time point", options.t.end, "time points", info.T);
    if (options.z.start <= options.z.end && static_cast<uint32_t>(options.z.end) > info.Z)
        cli::failWith(beyondExtent, "Slice", options.z.end, "slices", info.Z);
}

}  // namespace

int main(int argc, char** argv) {
    if (answeredStandardOption(argc, argv, "ics-split", usage)) return 0;
    SplitOptions options = readCommandLine(argc, argv);
    IcsInputInfo info = readInputHeader(options);
    reportHeader(info);
    PlaneReader reader = openInputData(info);
    derivePlaneLayout(info, reader);
    completeRanges(options, info);
    if (options.mode == tiffPlanes)
        exportTiffPlanes(options, info, reader);
    else if (options.mode == omeTiff)
        exportOmeTiff(options, info, reader);
    else
        exportIcsSubset(options, info, reader);
    cli::printLine("complete");
    closeInputData(reader);
    return 0;
}
