// The converter window and its conversion run, with the real engine, real
// files in a temporary folder, and the file dialog and error display replaced.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QCompleter>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QMessageBox>
#include <QMimeData>
#include <QPointer>
#include <QProcess>
#include <QUrl>
#include <QAbstractItemView>
#include <QFile>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QGlyphRun>
#include <QInputDialog>
#include <QLabel>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTextDocumentFragment>
#include <QTextLayout>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <csignal>
#include <deque>
#include <memory>
#include <utility>

#include "convert/Conversion.h"
#include "window/KestruneUnit.h"
#include <kestrune/FPdf.h>
#include "component/FileError.h"
#include <kestrune/PdfError.h>
#include "support/ApplicationEnvironment.h"
#include "support/PdfBuilder.h"
#include "support/ScannedPdf.h"
#include "support/PdfEncryption.h"
#include "support/ProgramRun.h"
#include "support/TestHelpers.h"

// Failures show the texts compared, not their bytes.
void PrintTo(const QString& Value, std::ostream* Out) { *Out << '"' << Value.toStdString() << '"'; }

using namespace kestrune;
using testing_support::EmptyPdf;
using testing_support::FileSizeLimit;
using testing_support::PdfBuilder;
using testing_support::ProgramRun;
using testing_support::ReadAll;
using testing_support::RunOptions;
using testing_support::RunProgram;
using testing_support::RunResult;
using testing_support::ScannedPdf;
using testing_support::SimpleTextPdf;
using testing_support::WriteFile;

