// A page's words from its text layer: the engine's characters, read through
// the bound entry points in one pass over the page under one hold of the
// engine's lock (a TFPdf member per character and value would take the lock
// and check the page again for each), cut into words and grouped.
#include <QByteArray>
#include <QHash>
#include <QRegularExpression>
#include <QVarLengthArray>
#include <cmath>
#include <cstring>
#include <numbers>

#include <kestrune/Engine.h>
#include "layout/PlacedWords.h"

namespace kestrune {

using namespace engine;

namespace {

// Two characters of one word stand at most this far apart (in multiples of the
// font size) without a space between them; farther apart they are two words,
// as a reader sees them (table cells set without spaces, letters placed one
// by one).
constexpr double MaxLetterGap = 0.3;
// A character whose baseline lies farther off the word's (in multiples of the
// font size) starts a new word, unless it is set as close as a letter of the
// word (a raised or lowered letter of a logo: the E of TeX, BibTeX's);
// farther off than the font's size it is always a word of its own.
constexpr double MaxLetterShift = 0.3;
constexpr double MaxRaisedLetterShift = 1.0;
// A raised or lowered character standing over more than this part of the
// one before (the numerator and denominator of a fraction) is no letter of
// the same word.
constexpr double MaxRaisedLetterOverlap = 0.5;

// The font descriptor's flags for an italic and a bold font, and the weight
// from which a font is bold.
constexpr int ItalicFlag = 1 << 6;
constexpr int ForceBoldFlag = 1 << 18;
constexpr int BoldWeight = 600;

// The engine's mark for a hyphen that ends a line (the word goes on in the next
// line): written as the hyphen it is.
constexpr char32_t LineEndHyphen = 0x02;

// Characters that separate words: white space, line breaks and the other
// control characters the engine reports (its own generated spaces and breaks
// among them), and values that are no characters.
bool IsSeparator(char32_t Code) {
    return Code <= 0x20 || (Code >= 0x7F && Code <= 0xA0) || (Code >= 0x2000 && Code <= 0x200B) ||
           Code == 0x2028 || Code == 0x2029 || Code == 0x202F || Code == 0x205F || Code == 0x3000 ||
           Code == 0xFEFF || Code == 0xFFFE || Code == 0xFFFF;
}

// Maps the engine's page space (points, origin bottom left of the page's
// content space, y upwards) to the shown page's (origin top left, y downwards,
// the page's rotation applied).
class TPageTransform {
public:
    TPageTransform(const TPdfRectangle& Bounds, TRotation Rotation) : FBounds(Bounds), FRotation(Rotation) {}

    QPointF Map(double X, double Y) const {
        const TPdfRectangle& b = FBounds;
        switch (FRotation) {
        case TRotation::ro0: return {X - b.Left, b.Top - Y};
        case TRotation::ro90: return {Y - b.Bottom, X - b.Left};
        case TRotation::ro180: return {b.Right - X, Y - b.Bottom};
        case TRotation::ro270: return {b.Top - Y, b.Right - X};
        }
        return {X, Y};
    }

    QRectF Map(double Left, double Top, double Right, double Bottom) const {
        return QRectF(Map(Left, Top), Map(Right, Bottom)).normalized();
    }

