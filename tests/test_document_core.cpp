// The document core on the real engine: opening from every source, walking the
// pages, the page text, the guards, the events and the state after failures.
#include <gtest/gtest.h>
#include <sys/mman.h>

#include <QBuffer>
#include <QPointer>
#include <QProcess>
#include <QTemporaryDir>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include <kestrune/FPdf.h>
#include "support/PdfBuilder.h"
#include "support/TestHelpers.h"

using namespace kestrune;
using namespace testing_support;

namespace {

constexpr int MaxInt = std::numeric_limits<int>::max();
constexpr int MinInt = std::numeric_limits<int>::min();

// Three pages; the second shows no text at all.
QByteArray ThreePages() {
    return SimpleTextPdf({{QStringLiteral("Hello world"), QStringLiteral("Second line")},
                          {},
                          {QStringLiteral("Third page (3)"), QStringLiteral("back\\slash")}});
}

// One page whose font maps its first code, through a ToUnicode CMap, to a
// character beyond U+FFFF (U+1F600, a surrogate pair in UTF-16) and its second
// code to "A".
QByteArray BeyondBmpPdf() {
    PdfBuilder b;
    const int catalog = b.Reserve();
    const int pages = b.Reserve();
    const QByteArray cmap =
        "/CIDInit /ProcSet findresource begin 12 dict begin begincmap\n"
        "/CIDSystemInfo << /Registry (Adobe) /Ordering (UCS) /Supplement 0 >> def\n"
        "/CMapName /Kestrune-UCS def /CMapType 2 def\n"
        "1 begincodespacerange <0000> <FFFF> endcodespacerange\n"
        "2 beginbfchar <0001> <D83DDE00> <0002> <0041> endbfchar\n"
        "endcmap CMapName currentdict /CMap defineresource pop end end";
    const int toUnicode = b.AddStream("<< >>", cmap);
    const int descendant = b.Add(
        "<< /Type /Font /Subtype /CIDFontType2 /BaseFont /KestruneSans /CIDToGIDMap /Identity"
        " /CIDSystemInfo << /Registry (Adobe) /Ordering (Identity) /Supplement 0 >>"
        " /FontDescriptor << /Type /FontDescriptor /FontName /KestruneSans /Flags 32"
        " /FontBBox [0 -200 1000 900] /ItalicAngle 0 /Ascent 900 /Descent -200 /CapHeight 700 /StemV 80 >>"
        " /DW 600 >>");
    const int font = b.Add("<< /Type /Font /Subtype /Type0 /BaseFont /KestruneSans /Encoding /Identity-H"
                           " /DescendantFonts [" + QByteArray::number(descendant) + " 0 R] /ToUnicode " +
                           QByteArray::number(toUnicode) + " 0 R >>");
    const int content = b.AddStream("<< >>", "BT /F1 24 Tf 72 700 Td <00010002> Tj ET");
    b.SetPageTree(catalog, pages, {b.AddTextPage(pages, font, content)});
    return b.Build(catalog);
}

// A one-page document whose catalog carries the given extra entries, and its
// trailer trailerEntries.
QByteArray DocumentWithCatalogEntries(const QByteArray& entries, const QByteArray& trailerEntries = {}) {
    PdfBuilder b;
    const int catalog = b.Reserve();
    const int pages = b.Reserve();
    const int content = b.AddStream("<< >>", "");
    const int page = b.Add("<< /Type /Page /Parent " + Ref(pages) + " /MediaBox [0 0 200 200] /Contents " +
                           Ref(content) + " >>");
    b.SetPageTree(catalog, pages, {page}, entries);
    return b.Build(catalog, trailerEntries);
}

// A one-page document encrypted, by its trailer's /Encrypt dictionary, with a
// security handler that does not exist.
QByteArray UnknownSecurityHandlerPdf() {
    const QByteArray key = "<" + QByteArray(64, '0') + ">";
    return DocumentWithCatalogEntries({}, "/Encrypt << /Filter /KestruneNoSuchHandler /V 1 /R 2 /Length 40 /P -4 /O " +
                                              key + " /U " + key + " >> /ID [<0123456789ABCDEF> <0123456789ABCDEF>]");
}

// Opens from the source under test.
class DocumentCore : public ::testing::Test {
protected:
    QString Write(const QString& name, const QByteArray& bytes) { return WriteFile(FDir.filePath(name), bytes); }

