// Interface texts. They are written in Japanese, the program's own language;
// the program installs a translator at start when the user reads another.
// Toolkit-free code marks each such text with UI_TEXT, so that the
// translation tools find it, and shows it through UiText. Texts that go into
// files (the CSV) never pass through the translator.
#pragma once

#include <string>

// Marks a Japanese interface text; the text itself is unchanged.
#define UI_TEXT(text) text

namespace vurma {

// Maps a Japanese text (UTF-8, also a printf format) to the text shown.
using TextMap = std::string (*)(const char* japanese);

// Installs the translator; null restores the Japanese texts. Called at start
// (before any thread runs) and by tests.
void SetTextTranslator(TextMap translator);

// The text in the interface language: the translator's answer, or the
// Japanese text itself when none is installed.
std::string UiText(const char* japanese);

// The Japanese text itself: what files are written with.
std::string SourceText(const char* japanese);

}  // namespace vurma
