// Adding, regenerating, deleting and importing pages, and copying viewer
// preferences, on documents written here.
#include <gtest/gtest.h>

#include <QStringList>
#include <QTemporaryDir>

#include <kestrune/FPdf.h>
#include "support/PdfBuilder.h"
#include "support/TestHelpers.h"

using namespace kestrune;
using testing_support::ErrorOf;
using testing_support::PdfBuilder;
using testing_support::SimpleTextPdf;

namespace {

// Pages whose text is "Page 1" .. "Page N".
QByteArray NumberedPdf(int Count, const QString& Prefix = QStringLiteral("Page")) {
    QList<QStringList> pages;
    for (int i = 1; i <= Count; ++i) pages.append({Prefix + QStringLiteral(" %1").arg(i)});
    return SimpleTextPdf(pages);
}

// The trimmed text of every page; the current page number is restored.
QStringList PageTexts(TFPdf& Pdf) {
    QStringList texts;
    const int keep = Pdf.GetPageNumber();
    for (int i = 1; i <= Pdf.GetPageCount(); ++i) {
        Pdf.SetPageNumber(i);
        texts.append(Pdf.Text().trimmed());
    }
    Pdf.SetPageNumber(keep);
    return texts;
}

double PageWidth(TFPdf& Pdf) { return engine::FPDF_GetPageWidthF(static_cast<FPDF_PAGE>(Pdf.GetPage())); }
double PageHeight(TFPdf& Pdf) { return engine::FPDF_GetPageHeightF(static_cast<FPDF_PAGE>(Pdf.GetPage())); }

// A component on a document of Count numbered pages, counting OnPageChange.
class Pages : public ::testing::Test {
protected:
    void Open(int Count, int Current) {
        Bytes = NumberedPdf(Count);
        Pdf.SetPageNumber(Current);
        Pdf.LoadDocument(Bytes);
        Pdf.OnPageChange = [this](QObject*) { ++Changes; };
    }
    QByteArray Bytes;
    TFPdf Pdf;
    int Changes = 0;
};

}  // namespace

// ---- AddPage -------------------------------------------------------------------

TEST_F(Pages, AddPageAtTheStart) {
    Open(2, 2);
    Pdf.GetCharacterCount();  // a text page that must not survive
    Pdf.AddPage(1, 300, 400);
    EXPECT_EQ(Pdf.GetPageNumber(), 1);
    EXPECT_EQ(Pdf.GetPageCount(), 3);
    EXPECT_EQ(Changes, 0);
    EXPECT_EQ(Pdf.GetTextPage(), nullptr);
    ASSERT_NE(Pdf.GetPage(), nullptr);
    EXPECT_DOUBLE_EQ(PageWidth(Pdf), 300);
    EXPECT_DOUBLE_EQ(PageHeight(Pdf), 400);
    EXPECT_EQ(Pdf.GetCharacterCount(), 0);
    EXPECT_EQ(PageTexts(Pdf), (QStringList{"", "Page 1", "Page 2"}));
}

TEST_F(Pages, AddPageAtAndPastTheEnd) {
    // The current page is always page PageNumber: a number past the end gets
    // the page appended and the number it actually got.
    struct Case {
        int Given;
        int Expected;
    };
    for (const Case c : {Case{3, 3}, Case{9, 3}, Case{0, 1}, Case{-5, 1}}) {
        TFPdf pdf;
        pdf.LoadDocument(NumberedPdf(2));
        pdf.AddPage(c.Given, 200, 100);
        EXPECT_EQ(pdf.GetPageNumber(), c.Expected) << c.Given;
        EXPECT_EQ(pdf.GetPageCount(), 3) << c.Given;
        // The open page is the new, empty one, and it sits at that number.
        EXPECT_DOUBLE_EQ(PageWidth(pdf), 200) << c.Given;
        pdf.ReloadPage();
        EXPECT_DOUBLE_EQ(PageWidth(pdf), 200) << c.Given;
        EXPECT_EQ(pdf.GetCharacterCount(), 0) << c.Given;
    }
}

TEST_F(Pages, AddPageToANewDocument) {
    Pdf.CreateDocument();
    Pdf.AddPage(1, 612, 792);
    Pdf.AddPage(2, 100, 100);
    EXPECT_EQ(Pdf.GetPageCount(), 2);
    EXPECT_EQ(Pdf.GetPageNumber(), 2);
    EXPECT_DOUBLE_EQ(PageWidth(Pdf), 100);
}

// ---- UpdatePage ------------------------------------------------------------------

