// Each image channel's own detection channel and laser, from the tracks of the scan information.
#include <algorithm>

#include "lsm_reader.h"

namespace lsm {

namespace {

bool hasWavelength(const IlluminationChannel& channel) {
    return channel.wavelength && *channel.wavelength > 0;
}

// The wavelengths of a track's lasers in use: those flagged on, or all where none is, as some
// software flags none of the lasers it uses (two-photon files among them).
std::vector<double> lasersInUse(const ScanTrack& track) {
    std::vector<double> flagged, all;
    for (const IlluminationChannel& channel : track.illuminationChannels) {
        if (!hasWavelength(channel)) continue;
        all.push_back(*channel.wavelength);
        if (channel.acquired) flagged.push_back(*channel.wavelength);
    }
    return flagged.empty() ? all : flagged;
}

}  // namespace

std::vector<ChannelAcquisition> acquiredChannels(const ScanInfoTracks& tracks) {
    std::vector<ChannelAcquisition> acquired;
    for (const ScanTrack& track : tracks) {
        // A switched-off track may still flag a detector of its own.
        if (!track.acquired) continue;
        const std::vector<double> lasers = lasersInUse(track);
        const auto detectorsOn = static_cast<size_t>(
            std::count_if(track.detectionChannels.begin(), track.detectionChannels.end(),
                          [](const DetectionChannel& channel) { return channel.acquired; }));
        size_t position = 0;
        for (const DetectionChannel& detection : track.detectionChannels) {
            if (!detection.acquired) continue;
            ChannelAcquisition channel{&track, &detection, std::nullopt, false};
            if (lasers.size() == 1)
                channel.laser = lasers[0];
            else if (lasers.size() == detectorsOn)
                channel.laser = lasers[position];
            acquired.push_back(channel);
            ++position;
        }
    }
    return acquired;
}

ChannelAcquisition acquisitionOfChannel(const std::vector<ChannelAcquisition>& acquired,
                                        const ScanInfoNumbers& numbers, int32_t channelCount,
                                        int channel) {
    ChannelAcquisition result;
    if (channelCount > 0 && acquired.size() == static_cast<size_t>(channelCount) && channel >= 1 &&
        channel <= channelCount) {
        result = acquired[static_cast<size_t>(channel - 1)];
    } else if (acquired.size() == 1 && channelCount > 1) {
        result = acquired[0];
        result.spectralBin = true;
    }
    if (!result.laser && channel >= 1) {
        const size_t position = FirstWavelength + static_cast<size_t>(channel - 1);
        if (position < numbers.size()) result.laser = numbers[position];
    }
    return result;
}

}  // namespace lsm
