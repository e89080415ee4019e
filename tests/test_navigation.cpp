// The outline, link annotations, web links and named destinations, read from
// documents written here, and the life of the two link caches.
#include <gtest/gtest.h>

#include <QStringList>
#include <functional>

#include <kestrune/FPdf.h>
#include "support/PdfBuilder.h"
#include "support/TestHelpers.h"

using namespace kestrune;
using testing_support::ErrorOf;
using testing_support::PdfBuilder;
using testing_support::PdfLiteral;
using testing_support::PdfUtf16Hex;
using testing_support::Ref;

namespace {

// A document of Count text pages; page objects are numbered before anything
// else is added, so that outlines, links and destinations can refer to them.
// Extra catalog entries and page-1 annotations come from the callers.
struct NavigationDocument {
    PdfBuilder B;
    int Catalog = B.Reserve();
    int Pages = B.Reserve();
    int Font = B.Add("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>");
    QList<int> Page;

    explicit NavigationDocument(int Count) {
        for (int i = 0; i < Count; ++i) Page.append(B.Reserve());
    }

    QByteArray Build(const QList<QStringList>& Text, const QByteArray& Page1Annots, const QByteArray& CatalogExtra) {
        for (int i = 0; i < Page.size(); ++i) {
            QByteArray content = "BT /F1 12 Tf 14 TL 72 720 Td\n";
            for (const QString& line : Text.value(i)) content += PdfLiteral(line.toLatin1()) + " Tj T*\n";
            content += "ET";
            const int stream = B.AddStream("<< >>", content);
            B.Set(Page[i], "<< /Type /Page /Parent " + Ref(Pages) +
                               " /MediaBox [0 0 612 792] /Resources << /Font << /F1 " + Ref(Font) +
                               " >> >> /Contents " + Ref(stream) + (i == 0 ? " /Annots [" + Page1Annots + "]" : "") +
                               " >>");
        }
        B.SetPageTree(Catalog, Pages, Page, CatalogExtra);
        return B.Build(Catalog);
    }
};

const QString kLaunchPath = QStringLiteral("R\u00e9sum\u00e9 \u6587\u66f8.txt");

// Five pages. Page 1 carries six link annotations (and one note, which is no
// link) and a URL in its text; an outline two levels deep; three named
// destinations, two with a position and one without.
QByteArray NavigationPdf() {
    NavigationDocument d(5);
    PdfBuilder& b = d.B;
    QList<int> links;
    // 0: its own destination, no action.
    links << b.Add("<< /Type /Annot /Subtype /Link /Rect [10 20 110 40] /Dest [" + Ref(d.Page[4]) +
                   " /XYZ 0 792 0] >>");
    // 1: go-to action, two quadrilaterals.
    links << b.Add("<< /Type /Annot /Subtype /Link /Rect [10 50 110 70] /A << /S /GoTo /D [" + Ref(d.Page[2]) +
                   " /Fit] >> /QuadPoints [10 70 110 70 10 50 110 50 20 69 100 69 20 51 100 51] >>");
    // 2: go-to-remote with a page number in the other file.
    links << b.Add("<< /Type /Annot /Subtype /Link /Rect [10 80 110 100] /A << /S /GoToR /F (other.pdf) /D [2 /Fit] >> >>");
    // 3: launch of a file whose name is not Latin-1 (a /Filespec dictionary
    // with a Unicode /UF name, which the engine hands out as UTF-8).
    links << b.Add("<< /Type /Annot /Subtype /Link /Rect [10 110 110 130] /A << /S /Launch /F << /Type /Filespec "
                   "/F (resume.txt) /UF " + PdfUtf16Hex(kLaunchPath) + " >> >> >>");
    // 4: URI whose bytes are 8-bit (0xE9), not UTF-8.
    links << b.Add("<< /Type /Annot /Subtype /Link /Rect [10 140 110 160] /A << /S /URI /URI (https://example.com/caf\\351?q=1) >> >>");
    // 5: an action of a kind the component does not name.
    links << b.Add("<< /Type /Annot /Subtype /Link /Rect [10 170 110 190] /A << /S /Named /N /NextPage >> >>");
    const int note = b.Add("<< /Type /Annot /Subtype /Text /Rect [300 300 320 320] /Contents (note) >>");
    QByteArray annots;
    for (int l : links.mid(0, 3)) annots += Ref(l) + " ";
    annots += Ref(note) + " ";
    for (int l : links.mid(3)) annots += Ref(l) + " ";

    // Outline: Chapter 1 (Section 1.1, an untitled item), a chapter with a
    // non-Latin title and a URI action, and an appendix on a named destination.
    const int outlines = b.Reserve();
    const int ch1 = b.Reserve(), s11 = b.Reserve(), s12 = b.Reserve(), ch2 = b.Reserve(), app = b.Reserve();
    b.Set(outlines, "<< /Type /Outlines /First " + Ref(ch1) + " /Last " + Ref(app) + " /Count 3 >>");
    b.Set(ch1, "<< /Title (Chapter 1) /Parent " + Ref(outlines) + " /Next " + Ref(ch2) + " /First " + Ref(s11) +
                   " /Last " + Ref(s12) + " /Count 2 /Dest [" + Ref(d.Page[0]) + " /Fit] >>");
    b.Set(s11, "<< /Title (Section 1.1) /Parent " + Ref(ch1) + " /Next " + Ref(s12) + " /A << /S /GoTo /D [" +
                   Ref(d.Page[1]) + " /XYZ 0 700 0] >> >>");
    b.Set(s12, "<< /Title () /Parent " + Ref(ch1) + " /Prev " + Ref(s11) + " /Dest [" + Ref(d.Page[2]) + " /Fit] >>");
    b.Set(ch2, "<< /Title " + PdfUtf16Hex(QStringLiteral("\u7b2c\u4e8c\u7ae0 2")) + " /Parent " + Ref(outlines) +
                   " /Prev " + Ref(ch1) + " /Next " + Ref(app) + " /A << /S /URI /URI (http://example.com/) >> >>");
    b.Set(app, "<< /Title (Appendix) /Parent " + Ref(outlines) + " /Prev " + Ref(ch2) + " /Dest (alpha) >>");

    const int dests = b.Add("<< /Names [(alpha) [" + Ref(d.Page[3]) + " /XYZ 100 200 0] (beta) [" + Ref(d.Page[1]) +
                            " /Fit] (zoom) [" + Ref(d.Page[0]) + " /XYZ null null 1.5]] >>");
    return d.Build({{"Visit https://www.example.org/docs for details", "and nothing else"},
                    {"Page two has no links"},
                    {"Page three"},
                    {"Page four"},
                    {"Page five"}},
                   annots,
                   "/Outlines " + Ref(outlines) + " /Names << /Dests " + Ref(dests) + " >>");
}

// An outline whose sibling chain runs back from the second item to the first.
QByteArray LoopingOutlinePdf() {
    NavigationDocument d(1);
    PdfBuilder& b = d.B;
    const int outlines = b.Reserve(), first = b.Reserve(), second = b.Reserve();
    b.Set(outlines, "<< /Type /Outlines /First " + Ref(first) + " /Last " + Ref(second) + " >>");
    b.Set(first, "<< /Title (First) /Parent " + Ref(outlines) + " /Next " + Ref(second) + " >>");
    b.Set(second, "<< /Title (Second) /Parent " + Ref(outlines) + " /Next " + Ref(first) + " >>");
    return d.Build({{"Loop"}}, {}, "/Outlines " + Ref(outlines));
}

class Navigation : public ::testing::Test {
protected:
    void SetUp() override {
        Bytes = NavigationPdf();
        Pdf.SetName(QStringLiteral("FPdf1"));
        Pdf.SetPageNumber(1);
        Pdf.LoadDocument(Bytes);
    }
    QByteArray Bytes;
    TFPdf Pdf;
};

const QString kInactive = QStringLiteral("Cannot perform this operation on an inactive FPdf1 component");
const QString kInactivePage = QStringLiteral("Cannot perform this operation on an inactive page");
const QString kIncorrectIndex = QStringLiteral("Incorrect index");

}  // namespace

