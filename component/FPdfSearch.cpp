// Text search on the current page: one engine search at a time, started by
// FindFirst and stepped forwards or backwards by FindNext and FindPrevious.
// The search belongs to the text page and is closed with it (CloseTextPage).
#include <kestrune/FPdf.h>
#include "component/EngineStrings.h"

namespace kestrune {

using namespace engine;

namespace {
// The engine's search flags (FPDF_MATCHCASE, FPDF_MATCHWHOLEWORD, FPDF_CONSECUTIVE).
constexpr unsigned long kMatchCase = 1;
constexpr unsigned long kMatchWholeWord = 2;
constexpr unsigned long kConsecutive = 4;
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
