// kestrune-text reading scanned pages (--ocr): the built program, with real
// Tesseract in its worker processes, on documents of scanned and text pages.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <kestrune/PageRecognizer.h>
#include "ocr/Recognition.h"
#include "ocr/RecognizerModule.h"
#include "support/PdfBuilder.h"
#include "support/ProgramRun.h"
#include "support/ScannedPdf.h"
#include "support/TestHelpers.h"

using namespace kestrune;
using namespace testing_support;

namespace {

using Result = RunResult;

constexpr char Bom[] = "\xEF\xBB\xBF";
const QStringList kScannedWords = {"The quick brown fox"};

class KestruneTextOcr : public testing::Test {
protected:
    QString Path(const QString& Name) const { return FDir.filePath(Name); }

    Result Run(const QStringList& Arguments, const QProcessEnvironment& Environment = QProcessEnvironment::systemEnvironment()) {
        return RunProgram(QStringLiteral(KESTRUNE_TEXT_PROGRAM), Arguments,
                          {.WorkingDirectory = FDir.path(), .Environment = Environment});
    }

    // The report's one line as an object.
    QJsonObject ReportOf(const QString& Name) {
        return QJsonDocument::fromJson(ReadAll(Path(Name)).trimmed()).object();
    }

    QTemporaryDir FDir;
};

// Text page, scanned page, text page: auto leaves the text pages' bytes as
// they are and puts the recognised words in the scanned page's place, in two
// workers; the default mode leaves the scanned page empty and says so.
TEST_F(KestruneTextOcr, AutoRecognisesOnlyThePagesWithoutText) {
    const QString pdf = WriteFile(Path("mixed.pdf"), ScannedPdf({{"Alpha"}, kScannedWords, {"Omega"}}, {2}, 200));

    const Result never = Run({"--report", "never.jsonl", "-o", "never.txt", pdf});
    EXPECT_EQ(never.ExitCode, 0) << never.Err.toStdString();
    EXPECT_EQ(ReadAll(Path("never.txt")), QByteArray(Bom) + "Alpha\r\n\r\nOmega\r\n");
    EXPECT_TRUE(never.Err.contains(": no text on 1 of 3 pages (scanned pages?); --ocr auto reads them\n"))
        << never.Err.toStdString();
    EXPECT_EQ(ReportOf("never.jsonl")["recognized"].toInt(-1), 0);
    EXPECT_FALSE(never.Err.contains("recognised")) << "the summary counts recognised pages only when asked to recognise";
    EXPECT_EQ(Run({"-q", "-o", "quiet.txt", pdf}).Err, "") << "no note under -q";

    const Result autoRun = Run({"--ocr", "auto", "--ocr-dpi", "200", "-j", "2", "--report", "auto.jsonl", "-o", "auto.txt", pdf});
    EXPECT_EQ(autoRun.ExitCode, 0) << autoRun.Err.toStdString();
    const QByteArray text = ReadAll(Path("auto.txt"));
    ASSERT_TRUE(text.startsWith(QByteArray(Bom) + "Alpha\r\n")) << text.toStdString();
    ASSERT_TRUE(text.endsWith("\r\nOmega\r\n")) << text.toStdString();
    const QByteArray recognised = text.mid(3 + 7, text.size() - 3 - 7 - 9);
    EXPECT_EQ(WordsOf(QString::fromUtf8(recognised)), WordsOf(kScannedWords.join(' ')));
    EXPECT_EQ(ReportOf("auto.jsonl")["recognized"].toInt(), 1);
    EXPECT_EQ(ReportOf("auto.jsonl")["pages"].toInt(), 3);
    EXPECT_TRUE(autoRun.Err.contains("1 converted, 0 skipped, 0 failed, 3 pages (1 recognised) in ")) << autoRun.Err.toStdString();
    EXPECT_FALSE(autoRun.Err.contains("no text on"));
}

// always reads every page from its pixels, the text pages too.
TEST_F(KestruneTextOcr, AlwaysRecognisesEveryPage) {
    const QString pdf = WriteFile(Path("two.pdf"), ScannedPdf({{"Seven ships"}, kScannedWords}, {2}, 200));
    const Result r = Run({"--ocr", "always", "--ocr-dpi", "200", "--report", "r.jsonl", "-o", "two.txt", pdf});
    EXPECT_EQ(r.ExitCode, 0) << r.Err.toStdString();
    const QByteArray text = ReadAll(Path("two.txt"));
    EXPECT_TRUE(text.startsWith(QByteArray(Bom) + "Seven ships\r\n")) << text.toStdString();
    EXPECT_TRUE(text.endsWith("\r\n"));
    EXPECT_EQ(WordsOf(QString::fromUtf8(text.mid(3))), WordsOf("Seven ships " + kScannedWords.join(' ')));
    EXPECT_EQ(ReportOf("r.jsonl")["recognized"].toInt(), 2);
}

// A language without data stops the run before any work, naming its package.
TEST_F(KestruneTextOcr, AMissingLanguageStopsBeforeAnyWork) {
    QString absent;
    const QStringList installed = TPageRecognizer::InstalledLanguages();
    for (const QString code : {"deu", "fra", "spa", "ita", "nld", "pol"})
        if (!installed.contains(code) && absent.isEmpty()) absent = code;
    ASSERT_FALSE(absent.isEmpty()) << "every candidate language is installed";
    const QString pdf = WriteFile(Path("a.pdf"), SimpleTextPdf({{"A"}}));
    const Result r = Run({"--ocr", "auto", "--ocr-lang", "eng+" + absent, pdf});
    EXPECT_EQ(r.ExitCode, 2);
    EXPECT_TRUE(r.Err.startsWith("kestrune-text: The recognition data for language \"" + absent.toUtf8() + "\""))
        << r.Err.toStdString();
    EXPECT_TRUE(r.Err.contains("tesseract-ocr-" + absent.toUtf8()));
    EXPECT_EQ(r.Err.count('\n'), 1);
    EXPECT_EQ(QDir(FDir.path()).entryList(QDir::Files), QStringList{"a.pdf"});
}

// A page 200 inches wide cannot be read at 300 dpi; it is read at less, with a note.
TEST_F(KestruneTextOcr, AnOversizedPageIsReadAtALowerResolution) {
    const QString pdf = WriteFile(Path("strip.pdf"), ScannedPdf({{"Seven ships"}}, {}, 0, QSizeF(14400, 144)));
    const Result r = Run({"--ocr", "always", "-o", "strip.txt", pdf});
    EXPECT_EQ(r.ExitCode, 0) << r.Err.toStdString();
    EXPECT_EQ(ReadAll(Path("strip.txt")), QByteArray(Bom) + "Seven ships\r\n");
    const QByteArray note = QStringLiteral("strip.pdf: 1 page too large to recognise at 300 dpi, read at the highest "
                                           "resolution within the pixel limit (page 1 at %1 dpi)\n")
                                .arg(TPageRecognizer::PageDpi(14400, 144, 300))
                                .toUtf8();
    EXPECT_TRUE(r.Err.endsWith(note)) << r.Err.toStdString();
}

// Recognition that cannot work (here: damaged language data) fails the
// documents that need it, each with a line; the others convert.
TEST_F(KestruneTextOcr, AFailedRecognitionFailsOnlyItsDocument) {
    QDir(FDir.path()).mkdir("tessdata");
    WriteFile(Path("tessdata/eng.traineddata"), QByteArray(4096, 'x'));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("TESSDATA_PREFIX", Path("tessdata"));
    const QString scanned = WriteFile(Path("scanned.pdf"), ScannedPdf({kScannedWords}, {1}, 100));
    const QString text = WriteFile(Path("text.pdf"), SimpleTextPdf({{"Plain"}}));
    const Result r = Run({"--ocr", "auto", "--ocr-rotate", "never", "-j", "1", scanned, text}, environment);
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_TRUE(r.Err.startsWith("kestrune-text: " + scanned.toUtf8() + ": Text recognition could not start"))
        << r.Err.toStdString();
    EXPECT_EQ(r.Err.count('\n'), 1);
    EXPECT_FALSE(QFile::exists(Path("scanned.txt")));
    EXPECT_EQ(ReadAll(Path("text.txt")), QByteArray(Bom) + "Plain\r\n");
}

// A page scanned upside down is read upright under --ocr auto, and counted
// as turned in the report and the summary, with the pages' confidence;
// --ocr-rotate never reads it as it lies.
TEST_F(KestruneTextOcr, TurnedPagesAreReadUprightAndCounted) {
    const QString pdf = WriteFile(Path("turned.pdf"), ScanPdf({TScan{.Lines = kLines}, TScan{.Lines = kLines, .Turn = 180}},
                                                              kLinesPageSize));
    const Result r = Run({"--ocr", "auto", "--report", "r.jsonl", "--output-dir", "out", pdf});
    EXPECT_EQ(r.ExitCode, 0) << r.Err.toStdString();
    EXPECT_TRUE(r.Err.contains("1 converted, 0 skipped, 0 failed, 2 pages (2 recognised, 1 turned) in ")) << r.Err.toStdString();
    const QString text = QString::fromUtf8(ReadAll(Path("out/turned.txt")));
    EXPECT_EQ(WordsOf(text), WordsOf(kLines.join(' ') + ' ' + kLines.join(' ')));
    const QJsonObject report = ReportOf("r.jsonl");
    EXPECT_EQ(report["recognized"].toInt(), 2);
    EXPECT_EQ(report["turned"].toInt(), 1);
    EXPECT_GT(report["confidence"].toDouble(), 80);
    EXPECT_EQ(report["low_confidence"].toInt(-1), 0);
    EXPECT_EQ(ReadAll(Path("r.jsonl")).count("\"turned\""), 1);

    const Result lying = Run({"--ocr", "auto", "--ocr-rotate", "never", "--report", "n.jsonl", "-o", "n.txt", pdf});
    EXPECT_EQ(lying.ExitCode, 0) << lying.Err.toStdString();
    EXPECT_TRUE(lying.Err.contains("(2 recognised")) << lying.Err.toStdString();
    EXPECT_EQ(ReportOf("n.jsonl")["turned"].toInt(-1), 0);
    EXPECT_LT(KnownWordsFound(QString::fromUtf8(ReadAll(Path("n.txt"))), kLines + kLines), 0.6);
}

// A scan with a line of real text stamped over it (a fax header) is read
// under --ocr auto, its text kept and the scan's words added in their place on
// the page; a born-digital document keeps its bytes.
TEST_F(KestruneTextOcr, AStampedScanIsReadKeepingItsText) {
    const QString stamp = QStringLiteral("FAX FROM HARBOUR OFFICE 0042");
    const QString pdf = WriteFile(Path("stamped.pdf"), ScanPdf({TScan{.Lines = kScannedWords, .Stamp = stamp}}));
    const Result r = Run({"--ocr", "auto", "--report", "r.jsonl", "--no-bom", "-o", "stamped.txt", pdf});
    EXPECT_EQ(r.ExitCode, 0) << r.Err.toStdString();
    EXPECT_EQ(ReportOf("r.jsonl")["recognized"].toInt(), 1);
    const QString text = QString::fromUtf8(ReadAll(Path("stamped.txt")));
    EXPECT_EQ(WordsOf(text), WordsOf(kScannedWords.join(' ') + ' ' + stamp)) << "the stamp at the foot comes last";

    const Result tsv = Run({"--ocr", "auto", "--format", "tsv", "-o", "stamped.tsv", pdf});
    EXPECT_EQ(tsv.ExitCode, 0) << tsv.Err.toStdString();
    QStringList words;
    for (const QByteArray& row : ReadAll(Path("stamped.tsv")).split('\n')) {
        const QList<QByteArray> f = row.split('\t');
        if (f.size() == 12 && f[0] == "5") words << QString::fromUtf8(f[11]) + (f[10] == "100" ? "/own" : "");
    }
    QStringList expected;
    for (const QString& word : WordsOf(kScannedWords.join(' '))) expected << word;
    for (const QString& word : WordsOf(stamp)) expected << word + "/own";
    EXPECT_EQ(words, expected);

    const QString mixed = WriteFile(Path("mixed.pdf"), ScannedPdf({{"Alpha"}, {"Omega"}}, {}, 0));
    const Result plain = Run({"--ocr", "auto", "--report", "m.jsonl", "--no-bom", "-o", "mixed.txt", mixed});
    EXPECT_EQ(ReadAll(Path("mixed.txt")), "Alpha\r\nOmega\r\n");
    EXPECT_EQ(ReportOf("m.jsonl")["recognized"].toInt(-1), 0);
}

// --ocr-clean reaches the workers: a fax thick with specks is read cleaned.
TEST_F(KestruneTextOcr, CleanReadsAFaxCleaned) {
    const QString pdf = WriteFile(Path("fax.pdf"), ScanPdf({TScan{.Lines = kLines + kLines, .FontSize = 10, .Bilevel = true,
                                                                  .Specks = 0.01}},
                                                           kLinesPageSize));
    const Result r = Run({"--ocr", "auto", "--ocr-clean", "-o", "clean.txt", pdf});
    EXPECT_EQ(r.ExitCode, 0) << r.Err.toStdString();
    EXPECT_GE(KnownWordsFound(QString::fromUtf8(ReadAll(Path("clean.txt"))), kLines + kLines), 0.9);
}

// Orientation detection without its data stops the run before any work,
// naming the package; the run may do without it.
TEST_F(KestruneTextOcr, OrientationDataIsCheckedBeforeAnyWork) {
    QDir(FDir.path()).mkdir("tessdata");
    const QString data = QDir(recognition::DataFolder()).filePath("eng.traineddata");
    ASSERT_TRUE(QFile::copy(data, Path("tessdata/eng.traineddata")));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("TESSDATA_PREFIX", Path("tessdata"));
    const QString pdf = WriteFile(Path("scan.pdf"), ScannedPdf({kScannedWords}, {1}, 200));
    const Result refused = Run({"--ocr", "auto", pdf}, environment);
    EXPECT_EQ(refused.ExitCode, 2);
    EXPECT_TRUE(refused.Err.startsWith("kestrune-text: The data of orientation detection is not installed")) << refused.Err.toStdString();
    EXPECT_TRUE(refused.Err.contains("tesseract-ocr-osd"));
    EXPECT_FALSE(QFile::exists(Path("scan.txt")));
    const Result asItLies = Run({"--ocr", "auto", "--ocr-rotate", "never", pdf}, environment);
    EXPECT_EQ(asItLies.ExitCode, 0) << asItLies.Err.toStdString();
    EXPECT_EQ(WordsOf(QString::fromUtf8(ReadAll(Path("scan.txt")))), WordsOf(kScannedWords.join(' ')));
}

// Recognised words fill the word formats and the layout text like a text
// layer's: Tesseract's blocks and lines, its confidences, boxes on the page.
TEST_F(KestruneTextOcr, RecognisedWordsFillTheWordFormats) {
    const QString pdf = WriteFile(Path("mixed.pdf"), ScannedPdf({{"Alpha"}, kScannedWords}, {2}, 200));
    const Result tsv = Run({"--ocr", "auto", "--ocr-dpi", "200", "--format", "tsv", "-j", "2", pdf});
    EXPECT_EQ(tsv.ExitCode, 0) << tsv.Err.toStdString();
    QStringList words;
    for (const QByteArray& row : ReadAll(Path("mixed.tsv")).split('\n')) {
        const QList<QByteArray> f = row.split('\t');
        if (f.size() != 12 || f[0] != "5") continue;
        const double conf = f[10].toDouble();
        const QRectF box(f[6].toDouble(), f[7].toDouble(), f[8].toDouble(), f[9].toDouble());
        SCOPED_TRACE(row.toStdString());
        EXPECT_TRUE(QRectF(QPointF(0, 0), kWordsPageSize).contains(box));
        if (f[1] == "1") {
            EXPECT_EQ(conf, 100);  // the text layer's page
        } else {
            EXPECT_GT(conf, 0);
            EXPECT_LE(conf, 100);
            words << QString::fromUtf8(f[11]);
        }
    }
    EXPECT_EQ(words, WordsOf(kScannedWords.join(' ')));

    const Result layout = Run({"--ocr", "auto", "--ocr-dpi", "200", "--layout", "--no-bom", "--eol", "lf", pdf});
    EXPECT_EQ(layout.ExitCode, 0) << layout.Err.toStdString();
    EXPECT_EQ(ReadAll(Path("mixed.txt")), "Alpha\n\f" + kScannedWords.join(' ').toUtf8() + "\n\f");
}

}  // namespace