namespace {

// One application object for the whole suite, as a program has.
[[maybe_unused]] testing::Environment* const Environment =
    testing::AddGlobalTestEnvironment(new testing_support::ApplicationEnvironment("test_converter"));

// A one-page document whose font maps codes A, B and C through its ToUnicode
// table to a lone high surrogate, a surrogate pair (U+1F600) and a lone low
// surrogate; ShownText is drawn with that font.
QByteArray SurrogatePdf(const QByteArray& shownText) {
    const QByteArray cmap =
        "/CIDInit /ProcSet findresource begin 12 dict begin begincmap\n"
        "/CIDSystemInfo << /Registry (Adobe) /Ordering (UCS) /Supplement 0 >> def\n"
        "/CMapName /Adobe-Identity-UCS def /CMapType 2 def\n"
        "1 begincodespacerange <00> <FF> endcodespacerange\n"
        "3 beginbfchar <41> <D83D> <42> <D83DDE00> <43> <DE00> endbfchar\n"
        "endcmap CMapName currentdict /CMap defineresource pop end end";
    PdfBuilder b;
    const int catalog = b.Reserve();
    const int pages = b.Reserve();
    const int toUnicode = b.AddStream("<< >>", cmap);
    const int font = b.Add("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /ToUnicode " +
                           QByteArray::number(toUnicode) + " 0 R >>");
    const int content = b.AddStream("<< >>", "BT /F1 12 Tf 72 720 Td " + testing_support::PdfLiteral(shownText) +
                                                 " Tj ET");
    b.SetPageTree(catalog, pages, {b.AddTextPage(pages, font, content)});
    return b.Build(catalog);
}

// Lets events run until Done holds; false after 20 seconds without.
bool ProcessEventsUntil(const std::function<bool()>& Done) {
    QElapsedTimer clock;
    clock.start();
    while (!Done()) {
        if (clock.elapsed() > 20000) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

// A click of the mouse on Widget, as the window system delivers it.
void ClickOn(QWidget& Widget) {
    const QPointF at = QRectF(Widget.rect()).center();
    for (const QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
        QMouseEvent event(type, at, Widget.mapToGlobal(at), Qt::LeftButton,
                          type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(&Widget, &event);
    }
}

// The words Label shows, its "details" link included.
QString LineText(const QLabel& Label) {
    return Label.textFormat() == Qt::RichText ? QTextDocumentFragment::fromHtml(Label.text()).toPlainText() : Label.text();
}

QMimeData* FileUrls(const QStringList& Paths) {
    auto* data = new QMimeData;
    QList<QUrl> urls;
    for (const QString& p : Paths) urls.append(QUrl::fromLocalFile(p));
    data->setUrls(urls);
    return data;
}

// Sends a drag onto Target and, when it is accepted, the drop; returns
// whether the drag was accepted.
bool Drop(QWidget& Target, QMimeData* Data) {
    std::unique_ptr<QMimeData> owned(Data);
    const QPoint at(200, 40);
    QDragEnterEvent enter(at, Qt::CopyAction, Data, Qt::LeftButton, Qt::NoModifier);
    enter.setAccepted(false);
    QApplication::sendEvent(&Target, &enter);
    QDropEvent drop(at, Qt::CopyAction, Data, Qt::LeftButton, Qt::NoModifier);
    drop.setAccepted(false);
    QApplication::sendEvent(&Target, &drop);
    EXPECT_EQ(enter.isAccepted(), drop.isAccepted());
    return enter.isAccepted();
}

// The three-page document of most window tests: two lines, no text, one line.
const QList<QStringList> ThreePages = {{"Hello", "World"}, {}, {"Third page"}};
const QByteArray ThreePagesText = "\xEF\xBB\xBF" "Hello\r\nWorld\r\n" "\r\n" "Third page\r\n";

}  // namespace

// ---- The UTF-8 encoder and the output name ----------------------------------

TEST(Utf8Encoder, EncodesEveryUnitAndReplacesUnpairedSurrogates) {
    struct Case {
        std::u16string text;
        QByteArray utf8;
    };
    const Case cases[] = {
        {u"", ""},
        {u"abc\r\n", "abc\r\n"},
        {u"\u00E9\u07FF", "\xC3\xA9\xDF\xBF"},
        {u"\u0800\u65E5\uFFFF", "\xE0\xA0\x80\xE6\x97\xA5\xEF\xBF\xBF"},
        {u"\xD83D\xDE00", "\xF0\x9F\x98\x80"},                     // a pair: one four-byte sequence
        {u"\xDBFF\xDFFF", "\xF4\x8F\xBF\xBF"},                     // the highest code point
        {u"a\xD83D" u"b", "a\xEF\xBF\xBD" "b"},                         // lone high surrogate inside
        {u"a\xDE00", "a\xEF\xBF\xBD"},                              // lone low surrogate
        {u"a\xD83D", "a\xEF\xBF\xBD"},                              // lone high surrogate at the very end
        {u"\xDE00\xD83D", "\xEF\xBF\xBD\xEF\xBF\xBD"},              // reversed pair: two replacements
        {u"\xD83D\xD83D\xDE00", "\xEF\xBF\xBD\xF0\x9F\x98\x80"},    // high, then a pair
        {std::u16string(1, u'\0') + u"x", QByteArray("\0x", 2)},    // a zero unit is kept
    };
    for (const Case& c : cases) {
        const QStringView text(c.text.data(), qsizetype(c.text.size()));
        EXPECT_EQ(EncodeUtf8(text), c.utf8) << "for " << text.toString().toStdString();
        QByteArray appended = "pre";
        AppendUtf8(appended, text);
        EXPECT_EQ(appended, "pre" + c.utf8);
    }
}

TEST(TextFileName, ReplacesTheExtensionOfTheFileNamePartOnly) {
    const std::pair<QString, QString> cases[] = {
        {"/data/annual.report.PDF", "/data/annual.report.txt"},
        {"/data/scan", "/data/scan.txt"},
        {"/data/report.pdf", "/data/report.txt"},
        {"/data.d/scan", "/data.d/scan.txt"},
        {"/data/ä b.pdf", "/data/ä b.txt"},
        {"relative.pdf", "relative.txt"},
    };
    for (const auto& [pdf, txt] : cases) EXPECT_EQ(TextFileName(pdf), txt) << pdf.toStdString();
}

// A name chosen in the dialog: the dialog adds ".PDF" to a name typed without
// an extension, which stands for the PDF file whatever the case of its own.
TEST(TypedFileName, FindsThePdfFileWhateverTheCaseOfItsExtension) {
    struct Case {
        QStringList files;
        QString chosen;
        QString found;
    };
    const Case cases[] = {
        {{"a.pdf"}, "a.PDF", "a.pdf"},
        {{"a.Pdf"}, "a.PDF", "a.Pdf"},
        {{"a.Pdf", "a.pdf"}, "a.PDF", "a.pdf"},  // the usual case first
        {{"a.PDF", "a.pdf"}, "a.PDF", "a.PDF"},  // a file of that very name
        {{"scan"}, "scan.PDF", "scan"},          // a PDF file without extension
        {{"A.pdf"}, "a.PDF", "a.PDF"},           // the name's own case counts
        {{"a.pdf.txt"}, "a.PDF", "a.PDF"},
        {{"b.pdf"}, "b.txt", "b.txt"},           // another extension: as chosen
    };
    for (const Case& c : cases) {
        QTemporaryDir dir;
        for (const QString& file : c.files) WriteFile(dir.filePath(file), "%PDF-1.4");
        EXPECT_EQ(TKestruneForm::TypedFileName(dir.filePath(c.chosen)), dir.filePath(c.found))
            << c.files.join(", ").toStdString() << ": " << c.chosen.toStdString();
    }
}

// ---- Saving -------------------------------------------------------------------

class SaveTextFileTest : public testing::Test {
protected:
    QTemporaryDir FDir;
    QString Path(const QString& name) const { return FDir.filePath(name); }
    QStringList Entries() const { return QDir(FDir.path()).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot); }
};

TEST_F(SaveTextFileTest, ReplacesAnExistingFile) {
    WriteFile(Path("a.txt"), "old content that is longer");
    SaveTextFile(Path("a.txt"), TTextFile{{"new\r\n", "\r\n"}});
    EXPECT_EQ(ReadAll(Path("a.txt")), "\xEF\xBB\xBFnew\r\n\r\n");
    EXPECT_EQ(Entries(), QStringList{"a.txt"});
}

// A write that the file system refuses part-way (the file-size limit of the
// process) leaves the earlier file as it was and no temporary file behind:
// small enough to sit in the device's buffer (so only the flush fails) and
// larger than the buffer (so the write itself fails).
TEST_F(SaveTextFileTest, AFailedWriteKeepsTheEarlierFile) {
    for (const qsizetype size : {qsizetype(3000), qsizetype(200000)}) {
        WriteFile(Path("a.txt"), "the earlier good text");
        try {
            FileSizeLimit limit(1000);
            SaveTextFile(Path("a.txt"), TTextFile{{QByteArray(size, 'x')}});
            ADD_FAILURE() << "no error for " << size << " bytes";
        } catch (const EFileError& e) {
            // The cause is that of the failing write, also after a short write.
            EXPECT_EQ(e.Message(), "Cannot write file \"" + Path("a.txt") + "\". File too large");
        }
        EXPECT_EQ(ReadAll(Path("a.txt")), "the earlier good text");
        EXPECT_EQ(Entries(), QStringList{"a.txt"});
    }
}

TEST_F(SaveTextFileTest, AFolderInTheWayIsAFileError) {
    QDir(FDir.path()).mkdir("a.txt");
    EXPECT_THROW(SaveTextFile(Path("a.txt"), TTextFile{{"x"}}), EFileError);
    EXPECT_THROW(SaveTextFile(Path("gone/a.txt"), TTextFile{{"x"}}), EFileError);
}

// ---- The window -----------------------------------------------------------------

class ConverterWindow : public testing::Test {
protected:
    void SetUp() override {
        FRealOpenDialog = std::exchange(FForm.ExecuteOpenDialog, nullptr);
        FForm.ExecuteOpenDialog = [this]() -> std::optional<QString> {
            ++FDialogShown;
            if (FChoices.empty()) return std::nullopt;
            std::optional<QString> choice = FChoices.front();
            FChoices.pop_front();
            if (FOnDialog) std::exchange(FOnDialog, nullptr)();
            return choice;
        };
        FRealShowException = std::exchange(FForm.ShowException, [this](const QString& message) { FErrors.append(message); });
        FForm.ShowDetails = [this](const QString& summary, const QString& details) { FDetails << summary << details; };
        // The window program serves as its own worker, as in the installed program.
        FForm.WorkerProgram = KESTRUNE_PROGRAM;
    }

    QString Path(const QString& name) const { return FDir.filePath(name); }
    QString Write(const QString& name, const QByteArray& bytes) const { return WriteFile(Path(name), bytes); }
    QStringList Entries() const { return QDir(FDir.path()).entryList(QDir::Files | QDir::NoDotAndDotDot); }

    // Clicks Button1 with the given dialog answers queued.
    void Click(std::initializer_list<std::optional<QString>> choices) {
        FChoices.insert(FChoices.end(), choices.begin(), choices.end());
        FForm.Button1->click();
    }
    // The same, and waits for the window to be idle again.
    void Run(std::initializer_list<std::optional<QString>> choices) {
        Click(choices);
        ASSERT_TRUE(ProcessEventsUntil([this] { return !FForm.IsBusy(); }));
    }

    void ExpectCleanedUp() const {
        EXPECT_EQ(FForm.cursor().shape(), Qt::ArrowCursor);
        EXPECT_EQ(FForm.ProgressBar1->value(), 0);
        EXPECT_FALSE(FForm.ProgressBar1->isTextVisible());
        EXPECT_TRUE(FForm.StopButton->isHidden());
        EXPECT_FALSE(FForm.FPdf1->GetActive());
    }

    QTemporaryDir FDir;
    TKestruneForm FForm;
    std::deque<std::optional<QString>> FChoices;
    std::function<void()> FOnDialog;  // runs once, inside the next dialog
    std::function<std::optional<QString>()> FRealOpenDialog;  // the window's own
    std::function<void(const QString&)> FRealShowException;  // the window's own message box
    int FDialogShown = 0;
    QStringList FErrors;
    QStringList FDetails;  // what the details showed: the summary, then the list
};

// The places drawn at the default font; the window may be widened, not made
// narrower or higher.
TEST_F(ConverterWindow, LayoutAndCaptions) {
    EXPECT_EQ(FForm.windowTitle(), "Kestrune");
    EXPECT_EQ(FForm.size(), QSize(391, 97));  // 77, and a line for Label1
    EXPECT_EQ(FForm.minimumSize(), QSize(391, 97));
    EXPECT_EQ(FForm.maximumHeight(), 97);
    EXPECT_EQ(FForm.maximumWidth(), QWIDGETSIZE_MAX);
    EXPECT_EQ(FForm.windowType(), Qt::Tool);
    EXPECT_TRUE(FForm.testAttribute(Qt::WA_QuitOnClose));
    EXPECT_EQ(FForm.Button1->geometry(), QRect(6, 4, 105, 22));
    EXPECT_EQ(FForm.Button1->text(), "PDF ファイル選択");
    EXPECT_EQ(FForm.CheckBox1->geometry(), QRect(119, 4, 266, 22));  // to the right of the button
    EXPECT_EQ(FForm.CheckBox1->text(), "Read scanned pages (OCR)");
    EXPECT_FALSE(FForm.CheckBox1->isChecked());
    EXPECT_EQ(FForm.Edit1->geometry(), QRect(8, 32, 377, 22));
    EXPECT_FALSE(FForm.Edit1->isReadOnly());
    EXPECT_EQ(FForm.Label1->geometry(), QRect(8, 56, 377, 20));
    EXPECT_EQ(FForm.ProgressBar1->geometry(), QRect(0, 77, 391, 20));
    EXPECT_EQ(FForm.ProgressBar1->orientation(), Qt::Horizontal);
    EXPECT_EQ(FForm.ProgressBar1->minimum(), 0);
    EXPECT_TRUE(FForm.StopButton->isHidden());  // beside the bar during a run
    EXPECT_EQ(FForm.StopButton->text(), "Stop");
    EXPECT_EQ(FForm.OpenDialog1->nameFilters(), QStringList{"*.pdf (*.pdf)"});
    EXPECT_EQ(FForm.OpenDialog1->defaultSuffix(), "PDF");
    EXPECT_EQ(FForm.OpenDialog1->acceptMode(), QFileDialog::AcceptOpen);
    EXPECT_EQ(FForm.FPdf1->GetName(), "FPdf1");
    EXPECT_EQ(FForm.FPdf1->Owner(), &FForm);
    EXPECT_TRUE(FForm.FPdf1->GetFormFill());
    EXPECT_EQ(FForm.FPdf1->GetPageNumber(), 0);
    EXPECT_FALSE(FForm.FPdf1->GetActive());
    EXPECT_FALSE(FForm.FPdf1->OnPageChange);
}

TEST_F(ConverterWindow, IsCentredOnTheScreen) {
    FForm.show();
    QCoreApplication::processEvents();
    const QPoint centre = FForm.screen()->availableGeometry().center();
    EXPECT_LE((FForm.frameGeometry().center() - centre).manhattanLength(), 2);
}

// Every text of the window reads at the desktop's font, the default one and a
// larger one: each character of the button's caption has a glyph in the font
// or its fallbacks, and each text fits its place (the caption the button's
// label area, the check box its caption, each row its line of text); the rows
// keep apart in their order, the window holds them all, and it may be widened.
TEST(WindowLayout, EveryTextFitsAtTheDesktopsFont) {
    struct FontScope {
        const QFont Saved = QApplication::font();
        ~FontScope() { QApplication::setFont(Saved); }
    } desktop;
    for (const int points : {desktop.Saved.pointSize(), 13}) {
        SCOPED_TRACE(points);
        QFont font = desktop.Saved;
        font.setPointSize(points);
        QApplication::setFont(font);
        TKestruneForm form;
        form.show();
        QCoreApplication::processEvents();

        QPushButton& button = *form.Button1;
        QTextLayout layout(button.text(), button.font());
        layout.beginLayout();
        layout.createLine();
        layout.endLayout();
        int glyphs = 0;
        for (const QGlyphRun& run : layout.glyphRuns()) {
            for (const quint32 index : run.glyphIndexes()) {
                EXPECT_NE(index, 0u) << "a character of the label has no glyph in " << run.rawFont().familyName().toStdString();
                ++glyphs;
            }
        }
        EXPECT_EQ(glyphs, button.text().size());
        QStyleOptionButton option;
        option.initFrom(&button);
        option.text = button.text();
        const QRect labelArea = button.style()->subElementRect(QStyle::SE_PushButtonContents, &option, &button);
        EXPECT_LE(button.fontMetrics().horizontalAdvance(button.text()), labelArea.width());
        EXPECT_LE(button.fontMetrics().height(), labelArea.height());
        EXPECT_GE(form.CheckBox1->width(), form.CheckBox1->sizeHint().width());
        EXPECT_GE(form.CheckBox1->height(), form.CheckBox1->sizeHint().height());
        EXPECT_GE(form.Edit1->height(), form.Edit1->sizeHint().height());
        EXPECT_GE(form.Label1->height(), form.Label1->fontMetrics().height());
        EXPECT_GE(form.ProgressBar1->height(), form.ProgressBar1->fontMetrics().height());

        const QRect rows[] = {button.geometry(), form.Edit1->geometry(), form.Label1->geometry(), form.ProgressBar1->geometry()};
        for (int i = 1; i < 4; ++i) EXPECT_LT(rows[i - 1].bottom(), rows[i].top()) << "row " << i;
        EXPECT_EQ(form.CheckBox1->geometry().top(), button.geometry().top());
        EXPECT_LT(button.geometry().right(), form.CheckBox1->geometry().left());
        EXPECT_TRUE(form.rect().contains(form.CheckBox1->geometry()));
        EXPECT_EQ(rows[3].bottom(), form.height() - 1);
        EXPECT_EQ(form.size(), form.minimumSize());

        const int width = form.Edit1->width();
        form.resize(form.width() + 300, form.height());
        QCoreApplication::processEvents();
        EXPECT_EQ(form.Edit1->width(), width + 300);
    }
}

TEST_F(ConverterWindow, ClosingTheWindowEndsTheProgram) {
    FForm.show();
    bool quit = false;
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, &FForm, [&] { quit = true; });
    QTimer::singleShot(0, &FForm, [this] { FForm.close(); });
    // A safety net only; it goes with the test, or it would end a later test's dialogs.
    QTimer safetyNet;
    safetyNet.callOnTimeout([] { QCoreApplication::exit(1); });
    safetyNet.start(5000);
    EXPECT_EQ(QApplication::exec(), 0);
    EXPECT_TRUE(quit);
}

TEST_F(ConverterWindow, ConvertsEveryPageWithItsLineBreaks) {
    const QString pdf = Write("doc.pdf", SimpleTextPdf(ThreePages));
    Run({pdf});
    EXPECT_TRUE(FErrors.isEmpty()) << FErrors.join("; ").toStdString();
    EXPECT_EQ(ReadAll(Path("doc.txt")), ThreePagesText);
    EXPECT_EQ(FForm.Edit1->text(), pdf);
    EXPECT_EQ(FForm.windowTitle(), "doc.pdf");
    EXPECT_EQ(FForm.Edit1->toolTip(), pdf);
    EXPECT_EQ(FForm.Label1->text(), "doc.txt written: 3 pages");
    EXPECT_EQ(FForm.Label1->toolTip(), Path("doc.txt"));
    ExpectCleanedUp();
}

// With the check box on, a scanned page gives its words; the text page keeps
// its bytes. The line tells which: with the box off, the pages without text
// (as kestrune-text counts them) and the hint to tick it; with it on, the
// pages recognised.
TEST_F(ConverterWindow, TheCheckBoxReadsScannedPages) {
    const QString pdf = Write("mixed.pdf", ScannedPdf({{"Alpha"}, {"Seven ships"}}, {2}, 300));
    Run({pdf});
    EXPECT_TRUE(FErrors.isEmpty()) << FErrors.join("; ").toStdString();
    EXPECT_EQ(ReadAll(Path("mixed.txt")), "\xEF\xBB\xBF" "Alpha\r\n\r\n");
    EXPECT_EQ(FForm.Label1->text(), "mixed.txt written: 2 pages, 1 without text: tick OCR");
    const QString cli = Write("cli.pdf", ReadAll(pdf));
    const RunResult text = RunProgram(KESTRUNE_TEXT_PROGRAM, {cli});
    EXPECT_EQ(text.Err, "kestrune-text: " + cli.toUtf8() + ": no text on 1 of 2 pages (scanned pages?); --ocr auto reads them\n");

    FForm.CheckBox1->setChecked(true);
    Run({pdf});
    EXPECT_TRUE(FErrors.isEmpty()) << FErrors.join("; ").toStdString();
    EXPECT_EQ(ReadAll(Path("mixed.txt")), "\xEF\xBB\xBF" "Alpha\r\nSeven ships\r\n");
    EXPECT_EQ(FForm.Label1->text(), "mixed.txt written: 2 pages, 1 recognised");
    ExpectCleanedUp();
}

namespace {

constexpr char ScaledChild[] = "KESTRUNE_TEST_SCALED_CHILD";

bool IsScaledChild() { return qEnvironmentVariableIsSet(ScaledChild); }

// From the suite's own process: runs the window test Name again at a scale
// factor of 2 (a factor is the process's), in a child process of this suite,
// and expects it to pass.
void RunScaledChild(const char* Name) {
    if (IsScaledChild()) return;
    RunOptions options{.MergeChannels = true};
    options.Environment.insert("QT_SCALE_FACTOR", "2");
    options.Environment.insert("QT_QPA_PLATFORM", "offscreen");
    options.Environment.insert(ScaledChild, "1");
    const RunResult child =
        RunProgram(QCoreApplication::applicationFilePath(), {QStringLiteral("--gtest_filter=ConverterWindow.") + Name}, options);
    EXPECT_EQ(child.ExitCode, 0) << child.Out.toStdString();
    EXPECT_TRUE(child.Out.contains("[  PASSED  ] 1 test")) << child.Out.toStdString();
}

}  // namespace

// A long name is shortened in the middle, so that what was written stays in
// sight, with the whole path as the line's tool tip; a widened window shows
// the whole name. At a scale factor of 2 as at 1.
TEST_F(ConverterWindow, ALongNameIsShortenedInTheMiddle) {
    RunScaledChild("ALongNameIsShortenedInTheMiddle");
    const QString name = "LaTeX-news-issue-30-October-2019-with-the-long-descriptive-name";
    FForm.show();
    EXPECT_EQ(FForm.devicePixelRatio(), IsScaledChild() ? 2 : 1);
    Run({Write(name + ".pdf", SimpleTextPdf({{"A"}, {"B"}, {"C"}, {"D"}}))});
    const QLabel& line = *FForm.Label1;
    EXPECT_TRUE(line.text().startsWith("LaTeX-news-")) << line.text().toStdString();
    EXPECT_TRUE(line.text().endsWith("-name.txt written: 4 pages")) << line.text().toStdString();
    EXPECT_TRUE(line.text().contains(u'\u2026')) << line.text().toStdString();
    EXPECT_LE(line.fontMetrics().horizontalAdvance(line.text()), line.contentsRect().width());
    EXPECT_EQ(line.toolTip(), Path(name + ".txt"));
    FForm.resize(FForm.width() + line.fontMetrics().horizontalAdvance(name), FForm.height());
    QCoreApplication::processEvents();
    EXPECT_EQ(line.text(), name + ".txt written: 4 pages");
}

// The file dialog lies within the screen with its buttons, also where Qt's
// size for it is larger than the screen: at a scale factor of 2, the
// 800 x 600 screen of the tests is 400 x 300 wide.
TEST_F(ConverterWindow, TheFileDialogFitsTheScreen) {
    RunScaledChild("TheFileDialogFitsTheScreen");
    FForm.ExecuteOpenDialog = FRealOpenDialog;
    FForm.show();
    QRect shown;
    QTimer::singleShot(0, &FForm, [&] {
        shown = FForm.OpenDialog1->frameGeometry();
        FForm.OpenDialog1->reject();
    });
    FForm.Button1->click();
    const QRect screen = FForm.screen()->availableGeometry();
    EXPECT_TRUE(screen.contains(shown)) << shown.width() << "x" << shown.height() << " at " << shown.x() << "," << shown.y();
}

// The counts of a run of many files can be wider than the line by
// themselves: they are cut at their end, and the "details" link stays whole.
TEST_F(ConverterWindow, TheDetailsLinkStaysInSightBehindLongCounts) {
    const QString counts = "113 files: 97 converted, 16 failed, 21 without text: tick OCR";
    FForm.show();
    TResultLine& line = *FForm.Label1;
    line.SetLine({counts, {}, {}, true});
    const QString shown = LineText(line);
    EXPECT_TRUE(shown.startsWith("113 files: 97 converted")) << shown.toStdString();
    EXPECT_TRUE(shown.endsWith(QString(u'\u2026') + " (details)")) << shown.toStdString();
    EXPECT_LE(line.fontMetrics().horizontalAdvance(shown), line.contentsRect().width());
    FForm.resize(FForm.width() + line.fontMetrics().horizontalAdvance(counts), FForm.height());
    QCoreApplication::processEvents();
    EXPECT_EQ(LineText(line), counts + " (details)");
}

// The keyboard reaches every control: Tab goes from the button to the check
// box and the edit box, and to the result line only while it holds a link;
// Enter presses the button that has the focus, converts the file typed into
// the edit box (a missing one is said as for the dialog's choice), and opens
// the details from their link.
TEST_F(ConverterWindow, KeyboardUse) {
    const QString pdf = Write("doc.pdf", SimpleTextPdf(ThreePages));
    FForm.show();
    FForm.activateWindow();
    ASSERT_TRUE(ProcessEventsUntil([this] { return FForm.isActiveWindow(); }));
    const auto press = [](Qt::Key key) {
        QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier);
        QApplication::sendEvent(QApplication::focusWidget(), &event);
    };
    const auto tabOrder = [&] {
        FForm.Button1->setFocus();
        QList<QWidget*> order;
        for (int i = 0; i < 4; ++i) {
            press(Qt::Key_Tab);
            order << QApplication::focusWidget();
        }
        return order;
    };
    EXPECT_EQ(tabOrder(), (QList<QWidget*>{FForm.CheckBox1, FForm.Edit1, FForm.Button1, FForm.CheckBox1}));

