// Ruler marks and labels of the pictures' axes. Toolkit-free; any thread.
#pragma once

#include <string>
#include <vector>

namespace vurma::display {

// Ruler marks: 1-2-5 steps at least `minStep` apart.
double RulerStep(double minStep);
// Octave marks of the log axis: 31.25, 62.5, 125 ... up to maxHz, with their
// labels 31.5, 63, 125, 250, 500, 1k ... .
struct AxisMark {
    double value;
    std::string label;
};
std::vector<AxisMark> OctaveMarks(double minHz, double maxHz);
// "500Hz", "1kHz", "2.5kHz".
std::string FrequencyLabel(double hz);

}  // namespace vurma::display
