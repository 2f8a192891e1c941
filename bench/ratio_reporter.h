// Console output as usual, plus the CPU time of each benchmark (the fastest
// repetition or the median), kept so that main() can print a figure next to
// its anchor measured in the same run. CPU time because other processes share
// the machine.
#pragma once

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

namespace vurma::bench {

class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            if (run.run_type != Run::RT_Iteration && !median) continue;
            // Keys are "function/args" without the repetition suffix.
            const std::string name = run.run_name.function_name + "/" + run.run_name.args;
            const double cpu = run.GetAdjustedCPUTime();
            const auto it = times.find(name);
            if (it == times.end() || cpu < it->second) times[name] = cpu;
        }
    }

    // Time of `figure` over time of `anchor`; 0 when either did not run.
    double Ratio(const std::string& figure, const std::string& anchor) const {
        const auto f = times.find(figure);
        const auto a = times.find(anchor);
        if (f == times.end() || a == times.end() || a->second <= 0) return 0;
        return f->second / a->second;
    }

    std::map<std::string, double> times;
};

}  // namespace vurma::bench
