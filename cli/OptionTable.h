// Every option of kestrune-text, defined once: its names, its value, its line
// in --help and its entry in the manual page. The parser (TextOptions.cpp),
// --help, the manual page and the bash completion are all made from this
// table, so that they cannot name different options.
#pragma once

#include <span>

namespace kestrune {

enum class TOptionId {
    Output, Password, PasswordFd, FirstPage, LastPage, Jobs, MemoryLimit, Timeout, FilesFrom, Null, OutputDir,
    Update, Report, SkipHidden, Ocr, OcrLanguages, OcrDpi, OcrRotate, OcrClean, Format, Layout, ReadingOrder, PageMarks, Eol, Bom, NoBom,
    PageBreak, Quiet, Help,
    Version,
};

// What an option's value is, for the completion: nothing to complete, a file
// or a folder, or one of a few words.
enum class TValueKind { None, Number, Text, File, Folder, Choice };

struct TOptionEntry {
    TOptionId Id;
    const char* Short;    // one letter, or "" when the option has none
    const char* Long;     // without the dashes
    const char* Value;    // the value's name in --help and the manual; "" for a switch
    TValueKind Kind;
    const char* Choices;  // for TValueKind::Choice: the words, separated by spaces
    // The line of --help. "%1" and on stand for figures of this machine,
    // filled in by the help text (the processors for -j, the memory for
    // --memory-limit).
    const char* Summary;
    // The entry's body in the manual page, in man(7) markup, after its tag line.
    const char* Manual;
};

// The options in the order --help and the manual list them.
std::span<const TOptionEntry> OptionTable();
const TOptionEntry& OptionEntry(TOptionId Id);

}  // namespace kestrune
