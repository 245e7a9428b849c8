// The acquisition's own optics (-a): each channel's emission from its detection channel, the
// refractive indices of the objective's immersion, and history lines of what the header cannot
// hold.
#include <strings.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "lsm_to_ics.h"

namespace {

// File texts go into header lines: each at most this long, so that a line of three of them fits
// libics's lines of 1024 characters.
constexpr size_t longestHistoryText = 200;

std::string formatted(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

bool bandIsValid(const lsm::DetectionChannel& d) {
    return d.bandStart && d.bandStop && *d.bandStart > 0 && *d.bandStop > *d.bandStart;
}

// The band of bin channel (from 1) of channelCount bins of a spectral image's detected band.
std::pair<double, double> spectralBin(const lsm::DetectionChannel& d, int channel,
                                      int32_t channelCount) {
    const double width = (*d.bandStop - *d.bandStart) / channelCount;
    return {*d.bandStart + (channel - 1) * width, *d.bandStart + channel * width};
}

// The number after a filter's kind ("BP", "LP") and the blanks that follow it.
const char* afterFilterKind(const std::string& filter, const char* kind) {
    if (strncasecmp(filter.c_str(), kind, 2) != 0) return nullptr;
    const char* text = filter.c_str() + 2;
    while (*text == ' ') ++text;
    return std::isdigit(static_cast<unsigned char>(*text)) ? text : nullptr;
}

// The emission a filter passes: the centre of a band pass "BP a-b"; for a long pass "LP a", the
// recipe's value where it lies above the edge, else the edge.
std::optional<double> emissionThroughFilter(const std::string& filter, double recipeValue) {
    if (const char* text = afterFilterKind(filter, "BP")) {
        char* end = nullptr;
        const double low = std::strtod(text, &end);
        if (*end != '-') return std::nullopt;
        const double high = std::strtod(end + 1, nullptr);
        if (high > low) return (low + high) / 2;
    }
    if (const char* text = afterFilterKind(filter, "LP")) {
        const double edge = std::strtod(text, nullptr);
        return recipeValue > edge ? recipeValue : edge;
    }
    return std::nullopt;
}

// The immersion words of an objective's name, compared as whole words in any case.
bool isWordOf(const std::string& word, std::initializer_list<const char*> words) {
    for (const char* w : words)
        if (strcasecmp(word.c_str(), w) == 0) return true;
    return false;
}

std::vector<std::string> wordsOf(const std::string& text) {
    std::vector<std::string> words;
    std::string word;
    for (char c : text + ' ') {
        if (std::isalnum(static_cast<unsigned char>(c))) {
            word += c;
        } else if (!word.empty()) {
            words.push_back(word);
            word.clear();
        }
    }
    return words;
}

// A text of the file as a history value: control characters would end or split the line.
std::string historyText(const std::string& text) {
    std::string value = text.substr(0, longestHistoryText);
    for (char& c : value)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
    return value;
}

// What the file tells of an output channel: "track NAME; laser W nm; detection A-B nm; filter
// F; pinhole D um; dye X", each part where the file gives it; the detected band of a channel
// behind a filter is left out, as real files keep a stale full range there.
std::string channelHistory(const lsm::ChannelAcquisition& a, int channel, int32_t channelCount) {
    std::vector<std::string> parts;
    if (a.track && !a.track->name.empty()) parts.push_back("track " + historyText(a.track->name));
    if (a.laser) parts.push_back(formatted("laser %g nm", *a.laser));
    if (const lsm::DetectionChannel* d = a.detection) {
        if (a.spectralBin && bandIsValid(*d)) {
            const auto [low, high] = spectralBin(*d, channel, channelCount);
            parts.push_back(formatted("detection %g", low) + formatted("-%g nm", high));
        } else if (!d->filterName.empty()) {
            parts.push_back("filter " + historyText(d->filterName));
        } else if (bandIsValid(*d)) {
            parts.push_back(formatted("detection %g", *d->bandStart) +
                            formatted("-%g nm", *d->bandStop));
        }
        if (d->pinholeDiameter && *d->pinholeDiameter > 0)
            parts.push_back(formatted("pinhole %g um", *d->pinholeDiameter));
        if (!d->dyeName.empty()) parts.push_back("dye " + historyText(d->dyeName));
    }
    std::string line;
    for (const std::string& part : parts) line += (line.empty() ? "" : "; ") + part;
    return line;
}

}  // namespace

double acquiredEmission(const lsm::ChannelAcquisition& a, int channel, int32_t channelCount,
                        double excitation) {
    const double recipeValue = emissionWavelengthFor(excitation);
    const lsm::DetectionChannel* d = a.detection;
    if (!d) return recipeValue;
    // The transmitted-light detector sees the laser itself.
    if (d->channelName == "ChD") return excitation;
    if (a.spectralBin && bandIsValid(*d)) {
        const auto [low, high] = spectralBin(*d, channel, channelCount);
        return (low + high) / 2;
    }
    // The filter before the band: detectors behind a filter keep a stale full-range band.
    if (const std::optional<double> filtered = emissionThroughFilter(d->filterName, recipeValue))
        return *filtered;
    if (bandIsValid(*d)) return (*d->bandStart + *d->bandStop) / 2;
    return recipeValue;
}

Immersion immersionOf(const std::string& objective, std::optional<double> numericalAperture) {
    // The first immersion word of the name decides; "Imm" marks a multi-immersion lens.
    for (const std::string& word : wordsOf(objective)) {
        if (isWordOf(word, {"Oil"})) return {"oil", 1.515, 1.515};
        if (isWordOf(word, {"W", "Water"})) return {"water", 1.333, 1.333};
        if (isWordOf(word, {"Glyc", "Gly"})) return {"glycerol", 1.47, 1.47};
        if (isWordOf(word, {"Imm"})) return {"unknown", std::nullopt, std::nullopt};
    }
    if (numericalAperture && *numericalAperture < 1) return {"dry", 1.0, std::nullopt};
    return {"unknown", std::nullopt, std::nullopt};
}

void describeAcquisitionOptics(const std::string& objective,
                               const std::vector<lsm::ChannelAcquisition>& channels,
                               const std::vector<int>& channelNumbers, int32_t channelCount,
                               IcsHeaderValues& v) {
    const Immersion immersion = immersionOf(objective, v.numericalAperture);
    if (immersion.lensRefractiveIndex) v.lensRefractiveIndex = immersion.lensRefractiveIndex;
    if (immersion.mediumRefractiveIndex)
        v.mediumRefractiveIndex = *immersion.mediumRefractiveIndex;
    if (!objective.empty()) v.history.emplace_back("objective", historyText(objective));
    v.history.emplace_back("immersion", immersion.name);
    for (size_t i = 0; i < channels.size(); ++i) {
        const std::string line = channelHistory(channels[i], channelNumbers[i], channelCount);
        if (!line.empty()) v.history.emplace_back("channel_" + std::to_string(i + 1), line);
    }
}
