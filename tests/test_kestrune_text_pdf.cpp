// kestrune-text --format pdf: the built program, with real Tesseract in its
// workers, writing searchable copies of scanned documents; the copies read by
// pdftotext, qpdf and the component.
#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <csignal>
#include <unistd.h>

#include <kestrune/FPdf.h>
#include "convert/PdfOutput.h"
#include "convert/TextOutput.h"
#include "convert/WorkerPool.h"
#include "convert/WorkerProcesses.h"
#include "ocr/Recognition.h"
#include "support/PdfBuilder.h"
#include "support/ProgramRun.h"
#include "support/ScannedPdf.h"
#include "support/TestHelpers.h"

using namespace kestrune;
using namespace testing_support;

namespace {

const QList<QStringList> kPages = {
    {"Born digital page"},
    {"Seven ships sailed", "into the harbour"},
    {"Turned quarter page", "reads across"},
    {"Cropped margins here"},
};
// Page 1 has text; the others are scans: plain, turned by /Rotate, cut from a larger media box.
const QList<PageGeometry> kGeometries = {{}, {}, {90, 0, {}}, {0, 30, {100, 50}}};
const QList<int> kScanned = {2, 3, 4};
constexpr int kDpi = 200;

class KestruneTextPdf : public testing::Test {
protected:
    QString Path(const QString& Name) const { return FDir.filePath(Name); }
    QString Write(const QString& Name, const QByteArray& Bytes) { return WriteFile(Path(Name), Bytes); }

    RunResult Run(const QStringList& Arguments) {
        return RunProgram(QStringLiteral(KESTRUNE_TEXT_PROGRAM), Arguments, {.WorkingDirectory = FDir.path()});
    }

    // The files in the test's folder.
    QStringList Files() const { return QDir(FDir.path()).entryList(QDir::Files, QDir::Name); }

    // pdftotext's text of one page.
    static QString PeerText(const QString& File, int Page, const QString& Password = {}) {
        QStringList arguments = {"-f", QString::number(Page), "-l", QString::number(Page), File, "-"};
        if (!Password.isEmpty()) arguments = QStringList{"-upw", Password} + arguments;
        const RunResult r = RunProgram("pdftotext", arguments);
        EXPECT_EQ(r.ExitCode, 0) << r.Err.toStdString();
        return QString::fromUtf8(r.Out);
    }

    static void ExpectQpdfCheck(const QString& File, const QString& Password = {}) {
        QStringList arguments = {"--check", File};
        if (!Password.isEmpty()) arguments.prepend("--password=" + Password);
        const RunResult r = RunProgram("qpdf", arguments);
        EXPECT_EQ(r.ExitCode, 0) << r.Out.toStdString() << r.Err.toStdString();
    }

    QTemporaryDir FDir;
};

}  // namespace

// Each scanned page gets its words where its image shows them, the page with
// text stays as it was, and the copy is the input followed by an update:
// the same bytes from one worker or two.
TEST_F(KestruneTextPdf, ScannedPagesBecomeSearchable) {
    const QString input = Write("scan.pdf", ScannedPdf(kPages, kScanned, kDpi, kWordsPageSize, kGeometries));
    const RunResult one = Run({"--format", "pdf", "-j", "1", "--report", "r.jsonl", input});
    ASSERT_EQ(one.ExitCode, 0) << one.Err.toStdString();
    const QString output = Path("scan.ocr.pdf");
    const QByteArray copy = ReadAll(output);
    EXPECT_TRUE(copy.startsWith(ReadAll(input))) << "the copy does not start with the input's bytes";
    EXPECT_GT(copy.size(), ReadAll(input).size());
    ExpectQpdfCheck(output);

    EXPECT_EQ(PeerText(output, 1), PeerText(input, 1));
    TFPdf pdf;
    pdf.SetFileName(output);
    pdf.SetActive(true);
    for (const int page : kScanned) {
        SCOPED_TRACE("page " + std::to_string(page));
        EXPECT_TRUE(PeerText(input, page).trimmed().isEmpty());
        EXPECT_GE(KnownWordsFound(PeerText(output, page), kPages[page - 1]), 0.75) << PeerText(output, page).toStdString();
        pdf.SetPageNumber(page);
        EXPECT_GE(KnownWordsFound(pdf.Text(), kPages[page - 1]), 0.75) << pdf.Text().toStdString();
    }
    const QList<TPdfSearchHit> hits = pdf.FindAll("harbour");
    ASSERT_EQ(hits.size(), 1);
    EXPECT_EQ(hits[0].PageNumber, 2);

    const QJsonObject report = QJsonDocument::fromJson(ReadAll(Path("r.jsonl")).trimmed()).object();
    EXPECT_EQ(report["status"].toString(), "converted");
    EXPECT_EQ(report["output"].toString(), output);
    EXPECT_EQ(report["pages"].toInt(), 4);
    EXPECT_EQ(report["recognized"].toInt(), 3);
    EXPECT_EQ(report["bytes"].toInteger(), copy.size());

    const RunResult two = Run({"--format", "pdf", "-j", "2", "-o", "two.pdf", input});
    ASSERT_EQ(two.ExitCode, 0) << two.Err.toStdString();
    EXPECT_TRUE(ReadAll(Path("two.pdf")) == copy) << "two workers wrote other bytes than one";
}