    FForm.Button1->setFocus();
    press(Qt::Key_Return);
    EXPECT_EQ(FDialogShown, 1);

    FForm.Edit1->setFocus();
    FForm.Edit1->setText(Path("missing.pdf"));
    press(Qt::Key_Return);
    ASSERT_TRUE(ProcessEventsUntil([this] { return !FForm.IsBusy(); }));
    EXPECT_EQ(FErrors, QStringList{Path("missing.pdf") + ": No such file"});
    FForm.Edit1->setText(pdf);
    press(Qt::Key_Enter);
    ASSERT_TRUE(ProcessEventsUntil([this] { return !FForm.IsBusy(); }));
    EXPECT_EQ(ReadAll(Path("doc.txt")), ThreePagesText);
    EXPECT_EQ(FForm.Label1->text(), "doc.txt written: 3 pages");
    EXPECT_EQ(FDialogShown, 1);

    EXPECT_TRUE(Drop(FForm, FileUrls({pdf, pdf})));
    ASSERT_TRUE(ProcessEventsUntil([this] { return !FForm.IsBusy(); }));
    EXPECT_EQ(tabOrder(), (QList<QWidget*>{FForm.CheckBox1, FForm.Edit1, FForm.Label1, FForm.Button1}));
    FForm.Edit1->setFocus();
    press(Qt::Key_Tab);
    press(Qt::Key_Return);
    EXPECT_EQ(FDetails.value(0), "2 files: 2 converted");
}