// ---- Outline -----------------------------------------------------------------

TEST_F(Navigation, OutlineReadsLevelByLevel) {
    const TBookmarks top = Pdf.GetBookmarks();
    ASSERT_EQ(top.size(), 3);
    EXPECT_EQ(top[0].Title, QStringLiteral("Chapter 1"));
    EXPECT_EQ(top[0].PageNumber, 1);
    EXPECT_EQ(top[0].Action, TPdfAction::acUnsupported);
    EXPECT_EQ(top[0].ActionPageNumber, 0);
    EXPECT_NE(top[0].Handle, nullptr);

    EXPECT_EQ(top[1].Title, QStringLiteral("\u7b2c\u4e8c\u7ae0 2"));
    EXPECT_EQ(top[1].PageNumber, 0);
    EXPECT_EQ(top[1].Action, TPdfAction::acUri);
    EXPECT_EQ(top[1].ActionPageNumber, 0);

    // A destination given by name is resolved to its page.
    EXPECT_EQ(top[2].Title, QStringLiteral("Appendix"));
    EXPECT_EQ(top[2].PageNumber, 4);

    EXPECT_TRUE(Pdf.GetHasBookmarkChildren(top[0]));
    EXPECT_FALSE(Pdf.GetHasBookmarkChildren(top[1]));
    const TBookmarks children = Pdf.GetBookmarkChildren(top[0]);
    ASSERT_EQ(children.size(), 2);
    EXPECT_EQ(children[0].Title, QStringLiteral("Section 1.1"));
    // The engine answers an item's own destination from its go-to action
    // when the item has none.
    EXPECT_EQ(children[0].PageNumber, 2);
    EXPECT_EQ(children[0].Action, TPdfAction::acGoto);
    EXPECT_EQ(children[0].ActionPageNumber, 2);
    EXPECT_TRUE(children[1].Title.isEmpty());
    EXPECT_EQ(children[1].PageNumber, 3);
    EXPECT_TRUE(Pdf.GetBookmarkChildren(children[0]).isEmpty());
}