    // An encrypted copy of bytes (user password "user", owner "owner"), made by qpdf.
    QString Encrypted(const QByteArray& bytes) {
        const QString plain = Write(QStringLiteral("plain.pdf"), bytes);
        const QString out = FDir.filePath(QStringLiteral("locked.pdf"));
        QProcess qpdf;
        qpdf.start(QStringLiteral("qpdf"), {QStringLiteral("--encrypt"), QStringLiteral("user"),
                                           QStringLiteral("owner"), QStringLiteral("256"), QStringLiteral("--"),
                                           plain, out});
        if (!qpdf.waitForFinished() || qpdf.exitCode() != 0)
            ADD_FAILURE() << "qpdf failed: " << qpdf.readAllStandardError().toStdString();
        return out;
    }

    QTemporaryDir FDir;
};

}  // namespace

// ---- Opening from each source and walking the pages -------------------------

TEST_F(DocumentCore, FileOpenWalksEveryPageWithTheEnginesText) {
    TFPdf pdf;
    pdf.SetFileName(Write(QStringLiteral("three.pdf"), ThreePages()));
    pdf.SetPageNumber(0);
    pdf.SetActive(true);
    ASSERT_TRUE(pdf.GetActive());
    EXPECT_EQ(pdf.GetPage(), nullptr) << "page number 0 opens no page";
    ASSERT_EQ(pdf.GetPageCount(), 3);
    QStringList texts;
    const int characterCounts[] = {24, 0, 26};
    for (int n = 1; n <= pdf.GetPageCount(); ++n) {
        pdf.SetPageNumber(n);
        texts << pdf.Text(0, MaxInt);
        EXPECT_EQ(pdf.GetCharacterCount(), characterCounts[n - 1]) << "page " << n;
    }
    EXPECT_EQ(texts[0], QStringLiteral("Hello world\r\nSecond line"));
    EXPECT_EQ(texts[1], QString()) << "a page without text";
    EXPECT_EQ(texts[2], QStringLiteral("Third page (3)\r\nback\\slash"));
    pdf.SetActive(false);
    EXPECT_FALSE(pdf.GetActive());
    EXPECT_EQ(pdf.GetDocument(), nullptr);
    EXPECT_EQ(pdf.GetPageNumber(), 3) << "the page number survives the close";
    // Reactivation reopens the same page.
    pdf.SetActive(true);
    ASSERT_NE(pdf.GetPage(), nullptr);
    EXPECT_EQ(pdf.Text(), texts[2]);
}

TEST_F(DocumentCore, EveryMemorySourceOpensTheSameDocument) {
    const QByteArray bytes = ThreePages();
    const QString expected = QStringLiteral("Third page (3)\r\nback\\slash");

    TFPdf pdf;
    pdf.SetPageNumber(3);
    // A pointer and a size; the caller keeps the bytes.
    pdf.LoadDocument(bytes.constData(), int(bytes.size()));
    EXPECT_EQ(pdf.Text(), expected);
    pdf.SetActive(false);

    // A pointer, buffered: the caller may release its copy at once.
    {
        auto copy = std::make_unique<QByteArray>(bytes);
        copy->detach();
        pdf.LoadDocument(copy->constData(), int(copy->size()), true);
        copy->fill('x');
    }
    EXPECT_EQ(pdf.Text(), expected);
    pdf.SetActive(false);

    pdf.LoadDocument(bytes);
    EXPECT_EQ(pdf.GetPageCount(), 3);
    EXPECT_EQ(pdf.Text(), expected);
    pdf.SetActive(false);

    // A buffer whose position is at its end still loads: the whole buffer is used.
    QBuffer buffer;
    buffer.setData(bytes);
    ASSERT_TRUE(buffer.open(QIODevice::ReadOnly));
    ASSERT_TRUE(buffer.seek(bytes.size()));
    pdf.LoadDocument(&buffer, true);
    EXPECT_EQ(pdf.Text(), expected);
    pdf.SetActive(false);
}

// Anonymous memory that costs nothing until touched.
struct SparseMemory {
    explicit SparseMemory(size_t size) : Size(size) {
        void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        Data = p == MAP_FAILED ? nullptr : static_cast<char*>(p);
    }
    ~SparseMemory() {
        if (Data) munmap(Data, Size);
    }
    char* Data;
    size_t Size;
};

