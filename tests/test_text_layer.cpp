// The text layer over scanned pages: known words added to image-only pages
// (turned and cropped ones among them) as invisible text, saved as an update
// after the original bytes, then found by pdftotext, qpdf and the component
// where the images show them.
#include <gtest/gtest.h>

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <cmath>

#include <kestrune/FPdf.h>
#include <kestrune/PageLayout.h>
#include <kestrune/TextLayer.h>
#include "ocr/Recognition.h"
#include "support/PdfBuilder.h"
#include "support/PdfEncryption.h"
#include "support/ProgramRun.h"
#include "support/ScannedPdf.h"
#include "support/TestHelpers.h"

using namespace kestrune;
using namespace testing_support;

// Texts in failure messages as text.
QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& Text, std::ostream* Out) { *Out << '"' << Text.toStdString() << '"'; }
QT_END_NAMESPACE

namespace {

constexpr int kDpi = 100;

// How far a word's box may lie from the word in the image, in points.
constexpr double kPlaceTolerance = 1.5;

struct PlacedWord {
    QString Text;
    QRectF Box;
};

// The words of page Page as a recogniser would give them, from the page's
// born-digital twin: the words the scan shows, with their places.
TPageLayout TwinLayout(const QByteArray& Twin, int Page) {
    TFPdf pdf;
    pdf.LoadDocument(Twin, true);
    pdf.SetPageNumber(Page);
    TPageLayout layout = ReadPageLayout(pdf);
    for (TLayoutBlock& block : layout.Blocks)
        for (TLayoutLine& line : block.Lines)
            for (TLayoutWord& word : line.Words) word = TLayoutWord{word.Text, word.Box, {}, 0, 93};
    return layout;
}

QList<PlacedWord> WordsIn(const TPageLayout& Layout) {
    QList<PlacedWord> words;
    for (const TLayoutBlock& block : Layout.Blocks)
        for (const TLayoutLine& line : block.Lines)
            for (const TLayoutWord& word : line.Words) words.append({word.Text, word.Box});
    return words;
}

QStringList PasswordArguments(const QString& Tool, const QString& Password) {
    if (Password.isEmpty()) return {};
    return Tool == "qpdf" ? QStringList{"--password=" + Password} : QStringList{"-upw", Password};
}

// pdftotext's text of one page, its lines without the empty ones.
QStringList PeerLines(const QString& Path, int Page, const QString& Password = {}) {
    const RunResult r = RunProgram("pdftotext", PasswordArguments("pdftotext", Password) +
                                                    QStringList{"-f", QString::number(Page), "-l",
                                                                QString::number(Page), Path, "-"});
    EXPECT_EQ(r.ExitCode, 0) << r.Err.toStdString();
    QStringList lines = QString::fromUtf8(r.Out).remove(QChar('\f')).split('\n', Qt::SkipEmptyParts);
    for (QString& line : lines) line = line.trimmed();
    lines.removeAll(QString());
    return lines;
}

// pdftotext's words of one page with their boxes (-bbox), moved by Shift.
// pdftotext gives its boxes from the media box's corner, the page as shown
// from the crop box's; for a crop box Margin inside on every side, from any
// turn, the one is Margin below and right of the other.
QList<PlacedWord> PeerWords(const QString& Path, int Page, double Margin = 0) {
    const RunResult r =
        RunProgram("pdftotext", {"-bbox", "-f", QString::number(Page), "-l", QString::number(Page), Path, "-"});
    EXPECT_EQ(r.ExitCode, 0) << r.Err.toStdString();
    static const QRegularExpression word(
        R"re(<word xMin="([-\d.]+)" yMin="([-\d.]+)" xMax="([-\d.]+)" yMax="([-\d.]+)">([^<]*)</word>)re");
    QList<PlacedWord> words;
    for (auto m = word.globalMatch(QString::fromUtf8(r.Out)); m.hasNext();) {
        const auto w = m.next();
        const QRectF box(QPointF(w.captured(1).toDouble(), w.captured(2).toDouble()),
                         QPointF(w.captured(3).toDouble(), w.captured(4).toDouble()));
        words.append({w.captured(5), box.translated(-Margin, -Margin)});
    }
    return words;
}

int QpdfCheck(const QString& Path, const QString& Password = {}) {
    const RunResult r = RunProgram("qpdf", PasswordArguments("qpdf", Password) + QStringList{"--check", Path});
    EXPECT_EQ(r.ExitCode, 0) << r.Out.toStdString() << r.Err.toStdString();
    return r.ExitCode;
}

// Found matches Expected word for word, each box centre within the tolerance.
::testing::AssertionResult SameWordsInPlace(const QList<PlacedWord>& Found, const QList<PlacedWord>& Expected) {
    if (Found.size() != Expected.size())
        return ::testing::AssertionFailure() << Found.size() << " words, " << Expected.size() << " expected";
    for (qsizetype i = 0; i < Found.size(); ++i) {
        const QPointF off = Found[i].Box.center() - Expected[i].Box.center();
        if (Found[i].Text != Expected[i].Text || std::hypot(off.x(), off.y()) > kPlaceTolerance)
            return ::testing::AssertionFailure()
                   << "word " << i << ": \"" << Found[i].Text.toStdString() << "\" centred at "
                   << Found[i].Box.center().x() << ", " << Found[i].Box.center().y() << "; expected \""
                   << Expected[i].Text.toStdString() << "\" at " << Expected[i].Box.center().x() << ", "
                   << Expected[i].Box.center().y();
    }
    return ::testing::AssertionSuccess();
}

// The page rendered small, in grey, as shown.
QImage Shown(TFPdf& Pdf, int Page) {
    Pdf.SetPageNumber(Page);
    const int width = int(std::ceil(Pdf.GetPageWidth() / 2)), height = int(std::ceil(Pdf.GetPageHeight() / 2));
    return Pdf.RenderPage(0, 0, width, height, TRotation::ro0, {TRenderOption::reGrayscale})
        .convertToFormat(QImage::Format_Grayscale8);
}

// The mean difference of two grey images of one size, 0 to 255.
double MeanDifference(const QImage& A, const QImage& B) {
    if (A.size() != B.size()) return 255;
    double sum = 0;
    for (int y = 0; y < A.height(); ++y)
        for (int x = 0; x < A.width(); ++x) sum += std::abs(A.constScanLine(y)[x] - B.constScanLine(y)[x]);
    return sum / (double(A.width()) * A.height());
}

class TextLayer : public ::testing::Test {
protected:
    QString Path(const QString& Name) const { return FDir.filePath(Name); }
    QString Write(const QString& Name, const QByteArray& Bytes) { return WriteFile(Path(Name), Bytes); }
    static QString Font() { return recognition::GlyphlessFontFile(); }