TEST_F(Navigation, BookmarkByTitle) {
    const TBookmark found = Pdf.GetBookmark(QStringLiteral("Section 1.1"));
    EXPECT_EQ(found.Title, QStringLiteral("Section 1.1"));
    EXPECT_EQ(found.Handle, Pdf.GetBookmarkChildren(Pdf.GetBookmarks()[0])[0].Handle);

    const TBookmark missing = Pdf.GetBookmark(QStringLiteral("No such title"));
    EXPECT_EQ(missing.Handle, nullptr);
    EXPECT_TRUE(missing.Title.isEmpty());
    EXPECT_EQ(missing.PageNumber, 0);
    EXPECT_EQ(missing.Action, TPdfAction::acUnsupported);
}

TEST(NavigationOutline, LoopingSiblingChainEnds) {
    TFPdf pdf;
    pdf.LoadDocument(LoopingOutlinePdf());
    const TBookmarks top = pdf.GetBookmarks();
    ASSERT_EQ(top.size(), 2);
    EXPECT_EQ(top[0].Title, QStringLiteral("First"));
    EXPECT_EQ(top[1].Title, QStringLiteral("Second"));
    // The fixture really loops: the engine leads from the second item back to the first.
    EXPECT_EQ(engine::FPDFBookmark_GetNextSibling(static_cast<FPDF_DOCUMENT>(pdf.GetDocument()),
                                                  static_cast<FPDF_BOOKMARK>(top[1].Handle)),
              top[0].Handle);
    EXPECT_EQ(pdf.GetBookmark(QStringLiteral("Third")).Handle, nullptr);
}

TEST(NavigationOutline, DocumentWithoutOutline) {
    TFPdf pdf;
    pdf.LoadDocument(testing_support::SimpleTextPdf({{"No outline"}}));
    EXPECT_TRUE(pdf.GetBookmarks().isEmpty());
}

