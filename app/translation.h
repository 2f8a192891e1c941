// The interface language. Japanese texts are the source texts; every text the
// user reads passes through Tr (or, in toolkit-free code, UiText, which Tr
// serves once a language is loaded). The choice is made once, at start.
#pragma once

#include <QLocale>
#include <QString>

namespace vurma::app {

// The user's choice in View > Language, remembered in the settings.
enum class LanguageChoice { System, Japanese, English };

LanguageChoice StoredLanguageChoice();
void StoreLanguageChoice(LanguageChoice choice);

// True when the interface is to be English: the choice, or for System any
// locale whose language is not Japanese.
bool ChoosesEnglish(LanguageChoice choice, const QLocale& system);

// Loads the language for this run: English loads the embedded catalogue and
// installs it as the translator of toolkit-free texts; Japanese removes it.
// Needs no application object (the command line runs without one).
void LoadLanguage(bool english);
bool EnglishLoaded();

// Once the application object exists: lets Qt's own dialogs speak the same
// language (Qt's Japanese catalogue; English is Qt's own).
void InstallToolkitTranslations();

// Once the application object exists: numbers keep their decimal point in
// every locale. Qt hands the desktop's locale to the C library, whose printf
// would then write decimal commas into the readouts and the CSV file.
void KeepDecimalPoint();

// The one translation point: the Japanese text in the interface language.
QString Tr(const char* japanese);

}  // namespace vurma::app
