// Every interface text the sources mark (Tr in the window, UI_TEXT in the
// toolkit-free code) has a finished English translation in the catalogue,
// with the same printf conversions, so that no format can read the wrong
// argument.
#include <gtest/gtest.h>

#include <QFile>
#include <QMap>
#include <QRegularExpression>
#include <QXmlStreamReader>
#include <cstdlib>

#include "test_support.h"

namespace {

struct Entry {
    QString translation;
    bool finished = true;
};

// The text of the current element; lupdate writes a carriage return as
// <byte value="xd"/>.
QString ElementText(QXmlStreamReader& xml) {
    QString text;
    const QString name = xml.name().toString();
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isCharacters()) text += xml.text();
        if (xml.isStartElement() && xml.name() == QLatin1String("byte"))
            text += QChar(xml.attributes().value(QLatin1String("value")).mid(1).toInt(nullptr, 16));
        if (xml.isEndElement() && xml.name() == name) break;
    }
    return text;
}

// Source text -> translation of a .ts file; only the context `context`
// when given.
QMap<QString, Entry> ReadTs(const QString& path, const QString& context = {}) {
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
    QXmlStreamReader xml(&file);
    QMap<QString, Entry> entries;
    QString currentContext, source;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement) continue;
        if (xml.name() == QLatin1String("name")) {
            currentContext = ElementText(xml);
        } else if (xml.name() == QLatin1String("source")) {
            source = ElementText(xml);
        } else if (xml.name() == QLatin1String("translation")) {
            const bool finished = xml.attributes().value(QLatin1String("type")).isEmpty();
            const QString translation = ElementText(xml);
            if (context.isEmpty() || currentContext == context)
                entries.insert(source, {translation, finished});
        }
    }
    EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
    return entries;
}

QStringList Conversions(const QString& format) {
    static const QRegularExpression conversion(
        QStringLiteral("%[-+ #0]*[0-9]*(\\.[0-9]+)?(ll|l|h)?[a-zA-Z%]"));
    QStringList found;
    for (auto m = conversion.globalMatch(format); m.hasNext();) found << m.next().captured();
    return found;
}

TEST(Translations, EveryMarkedTextHasAFinishedEnglishTranslation) {
    vurma::test::ScratchDir dir("translations");
    const std::string extracted = dir / "extracted.ts";
    const std::string src = VURMA_SOURCE_DIR;
    const std::string command = std::string("'") + VURMA_LUPDATE +
                                "' -silent -locations none "
                                "-tr-function-alias tr+=Tr,QT_TR_NOOP+=UI_TEXT '" +
                                src + "/analysis' '" + src + "/media' '" + src + "/export' '" +
                                src + "/display' '" + src + "/app' -ts '" + extracted + "' 2>'" +
                                (dir / "lupdate.log") + "'";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;

    const auto marked = ReadTs(QString::fromStdString(extracted));
    const auto catalogue =
        ReadTs(QString::fromStdString(src + "/resources/translations/vurma_en.ts"),
               QStringLiteral("Vurma"));
    EXPECT_GT(marked.size(), 50);
    for (const QString& source : marked.keys()) {
        SCOPED_TRACE(source.toStdString());
        ASSERT_TRUE(catalogue.contains(source)) << "not in the catalogue's context Vurma";
        const Entry& entry = catalogue[source];
        EXPECT_TRUE(entry.finished);
        EXPECT_FALSE(entry.translation.isEmpty());
        EXPECT_EQ(Conversions(entry.translation), Conversions(source))
            << entry.translation.toStdString();
    }
}

}  // namespace
