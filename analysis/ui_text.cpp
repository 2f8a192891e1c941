#include "ui_text.h"

namespace vurma {
namespace {
TextMap g_translator = nullptr;
}  // namespace

void SetTextTranslator(TextMap translator) { g_translator = translator; }

std::string UiText(const char* japanese) {
    return g_translator != nullptr ? g_translator(japanese) : std::string(japanese);
}

std::string SourceText(const char* japanese) { return japanese; }

}  // namespace vurma
