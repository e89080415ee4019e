// The page's text in the layout's reading order: its blocks one after the
// other, each line of the page one line of text, an empty line between
// paragraphs and between blocks (so that a margin note stands apart from the
// paragraph before it). A word hyphenated at the end of a line is joined as
// the plain text joins it (ReadableText), at the end of the first line.
#include <kestrune/LayoutFormats.h>
#include <kestrune/PageText.h>

namespace kestrune {

namespace {

// Whether Word ends with a hyphen after a letter: a word that may go on in the
// next line.
bool EndsWithHyphen(const QString& Word) {
    return Word.size() >= 2 && Word.back() == QLatin1Char('-') && Word[Word.size() - 2].isLetter();
}

}  // namespace

void AppendReadingText(QByteArray& Out, const TPageLayout& Page, const char* LineEnd) {
    QString text;
    bool first = true;
    for (const TLayoutBlock& block : Page.Blocks) {
        // Where the line before left off: its last word, when hyphenated, is
        // joined with the next line's first.
        qsizetype carried = 0;
        for (qsizetype l = 0; l < block.Lines.size(); ++l) {
            const TLayoutLine& line = block.Lines[l];
            if (!first && (l == 0 || line.StartsParagraph)) text += QLatin1String(LineEnd);
            first = false;
            const qsizetype from = (l == 0 || line.StartsParagraph) ? 0 : carried;
            carried = 0;
            QList<QString> words;
            for (qsizetype w = from; w < line.Words.size(); ++w) words.append(line.Words[w].Text);
            if (!words.isEmpty() && EndsWithHyphen(words.last()) && l + 1 < block.Lines.size() &&
                !block.Lines[l + 1].StartsParagraph) {
                QString joined = words.last();
                joined.back() = QChar(0xFFFE);  // the engine's mark for a hyphen at a line's end
                words.last() = ReadableText(joined + block.Lines[l + 1].Words.constFirst().Text);
                carried = 1;
            }
            if (words.isEmpty()) continue;
            text += words.join(QLatin1Char(' '));
            text += QLatin1String(LineEnd);
        }
    }
    Out += text.toUtf8();
}

}  // namespace kestrune
