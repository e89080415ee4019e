// Character data and text regions of the current page: each character's value,
// code, font size, origin and box, whether it was generated or failed to map,
// the character at a point, the rectangles over a run of characters and the
// text inside a rectangle.
//
// Every member opens the text page first, so the guards' messages come before
// any engine call. Indices go to the engine unchecked; it decides what an index
// outside the page yields.
#include <limits>

#include <kestrune/FPdf.h>

namespace kestrune {

using namespace engine;

QChar TFPdf::GetCharacter(int Index) {
    const EngineLock lock;
    OpenTextPage();
    // One UTF-16 unit: a value beyond U+FFFF keeps only its low 16 bits.
    return QChar(char16_t(FPDFText_GetUnicode(FTextPage, Index) & 0xFFFFu));
}

QChar TFPdf::GetCharcode(int Index) {
    const EngineLock lock;
    OpenTextPage();
    return QChar(char16_t(FPDFText_GetCharcode(FTextPage, Index) & 0xFFFFu));
}

double TFPdf::GetFontSize(int Index) {
    const EngineLock lock;
    OpenTextPage();
    return FPDFText_GetFontSize(FTextPage, Index);
}

TPdfPoint TFPdf::GetCharacterOrigin(int Index) {
    const EngineLock lock;
    OpenTextPage();
    // The engine leaves the point alone when it rejects the index, so the
    // caller then gets the record's own (0, 0).
    TPdfPoint point;
    FPDFText_GetCharOrigin(FTextPage, Index, &point.X, &point.Y);
    return point;
}

TPdfRectangle TFPdf::GetCharacterRectangle(int Index) {
    const EngineLock lock;
    OpenTextPage();
    TPdfRectangle box;
    // The engine fills left, right, bottom, top in that order.
    const FPDF_BOOL ok = FPDFText_GetCharBox(FTextPage, Index, &box.Left, &box.Right, &box.Bottom, &box.Top);
    CheckResult(ok != 0, QStringLiteral("Cannot retrieve character rectangle"));
    return box;
}

int TFPdf::CharacterIndexAtPos(double X, double Y, double ToleranceX, double ToleranceY) {
    const EngineLock lock;
    OpenTextPage();
    return FPDFText_GetCharIndexAtPos(FTextPage, X, Y, ToleranceX, ToleranceY);
}

bool TFPdf::GetCharacterMapError(int Index) {
    const EngineLock lock;
    OpenTextPage();
    const int value = FPDFText_HasUnicodeMapError(FTextPage, Index);
    CheckResult(value != -1, QStringLiteral("Cannot retrieve unicode mapping"));
    return value != 0;
}

bool TFPdf::GetCharacterGenerated(int Index) {
    const EngineLock lock;
    OpenTextPage();
    const int value = FPDFText_IsGenerated(FTextPage, Index);
    CheckResult(value != -1, QStringLiteral("Cannot retrieve character info"));
    return value != 0;
}

int TFPdf::RectangleCount(int StartIndex, int Count) {
    const EngineLock lock;
    OpenTextPage();
    // Also makes the engine compute the list that GetRectangle reads; the list
    // belongs to the text page and goes with it.
    return FPDFText_CountRects(FTextPage, StartIndex, Count);
}

TPdfRectangle TFPdf::GetRectangle(int Index) {
    const EngineLock lock;
    OpenTextPage();
    TPdfRectangle rect;
    // Unlike the character box, the engine fills left, top, right, bottom here.
    const FPDF_BOOL ok = FPDFText_GetRect(FTextPage, Index, &rect.Left, &rect.Top, &rect.Right, &rect.Bottom);
    CheckResult(ok != 0, QStringLiteral("Cannot retrieve rectangle"));
    return rect;
}

QString TFPdf::TextInRectangle(double Left, double Top, double Right, double Bottom) {
    const EngineLock lock;
    OpenTextPage();
    // The coordinates go to the engine exactly as given: the engine decides what
    // a rectangle with swapped sides holds.
    const int n = FPDFText_GetBoundedText(FTextPage, Left, Top, Right, Bottom, nullptr, 0);
    if (n <= 0) return {};
    // The engine counts characters but writes UTF-16: a character beyond U+FFFF
    // takes two units. Room for two units per character, so none is cut in half;
    // the engine answers how many units it wrote, its terminating zero included.
    const qint64 room = qMin<qint64>(qint64(n) * 2 + 1, std::numeric_limits<int>::max());
    QString result(qsizetype(room), QChar(0));
    const int written = FPDFText_GetBoundedText(FTextPage, Left, Top, Right, Bottom,
                                                reinterpret_cast<unsigned short*>(result.data()), int(room));
    result.truncate(qsizetype(qBound<qint64>(0, qint64(written), room)));
    if (result.endsWith(QChar(0))) result.chop(1);
    return result;
}

QString TFPdf::TextInRectangle(const TPdfRectangle& Rectangle) {
    const EngineLock lock;
    return TextInRectangle(Rectangle.Left, Rectangle.Top, Rectangle.Right, Rectangle.Bottom);
}

}  // namespace kestrune