    // Opens Input, adds each page's layout, saves to Output.
    void Layer(const QString& Input, const QList<QPair<int, TPageLayout>>& Pages, const QString& Output,
               const QString& Password = {}) {
        TFPdf pdf;
        pdf.SetFileName(Input);
        pdf.SetPassword(Password);
        pdf.SetActive(true);
        TTextLayer layer(pdf, Font());
        for (const auto& [page, layout] : Pages) layer.AddPage(page, layout);
        layer.Save(Output);
    }

    QTemporaryDir FDir;
};

const QList<QStringList> kPages = {
    {"Born digital page"},      {"Seven ships sailed", "into the harbour"}, {"Turned quarter page", "reads across"},
    {"Cropped margins here"},   {"Other way round", "still upright"},       {"Upside down scan"},
};
// Page 1 stays born-digital; the others are scans: plain, turned a quarter,
// cut from a larger media box away from the origin, turned three quarters
// and cut, turned half and cut.
const QList<PageGeometry> kGeometries = {{}, {}, {90, 0, {}}, {0, 30, {100, 50}}, {270, 12, {-40, 20}}, {180, 20, {}}};
const QList<int> kScanned = {2, 3, 4, 5, 6};

}  // namespace

TEST_F(TextLayer, ScannedPagesGetTheirWordsWhereTheImagesShowThem) {
    const QByteArray twin = ScannedPdf(kPages, {}, 0, kWordsPageSize, kGeometries);
    const QString input = Write("scan.pdf", ScannedPdf(kPages, kScanned, kDpi, kWordsPageSize, kGeometries));
    {
        // The fixture itself: each scan shows its page as the twin does.
        TFPdf scan, born;
        scan.LoadDocument(ReadAll(input), true);
        born.LoadDocument(twin, true);
        for (int page : kScanned) {
            scan.SetPageNumber(page);
            ASSERT_EQ(scan.GetCharacterCount(), 0);
            EXPECT_LT(MeanDifference(Shown(scan, page), Shown(born, page)), 4) << "page " << page;
        }
    }
    QList<QPair<int, TPageLayout>> layouts;
    for (int page : kScanned) layouts.append({page, TwinLayout(twin, page)});
    const QString output = Path("scan.ocr.pdf");
    Layer(input, layouts, output);

    const QByteArray original = ReadAll(input), written = ReadAll(output);
    EXPECT_TRUE(written.startsWith(original)) << "the output does not start with the input's bytes";
    QpdfCheck(output);
    // The born-digital page reads as before.
    EXPECT_EQ(PeerLines(output, 1), PeerLines(input, 1));
    EXPECT_EQ(PeerLines(output, 1), kPages[0]);

    TFPdf before, after;
    before.LoadDocument(original, true);
    after.SetFileName(output);
    after.SetActive(true);
    for (const auto& [page, layout] : layouts) {
        SCOPED_TRACE("page " + std::to_string(page));
        // The lines in reading order, and each word where the image has it:
        // for pdftotext, and for the component.
        EXPECT_EQ(PeerLines(output, page), kPages[page - 1]);
        EXPECT_TRUE(SameWordsInPlace(PeerWords(output, page, kGeometries[page - 1].Margin), WordsIn(layout)));
        after.SetPageNumber(page);
        EXPECT_TRUE(SameWordsInPlace(WordsIn(ReadPageLayout(after)), WordsIn(layout)));
        // Every word is followed by its space, the last of a line too.
        EXPECT_EQ(after.Text(), kPages[page - 1].join(" \r\n") + " ");
        // Invisible: the page looks as it did.
        EXPECT_EQ(Shown(after, page), Shown(before, page));
    }
    const QList<TPdfSearchHit> hits = after.FindAll("harbour");
    ASSERT_EQ(hits.size(), 1);
    EXPECT_EQ(hits[0].PageNumber, 2);
}

