// The reporting routine: formatting, the sink and the length cap.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "analysis/report_error.h"

namespace vurma {
namespace {

bool IsCharStart(unsigned char c) { return (c & 0xC0) != 0x80; }

class ReportErrorTest : public testing::Test {
  protected:
    void SetUp() override {
        previous_ = SetReportSink([this](const std::string& text) { received.push_back(text); });
    }
    void TearDown() override { SetReportSink(previous_); }

    std::vector<std::string> received;

  private:
    ReportSink previous_;
};

TEST_F(ReportErrorTest, SinkReceivesTheFormattedText) {
    ReportError("FAILED(hr=0x%x) in %s\n", 0x80004005u, "Render");
    ReportError("%s", "ﾃﾞｰﾀのｻﾝﾌﾟﾙ数が少ないので選択できません。  ");
    ASSERT_EQ(received.size(), 2u);
    EXPECT_EQ(received[0], "FAILED(hr=0x80004005) in Render\n");
    EXPECT_EQ(received[1], "ﾃﾞｰﾀのｻﾝﾌﾟﾙ数が少ないので選択できません。  ");
}

TEST_F(ReportErrorTest, SinkCanBeReplacedAndRemoved) {
    std::vector<std::string> other;
    ReportSink mine = SetReportSink([&other](const std::string& t) { other.push_back(t); });
    EXPECT_TRUE(static_cast<bool>(mine));
    ReportError("one");
    EXPECT_TRUE(received.empty());
    EXPECT_EQ(other, std::vector<std::string>{"one"});

    ReportSink theirs = SetReportSink(nullptr);
    ReportError("nobody listens");  // stderr only
    EXPECT_EQ(other.size(), 1u);
    SetReportSink(mine);
    ReportError("two");
    EXPECT_EQ(received, std::vector<std::string>{"two"});
}

TEST_F(ReportErrorTest, LongTextIsCutWithoutSplittingACharacter) {
    // Prefixes of 0..2 ASCII bytes move the three-byte characters across the cap.
    for (int prefix = 0; prefix < 3; ++prefix) {
        std::string text(prefix, 'a');
        for (int i = 0; i < 300; ++i) text += "ｱ";
        received.clear();
        ReportError("%s", text.c_str());
        ASSERT_EQ(received.size(), 1u);
        const std::string& got = received[0];
        EXPECT_LE(got.size(), kReportMaxBytes);
        EXPECT_GT(got.size(), kReportMaxBytes - 3);
        EXPECT_EQ(text.compare(0, got.size(), got), 0);
        EXPECT_TRUE(IsCharStart(static_cast<unsigned char>(text[got.size()])));
    }
    received.clear();
    ReportError("%s", std::string(600, 'x').c_str());
    EXPECT_EQ(received.at(0), std::string(kReportMaxBytes, 'x'));
}

TEST(TruncateUtf8Test, KeepsShortTextAndCutsOnBoundaries) {
    EXPECT_EQ(TruncateUtf8("abc", 3), "abc");
    EXPECT_EQ(TruncateUtf8("abc", 2), "ab");
    EXPECT_EQ(TruncateUtf8("aｱ", 3), "a");
    EXPECT_EQ(TruncateUtf8("aｱ", 4), "aｱ");
    EXPECT_EQ(TruncateUtf8("ｱ", 0), "");
}

}  // namespace
}  // namespace vurma