// auto leaves a page that has a layer already; always replaces that layer,
// and still never covers a page with visible text. A folder's earlier copies
// are no inputs of their own.
TEST_F(KestruneTextPdf, AnEarlierLayerIsKeptOrReplaced) {
    QDir(FDir.path()).mkdir("in");
    const QString input = Write("in/scan.pdf", ScannedPdf(kPages.mid(0, 2), {2}, kDpi));
    ASSERT_EQ(Run({"--format", "pdf", "in"}).ExitCode, 0);
    const QString first = Path("in/scan.ocr.pdf");
    ASSERT_TRUE(QFile::exists(first));

    // A second run over the folder passes over the copy, and with --update
    // over the scan whose copy is newer.
    const QByteArray copy = ReadAll(first);
    const RunResult again = Run({"--format", "pdf", "--update", "--report", "update.jsonl", "in"});
    EXPECT_EQ(again.ExitCode, 0) << again.Err.toStdString();
    EXPECT_EQ(QJsonDocument::fromJson(ReadAll(Path("update.jsonl")).trimmed()).object()["status"].toString(), "skipped");
    EXPECT_EQ(ReadAll(first), copy);
    ASSERT_EQ(Run({"--format", "pdf", "in"}).ExitCode, 0);
    EXPECT_EQ(QDir(Path("in")).entryList(QDir::Files, QDir::Name), (QStringList{"scan.ocr.pdf", "scan.pdf"}));

    const RunResult kept = Run({"--format", "pdf", "-o", "kept.pdf", first});
    EXPECT_EQ(kept.ExitCode, 0) << kept.Err.toStdString();
    EXPECT_TRUE(kept.Err.contains("no page to recognise (each has text of its own or shows nothing); copied unchanged"))
        << kept.Err.toStdString();
    EXPECT_EQ(ReadAll(Path("kept.pdf")), ReadAll(first));

    const RunResult replaced = Run({"--format", "pdf", "--ocr", "always", "--report", "r.jsonl", "-o", "again.pdf", first});
    ASSERT_EQ(replaced.ExitCode, 0) << replaced.Err.toStdString();
    EXPECT_EQ(QJsonDocument::fromJson(ReadAll(Path("r.jsonl")).trimmed()).object()["recognized"].toInt(), 1);
    const QString output = Path("again.pdf");
    EXPECT_TRUE(ReadAll(output).startsWith(ReadAll(first)));
    ExpectQpdfCheck(output);
    EXPECT_EQ(PeerText(output, 1), PeerText(input, 1));
    // The words once, not once per layer.
    const QString text = PeerText(output, 2);
    EXPECT_EQ(text.count("harbour"), 1) << text.toStdString();
    EXPECT_EQ(PeerText(output, 2), PeerText(first, 2));
}

// An encrypted document is opened with the password and stays encrypted,
// its update in its own key.
TEST_F(KestruneTextPdf, AnEncryptedCopyStaysEncrypted) {
    const QString plain = Write("plain.pdf", ScannedPdf(kPages.mid(1, 1), {1}, kDpi));
    const RunResult encrypt =
        RunProgram("qpdf", {"--encrypt", "user", "owner", "256", "--", plain, Path("locked.pdf")});
    ASSERT_EQ(encrypt.ExitCode, 0) << encrypt.Err.toStdString();

    const RunResult refused = Run({"--format", "pdf", "locked.pdf"});
    EXPECT_EQ(refused.ExitCode, 1);
    EXPECT_FALSE(QFile::exists(Path("locked.ocr.pdf")));

    const RunResult r = Run({"--format", "pdf", "--password", "user", "locked.pdf"});
    ASSERT_EQ(r.ExitCode, 0) << r.Err.toStdString();
    const QString output = Path("locked.ocr.pdf");
    EXPECT_TRUE(ReadAll(output).startsWith(ReadAll(Path("locked.pdf"))));
    ExpectQpdfCheck(output, "user");
    EXPECT_GE(KnownWordsFound(PeerText(output, 1, "user"), kPages[1]), 0.75);
    TFPdf pdf;
    pdf.SetFileName(output);
    EXPECT_EQ(RaisedError([&] { pdf.SetActive(true); }).Kind(), TPdfErrorKind::ekPassword)
        << "the copy lost its encryption";
}