// The update holds the font, the new content and the pages that refer to it:
// not the pages' images, which the engine's own incremental save writes again.
TEST_F(TextLayer, TheUpdateHoldsOnlyWhatTheLayerAdds) {
    const QByteArray twin = ScannedPdf(kPages, {}, 0, kWordsPageSize, kGeometries);
    const QString input = Write("scan.pdf", ScannedPdf(kPages, kScanned, 300, kWordsPageSize, kGeometries));
    QList<QPair<int, TPageLayout>> layouts;
    for (int page : kScanned) layouts.append({page, TwinLayout(twin, page)});
    Layer(input, layouts, Path("out.pdf"));

    const QByteArray original = ReadAll(input);
    const QByteArray update = ReadAll(Path("out.pdf")).mid(original.size());
    EXPECT_FALSE(update.contains("/Subtype/Image"));
    // Tesseract's font, given a character map, once; a content stream and a
    // page for each page.
    EXPECT_EQ(update.count("/FontFile2"), 1);
    EXPECT_EQ(update.count("/Type/Page"), kScanned.size());
    EXPECT_LT(update.size(), 8000) << "input " << original.size() << " bytes";
    // The same layer again is the same bytes: the update's identifier comes from what it holds.
    Layer(input, layouts, Path("again.pdf"));
    EXPECT_TRUE(ReadAll(Path("again.pdf")) == ReadAll(Path("out.pdf")));

    // The engine's own incremental save, for comparison, stores every image again.
    TFPdf pdf;
    pdf.SetFileName(input);
    pdf.SetActive(true);
    for (int page : kScanned) pdf.SetPageNumber(page);
    QBuffer engine;
    engine.open(QIODevice::WriteOnly);
    ASSERT_TRUE(pdf.SaveAs(&engine, TSaveOption::saIncremental));
    EXPECT_EQ(engine.data().mid(original.size()).count("/Subtype/Image"), kScanned.size());
}

