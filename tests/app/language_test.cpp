// The interface in both languages: the English texts fit the template's
// controls, the Japanese run keeps the template's texts, the language choice
// applies at the next start, and the CSV does not depend on the language.
#include <QAbstractButton>
#include <QCheckBox>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QSettings>
#include <QStyle>
#include <QStyleOptionButton>
#include <algorithm>
#include <clocale>
#include <cstdlib>
#include <filesystem>

#include "app_test_util.h"
#include "spectrogram_window.h"
#include "translation.h"
#include "widgets.h"

namespace vurma::app::test {
namespace {

class LanguageTest : public DialogTest {
  protected:
    void TearDown() override {
        DialogTest::TearDown();
        LoadLanguage(false);
    }

    // Opens a file of 220 Hz, captures it whole and returns the window.
    TestDialog& Analysed() {
        TestDialog& d = MakeDialog();
        d.show();
        vurma::test::OpenAndWait(d, QString::fromStdString(AddFile("a.wav")));
        EXPECT_TRUE(engine->FeedSample(
            0.0, vurma::test::Pcm(16, vurma::test::Sine(2, 44100, 8192, 220, 16000))));
        EndCapture();
        return d;
    }
};

// A text on the window's face, the pixels it takes and those its control
// leaves for it.
struct Shown {
    QString text;
    int need = 0;
    int room = 0;
};

std::vector<Shown> TextsOnTheFace(const TestDialog& d) {
    std::vector<Shown> shown;
    for (QLabel* label : d.m_client->findChildren<QLabel*>()) {
        const QRect need = label->fontMetrics().boundingRect(
            QRect(0, 0, 1000, 1000), Qt::AlignLeft | Qt::AlignTop, label->text());
        shown.push_back({label->text(), need.width(), label->width()});
        // The template's lines are one pixel lower than the font's.
        shown.push_back({label->text() + " (height)", need.height(), label->height() + 1});
    }
    for (QPushButton* button : d.m_client->findChildren<QPushButton*>()) {
        shown.push_back({button->text(), button->fontMetrics().horizontalAdvance(button->text()),
                         button->width() - button->style()->pixelMetric(QStyle::PM_ButtonMargin)});
    }
    for (QCheckBox* box : d.m_client->findChildren<QCheckBox*>()) {
        QStyleOptionButton option;
        option.initFrom(box);
        const int left =
            box->style()->subElementRect(QStyle::SE_CheckBoxContents, &option, box).left();
        shown.push_back(
            {box->text(), box->fontMetrics().horizontalAdvance(box->text()), box->width() - left});
    }
    for (QWidget* widget : d.m_client->findChildren<QWidget*>()) {
        if (auto* group = dynamic_cast<GroupFrame*>(widget))  // no meta-object of its own
            shown.push_back({group->title(), group->fontMetrics().horizontalAdvance(group->title()),
                             group->width() - 16});
    }
    return shown;
}

std::string Sorted(QStringList texts) {
    texts.removeAll(QString());
    texts.sort();
    return texts.join(QLatin1Char('|')).toStdString();
}

TEST_F(LanguageTest, EnglishTextsFitTheirControls) {
    LoadLanguage(true);
    TestDialog& d = Analysed();
    EXPECT_EQ(d.m_stNote->text(), QStringLiteral("  Octave 2  A"));
    EXPECT_TRUE(d.m_stFileInfo->text().contains(QStringLiteral("\nStereo 16-bit 44.100kHz\n")));
    EXPECT_EQ(d.m_menuBar->actions().first()->text(), QStringLiteral("&File"));
    for (const Shown& s : TextsOnTheFace(d)) EXPECT_LE(s.need, s.room) << s.text.toStdString();
    // English texts underline a letter of the word, never "(&X)" after it.
    d.OnViewSpectrogram();
    QStringList texts;
    for (QWidget* window : {static_cast<QWidget*>(&d), static_cast<QWidget*>(d.spectrogram())}) {
        for (const QAction* action : window->findChildren<QAction*>()) texts << action->text();
        for (const QAbstractButton* button : window->findChildren<QAbstractButton*>())
            texts << button->text();
    }
    for (const QString& text : texts)
        EXPECT_FALSE(text.contains(QRegularExpression(QStringLiteral("\\(&.\\)"))))
            << text.toStdString();
    EXPECT_EQ(d.m_actLanguage[static_cast<int>(LanguageChoice::English)]->text(),
              QStringLiteral("&English"));
}

TEST_F(LanguageTest, JapaneseRunShowsTheTemplateTexts) {
    TestDialog& d = Analysed();
    QStringList texts, menus;
    for (const Shown& s : TextsOnTheFace(d))
        if (!s.text.endsWith(QStringLiteral(" (height)"))) texts << s.text;
    for (QAction* menu : d.m_menuBar->actions()) menus << menu->text();
    texts.removeIf([](const QString& t) { return t.contains(QRegularExpression("^[-0-9. ]*$")); });
    texts.removeOne(d.m_stFileInfo->text());
    texts.removeOne(d.m_stPeak->text());
    EXPECT_EQ(Sorted(texts), Sorted({"映像なし",
                                     "時間軸ｽｹｰﾙ",
                                     "増幅率",
                                     "ﾊﾟ\nﾜ\n|\n \nﾚ\nﾍﾞ\nﾙ",
                                     "時間 [sec]",
                                     "周波数軸\nｽｹｰﾙ",
                                     "周波数 [Hz]",
                                     "[dB]",
                                     "ﾋﾟｰｸ値",
                                     "窓関数",
                                     "ｻﾝﾌﾟﾙ数",
                                     "音階",
                                     "ｶｰｿﾙ",
                                     "窓を表示する",
                                     ">",
                                     "||",
                                     "|<",
                                     "ﾐｭｰﾄ",
                                     "ｻｰﾁ",
                                     "録音ﾃﾞｰﾀ",
                                     "周波数分析条件",
                                     "分析結果",
                                     " ｵｸﾀｰﾌﾞ 2   ﾗ"}));
    EXPECT_EQ(menus, (QStringList{"ﾌｧｲﾙ(&F)", "表示(&V)", "ﾍﾙﾌﾟ(&H)"}));
    EXPECT_TRUE(d.m_stFileInfo->text().contains(QStringLiteral("\nｽﾃﾚｵ 16ﾋﾞｯﾄ 44.100KHz\n")));
}

TEST_F(LanguageTest, TheChoiceAppliesAtTheNextStart) {
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                       QString::fromStdString(dir_ / "settings"));
    const QLocale japanese(QLocale::Japanese, QLocale::Japan);
    const QLocale german(QLocale::German, QLocale::Germany);
    const struct {
        LanguageChoice choice;
        bool englishInJapan, englishInGermany;
    } cases[] = {{LanguageChoice::English, true, true},
                 {LanguageChoice::Japanese, false, false},
                 {LanguageChoice::System, false, true}};
    for (const auto& c : cases) {
        TestDialog& d = MakeDialog();
        d.m_actLanguage[static_cast<int>(c.choice)]->trigger();
        EXPECT_EQ(StoredLanguageChoice(), c.choice);
        EXPECT_EQ(ChoosesEnglish(StoredLanguageChoice(), japanese), c.englishInJapan);
        EXPECT_EQ(ChoosesEnglish(StoredLanguageChoice(), german), c.englishInGermany);
        // This run keeps its language; the next window shows the choice.
        EXPECT_EQ(d.m_menuBar->actions().first()->text(), QStringLiteral("ﾌｧｲﾙ(&F)"));
        EXPECT_TRUE(MakeDialog().m_actLanguage[static_cast<int>(c.choice)]->isChecked());
    }
}

// Also on a desktop whose numbers use a decimal comma (Qt passes its locale
// to the C library; the window puts the decimal point back).
TEST_F(LanguageTest, TheCsvIsTheSameInBothLanguagesAndEveryNumberFormat) {
    const std::string locales = dir_ / "locales";
    std::filesystem::create_directories(locales);
    const bool german =
        std::system(
            ("localedef -i de_DE -f UTF-8 '" + locales + "/de_DE.UTF-8' 2>/dev/null").c_str()) == 0;
    std::vector<std::string> files;
    for (const char* run : {"ja", "en", "de"}) {
        if (std::string(run) == "de") {
            if (!german) break;
            setenv("LOCPATH", locales.c_str(), 1);
            ASSERT_NE(std::setlocale(LC_ALL, "de_DE.UTF-8"), nullptr);
            KeepDecimalPoint();
        }
        LoadLanguage(std::string(run) != "ja");
        TestDialog& d = Analysed();
        const std::string path = dir_ / (std::string(run) + ".csv");
        d.m_chooseSaveFile = [&](const QString&) { return QString::fromStdString(path); };
        d.ExportCsv();
        files.push_back(vurma::test::ReadFile(path));
    }
    std::setlocale(LC_ALL, "C");
    EXPECT_GT(files[0].size(), 1000u);
    for (std::size_t i = 1; i < files.size(); ++i) EXPECT_TRUE(files[0] == files[i]) << i;
}

}  // namespace
}  // namespace vurma::app::test