TEST(NavigationOutline, Guards) {
    TFPdf pdf;
    pdf.SetName(QStringLiteral("FPdf1"));
    // An item without a handle has no children, asked without any check.
    EXPECT_TRUE(pdf.GetBookmarkChildren(TBookmark{}).isEmpty());
    EXPECT_EQ(ErrorOf([&] { pdf.GetBookmarks(); }), kInactive);
    EXPECT_EQ(ErrorOf([&] { pdf.GetBookmark(QStringLiteral("x")); }), kInactive);
    EXPECT_EQ(ErrorOf([&] { pdf.GetHasBookmarkChildren(TBookmark{}); }), kInactive);
    TBookmark stale;
    stale.Handle = &stale;  // never handed to the engine: the guard comes first
    EXPECT_EQ(ErrorOf([&] { pdf.GetBookmarkChildren(stale); }), kInactive);

    pdf.LoadDocument(testing_support::SimpleTextPdf({{"x"}}));
    EXPECT_FALSE(pdf.GetHasBookmarkChildren(TBookmark{}));
}

// ---- Records kept past their document --------------------------------------------

const QString kForeignBookmark = QStringLiteral("Bookmark does not belong to the open document");

// A bookmark's handle points into its document's engine memory: kept past the
// close of that document (another one open now) it is refused, never handed to
// the engine, as is one from another component or one made by hand.
TEST_F(Navigation, BookmarkOfAnotherDocumentIsRefused) {
    const TBookmark chapter = Pdf.GetBookmarks()[0];
    ASSERT_TRUE(Pdf.Owns(chapter));

    TBookmark byHand;
    byHand.Handle = chapter.Handle;
    TFPdf other;
    other.LoadDocument(Bytes);
    const TBookmark foreign = other.GetBookmarks()[0];

    const QList<std::pair<const char*, TBookmark>> refused = {{"made by hand", byHand}, {"another component's", foreign}};
    for (const auto& [what, record] : refused) {
        SCOPED_TRACE(what);
        EXPECT_FALSE(Pdf.Owns(record));
        EXPECT_EQ(ErrorOf([&] { Pdf.GetBookmarkChildren(record); }), kForeignBookmark);
        EXPECT_EQ(ErrorOf([&] { Pdf.GetHasBookmarkChildren(record); }), kForeignBookmark);
    }

    // The same document closed and opened again: the old handles are freed.
    Pdf.SetActive(false);
    EXPECT_FALSE(Pdf.Owns(chapter));
    Pdf.LoadDocument(testing_support::SimpleTextPdf({{"Another document"}}));
    EXPECT_EQ(ErrorOf([&] { Pdf.GetBookmarkChildren(chapter); }), kForeignBookmark);
    EXPECT_EQ(ErrorOf([&] { Pdf.GetHasBookmarkChildren(chapter); }), kForeignBookmark);
    Pdf.SetActive(false);
    Pdf.LoadDocument(Bytes);
    EXPECT_FALSE(Pdf.Owns(chapter));
    EXPECT_EQ(ErrorOf([&] { Pdf.GetBookmarkChildren(chapter); }), kForeignBookmark);
    // Fresh records of the reopened document are served as ever.
    EXPECT_EQ(Pdf.GetBookmarkChildren(Pdf.GetBookmarks()[0]).size(), 2);
}

// Links live with their page visit, destinations with their document.
TEST_F(Navigation, LinkAndDestinationRecordsKnowTheirOwner) {
    const TLinkAnnotation link = Pdf.GetLinkAnnotation(0);
    const TDestination destination = Pdf.GetDestinationByName(QStringLiteral("alpha"));
    EXPECT_TRUE(Pdf.Owns(link));
    EXPECT_TRUE(Pdf.Owns(destination));
    EXPECT_FALSE(Pdf.Owns(Pdf.GetDestinationByName(QStringLiteral("no such name"))));

    Pdf.SetPageNumber(2);
    Pdf.SetPageNumber(1);
    EXPECT_FALSE(Pdf.Owns(link));
    EXPECT_TRUE(Pdf.Owns(Pdf.GetLinkAnnotation(0)));
    EXPECT_TRUE(Pdf.Owns(destination));

    Pdf.SetActive(false);
    EXPECT_FALSE(Pdf.Owns(destination));
}

// ---- Link annotations ------------------------------------------------------------