// Originals the engine's incremental save writes badly or that need more
// care: cross-reference streams, no end of line after %%EOF, encryption (kept:
// the update is encrypted with the document's own key), an update already
// appended.
TEST_F(TextLayer, EveryKindOfOriginalTakesTheUpdate) {
    const QList<QStringList> lines = {{"Seven ships sailed", "into the harbour"}};
    const QByteArray scan = ScannedPdf(lines, {1}, kDpi);
    const TPageLayout layout = TwinLayout(ScannedPdf(lines, {}, 0), 1);
    const QString plain = Write("plain.pdf", scan);
    const auto qpdf = [&](const QString& Name, const QStringList& Arguments) {
        const QString out = Path(Name);
        const RunResult r = RunProgram("qpdf", Arguments + QStringList{plain, out});
        EXPECT_EQ(r.ExitCode, 0) << r.Err.toStdString();
        return out;
    };
    // A first layer (on the same page of a copy) gives an original that ends with an update.
    Layer(plain, {{1, layout}}, Path("layered.pdf"));
    struct Case {
        const char* Name;
        QString Input;
        QString Password;
    };
    const QList<Case> cases = {
        {"object and cross-reference streams", qpdf("streams.pdf", {"--object-streams=generate"}), {}},
        {"no end of line after %%EOF", Write("cut.pdf", scan.chopped(1)), {}},
        {"AES-256, user password", qpdf("aes.pdf", {"--encrypt", "user", "owner", "256", "--"}), "user"},
        {"RC4 40-bit", Write("rc4.pdf", PasswordTextPdf("user", {"Seven"})), "user"},
        {"an update appended", Path("layered.pdf"), {}},
    };
    ASSERT_FALSE(ReadAll(cases[1].Input).endsWith('\n'));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        const QString output = Path(QString(c.Name).replace(' ', '_') + ".ocr.pdf");
        // The RC4 document has text of its own: the layer goes on its page all the same.
        TPageLayout words = layout;
        words.Size = {};
        Layer(c.Input, {{1, words}}, output, c.Password);
        EXPECT_TRUE(ReadAll(output).startsWith(ReadAll(c.Input)));
        QpdfCheck(output, c.Password);
        const QString peer = PeerLines(output, 1, c.Password).join(' ');
        EXPECT_TRUE(peer.contains("Seven ships sailed into the harbour")) << peer.toStdString();

        TFPdf reopened;
        reopened.SetFileName(output);
        if (!c.Password.isEmpty()) {
            EXPECT_EQ(RaisedError([&] { reopened.SetActive(true); }).Kind(), TPdfErrorKind::ekPassword)
                << "the output lost its encryption";
            reopened.SetPassword(c.Password);
        }
        reopened.SetActive(true);
        reopened.SetPageNumber(1);
        EXPECT_EQ(reopened.FindAll("harbour").size(), c.Input == Path("layered.pdf") ? 2 : 1);
    }
}

// Characters the font has no glyph for, words without text or without area,
// a vertical line, and a layout typed by hand without its size.
TEST_F(TextLayer, AnyWordGetsPlaced) {
    const QString input = Write("scan.pdf", ScannedPdf({{"x"}}, {1}, kDpi));
    TPageLayout layout;
    const auto word = [](const QString& Text, const QRectF& Box) {
        TLayoutWord w;
        w.Text = Text;
        w.Box = Box;
        return w;
    };
    const auto line = [](QList<TLayoutWord> Words, TLineDirection Direction = TLineDirection::dlHorizontal) {
        return TLayoutLine{{}, Direction, Words};
    };
    layout.Blocks.append(TLayoutBlock{{},
                                      {line({word("naïve", QRectF(20, 20, 60, 20)),
                                             word("中文", QRectF(90, 20, 40, 20)),
                                             word(QString::fromUtf8("x\xF0\x9F\x98\x80y"), QRectF(140, 20, 30, 20)),
                                             word("", QRectF(180, 20, 10, 20)),
                                             word("I", QRectF(200, 20, 0, 20))}),
                                       line({word("tab\there", QRectF(20, 60, 80, 20))}),
                                       line({word("Down", QRectF(300, 40, 20, 80))}, TLineDirection::dlDown)}});
    Layer(input, {{1, layout}}, Path("out.pdf"));

    TFPdf pdf;
    pdf.SetFileName(Path("out.pdf"));
    pdf.SetActive(true);
    pdf.SetPageNumber(1);
    const QStringList words = WordsOf(pdf.Text());
    EXPECT_EQ(words, (QStringList{"naïve", "中文", "x\uFFFDy", "I", "tab\uFFFDhere", "Down"}));
    const TPageLayout read = ReadPageLayout(pdf);
    const QList<PlacedWord> placed = WordsIn(read);
    ASSERT_EQ(placed.size(), 6);
    EXPECT_NEAR(placed[5].Box.center().x(), 310, kPlaceTolerance);
    EXPECT_NEAR(placed[5].Box.center().y(), 80, kPlaceTolerance);
    // pdftotext too (it sets the word squeezed to no width apart).
    const QStringList peer = PeerLines(Path("out.pdf"), 1);
    ASSERT_FALSE(peer.isEmpty());
    EXPECT_EQ(peer.first(), "naïve 中文 x\uFFFDy");
    QStringList peerWords = WordsOf(peer.join(' ')), expected = words;
    peerWords.sort();
    expected.sort();
    EXPECT_EQ(peerWords, expected);
    QpdfCheck(Path("out.pdf"));
}

