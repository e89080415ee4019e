// A page's text as a reader wants it, from the text the engine gives
// (TFPdf::Text, which keeps the engine's characters as they are).
#pragma once

#include <QString>

namespace kestrune {

// The engine's page text with its line-end hyphen marks resolved. The engine
// joins a word hyphenated at the end of a line into one line and marks the
// hyphen with the noncharacter U+FFFE ("devel\uFFFEopment"), which search,
// word splitting and XML parsers all trip over. Here the mark becomes:
//  - nothing, joining the word, between two lower-case letters of a plain
//    word ("development");
//  - a hyphen where it joins parts of a compound: the second part starts with
//    a capital letter or a digit ("Data-Base", "ISO-8859"), or the first part
//    is a name or a compound already (a capital letter after its first
//    letter, a digit or a hyphen in it: "LaTeX-based", "state-of-the-art"),
//    or either side is no letter.
// Text without a mark is returned as it is, without a copy.
QString ReadableText(const QString& EngineText);

}  // namespace kestrune
