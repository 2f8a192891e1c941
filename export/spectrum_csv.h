// The span spectrum as text: the UTF-8 CSV file (one row per bin from 0 Hz
// to Nyquist, the average and the maximum of each shown channel set) and
// the peak list of the command line. A file of its own, apart from the
// main window's CP932 CSV. Toolkit-free; any thread.
#pragma once

#include <string>
#include <vector>

#include "analysis/span_spectrum.h"
#include "analysis/spectrum_peaks.h"

namespace vurma {

// "frequency_hz,average_dbfs,max_dbfs" and one row per bin; with any set
// but the mix alone, every column pair carries its set's name
// ("average_dbfs_mix,max_dbfs_mix,average_dbfs_left,...").
// Frequencies with 4 decimals, levels with 3. Lines end in "\n".
std::string BuildSpectrumCsv(const SpanSpectrum& spectrum);

// One line per peak: frequency_hz<TAB>level_dbfs<TAB>note<TAB>cents, as
// "440.02\t-6.02\tA4\t+0\n".
std::string PeakLines(const std::vector<SpectrumPeak>& peaks, double a4Hz);

}  // namespace vurma