TEST_F(Navigation, LinkAnnotationRecords) {
    ASSERT_EQ(Pdf.GetLinkAnnotationCount(), 6);  // the note is no link

    const TLinkAnnotation own = Pdf.GetLinkAnnotation(0);
    EXPECT_NE(own.Handle, nullptr);
    EXPECT_DOUBLE_EQ(own.Rectangle.Left, 10);
    EXPECT_DOUBLE_EQ(own.Rectangle.Top, 40);
    EXPECT_DOUBLE_EQ(own.Rectangle.Right, 110);
    EXPECT_DOUBLE_EQ(own.Rectangle.Bottom, 20);
    EXPECT_EQ(own.PageNumber, 5);
    EXPECT_EQ(own.Action, TPdfAction::acUnsupported);
    EXPECT_EQ(own.ActionPageNumber, 0);
    EXPECT_TRUE(own.ActionPath.isEmpty());
    EXPECT_TRUE(own.Points.isEmpty());

    const TLinkAnnotation go = Pdf.GetLinkAnnotation(1);
    EXPECT_EQ(go.PageNumber, 3);  // the engine falls back on the go-to action's destination
    EXPECT_EQ(go.Action, TPdfAction::acGoto);
    EXPECT_EQ(go.ActionPageNumber, 3);
    EXPECT_TRUE(go.ActionPath.isEmpty());
    ASSERT_EQ(go.Points.size(), 2);
    const double expected[2][8] = {{10, 70, 110, 70, 10, 50, 110, 50}, {20, 69, 100, 69, 20, 51, 100, 51}};
    for (int q = 0; q < 2; ++q)
        for (int c = 0; c < 4; ++c) {
            EXPECT_DOUBLE_EQ(go.Points[q][c].X, expected[q][2 * c]) << q << "," << c;
            EXPECT_DOUBLE_EQ(go.Points[q][c].Y, expected[q][2 * c + 1]) << q << "," << c;
        }

    const TLinkAnnotation remote = Pdf.GetLinkAnnotation(2);
    EXPECT_EQ(remote.Action, TPdfAction::acGotoRemote);
    EXPECT_EQ(remote.ActionPath, QStringLiteral("other.pdf"));
    EXPECT_EQ(remote.ActionPageNumber, 3);  // page index 2 of the other file

    const TLinkAnnotation launch = Pdf.GetLinkAnnotation(3);
    EXPECT_EQ(launch.Action, TPdfAction::acLaunch);
    EXPECT_EQ(launch.ActionPath, kLaunchPath);  // the engine's UTF-8 decoded

    const TLinkAnnotation uri = Pdf.GetLinkAnnotation(4);
    EXPECT_EQ(uri.Action, TPdfAction::acUri);
    EXPECT_EQ(uri.ActionPath, QStringLiteral("https://example.com/caf\u00e9?q=1"));  // 8-bit, not UTF-8
    EXPECT_DOUBLE_EQ(uri.Rectangle.Bottom, 140);
    EXPECT_EQ(uri.PageNumber, 0);  // no destination of its own
    EXPECT_EQ(uri.ActionPageNumber, 0);

    const TLinkAnnotation named = Pdf.GetLinkAnnotation(5);
    EXPECT_NE(named.Handle, nullptr);
    EXPECT_EQ(named.Action, TPdfAction::acUnsupported);
    EXPECT_TRUE(named.ActionPath.isEmpty());
}

TEST_F(Navigation, LinkAnnotationCacheLivesWithThePage) {
    const TLinkAnnotation first = Pdf.GetLinkAnnotation(0);
    // Remove the first annotation behind the component's back: while the page
    // stays current the links are not read again.
    ASSERT_TRUE(engine::FPDFPage_RemoveAnnot(static_cast<FPDF_PAGE>(Pdf.GetPage()), 0));
    EXPECT_EQ(Pdf.GetLinkAnnotationCount(), 6);
    EXPECT_EQ(Pdf.GetLinkAnnotation(0).Handle, first.Handle);
    EXPECT_EQ(Pdf.GetLinkAnnotation(0).PageNumber, 5);

    // The engine keeps the change in its page; a page visit reads afresh.
    Pdf.SetPageNumber(2);
    EXPECT_EQ(Pdf.GetLinkAnnotationCount(), 0);
    Pdf.SetPageNumber(1);
    EXPECT_EQ(Pdf.GetLinkAnnotationCount(), 5);
    EXPECT_EQ(Pdf.GetLinkAnnotation(0).Action, TPdfAction::acGoto);

    // Reloading the page also drops the cache.
    ASSERT_TRUE(engine::FPDFPage_RemoveAnnot(static_cast<FPDF_PAGE>(Pdf.GetPage()), 0));
    EXPECT_EQ(Pdf.GetLinkAnnotationCount(), 5);
    Pdf.ReloadPage();
    EXPECT_EQ(Pdf.GetLinkAnnotationCount(), 4);
}

