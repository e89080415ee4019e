#include <kestrune/PageText.h>

namespace kestrune {

namespace {

constexpr char16_t LineEndHyphenMark = 0xFFFE;

// Whether the mark at Index joins parts of a compound, whose hyphen stays.
bool JoinsCompound(const QString& Text, qsizetype Index) {
    if (Index == 0 || Index + 1 >= Text.size()) return true;
    const QChar before = Text[Index - 1];
    const QChar after = Text[Index + 1];
    if (!before.isLetter() || !after.isLetter() || after.isUpper() || after.isTitleCase()) return true;
    // The first part: the run of word characters before the mark.
    qsizetype start = Index - 1;
    while (start > 0 && (Text[start - 1].isLetterOrNumber() || Text[start - 1] == QLatin1Char('-'))) --start;
    for (qsizetype i = start; i < Index; ++i) {
        const QChar c = Text[i];
        if (c.isDigit() || c == QLatin1Char('-') || (i > start && c.isUpper())) return true;
    }
    return false;
}

}  // namespace

QString ReadableText(const QString& EngineText) {
    qsizetype mark = EngineText.indexOf(QChar(LineEndHyphenMark));
    if (mark < 0) return EngineText;
    QString out;
    out.reserve(EngineText.size());
    qsizetype from = 0;
    for (; mark >= 0; mark = EngineText.indexOf(QChar(LineEndHyphenMark), from)) {
        out.append(QStringView(EngineText).mid(from, mark - from));
        if (JoinsCompound(EngineText, mark)) out.append(QLatin1Char('-'));
        from = mark + 1;
    }
    out.append(QStringView(EngineText).mid(from));
    return out;
}

}  // namespace kestrune