TEST_F(DocumentCore, BufferBeyondTwoGigabytesLoadsWhole) {
    // The document's objects sit past the 32-bit range, behind a gap of NULs
    // (white space to the parser): a loader that cut the size to 32 bits would
    // find no cross-reference table.
    const QByteArray pdf = ThreePages();
    const qsizetype header = pdf.indexOf("1 0 obj");
    const qint64 gap = (qint64(1) << 31) + 4096;
    QByteArray tail = pdf.mid(header);
    // Shift every offset of the cross-reference table and startxref by the gap.
    const qsizetype xref = tail.indexOf("xref\n");
    QList<QByteArray> lines = tail.mid(xref).split('\n');
    for (QByteArray& line : lines) {
        if (line.size() == 19 && line.endsWith(" 00000 n "))
            line = QByteArray::number(line.left(10).toLongLong() + gap).rightJustified(10, '0') + " 00000 n ";
    }
    const qsizetype start = lines.indexOf("startxref");
    ASSERT_GT(start, 0);
    lines[start + 1] = QByteArray::number(lines[start + 1].toLongLong() + gap);
    tail = tail.left(xref) + lines.join('\n');

    SparseMemory memory(size_t(header + gap + tail.size()));
    ASSERT_NE(memory.Data, nullptr);
    std::memcpy(memory.Data, pdf.constData(), size_t(header));
    std::memcpy(memory.Data + header + gap, tail.constData(), size_t(tail.size()));
    QBuffer buffer;
    buffer.setData(QByteArray::fromRawData(memory.Data, qsizetype(memory.Size)));
    ASSERT_GT(buffer.size(), std::numeric_limits<int>::max());

    TFPdf doc;
    doc.SetPageNumber(3);
    doc.LoadDocument(&buffer);
    EXPECT_EQ(doc.GetPageCount(), 3);
    EXPECT_EQ(doc.Text(), QStringLiteral("Third page (3)\r\nback\\slash"));
    doc.SetActive(false);
}

TEST_F(DocumentCore, CharacterBeyondTheBasicPlaneComesOutAsTheEngineGivesIt) {
    TFPdf pdf;
    pdf.SetPageNumber(1);
    pdf.LoadDocument(BeyondBmpPdf(), true);
    const QString text = pdf.Text(0, MaxInt);
    EXPECT_EQ(text, QString::fromUcs4(U"\U0001F600A"));
    ASSERT_EQ(text.size(), 3);
    EXPECT_TRUE(text[0].isHighSurrogate());
    EXPECT_TRUE(text[1].isLowSurrogate());
}

TEST_F(DocumentCore, CreateDocumentOpensNoPageAndFiresNoEvent) {
    TFPdf pdf;
    int changes = 0;
    pdf.OnPageChange = [&](QObject* sender) {
        EXPECT_EQ(sender, &pdf);
        ++changes;
    };
    pdf.SetPageNumber(4);
    pdf.CreateDocument();
    EXPECT_TRUE(pdf.GetActive());
    EXPECT_EQ(pdf.GetPageCount(), 0);
    EXPECT_EQ(pdf.GetPage(), nullptr);
    EXPECT_EQ(pdf.GetPageNumber(), 4);
    EXPECT_EQ(changes, 0);
    EXPECT_EQ(ErrorOf([&] { pdf.Text(); }), QStringLiteral("Cannot perform this operation on an inactive page"));
}

TEST_F(DocumentCore, OnPageChangeFiresTwiceOnActivationAndOnceOnLoadDocument) {
    const QByteArray bytes = ThreePages();
    TFPdf pdf;
    int changes = 0;
    pdf.OnPageChange = [&](QObject*) { ++changes; };
    pdf.SetFileName(Write(QStringLiteral("a.pdf"), bytes));
    pdf.SetPageNumber(1);
    pdf.SetActive(true);
    EXPECT_EQ(changes, 2);
    pdf.SetPageNumber(1);  // the same number: nothing happens
    EXPECT_EQ(changes, 2);
    pdf.SetPageNumber(2);
    EXPECT_EQ(changes, 3);
    pdf.ReloadPage();
    EXPECT_EQ(changes, 4);
    // Page number 0 closes the page and still reports the change.
    (void)pdf.Text();
    pdf.SetPageNumber(0);
    EXPECT_EQ(changes, 5);
    EXPECT_EQ(pdf.GetPage(), nullptr);
    EXPECT_EQ(pdf.GetTextPage(), nullptr);
    pdf.SetActive(false);
    EXPECT_EQ(changes, 5) << "closing reports no change";

    changes = 0;
    pdf.LoadDocument(bytes);
    EXPECT_EQ(changes, 1);
}