// ---- Link records after a change of the page's annotations ---------------------------

namespace {

// Page 1's annotations written straight into its /Annots array, with no
// object of their own (as many producers write them): removing one from the
// array frees its dictionary, which is what a link record's handle points to.
// The last link names its subtype with a string: the engine's link
// enumeration takes it for a link, its annotation subtype reads as unknown.
// Indices 0 to 3: link (bottom 20), note, link (bottom 50), link (bottom 80).
QByteArray DirectLinksPdf() {
    NavigationDocument d(2);
    return d.Build({{"Direct links"}, {"Target"}},
                   "<< /Type /Annot /Subtype /Link /Rect [10 20 110 40] /Dest [" + Ref(d.Page[1]) + " /Fit] >> "
                   "<< /Type /Annot /Subtype /Text /Rect [300 300 320 320] /Contents (note) >> "
                   "<< /Type /Annot /Subtype /Link /Rect [10 50 110 70] /A << /S /URI /URI (https://example.com/a) >> >> "
                   "<< /Type /Annot /Subtype (Link) /Rect [10 80 110 100] /A << /S /URI /URI (https://example.com/b) >> >>",
                   {});
}

// The bottom edges of the current page's links, asked of the engine itself.
QList<double> EngineLinkBottoms(TFPdf& Pdf) {
    QList<double> bottoms;
    int position = 0;
    FPDF_LINK link = nullptr;
    while (engine::FPDFLink_Enumerate(static_cast<FPDF_PAGE>(Pdf.GetPage()), &position, &link)) {
        FS_RECTF rect{};
        engine::FPDFLink_GetAnnotRect(link, &rect);
        bottoms << rect.bottom;
    }
    return bottoms;
}

QList<double> RecordBottoms(const TLinkAnnotations& Links) {
    QList<double> bottoms;
    for (const TLinkAnnotation& link : Links) bottoms << link.Rectangle.Bottom;
    return bottoms;
}

TLinkAnnotations ReadLinks(TFPdf& Pdf) {
    TLinkAnnotations links;
    for (int i = 0; i < Pdf.GetLinkAnnotationCount(); ++i) links << Pdf.GetLinkAnnotation(i);
    return links;
}

TPdfAnnotation NewAnnotation(TPdfAnnotationSubtype Subtype, double Bottom) {
    TPdfAnnotation value;
    value.Subtype = Subtype;
    value.Rectangle = TPdfRectangle{10, Bottom + 20, 110, Bottom};
    return value;
}

}  // namespace