// Command lines that make no sense with pdf stop before any work; documents
// that cannot take an appended update fail alone, leaving no file (an
// earlier copy as it was).
TEST_F(KestruneTextPdf, RefusalsLeaveNoFile) {
    const QByteArray scan = ScannedPdf(kPages.mid(1, 1), {1}, kDpi);
    const QString input = Write("scan.pdf", scan);
    struct Case {
        QStringList Arguments;
        const char* Error;
    };
    const QList<Case> cases = {
        {{"--layout"}, "option --layout applies to --format text only"},
        {{"--eol", "lf"}, "option --eol applies to --format text only"},
        {{"--no-bom"}, "option --no-bom applies to --format text only"},
        {{"--page-break", "ff"}, "option --page-break applies to --format text only"},
        {{"--reading-order"}, "option --reading-order applies to --format text only"},
        {{"--ocr", "never"}, "option --format pdf needs --ocr auto or always"},
        {{"-o", "-"}, "option --format pdf writes a file, not standard output; name one with -o"},
        {{"-o", "/dev/stdout"}, "option --format pdf writes a file, not standard output; name one with -o"},
    };
    for (const Case& c : cases) {
        const RunResult r = Run(QStringList{"--format", "pdf"} + c.Arguments + QStringList{input});
        EXPECT_EQ(r.ExitCode, 2) << c.Error;
        EXPECT_TRUE(r.Err.startsWith(QByteArray("kestrune-text: ") + c.Error)) << r.Err.toStdString();
        EXPECT_TRUE(r.Out.isEmpty());
    }
    const RunResult standardInput = RunProgram(QStringLiteral(KESTRUNE_TEXT_PROGRAM), {"--format", "pdf", "-"},
                                               {.WorkingDirectory = FDir.path(), .Input = scan});
    EXPECT_EQ(standardInput.ExitCode, 2);
    EXPECT_TRUE(standardInput.Err.startsWith("kestrune-text: option --format pdf needs -o FILE for standard input"));
    EXPECT_EQ(Files(), QStringList{"scan.pdf"});

    // Offsets that lead nowhere (the engine rebuilds the table to open the
    // file), and a page tree with something other than a page in it.
    QByteArray damaged = scan;
    damaged.replace("startxref\n", "startxref\n1");
    QByteArray stray = scan;
    stray.replace(stray.lastIndexOf("/Type /Page "), 12, "/Type /Tmpl ");
    Write("damaged.pdf", damaged);
    Write("stray.pdf", stray);
    Write("damaged.ocr.pdf", "an earlier copy");
    const RunResult failed = Run({"--format", "pdf", "damaged.pdf", "stray.pdf"});
    EXPECT_EQ(failed.ExitCode, 1);
    EXPECT_TRUE(failed.Err.contains("damaged.pdf: Cannot add a text layer to this document: its cross-reference table "
                                    "is damaged"))
        << failed.Err.toStdString();
    EXPECT_TRUE(failed.Err.contains("stray.pdf: Cannot add a text layer to this document: its page tree holds "
                                    "something other than a page"))
        << failed.Err.toStdString();
    EXPECT_EQ(ReadAll(Path("damaged.ocr.pdf")), "an earlier copy");
    EXPECT_FALSE(QFile::exists(Path("stray.ocr.pdf")));
    const RunResult self = Run({"--format", "pdf", "-o", "scan.pdf", "scan.pdf"});
    EXPECT_EQ(self.ExitCode, 1);
    EXPECT_TRUE(self.Err.contains("is the input")) << self.Err.toStdString();
    EXPECT_EQ(ReadAll(input), scan);
    EXPECT_EQ(Files(), (QStringList{"damaged.ocr.pdf", "damaged.pdf", "scan.pdf", "stray.pdf"}));
}

// A page too large for the resolution asked for is read at a lower one, and
// its words still land on it.
TEST_F(KestruneTextPdf, AnOversizedScanGetsItsWords) {
    const QString input = Write("strip.pdf", ScannedPdf({{"Seven ships"}}, {1}, 100, QSizeF(14400, 144)));
    const RunResult r = Run({"--format", "pdf", input});
    ASSERT_EQ(r.ExitCode, 0) << r.Err.toStdString();
    EXPECT_TRUE(r.Err.contains("too large to recognise at 300 dpi")) << r.Err.toStdString();
    ExpectQpdfCheck(Path("strip.ocr.pdf"));
    EXPECT_GE(KnownWordsFound(PeerText(Path("strip.ocr.pdf"), 1), {"Seven ships"}), 0.5);
}

