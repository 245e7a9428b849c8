// The acquisition's own optics (-a): each channel's emission from its detection channel, the
// refractive indices of the objective's immersion, and history lines of what the header cannot
// hold.
#include <strings.h>

#include <cctype>
#include <cmath>
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
    return d.bandStart && d.bandStop && *d.bandStart > 0 && *d.bandStop > *d.bandStart &&
           std::isfinite(*d.bandStop);
}

// The band of bin channel (from 1) of channelCount bins of a spectral image's detected band.
std::pair<double, double> spectralBin(const lsm::DetectionChannel& d, int channel,
                                      int32_t channelCount) {
    const double width = (*d.bandStop - *d.bandStart) / channelCount;
    return {*d.bandStart + (channel - 1) * width, *d.bandStart + channel * width};
}

const char* afterBlanks(const char* text) {
    while (*text == ' ') ++text;
    return text;
}

// A wavelength of a filter's name at text, in nm; where is set after it. Values no filter
// passes (infinite, beyond 10 µm) are not wavelengths.
std::optional<double> filterWavelength(const char* text, const char** where) {
    if (!std::isdigit(static_cast<unsigned char>(*text))) return std::nullopt;
    char* end = nullptr;
    const double value = std::strtod(text, &end);
    *where = end;
    if (!std::isfinite(value) || value <= 0 || value > 10000) return std::nullopt;
    return value;
}

// A filter's name read: a band pass "BP a-b" (blanks allowed around the dash) or a long pass
// "LP a", where high is unset.
struct DetectionFilter {
    double low = 0;
    std::optional<double> high;
};

std::optional<DetectionFilter> filterOf(const std::string& name) {
    const bool bandPass = strncasecmp(name.c_str(), "BP", 2) == 0;
    if (!bandPass && strncasecmp(name.c_str(), "LP", 2) != 0) return std::nullopt;
    const char* text = afterBlanks(name.c_str() + 2);
    const std::optional<double> low = filterWavelength(text, &text);
    if (!low) return std::nullopt;
    if (!bandPass) return DetectionFilter{*low, std::nullopt};
    text = afterBlanks(text);
    if (*text != '-') return std::nullopt;
    const std::optional<double> high = filterWavelength(afterBlanks(text + 1), &text);
    if (!high || *high <= *low) return std::nullopt;
    return DetectionFilter{*low, high};
}

// Where a channel's detected light is known from, the first that applies: a spectral image's
// bin, a filter (before the band: detectors behind a filter keep a stale full-range band), the
// band detected. The emission and the history follow the same choice.
enum class DetectionSource { none, spectralBin, filter, band };

DetectionSource detectionSourceOf(const lsm::ChannelAcquisition& a) {
    const lsm::DetectionChannel* d = a.detection;
    if (!d) return DetectionSource::none;
    if (a.spectralBin && bandIsValid(*d)) return DetectionSource::spectralBin;
    if (filterOf(d->filterName)) return DetectionSource::filter;
    if (bandIsValid(*d)) return DetectionSource::band;
    return DetectionSource::none;
}

// The emission a filter passes: the centre of a band pass; for a long pass its edge where the
// recipe's value does not lie above it, else none (the recipe's value stands).
std::optional<double> emissionThroughFilter(const DetectionFilter& filter, double recipeValue) {
    if (filter.high) return (filter.low + *filter.high) / 2;
    if (recipeValue > filter.low) return std::nullopt;
    return filter.low;
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

std::string detectionPart(double low, double high) {
    return formatted("detection %g", low) + formatted("-%g nm", high);
}

// What the file tells of an output channel: "track NAME; laser W nm; detection A-B nm; filter
// F; pinhole D um; dye X", each part where the file gives it. Of the band and the filter, the
// one the emission comes from; a filter name not read as one is kept where no band is.
std::string channelHistory(const lsm::ChannelAcquisition& a, int channel, int32_t channelCount) {
    std::vector<std::string> parts;
    if (a.track && !a.track->name.empty()) parts.push_back("track " + historyText(a.track->name));
    if (a.laser) parts.push_back(formatted("laser %g nm", *a.laser));
    if (const lsm::DetectionChannel* d = a.detection) {
        switch (detectionSourceOf(a)) {
            case DetectionSource::spectralBin: {
                const auto [low, high] = spectralBin(*d, channel, channelCount);
                parts.push_back(detectionPart(low, high));
                break;
            }
            case DetectionSource::band:
                parts.push_back(detectionPart(*d->bandStart, *d->bandStop));
                break;
            case DetectionSource::filter:
            case DetectionSource::none:
                if (!d->filterName.empty()) parts.push_back("filter " + historyText(d->filterName));
                break;
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

std::optional<double> detectedEmission(const lsm::ChannelAcquisition& a, int channel,
                                       int32_t channelCount, double excitation) {
    const lsm::DetectionChannel* d = a.detection;
    if (!d) return std::nullopt;
    // The transmitted-light detector sees the laser itself.
    if (d->channelName == "ChD") return excitation;
    switch (detectionSourceOf(a)) {
        case DetectionSource::spectralBin: {
            const auto [low, high] = spectralBin(*d, channel, channelCount);
            return (low + high) / 2;
        }
        case DetectionSource::filter:
            return emissionThroughFilter(*filterOf(d->filterName),
                                         emissionWavelengthFor(excitation));
        case DetectionSource::band: return (*d->bandStart + *d->bandStop) / 2;
        case DetectionSource::none: break;
    }
    return std::nullopt;
}

double acquiredEmission(const lsm::ChannelAcquisition& a, int channel, int32_t channelCount,
                        double excitation) {
    return detectedEmission(a, channel, channelCount, excitation)
        .value_or(emissionWavelengthFor(excitation));
}

Immersion immersionOf(const std::string& objective, std::optional<double> numericalAperture) {
    // The first immersion word of the name decides; "Imm" marks a multi-immersion lens.
    for (const std::string& word : wordsOf(objective)) {
        if (isWordOf(word, {"Oil"})) return {"oil", "Oil", 1.515, 1.515};
        if (isWordOf(word, {"W", "Water"})) return {"water", "Water", 1.333, 1.333};
        if (isWordOf(word, {"Glyc", "Gly"})) return {"glycerol", "Glycerol", 1.47, 1.47};
        if (isWordOf(word, {"Imm"})) return {"unknown", "Multi", std::nullopt, std::nullopt};
    }
    if (numericalAperture && *numericalAperture < 1) return {"dry", "Air", 1.0, std::nullopt};
    return {"unknown", "", std::nullopt, std::nullopt};
}

void describeAcquisitionOptics(const std::string& objective,
                               const std::vector<lsm::ChannelAcquisition>& channels,
                               const std::vector<int>& channelNumbers, int32_t channelCount,
                               IcsHeaderValues& v) {
    const Immersion immersion = immersionOf(objective, v.numericalAperture);
    if (immersion.lensRefractiveIndex) v.lensRefractiveIndex = immersion.lensRefractiveIndex;
    if (immersion.mediumRefractiveIndex) v.mediumRefractiveIndex = *immersion.mediumRefractiveIndex;
    if (!objective.empty()) v.history.emplace_back("objective", historyText(objective));
    v.history.emplace_back("immersion", immersion.name);
    for (size_t i = 0; i < channels.size(); ++i) {
        const std::string line = channelHistory(channels[i], channelNumbers[i], channelCount);
        if (!line.empty()) v.history.emplace_back("channel_" + std::to_string(i + 1), line);
    }
}