TEST_F(Pages, UpdatePageShowsNewContentToTheNextTextOperation) {
    Open(1, 1);
    EXPECT_EQ(Pdf.Text().trimmed(), QStringLiteral("Page 1"));
    ASSERT_NE(Pdf.GetTextPage(), nullptr);

    // Place a text object through the engine, as content creation does.
    auto* doc = static_cast<FPDF_DOCUMENT>(Pdf.GetDocument());
    auto* page = static_cast<FPDF_PAGE>(Pdf.GetPage());
    FPDF_PAGEOBJECT text = engine::FPDFPageObj_NewTextObj(doc, "Helvetica", 12);
    ASSERT_NE(text, nullptr);
    const QString added = QStringLiteral("Added later");
    ASSERT_TRUE(engine::FPDFText_SetText(text, reinterpret_cast<FPDF_WIDESTRING>(added.utf16())));
    engine::FPDFPageObj_Transform(text, 1, 0, 0, 1, 72, 400);
    engine::FPDFPage_InsertObject(page, text);

    Pdf.UpdatePage();
    EXPECT_EQ(Pdf.GetPage(), page);  // neither closed nor reloaded
    EXPECT_EQ(Pdf.GetTextPage(), nullptr);
    EXPECT_EQ(Changes, 0);
    EXPECT_TRUE(Pdf.Text().contains(added));
}

TEST_F(Pages, UpdatePageGuards) {
    TFPdf inactive;
    inactive.SetName(QStringLiteral("FPdf1"));
    EXPECT_EQ(ErrorOf([&] { inactive.UpdatePage(); }),
              QStringLiteral("Cannot perform this operation on an inactive FPdf1 component"));
    Open(1, 0);
    EXPECT_EQ(ErrorOf([&] { Pdf.UpdatePage(); }), QStringLiteral("Cannot perform this operation on an inactive page"));
}

// ---- DeletePage ------------------------------------------------------------------

TEST_F(Pages, DeletePageCases) {
    struct Case {
        const char* Name;
        int Count, Current, Deleted;
        int ExpectedNumber;
        QStringList ExpectedTexts;
        QString CurrentText;  // of the page open afterwards; empty for none
    };
    const Case cases[] = {
        {"current, not last", 3, 2, 2, 2, {"Page 1", "Page 3"}, "Page 3"},
        {"current and last", 3, 3, 3, 2, {"Page 1", "Page 2"}, "Page 2"},
        {"before the current", 5, 5, 2, 4, {"Page 1", "Page 3", "Page 4", "Page 5"}, "Page 5"},
        {"number kept, shows the next page", 6, 5, 2, 5, {"Page 1", "Page 3", "Page 4", "Page 5", "Page 6"}, "Page 6"},
        {"after the current", 3, 1, 3, 1, {"Page 1", "Page 2"}, "Page 1"},
        {"no current page", 2, 0, 1, 0, {"Page 2"}, ""},
        {"a number naming no page", 2, 1, 7, 1, {"Page 1", "Page 2"}, "Page 1"},
        {"the only page", 1, 1, 1, 0, {}, ""},
    };
    for (const Case& c : cases) {
        TFPdf pdf;
        int changes = 0;
        pdf.SetPageNumber(c.Current);
        pdf.LoadDocument(NumberedPdf(c.Count));
        pdf.OnPageChange = [&](QObject*) { ++changes; };
        pdf.DeletePage(c.Deleted);
        EXPECT_EQ(changes, 1) << c.Name;
        EXPECT_EQ(pdf.GetPageNumber(), c.ExpectedNumber) << c.Name;
        if (c.CurrentText.isEmpty()) {
            EXPECT_EQ(pdf.GetPage(), nullptr) << c.Name;
        } else {
            ASSERT_NE(pdf.GetPage(), nullptr) << c.Name;
            EXPECT_EQ(pdf.Text().trimmed(), c.CurrentText) << c.Name;
        }
        EXPECT_EQ(PageTexts(pdf), c.ExpectedTexts) << c.Name;
    }
}

// ---- ImportPages -----------------------------------------------------------------

TEST_F(Pages, ImportRangeFromAnInactiveComponent) {
    Open(3, 2);
    QTemporaryDir dir;
    TFPdf source;
    source.SetFileName(testing_support::WriteFile(dir.filePath("source.pdf"), NumberedPdf(4, "Source")));
    ASSERT_FALSE(source.GetActive());

    EXPECT_TRUE(Pdf.ImportPages(&source, QStringLiteral("2,4"), 2));
    EXPECT_TRUE(source.GetActive());  // opened, and left open
    EXPECT_EQ(source.GetPageCount(), 4);
    EXPECT_EQ(Changes, 1);
    EXPECT_EQ(Pdf.GetPageNumber(), 2);  // the kept number, now on an imported page
    EXPECT_EQ(Pdf.Text().trimmed(), QStringLiteral("Source 2"));
    EXPECT_EQ(PageTexts(Pdf), (QStringList{"Page 1", "Source 2", "Source 4", "Page 2", "Page 3"}));

    // An empty range imports every page; the position after the last page
    // appends, one past it the engine refuses.
    Changes = 0;
    EXPECT_TRUE(Pdf.ImportPages(&source, QString(), 1));
    EXPECT_EQ(Pdf.GetPageCount(), 9);
    EXPECT_EQ(Pdf.Text().trimmed(), QStringLiteral("Source 2"));
    EXPECT_TRUE(Pdf.ImportPages(&source, QStringLiteral("3"), 10));
    EXPECT_FALSE(Pdf.ImportPages(&source, QStringLiteral("3"), 12));
    EXPECT_EQ(Changes, 3);
    EXPECT_EQ(PageTexts(Pdf), (QStringList{"Source 1", "Source 2", "Source 3", "Source 4", "Page 1", "Source 2",
                                           "Source 4", "Page 2", "Page 3", "Source 3"}));
}