    // The direction on the shown page of characters turned by Angle, as the
    // engine gives it: radians from 0 to 2 pi, clockwise as the unturned page
    // is shown (a run reading upwards has 3 pi / 2). The page's own rotation
    // turns clockwise too.
    TLineDirection Direction(double Angle) const {
        const int turns = int(std::lround(Angle / (std::numbers::pi / 2)));
        return TLineDirection(((turns + int(FRotation)) % 4 + 4) % 4);
    }

private:
    TPdfRectangle FBounds;
    TRotation FRotation;
};

// Whether a font's name says it is bold or italic. Besides the words of most
// names ("Times-BoldItalic", "LMRoman10-Italic", URW's "Medi" and "Ital"),
// the names of TeX's fonts code their shape after a family prefix: CMBX10 is
// bold extended, CMTI10 text italic, CMSL10 slanted, SFBX1200 and SFSX1000
// their European Computer Modern counterparts.
void StyleFromName(QStringView Name, bool& Bold, bool& Italic) {
    // A subset's prefix ("ABCDEF+") is no part of the name's style.
    const qsizetype plus = Name.indexOf(QLatin1Char('+'));
    if (plus == 6) Name = Name.sliced(plus + 1);
    const QString lower = Name.toString().toLower();
    for (const char* word : {"bold", "black", "heavy", "demi"})
        if (lower.contains(QLatin1String(word))) Bold = true;
    for (const char* word : {"ital", "oblique", "slanted", "inclined"})
        if (lower.contains(QLatin1String(word))) Italic = true;
    const qsizetype dash = lower.lastIndexOf(QLatin1Char('-'));
    if (dash >= 0 && lower.sliced(dash + 1).startsWith(QLatin1String("medi")) &&
        !lower.sliced(dash + 1).startsWith(QLatin1String("medium")))
        Bold = true;
    static const QRegularExpression tex(QStringLiteral("^(?:cm|ec|tc|sf|lm)([a-z]+)\\d+$"));
    const QRegularExpressionMatch m = tex.match(lower);
    if (!m.hasMatch()) return;
    const QString code = m.captured(1);
    if (code.contains(QLatin1String("bx")) || code.startsWith(QLatin1Char('b')) || code.startsWith(QLatin1String("ssb")) ||
        code == QLatin1String("sx") || code == QLatin1String("so") || code.startsWith(QLatin1String("ssdc")))
        Bold = true;
    if (code.endsWith(QLatin1Char('i')) || code.contains(QLatin1String("ti")) || code.contains(QLatin1String("sl")) ||
        code == QLatin1String("itt") || code == QLatin1String("so"))
        Italic = true;
}

// What a word takes from its font: its name and style.
struct TWordFont {
    QString Name;
    bool Bold = false;
    bool Italic = false;
};

// A box on the shown page while a word is built: plain edges, united and
// compared without Qt's out-of-line rectangle calls (a page has thousands of
// characters).
struct TEdges {
    double Left = 0, Top = 0, Right = 0, Bottom = 0;

    void Unite(const TEdges& Other) {
        Left = qMin(Left, Other.Left);
        Top = qMin(Top, Other.Top);
        Right = qMax(Right, Other.Right);
        Bottom = qMax(Bottom, Other.Bottom);
    }
    QRectF Rect() const { return QRectF(Left, Top, Right - Left, Bottom - Top); }
};

// The engine's rectangle Left..Right, Bottom..Top mapped onto the shown page.
TEdges MapEdges(const TPageTransform& Transform, double Left, double Top, double Right, double Bottom) {
    const QPointF a = Transform.Map(Left, Top), b = Transform.Map(Right, Bottom);
    return {qMin(a.x(), b.x()), qMin(a.y(), b.y()), qMax(a.x(), b.x()), qMax(a.y(), b.y())};
}

// The fonts of one page's words, each read from the engine once: a page
// switches between a few fonts many times, and most words share their font
// with the word before.
class TFontReader {
public:
    explicit TFontReader(FPDF_TEXTPAGE TextPage) : FTextPage(TextPage) {}

    // The font of character Index.
    const TWordFont& Read(int Index) {
        char buffer[sizeof FPrevious];
        int flags = 0;
        const unsigned long size = FPDFText_GetFontInfo(FTextPage, Index, buffer, sizeof buffer, &flags);
        if (size == 0) {
            FPreviousSize = 0;
            FFont = {};
            return FFont;
        }
        // The bytes of the word before's font, compared as they come.
        if (size <= sizeof buffer && size == FPreviousSize && flags == FPreviousFlags &&
            std::memcmp(buffer, FPrevious, size) == 0)
            return FFont;
        QByteArray bytes;
        if (size <= sizeof buffer) {
            bytes = QByteArray(buffer, qsizetype(size) - 1);  // the engine counts its terminating zero
            std::memcpy(FPrevious, buffer, size);
            FPreviousSize = size;
        } else {
            bytes.resize(qsizetype(size));
            FPDFText_GetFontInfo(FTextPage, Index, bytes.data(), size, &flags);
            bytes.chop(1);
            FPreviousSize = 0;  // too long to keep: read again next time
        }
        FPreviousFlags = flags;
        bytes.append(reinterpret_cast<const char*>(&flags), sizeof flags);
        if (const auto known = FKnown.constFind(bytes); known != FKnown.cend()) {
            FFont = *known;
            return FFont;
        }
        FFont.Name = QString::fromUtf8(bytes.constData(), bytes.size() - qsizetype(sizeof flags));
        FFont.Bold = (flags & ForceBoldFlag) != 0 || FPDFText_GetFontWeight(FTextPage, Index) >= BoldWeight;
        FFont.Italic = (flags & ItalicFlag) != 0;
        StyleFromName(FFont.Name, FFont.Bold, FFont.Italic);
        FKnown.insert(bytes, FFont);
        return FFont;
    }

private:
    FPDF_TEXTPAGE FTextPage;
    char FPrevious[128];
    unsigned long FPreviousSize = 0;
    int FPreviousFlags = 0;
    TWordFont FFont;
    QHash<QByteArray, TWordFont> FKnown;  // by name bytes and flags
};

// Builds the words character by character.
class TWordCutter {
public:
    TWordCutter(FPDF_TEXTPAGE TextPage, const TPageTransform& Transform, int Characters)
        : FTextPage(TextPage), FTransform(Transform), FFonts(TextPage) {
        Words.reserve(Characters / 5 + 1);  // at most about a word in five characters, its space included
    }

