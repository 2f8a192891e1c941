#include "rulers.h"

#include <charconv>
#include <cmath>
#include <iterator>

namespace vurma::display {

double RulerStep(double minStep) {
    if (!(minStep > 0)) return 1.0;
    double step = std::pow(10.0, std::floor(std::log10(minStep)));
    for (double m : {1.0, 2.0, 5.0, 10.0}) {
        if (step * m >= minStep * (1 - 1e-9)) return step * m;
    }
    return step * 10;
}

std::string FrequencyLabel(double hz) {
    // to_chars, unlike printf, ignores the locale: always a decimal point.
    char text[32];
    const bool kilo = hz >= 1000;
    const auto end = std::to_chars(text, text + sizeof text, kilo ? hz / 1000 : hz,
                                   std::chars_format::general, 3);
    return std::string(text, end.ptr) + (kilo ? "kHz" : "Hz");
}

std::vector<AxisMark> OctaveMarks(double minHz, double maxHz) {
    // Octaves of 1 kHz, labelled with the usual rounded band names.
    static constexpr double kNominal[] = {31.5, 63, 125, 250, 500, 1000, 2000, 4000, 8000, 16000};
    std::vector<AxisMark> marks;
    for (int i = 0; i < static_cast<int>(std::size(kNominal)); ++i) {
        const double hz = 1000 * std::pow(2.0, i - 5);
        if (hz >= minHz && hz <= maxHz) marks.push_back({hz, FrequencyLabel(kNominal[i])});
    }
    return marks;
}

}  // namespace vurma::display
