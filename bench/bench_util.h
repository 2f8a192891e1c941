// Small helpers the benchmark programs share: generated files and shell steps.
#pragma once

#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

namespace vurma::bench {

// True when the file exists and is not empty.
inline bool Exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && st.st_size > 0;
}

// Runs a shell command; its exit code, or -1 when it did not exit normally.
inline int Shell(const std::string& cmd) {
    const int status = std::system(cmd.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The folder for generated media: VURMA_BENCH_DIR, else `fallback`; made if missing.
inline std::string BenchDir(const char* fallback) {
    const char* dir = std::getenv("VURMA_BENCH_DIR");
    const std::string path = dir != nullptr ? dir : fallback;
    ::mkdir(path.c_str(), 0777);
    return path;
}

// Median of the values; 0 when there are none.
inline double Median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace vurma::bench
