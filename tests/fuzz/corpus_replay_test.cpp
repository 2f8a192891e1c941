// Replays the committed fuzz corpus through the capture harness, so that
// every build (also without clang's fuzzer) runs the inputs found so far.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

TEST(CaptureFuzzCorpus, EveryCommittedInputRunsClean) {
    int inputs = 0;
    for (const auto& entry : std::filesystem::directory_iterator(VURMA_FUZZ_CORPUS)) {
        if (!entry.is_regular_file()) continue;
        std::ifstream f(entry.path(), std::ios::binary);
        const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(f),
                                              std::istreambuf_iterator<char>()};
        SCOPED_TRACE(entry.path().filename().string());
        EXPECT_EQ(LLVMFuzzerTestOneInput(bytes.data(), bytes.size()), 0);
        ++inputs;
    }
    EXPECT_GE(inputs, 3);
}

TEST(CaptureFuzzCorpus, EmptyAndTinyInputsRunClean) {
    const std::uint8_t bytes[4] = {0xFF, 0x00, 0x7F, 0x80};
    for (std::size_t n = 0; n <= sizeof bytes; ++n) EXPECT_EQ(LLVMFuzzerTestOneInput(bytes, n), 0);
}

}  // namespace
