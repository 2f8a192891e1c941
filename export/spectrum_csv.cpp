#include "spectrum_csv.h"

#include <cstdio>
#include <cstring>

namespace vurma {

namespace {

// "%.*f", without the minus of a value that rounds to zero.
void AppendFixed(std::string& out, double value, int decimals) {
    char text[48];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    const char* shown = text;
    if (text[0] == '-' && std::strspn(text + 1, "0.") == std::strlen(text + 1)) ++shown;
    out += shown;
}

}  // namespace

std::string BuildSpectrumCsv(const SpanSpectrum& spectrum) {
    const bool suffixed =
        spectrum.curves.size() != 1 || spectrum.curves[0].channel != SpectrumChannel::kMix;
    std::string out = "frequency_hz";
    for (const SpectrumCurves& curves : spectrum.curves) {
        const std::string suffix =
            suffixed ? std::string("_") + SpectrumChannelName(curves.channel) : "";
        out += ",average_dbfs" + suffix + ",max_dbfs" + suffix;
    }
    out += '\n';
    if (spectrum.curves.empty()) return out;
    out.reserve(out.size() +
                static_cast<std::size_t>(spectrum.bins()) * (12 + 18 * spectrum.curves.size()));
    for (int k = 0; k < spectrum.bins(); ++k) {
        AppendFixed(out, k * spectrum.HzPerBin(), 4);
        for (const SpectrumCurves& curves : spectrum.curves) {
            out += ',';
            AppendFixed(out, curves.averageDb[k], 3);
            out += ',';
            AppendFixed(out, curves.maxDb[k], 3);
        }
        out += '\n';
    }
    return out;
}

std::string PeakLines(const std::vector<SpectrumPeak>& peaks, double a4Hz) {
    std::string out;
    for (const SpectrumPeak& peak : peaks) {
        const Pitch pitch = PitchOf(peak.hz, a4Hz);
        AppendFixed(out, peak.hz, 2);
        out += '\t';
        AppendFixed(out, peak.db, 2);
        out += '\t' + NoteName(pitch.midi) + '\t' + CentsText(pitch.cents) + '\n';
    }
    return out;
}

}  // namespace vurma