TEST_F(ConverterWindow, UnpairedSurrogatesBecomeReplacementCharacters) {
    // x, lone high, y, pair, z, lone low, and a lone high as the last character.
    Run({Write("s.pdf", SurrogatePdf("xAyBzCA"))});
    EXPECT_TRUE(FErrors.isEmpty()) << FErrors.join("; ").toStdString();
    EXPECT_EQ(ReadAll(Path("s.txt")),
              "\xEF\xBB\xBF" "x\xEF\xBF\xBDy\xF0\x9F\x98\x80z\xEF\xBF\xBD\xEF\xBF\xBD\r\n");
}

TEST_F(ConverterWindow, NameMappingAndReplacingAnExistingFile) {
    const QByteArray onePage = SimpleTextPdf({{"One"}});
    Write("annual.report.txt", "an older text that is longer than the new one");
    Run({Write("annual.report.PDF", onePage)});
    Run({Write("scan", onePage)});
    EXPECT_TRUE(FErrors.isEmpty()) << FErrors.join("; ").toStdString();
    EXPECT_EQ(ReadAll(Path("annual.report.txt")), "\xEF\xBB\xBFOne\r\n");
    EXPECT_EQ(ReadAll(Path("scan.txt")), "\xEF\xBB\xBFOne\r\n");
    EXPECT_EQ(Entries(), (QStringList{"annual.report.PDF", "annual.report.txt", "scan", "scan.txt"}));
}

// No file, and an empty bar rather than the busy indicator Qt draws for an
// empty range (after a run that had set another maximum).
TEST_F(ConverterWindow, DocumentWithoutPagesWritesNoFile) {
    Run({Write("three.pdf", SimpleTextPdf(ThreePages))});
    Run({Write("empty.pdf", EmptyPdf())});
    EXPECT_TRUE(FErrors.isEmpty()) << FErrors.join("; ").toStdString();
    EXPECT_EQ(Entries(), (QStringList{"empty.pdf", "three.pdf", "three.txt"}));
    EXPECT_EQ(FForm.windowTitle(), "empty.pdf");
    EXPECT_EQ(FForm.Label1->text(), "Nothing written: empty.pdf has no pages");
    EXPECT_EQ(FForm.ProgressBar1->minimum(), 0);
    EXPECT_EQ(FForm.ProgressBar1->maximum(), 1);
    ExpectCleanedUp();
}

// A PDF named like its text file is not replaced by its own text.
TEST_F(ConverterWindow, APdfNamedLikeItsTextFileStays) {
    const QByteArray pdf = SimpleTextPdf({{"One"}});
    Run({Write("doc.txt", pdf)});
    EXPECT_EQ(FErrors, QStringList{Path("doc.txt") + ": its text file would be the file itself, doc.txt; nothing written"});
    EXPECT_EQ(ReadAll(Path("doc.txt")), pdf);
    EXPECT_EQ(Entries(), QStringList{"doc.txt"});
    ExpectCleanedUp();
}

// A page that cannot be opened ends the run with its message: no partial file,
// and an earlier text file stays as it was.
TEST_F(ConverterWindow, APageThatCannotBeOpenedEndsTheRun) {
    Write("gap.txt", "earlier");
    Run({Write("gap.pdf", testing_support::MissingSecondPagePdf())});
    EXPECT_EQ(FErrors, QStringList{Path("gap.pdf") + ": Cannot open page 2"});
    EXPECT_EQ(ReadAll(Path("gap.txt")), "earlier");
    EXPECT_EQ(Entries(), (QStringList{"gap.pdf", "gap.txt"}));
    ExpectCleanedUp();
}

TEST_F(ConverterWindow, CancelledDialogChangesNothing) {
    FForm.Edit1->setText("before");
    Run({std::nullopt});
    EXPECT_EQ(FDialogShown, 1);
    EXPECT_EQ(FForm.Edit1->text(), "before");
    EXPECT_EQ(FForm.windowTitle(), "Kestrune");
    EXPECT_TRUE(FErrors.isEmpty());
    ExpectCleanedUp();
}

// A name that is no existing file (a mistyped name, a file gone since it was
// chosen) or a folder is said, naming it; nothing is written. The title names
// the file that failed, not the one before.
TEST_F(ConverterWindow, MissingFileOrFolderIsNamedInTheMessage) {
    QDir(FDir.path()).mkdir("folder.pdf");
    Run({Write("good.pdf", SimpleTextPdf({{"Fine"}}))});
    Run({Path("missing.PDF")});
    EXPECT_EQ(FForm.Edit1->text(), Path("missing.PDF"));
    EXPECT_EQ(FForm.windowTitle(), "missing.PDF");
    EXPECT_EQ(FForm.Label1->text(), "Nothing written for missing.PDF");
    Run({Path("folder.pdf")});
    EXPECT_EQ(FErrors, (QStringList{Path("missing.PDF") + ": No such file", Path("folder.pdf") + ": Is a folder, not a file"}));
    EXPECT_EQ(FForm.windowTitle(), "folder.pdf");
    QFile::remove(Path("good.pdf"));
    QFile::remove(Path("good.txt"));
    EXPECT_TRUE(Entries().isEmpty());
    ExpectCleanedUp();
}

