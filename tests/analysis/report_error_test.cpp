// The reporting routine: formatting, the sink and the length cap (also met
// by the CSV file's display texts).
#include "analysis/report_error.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_support.h"

namespace vurma {
namespace {

using Texts = std::vector<std::string>;

TEST(ReportErrorTest, SinkReceivesTheFormattedTextAndIsRestored) {
    test::ReportRecorder outer;
    {
        test::ReportRecorder inner;  // replaces the outer sink while it lives
        ReportError("FAILED(hr=0x%x) in %s\n", 0x80004005u, "Render");
        EXPECT_EQ(inner.texts, Texts{"FAILED(hr=0x80004005) in Render\n"});
    }
    ReportError("one");
    EXPECT_EQ(outer.texts, Texts{"one"});
}

TEST(ReportErrorTest, LongTextIsCutWithoutSplittingACharacter) {
    test::ReportRecorder rec;
    // Prefixes of 0..2 ASCII bytes move the three-byte characters across the cap.
    for (int prefix = 0; prefix < 3; ++prefix) {
        std::string text(prefix, 'a');
        for (int i = 0; i < 300; ++i) text += "ｱ";
        rec.texts.clear();
        ReportError("%s", text.c_str());
        ASSERT_EQ(rec.texts.size(), 1u);
        const std::string& got = rec.texts[0];
        EXPECT_LE(got.size(), kReportMaxBytes);
        EXPECT_GT(got.size(), kReportMaxBytes - 3);
        EXPECT_EQ(text.compare(0, got.size(), got), 0);
        EXPECT_NE(static_cast<unsigned char>(text[got.size()]) & 0xC0, 0x80);
    }
    rec.texts.clear();
    ReportError("%s", std::string(600, 'x').c_str());
    EXPECT_EQ(rec.texts.at(0), std::string(kReportMaxBytes, 'x'));
}

}  // namespace
}  // namespace vurma