TEST_F(TextLayer, RefusalsChangeNothing) {
    const QList<QStringList> lines = {{"Seven ships"}, {"Turned"}};
    const QByteArray scanBytes = ScannedPdf(lines, {1, 2}, kDpi, kWordsPageSize, {{}, {90, 0, {}}});
    const QString scan = Write("scan.pdf", scanBytes);
    const TPageLayout layout = TwinLayout(ScannedPdf(lines, {}, 0), 1);

    // Documents and fonts a layer cannot start on.
    {
        TFPdf created;
        created.CreateDocument();
        EXPECT_TRUE(ErrorOf([&] { TTextLayer(created, Font()); }).contains("created, not opened"));
        TFPdf inactive;
        inactive.setObjectName("Pdf");
        EXPECT_EQ(ErrorOf([&] { TTextLayer(inactive, Font()); }),
                  "Cannot perform this operation on an inactive Pdf component");
        // Offsets that lead nowhere: the engine rebuilds the table to open it.
        QByteArray broken = scanBytes;
        broken.replace("startxref\n", "startxref\n1");
        TFPdf damaged;
        damaged.LoadDocument(broken, true);
        EXPECT_TRUE(ErrorOf([&] { TTextLayer(damaged, Font()); }).contains("cross-reference table is damaged"));
        // A page tree with something else where a page should be: the engine
        // would end the process writing content for any page of it.
        QByteArray strayKid = scanBytes;
        strayKid.replace(strayKid.lastIndexOf("/Type /Page "), 12, "/Type /Tmpl ");
        TFPdf stray;
        stray.LoadDocument(strayKid, true);
        EXPECT_EQ(ErrorOf([&] { TTextLayer(stray, Font()); }),
                  "Cannot add a text layer to this document: its page tree holds something other than a page "
                  "where a page should be");
        // A page tree counting more pages than it holds is no obstacle.
        QByteArray overcounted = scanBytes;
        overcounted.replace("/Count 2", "/Count 3");
        TFPdf counted;
        counted.LoadDocument(overcounted, true);
        TTextLayer(counted, Font()).AddPage(1, layout);
        TFPdf pdf;
        pdf.LoadDocument(scanBytes, true);
        const EPdfError missing = RaisedError([&] { TTextLayer(pdf, Path("none.ttf")); });
        EXPECT_EQ(missing.Kind(), TPdfErrorKind::ekFileNotFound);
        EXPECT_TRUE(missing.Message().contains(Path("none.ttf")));
        EXPECT_EQ(ErrorOf([&] { TTextLayer(pdf, scan); }), "\"" + scan + "\" is not a TrueType font");
    }

    TFPdf pdf;
    pdf.SetFileName(scan);
    pdf.SetActive(true);
    TTextLayer layer(pdf, Font());
    TPageLayout other = layout;
    other.PageNumber = 2;
    // A layout read off the page before its turn was applied.
    TPageLayout unturned = layout;
    unturned.PageNumber = 0;
    unturned.Size.transpose();
    TPageLayout notANumber = layout;
    notANumber.Blocks[0].Lines[0].Words[1].Box.setWidth(std::nan(""));
    struct Case {
        const char* Name;
        int Page;
        TPageLayout Layout;
        QString Message;
    };
    const QList<Case> cases = {
        {"no such page", 3, layout, "Page 3 does not exist; the document has 2 pages"},
        {"page 0", 0, layout, "Page 0 does not exist; the document has 2 pages"},
        {"another page's layout", 1, other, "The layout is of page 2, not of page 1"},
        {"the page unturned", 2, unturned,
         "The layout is of a page of 144.0 x 360.0 points; page 2 is 360.0 x 144.0 points as shown"},
        {"a box that is not a number", 1, notANumber,
         "The box of the word \"ships\" on page 1 is not a number"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ErrorOf([&] { layer.AddPage(c.Page, c.Layout); }), c.Message) << c.Name;
        if (c.Page == 3 || c.Page == 0) {
            EXPECT_EQ(RaisedError([&] { layer.AddPage(c.Page, c.Layout); }).Kind(), TPdfErrorKind::ekPage);
        }
    }
    EXPECT_EQ(layer.PageCount(), 0);
    pdf.SetPageNumber(1);
    EXPECT_EQ(pdf.GetObjectCount(), 1) << "a refused page was changed";

    layer.AddPage(1, layout);
    EXPECT_EQ(ErrorOf([&] { layer.AddPage(1, layout); }), "Page 1 already has a text layer");
    EXPECT_EQ(layer.PageCount(), 1);
    EXPECT_EQ(layer.WordCount(), 2);

    // Outputs that refuse bytes: nothing half written is left in place.
    WriteFile(Path("kept.pdf"), "kept");
    {
        FileSizeLimit full(ReadAll(scan).size() + 100);
        ASSERT_TRUE(full.Ok());
        const EPdfError e = RaisedError([&] { layer.Save(Path("kept.pdf")); });
        EXPECT_EQ(e.Kind(), TPdfErrorKind::ekFileWrite) << e.Message().toStdString();
        EXPECT_EQ(e.FileName(), Path("kept.pdf"));
    }
    EXPECT_EQ(ReadAll(Path("kept.pdf")), "kept");
    EXPECT_EQ(RaisedError([&] { layer.Save(Path("no/such/folder/out.pdf")); }).Kind(), TPdfErrorKind::ekFileWrite);
    QBuffer closed;
    EXPECT_EQ(RaisedError([&] { layer.Save(&closed); }).Kind(), TPdfErrorKind::ekFileWrite);
    // The layer still saves whole afterwards.
    layer.Save(Path("out.pdf"));
    QpdfCheck(Path("out.pdf"));

    // Another document in the same component.
    pdf.SetActive(false);
    pdf.SetActive(true);
    const QString gone = "The document the text layer was started on is no longer open";
    EXPECT_EQ(ErrorOf([&] { layer.AddPage(2, {}); }), gone);
    EXPECT_EQ(ErrorOf([&] { layer.Save(Path("other.pdf")); }), gone);
    EXPECT_FALSE(QFile::exists(Path("other.pdf")));
}