TEST_F(ConverterWindow, UnreadableDocumentShowsTheEngineText) {
    Run({Write("broken.pdf", "this is no PDF at all")});
    ASSERT_EQ(FErrors.size(), 1);
    // The engine's own text for a damaged file replaces the component's message.
    EXPECT_EQ(FErrors[0], Path("broken.pdf") + ": File not in PDF format or corrupted");
    EXPECT_EQ(FForm.windowTitle(), "broken.pdf");
    EXPECT_EQ(FForm.Label1->text(), "Nothing written for broken.pdf");
    EXPECT_EQ(Entries(), QStringList{"broken.pdf"});
    ExpectCleanedUp();

    // The window goes on: the next run converts.
    Run({Write("good.pdf", SimpleTextPdf({{"Fine"}}))});
    EXPECT_EQ(FErrors.size(), 1);
    EXPECT_EQ(ReadAll(Path("good.txt")), "\xEF\xBB\xBF" "Fine\r\n");
    EXPECT_EQ(FForm.Label1->text(), "good.txt written: 1 page");
}

TEST_F(ConverterWindow, OutputFileErrorIsShownAndTheEarlierFileStays) {
    const QString pdf = Write("doc.pdf", SimpleTextPdf(ThreePages));
    Write("doc.txt", "earlier");
    {
        FileSizeLimit limit(10);  // smaller than the new text, so the write fails
        Run({pdf});
    }
    ASSERT_EQ(FErrors.size(), 1);
    EXPECT_EQ(FErrors[0], pdf + ": Cannot write file \"" + Path("doc.txt") + "\". File too large");
    EXPECT_EQ(ReadAll(Path("doc.txt")), "earlier");
    EXPECT_EQ(Entries(), (QStringList{"doc.pdf", "doc.txt"}));
    ExpectCleanedUp();

    QFile::remove(Path("doc.txt"));
    QDir(FDir.path()).mkdir("doc.txt");
    Run({pdf});
    ASSERT_EQ(FErrors.size(), 2);
    EXPECT_TRUE(FErrors[1].startsWith(pdf + ": Cannot create file \"" + Path("doc.txt") + "\".")) << FErrors[1].toStdString();
    ExpectCleanedUp();
}

// While the run lasts: the busy cursor, and the progress bar with its
// percentage following the pages, up to the last one. A page a worker has
// begun counts as part of its work: the bar leaves 0% before a whole page is done.
TEST_F(ConverterWindow, ShowsProgressAndBusyCursorDuringTheRun) {
    const QString pdf = Write("doc.pdf", testing_support::VariedTextPdf(120));
    QList<double> shares;  // of the whole, as the bar shows it
    QStringList figures, expectedFigures;
    QList<Qt::CursorShape> cursors;
    QObject::connect(FForm.ProgressBar1, &QProgressBar::valueChanged, &FForm, [&](int value) {
        if (value == 0) return;  // the clean-up
        const QProgressBar& bar = *FForm.ProgressBar1;
        shares.append(double(value) / bar.maximum());
        figures.append(bar.isTextVisible() ? bar.text() : QString());
        expectedFigures.append(QStringLiteral("%1%").arg(value * 100 / bar.maximum()));
        cursors.append(FForm.cursor().shape());
    });
    Run({pdf});
    EXPECT_TRUE(FErrors.isEmpty()) << FErrors.join("; ").toStdString();
    ASSERT_GE(shares.size(), 2);
    EXPECT_LT(shares.first() * 120, 1);
    EXPECT_TRUE(std::is_sorted(shares.begin(), shares.end()));
    EXPECT_EQ(shares.last(), 1);
    EXPECT_EQ(figures, expectedFigures);
    EXPECT_EQ(figures.last(), "100%");
    EXPECT_EQ(cursors, QList<Qt::CursorShape>(cursors.size(), Qt::WaitCursor));
    ExpectCleanedUp();
}

// A second click during a run, while the first one lets events run after its
// first page: the file chosen then is converted after the first one, and both
// get their text; a cancelled second dialog changes nothing, and a missing
// second file is named once its turn comes.
TEST_F(ConverterWindow, SecondClickDuringARun) {
    struct Case {
        const char* name;
        std::optional<QString> secondChoice;  // relative to the folder
        QStringList errors;
        bool otherWritten;
    };
    const Case cases[] = {
        {"cancelled", std::nullopt, {}, false},
        {"existing file", QString("other.pdf"), {}, true},
        {"missing file", QString("missing.pdf"), {Path("missing.pdf") + ": No such file"}, false},
    };
    const QString pdf = Write("doc.pdf", SimpleTextPdf(ThreePages));
    Write("other.pdf", SimpleTextPdf({{"Other"}}));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FErrors.clear();
        QFile::remove(Path("doc.txt"));
        QFile::remove(Path("other.txt"));
        const std::optional<QString> second = c.secondChoice ? std::optional(Path(*c.secondChoice)) : std::nullopt;
        bool firstRunning = false;
        FOnDialog = [&] {
            QTimer::singleShot(0, &FForm, [&] {
                firstRunning = FForm.IsBusy();
                Click({second});
            });
        };
        Run({pdf});
        EXPECT_TRUE(firstRunning);
        EXPECT_EQ(FErrors, c.errors);
        EXPECT_EQ(ReadAll(Path("doc.txt")), ThreePagesText);
        if (c.otherWritten) EXPECT_EQ(ReadAll(Path("other.txt")), "\xEF\xBB\xBF" "Other\r\n");
        else EXPECT_FALSE(QFile::exists(Path("other.txt")));
        EXPECT_EQ(FForm.Edit1->text(), second.value_or(pdf));
        ExpectCleanedUp();
    }
}

