#include "export/spectrum_csv.h"

#include <gtest/gtest.h>

#include <sstream>

namespace vurma {
namespace {

SpanSpectrum Made(std::vector<SpectrumChannel> channels) {
    SpanSpectrum s;
    s.sampleRate = 1000;
    s.fftSize = 8;  // bins at 0, 125, ... 500 Hz
    s.frames = 3;
    for (SpectrumChannel c : channels) {
        SpectrumCurves curves;
        curves.channel = c;
        for (int k = 0; k < s.bins(); ++k) {
            curves.averageDb.push_back(-10.0 * k - 0.0004);
            curves.maxDb.push_back(-5.0 * k);
        }
        s.curves.push_back(curves);
    }
    return s;
}

TEST(SpectrumCsv, HeaderRowsAndColumnsPerChannel) {
    const std::string mix = BuildSpectrumCsv(Made({SpectrumChannel::kMix}));
    EXPECT_EQ(mix,
              "frequency_hz,average_dbfs,max_dbfs\n"
              "0.0000,0.000,0.000\n"
              "125.0000,-10.000,-5.000\n"
              "250.0000,-20.000,-10.000\n"
              "375.0000,-30.000,-15.000\n"
              "500.0000,-40.000,-20.000\n");
    const std::string two =
        BuildSpectrumCsv(Made({SpectrumChannel::kLeft, SpectrumChannel::kSide}));
    std::istringstream lines(two);
    std::string header, row;
    std::getline(lines, header);
    EXPECT_EQ(header,
              "frequency_hz,average_dbfs_left,max_dbfs_left,average_dbfs_side,max_dbfs_side");
    std::getline(lines, row);
    std::getline(lines, row);
    EXPECT_EQ(row, "125.0000,-10.000,-5.000,-10.000,-5.000");
    // One channel other than the mix is named too.
    EXPECT_EQ(BuildSpectrumCsv(Made({SpectrumChannel::kRight})).substr(0, 49),
              "frequency_hz,average_dbfs_right,max_dbfs_right\n0.");
    // Too short a span: the header alone.
    SpanSpectrum empty = Made({});
    EXPECT_EQ(BuildSpectrumCsv(empty), "frequency_hz\n");
}

TEST(SpectrumCsv, PeakLinesCarryNoteAndCents) {
    const std::vector<SpectrumPeak> peaks = {{440.02, -6.0203, 100}, {68.82, -40, 10}};
    EXPECT_EQ(PeakLines(peaks, 440), "440.02\t-6.02\tA4\t+0\n68.82\t-40.00\tC#2\t-12\n");
    EXPECT_EQ(PeakLines({{440.0, -0.001, 1}}, 430), "440.00\t0.00\tA4\t+40\n");
}

}  // namespace
}  // namespace vurma