TEST_F(Pages, ImportWithARejectedRange) {
    Open(2, 2);
    TFPdf source;
    source.LoadDocument(NumberedPdf(2, "Source"));
    EXPECT_FALSE(Pdf.ImportPages(&source, QStringLiteral("5-9"), 1));
    EXPECT_FALSE(Pdf.ImportPages(&source, QStringLiteral("nonsense"), 1));
    EXPECT_EQ(Changes, 2);  // the page was re-opened each time
    EXPECT_NE(Pdf.GetPage(), nullptr);
    EXPECT_EQ(PageTexts(Pdf), (QStringList{"Page 1", "Page 2"}));
}

TEST_F(Pages, ImportFromTheSameDocument) {
    // The engine cannot copy a document into itself; the component imports
    // from a copy instead.
    Open(3, 1);
    EXPECT_TRUE(Pdf.ImportPages(&Pdf, QStringLiteral("3,1"), 2));
    EXPECT_EQ(Changes, 1);
    EXPECT_EQ(PageTexts(Pdf), (QStringList{"Page 1", "Page 3", "Page 1", "Page 2", "Page 3"}));
    // The imported pages hold their own data: they survive the copy.
    QBuffer saved;
    saved.open(QIODevice::WriteOnly);
    ASSERT_TRUE(Pdf.SaveAs(&saved));
    TFPdf reopened;
    reopened.LoadDocument(saved.buffer());
    EXPECT_EQ(PageTexts(reopened), (QStringList{"Page 1", "Page 3", "Page 1", "Page 2", "Page 3"}));
}

TEST_F(Pages, ImportGuards) {
    TFPdf inactive;
    inactive.SetName(QStringLiteral("FPdf1"));
    TFPdf source;
    source.LoadDocument(NumberedPdf(1));
    const QString message = QStringLiteral("Cannot perform this operation on an inactive FPdf1 component");
    EXPECT_EQ(ErrorOf([&] { inactive.ImportPages(&source, QString(), 1); }), message);
    EXPECT_EQ(ErrorOf([&] { inactive.ImportPreferences(&source); }), message);
    EXPECT_EQ(ErrorOf([&] { inactive.AddPage(1, 10, 10); }), message);
    EXPECT_EQ(ErrorOf([&] { inactive.DeletePage(1); }), message);

    Open(1, 1);
    const QString noSource = QStringLiteral("Cannot import from a missing PDF component");
    EXPECT_EQ(ErrorOf([&] { Pdf.ImportPages(nullptr, QString(), 1); }), noSource);
    EXPECT_EQ(ErrorOf([&] { Pdf.ImportPreferences(nullptr); }), noSource);
    // A source that cannot be opened raises its load error.
    TFPdf broken;
    broken.SetFileName(QStringLiteral("/nonexistent/missing.pdf"));
    EXPECT_EQ(ErrorOf([&] { Pdf.ImportPages(&broken, QString(), 1); }),
              QStringLiteral("File not found or could not be opened"));
    EXPECT_EQ(Pdf.GetPageCount(), 1);
}

// ---- ImportPreferences --------------------------------------------------------------

TEST_F(Pages, ImportPreferencesCopiesViewerPreferences) {
    PdfBuilder b;
    const int catalog = b.Reserve();
    const int pages = b.Reserve();
    b.SetPageTree(catalog, pages, {},
                  "/ViewerPreferences << /NumCopies 3 /Duplex /DuplexFlipLongEdge /PrintScaling /None >>");
    TFPdf source;
    source.LoadDocument(b.Build(catalog));

    Open(2, 1);
    auto* doc = static_cast<FPDF_DOCUMENT>(Pdf.GetDocument());
    EXPECT_EQ(engine::FPDF_VIEWERREF_GetNumCopies(doc), 1);
    void* page = Pdf.GetPage();
    EXPECT_TRUE(Pdf.ImportPreferences(&source));
    EXPECT_EQ(engine::FPDF_VIEWERREF_GetNumCopies(doc), 3);
    EXPECT_EQ(engine::FPDF_VIEWERREF_GetDuplex(doc), 3);  // DuplexFlipLongEdge
    EXPECT_FALSE(engine::FPDF_VIEWERREF_GetPrintScaling(doc));
    EXPECT_EQ(Pdf.GetPage(), page);  // the current page is untouched
    EXPECT_EQ(Changes, 0);

    // From itself, and from a document without preferences (the engine refuses).
    EXPECT_TRUE(Pdf.ImportPreferences(&Pdf));
    EXPECT_EQ(engine::FPDF_VIEWERREF_GetNumCopies(doc), 3);
    TFPdf plain;
    plain.LoadDocument(NumberedPdf(1));
    EXPECT_FALSE(Pdf.ImportPreferences(&plain));
}
