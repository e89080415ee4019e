// Text search on the current page: one engine search at a time, started by
// FindFirst and stepped forwards or backwards by FindNext and FindPrevious.
// The search belongs to the text page and is closed with it (CloseTextPage).
// FindAll searches every page with searches and text pages of its own.
#include <kestrune/FPdf.h>
#include "component/EngineStrings.h"
#include "component/PageGeometry.h"
#include "engine/ScopedHandle.h"

namespace kestrune {

using namespace engine;

namespace {
// The engine's search flags (FPDF_MATCHCASE, FPDF_MATCHWHOLEWORD, FPDF_CONSECUTIVE).
constexpr unsigned long kMatchCase = 1;
constexpr unsigned long kMatchWholeWord = 2;
constexpr unsigned long kConsecutive = 4;

// Whether two page-space boxes share a line: their heights overlap by at
// least half the smaller one.
bool SameLine(const TPdfRectangle& A, const TPdfRectangle& B) {
    const double overlap = qMin(A.Top, B.Top) - qMax(A.Bottom, B.Bottom);
    return overlap > 0 && overlap >= 0.5 * qMin(A.Top - A.Bottom, B.Top - B.Bottom);
}

// The boxes of Count characters from Index, one per line. The engine gives
// one box per run of characters from one text object, so a line set in two
// fonts (or written by two operators) comes in pieces, which are joined here.
QList<QRectF> LineRects(FPDF_TEXTPAGE TextPage, const TPageFrame& Frame, int Index, int Count) {
    QList<TPdfRectangle> lines;
    const int n = FPDFText_CountRects(TextPage, Index, Count);
    for (int i = 0; i < n; ++i) {
        TPdfRectangle box;
        if (!FPDFText_GetRect(TextPage, i, &box.Left, &box.Top, &box.Right, &box.Bottom)) continue;
        if (box.Top < box.Bottom) std::swap(box.Top, box.Bottom);
        if (!lines.isEmpty() && SameLine(lines.last(), box)) {
            TPdfRectangle& line = lines.last();
            line = {qMin(line.Left, box.Left), qMax(line.Top, box.Top), qMax(line.Right, box.Right),
                    qMin(line.Bottom, box.Bottom)};
        } else {
            lines.append(box);
        }
    }
    QList<QRectF> rects;
    rects.reserve(lines.size());
    for (const TPdfRectangle& line : lines) rects.append(Frame.Map(line.Left, line.Top, line.Right, line.Bottom));
    return rects;
}

// Appends the matches of Text on Page to Hits, through a text page and a
// search of their own, so that the component's (on the current page) stay as
// they are.
void FindOnPage(FPDF_PAGE Page, int Number, const QString& Text, unsigned long Flags, QList<TPdfSearchHit>& Hits) {
    ScopedTextPage textPage;
    {
        FpuMaskScope mask;
        textPage.Reset(FPDFText_LoadPage(Page));
    }
    CheckResult(bool(textPage), QStringLiteral("Cannot open text page"));
    const ScopedFind find(FPDFText_FindStart(textPage.Get(), strings::WideArg(Text), Flags, 0));
    CheckResult(bool(find), QStringLiteral("Cannot start find"));
    const TPageFrame frame(Page);
    while (FPDFText_FindNext(find.Get())) {
        TPdfSearchHit hit;
        hit.PageNumber = Number;
        hit.Index = FPDFText_GetSchResultIndex(find.Get());
        hit.Length = FPDFText_GetSchCount(find.Get());
        hit.Rects = LineRects(textPage.Get(), frame, hit.Index, hit.Length);
        Hits.append(std::move(hit));
    }
}

}  // namespace

unsigned long SearchOptionsToFlags(TSearchOptions Options) {
    unsigned long flags = 0;
    if (Options.Contains(TSearchOption::seCaseSensitive)) flags |= kMatchCase;
    if (Options.Contains(TSearchOption::seWholeWord)) flags |= kMatchWholeWord;
    if (Options.Contains(TSearchOption::seConsecutive)) flags |= kConsecutive;
    return flags;
}

void TFPdf::StartFind(const QString& Text, TSearchOptions Options, int StartIndex) {
    // Closed before anything can fail, so that a failed start leaves no search.
    CloseFind();
    OpenTextPage();
    FFind = FPDFText_FindStart(FTextPage, strings::WideArg(Text), SearchOptionsToFlags(Options), StartIndex);
    FFindEmptyText = Text.isEmpty();
    CheckResult(FFind != nullptr, QStringLiteral("Cannot start find"));
}

int TFPdf::FindFirst(const QString& Text, TSearchOptions Options, int StartIndex, bool DirectionUp) {
    const EngineLock lock;
    StartFind(Text, Options, StartIndex);
    return DirectionUp ? FindNext() : FindPrevious();
}

int TFPdf::FindNext() {
    const EngineLock lock;
    return StepFind(true);
}

int TFPdf::FindPrevious() {
    const EngineLock lock;
    return StepFind(false);
}

QList<TPdfSearchHit> TFPdf::FindAll(const QString& Text, TSearchOptions Options) {
    const EngineLock lock;
    CheckActive();
    QList<TPdfSearchHit> hits;
    // The engine never returns from a step of a search for the empty text.
    if (Text.isEmpty()) return hits;
    const unsigned long flags = SearchOptionsToFlags(Options);
    ForEachPage([&](FPDF_PAGE Page, int Number) {
        FindOnPage(Page, Number, Text, flags, hits);
        return true;
    });
    return hits;
}

int TFPdf::StepFind(bool Forward) {
    CheckFind();
    // The engine accepts an empty search text but then never returns from a
    // step, so such a search finds nothing without being stepped.
    if (FFindEmptyText) return -1;
    const FPDF_BOOL found = Forward ? FPDFText_FindNext(FFind) : FPDFText_FindPrev(FFind);
    if (!found) return -1;
    return FPDFText_GetSchResultIndex(FFind);
}

}  // namespace kestrune
