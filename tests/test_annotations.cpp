// Annotations of the current page: reading the records, writing one back,
// creating one of each subtype the engine can create, the subtype check on
// write, deletion, and the index and page errors.
#include <gtest/gtest.h>

#include <kestrune/FPdf.h>
#include "support/PdfBuilder.h"
#include "support/TestHelpers.h"

using namespace kestrune;
using testing_support::ExpectError;
using testing_support::PdfBuilder;
using testing_support::Ref;
using testing_support::Saved;
using Sub = TPdfAnnotationSubtype;
using Flag = TPdfAnnotationFlag;

namespace {

// Indices of the fixture's annotations, in page order.
constexpr int kText = 0, kLink = 1, kHighlight = 2, kSquare = 3, kInk = 4, kFixtureCount = 7;

const QString kHighlightNote = QStringLiteral("Gelb \u00e4 \u4e2d\u6587");

// One page with text and seven annotations: a note, a link, a highlight with
// two quadrilaterals, a square with interior colour and a flag bit above bit 8,
// an ink stroke with an appearance stream, a text-field widget, and a redaction (a subtype code the
// enumeration does not name).
QByteArray AnnotationsPdf() {
    PdfBuilder b;
    const int catalog = b.Reserve();
    const int pages = b.Reserve();
    const int page = b.Reserve();
    const int font = b.Add("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
    const int content = b.AddStream("<< >>", "BT /F1 12 Tf 50 750 Td (Annotated page) Tj ET");
    const QByteArray p = " /P " + QByteArray::number(page) + " 0 R";
    QList<int> annots;
    annots << b.Add("<< /Type /Annot /Subtype /Text /Rect [50 700 70 720] /Contents (Note one) /T (Alice)"
                    " /C [1 0 0] /F 4" + p + " >>");
    annots << b.Add("<< /Type /Annot /Subtype /Link /Rect [50 600 200 620] /Border [0 0 0]"
                    " /A << /S /URI /URI (http://example.com/) >>" + p + " >>");
    annots << b.Add("<< /Type /Annot /Subtype /Highlight /Rect [50 470 200 520]"
                    " /QuadPoints [50 520 200 520 50 500 200 500 60 480 100 480 60 470 100 470]"
                    " /C [1 1 0] /F 4 /Contents " + testing_support::PdfUtf16Hex(kHighlightNote) + " /T (Bob)" + p + " >>");
    annots << b.Add("<< /Type /Annot /Subtype /Square /Rect [100 300 200 400] /C [0 0 1] /IC [0 1 0.2]"
                    " /F 516" + p + " >>");
    const int inkAppearance = b.AddStream("<< /Type /XObject /Subtype /Form /BBox [300 300 400 400] >>",
                                          "0 0 0 RG 300 300 m 350 380 l 400 300 l S");
    annots << b.Add("<< /Type /Annot /Subtype /Ink /Rect [300 300 400 400] /InkList [[300 300 350 380 400 300]]"
                    " /C [0 0 0] /F 4 /AP << /N " + QByteArray::number(inkAppearance) + " 0 R >>" + p + " >>");
    annots << b.Add("<< /Type /Annot /Subtype /Widget /FT /Tx /T (Name) /V (Hello) /Rect [300 600 500 620] /F 4" +
                    p + " >>");
    annots << b.Add("<< /Type /Annot /Subtype /Redact /Rect [400 100 500 150]" + p + " >>");
    QByteArray refs;
    for (int a : annots) refs += QByteArray::number(a) + " 0 R ";
    b.Set(page, "<< /Type /Page /Parent " + QByteArray::number(pages) + " 0 R /MediaBox [0 0 612 792]"
                " /Resources << /Font << /F1 " + QByteArray::number(font) + " 0 R >> >> /Contents " +
                QByteArray::number(content) + " 0 R /Annots [" + refs + "] >>");
    b.SetPageTree(catalog, pages, {page}, "/AcroForm << /Fields [" + Ref(annots[5]) + "] >>");  // the widget
    return b.Build(catalog);
}

// Opens Bytes on page 1. Colours are read with the form environment off: once
// a page is announced to it, the engine writes appearance streams, and an
// annotation with one reports no colour.
void Open(TFPdf& Pdf, const QByteArray& Bytes, bool FormFill = false) {
    Pdf.SetFormFill(FormFill);
    Pdf.SetPageNumber(1);
    Pdf.LoadDocument(Bytes, true);
}

TQuadrilateralPoint Quad(double L, double B, double R, double T) {
    return {TPdfPoint{L, T}, TPdfPoint{R, T}, TPdfPoint{L, B}, TPdfPoint{R, B}};
}

void ExpectQuad(const TQuadrilateralPoint& Actual, const TQuadrilateralPoint& Expected) {
    for (int i = 0; i < 4; ++i) {
        EXPECT_FLOAT_EQ(Actual[i].X, Expected[i].X) << "point " << i;
        EXPECT_FLOAT_EQ(Actual[i].Y, Expected[i].Y) << "point " << i;
    }
}

void ExpectRect(const TPdfRectangle& Actual, const TPdfRectangle& Expected) {
    EXPECT_FLOAT_EQ(Actual.Left, Expected.Left);
    EXPECT_FLOAT_EQ(Actual.Top, Expected.Top);
    EXPECT_FLOAT_EQ(Actual.Right, Expected.Right);
    EXPECT_FLOAT_EQ(Actual.Bottom, Expected.Bottom);
}

// Every field of two records, texts and geometry included.
void ExpectSameAnnotation(const TPdfAnnotation& A, const TPdfAnnotation& B) {
    EXPECT_EQ(A.Subtype, B.Subtype);
    EXPECT_EQ(A.Flags, B.Flags);
    EXPECT_EQ(A.HasColor, B.HasColor);
    EXPECT_EQ(A.Color, B.Color);
    EXPECT_EQ(A.HasInteriorColor, B.HasInteriorColor);
    EXPECT_EQ(A.InteriorColor, B.InteriorColor);
    EXPECT_EQ(A.HasAttachmentPoints, B.HasAttachmentPoints);
    ExpectQuad(A.AttachmentPoints, B.AttachmentPoints);
    ExpectRect(A.Rectangle, B.Rectangle);
    EXPECT_EQ(A.ContentsText, B.ContentsText);
    EXPECT_EQ(A.AuthorText, B.AuthorText);
}

}  // namespace

TEST(Annotations, ReadsEveryRecordOfThePage) {
    TFPdf pdf;
    Open(pdf, AnnotationsPdf());
    ASSERT_EQ(pdf.GetAnnotationCount(), kFixtureCount);

    const Sub subtypes[] = {Sub::anText, Sub::anLink, Sub::anHighlight, Sub::anSquare,
                            Sub::anInk, Sub::anWidget, Sub::anUnknown};
    for (int i = 0; i < kFixtureCount; ++i) EXPECT_EQ(pdf.GetAnnotation(i).Subtype, subtypes[i]) << "index " << i;

    const TPdfAnnotation note = pdf.GetAnnotation(kText);
    EXPECT_EQ(note.Flags, TPdfAnnotationFlags{Flag::afPrint});
    EXPECT_TRUE(note.HasColor);
    EXPECT_EQ(note.Color, 0xFFFF0000u);
    EXPECT_FALSE(note.HasAttachmentPoints);
    ExpectRect(note.Rectangle, TPdfRectangle{50, 720, 70, 700});
    EXPECT_EQ(note.ContentsText, QStringLiteral("Note one"));
    EXPECT_EQ(note.AuthorText, QStringLiteral("Alice"));

    // A link without quadrilaterals or texts. The engine answers a missing
    // colour entry with its default colour (black here).
    const TPdfAnnotation link = pdf.GetAnnotation(kLink);
    EXPECT_TRUE(link.HasColor);
    EXPECT_EQ(link.Color, 0xFF000000u);
    EXPECT_FALSE(link.HasAttachmentPoints);
    ExpectQuad(link.AttachmentPoints, TQuadrilateralPoint{});
    EXPECT_TRUE(link.ContentsText.isEmpty());
    EXPECT_TRUE(link.AuthorText.isEmpty());

    // Only the first of the highlight's two quadrilaterals is read.
    const TPdfAnnotation highlight = pdf.GetAnnotation(kHighlight);
    EXPECT_TRUE(highlight.HasColor);
    EXPECT_EQ(highlight.Color, 0xFFFFFF00u);
    ASSERT_TRUE(highlight.HasAttachmentPoints);
    ExpectQuad(highlight.AttachmentPoints, Quad(50, 500, 200, 520));
    EXPECT_EQ(highlight.ContentsText, kHighlightNote);
    EXPECT_EQ(highlight.AuthorText, QStringLiteral("Bob"));

    // Flag value 516 = print (4) + bit 9, which has no member and is dropped.
    const TPdfAnnotation square = pdf.GetAnnotation(kSquare);
    EXPECT_EQ(square.Flags, TPdfAnnotationFlags{Flag::afPrint});
    EXPECT_EQ(square.Color, 0xFF0000FFu);
    ASSERT_TRUE(square.HasInteriorColor);
    EXPECT_EQ(square.InteriorColor, 0xFF00FF33u);
    ExpectRect(square.Rectangle, TPdfRectangle{100, 400, 200, 300});

    // An annotation with an appearance stream reports no colour: both read 0.
    const TPdfAnnotation ink = pdf.GetAnnotation(kInk);
    EXPECT_FALSE(ink.HasColor);
    EXPECT_EQ(ink.Color, 0u);
    EXPECT_FALSE(ink.HasInteriorColor);
    EXPECT_EQ(ink.InteriorColor, 0u);
}

TEST(Annotations, AnnouncedPageReportsNoColourForGeneratedAppearances) {
    // Reading annotations does not announce the page to the form environment:
    // the square's colour is read as without one.
    TFPdf pdf;
    Open(pdf, AnnotationsPdf(), true);
    EXPECT_EQ(pdf.GetAnnotation(kSquare).Color, 0xFF0000FFu);
    // Once the page is announced (here by taking the raw form handle), the
    // engine gives the square an appearance stream and then reports no colour
    // for it; the rest of the record stays.
    ASSERT_NE(pdf.GetFormHandle(), nullptr);
    const TPdfAnnotation square = pdf.GetAnnotation(kSquare);
    EXPECT_FALSE(square.HasColor);
    EXPECT_EQ(square.Color, 0u);
    EXPECT_EQ(square.Subtype, Sub::anSquare);
    ExpectRect(square.Rectangle, TPdfRectangle{100, 400, 200, 300});
}

TEST(Annotations, WrittenRecordReadsBackAndSurvivesSaving) {
    TFPdf pdf;
    Open(pdf, AnnotationsPdf());
    TPdfAnnotation value = pdf.GetAnnotation(kHighlight);
    value.Flags = {Flag::afPrint, Flag::afNoZoom, Flag::afLocked, Flag::afToggleNoView};
    value.Color = 0xFF102030;
    value.HasInteriorColor = true;
    value.InteriorColor = 0xFF405060;
    value.AttachmentPoints = Quad(10, 20, 30, 40);
    value.Rectangle = TPdfRectangle{10, 40, 30, 20};
    value.ContentsText = QStringLiteral("Neu \u00df \u65e5\u672c");
    value.AuthorText = QStringLiteral("Zo\u00eb");
    pdf.SetAnnotation(kHighlight, value);
    ExpectSameAnnotation(pdf.GetAnnotation(kHighlight), value);

    const QByteArray saved = Saved(pdf);
    TFPdf reopened;
    Open(reopened, saved);
    ASSERT_EQ(reopened.GetAnnotationCount(), kFixtureCount);
    ExpectSameAnnotation(reopened.GetAnnotation(kHighlight), value);
}

TEST(Annotations, AbsentColourKeepsTheOldOneAndEmptyTextsClear) {
    TFPdf pdf;
    Open(pdf, AnnotationsPdf());
    TPdfAnnotation value = pdf.GetAnnotation(kSquare);
    value.HasColor = false;
    value.Color = 0xFF123456;  // not meaningful, so not written
    value.HasInteriorColor = false;
    value.ContentsText.clear();
    value.AuthorText.clear();
    pdf.SetAnnotation(kSquare, value);

    const TPdfAnnotation read = pdf.GetAnnotation(kSquare);
    EXPECT_TRUE(read.HasColor);
    EXPECT_EQ(read.Color, 0xFF0000FFu);
    EXPECT_EQ(read.InteriorColor, 0xFF00FF33u);

    // Empty texts replace existing ones.
    TPdfAnnotation note = pdf.GetAnnotation(kText);
    note.ContentsText.clear();
    note.AuthorText.clear();
    pdf.SetAnnotation(kText, note);
    const TPdfAnnotation cleared = pdf.GetAnnotation(kText);
    EXPECT_TRUE(cleared.ContentsText.isEmpty());
    EXPECT_TRUE(cleared.AuthorText.isEmpty());
}

TEST(Annotations, WriteRefusesAnotherSubtypeBeforeWritingAnything) {
    TFPdf pdf;
    Open(pdf, AnnotationsPdf());
    const TPdfAnnotation before = pdf.GetAnnotation(kSquare);
    TPdfAnnotation value = before;
    value.Subtype = Sub::anCircle;
    value.ContentsText = QStringLiteral("changed");
    value.Flags = {Flag::afHidden};
    ExpectError([&] { pdf.SetAnnotation(kSquare, value); }, QStringLiteral("Incorrect annotation subtype"));
    ExpectSameAnnotation(pdf.GetAnnotation(kSquare), before);
}

TEST(Annotations, CreatesEverySubtypeTheEngineSupports) {
    const Sub creatable[] = {Sub::anText,      Sub::anLink,      Sub::anFreeText, Sub::anSquare, Sub::anCircle,
                             Sub::anHighlight, Sub::anUnderline, Sub::anSquiggly, Sub::anStrikeout,
                             Sub::anStamp,     Sub::anInk,       Sub::anPopup,    Sub::anFileAttachment};
    TFPdf pdf;
    Open(pdf, AnnotationsPdf());
    int count = kFixtureCount;
    for (Sub subtype : creatable) {
        SCOPED_TRACE(int(subtype));
        TPdfAnnotation value;
        value.Subtype = subtype;
        value.Flags = {Flag::afPrint};
        value.HasColor = true;
        value.Color = 0xFF00FF00;
        value.Rectangle = TPdfRectangle{20, 60, 80, 30};
        value.ContentsText = QStringLiteral("created");
        value.AuthorText = QStringLiteral("Tester");
        pdf.CreateAnnotation(value);
        ASSERT_EQ(pdf.GetAnnotationCount(), ++count);
        const TPdfAnnotation read = pdf.GetAnnotation(count - 1);
        EXPECT_EQ(read.Subtype, subtype);
        EXPECT_EQ(read.Flags, value.Flags);
        EXPECT_EQ(read.Color, value.Color);
        ExpectRect(read.Rectangle, value.Rectangle);
        EXPECT_EQ(read.ContentsText, value.ContentsText);
        EXPECT_EQ(read.AuthorText, value.AuthorText);
    }

    for (Sub subtype : {Sub::anUnknown, Sub::anLine, Sub::anWidget, Sub::anXfaWidget}) {
        SCOPED_TRACE(int(subtype));
        TPdfAnnotation value;
        value.Subtype = subtype;
        ExpectError([&] { pdf.CreateAnnotation(value); }, QStringLiteral("Unsupported annotation subtype"));
        EXPECT_EQ(pdf.GetAnnotationCount(), count);
    }
}

TEST(Annotations, CreatedMarkupWithAttachmentPointsSurvivesSaving) {
    // A new highlight has no quadrilateral yet: the first one is appended.
    TFPdf pdf;
    Open(pdf, AnnotationsPdf());
    TPdfAnnotation value;
    value.Subtype = Sub::anHighlight;
    value.Flags = {Flag::afPrint};
    value.HasColor = true;
    value.Color = 0xFFFFA500;
    value.HasAttachmentPoints = true;
    value.HasInteriorColor = true;
    value.InteriorColor = 0xFF00FFFF;  // the engine keeps one alpha for both colours
    value.AttachmentPoints = Quad(72, 700, 180.5, 714.25);
    value.Rectangle = TPdfRectangle{72, 714.25, 180.5, 700};
    value.ContentsText = QStringLiteral("marked");
    pdf.CreateAnnotation(value);
    ASSERT_EQ(pdf.GetAnnotationCount(), kFixtureCount + 1);
    ExpectSameAnnotation(pdf.GetAnnotation(kFixtureCount), value);

    TFPdf reopened;
    Open(reopened, Saved(pdf));
    ASSERT_EQ(reopened.GetAnnotationCount(), kFixtureCount + 1);
    ExpectSameAnnotation(reopened.GetAnnotation(kFixtureCount), value);
}

TEST(Annotations, DeleteRemovesByIndexAndSurvivesSaving) {
    TFPdf pdf;
    Open(pdf, AnnotationsPdf());
    pdf.DeleteAnnotation(kLink);
    ASSERT_EQ(pdf.GetAnnotationCount(), kFixtureCount - 1);
    EXPECT_EQ(pdf.GetAnnotation(kLink).Subtype, Sub::anHighlight);  // the next one moved up

    TFPdf reopened;
    Open(reopened, Saved(pdf));
    ASSERT_EQ(reopened.GetAnnotationCount(), kFixtureCount - 1);
    EXPECT_EQ(reopened.GetAnnotation(kText).Subtype, Sub::anText);
    EXPECT_EQ(reopened.GetAnnotation(kLink).Subtype, Sub::anHighlight);
}

TEST(Annotations, IndexAndPageErrors) {
    TFPdf pdf;
    Open(pdf, AnnotationsPdf());
    const QString incorrect = QStringLiteral("Incorrect index");
    for (int index : {-1, kFixtureCount}) {
        SCOPED_TRACE(index);
        ExpectError([&] { pdf.GetAnnotation(index); }, incorrect);
        ExpectError([&] { pdf.SetAnnotation(index, TPdfAnnotation{}); }, incorrect);
        ExpectError([&] { pdf.DeleteAnnotation(index); }, incorrect);
    }
    EXPECT_EQ(pdf.GetAnnotationCount(), kFixtureCount);

    pdf.SetPageNumber(0);
    const QString noPage = QStringLiteral("Cannot perform this operation on an inactive page");
    ExpectError([&] { pdf.GetAnnotationCount(); }, noPage);
    ExpectError([&] { pdf.GetAnnotation(0); }, noPage);
    ExpectError([&] { pdf.SetAnnotation(0, TPdfAnnotation{}); }, noPage);
    ExpectError([&] { pdf.CreateAnnotation(TPdfAnnotation{}); }, noPage);
    ExpectError([&] { pdf.DeleteAnnotation(0); }, noPage);
}