namespace {

// What the dynamic loader loaded into each process of a run (its LD_DEBUG=files
// record, one file per process), run by Program in Folder.
QByteArray LoadedFiles(const QString& Program, const QStringList& Arguments, const QString& Folder) {
    const QString prefix = QDir(Folder).filePath("loader");
    RunOptions options;
    options.WorkingDirectory = Folder;
    options.Environment.insert("LD_DEBUG", "files");
    options.Environment.insert("LD_DEBUG_OUTPUT", prefix);
    const RunResult r = RunProgram(Program, Arguments, options);
    EXPECT_EQ(r.ExitCode, 0) << r.Err.toStdString();
    QByteArray record;
    for (const QString& name : QDir(Folder).entryList({"loader.*"}, QDir::Files)) {
        record += ReadAll(QDir(Folder).filePath(name));
        QFile::remove(QDir(Folder).filePath(name));
    }
    return record;
}

}  // namespace

// Tesseract loads only into a process that meets a page to recognise: a run
// of text pages, with recognition on or off, never maps it, so it costs
// neither memory nor start-up time there.
TEST_F(KestruneTextOcr, TesseractLoadsOnlyForAPageToRecognise) {
    const QString text = WriteFile(Path("text.pdf"), SimpleTextPdf({{"Plain"}, {"Text"}}));
    const QString scanned = WriteFile(Path("scanned.pdf"), ScannedPdf({kScannedWords}, {1}, 100));
    const QString program = QStringLiteral(KESTRUNE_TEXT_PROGRAM);
    for (const QStringList& arguments : {QStringList{"-j", "2", text}, QStringList{"--ocr", "auto", "-j", "2", text},
                                         QStringList{"--version"}}) {
        const QByteArray loaded = LoadedFiles(program, arguments, FDir.path());
        ASSERT_TRUE(loaded.contains("libQt6Core")) << "no loader record";
        EXPECT_FALSE(loaded.contains("libtesseract")) << arguments.join(' ').toStdString();
        EXPECT_FALSE(loaded.contains(RecognizerModuleName)) << arguments.join(' ').toStdString();
    }
    const QByteArray loaded = LoadedFiles(program, {"--ocr", "auto", "--ocr-dpi", "100", scanned}, FDir.path());
    EXPECT_TRUE(loaded.contains(RecognizerModuleName));
    EXPECT_TRUE(loaded.contains("libtesseract"));
    EXPECT_FALSE(ReadAll(Path("scanned.txt")).trimmed().isEmpty());
}