// A change of the page's annotations through the component that can free or
// move a link (any deletion, writing any annotation, creating a link) retires
// the link records read before it: a kept record is no longer owned, so a
// caller who checks before using its handle never reaches freed engine
// memory, and the links are read afresh. A change refused before anything
// was written, or creating an annotation of another subtype, leaves them be.
TEST(NavigationLinkRecords, AnnotationChangesRetireTheLinksReadBefore) {
    struct Case {
        const char* What;
        std::function<void(TFPdf&)> Change;
        QList<double> Bottoms;  // of the page's links afterwards
        bool KeptRecordsOwned;
    };
    const QList<Case> cases = {
        {"deleting a link", [](TFPdf& p) { p.DeleteAnnotation(0); }, {50, 80}, false},
        {"deleting the link of string subtype", [](TFPdf& p) { p.DeleteAnnotation(3); }, {20, 50}, false},
        {"deleting a note", [](TFPdf& p) { p.DeleteAnnotation(1); }, {20, 50, 80}, false},
        {"creating a link", [](TFPdf& p) { p.CreateAnnotation(NewAnnotation(TPdfAnnotationSubtype::anLink, 200)); },
         {20, 50, 80, 200}, false},
        {"writing a link",
         [](TFPdf& p) {
             TPdfAnnotation link = p.GetAnnotation(0);
             link.Rectangle = TPdfRectangle{10, 170, 110, 150};
             p.SetAnnotation(0, link);
         },
         {150, 50, 80}, false},
        {"writing the link of string subtype",
         [](TFPdf& p) { p.SetAnnotation(3, NewAnnotation(TPdfAnnotationSubtype::anUnknown, 250)); }, {20, 50, 250},
         false},
        {"creating a note", [](TFPdf& p) { p.CreateAnnotation(NewAnnotation(TPdfAnnotationSubtype::anText, 400)); },
         {20, 50, 80}, true},
        {"a deletion refused for its index",
         [](TFPdf& p) { EXPECT_EQ(ErrorOf([&] { p.DeleteAnnotation(4); }), kIncorrectIndex); }, {20, 50, 80}, true},
        {"a write refused for its subtype",
         [](TFPdf& p) {
             EXPECT_EQ(ErrorOf([&] { p.SetAnnotation(0, NewAnnotation(TPdfAnnotationSubtype::anText, 150)); }),
                       QStringLiteral("Incorrect annotation subtype"));
         },
         {20, 50, 80}, true},
    };
    const QByteArray bytes = DirectLinksPdf();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.What);
        TFPdf pdf;
        pdf.SetPageNumber(1);
        pdf.LoadDocument(bytes);
        const TLinkAnnotations kept = ReadLinks(pdf);
        ASSERT_EQ(RecordBottoms(kept), QList<double>({20, 50, 80}));

        c.Change(pdf);
        for (const TLinkAnnotation& link : kept) {
            EXPECT_EQ(pdf.Owns(link), c.KeptRecordsOwned);
            // As a caller would: the handle of a record still owned goes to the engine.
            if (pdf.Owns(link)) {
                FS_RECTF rect{};
                EXPECT_TRUE(engine::FPDFLink_GetAnnotRect(static_cast<FPDF_LINK>(link.Handle), &rect));
                EXPECT_FLOAT_EQ(rect.bottom, link.Rectangle.Bottom);
            }
        }
        ASSERT_EQ(EngineLinkBottoms(pdf), c.Bottoms);
        const TLinkAnnotations fresh = ReadLinks(pdf);
        EXPECT_EQ(RecordBottoms(fresh), c.Bottoms);
        for (const TLinkAnnotation& link : fresh) EXPECT_TRUE(pdf.Owns(link));
    }
}

TEST_F(Navigation, LinkAndWebLinkGuards) {
    TFPdf inactive;
    inactive.SetName(QStringLiteral("FPdf1"));
    // The lower bound is checked first, before any document or page check.
    EXPECT_EQ(ErrorOf([&] { inactive.GetLinkAnnotation(-1); }), kIncorrectIndex);
    EXPECT_EQ(ErrorOf([&] { inactive.GetWebLink(-1); }), kIncorrectIndex);
    EXPECT_EQ(ErrorOf([&] { inactive.GetDestination(-1); }), kIncorrectIndex);
    EXPECT_EQ(ErrorOf([&] { inactive.GetLinkAnnotationCount(); }), kInactive);
    EXPECT_EQ(ErrorOf([&] { inactive.GetWebLinkCount(); }), kInactive);
    EXPECT_EQ(ErrorOf([&] { inactive.GetDestination(0); }), kInactive);

    EXPECT_EQ(ErrorOf([&] { Pdf.GetLinkAnnotation(6); }), kIncorrectIndex);
    EXPECT_EQ(ErrorOf([&] { Pdf.GetWebLink(1); }), kIncorrectIndex);
    EXPECT_EQ(ErrorOf([&] { Pdf.GetDestination(3); }), kIncorrectIndex);

    Pdf.SetPageNumber(0);
    EXPECT_EQ(ErrorOf([&] { Pdf.GetLinkAnnotationCount(); }), kInactivePage);
    EXPECT_EQ(ErrorOf([&] { Pdf.GetWebLinkCount(); }), kInactivePage);
}

// ---- Web links ---------------------------------------------------------------------

