// The ICS export: the chosen planes as a smaller ICS image, its header by the shared recipe.
#include "byte_range_copy.h"
#include "command_line.h"
#include "ics_header.h"
#include "ics_split.h"

namespace {

const char* const emptyRange =
    "An %s export needs a %s range whose start (%d) does not lie above its end "
    "(%d).\nTerminating...";
const char* const outputIsInput =
    "The output %s is the input file %s; give another name after -o.\nTerminating...";
const char* const foreignByteOrder =
    "The input's samples are stored %s-endian, and an ICS image written here declares them in "
    "this machine's order; split it into TIFF planes (-tif) instead.\nTerminating...";

int countOf(const Range& range) {
    return range.end - range.start + 1;
}

IcsHeaderValues subsetHeaderValues(const SplitOptions& options, const IcsInputInfo& info) {
    IcsHeaderValues v;
    v.icsFileName = options.outputBase + ".ids";
    v.icsVersion = options.mode == icsVersion1 ? 1 : 2;
    v.dataType = info.dataType;
    v.significantBits = info.significantBits;
    v.columns = info.X;
    v.rows = info.Y;
    v.zCount = static_cast<size_t>(countOf(options.z));
    v.timeCount = static_cast<size_t>(countOf(options.t));
    v.channelCount = options.channels.size();
    v.scaleX = info.vx;
    v.scaleY = info.vy;
    v.scaleZ = info.vz;
    v.scaleT = info.vt;
    for (size_t k = 0; k < options.channels.size(); ++k) {
        SensorChannel channel;
        channel.pinholeRadius = info.pinholeRadius[k];
        channel.excitationWavelength = info.excitation[k];
        channel.emissionWavelength = info.emission[k];
        v.sensorChannels.push_back(channel);
    }
    v.numericalAperture = info.numericalAperture;
    v.lensRefractiveIndex = std::nullopt;
    v.timeStart = options.t.start;
    v.timeEnd = options.t.end;
    return v;
}

}  // namespace

// The output name is cut at its first ".", so "-o cell.part" names cell.ics and cell.ids, and a
// link can lead to the input too.
void refuseOutputOverInput(const std::vector<std::string>& outputs, const IcsInputInfo& info) {
    for (const std::string& output : outputs)
        for (const std::string& input : {info.headerFileName, info.dataFileName})
            if (fileio::sameFile(output, input))
                cli::failWith(outputIsInput, output.c_str(), input.c_str());
}

void refuseEmptyRanges(const SplitOptions& options, const char* exportName) {
    for (const auto& [name, range] :
         {std::make_pair("slice", options.z), std::make_pair("time", options.t)})
        if (range.start > range.end)
            cli::failWith(emptyRange, exportName, name, range.start, range.end);
}

void exportIcsSubset(const SplitOptions& options, const IcsInputInfo& info, PlaneReader& reader) {
    requireLibicsFileName(options.outputBase + ".ids");
    refuseOutputOverInput({options.outputBase + ".ics", options.outputBase + ".ids"}, info);
    refuseEmptyRanges(options, "ICS");
    // libics writes the header in this machine's byte order, whatever the samples' order is.
    if (info.bigEndianSamples != hostIsBigEndian())
        cli::failWith(foreignByteOrder, info.bigEndianSamples ? "big" : "little");
    const IcsHeaderValues header = subsetHeaderValues(options, info);
    ICS* ics = setupIcsHeader(header);
    OutputData output;
    for (int k : options.channels)
        for (int t = options.t.start; t <= options.t.end; ++t)
            for (int z = options.z.start; z <= options.z.end; ++z) {
                const uint64_t offset = planeInFile(reader, info, k, t, z);
                // The first plane goes to libics from memory, and so do decoded planes; the
                // kernel copies the others.
                const unsigned char* plane = output.file < 0 || info.gzipData
                                                 ? readPlane(reader, info, k, t, z)
                                                 : nullptr;
                cli::printLine("t%d,z%d", t, z);
                cli::printLine("%llu", static_cast<unsigned long long>(offset));
                const auto planeBytes = static_cast<size_t>(info.planeBytes);
                if (output.file < 0)
                    output = startOutputData(ics, header.icsVersion, options.outputBase, plane,
                                             planeBytes);
                else if (plane)
                    appendPlane(output, plane, planeBytes);
                else
                    appendPlaneFrom(output, fileno(reader.stream), offset, planeBytes);
            }
    finishOutputData(output);
}
