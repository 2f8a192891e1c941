#include "translation.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QSettings>
#include <QTranslator>
#include <clocale>
#include <memory>

#include "analysis/ui_text.h"

namespace vurma::app {
namespace {

// Every entry of the catalogue lives in this one context.
constexpr char kContext[] = "Vurma";
constexpr char kCatalogue[] = ":/i18n/vurma_en.qm";
constexpr char kSettingKey[] = "language";

std::unique_ptr<QTranslator>& Catalogue() {
    static std::unique_ptr<QTranslator> catalogue;
    return catalogue;
}

std::string TrUtf8(const char* japanese) { return Tr(japanese).toStdString(); }

QSettings Settings() { return QSettings(QStringLiteral("vurma"), QStringLiteral("vurma")); }

}  // namespace

LanguageChoice StoredLanguageChoice() {
    const QString value = Settings().value(QLatin1String(kSettingKey)).toString();
    if (value == QLatin1String("ja")) return LanguageChoice::Japanese;
    if (value == QLatin1String("en")) return LanguageChoice::English;
    return LanguageChoice::System;
}

void StoreLanguageChoice(LanguageChoice choice) {
    QSettings settings = Settings();
    if (choice == LanguageChoice::System) {
        settings.remove(QLatin1String(kSettingKey));
    } else {
        settings.setValue(QLatin1String(kSettingKey), choice == LanguageChoice::Japanese
                                                          ? QStringLiteral("ja")
                                                          : QStringLiteral("en"));
    }
}

bool ChoosesEnglish(LanguageChoice choice, const QLocale& system) {
    if (choice != LanguageChoice::System) return choice == LanguageChoice::English;
    return system.language() != QLocale::Japanese;
}

void LoadLanguage(bool english) {
    std::unique_ptr<QTranslator>& catalogue = Catalogue();
    catalogue.reset();
    SetTextTranslator(nullptr);
    if (!english) return;
    auto loaded = std::make_unique<QTranslator>();
    // Without the catalogue (a broken build) the Japanese texts remain.
    if (!loaded->load(QLatin1String(kCatalogue))) return;
    catalogue = std::move(loaded);
    SetTextTranslator(TrUtf8);
}

bool EnglishLoaded() { return Catalogue() != nullptr; }

void InstallToolkitTranslations() {
    if (EnglishLoaded()) return;
    auto* qt = new QTranslator(QCoreApplication::instance());
    if (qt->load(QStringLiteral("qtbase_ja"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QCoreApplication::installTranslator(qt);
    } else {
        delete qt;
    }
}

void KeepDecimalPoint() { std::setlocale(LC_NUMERIC, "C"); }

QString Tr(const char* japanese) {
    const std::unique_ptr<QTranslator>& catalogue = Catalogue();
    if (catalogue) {
        QString text = catalogue->translate(kContext, japanese);
        if (!text.isEmpty()) return text;
    }
    return QString::fromUtf8(japanese);
}

}  // namespace vurma::app