    // Adds the character Code, whose place the engine gives at Index.
    void Add(int Index, char32_t Code) {
        const TLineDirection direction = FTransform.Direction(FPDFText_GetCharAngle(FTextPage, Index));
        const TEdges box = CharacterBox(Index);
        double x = 0, y = 0;
        FPDFText_GetCharOrigin(FTextPage, Index, &x, &y);
        const QPointF origin = FTransform.Map(x, y);
        const bool vertical = direction == TLineDirection::dlDown || direction == TLineDirection::dlUp;
        const double baseline = vertical ? origin.x() : origin.y();
        const double size = FPDFText_GetFontSize(FTextPage, Index);

        if (!FText.isEmpty() && !Continues(direction, baseline, box, size)) End();
        if (FText.isEmpty()) {
            const TWordFont& font = FFonts.Read(Index);
            FWord.Word.FontName = font.Name;
            FWord.Word.Bold = font.Bold;
            FWord.Word.Italic = font.Italic;
            FWord.Word.FontSize = size;
            FWord.Direction = direction;
            FWord.Baseline = baseline;
            FBox = box;
        } else {
            FBox.Unite(box);
        }
        // A surrogate left unpaired (ReadPageLayout joins the pairs) is no character.
        if (QChar::isSurrogate(Code)) Code = QChar::ReplacementCharacter;
        if (QChar::requiresSurrogates(Code)) {
            FText.append(QChar::highSurrogate(Code));
            FText.append(QChar::lowSurrogate(Code));
        } else {
            FText.append(char16_t(Code));
        }
        FLastBox = box;
    }

    // Ends the word being built, if any.
    void End() {
        if (FText.isEmpty()) return;
        FWord.Word.Text = QString(reinterpret_cast<const QChar*>(FText.constData()), FText.size());
        FWord.Word.Box = FBox.Rect();
        Words.append(std::move(FWord));
        FWord = {};
        FText.clear();
    }

    QList<layout::TPlacedWord> Words;

private:
    // The character's box from its font (advance width, ascent to descent),
    // the one readers expect of a word; the glyph's own outline box when the
    // engine has no font box for it.
    TEdges CharacterBox(int Index) const {
        FS_RECTF loose{};
        if (FPDFText_GetLooseCharBox(FTextPage, Index, &loose))
            return MapEdges(FTransform, loose.left, loose.top, loose.right, loose.bottom);
        double left = 0, right = 0, bottom = 0, top = 0;
        FPDFText_GetCharBox(FTextPage, Index, &left, &right, &bottom, &top);
        return MapEdges(FTransform, left, top, right, bottom);
    }