TEST_F(Navigation, WebLinksFromPageText) {
    EXPECT_EQ(Pdf.GetTextPage(), nullptr);
    ASSERT_EQ(Pdf.GetWebLinkCount(), 1);
    EXPECT_NE(Pdf.GetTextPage(), nullptr);  // opened for the links
    const TWebLink link = Pdf.GetWebLink(0);
    EXPECT_EQ(link.Url, QStringLiteral("https://www.example.org/docs"));
    ASSERT_EQ(link.Rectangles.size(), 1);
    const TPdfRectangle& r = link.Rectangles[0];
    // On the first text line (baseline 720, 12 pt), after "Visit ".
    EXPECT_GT(r.Left, 72);
    EXPECT_LT(r.Left, r.Right);
    EXPECT_GT(r.Top, r.Bottom);
    EXPECT_GT(r.Top, 720);
    EXPECT_LT(r.Bottom, 720);

    // A page change reads afresh: page 2 has none, page 1 has its link again.
    Pdf.SetPageNumber(2);
    EXPECT_EQ(Pdf.GetWebLinkCount(), 0);
    EXPECT_EQ(Pdf.GetWebLinkCount(), 0);
    Pdf.SetPageNumber(1);
    EXPECT_EQ(Pdf.GetWebLink(0).Url, link.Url);
}

// ---- Named destinations --------------------------------------------------------------

TEST_F(Navigation, DestinationsByIndexAndName) {
    ASSERT_EQ(Pdf.GetDestinationCount(), 3);

    const TDestination alpha = Pdf.GetDestination(0);
    EXPECT_NE(alpha.Handle, nullptr);
    EXPECT_EQ(alpha.Name, QStringLiteral("alpha"));
    EXPECT_EQ(alpha.PageNumber, 4);
    EXPECT_TRUE(alpha.HasX);
    EXPECT_FLOAT_EQ(alpha.X, 100);
    EXPECT_TRUE(alpha.HasY);
    EXPECT_FLOAT_EQ(alpha.Y, 200);
    EXPECT_FALSE(alpha.HasZoom);  // a zoom of 0 means "unchanged"
    EXPECT_FLOAT_EQ(alpha.Zoom, 0);

    // Without a position: every flag false, every value 0.
    const TDestination beta = Pdf.GetDestination(1);
    EXPECT_EQ(beta.Name, QStringLiteral("beta"));
    EXPECT_EQ(beta.PageNumber, 2);
    EXPECT_FALSE(beta.HasX || beta.HasY || beta.HasZoom);
    EXPECT_EQ(beta.X + beta.Y + beta.Zoom, 0);

    const TDestination zoom = Pdf.GetDestination(2);
    EXPECT_EQ(zoom.Name, QStringLiteral("zoom"));
    EXPECT_EQ(zoom.PageNumber, 1);
    EXPECT_FALSE(zoom.HasX);
    EXPECT_FLOAT_EQ(zoom.X, 0);
    EXPECT_FALSE(zoom.HasY);
    EXPECT_TRUE(zoom.HasZoom);
    EXPECT_FLOAT_EQ(zoom.Zoom, 1.5f);

    const TDestination byName = Pdf.GetDestinationByName(QStringLiteral("beta"));
    EXPECT_EQ(byName.Handle, beta.Handle);
    EXPECT_EQ(byName.Name, QStringLiteral("beta"));
    EXPECT_EQ(byName.PageNumber, 2);

    const TDestination missing = Pdf.GetDestinationByName(QStringLiteral("gamma"));
    EXPECT_EQ(missing.Handle, nullptr);
    EXPECT_TRUE(missing.Name.isEmpty());
    EXPECT_EQ(missing.PageNumber, 0);
    EXPECT_FALSE(missing.HasX || missing.HasY || missing.HasZoom);
}

TEST(NavigationDestinations, ByNameWithoutDocument) {
    // No check and no engine call: the empty record, even before the engine
    // library has been loaded by any document.
    TFPdf pdf;
    const TDestination d = pdf.GetDestinationByName(QStringLiteral("alpha"));
    EXPECT_EQ(d.Handle, nullptr);
    EXPECT_TRUE(d.Name.isEmpty());
}