TEST_F(DocumentCore, PageChangesRunUnderTheFloatingPointMask) {
    auto readMxcsr = [] {
        std::uint32_t v;
        asm volatile("stmxcsr %0" : "=m"(v));
        return v;
    };
    constexpr std::uint32_t kSseMasks = 0x3F << 7, kZeroDivide = 0x04 << 7;
    const std::uint32_t before = readMxcsr();
    std::uint32_t unmasked = before & ~kZeroDivide;
    asm volatile("ldmxcsr %0" : : "m"(unmasked));

    TFPdf pdf;
    std::uint32_t during = 0;
    pdf.OnPageChange = [&](QObject*) { during = readMxcsr(); };
    pdf.SetPageNumber(1);
    pdf.LoadDocument(ThreePages());
    EXPECT_EQ(during & kSseMasks, kSseMasks) << "the event runs under the mask";
    EXPECT_EQ(readMxcsr() & kSseMasks, unmasked & kSseMasks) << "and the caller's mask returns";
    // Also when the page fails to load.
    EXPECT_THROW(pdf.SetPageNumber(7), EPdfError);
    EXPECT_EQ(readMxcsr() & kSseMasks, unmasked & kSseMasks);
    asm volatile("ldmxcsr %0" : : "m"(before));
}

TEST_F(DocumentCore, TheOwnerDestroysTheComponentWithItsDocument) {
    auto owner = std::make_unique<QObject>();
    QPointer<TFPdf> pdf = new TFPdf(owner.get());
    EXPECT_EQ(pdf->Owner(), owner.get());
    pdf->SetPageNumber(1);
    pdf->LoadDocument(ThreePages(), true);
    (void)pdf->Text();
    owner.reset();
    EXPECT_TRUE(pdf.isNull());
}

// ---- Text ranges ------------------------------------------------------------

