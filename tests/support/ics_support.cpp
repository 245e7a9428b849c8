// ICS images through libics, for the tests.
#include "ics_support.h"

#include <libics_sensor.h>
#include <zlib.h>

#include <stdexcept>

namespace lsmtest {

IcsContents readIcs(const std::string& base) {
    IcsContents c;
    ICS* ics = nullptr;
    if (IcsOpen(&ics, base.c_str(), "r") != IcsErr_Ok) return c;
    c.opened = true;
    c.version = ics->version;
    int dimensionCount = 0;
    size_t sizes[ICS_MAXDIM] = {};
    IcsGetLayout(ics, &c.dataType, &dimensionCount, sizes);
    for (int d = 0; d < dimensionCount; ++d) {
        IcsDimension dimension;
        dimension.size = sizes[d];
        char order[ICS_STRLEN_TOKEN] = "", label[ICS_STRLEN_TOKEN] = "",
             units[ICS_STRLEN_TOKEN] = "";
        IcsGetOrder(ics, d, order, label);
        IcsGetPosition(ics, d, &dimension.origin, &dimension.scale, units);
        dimension.order = order;
        dimension.label = label;
        dimension.units = units;
        c.dimensions.push_back(dimension);
    }
    IcsGetSignificantBits(ics, &c.significantBits);
    double origin = 0, scale = 0;
    char imelUnits[ICS_STRLEN_TOKEN] = "";
    IcsGetImelUnits(ics, &origin, &scale, imelUnits);
    c.imelUnits = imelUnits;
    c.sensorChannels = IcsGetSensorChannels(ics);
    const char* model = IcsGetSensorModel(ics);
    c.sensorModel = model ? model : "";
    c.numericalAperture = IcsGetSensorNumAperture(ics);
    c.mediumRefractiveIndex = IcsGetSensorMediumRI(ics);
    c.lensRefractiveIndex = IcsGetSensorLensRI(ics);
    c.pinholeSpacing = IcsGetSensorPinholeSpacing(ics);
    for (int i = 0; i < c.sensorChannels; ++i) {
        const char* type = IcsGetSensorType(ics, i);
        c.sensorTypes.push_back(type ? type : "");
        c.pinholeRadius.push_back(IcsGetSensorPinholeRadius(ics, i));
        c.excitation.push_back(IcsGetSensorExcitationWavelength(ics, i));
        c.emission.push_back(IcsGetSensorEmissionWavelength(ics, i));
        c.photonCount.push_back(IcsGetSensorPhotonCount(ics, i));
    }
    Ics_HistoryIterator it;
    if (IcsNewHistoryIterator(ics, &it, nullptr) == IcsErr_Ok) {
        char key[ICS_STRLEN_TOKEN + 1], value[ICS_LINE_LENGTH];
        while (IcsGetHistoryKeyValueI(ics, &it, key, value) == IcsErr_Ok)
            c.history.emplace_back(key, value);
    }
    c.data.resize(IcsGetDataSize(ics));
    if (!c.data.empty() && IcsGetData(ics, c.data.data(), c.data.size()) != IcsErr_Ok)
        c.data.clear();
    IcsClose(ics);
    return c;
}

void writeIcs(const std::string& base, const IcsImage& image) {
    ICS* ics = nullptr;
    if (IcsOpen(&ics, base.c_str(), image.version == 1 ? "w1" : "w2") != IcsErr_Ok)
        throw std::runtime_error("cannot open " + base);
    IcsSetLayout(ics, image.dataType, static_cast<int>(image.sizes.size()), image.sizes.data());
    if (image.significantBits) IcsSetSignificantBits(ics, image.significantBits);
    for (size_t d = 0; d < image.labels.size(); ++d) {
        const int dimension = static_cast<int>(d);
        IcsSetOrder(ics, dimension, image.labels[d].c_str(), image.labels[d].c_str());
        IcsSetPosition(ics, dimension, 0.0, d < image.scales.size() ? image.scales[d] : 1.0,
                       "micrometers");
    }
    if (!image.excitation.empty()) {
        const int channels = static_cast<int>(image.excitation.size());
        IcsEnableWriteSensor(ics, 1);
        for (int i = 0; i < channels; ++i) IcsSetSensorType(ics, i, "IncohConfMicr");
        IcsSetSensorChannels(ics, channels);
        for (int i = 0; i < channels; ++i) {
            IcsSetSensorPinholeRadius(ics, i, image.pinholeRadius.at(static_cast<size_t>(i)));
            IcsSetSensorExcitationWavelength(ics, i, image.excitation[static_cast<size_t>(i)]);
            IcsSetSensorEmissionWavelength(ics, i, image.emission.at(static_cast<size_t>(i)));
        }
        IcsSetSensorNumAperture(ics, image.numericalAperture);
    }
    IcsSetData(ics, image.data.data(), image.data.size());
    if (image.gzipLevel) IcsSetCompression(ics, IcsCompr_gzip, image.gzipLevel);
    if (IcsClose(ics) != IcsErr_Ok) throw std::runtime_error("cannot write " + base);
}

Bytes gzipStream(const std::vector<Bytes>& pieces, std::vector<size_t>* ends) {
    z_stream z{};
    if (deflateInit2(&z, 6, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::runtime_error("deflateInit2");
    Bytes stream;
    for (size_t i = 0; i <= pieces.size(); ++i) {
        Bytes piece = i < pieces.size() ? pieces[i] : Bytes();
        z.next_in = piece.data();
        z.avail_in = static_cast<uInt>(piece.size());
        int status = Z_OK;
        do {
            uint8_t out[4096];
            z.next_out = out;
            z.avail_out = sizeof out;
            status = deflate(&z, i < pieces.size() ? Z_FULL_FLUSH : Z_FINISH);
            stream.insert(stream.end(), out, out + (sizeof out - z.avail_out));
        } while (z.avail_out == 0 && status != Z_STREAM_END);
        if (ends && i < pieces.size()) ends->push_back(stream.size());
    }
    deflateEnd(&z);
    return stream;
}

}  // namespace lsmtest