// Installed without its recognizer module, kestrune-text refuses recognition
// before any work, saying what is missing where, and converts as ever without it.
TEST_F(KestruneTextOcr, WithoutTheRecognizerModuleOnlyRecognitionIsRefused) {
    // The program with the engine beside it, and no module in any folder it searches.
    QDir(FDir.path()).mkpath("alone/bin");
    const QString program = Path("alone/bin/kestrune-text");
    ASSERT_TRUE(QFile::copy(QStringLiteral(KESTRUNE_TEXT_PROGRAM), program));
    ASSERT_TRUE(QFile::copy(QFileInfo(QStringLiteral(KESTRUNE_TEXT_PROGRAM)).dir().filePath("libpdfium.so"),
                            Path("alone/bin/libpdfium.so")));
    const QString pdf = WriteFile(Path("a.pdf"), SimpleTextPdf({{"Plain"}}));

    RunOptions here;
    here.WorkingDirectory = FDir.path();
    const RunResult refused = RunProgram(program, {"--ocr", "auto", pdf}, here);
    EXPECT_EQ(refused.ExitCode, 2);
    EXPECT_TRUE(refused.Err.startsWith("kestrune-text: Text recognition is not available: kestrune-recognizer.so is in none of " +
                               Path("alone/bin").toUtf8()))
        << refused.Err.toStdString();
    EXPECT_FALSE(QFile::exists(Path("a.txt")));

    const RunResult plain = RunProgram(program, {pdf}, here);
    EXPECT_EQ(plain.ExitCode, 0) << plain.Err.toStdString();
    EXPECT_EQ(ReadAll(Path("a.txt")), QByteArray(Bom) + "Plain\r\n");
}