// A scan with a line of real text stamped over it (a fax header) gets the
// scan's words; the stamp, which readers already find, is not covered again.
TEST_F(KestruneTextPdf, AStampedScanKeepsItsStampOnce) {
    const QStringList lines = kPages[1];
    const QString input = Write("fax.pdf", ScanPdf({TScan{.Lines = lines, .Stamp = "FAX 0123 page 1"}}));
    ASSERT_TRUE(PeerText(input, 1).contains("FAX 0123"));
    const RunResult r = Run({"--format", "pdf", "--report", "r.jsonl", input});
    ASSERT_EQ(r.ExitCode, 0) << r.Err.toStdString();
    EXPECT_EQ(QJsonDocument::fromJson(ReadAll(Path("r.jsonl")).trimmed()).object()["recognized"].toInt(), 1);
    const QString text = PeerText(Path("fax.ocr.pdf"), 1);
    EXPECT_GE(KnownWordsFound(text, lines), 0.75) << text.toStdString();
    EXPECT_EQ(text.count("0123"), 1) << text.toStdString();
}

// The engine makes the copy in a child process where the program may fork
// (kestrune-text), with the same bytes as made in the program itself; a
// crash of the engine there (a damaged document) fails that copy with a line
// that says so, and leaves no file.
TEST_F(KestruneTextPdf, TheCopyIsMadeApartFromTheProgram) {
    const QString input = Write("scan.pdf", ScannedPdf(kPages.mid(1, 1), {1}, kDpi));
    TLayerPage page{TLayerAction::Add, {}};
    page.Words.PageNumber = 1;
    page.Words.Size = QSizeF(kWordsPageSize);
    TLayoutLine line;
    TLayoutWord word;
    word.Text = "Seven";
    word.Box = QRectF(72, 72, 60, 14);
    line.Words = {word};
    page.Words.Blocks = {TLayoutBlock{{}, {line}}};
    UniteBoxes(page.Words);
    const auto children = [] {
        QFile list(QStringLiteral("/proc/self/task/%1/children").arg(::getpid()));
        return list.open(QIODevice::ReadOnly) ? QString::fromLatin1(list.readAll()).split(' ', Qt::SkipEmptyParts) : QStringList{};
    };
    QByteArray made[2];
    for (const bool fork : {false, true}) {
        AllowForkedWorkers(fork);
        const QString name = QStringLiteral("copy-%1.pdf").arg(fork);
        TTextTarget target(Path(name), TTextTarget::TMode::WriteIntoNodes);
        TPdfOutput copy(input, -1, {}, recognition::GlyphlessFontFile(), target);
        EXPECT_EQ(children().size(), fork ? 1 : 0);
        copy.Add(1, LayerPageBytes(page));
        EXPECT_EQ(copy.PagesLaid(), 1);
        copy.Finish();
        made[fork] = ReadAll(Path(name));
    }
    EXPECT_EQ(made[0], made[1]);
    EXPECT_TRUE(PeerText(Path("copy-1.pdf"), 1).contains("Seven"));

    TTextTarget target(Path("crashed.pdf"), TTextTarget::TMode::WriteIntoNodes);
    TPdfOutput copy(input, -1, {}, recognition::GlyphlessFontFile(), target);
    const QStringList child = children();
    ASSERT_EQ(child.size(), 1);
    ::kill(child[0].toInt(), SIGSEGV);
    EXPECT_EQ(ErrorOf([&] { copy.Add(1, LayerPageBytes(page)); }),
              "The engine stopped with SIGSEGV (Segmentation fault) while making the copy");
    EXPECT_TRUE(children().isEmpty()) << "the child was not reaped";
    EXPECT_FALSE(QFile::exists(Path("crashed.pdf")));

    // A child that hangs (stopped here, as an engine caught in a loop on a
    // damaged document would be) fails the copy at the document's time limit
    // rather than holding up the run; it is ended and reaped.
    TTextTarget hung(Path("hung.pdf"), TTextTarget::TMode::WriteIntoNodes);
    hung.SetDeadline(TTextTarget::TClock::now() + std::chrono::seconds(1), TimeLimitMessage(1));
    TPdfOutput stopped(input, -1, {}, recognition::GlyphlessFontFile(), hung);
    ASSERT_EQ(children().size(), 1);
    ::kill(children()[0].toInt(), SIGSTOP);
    QElapsedTimer waited;
    waited.start();
    EXPECT_EQ(ErrorOf([&] { stopped.Add(1, LayerPageBytes(page)); }), "time limit reached (1 s)");
    EXPECT_LT(waited.elapsed(), 10000);
    EXPECT_TRUE(children().isEmpty()) << "the child was not reaped";
    EXPECT_FALSE(QFile::exists(Path("hung.pdf")));
    AllowForkedWorkers(false);
}