TEST_F(DocumentCore, TextRangesNeverOverflowAndMatchTheEngine) {
    TFPdf pdf;
    pdf.SetPageNumber(1);
    pdf.LoadDocument(ThreePages(), true);
    const QString whole = QStringLiteral("Hello world\r\nSecond line");
    ASSERT_EQ(pdf.Text(0, MaxInt), whole);
    const int n = pdf.GetCharacterCount();
    ASSERT_EQ(n, whole.size());

    const struct {
        int Start, Count;
        QString Expected;
    } cases[] = {
        {5, MaxInt, whole.mid(5)},
        {6, 5, QStringLiteral("world")},
        {n - 4, MaxInt, QStringLiteral("line")},
        {n - 4, 100, QStringLiteral("line")},
        {0, 0, {}},
        {0, -1, {}},
        {0, MinInt, {}},
        {n, 5, {}},
        {n, MaxInt, {}},
        {MaxInt, MaxInt, {}},
        {MaxInt, MinInt, {}},
        {-1, 5, {}},  // the engine gives nothing for a negative start
        {MinInt, MaxInt, {}},
        {MinInt, MinInt, {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(pdf.Text(c.Start, c.Count), c.Expected) << "Text(" << c.Start << ", " << c.Count << ")";
}

// ---- Guards -----------------------------------------------------------------

TEST_F(DocumentCore, GuardsNameTheComponentOrLeaveTwoBlanks) {
    for (const QString& name : {QStringLiteral("FPdf1"), QString()}) {
        TFPdf pdf;
        pdf.SetName(name);
        const QString inactive = QStringLiteral("Cannot perform this operation on an inactive ") + name +
                                 QStringLiteral(" component");
        const QString active =
            QStringLiteral("Cannot perform this operation on an active ") + name + QStringLiteral(" component");
        // Inactive: the inactive-component message comes before the page's.
        EXPECT_EQ(ErrorOf([&] { pdf.GetPageCount(); }), inactive);
        EXPECT_EQ(ErrorOf([&] { pdf.Text(); }), inactive);
        EXPECT_EQ(ErrorOf([&] { pdf.GetCharacterCount(); }), inactive);
        EXPECT_EQ(ErrorOf([&] { pdf.ReloadPage(); }), inactive);
        pdf.SetActive(false);  // no change but the stored value
        pdf.CreateDocument();
        EXPECT_EQ(ErrorOf([&] { pdf.SetFileName(QStringLiteral("x.pdf")); }), active);
        EXPECT_EQ(ErrorOf([&] { pdf.SetPassword(QStringLiteral("x")); }), active);
        EXPECT_EQ(ErrorOf([&] { pdf.SetFormFill(false); }), active);
        EXPECT_EQ(ErrorOf([&] { pdf.CreateDocument(); }), active);
        EXPECT_EQ(ErrorOf([&] { pdf.LoadDocument(ThreePages()); }), active);
        EXPECT_EQ(ErrorOf([&] { pdf.Text(); }), QStringLiteral("Cannot perform this operation on an inactive page"));
        EXPECT_TRUE(pdf.GetFileName().isEmpty());
        EXPECT_TRUE(pdf.GetFormFill());
    }
    TFPdf pdf;
    pdf.SetName(QStringLiteral("FPdf1"));
    const QString message = ErrorOf([&] { pdf.SetActive(true); });
    EXPECT_FALSE(message.isEmpty()) << "the load must fail";
    EXPECT_FALSE(message.contains(QStringLiteral("FPdf1")))
        << "a load failure carries the engine's text, not a guard's";
}

TEST_F(DocumentCore, AboutNamesTheVersionAndIgnoresWrites) {
    TFPdf pdf;
    const QString about = pdf.GetAbout();
    EXPECT_TRUE(about.contains(QStringLiteral("6.5")));
    pdf.SetAbout(QStringLiteral("something else"));
    EXPECT_EQ(pdf.GetAbout(), about);
}

// ---- Failures and the state they leave --------------------------------------

TEST_F(DocumentCore, LoadFailuresCarryTheEnginesTextAndLeaveNothingOpen) {
    const QString locked = Encrypted(ThreePages());
    const struct {
        QString File, Password, Expected;
        TPdfErrorKind Kind;
    } cases[] = {
        {FDir.filePath(QStringLiteral("missing.pdf")), {}, QStringLiteral("File not found or could not be opened"),
         TPdfErrorKind::ekFileNotFound},
        {Write(QStringLiteral("damaged.pdf"), "%PDF-1.7\nthis is not a PDF file at all\n"), {},
         QStringLiteral("File not in PDF format or corrupted"), TPdfErrorKind::ekNotPdf},
        {locked, {}, QStringLiteral("Password required or incorrect password"), TPdfErrorKind::ekPassword},
        {locked, QStringLiteral("wrong"), QStringLiteral("Password required or incorrect password"),
         TPdfErrorKind::ekPassword},
        {Write(QStringLiteral("unknown-handler.pdf"), UnknownSecurityHandlerPdf()), {},
         QStringLiteral("Unsupported security scheme"), TPdfErrorKind::ekSecurity},
    };
    for (const auto& c : cases) {
        TFPdf pdf;
        int changes = 0;
        pdf.OnPageChange = [&](QObject*) { ++changes; };
        pdf.SetPageNumber(1);
        pdf.SetFileName(c.File);
        pdf.SetPassword(c.Password);
        const EPdfError error = RaisedError([&] { pdf.SetActive(true); });
        EXPECT_EQ(error.Message(), c.Expected) << c.File.toStdString();
        EXPECT_EQ(error.Kind(), c.Kind) << c.File.toStdString();
        EXPECT_EQ(error.FileName(), c.File);
        EXPECT_FALSE(pdf.GetActive());
        EXPECT_EQ(pdf.GetDocument(), nullptr);
        EXPECT_EQ(pdf.GetFormHandle(), nullptr);
        EXPECT_EQ(changes, 0);
        // Still inactive, so the file name may change; the same holds for memory.
        pdf.SetFileName(QString());
        QFile file(c.File);
        if (file.open(QIODevice::ReadOnly)) {
            const QByteArray bytes = file.readAll();
            pdf.SetPassword(c.Password);
            const EPdfError fromMemory = RaisedError([&] { pdf.LoadDocument(bytes); });
            EXPECT_EQ(fromMemory.Message(), c.Expected);
            EXPECT_EQ(fromMemory.Kind(), c.Kind);
            EXPECT_TRUE(fromMemory.FileName().isEmpty()) << "a document in memory has no file name";
            EXPECT_FALSE(pdf.GetActive());
        }
    }
    // The right password opens it.
    TFPdf pdf;
    pdf.SetFileName(locked);
    pdf.SetPassword(QStringLiteral("user"));
    pdf.SetPageNumber(1);
    pdf.SetActive(true);
    EXPECT_EQ(pdf.Text(), QStringLiteral("Hello world\r\nSecond line"));
}

TEST_F(DocumentCore, EmptyOrNegativeMemoryBlocksFailCleanly) {
    const QByteArray bytes = ThreePages();
    TFPdf pdf;
    for (bool buffered : {false, true}) {
        for (int size : {0, -1, MinInt}) {
            EXPECT_EQ(ErrorOf([&] { pdf.LoadDocument(bytes.constData(), size, buffered); }),
                      QStringLiteral("File not in PDF format or corrupted"));
            EXPECT_FALSE(pdf.GetActive());
        }
    }
    EXPECT_EQ(ErrorOf([&] { pdf.LoadDocument(static_cast<QBuffer*>(nullptr)); }),
              QStringLiteral("File not in PDF format or corrupted"));
}

TEST_F(DocumentCore, PagePastTheEndKeepsItsNumberWithNoPageEvenAfterAFailedLoad) {
    // A failed load leaves the engine's last-error code at "password"; the page
    // failure that follows must still say which page could not be opened.
    TFPdf locked;
    locked.SetFileName(Encrypted(ThreePages()));
    EXPECT_EQ(ErrorOf([&] { locked.SetActive(true); }), QStringLiteral("Password required or incorrect password"));

    TFPdf pdf;
    int changes = 0;
    pdf.SetPageNumber(1);
    pdf.LoadDocument(ThreePages());
    pdf.OnPageChange = [&](QObject*) { ++changes; };
    (void)pdf.Text();
    const EPdfError page = RaisedError([&] { pdf.SetPageNumber(9); });
    EXPECT_EQ(page.Message(), QStringLiteral("Cannot open page 9"));
    EXPECT_EQ(page.Kind(), TPdfErrorKind::ekPage);
    EXPECT_EQ(pdf.GetPageNumber(), 9);
    EXPECT_EQ(pdf.GetPage(), nullptr);
    EXPECT_EQ(pdf.GetTextPage(), nullptr);
    EXPECT_EQ(changes, 0);
    EXPECT_TRUE(pdf.GetActive()) << "the document stays open";
    pdf.SetPageNumber(9);  // the same number again does nothing, even with no page open
    EXPECT_EQ(ErrorOf([&] { pdf.ReloadPage(); }), QStringLiteral("Cannot open page 9"));
    EXPECT_EQ(ErrorOf([&] { pdf.SetPageNumber(-2); }), QStringLiteral("Cannot open page -2"));
    EXPECT_EQ(ErrorOf([&] { pdf.SetPageNumber(MinInt); }), QStringLiteral("Cannot open page ") + QString::number(MinInt));
    pdf.SetPageNumber(3);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(pdf.Text(), QStringLiteral("Third page (3)\r\nback\\slash"));

    // Activation onto a missing page: the document stays open without a page,
    // and FActive keeps its old value.
    TFPdf other;
    other.SetFileName(Write(QStringLiteral("b.pdf"), ThreePages()));
    other.SetPageNumber(4);
    EXPECT_EQ(ErrorOf([&] { other.SetActive(true); }), QStringLiteral("Cannot open page 4"));
    EXPECT_TRUE(other.GetActive());
    EXPECT_EQ(other.GetPage(), nullptr);
    other.SetActive(false);
    EXPECT_FALSE(other.GetActive());
}

TEST_F(DocumentCore, RawHandlesNeverRaiseAndTheTextPageOpensOnDemand) {
    TFPdf pdf;
    EXPECT_EQ(pdf.GetDocument(), nullptr);
    EXPECT_EQ(pdf.GetPage(), nullptr);
    EXPECT_EQ(pdf.GetTextPage(), nullptr);
    EXPECT_EQ(pdf.GetFind(), nullptr);
    EXPECT_EQ(pdf.GetFormHandle(), nullptr);
    pdf.SetPageNumber(1);
    pdf.LoadDocument(ThreePages());
    EXPECT_NE(pdf.GetPage(), nullptr);
    EXPECT_EQ(pdf.GetTextPage(), nullptr);
    (void)pdf.GetCharacterCount();
    EXPECT_NE(pdf.GetTextPage(), nullptr);
    pdf.SetPageNumber(2);
    EXPECT_EQ(pdf.GetTextPage(), nullptr) << "a page change closes the text page";
}

// ---- Stored form and designer ------------------------------------------------

TEST_F(DocumentCore, StoredActiveOpensWhenLoadingEnds) {
    TFPdf pdf;
    int changes = 0;
    pdf.OnPageChange = [&](QObject*) { ++changes; };
    pdf.BeginLoading();
    pdf.SetFileName(Write(QStringLiteral("stored.pdf"), ThreePages()));
    pdf.SetPageNumber(3);
    pdf.SetActive(true);
    EXPECT_FALSE(pdf.GetActive()) << "nothing opens while the stored form is read";
    EXPECT_EQ(pdf.GetDocument(), nullptr);
    EXPECT_EQ(changes, 0);
    pdf.EndLoading();
    EXPECT_FALSE(pdf.ComponentState().Contains(TComponentStateFlag::csLoading));
    ASSERT_TRUE(pdf.GetActive());
    EXPECT_EQ(changes, 2);
    EXPECT_EQ(pdf.Text(), QStringLiteral("Third page (3)\r\nback\\slash"));
}

TEST_F(DocumentCore, StoredInactiveStaysClosedWhenLoadingEnds) {
    TFPdf pdf;
    pdf.BeginLoading();
    pdf.SetFileName(FDir.filePath(QStringLiteral("not-there.pdf")));
    pdf.EndLoading();
    EXPECT_FALSE(pdf.GetActive());
}

TEST_F(DocumentCore, DesignerStoresValuesAndOpensNothing) {
    TFPdf pdf;
    pdf.SetName(QStringLiteral("FPdf1"));
    pdf.SetDesigning(true);
    int changes = 0;
    pdf.OnPageChange = [&](QObject*) { ++changes; };
    pdf.SetFileName(Write(QStringLiteral("d.pdf"), ThreePages()));
    pdf.SetActive(true);
    EXPECT_TRUE(pdf.GetActive()) << "at design time Active reads the stored value";
    EXPECT_EQ(pdf.GetDocument(), nullptr);
    // The component guards are off: these may change while "active".
    pdf.SetFileName(QStringLiteral("other.pdf"));
    pdf.SetPassword(QStringLiteral("pw"));
    pdf.SetFormFill(false);
    pdf.SetPageNumber(2);
    EXPECT_EQ(pdf.GetPageNumber(), 2);
    EXPECT_EQ(pdf.GetDocument(), nullptr);
    EXPECT_EQ(changes, 0);
    // The page guard still holds for want of a page.
    EXPECT_EQ(ErrorOf([&] { pdf.Text(); }), QStringLiteral("Cannot perform this operation on an inactive page"));
    // Called directly, these ask the engine for nothing without a document:
    // what needs the document finds none.
    const QString inactive = QStringLiteral("Cannot perform this operation on an inactive FPdf1 component");
    EXPECT_EQ(ErrorOf([&] { pdf.ReloadPage(); }), inactive);
    EXPECT_EQ(pdf.GetPage(), nullptr);
    EXPECT_EQ(ErrorOf([&] { pdf.GetPageCount(); }), inactive);
    EXPECT_EQ(ErrorOf([&] { pdf.GetFormType(); }), inactive);
    EXPECT_EQ(ErrorOf([&] { pdf.GetSignatureCount(); }), inactive);
    EXPECT_EQ(ErrorOf([&] { pdf.GetBookmarks(); }), inactive);
}

// ---- Unsupported features -----------------------------------------------------

TEST_F(DocumentCore, UnsupportedFeaturesAreReportedToTheRegisteredInstance) {
    const struct {
        QByteArray CatalogEntries;
        TPdfFeature Expected;
    } cases[] = {
        {"/AcroForm << /Fields [] /XFA [(template) 9 0 R] >>", TPdfFeature::feXfaForm},
        {"/Collection << /Type /Collection >>", TPdfFeature::fePortableCollection},
    };
    for (const auto& c : cases) {
        TFPdf pdf;
        QList<TPdfFeature> reports;
        pdf.OnUnsupportedFeature = [&](QObject* sender, TPdfFeature feature) {
            EXPECT_EQ(sender, &pdf);
            reports << feature;
        };
        pdf.LoadDocument(DocumentWithCatalogEntries(c.CatalogEntries), true);
        EXPECT_TRUE(reports.contains(c.Expected)) << c.CatalogEntries.toStdString();
    }
    // An ordinary document reports nothing.
    TFPdf plain;
    int count = 0;
    plain.OnUnsupportedFeature = [&](QObject*, TPdfFeature) { ++count; };
    plain.LoadDocument(ThreePages());
    EXPECT_EQ(count, 0);
}

TEST_F(DocumentCore, ADestroyedInstanceGetsNoReports) {
    int reportsToGone = 0;
    auto* gone = new TFPdf;
    gone->OnUnsupportedFeature = [&](QObject*, TPdfFeature) { ++reportsToGone; };
    gone->CreateDocument();  // registers it
    delete gone;
    // A later instance without the event does not register, so the process-wide
    // record would still name the destroyed one.
    TFPdf later;
    later.LoadDocument(DocumentWithCatalogEntries("/AcroForm << /Fields [] /XFA [(template) 9 0 R] >>"), true);
    EXPECT_EQ(reportsToGone, 0);
}

TEST(PdfFeature, EngineCodesMapToFeatures) {
    const struct {
        int Code;
        TPdfFeature Feature;
    } cases[] = {
        {1, TPdfFeature::feXfaForm},           {2, TPdfFeature::fePortableCollection},
        {8, TPdfFeature::feSharedFormEmail},   {11, TPdfFeature::fe3dAnnotation},
        {17, TPdfFeature::feSignatureAnnotation}, {0, TPdfFeature::feUnknown},
        {9, TPdfFeature::feUnknown},           {10, TPdfFeature::feUnknown},
        {18, TPdfFeature::feUnknown},          {-1, TPdfFeature::feUnknown},
    };
    for (const auto& c : cases) EXPECT_EQ(PdfFeatureFromEngine(c.Code), c.Feature) << "code " << c.Code;
}

// ---- Entries this engine build lacks, supplied by the project ----------------

TEST_F(DocumentCore, SuppliedTextEntriesFollowTheEnginesCharacters) {
    PdfBuilder b;
    const int catalog = b.Reserve();
    const int pages = b.Reserve();
    const int font = b.Add("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>");
    const int content = b.AddStream("<< >>", "BT /F1 12 Tf 72 720 Td (Hi) Tj 0 -14 Td 3 Tr (X) Tj ET");
    b.SetPageTree(catalog, pages, {b.AddTextPage(pages, font, content)});

    TFPdf pdf;
    pdf.SetPageNumber(1);
    pdf.LoadDocument(b.Build(catalog), true);
    // The engine puts a generated separator between "Hi" and "X".
    const QString whole = pdf.Text();
    ASSERT_TRUE(whole.startsWith(QStringLiteral("Hi")) && whole.endsWith(u'X')) << whole.toStdString();
    const int x = int(whole.size()) - 1;
    auto text = static_cast<FPDF_TEXTPAGE>(pdf.GetTextPage());
    ASSERT_EQ(engine::FPDFText_IsGenerated(text, 2), 1);
    EXPECT_EQ(engine::FPDFText_GetCharcode(text, 0), unsigned('H'));
    EXPECT_EQ(engine::FPDFText_GetCharcode(text, 1), unsigned('i'));
    EXPECT_EQ(engine::FPDFText_GetCharcode(text, 2), 0u) << "a generated character has no code";
    EXPECT_EQ(engine::FPDFText_GetCharcode(text, x), unsigned('X'));
    EXPECT_EQ(engine::FPDFText_GetTextRenderMode(text, 0), 0) << "fill";
    EXPECT_EQ(engine::FPDFText_GetTextRenderMode(text, x), 3) << "invisible";
    EXPECT_EQ(engine::FPDFText_GetTextRenderMode(text, 99), -1);

    FPDF_PAGEOBJECT object = engine::FPDFPage_GetObject(static_cast<FPDF_PAGE>(pdf.GetPage()), 0);
    FPDF_FONT pageFont = engine::FPDFTextObj_GetFont(object);
    const unsigned long size = engine::FPDFFont_GetFontName(pageFont, nullptr, 0);
    ASSERT_EQ(size, sizeof("Helvetica"));
    QByteArray name(qsizetype(size), 'x');
    EXPECT_EQ(engine::FPDFFont_GetFontName(pageFont, name.data(), 3), size) << "too short: untouched";
    EXPECT_EQ(name, QByteArray(qsizetype(size), 'x'));
    engine::FPDFFont_GetFontName(pageFont, name.data(), size);
    EXPECT_EQ(name, QByteArray("Helvetica", qsizetype(size)));
    EXPECT_EQ(engine::FPDF_XFA(), 0);
}
