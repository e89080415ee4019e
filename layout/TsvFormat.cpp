// The TSV word table, with the header line pdftotext writes (Tesseract's
// columns, its paragraph and block numbers named the other way round); every
// value stands under its own name, so tools that read the columns by name get
// what the names say.
#include <charconv>
#include <cmath>

#include <kestrune/LayoutFormats.h>

namespace kestrune {

namespace {

// A row is built in a buffer of its own and appended at once: a table of a
// long document has hundreds of thousands of rows, and per-field appends to
// the page's bytes cost more than the formatting itself.
class TRow {
public:
    void Int(qint64 Value) { Put(std::to_chars(FAt, End(), Value).ptr); }
    void Fixed(double Value, int Decimals) {
        Put(std::to_chars(FAt, End(), Value, std::chars_format::fixed, Decimals).ptr);
    }
    // Value with two decimals, rounded as Fixed rounds it (the nearest of the
    // exact binary value, a tie to even). Most of a table's bytes are such
    // numbers: made here from the whole number of hundredths, which is the
    // same as long as Value * 100, off from the exact product by far less
    // than 1e-6 below 1e9, stands clear of a tie; else through Fixed.
    void Points(double Value) {
        const double hundredths = Value * 100;
        const double nearest = std::nearbyint(hundredths);
        if (!(std::abs(hundredths) < 1e9) || std::abs(std::abs(hundredths - nearest) - 0.5) < 1e-6) {
            Fixed(Value, 2);
            return;
        }
        const auto magnitude = static_cast<unsigned long long>(std::abs(nearest));
        if (std::signbit(Value)) *FAt++ = '-';  // as Fixed writes -0.001: "-0.00"
        Put(std::to_chars(FAt, End(), magnitude / 100).ptr);
        const unsigned fraction = unsigned(magnitude % 100);
        *FAt++ = '.';
        *FAt++ = char('0' + fraction / 10);
        *FAt++ = char('0' + fraction % 10);
    }
    // A confidence as Tesseract writes it: a whole number as such, else with its decimals.
    void Confidence(double Value) {
        if (Value == std::floor(Value) && std::abs(Value) < 1e15)
            Int(qint64(Value));
        else
            Fixed(Value, 6);
    }
    void Tab() { *FAt++ = '\t'; }
    // Level, the numbers and the box, each followed by a tab, in the header's
    // order: the paragraph's number before the block's.
    void Start(int Level, int Page, int Block, int Paragraph, int Line, int Word, const QRectF& Box) {
        for (const int n : {Level, Page, Paragraph, Block, Line, Word}) {
            Int(n);
            Tab();
        }
        for (const double v : {Box.left(), Box.top(), Box.width(), Box.height()}) {
            Points(v);
            Tab();
        }
    }
    void AppendTo(QByteArray& Out) const { Out.append(FBuffer, FAt - FBuffer); }

private:
    // Room for every number of a row with a margin (a box coordinate of 1e300 fits too).
    char* End() { return FBuffer + sizeof FBuffer - 1; }
    void Put(char* At) { FAt = At; }
    char FBuffer[4096];
    char* FAt = FBuffer;
};

// A word's text as one field: the table's own separators become spaces.
void AppendField(QByteArray& Out, const QString& Text) {
    const qsizetype start = Out.size();
    // Most words are ASCII: those go over unit by unit, the others through Qt's encoder.
    bool ascii = true;
    for (const QChar c : Text) ascii = ascii && c.unicode() < 0x80;
    if (ascii) {
        Out.resize(start + Text.size());
        char* d = Out.data() + start;
        for (const QChar c : Text) *d++ = char(c.unicode());
    } else {
        Out += Text.toUtf8();
    }
    for (qsizetype i = start; i < Out.size(); ++i)
        if (Out[i] == '\t' || Out[i] == '\n' || Out[i] == '\r') Out[i] = ' ';
}

}  // namespace

QByteArray TsvHeader() {
    return QByteArrayLiteral(
        "level\tpage_num\tpar_num\tblock_num\tline_num\tword_num\tleft\ttop\twidth\theight\tconf\ttext\n");
}

void AppendTsvPage(QByteArray& Out, const TPageLayout& Page) {
    const int page = Page.PageNumber;
    // Some 60 bytes a row: reserved once rather than grown row by row.
    Out.reserve(Out.size() + 64 * (Page.WordCount() + 1));
    const auto structural = [&](int Level, int Block, int Paragraph, int Line, const QRectF& Box) {
        TRow row;
        row.Start(Level, page, Block, Paragraph, Line, 0, Box);
        row.AppendTo(Out);
        Out += "-1\t\n";
    };
    structural(1, 0, 0, 0, QRectF(QPointF(0, 0), Page.Size));
    int blockNumber = 0;
    for (const TLayoutBlock& block : Page.Blocks) {
        structural(2, ++blockNumber, 0, 0, block.Box);
        int paragraph = 0;
        int lineNumber = 0;
        for (qsizetype l = 0; l < block.Lines.size(); ++l) {
            const TLayoutLine& line = block.Lines[l];
            if (l == 0 || line.StartsParagraph) {
                // The paragraph's row, with the box of its lines.
                QRectF box = line.Box;
                for (qsizetype m = l + 1; m < block.Lines.size() && !block.Lines[m].StartsParagraph; ++m)
                    box = box.united(block.Lines[m].Box);
                structural(3, blockNumber, ++paragraph, 0, box);
                lineNumber = 0;
            }
            structural(4, blockNumber, paragraph, ++lineNumber, line.Box);
            int wordNumber = 0;
            for (const TLayoutWord& word : line.Words) {
                TRow row;
                row.Start(5, page, blockNumber, paragraph, lineNumber, ++wordNumber, word.Box);
                row.Confidence(word.Confidence);
                row.Tab();
                row.AppendTo(Out);
                AppendField(Out, word.Text);
                Out += '\n';
            }
        }
    }
}

}  // namespace kestrune
