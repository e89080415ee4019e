// Document and page properties: version, permissions, viewer preferences, page
// mode, labels, information entries, tagging, page size, bounds and rotation.
#include <gtest/gtest.h>

#include <QTimeZone>

#include <functional>

#include <kestrune/FPdf.h>
#include "support/PdfBuilder.h"
#include "support/PdfEncryption.h"
#include "support/TestHelpers.h"

using namespace kestrune;
using namespace testing_support;

namespace {

// Three pages with labels "i", "ii", "A-7": the first 300 x 400 turned a
// quarter, with some text; the second with a crop box; the third plain. Every
// information entry, viewer preferences, outline page mode, tagged.
QByteArray PropertiesPdf() {
    PdfBuilder b;
    const int catalog = b.Reserve();
    const int pages = b.Reserve();
    const int font = b.Add("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
    const int text = b.AddStream("<< >>", "BT /F1 12 Tf 20 300 Td (Turned) Tj ET");
    const int page1 = b.Add("<< /Type /Page /Parent " + Ref(pages) + " /MediaBox [0 0 300 400] /Rotate 90" +
                            " /Resources << /Font << /F1 " + Ref(font) + " >> >> /Contents " + Ref(text) + " >>");
    const int page2 = b.Add("<< /Type /Page /Parent " + Ref(pages) +
                            " /MediaBox [0 0 200 300] /CropBox [10 20 110.5 220.25] >>");
    const int page3 = b.Add("<< /Type /Page /Parent " + Ref(pages) + " /MediaBox [0 0 612 792] >>");
    const int info = b.Add("<< /Author (Jane Roe) /Title " + PdfUtf16Hex(QStringLiteral("Gr\u00FC\u00DFe \u2013 \u03A9")) +
                           " /Subject (Quarterly figures) /Keywords (alpha, beta) /Creator (Writer 3)"
                           " /Producer (Kestrune fixtures) /CreationDate (D:20240102030405+01'00')"
                           " /ModDate (D:20250607080910Z) /Department (Accounts) /Empty () >>");
    b.SetPageTree(catalog, pages, {page1, page2, page3},
                  "/PageLabels << /Nums [0 << /S /r >> 2 << /S /D /P (A-) /St 7 >>] >>"
                  " /ViewerPreferences << /PrintScaling /None /NumCopies 3 /Duplex /DuplexFlipLongEdge"
                  " /Direction /R2L /Custom /Caf#E9 >>"
                  " /PageMode /UseOutlines /MarkInfo << /Marked true >>");
    return b.Build(catalog, "/Info " + Ref(info), "1.5");
}

// One page and nothing else; the catalog gets Extra.
QByteArray BarePdf(const QByteArray& Extra = {}, const QByteArray& Version = "1.7") {
    PdfBuilder b;
    const int catalog = b.Reserve();
    const int pages = b.Reserve();
    const int page = b.Add("<< /Type /Page /Parent " + Ref(pages) + " /MediaBox [0 0 100 100] >>");
    b.SetPageTree(catalog, pages, {page}, Extra);
    return b.Build(catalog, {}, Version);
}

// A document encrypted with the standard security handler, revision 2 (40-bit
// RC4), an empty user password, owner password "owner" and permission word P.
// It holds no strings or streams, so nothing else needs encrypting.
QByteArray EncryptedPdf(qint32 P) {
    const StandardSecurity security({}, "owner", P, QByteArray::fromHex("0123456789ABCDEF0123456789ABCDEF"));
    PdfBuilder b;
    const int catalog = b.Reserve();
    const int pages = b.Reserve();
    const int page = b.Add("<< /Type /Page /Parent " + Ref(pages) + " /MediaBox [0 0 100 100] >>");
    const int encrypt = b.Add(security.Dictionary());
    b.SetPageTree(catalog, pages, {page});
    return b.Build(catalog, security.TrailerEntries(encrypt));
}

class Properties : public ::testing::Test {
protected:
    void Open(const QByteArray& Document, int Page = 1) {
        FDocument = Document;
        Pdf.SetPageNumber(Page);
        Pdf.LoadDocument(FDocument, false);
    }
    QByteArray FDocument;
    TFPdf Pdf;
};

}  // namespace

// ---- Tables -----------------------------------------------------------------------

TEST(PropertyTables, Versions) {
    const struct {
        int Engine;
        TPdfVersion Version;
    } cases[] = {{10, TPdfVersion::pv10}, {11, TPdfVersion::pv11}, {12, TPdfVersion::pv12},
                 {13, TPdfVersion::pv13}, {14, TPdfVersion::pv14}, {15, TPdfVersion::pv15},
                 {16, TPdfVersion::pv16}, {17, TPdfVersion::pv17}};
    for (const auto& c : cases) {
        EXPECT_EQ(VersionFromEngine(c.Engine), c.Version) << c.Engine;
        EXPECT_EQ(VersionToEngine(c.Version), c.Engine);
    }
    for (int other : {0, 9, 18, 20, -1, 100}) EXPECT_EQ(VersionFromEngine(other), TPdfVersion::pvUnknown) << other;
    EXPECT_EQ(VersionToEngine(TPdfVersion::pvUnknown), 0);
}

TEST(PropertyTables, PageModes) {
    using enum TPageMode;
    const struct {
        int Engine;
        TPageMode Mode;
    } cases[] = {{-1, pmUnknown}, {0, pmNone},   {1, pmOutline},         {2, pmThumbs}, {3, pmFullScreen},
                 {4, pmOptionalContentGroup}, {5, pmAttachments}, {6, pmUnknown}, {-2, pmUnknown}};
    for (const auto& c : cases) EXPECT_EQ(PageModeFromEngine(c.Engine), c.Mode) << c.Engine;
}

// ---- Document properties ------------------------------------------------------------

TEST_F(Properties, DocumentValues) {
    Open(PropertiesPdf());
    EXPECT_EQ(Pdf.GetPdfVersion(), TPdfVersion::pv15);
    EXPECT_EQ(Pdf.GetPermissions(), 0xFFFFFFFFu);  // not encrypted: everything allowed
    EXPECT_FALSE(Pdf.GetPrintScaling());
    EXPECT_EQ(Pdf.GetPrintCopies(), 3);
    EXPECT_EQ(Pdf.GetPrintPaperHandling(), TPrintPaperHandling::phDuplexFlipLongEdge);
    EXPECT_EQ(Pdf.GetPageMode(), TPageMode::pmOutline);
    EXPECT_TRUE(Pdf.GetIsTagged());
}

TEST_F(Properties, InformationEntries) {
    Open(PropertiesPdf());
    EXPECT_EQ(Pdf.GetAuthor(), QStringLiteral("Jane Roe"));
    EXPECT_EQ(Pdf.GetTitle(), QStringLiteral("Gr\u00FC\u00DFe \u2013 \u03A9"));
    EXPECT_EQ(Pdf.GetSubject(), QStringLiteral("Quarterly figures"));
    EXPECT_EQ(Pdf.GetKeywords(), QStringLiteral("alpha, beta"));
    EXPECT_EQ(Pdf.GetCreator(), QStringLiteral("Writer 3"));
    EXPECT_EQ(Pdf.GetProducer(), QStringLiteral("Kestrune fixtures"));
    EXPECT_EQ(Pdf.GetCreationDate(), QStringLiteral("D:20240102030405+01'00'"));
    EXPECT_EQ(Pdf.GetModifiedDate(), QStringLiteral("D:20250607080910Z"));
    EXPECT_EQ(Pdf.GetMetaText(QStringLiteral("Department")), QStringLiteral("Accounts"));
    EXPECT_EQ(Pdf.GetMetaText(QStringLiteral("Empty")), QString());
    EXPECT_EQ(Pdf.GetMetaText(QStringLiteral("Missing")), QString());
    EXPECT_EQ(Pdf.GetMetaText(QStringLiteral("ModDate")), Pdf.GetModifiedDate());
}

TEST_F(Properties, DatesWithTheirTimeZone) {
    Open(PropertiesPdf());
    const QDateTime created = Pdf.GetCreationDateTime();
    EXPECT_EQ(created.toString(Qt::ISODate), QStringLiteral("2024-01-02T03:04:05+01:00"));
    EXPECT_EQ(created.toUTC(), QDateTime(QDate(2024, 1, 2), QTime(2, 4, 5), Qt::UTC));
    EXPECT_EQ(Pdf.GetModifiedDateTime().toString(Qt::ISODate), QStringLiteral("2025-06-07T08:09:10Z"));
    TFPdf plain;
    plain.LoadDocument(SimpleTextPdf({{"No information"}}));
    EXPECT_FALSE(plain.GetCreationDateTime().isValid());
}

TEST(PdfDates, TheFormAndItsShortenedForms) {
    const struct {
        const char* Text;
        const char* Expected;  // ISO 8601; empty for an invalid result
    } cases[] = {
        {"D:20240102030405+01'00'", "2024-01-02T03:04:05+01:00"},
        {"D:19981223195200-08'00'", "1998-12-23T19:52:00-08:00"},
        {"D:20240102030405+0530", "2024-01-02T03:04:05+05:30"},  // without apostrophes
        {"D:20240102030405-03'", "2024-01-02T03:04:05-03:00"},   // hours only
        {"D:20240102030405Z00'00'", "2024-01-02T03:04:05Z"},
        {"D:20240102030405z", "2024-01-02T03:04:05Z"},
        {"20240102030405Z", "2024-01-02T03:04:05Z"},  // without "D:"
        {"D:2024", "2024-01-01T00:00:00"},            // later parts default, local time
        {"D:202402291230", "2024-02-29T12:30:00"},
        {"D:20230229", ""},  // no such day
        {"D:20241301", ""},
        {"D:20240102250000", ""},
        {"D:20240102030405+24'00'", ""},
        {"D:24", ""},
        {"2024-01-02", ""},
        {"", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Text);
        const QDateTime value = DateTimeFromPdfDate(QString::fromLatin1(c.Text));
        EXPECT_EQ(value.isValid() ? value.toString(Qt::ISODate) : QString(), QString::fromLatin1(c.Expected));
    }
    // Without an offset the time is local.
    EXPECT_EQ(DateTimeFromPdfDate(QStringLiteral("D:2024")).timeSpec(), Qt::LocalTime);
}

TEST_F(Properties, ViewerPreferencesAreLatin1Names) {
    Open(PropertiesPdf());
    EXPECT_EQ(Pdf.GetViewerPreference(QStringLiteral("Direction")), QStringLiteral("R2L"));
    EXPECT_EQ(Pdf.GetViewerPreference(QStringLiteral("Custom")), QStringLiteral("Caf\u00E9"));
    EXPECT_EQ(Pdf.GetViewerPreference(QStringLiteral("Missing")), QString());
}

TEST_F(Properties, PageLabels) {
    Open(PropertiesPdf());
    EXPECT_EQ(Pdf.GetPageLabel(1), QStringLiteral("i"));
    EXPECT_EQ(Pdf.GetPageLabel(2), QStringLiteral("ii"));
    EXPECT_EQ(Pdf.GetPageLabel(3), QStringLiteral("A-7"));
    for (int outside : {0, -1, 4})
        EXPECT_EQ(ErrorOf([&] { Pdf.GetPageLabel(outside); }), QStringLiteral("Incorrect page number")) << outside;
}

TEST_F(Properties, ADocumentWithoutAnyOfThem) {
    Open(BarePdf({}, "2.0"));
    EXPECT_EQ(Pdf.GetPdfVersion(), TPdfVersion::pvUnknown);  // 20 is not in the table
    EXPECT_TRUE(Pdf.GetPrintScaling());
    EXPECT_EQ(Pdf.GetPrintCopies(), 1);
    EXPECT_EQ(Pdf.GetPrintPaperHandling(), TPrintPaperHandling::phUndefined);
    EXPECT_EQ(Pdf.GetPageMode(), TPageMode::pmNone);
    EXPECT_FALSE(Pdf.GetIsTagged());
    EXPECT_EQ(Pdf.GetPageLabel(1), QString());
    EXPECT_EQ(Pdf.GetAuthor(), QString());
    EXPECT_EQ(Pdf.GetModifiedDate(), QString());
    EXPECT_EQ(Pdf.GetViewerPreference(QStringLiteral("Direction")), QString());
}

TEST_F(Properties, PageModesOfDocuments) {
    using enum TPageMode;
    const struct {
        QByteArray Name;
        TPageMode Mode;
    } cases[] = {{"/UseNone", pmNone},  {"/UseOutlines", pmOutline},       {"/UseThumbs", pmThumbs},
                 {"/FullScreen", pmFullScreen}, {"/UseOC", pmOptionalContentGroup},
                 {"/UseAttachments", pmAttachments}, {"/Bogus", pmUnknown}};
    for (const auto& c : cases) {
        TFPdf pdf;
        const QByteArray document = BarePdf("/PageMode " + c.Name);
        pdf.LoadDocument(document);
        EXPECT_EQ(pdf.GetPageMode(), c.Mode) << c.Name.constData();
    }
}

TEST_F(Properties, PermissionWordPassesUnchanged) {
    for (qint32 p : {-3904, -44, -1028}) {
        TFPdf pdf;
        const QByteArray document = EncryptedPdf(p);
        pdf.LoadDocument(document);
        EXPECT_EQ(pdf.GetPermissions(), quint32(p)) << p;
    }
}

TEST_F(Properties, VersionOfADocumentWithoutAFileRaises) {
    Pdf.CreateDocument();
    EXPECT_EQ(ErrorOf([&] { Pdf.GetPdfVersion(); }), QStringLiteral("Cannot retrieve PDF version"));
}

// ---- Page properties --------------------------------------------------------------

TEST_F(Properties, PageSizeBoundsAndRotation) {
    Open(PropertiesPdf());
    EXPECT_EQ(Pdf.GetPageRotation(), TRotation::ro90);
    EXPECT_DOUBLE_EQ(Pdf.GetPageWidth(), 400);  // as shown: turned a quarter
    EXPECT_DOUBLE_EQ(Pdf.GetPageHeight(), 300);
    Pdf.SetPageNumber(2);
    EXPECT_EQ(Pdf.GetPageRotation(), TRotation::ro0);
    EXPECT_DOUBLE_EQ(Pdf.GetPageWidth(), 100.5);
    EXPECT_DOUBLE_EQ(Pdf.GetPageHeight(), 200.25);
    const TPdfRectangle bounds = Pdf.GetPageBounds();
    EXPECT_DOUBLE_EQ(bounds.Left, 10);
    EXPECT_DOUBLE_EQ(bounds.Top, 220.25);
    EXPECT_DOUBLE_EQ(bounds.Right, 110.5);
    EXPECT_DOUBLE_EQ(bounds.Bottom, 20);
}

TEST_F(Properties, SettingTheRotationReloadsThePageOnce) {
    Open(PropertiesPdf());
    ASSERT_EQ(Pdf.Text(), QStringLiteral("Turned"));
    ASSERT_NE(Pdf.GetTextPage(), nullptr);
    int changes = 0;
    Pdf.OnPageChange = [&](QObject* Sender) {
        EXPECT_EQ(Sender, &Pdf);
        ++changes;
    };
    Pdf.SetPageRotation(TRotation::ro180);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(Pdf.GetTextPage(), nullptr);
    EXPECT_EQ(Pdf.GetPageNumber(), 1);
    EXPECT_EQ(Pdf.GetPageRotation(), TRotation::ro180);
    EXPECT_DOUBLE_EQ(Pdf.GetPageWidth(), 300);
    EXPECT_DOUBLE_EQ(Pdf.GetPageHeight(), 400);
    // The change is in the document: it holds when the page is opened again.
    Pdf.SetPageNumber(3);
    Pdf.SetPageNumber(1);
    EXPECT_EQ(Pdf.GetPageRotation(), TRotation::ro180);
    for (TRotation r : {TRotation::ro270, TRotation::ro0, TRotation::ro90}) {
        Pdf.SetPageRotation(r);
        EXPECT_EQ(Pdf.GetPageRotation(), r);
    }
}

TEST_F(Properties, GuardsComeFirst) {
    Pdf.setObjectName(QStringLiteral("FPdf1"));
    const std::function<void()> document[] = {
        [&] { Pdf.GetPdfVersion(); },        [&] { Pdf.GetPermissions(); },
        [&] { Pdf.GetPrintScaling(); },      [&] { Pdf.GetPrintCopies(); },
        [&] { Pdf.GetPrintPaperHandling(); }, [&] { Pdf.GetPageMode(); },
        [&] { Pdf.GetIsTagged(); },          [&] { Pdf.GetPageLabel(0); },
        [&] { Pdf.GetMetaText("Author"); },  [&] { Pdf.GetAuthor(); },
        [&] { Pdf.GetModifiedDate(); },      [&] { Pdf.GetViewerPreference("Direction"); },
    };
    const std::function<void()> page[] = {
        [&] { Pdf.GetPageWidth(); },    [&] { Pdf.GetPageHeight(); },
        [&] { Pdf.GetPageBounds(); },   [&] { Pdf.GetPageRotation(); },
        [&] { Pdf.SetPageRotation(TRotation::ro90); },
    };
    const QString inactive = QStringLiteral("Cannot perform this operation on an inactive FPdf1 component");
    for (const auto& call : document) EXPECT_EQ(ErrorOf(call), inactive);
    for (const auto& call : page) EXPECT_EQ(ErrorOf(call), inactive);
    // With a document but no current page, only the page properties refuse.
    Open(PropertiesPdf(), 0);
    for (const auto& call : page)
        EXPECT_EQ(ErrorOf(call), QStringLiteral("Cannot perform this operation on an inactive page"));
    EXPECT_EQ(Pdf.GetPdfVersion(), TPdfVersion::pv15);
}
