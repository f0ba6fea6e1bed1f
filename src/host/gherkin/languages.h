// The Gherkin keywords of every language (`# language: de`), generated from the official keyword
// table by scripts/gen-gherkin-languages.py into languages.cpp.
#pragma once

namespace Gherkin {

enum KeywordKind {
    KeywordFeature,
    KeywordBackground,
    KeywordRule,
    KeywordScenario,
    KeywordScenarioOutline,
    KeywordExamples,
    KeywordGiven,
    KeywordWhen,
    KeywordThen,
    KeywordAnd,
    KeywordBut
};

struct LanguageKeyword {
    const char* language; // "en", "de", "zh-CN"...
    KeywordKind kind;
    const char* keyword; // UTF-8; step keywords end with their blank where the language writes one
};

extern const LanguageKeyword languageKeywords[];
extern const int languageKeywordCount;

} // namespace Gherkin
