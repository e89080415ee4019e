// The TSV word table, in Tesseract's columns, so that tools written for
// Tesseract's (and pdftotext's) tables read it unchanged.
#include <charconv>
#include <cmath>

#include <kestrune/LayoutFormats.h>

namespace kestrune {

namespace {

void AppendNumber(QByteArray& Out, double Value, int Decimals) {
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, Value, std::chars_format::fixed, Decimals);
    Out.append(buffer, result.ptr - buffer);
}

void AppendInt(QByteArray& Out, qint64 Value) {
    char buffer[24];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, Value);
    Out.append(buffer, result.ptr - buffer);
}

// A confidence as Tesseract writes it: a whole number as such, else with its decimals.
void AppendConfidence(QByteArray& Out, double Value) {
    if (Value == std::floor(Value))
        AppendInt(Out, qint64(Value));
    else
        AppendNumber(Out, Value, 6);
}

// One row up to its conf column: level, the numbers, the box.
void AppendRow(QByteArray& Out, int Level, int Page, int Block, int Paragraph, int Line, int Word, const QRectF& Box) {
    for (const int n : {Level, Page, Block, Paragraph, Line, Word}) {
        AppendInt(Out, n);
        Out += '\t';
    }
    for (const double v : {Box.left(), Box.top(), Box.width(), Box.height()}) {
        AppendNumber(Out, v, 2);
        Out += '\t';
    }
}

// A word's text as one field: the table's own separators become spaces.
void AppendField(QByteArray& Out, const QString& Text) {
    const qsizetype start = Out.size();
    Out += Text.toUtf8();
    for (qsizetype i = start; i < Out.size(); ++i)
        if (Out[i] == '\t' || Out[i] == '\n' || Out[i] == '\r') Out[i] = ' ';
}

}  // namespace

QByteArray TsvHeader() {
    return QByteArrayLiteral(
        "level\tpage_num\tblock_num\tpar_num\tline_num\tword_num\tleft\ttop\twidth\theight\tconf\ttext\n");
}

void AppendTsvPage(QByteArray& Out, const TPageLayout& Page) {
    const int page = Page.PageNumber;
    AppendRow(Out, 1, page, 0, 0, 0, 0, QRectF(QPointF(0, 0), Page.Size));
    Out += "-1\t\n";
    int blockNumber = 0;
    for (const TLayoutBlock& block : Page.Blocks) {
        ++blockNumber;
        AppendRow(Out, 2, page, blockNumber, 0, 0, 0, block.Box);
        Out += "-1\t\n";
        int lineNumber = 0;
        for (const TLayoutLine& line : block.Lines) {
            ++lineNumber;
            AppendRow(Out, 4, page, blockNumber, 1, lineNumber, 0, line.Box);
            Out += "-1\t\n";
            int wordNumber = 0;
            for (const TLayoutWord& word : line.Words) {
                AppendRow(Out, 5, page, blockNumber, 1, lineNumber, ++wordNumber, word.Box);
                AppendConfidence(Out, word.Confidence);
                Out += '\t';
                AppendField(Out, word.Text);
                Out += '\n';
            }
        }
    }
}

}  // namespace kestrune
