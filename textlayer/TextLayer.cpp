#include <kestrune/TextLayer.h>

#include <QFile>
#include <QSaveFile>
#include <cmath>
#include <limits>

#include <kestrune/EngineLock.h>
#include <kestrune/FileError.h>
#include "component/PageGeometry.h"
#include "textlayer/AppendedUpdate.h"
#include "textlayer/GlyphlessFont.h"
#include "textlayer/WordPlacement.h"

namespace kestrune {

namespace {

// A layout's size may differ from the page's by the rounding of a recogniser's
// image to whole pixels.
constexpr double kSizeTolerance = 1.0;

QString Points(const QSizeF& Size) {
    return QStringLiteral("%1 x %2").arg(Size.width(), 0, 'f', 1).arg(Size.height(), 0, 'f', 1);
}

}  // namespace

TTextLayer::TTextLayer(TFPdf& Pdf, const QString& FontFile) : FPdf(Pdf) {
    const EngineLock lock;
    FOriginalSize = Pdf.GetDocumentSize();  // raises when inactive
    CheckResult(FOriginalSize > 0, QStringLiteral("Cannot add a text layer to a document that was created, not opened: "
                                                  "the layer is appended to the document's original bytes"));
    const auto document = static_cast<FPDF_DOCUMENT>(Pdf.GetDocument());
    CheckResult(engine::FPDF_DocumentHasValidCrossReferenceTable(document) != 0,
                QStringLiteral("Cannot add a text layer to this document: its cross-reference table is damaged "
                               "(rebuilt to open it), and an update appended to it would not be read reliably"));
    // Every page's dictionary read (no content), so that the engine's save
    // below holds the whole page tree.
    const int pages = Pdf.GetPageCount();
    for (int page = 0; page < pages; ++page) {
        FS_SIZEF size{};
        engine::FPDF_GetPageSizeByIndexF(document, page, &size);
    }

    QFile file(FontFile);
    if (!file.open(QIODevice::ReadOnly))
        throw EFileError(QStringLiteral("Cannot read the glyphless font \"%1\": %2").arg(FontFile, file.errorString()),
                         FontFile, TPdfErrorKind::ekFileNotFound);
    const QByteArray program = textlayer::GlyphlessFontProgram(file.readAll(), FontFile);

    // What the engine writes for the document as it stands gives the number
    // of the first object made from here on, the font's; the update keeps
    // what is numbered from there, and what refers to it.
    textlayer::TAppendedUpdate baseline(FOriginalSize, nullptr);
    CheckResult(Pdf.SaveAs(&baseline, TSaveOption::saIncremental),
                QStringLiteral("Cannot add a text layer to this document: the engine cannot save it incrementally"));
    baseline.Finish();
    // The engine stops the process when it writes new content for any page
    // of a page tree with something else where a page should be.
    CheckResult(baseline.PageTreeHoldsOnlyPages(),
                QStringLiteral("Cannot add a text layer to this document: its page tree holds something other "
                               "than a page where a page should be"));
    FFirstNew = baseline.NextObjectNumber();
    FFont = Pdf.LoadFont(program, TPdfFontType::ftTrueType, true);
}

TTextLayer::~TTextLayer() = default;

void TTextLayer::CheckDocument() const {
    CheckResult(FPdf.GetActive() && FPdf.Owns(FFont),
                QStringLiteral("The document the text layer was started on is no longer open"));
}

void TTextLayer::OpenPage(int PageNumber) {
    CheckDocument();
    const int pages = FPdf.GetPageCount();
    CheckResult(PageNumber >= 1 && PageNumber <= pages,
                QStringLiteral("Page %1 does not exist; the document has %2 pages").arg(PageNumber).arg(pages),
                TPdfErrorKind::ekPage);
    CheckResult(!FPages.contains(PageNumber), QStringLiteral("Page %1 already has a text layer").arg(PageNumber));
    FPdf.SetPageNumber(PageNumber);
}

void TTextLayer::AddPage(int PageNumber, const TPageLayout& Layout) {
    const EngineLock lock;
    OpenPage(PageNumber);
    CheckResult(Layout.PageNumber == 0 || Layout.PageNumber == PageNumber,
                QStringLiteral("The layout is of page %1, not of page %2").arg(Layout.PageNumber).arg(PageNumber));
    const TPageFrame frame(static_cast<FPDF_PAGE>(FPdf.GetPage()));
    const QSizeF shown = frame.ShownSize();
    const bool sized = Layout.Size.isEmpty() || (std::abs(Layout.Size.width() - shown.width()) <= kSizeTolerance &&
                                                 std::abs(Layout.Size.height() - shown.height()) <= kSizeTolerance);
    CheckResult(sized, QStringLiteral("The layout is of a page of %1 points; page %2 is %3 points as shown")
                           .arg(Points(Layout.Size))
                           .arg(PageNumber)
                           .arg(Points(shown)));

    TPageLayout page = Layout;
    page.PageNumber = PageNumber;
    const QList<textlayer::TPlacedWord> words = textlayer::PlaceWords(page, frame);
    if (words.isEmpty()) return;
    try {
        for (const textlayer::TPlacedWord& word : words)
            FPdf.AddText(word.Text, FFont, word.FontSize, word.Matrix, TPdfTextRenderMode::trInvisible, 0xFF000000,
                         false);
        FPdf.UpdatePage();
    } catch (const EPdfError&) {
        // The words placed so far are only in the page's object list until
        // its content is written: opening the page afresh drops them.
        FPdf.ReloadPage();
        throw;
    }
    FPages.insert(PageNumber);
    FWords += words.size();
}

namespace {

// The text objects Object stands for when it is text drawn invisibly, or a
// form holding nothing else; -1 for anything else.
int InvisibleTextObjects(FPDF_PAGEOBJECT Object) {
    switch (TObjectType(engine::FPDFPageObj_GetType(Object))) {
        case TObjectType::otText:
            return engine::FPDFTextObj_GetTextRenderMode(Object) == int(TPdfTextRenderMode::trInvisible) ? 1 : -1;
        case TObjectType::otForm: {
            int texts = 0;
            const int count = engine::FPDFFormObj_CountObjects(Object);
            for (int i = 0; i < count; ++i) {
                const int inner = InvisibleTextObjects(engine::FPDFFormObj_GetObject(Object, i));
                if (inner < 0) return -1;
                texts += inner;
            }
            return texts > 0 ? texts : -1;
        }
        default: return -1;
    }
}

// Whether Object draws any text: a text object, or a form holding one.
bool DrawsText(FPDF_PAGEOBJECT Object) {
    switch (TObjectType(engine::FPDFPageObj_GetType(Object))) {
        case TObjectType::otText: return true;
        case TObjectType::otForm: {
            const int count = engine::FPDFFormObj_CountObjects(Object);
            for (int i = 0; i < count; ++i)
                if (DrawsText(engine::FPDFFormObj_GetObject(Object, i))) return true;
            return false;
        }
        default: return false;
    }
}

}  // namespace

TPageTexts PageTexts(TFPdf& Pdf) {
    const EngineLock lock;
    TPageTexts texts;
    const int count = Pdf.GetObjectCount();  // raises without a page
    for (int i = 0; i < count; ++i) {
        const auto object = static_cast<FPDF_PAGEOBJECT>(Pdf.GetObjectHandle(i));
        const int invisible = InvisibleTextObjects(object);
        if (invisible > 0) texts.Invisible += invisible;
        else if (DrawsText(object)) ++texts.Other;
    }
    return texts;
}

int TTextLayer::RemoveInvisibleText(int PageNumber) {
    const EngineLock lock;
    OpenPage(PageNumber);
    int removed = 0;
    try {
        for (int i = FPdf.GetObjectCount() - 1; i >= 0; --i) {
            const int texts = InvisibleTextObjects(static_cast<FPDF_PAGEOBJECT>(FPdf.GetObjectHandle(i)));
            if (texts <= 0) continue;
            FPdf.DeleteObject(i, false);
            removed += texts;
        }
        if (removed > 0) FPdf.UpdatePage();
    } catch (const EPdfError&) {
        FPdf.ReloadPage();  // as in AddPage: nothing is taken off until the content is written
        throw;
    }
    if (removed > 0) FCleared.insert(PageNumber);
    return removed;
}

void TTextLayer::Save(QIODevice* Output) {
    const EngineLock lock;
    CheckDocument();
    CheckResult(Output != nullptr, QStringLiteral("Cannot save PDF document to a missing stream"));
    if (!Output->isWritable())
        throw EFileError(QStringLiteral("Cannot write the document: the stream is not open for writing"));
    // Without a change the font is all that is new, and nothing refers to
    // it: the original alone is written.
    const bool changed = FWords > 0 || !FCleared.isEmpty();
    // The content streams text was taken out of are written anew, and
    // refer to nothing new: a first reading of the engine's save finds them
    // through the page tree.
    QSet<int> rewritten;
    if (!FCleared.isEmpty()) {
        textlayer::TAppendedUpdate survey(FOriginalSize, nullptr, FFirstNew);
        const bool surveyed = FPdf.SaveAs(&survey, TSaveOption::saIncremental);
        CheckResult(surveyed || survey.Failed(),
                    QStringLiteral("The engine could not save the document with its text layer"));
        survey.Finish();
        rewritten = survey.ContentsOfPages(FCleared);
    }
    textlayer::TAppendedUpdate update(FOriginalSize, Output, changed ? FFirstNew : std::numeric_limits<int>::max(),
                                      rewritten);
    const bool saved = FPdf.SaveAs(&update, TSaveOption::saIncremental);
    // A refused write or an unreadable save stops the engine too; Finish names it.
    CheckResult(saved || update.Failed(), QStringLiteral("The engine could not save the document with its text layer"));
    update.Finish();
}

void TTextLayer::Save(const QString& FileName) {
    CheckDocument();
    QSaveFile file(FileName);
    if (!file.open(QIODevice::WriteOnly)) throw EFileError::CannotCreate(FileName, file.errorString());
    try {
        Save(&file);
    } catch (const EFileError& e) {
        throw EFileError(e.Message(), FileName);
    }
    if (!file.flush() || file.error() != QFileDevice::NoError || !file.commit())
        throw EFileError(QStringLiteral("Cannot write file \"%1\". %2").arg(FileName, file.errorString()), FileName);
}

}  // namespace kestrune