namespace {

// The child processes of this process (of any of its threads).
QStringList ChildProcesses() {
    QStringList children;
    for (const QString& task : QDir("/proc/self/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        children += QString::fromLatin1(ReadAll("/proc/self/task/" + task + "/children")).split(' ', Qt::SkipEmptyParts);
    return children;
}

}  // namespace

// Closing the window during a run stops it at once: its workers are gone, no
// text file is written for it (an earlier one stays as it was, no temporary
// file is left), a file waiting for its turn is not converted, and the
// program's event loop ends.
TEST_F(ConverterWindow, ClosingTheWindowDuringARunStopsIt) {
    // Some 30 ms a page in each worker: seconds in all, closed long before its end.
    const QString pdf = Write("doc.pdf", testing_support::SlowTextPdf(200));
    const QString other = Write("other.pdf", SimpleTextPdf({{"Other"}}));
    Write("doc.txt", "earlier");
    FForm.show();
    QStringList workersBeforeClose;
    // Closed once the workers have sent their first pages.
    QObject::connect(FForm.ProgressBar1, &QProgressBar::valueChanged, &FForm, [&](int value) {
        if (value == 0 || !workersBeforeClose.isEmpty()) return;
        workersBeforeClose = ChildProcesses();
        FForm.ConvertFilesLater({other});
        FForm.close();
    });
    QTimer::singleShot(0, &FForm, [&] { Click({pdf}); });
    QTimer safetyNet;  // a safety net only
    safetyNet.callOnTimeout([] { QCoreApplication::exit(1); });
    safetyNet.start(20000);
    EXPECT_EQ(QApplication::exec(), 0);
    EXPECT_FALSE(workersBeforeClose.isEmpty());
    EXPECT_EQ(ChildProcesses(), QStringList());
    EXPECT_FALSE(FForm.IsBusy());
    EXPECT_TRUE(FErrors.isEmpty()) << FErrors.join("; ").toStdString();
    EXPECT_EQ(ReadAll(Path("doc.txt")), "earlier");
    EXPECT_EQ(Entries(), (QStringList{"doc.pdf", "doc.txt", "other.pdf"}));
    ExpectCleanedUp();
}

// Stopping a run (the Stop button beside the bar, or Escape) ends it at once
// and the window stays: no text file for the file being converted (an earlier
// one stays as it was), the file waiting is not converted, the workers are
// gone, and the line says so, with the file written before; its details list
// each file.
TEST_F(ConverterWindow, StoppingARunKeepsTheWindow) {
    const std::pair<const char*, std::function<void()>> ways[] = {
        {"the Stop button", [this] { FForm.StopButton->click(); }},
        {"Escape",
         [this] {
             QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
             QApplication::sendEvent(FForm.Edit1, &escape);
         }},
    };
    const QString a = Write("a.pdf", SimpleTextPdf({{"A"}}));
    // Some 30 ms a page in each worker: seconds in all, stopped long before its end.
    const QString slow = Write("slow.pdf", testing_support::SlowTextPdf(200));
    const QString b = Write("b.pdf", SimpleTextPdf({{"B"}}));
    FForm.show();
    for (const auto& [name, stop] : ways) {
        SCOPED_TRACE(name);
        QFile::remove(Path("a.txt"));
        Write("slow.txt", "earlier");
        FDetails.clear();
        QString lineDuringRun;
        bool stopShown = false;
        const QMetaObject::Connection watch =
            QObject::connect(FForm.ProgressBar1, &QProgressBar::valueChanged, &FForm, [&](int value) {
                if (value == 0 || FForm.Edit1->text() != slow || stopShown) return;
                lineDuringRun = FForm.Label1->text();
                stopShown = FForm.StopButton->isVisible();
                QTimer::singleShot(0, &FForm, stop);
            });
        EXPECT_TRUE(Drop(FForm, FileUrls({a, slow, b})));
        ASSERT_TRUE(ProcessEventsUntil([&] { return !FForm.IsBusy(); }));
        QObject::disconnect(watch);
        EXPECT_EQ(lineDuringRun, "1 converted; 1 more waiting");
        EXPECT_TRUE(stopShown);
        EXPECT_TRUE(FErrors.isEmpty()) << FErrors.join("; ").toStdString();
        EXPECT_EQ(ReadAll(Path("a.txt")), "\xEF\xBB\xBF" "A\r\n");
        EXPECT_EQ(ReadAll(Path("slow.txt")), "earlier");
        EXPECT_EQ(Entries(), (QStringList{"a.pdf", "a.txt", "b.pdf", "slow.pdf", "slow.txt"}));
        EXPECT_EQ(ChildProcesses(), QStringList());
        EXPECT_TRUE(FForm.isVisible());
        EXPECT_EQ(LineText(*FForm.Label1), "Stopped: nothing written for slow.pdf; 1 file written (details)")
            << FForm.Label1->text().toStdString();
        emit FForm.Label1->linkActivated("details");
        EXPECT_EQ(FDetails, (QStringList{"Stopped: nothing written for slow.pdf; 1 file written",
                                         a + ": a.txt written: 1 page\n" + slow + ": stopped, nothing written\n" + b +
                                             ": not converted, the run was stopped before its turn"}));
        ExpectCleanedUp();
    }
    // The window goes on: the next run converts.
    Run({b});
    EXPECT_EQ(FForm.Label1->text(), "b.txt written: 1 page");
}

// A worker process that dies (here killed: a crash would be caught by the
// sanitizers' handler in their build) fails the run with a message naming the
// file, also for a file chosen in the dialog.
TEST_F(ConverterWindow, AWorkerThatDiesIsNamedWithItsFile) {
    const QString pdf = Write("slow.pdf", testing_support::SlowTextPdf(200));
    bool killed = false;
    QObject::connect(FForm.ProgressBar1, &QProgressBar::valueChanged, &FForm, [&](int value) {
        if (value == 0 || killed) return;
        killed = true;
        for (const QString& worker : ChildProcesses()) ::kill(worker.toInt(), SIGKILL);
    });
    Run({pdf});
    EXPECT_TRUE(killed);
    EXPECT_EQ(FErrors, QStringList{pdf + ": its worker process was ended by signal SIGKILL (Killed)"});
    EXPECT_EQ(FForm.windowTitle(), "slow.pdf");
    EXPECT_EQ(FForm.Label1->text(), "Nothing written for slow.pdf");
    EXPECT_EQ(Entries(), QStringList{"slow.pdf"});
    ExpectCleanedUp();
}

// Closing the window while a message box or a dialog shows ends the program
// too: no dialog is modal to Qt (a window under one refuses the window
// manager's close), closing the window closes the dialog, a run going on
// stops, and the files waiting are not converted.
TEST_F(ConverterWindow, ClosingTheWindowWithADialogOpenEndsTheProgram) {
    const QString broken = Write("broken.pdf", "this is no PDF at all");
    const QString slow = Write("slow.pdf", testing_support::SlowTextPdf(200));
    const QString good = Write("good.pdf", SimpleTextPdf({{"Fine"}}));
    FForm.ShowException = FRealShowException;
    FForm.ExecuteOpenDialog = FRealOpenDialog;
    struct Case {
        const char* name;
        QStringList files;
        std::function<QDialog*()> shown;  // the dialog to wait for
    };
    const Case cases[] = {
        {"the message box of a failed file", {broken, good},
         [this]() -> QDialog* {
             for (QMessageBox* box : FForm.findChildren<QMessageBox*>())
                 if (box->isVisible()) return box;
             return nullptr;
         }},
        {"the file dialog, opened during a run", {slow, good},
         [this, clicked = false]() mutable -> QDialog* {
             // Clicked from an event of its own: the dialog waits in an event loop.
             if (FForm.ProgressBar1->value() > 0 && !std::exchange(clicked, true))
                 QTimer::singleShot(0, FForm.Button1, &QPushButton::click);
             return FForm.OpenDialog1->isVisible() ? FForm.OpenDialog1 : nullptr;
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FForm.show();
        QPointer<QDialog> dialog;  // the message box goes when it is closed
        bool shown = false;
        QTimer poll;
        poll.callOnTimeout([&] {
            if (shown || !(dialog = c.shown())) return;
            shown = true;
            EXPECT_EQ(QGuiApplication::modalWindow(), nullptr);
            FForm.close();
        });
        poll.start(20);
        QTimer safetyNet;  // a safety net only
        safetyNet.callOnTimeout([] { QCoreApplication::exit(1); });
        safetyNet.start(20000);
        FForm.ConvertFilesLater(c.files);
        EXPECT_EQ(QApplication::exec(), 0);
        EXPECT_TRUE(shown);
        EXPECT_TRUE(!dialog || !dialog->isVisible());
        EXPECT_FALSE(FForm.IsBusy());
        EXPECT_EQ(ChildProcesses(), QStringList());
        EXPECT_EQ(Entries(), (QStringList{"broken.pdf", "good.pdf", "slow.pdf"}));
        ExpectCleanedUp();
    }
}

// ---- Password-protected documents -------------------------------------------

// The real password prompt, answered by Answers in turn (nothing: cancelled);
// returns the prompts' texts.
class PasswordPrompt : public ConverterWindow {
protected:
    void SetUp() override {
        ConverterWindow::SetUp();
        FRealAskPassword = FForm.AskPassword;
        FForm.AskPassword = [this](const QString& FileName, bool Retry) {
            QTimer::singleShot(0, &FForm, [this] { Answer(); });
            return FRealAskPassword(FileName, Retry);
        };
    }

    void Answer() {
        auto* dialog = FForm.findChild<QInputDialog*>("PasswordDialog");
        ASSERT_NE(dialog, nullptr);
        EXPECT_TRUE(dialog->isVisible());
        // Nothing is modal to Qt (a window under a modal dialog refuses the
        // window manager's close), yet the window takes no click meanwhile.
        EXPECT_EQ(QGuiApplication::modalWindow(), nullptr);
        const int dialogs = FDialogShown;
        ClickOn(*FForm.Button1);
        EXPECT_EQ(FDialogShown, dialogs);
        EXPECT_EQ(dialog->textEchoMode(), QLineEdit::Password);
        FPrompts.append(dialog->labelText());
        FPromptWidth = dialog->frameGeometry().width();
        if (FCloseAtPrompt) FForm.close();
        ASSERT_FALSE(FAnswers.empty());
        const std::optional<QString> answer = FAnswers.front();
        FAnswers.pop_front();
        if (!answer) {
            dialog->reject();
            return;
        }
        auto* edit = dialog->findChild<QLineEdit*>();
        ASSERT_NE(edit, nullptr);
        edit->setText(*answer);
        dialog->accept();
    }

    std::function<std::optional<QString>(const QString&, bool)> FRealAskPassword;
    std::deque<std::optional<QString>> FAnswers;
    QStringList FPrompts;
    int FPromptWidth = 0;  // the last prompt's, its frame included
    bool FCloseAtPrompt = false;  // the window is closed while the prompt shows
};

TEST_F(PasswordPrompt, AsksUntilTheRightPasswordAtMostThreeTimes) {
    const QString asked = "locked.pdf is protected by a password. Password:";
    const QString again = "Incorrect password for locked.pdf. Password:";
    const QString pdf = Write("locked.pdf", testing_support::PasswordTextPdf("secret", {"Hidden words", "More"}));
    const QString refused = pdf + ": Password required or incorrect password";
    struct Case {
        const char* name;
        std::deque<std::optional<QString>> answers;
        QStringList prompts;
        QStringList errors;
        bool written;
    };
    const Case cases[] = {
        {"right", {"secret"}, {asked}, {}, true},
        {"wrong, then right", {"guess", "secret"}, {asked, again}, {}, true},
        {"cancelled", {std::nullopt}, {asked}, {refused}, false},
        {"wrong, then cancelled", {"guess", std::nullopt}, {asked, again}, {refused}, false},
        {"three times wrong", {"a", "b", "c"}, {asked, again, again}, {refused}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(Path("locked.txt"));
        FErrors.clear();
        FPrompts.clear();
        FAnswers = c.answers;
        Run({pdf});
        EXPECT_EQ(FPrompts, c.prompts);
        EXPECT_TRUE(FAnswers.empty());
        EXPECT_EQ(FErrors, c.errors);
        if (c.written) EXPECT_EQ(ReadAll(Path("locked.txt")), "\xEF\xBB\xBF" "Hidden words\r\nMore\r\n");
        else EXPECT_EQ(Entries(), QStringList{"locked.pdf"});
        EXPECT_EQ(FForm.Label1->text(), c.written ? "locked.txt written: 2 pages" : "Nothing written for locked.pdf");
        ExpectCleanedUp();
    }
    // Without a prompt, the same click reaches the button.
    const int dialogs = FDialogShown;
    ClickOn(*FForm.Button1);
    EXPECT_EQ(FDialogShown, dialogs + 1);
}

// A name longer than the screen is wide is shortened in the middle: the
// question and the prompt's buttons stay on the screen.
TEST_F(PasswordPrompt, ALongNameKeepsThePromptOnTheScreen) {
    const QString name = QString("Minutes of the joint meeting ").repeated(6) + "on the budget.pdf";
    Write(name, testing_support::PasswordTextPdf("secret", {"Hidden words"}));
    FAnswers = {std::nullopt};
    Run({Path(name)});
    ASSERT_EQ(FPrompts.size(), 1);
    EXPECT_TRUE(FPrompts[0].startsWith("Minutes of the joint")) << FPrompts[0].toStdString();
    EXPECT_TRUE(FPrompts[0].endsWith("budget.pdf is protected by a password. Password:")) << FPrompts[0].toStdString();
    EXPECT_TRUE(FPrompts[0].contains(u'\u2026'));
    EXPECT_LE(FPromptWidth, FForm.screen()->availableSize().width());
}

// The window closed while the prompt shows: the run ends there, whatever the
// answer, without a message or a text file.
TEST_F(PasswordPrompt, ClosingTheWindowAtThePromptEndsTheRun) {
    const QString pdf = Write("locked.pdf", testing_support::PasswordTextPdf("secret", {"Hidden words"}));
    FForm.show();
    FCloseAtPrompt = true;
    FAnswers = {"secret"};
    Run({pdf});
    EXPECT_EQ(FPrompts.size(), 1);
    EXPECT_TRUE(FErrors.isEmpty()) << FErrors.join("; ").toStdString();
    EXPECT_EQ(Entries(), QStringList{"locked.pdf"});
    ExpectCleanedUp();
}

// ---- The worker processes ----------------------------------------------------

// The window's text file is byte for byte the one kestrune-text writes, on a
// document long enough to be shared among several workers in ranges.
TEST_F(ConverterWindow, WritesTheBytesOfKestruneText) {
    const QByteArray document = testing_support::VariedTextPdf(300);
    Run({Write("window.pdf", document)});
    EXPECT_TRUE(FErrors.isEmpty()) << FErrors.join("; ").toStdString();
    const QString cli = Write("cli.pdf", document);
    const RunResult text = RunProgram(KESTRUNE_TEXT_PROGRAM, {"-j", "2", cli});
    ASSERT_EQ(text.ExitCode, 0) << text.Err.toStdString();
    const QByteArray expected = ReadAll(Path("cli.txt"));
    EXPECT_GT(expected.size(), 10000);
    EXPECT_EQ(ReadAll(Path("window.txt")), expected);
    EXPECT_EQ(FForm.Label1->text(), "window.txt written: 300 pages");
}

// A worker that cannot be started ends the run with a message, not in silence.
TEST_F(ConverterWindow, AWorkerThatCannotStartIsAnError) {
    FForm.WorkerProgram = Path("no-such-program");
    Run({Write("doc.pdf", SimpleTextPdf({{"A"}}))});
    ASSERT_EQ(FErrors.size(), 1);
    EXPECT_TRUE(FErrors[0].startsWith(Path("doc.pdf") + ": cannot start a worker process")) << FErrors[0].toStdString();
    EXPECT_EQ(Entries(), QStringList{"doc.pdf"});
    ExpectCleanedUp();
}

TEST(ExceptionMessage, IsTheMessageOfEachKindOfError) {
    EXPECT_EQ(TKestruneForm::ExceptionMessage(std::make_exception_ptr(EPdfError("Cannot open page 3"))),
              "Cannot open page 3");
    EXPECT_EQ(TKestruneForm::ExceptionMessage(std::make_exception_ptr(EFileError("Cannot create file \"ä\""))),
              "Cannot create file \"ä\"");
    EXPECT_EQ(TKestruneForm::ExceptionMessage(std::make_exception_ptr(std::runtime_error("out of memory"))),
              "out of memory");
}

// ---- Files from outside: the program's arguments and drops -----------------------

namespace {

// The visible windows other than Except, by class name.
QStringList VisibleWindows(const QWidget* Except) {
    QStringList shown;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w != Except && w->isVisible()) shown.append(w->metaObject()->className());
    return shown;
}

}  // namespace

// The real dialog, accepted by name while its completion list shows: when the
// run opens its first page, no window but the converter's is on the screen and
// no pop-up waits for the next click.
TEST_F(ConverterWindow, NothingOfTheDialogRemainsDuringTheRun) {
    const QString pdf = Write("document.pdf", SimpleTextPdf(ThreePages));
    Write("documents-old.pdf", SimpleTextPdf({{"old"}}));
    FForm.ExecuteOpenDialog = FRealOpenDialog;
    FForm.OpenDialog1->setDirectory(FDir.path());
    FForm.show();
    bool popupShown = false;
    QTimer::singleShot(0, &FForm, [&] {
        auto* name = FForm.OpenDialog1->findChild<QLineEdit*>("fileNameEdit");
        ASSERT_NE(name, nullptr);
        name->setFocus();
        // The completion list comes from the dialog's file model, which reads
        // the folder in the background: typing before it has the files shows none.
        auto* files = FForm.OpenDialog1->findChild<QFileSystemModel*>();
        ASSERT_NE(files, nullptr);
        ASSERT_TRUE(ProcessEventsUntil([&] { return files->rowCount(files->index(FDir.path())) == 2; }));
        for (const QChar c : QString("document")) {
            QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
            QApplication::sendEvent(name, &press);
        }
        popupShown = ProcessEventsUntil([&] { return name->completer() && name->completer()->popup()->isVisible(); });
        name->setText(pdf);
        // The Open button, clicked while the list shows.
        auto* buttons = FForm.OpenDialog1->findChild<QDialogButtonBox*>();
        ASSERT_NE(buttons, nullptr);
        buttons->button(QDialogButtonBox::Open)->click();
    });
    QStringList windowsAtStart;
    QWidget* popupAtStart = nullptr;
    // The workers have sent pages: the run is under way.
    QObject::connect(FForm.ProgressBar1, &QProgressBar::valueChanged, &FForm, [&](int value) {
        if (value == 0) return;
        windowsAtStart = VisibleWindows(&FForm);
        popupAtStart = QApplication::activePopupWidget();
    });
    FForm.Button1->click();
    ASSERT_TRUE(ProcessEventsUntil([this] { return !FForm.IsBusy(); }));
    EXPECT_TRUE(popupShown);
    EXPECT_TRUE(windowsAtStart.isEmpty()) << windowsAtStart.join(", ").toStdString();
    EXPECT_EQ(popupAtStart, nullptr);
    EXPECT_TRUE(FErrors.isEmpty()) << FErrors.join("; ").toStdString();
    EXPECT_EQ(ReadAll(Path("document.txt")), ThreePagesText);
    EXPECT_EQ(FForm.Edit1->text(), pdf);
}

// A dropped PDF runs the conversion the dialog's choice runs, once the drop
// has returned to the dragging program.
TEST_F(ConverterWindow, ADroppedFileIsConverted) {
    const QString pdf = Write("doc.pdf", SimpleTextPdf(ThreePages));
    EXPECT_TRUE(Drop(FForm, FileUrls({pdf})));
    EXPECT_EQ(FForm.Edit1->text(), "");  // not inside the drop itself
    ASSERT_TRUE(ProcessEventsUntil([&] { return !FForm.IsBusy(); }));
    EXPECT_TRUE(FErrors.isEmpty()) << FErrors.join("; ").toStdString();
    EXPECT_EQ(ReadAll(Path("doc.txt")), ThreePagesText);
    EXPECT_EQ(FForm.Edit1->text(), pdf);
    EXPECT_EQ(FForm.windowTitle(), "doc.pdf");
    EXPECT_EQ(FDialogShown, 0);
    ExpectCleanedUp();
}

// Several files are converted in turn; a file that is no PDF gets the
// engine's message, naming the file, and the next one still runs. The line
// shows the files waiting, then the counts, with the details of each file.
TEST_F(ConverterWindow, SeveralDroppedFilesAreConvertedInTurn) {
    const QString a = Write("a.pdf", SimpleTextPdf({{"A"}}));
    const QString notes = Write("notes.text", "plain words, no PDF");
    const QString b = Write("b.PDF", SimpleTextPdf({{"B"}, {"D"}}));
    QStringList lines;  // while each file runs
    QObject::connect(FForm.ProgressBar1, &QProgressBar::valueChanged, &FForm, [&](int value) {
        if (value > 0 && (lines.isEmpty() || lines.last() != FForm.Label1->text())) lines << FForm.Label1->text();
    });
    EXPECT_TRUE(Drop(FForm, FileUrls({a, notes, b})));
    ASSERT_TRUE(ProcessEventsUntil([&] { return !FForm.IsBusy(); }));
    EXPECT_EQ(FErrors, QStringList{notes + ": File not in PDF format or corrupted"});
    EXPECT_EQ(ReadAll(Path("a.txt")), "\xEF\xBB\xBF" "A\r\n");
    EXPECT_EQ(ReadAll(Path("b.txt")), "\xEF\xBB\xBF" "B\r\nD\r\n");
    EXPECT_EQ(ReadAll(notes), "plain words, no PDF");
    EXPECT_EQ(FForm.Edit1->text(), b);
    EXPECT_EQ(lines, (QStringList{"2 more waiting", "1 converted, 1 failed"}));
    EXPECT_EQ(LineText(*FForm.Label1), "3 files: 2 converted, 1 failed (details)");
    emit FForm.Label1->linkActivated("details");
    EXPECT_EQ(FDetails, (QStringList{"3 files: 2 converted, 1 failed",
                                     a + ": a.txt written: 1 page\n" + notes + ": File not in PDF format or corrupted\n" +
                                         b + ": b.txt written: 2 pages"}));
    ExpectCleanedUp();
}

// What is not a set of local files and folders is refused: the drag shows it
// cannot drop, and nothing runs.
TEST_F(ConverterWindow, DragsOfOtherThingsAreRefused) {
    const QString pdf = Write("doc.pdf", SimpleTextPdf({{"A"}}));
    auto text = new QMimeData;
    text->setText(pdf);
    auto web = new QMimeData;
    web->setUrls({QUrl("https://example.org/doc.pdf")});
    auto mixed = FileUrls({pdf});
    mixed->setUrls(mixed->urls() << QUrl("https://example.org/doc.pdf"));
    const std::pair<const char*, QMimeData*> cases[] = {
        {"text", text},
        {"web address", web},
        {"file and web address", mixed},
        {"no URL", new QMimeData},
    };
    for (const auto& [name, data] : cases) EXPECT_FALSE(Drop(FForm, data)) << name;
    QCoreApplication::processEvents();
    EXPECT_EQ(Entries(), QStringList{"doc.pdf"});
    EXPECT_EQ(FForm.Edit1->text(), "");
}

// A dropped folder stands for the PDF files below it (any case of the
// extension, in subfolders too, in the order of their paths); its other files
// stay as they are. A folder without any PDF file is said.
TEST_F(ConverterWindow, ADroppedFolderConvertsItsPdfFiles) {
    QDir(FDir.path()).mkpath("box/sub");
    QDir(FDir.path()).mkpath("nothing");
    Write("box/b.pdf", SimpleTextPdf({{"B"}}));
    Write("box/sub/a.PDF", SimpleTextPdf({{"A"}}));
    Write("box/notes.text", "not converted");
    Write("nothing/notes.text", "not converted");
    EXPECT_TRUE(Drop(FForm, FileUrls({Path("box"), Path("nothing")})));
    ASSERT_TRUE(ProcessEventsUntil([&] { return !FForm.IsBusy(); }));
    EXPECT_EQ(FErrors, QStringList{Path("nothing") + ": the folder holds no PDF file"});
    EXPECT_EQ(ReadAll(Path("box/b.txt")), "\xEF\xBB\xBF" "B\r\n");
    EXPECT_EQ(ReadAll(Path("box/sub/a.txt")), "\xEF\xBB\xBF" "A\r\n");
    EXPECT_EQ(QDir(Path("box")).entryList(QDir::Files), (QStringList{"b.pdf", "b.txt", "notes.text"}));
    EXPECT_EQ(FForm.Edit1->text(), Path("box/sub/a.PDF"));  // the last in path order
    ExpectCleanedUp();
}

// A file dropped while a run lasts waits for that run, then converts.
TEST_F(ConverterWindow, ADropDuringARunWaitsForIt) {
    const QString pdf = Write("doc.pdf", SimpleTextPdf(ThreePages));
    const QString other = Write("other.pdf", SimpleTextPdf({{"Other"}}));
    FOnDialog = [&] { QTimer::singleShot(0, &FForm, [&] { EXPECT_TRUE(Drop(FForm, FileUrls({other}))); }); };
    Run({pdf});
    EXPECT_EQ(ReadAll(Path("doc.txt")), ThreePagesText);
    EXPECT_TRUE(FErrors.isEmpty()) << FErrors.join("; ").toStdString();
    EXPECT_EQ(ReadAll(Path("other.txt")), "\xEF\xBB\xBF" "Other\r\n");
    ExpectCleanedUp();
}

// The program itself, started as the desktop entry starts it: "kestrune FILE".
// It converts the file at the start (a relative name is taken from the working
// folder); the window then stays open until it is closed.
TEST_F(ConverterWindow, TheProgramConvertsItsFileArgument) {
    Write("doc.pdf", SimpleTextPdf(ThreePages));
    RunOptions options{.WorkingDirectory = FDir.path(), .Timeout = std::chrono::seconds(10)};
    options.Environment.insert("QT_QPA_PLATFORM", "offscreen");
    ProgramRun program(KESTRUNE_PROGRAM, {"doc.pdf"}, options);
    ASSERT_TRUE(program.Started());
    const bool converted = ProcessEventsUntil([&] {
        return ReadAll(Path("doc.txt")) == ThreePagesText || program.Process().state() == QProcess::NotRunning;
    });
    EXPECT_TRUE(converted);
    EXPECT_EQ(ReadAll(Path("doc.txt")), ThreePagesText);
    EXPECT_EQ(program.Process().state(), QProcess::Running);
    program.Process().terminate();
    program.Finish();  // within the time limit: a window asked to close ends soon
}

// "kestrune --version" and "--help" print and end, also where no display is
// reachable (the window's platform could not start there); the window itself
// then says what is missing, in one line.
TEST(Program, VersionAndHelpNeedNoDisplay) {
    RunOptions options;
    options.Environment.remove("DISPLAY");
    options.Environment.remove("WAYLAND_DISPLAY");
    options.Environment.insert("QT_QPA_PLATFORM", "xcb");
    const RunResult window = RunProgram(KESTRUNE_PROGRAM, {"doc.pdf"}, options);
    EXPECT_EQ(window.ExitCode, 1);
    EXPECT_EQ(window.Err, "kestrune: no display: set DISPLAY or use kestrune-text\n");
    const RunResult version = RunProgram(KESTRUNE_PROGRAM, {"--version"}, options);
    EXPECT_EQ(version.ExitCode, 0);
    EXPECT_EQ(version.Out, "Kestrune " KESTRUNE_VERSION "\n");
    const RunResult help = RunProgram(KESTRUNE_PROGRAM, {"--help"}, options);
    EXPECT_EQ(help.ExitCode, 0);
    EXPECT_TRUE(help.Out.contains("[FILE...]"));
}