    bool Continues(TLineDirection Direction, double Baseline, const TEdges& Box, double Size) const {
        if (Direction != FWord.Direction) return false;
        const double size = qMax(Size, FWord.Word.FontSize);
        const double shift = std::abs(Baseline - FWord.Baseline);
        if (shift > MaxRaisedLetterShift * size) return false;
        const bool vertical = Direction == TLineDirection::dlDown || Direction == TLineDirection::dlUp;
        const double start = vertical ? Box.Top : Box.Left;
        const double end = vertical ? Box.Bottom : Box.Right;
        const double lastStart = vertical ? FLastBox.Top : FLastBox.Left;
        const double lastEnd = vertical ? FLastBox.Bottom : FLastBox.Right;
        // Either way along the line: right-to-left script advances backwards.
        const double gap = qMax(start, lastStart) - qMin(end, lastEnd);
        if (gap > MaxLetterGap * size) return false;
        if (shift <= MaxLetterShift * size) return true;
        // Raised or lowered: a letter kerned against the one before, not one
        // set over it.
        return -gap <= MaxRaisedLetterOverlap * qMin(end - start, lastEnd - lastStart);
    }

    FPDF_TEXTPAGE FTextPage;
    const TPageTransform& FTransform;
    TFontReader FFonts;
    // The word being built: its characters as UTF-16 (made a string once, at
    // its end), its box, and the box of its last character.
    QVarLengthArray<char16_t, 64> FText;
    layout::TPlacedWord FWord;
    TEdges FBox;
    TEdges FLastBox;
};

}  // namespace

TPageLayout ReadPageLayout(TFPdf& Pdf) {
    const EngineLock lock;
    // Opens the text page, with the guards' messages of the character members.
    const int count = Pdf.GetCharacterCount();
    TPageLayout layout;
    layout.PageNumber = Pdf.GetPageNumber();
    layout.Size = QSizeF(Pdf.GetPageWidth(), Pdf.GetPageHeight());
    layout.Rotation = Pdf.GetPageRotation();
    const TPageTransform transform(Pdf.GetPageBounds(), layout.Rotation);

    const auto textPage = static_cast<FPDF_TEXTPAGE>(Pdf.GetTextPage());
    TWordCutter cutter(textPage, transform, count);
    for (int i = 0; i < count; ++i) {
        char32_t code = FPDFText_GetUnicode(textPage, i);
        if (code == LineEndHyphen) code = U'-';
        // The engine gives a character beyond U+FFFF as its two UTF-16 units,
        // each a character of its own in the same place: they are the one
        // character the page's text shows, placed where the first stands.
        if (QChar::isHighSurrogate(code) && i + 1 < count) {
            const char32_t low = FPDFText_GetUnicode(textPage, i + 1);
            if (QChar::isLowSurrogate(low)) {
                cutter.Add(i, QChar::surrogateToUcs4(char16_t(code), char16_t(low)));
                ++i;
                continue;
            }
        }
        if (IsSeparator(code))
            cutter.End();
        else
            cutter.Add(i, code);
    }
    cutter.End();
    layout::GroupPlacedWords(layout, cutter.Words);
    return layout;
}

QList<TLayoutLink> ReadPageLinks(TFPdf& Pdf) {
    // Straight from the engine: TFPdf's link annotations resolve every link's
    // destination, which costs more than the page's words where a document
    // links every reference within itself; only web addresses are wanted here.
    const EngineLock lock;
    QList<TLayoutLink> links;
    const auto page = static_cast<FPDF_PAGE>(Pdf.GetPage());
    if (!page) return links;
    const TPageTransform transform(Pdf.GetPageBounds(), Pdf.GetPageRotation());
    const auto document = static_cast<FPDF_DOCUMENT>(Pdf.GetDocument());
    int position = 0;
    FPDF_LINK link = nullptr;
    while (FPDFLink_Enumerate(page, &position, &link)) {
        const FPDF_ACTION action = FPDFLink_GetAction(link);
        FS_RECTF rect{};
        if (!action || FPDFAction_GetType(action) != static_cast<unsigned long>(TPdfAction::acUri) ||
            !FPDFLink_GetAnnotRect(link, &rect))
            continue;
        // The address as the engine gives it: 8-bit text with its terminator.
        const unsigned long size = FPDFAction_GetURIPath(document, action, nullptr, 0);
        if (size <= 1 || size > (1u << 20)) continue;
        QByteArray uri(qsizetype(size), '\0');
        if (FPDFAction_GetURIPath(document, action, uri.data(), size) != size) continue;
        uri.chop(1);
        links.append({transform.Map(rect.left, rect.top, rect.right, rect.bottom), QString::fromLatin1(uri)});
    }
    return links;
}

}  // namespace kestrune