// An earlier layer goes before the new one: in a content stream of its own
// (this layer's), in the scan's own stream beside the image (as Tesseract
// writes it), or in a form of its own. Visible text stays.
TEST_F(TextLayer, AnEarlierLayerIsReplaced) {
    const QList<QStringList> lines = {{"Seven ships sailed", "into the harbour"}};
    const TPageLayout layout = TwinLayout(ScannedPdf(lines, {}, 0), 1);
    TPageLayout earlier = layout;
    earlier.Blocks[0].Lines.removeLast();
    for (TLayoutWord& word : earlier.Blocks[0].Lines[0].Words) word.Text = "old" + word.Text;
    Layer(Write("scan.pdf", ScannedPdf(lines, {1}, kDpi)), {{1, earlier}}, Path("ours.pdf"));

    // A scan whose page also draws its earlier words invisibly, and one visible word.
    const auto recognised = [&](bool InForm) {
        const QImage image = RenderedWords(lines[0], kDpi);
        QByteArray pixels;
        for (int y = 0; y < image.height(); ++y)
            pixels.append(reinterpret_cast<const char*>(image.constScanLine(y)), image.width());
        PdfBuilder b;
        const int catalog = b.Reserve(), pages = b.Reserve();
        const int font = b.Add("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
        const int picture = b.AddStream("<< /Type /XObject /Subtype /Image /Width " +
                                            QByteArray::number(image.width()) + " /Height " +
                                            QByteArray::number(image.height()) +
                                            " /ColorSpace /DeviceGray /BitsPerComponent 8 /Filter /FlateDecode >>",
                                        qCompress(pixels).mid(4));
        const QByteArray words = "BT 3 Tr /F1 24 Tf 18 108 Td (oldSeven oldships) Tj ET";
        const int form = b.AddStream("<< /Type /XObject /Subtype /Form /BBox [0 0 360 144] /Resources << /Font << /F1 " +
                                         Ref(font) + " >> >> >>",
                                     words);
        const int content = b.AddStream("<< >>", "q 360 0 0 144 0 0 cm /Im1 Do Q " +
                                                     (InForm ? QByteArray("q /Fm1 Do Q") : words) +
                                                     " BT 0 Tr /F1 10 Tf 300 6 Td (Visible) Tj ET");
        const int page = b.Add("<< /Type /Page /Parent " + Ref(pages) + " /MediaBox [0 0 360 144] /Resources << "
                               "/Font << /F1 " + Ref(font) + " >> /XObject << /Im1 " + Ref(picture) + " /Fm1 " +
                               Ref(form) + " >> >> /Contents " + Ref(content) + " >>");
        b.SetPageTree(catalog, pages, {page});
        return b.Build(catalog);
    };
    struct Case {
        const char* Name;
        QString Input;
        int Removed;
        QStringList Before;
    };
    const QList<Case> cases = {
        {"this layer's", Path("ours.pdf"), 3, {"oldSeven oldships oldsailed"}},
        {"beside the image", Write("beside.pdf", recognised(false)), 1, {"oldSeven oldships", "Visible"}},
        {"in a form", Write("form.pdf", recognised(true)), 1, {"oldSeven oldships", "Visible"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        ASSERT_EQ(PeerLines(c.Input, 1), c.Before);
        const QStringList visible = c.Before.filter("Visible");
        for (bool lay : {true, false}) {
            const QString output = Path(QString(c.Name).replace(' ', '_') + (lay ? ".new.pdf" : ".none.pdf"));
            {
                TFPdf pdf;
                pdf.SetFileName(c.Input);
                pdf.SetActive(true);
                TTextLayer layer(pdf, Font());
                EXPECT_EQ(layer.RemoveInvisibleText(1), c.Removed);
                EXPECT_EQ(layer.RemoveInvisibleText(1), 0);
                if (lay) layer.AddPage(1, layout);
                EXPECT_EQ(ErrorOf([&] { layer.RemoveInvisibleText(1); }),
                          lay ? "Page 1 already has a text layer" : "");
                layer.Save(output);
            }
            EXPECT_TRUE(ReadAll(output).startsWith(ReadAll(c.Input)));
            QpdfCheck(output);
            EXPECT_EQ(PeerLines(output, 1), (lay ? lines[0] : QStringList()) + visible);
            TFPdf before, after;
            before.SetFileName(c.Input);
            before.SetActive(true);
            after.SetFileName(output);
            after.SetActive(true);
            after.SetPageNumber(1);
            // The engine reads the page's own text first, then the layer appended to it.
            QStringList words = WordsOf(after.Text()), expected = WordsOf(((lay ? lines[0] : QStringList()) + visible).join(' '));
            words.sort();
            expected.sort();
            EXPECT_EQ(words, expected);
            EXPECT_EQ(Shown(after, 1), Shown(before, 1));
        }
    }
}

// A document whose pages got no words is written as it was.
TEST_F(TextLayer, NoWordsNoUpdate) {
    const QString input = Write("scan.pdf", ScannedPdf({{"x"}}, {1}, kDpi));
    TFPdf pdf;
    pdf.SetFileName(input);
    pdf.SetActive(true);
    TTextLayer layer(pdf, Font());
    layer.AddPage(1, {});
    EXPECT_EQ(layer.PageCount(), 0);
    QBuffer out;
    out.open(QIODevice::WriteOnly);
    layer.Save(&out);
    EXPECT_EQ(out.data(), ReadAll(input));
}
