// Page management: adding, regenerating, deleting and importing pages, and
// copying viewer preferences from another document.
#include <QBuffer>
#include <algorithm>

#include "component/EngineStrings.h"
#include <kestrune/FPdf.h>

namespace kestrune {

using namespace engine;

namespace {

// The engine's 0-based index for a page number, kept within int for any number.
int EngineIndex(int PageNumber) { return PageNumber > std::numeric_limits<int>::min() ? PageNumber - 1 : -1; }

const QString kNoSource = QStringLiteral("Cannot import from a missing PDF component");

}  // namespace

void TFPdf::AddPage(int PageNumber, double Width, double Height) {
    const EngineLock lock;
    CheckActive();
    ClosePage();
    // The engine puts a page whose number lies past the end (or before the
    // first) at the end (or the start); the stored number follows, so that the
    // current page is always page PageNumber.
    const int count = FPDF_GetPageCount(FDocument);
    FPageNumber = std::clamp(PageNumber, 1, count + 1);
    FpuMaskScope mask;
    FPage = FPDFPage_New(FDocument, FPageNumber - 1, Width, Height);
    CheckResult(FPage != nullptr, QStringLiteral("Cannot create PDF page"));
}

void TFPdf::CheckPageTree() {
    if (FPageTreeSound) return;
    // Writing a page's content makes the engine look at every page of the
    // document, and it ends the process at a leaf of the page tree that is
    // something other than a page. A leaf that is a page gives its size; one
    // that gives none is either no object at all (a tree counting more pages
    // than it holds, which the engine passes over) or such a stray leaf,
    // which copies into another document where nothing does.
    const int count = FPDF_GetPageCount(FDocument);
    for (int index = 0; index < count; ++index) {
        FS_SIZEF size;
        if (FPDF_GetPageSizeByIndexF(FDocument, index, &size)) continue;
        FPDF_DOCUMENT scratch = FPDF_CreateNewDocument();
        CheckResult(scratch != nullptr, QStringLiteral("Cannot create page content"));
        const bool stray = FPDF_ImportPagesByIndex(scratch, FDocument, &index, 1, 0) != 0;
        FPDF_CloseDocument(scratch);
        CheckResult(!stray, QStringLiteral("Cannot create page content: the document's page tree holds something "
                                           "other than a page where page %1 should be")
                                .arg(index + 1));
    }
    FPageTreeSound = true;
}

void TFPdf::UpdatePage() {
    const EngineLock lock;
    CheckPageActive();
    FpuMaskScope mask;
    CheckPageTree();
    const bool generated = FPDFPage_GenerateContent(FPage) != 0;
    // A text page reflects the page objects as they were when it was opened:
    // drop it (and any search over it) so the next text operation sees the
    // regenerated content.
    CloseTextPage();
    CheckResult(generated, QStringLiteral("Cannot create page content"));
}

void TFPdf::DeletePage(int PageNumber) {
    const EngineLock lock;
    CheckActive();
    ClosePage();
    // The engine ignores a number that names no page.
    FPDFPage_Delete(FDocument, EngineIndex(PageNumber));
    FPageTreeSound = false;
    // The stored number stays unless it now lies past the end; either way the
    // page under it is opened afresh and OnPageChange raised.
    const int count = GetPageCount();
    if (count < FPageNumber)
        SetPageNumber(count);
    else
        ReloadPage();
}

bool TFPdf::ImportPages(TFPdf* Pdf, const QString& Range, int PageNumber) {
    const EngineLock lock;
    CheckActive();
    CheckResult(Pdf != nullptr, kNoSource);
    Pdf->SetActive(true);
    ClosePage();
    // An empty range means every page and is passed as an empty text.
    const QByteArray range = strings::ToLatin1(Range);
    bool imported = false;
    if (Pdf->FDocument != FDocument) {
        imported = FPDF_ImportPages(FDocument, Pdf->FDocument, range.constData(), EngineIndex(PageNumber)) != 0;
    } else {
        // The engine cannot import a document into itself (it aborts the
        // process), so the pages come from a copy of the document held in
        // memory. The copy is saved without encryption so that it opens
        // without a password; the imported pages are copied over in full, so
        // the copy can go right after the import.
        QBuffer copy;
        copy.open(QIODevice::WriteOnly);
        if (SaveAs(&copy, TSaveOption::saRemoveSecurity)) {
            const QByteArray& bytes = copy.buffer();
            FPDF_DOCUMENT source = FPDF_LoadMemDocument64(bytes.constData(), size_t(bytes.size()), "");
            if (source) {
                imported = FPDF_ImportPages(FDocument, source, range.constData(), EngineIndex(PageNumber)) != 0;
                FPDF_CloseDocument(source);
            }
        }
    }
    FPageTreeSound = false;
    ReloadPage();
    return imported;
}

bool TFPdf::ImportPreferences(TFPdf* Pdf) {
    const EngineLock lock;
    CheckActive();
    CheckResult(Pdf != nullptr, kNoSource);
    Pdf->SetActive(true);
    return FPDF_CopyViewerPreferences(FDocument, Pdf->FDocument) != 0;
}

}  // namespace kestrune
