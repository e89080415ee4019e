// kestrune-text, run as the built program on files written into a temporary folder.
#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>
#include <cstring>
#include <stdexcept>
#include <thread>

#include "window/KestruneUnit.h"
#include "support/ApplicationEnvironment.h"
#include "support/LayoutFixtures.h"
#include "support/PdfBuilder.h"
#include "support/ProgramRun.h"
#include "support/TestHelpers.h"
#include "convert/PageFormat.h"
#include "convert/TextOutput.h"
#include <kestrune/LayoutFormats.h>

using namespace kestrune;
using testing_support::PdfBuilder;
using testing_support::ReadAll;
using testing_support::RunOptions;
using testing_support::RunProgram;
using testing_support::RunResult;
using testing_support::SimpleTextPdf;
using testing_support::WriteFile;

namespace {

[[maybe_unused]] testing::Environment* const Environment =
    testing::AddGlobalTestEnvironment(new testing_support::ApplicationEnvironment("test_kestrune_text"));

class KestruneText : public testing::Test {
protected:
    QString Path(const QString& name) const { return FDir.filePath(name); }
    QString Write(const QString& name, const QByteArray& bytes) const { return WriteFile(Path(name), bytes); }
    QStringList Entries() const { return QDir(FDir.path()).entryList(QDir::Files | QDir::NoDotAndDotDot); }

    // Runs the program with Input on its standard input; FileSizeLimit, when
    // set, limits the size of the files it writes (SIGXFSZ left as it is, so
    // that the program itself must turn the limit into an error).
    RunResult Run(const QStringList& arguments, const QByteArray& Input = {}) {
        RunOptions options{.WorkingDirectory = FDir.path(), .Input = Input};
        if (FFileSizeLimit) {
            options.InChild = [limit = FFileSizeLimit] {
                std::signal(SIGXFSZ, SIG_DFL);
                rlimit r{limit, limit};
                setrlimit(RLIMIT_FSIZE, &r);
            };
        }
        return RunProgram(QStringLiteral(KESTRUNE_TEXT_PROGRAM), arguments, options);
    }

    QTemporaryDir FDir;
    rlim_t FFileSizeLimit = 0;
};

const QByteArray TwoPagesText = "\xEF\xBB\xBF" "Hello\r\nWorld\r\n" "\r\n";

}  // namespace

TEST_F(KestruneText, ConvertsEachFileBesideIt) {
    const QString a = Write("a.pdf", SimpleTextPdf({{"Hello", "World"}, {}}));
    const QString b = Write("annual.report.PDF", SimpleTextPdf({{"B"}}));
    const RunResult r = Run({a, b});
    EXPECT_EQ(r.ExitCode, 0);
    EXPECT_EQ(r.Err, "");  // no progress when standard error is no terminal
    EXPECT_EQ(r.Out, "");
    EXPECT_EQ(ReadAll(Path("a.txt")), TwoPagesText);
    EXPECT_EQ(ReadAll(Path("annual.report.txt")), "\xEF\xBB\xBF" "B\r\n");
}

// The same bytes as the window writes for the same file.
TEST_F(KestruneText, WritesTheWindowsBytes) {
    const QString pdf = Write("mixed.pdf", SimpleTextPdf({{"caf\xE9 na\xEFve", "(brackets) \\ back"}, {"x"}, {}}));
    TKestruneForm form;
    form.ExecuteOpenDialog = [&] { return std::optional(pdf); };
    form.ShowException = [](const QString& m) { ADD_FAILURE() << m.toStdString(); };
    form.WorkerProgram = KESTRUNE_PROGRAM;  // the window's own worker processes
    form.Button1->click();
    QElapsedTimer clock;
    clock.start();
    while (form.IsBusy() && clock.elapsed() < 30000) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    const QByteArray windowBytes = ReadAll(Path("mixed.txt"));
    ASSERT_FALSE(windowBytes.isEmpty());
    ASSERT_TRUE(QFile::remove(Path("mixed.txt")));

    EXPECT_EQ(Run({pdf}).ExitCode, 0);
    EXPECT_EQ(ReadAll(Path("mixed.txt")), windowBytes);
    const RunResult toStdout = Run({"-o", "-", pdf});
    EXPECT_EQ(toStdout.ExitCode, 0);
    EXPECT_EQ(toStdout.Out, windowBytes);
}

TEST_F(KestruneText, FailuresGetOneLineEachAndTheRunGoesOn) {
    const QString broken = Write("broken.pdf", "no PDF");
    const QString good = Write("good.pdf", SimpleTextPdf({{"Good"}}));
    const QString missing = Path("missing.pdf");
    const RunResult r = Run({broken, missing, good});
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_EQ(r.Err, "kestrune-text: " + broken.toUtf8() + ": File not in PDF format or corrupted\n" +
                         "kestrune-text: " + missing.toUtf8() + ": No such file\n");
    EXPECT_EQ(ReadAll(Path("good.txt")), "\xEF\xBB\xBFGood\r\n");
    EXPECT_EQ(Entries(), (QStringList{"broken.pdf", "good.pdf", "good.txt"}));
}

TEST_F(KestruneText, DocumentWithoutPagesWritesNothing) {
    const QString pdf = Write("empty.pdf", testing_support::EmptyPdf());
    const RunResult r = Run({pdf});
    EXPECT_EQ(r.ExitCode, 0);
    EXPECT_EQ(r.Err, "kestrune-text: " + pdf.toUtf8() + ": the document has no pages; no text file written\n");
    EXPECT_EQ(Entries(), QStringList{"empty.pdf"});
    EXPECT_EQ(Run({"-q", pdf}).Err, "");
}

TEST_F(KestruneText, OutputPath) {
    const QString pdf = Write("a.pdf", SimpleTextPdf({{"Hello", "World"}, {}}));
    const RunResult r = Run({"-o", Path("elsewhere.text"), pdf});
    EXPECT_EQ(r.ExitCode, 0);
    EXPECT_EQ(ReadAll(Path("elsewhere.text")), TwoPagesText);
    EXPECT_FALSE(QFile::exists(Path("a.txt")));

    // A failed document writes nothing to standard output.
    const RunResult failed = Run({"-o", "-", Write("bad.pdf", "junk")});
    EXPECT_EQ(failed.ExitCode, 1);
    EXPECT_EQ(failed.Out, "");
}

// A write that the file system refuses part-way (the file size limit: a short
// write, then EFBIG) names its cause and keeps the earlier file.
TEST_F(KestruneText, AFailedWriteKeepsTheEarlierFile) {
    const QString pdf = Write("a.pdf", SimpleTextPdf({{"Hello", "World"}, {}}));
    Write("a.txt", "earlier");
    FFileSizeLimit = 8;  // below the new file's size
    const RunResult r = Run({pdf});
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_EQ(r.Err, "kestrune-text: " + pdf.toUtf8() + ": Cannot write file \"" + Path("a.txt").toUtf8() +
                         "\". File too large\n");
    EXPECT_EQ(ReadAll(Path("a.txt")), "earlier");
    EXPECT_EQ(Entries(), (QStringList{"a.pdf", "a.txt"}));
}

// The text must never land on the PDF itself: a PDF named like its own text
// file, or an output path that names the input.
TEST_F(KestruneText, TheInputIsNeverItsOwnTarget) {
    const QByteArray pdf = SimpleTextPdf({{"Hello"}});
    Write("doc.txt", pdf);
    Write("same.pdf", pdf);
    struct Case {
        QStringList arguments;
        const char* line;
    };
    const Case cases[] = {
        {{"doc.txt"}, "kestrune-text: doc.txt: its text file doc.txt is the input doc.txt; nothing written\n"},
        {{"-o", "./same.pdf", "same.pdf"},
         "kestrune-text: same.pdf: its text file ./same.pdf is the input same.pdf; nothing written\n"},
    };
    for (const Case& c : cases) {
        const RunResult r = Run(c.arguments);
        EXPECT_EQ(r.ExitCode, 1) << c.line;
        EXPECT_EQ(r.Err, c.line);
    }
    EXPECT_EQ(ReadAll(Path("doc.txt")), pdf);
    EXPECT_EQ(ReadAll(Path("same.pdf")), pdf);
    EXPECT_EQ(Entries(), (QStringList{"doc.txt", "same.pdf"}));
}

// A page that cannot be opened in the middle of a document, after earlier
// pages went into the temporary file: the earlier text file stays byte for
// byte, and no temporary file is left.
TEST_F(KestruneText, AFailureWhileStreamingKeepsTheEarlierFile) {
    PdfBuilder b;
    const int catalog = b.Reserve();
    const int pages = b.Reserve();
    const int font = b.Add("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
    const int one = b.AddTextPage(pages, font, b.AddStream("<< >>", "BT /F1 12 Tf 72 720 Td (One) Tj ET"));
    const int two = b.AddTextPage(pages, font, b.AddStream("<< >>", "BT /F1 12 Tf 72 720 Td (Two) Tj ET"));
    b.SetPageTree(catalog, pages, {one, two, b.Add("42")});  // the third page is no page
    const QString pdf = Write("a.pdf", b.Build(catalog));
    const QByteArray earlier = QByteArray("\xEF\xBB\xBF" "earlier text\r\n").repeated(1000);
    Write("a.txt", earlier);

    const RunResult r = Run({pdf});
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_EQ(r.Err, "kestrune-text: " + pdf.toUtf8() + ": Cannot open page 3\n");
    EXPECT_EQ(ReadAll(Path("a.txt")), earlier);
    EXPECT_EQ(Entries(), (QStringList{"a.pdf", "a.txt"}));

    // The pages before it are fine on their own.
    EXPECT_EQ(Run({"-l", "2", "-o", "-", pdf}).Out, "\xEF\xBB\xBF" "One\r\nTwo\r\n");
}

TEST_F(KestruneText, PasswordOpensProtectedFiles) {
    const QString qpdf = QStandardPaths::findExecutable("qpdf");
    if (qpdf.isEmpty()) GTEST_SKIP() << "qpdf is not installed";
    const QString plain = Write("plain.pdf", SimpleTextPdf({{"Secret"}}));
    const QString locked = Path("locked.pdf");
    ASSERT_EQ(QProcess::execute(qpdf, {"--encrypt", "user-pw", "owner-pw", "256", "--", plain, locked}), 0);

    const RunResult without = Run({locked});
    EXPECT_EQ(without.ExitCode, 1);
    EXPECT_EQ(without.Err, "kestrune-text: " + locked.toUtf8() + ": Password required or incorrect password\n");
    EXPECT_FALSE(QFile::exists(Path("locked.txt")));

    EXPECT_EQ(Run({"--password", "user-pw", locked}).ExitCode, 0);
    EXPECT_EQ(ReadAll(Path("locked.txt")), "\xEF\xBB\xBFSecret\r\n");

    // Kept out of process lists: from a descriptor, or from the environment.
    Write("secret", "user-pw\nrest");
    RunOptions options{.WorkingDirectory = FDir.path()};
    options.Environment.insert("KESTRUNE_PASSWORD", "wrong");
    const auto run = [&](const QString& Script) {
        QFile::remove(Path("locked.txt"));
        return RunProgram("sh", {"-c", Script, QStringLiteral(KESTRUNE_TEXT_PROGRAM), locked}, options);
    };
    RunResult r = run("exec \"$0\" --password-fd 3 \"$1\" 3< secret");
    EXPECT_EQ(r.ExitCode, 0) << r.Err.data();
    EXPECT_EQ(ReadAll(Path("locked.txt")), "\xEF\xBB\xBFSecret\r\n");
    EXPECT_EQ(run("exec \"$0\" \"$1\"").ExitCode, 1);  // the environment's wrong password
    r = run("KESTRUNE_PASSWORD=user-pw exec \"$0\" \"$1\"");
    EXPECT_EQ(r.ExitCode, 0) << r.Err.data();
    r = run("exec \"$0\" --password-fd 9 \"$1\"");
    EXPECT_EQ(r.ExitCode, 2);
    EXPECT_TRUE(r.Err.startsWith("kestrune-text: cannot read the password from descriptor 9: Bad file descriptor\n"));
}

TEST_F(KestruneText, CommandLineErrorsAndHelp) {
    const QString pdf = Write("a.pdf", SimpleTextPdf({{"A"}}));
    struct Case {
        QStringList arguments;
        QByteArray firstLine;
    };
    const Case cases[] = {
        {{}, "kestrune-text: no input file given"},
        {{"--frobnicate", pdf}, "kestrune-text: unknown option --frobnicate"},
        {{"-o", Path("x.txt"), pdf, pdf}, "kestrune-text: option -o takes one input file, not 2"},
        {{"-o", "", pdf}, "kestrune-text: option -o needs a path"},
        {{pdf, "-o"}, "kestrune-text: option -o needs a value"},
        {{pdf, "--password"}, "kestrune-text: option --password needs a value"},
        {{"-f", "0", pdf}, "kestrune-text: option -f needs a page number from 1 to 2147483647, not '0'"},
        {{"--last-page=x", pdf}, "kestrune-text: option -l needs a page number from 1 to 2147483647, not 'x'"},
        {{"-j", "-2", pdf}, "kestrune-text: option -j needs a number from 1 to 2147483647, not '-2'"},
        {{"--timeout", "0", pdf}, "kestrune-text: option --timeout needs a number of seconds above 0, not '0'"},
        {{"--timeout", "inf", pdf}, "kestrune-text: option --timeout needs a number of seconds above 0, not 'inf'"},
        {{"-0", pdf}, "kestrune-text: option -0 needs --files-from"},
        {{"-o", Path("x.txt"), "--output-dir", Path("out"), pdf}, "kestrune-text: options -o and --output-dir exclude each other"},
        {{"-o", Path("x.txt"), "--files-from", Path("list")}, "kestrune-text: option -o takes one input file, not a list"},
        {{"--files-from", "-", "-"}, "kestrune-text: standard input can be read only once"},
        {{"--output-dir", Path("out"), "-"}, "kestrune-text: standard input has no file name to place under --output-dir; use -o"},
        {{"--ocr", "sometimes", pdf}, "kestrune-text: option --ocr needs one of never, auto, always, not 'sometimes'"},
        {{"--ocr-dpi", "0", pdf}, "kestrune-text: option --ocr-dpi needs a resolution from 1 to 2147483647, not '0'"},
        {{"--ocr-lang", "", pdf}, "kestrune-text: option --ocr-lang needs language codes"},
        {{"--format", "xml", pdf}, "kestrune-text: option --format needs one of text, tsv, json, hocr, markdown, pdf, not 'xml'"},
        {{"--page-marks", pdf}, "kestrune-text: option --page-marks applies to --format markdown only"},
        {{"--eol", "cr", pdf}, "kestrune-text: option --eol needs one of lf, crlf, not 'cr'"},
        {{"--bom", "--no-bom", pdf}, "kestrune-text: options --bom and --no-bom exclude each other"},
        {{"--format", "json", "--layout", pdf}, "kestrune-text: option --layout applies to --format text only"},
        {{"--format", "tsv", "--reading-order", pdf}, "kestrune-text: option --reading-order applies to --format text only"},
        {{"--layout", "--reading-order", pdf}, "kestrune-text: options --layout and --reading-order exclude each other"},
        {{"--format", "tsv", "--eol", "lf", pdf}, "kestrune-text: option --eol applies to --format text only"},
        {{"--format=hocr", "--no-bom", pdf}, "kestrune-text: option --no-bom applies to --format text only"},
    };
    for (const Case& c : cases) {
        const RunResult r = Run(c.arguments);
        EXPECT_EQ(r.ExitCode, 2) << c.firstLine.constData();
        EXPECT_EQ(r.Err.split('\n').value(0), c.firstLine);
        EXPECT_EQ(r.Err.split('\n').value(1), "Try 'kestrune-text --help' for more information.");
    }
    EXPECT_EQ(Entries(), QStringList{"a.pdf"});

    // Options that take a value, in their other spellings; --timeout takes decimals.
    for (const QStringList& accepted : {QStringList{"-j3", "--timeout=0.25", "-qf1"}, QStringList{"--jobs", "1", "-l1"}}) {
        const RunResult r = Run(accepted + QStringList{"--output=-", pdf});
        EXPECT_EQ(r.ExitCode, 0) << r.Err.toStdString();
        EXPECT_EQ(r.Out, "\xEF\xBB\xBF" "A\r\n");
    }

    const RunResult help = Run({"--help"});
    EXPECT_EQ(help.ExitCode, 0);
    for (const char* word : {"Usage: kestrune-text", "-o, --output <PATH>", "standard output", "--password", "-q",
                             "Exit status"})
        EXPECT_TRUE(help.Out.contains(word)) << word;

    const RunResult version = Run({"--version", pdf});
    EXPECT_EQ(version.ExitCode, 0);
    EXPECT_EQ(version.Out, "kestrune-text " KESTRUNE_VERSION "\n");
    EXPECT_EQ(Entries(), QStringList{"a.pdf"});

    // After "--", an argument that looks like an option is a file.
    const RunResult dashed = Run({"--", "-q"});
    EXPECT_EQ(dashed.ExitCode, 1);
    EXPECT_EQ(dashed.Err, "kestrune-text: -q: No such file\n");
}

// -f and -l choose pages: their bytes are exactly those of the whole run, the
// byte-order mark first; the range is clipped to the document, and a range
// with no page in it is that file's error, with no file written.
TEST_F(KestruneText, PageRange) {
    const QList<QByteArray> pageBytes = {"First page\r\n", "\r\n", "Third\r\nwith two lines\r\n", "4\r\n"};
    const QString pdf = Write("a.pdf", SimpleTextPdf({{"First page"}, {}, {"Third", "with two lines"}, {"4"}}));
    ASSERT_EQ(Run({pdf}).ExitCode, 0);
    ASSERT_EQ(ReadAll(Path("a.txt")), "\xEF\xBB\xBF" + pageBytes.join());
    const auto pages = [&](int first, int last) {
        return "\xEF\xBB\xBF" + pageBytes.mid(first - 1, last - first + 1).join();
    };
    struct Case {
        QStringList range;
        QByteArray bytes;
    };
    const Case cases[] = {
        {{"-f", "2", "-l", "3"}, pages(2, 3)},
        {{"-f", "3"}, pages(3, 4)},
        {{"-l", "1"}, pages(1, 1)},
        {{"-f", "4", "-l", "4"}, pages(4, 4)},
        {{"-f", "2", "-l", "99"}, pages(2, 4)},
        {{"--first-page", "1", "--last-page", "4"}, pages(1, 4)},
    };
    for (const Case& c : cases) {
        const RunResult r = Run(c.range + QStringList{"-o", Path("range.txt"), pdf});
        EXPECT_EQ(r.ExitCode, 0) << c.range.join(' ').toStdString() << r.Err.toStdString();
        EXPECT_EQ(ReadAll(Path("range.txt")), c.bytes) << c.range.join(' ').toStdString();
    }

    ASSERT_TRUE(QFile::remove(Path("range.txt")));
    const RunResult beyond = Run({"-f", "5", pdf, "-o", Path("range.txt")});
    EXPECT_EQ(beyond.ExitCode, 1);
    EXPECT_EQ(beyond.Err, "kestrune-text: " + pdf.toUtf8() + ": no page in the range 5 to the end; the document has 4 pages\n");
    const RunResult reversed = Run({"-f", "3", "-l", "2", pdf, "-o", "-"});
    EXPECT_EQ(reversed.ExitCode, 1);
    EXPECT_EQ(reversed.Err, "kestrune-text: " + pdf.toUtf8() + ": no page in the range 3 to 2; the document has 4 pages\n");
    EXPECT_EQ(reversed.Out, "");
    EXPECT_EQ(Entries(), (QStringList{"a.pdf", "a.txt"}));
}

// "-" reads the PDF from standard input; its text goes to standard output, or to -o.
TEST_F(KestruneText, StandardInput) {
    const QByteArray pdf = SimpleTextPdf({{"Hello", "World"}, {}});
    const RunResult r = Run({"-"}, pdf);
    EXPECT_EQ(r.ExitCode, 0) << r.Err.toStdString();
    EXPECT_EQ(r.Out, TwoPagesText);
    EXPECT_EQ(Entries(), QStringList{});

    EXPECT_EQ(Run({"-f", "2", "-o", Path("in.txt"), "-"}, pdf).Out, "");
    EXPECT_EQ(ReadAll(Path("in.txt")), "\xEF\xBB\xBF\r\n");

    for (const QByteArray& bad : {QByteArray(), QByteArray("not a PDF")}) {
        const RunResult failed = Run({"-"}, bad);
        EXPECT_EQ(failed.ExitCode, 1);
        EXPECT_EQ(failed.Err, "kestrune-text: -: File not in PDF format or corrupted\n");
        EXPECT_EQ(failed.Out, "");
    }
}

// Targets that are not regular files are written into and stay what they are:
// a FIFO, a socket, a character device, standard output by its path.
TEST_F(KestruneText, TargetsThatAreNotRegularFiles) {
    const QString pdf = Write("a.pdf", SimpleTextPdf({{"Hello", "World"}, {}}));
    const auto kind = [](const QString& path) {
        struct stat s {};
        return ::stat(path.toLocal8Bit().constData(), &s) == 0 ? s.st_mode & S_IFMT : 0;
    };
    const auto readAvailable = [](int fd) {
        QByteArray bytes;
        char buffer[4096];
        for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) bytes.append(buffer, n);
        return bytes;
    };

    // Held open for reading and writing, the FIFO lets the program open it at
    // once and keeps what it writes (far less than a pipe holds).
    const QString fifo = Path("fifo");
    ASSERT_EQ(::mkfifo(fifo.toLocal8Bit().constData(), 0600), 0);
    const int fifoEnd = ::open(fifo.toLocal8Bit().constData(), O_RDWR | O_NONBLOCK);
    ASSERT_GE(fifoEnd, 0);
    EXPECT_EQ(Run({"-o", fifo, pdf}).ExitCode, 0);
    EXPECT_EQ(readAvailable(fifoEnd), TwoPagesText);
    ::close(fifoEnd);
    EXPECT_EQ(kind(fifo), S_IFIFO);

    // A listening socket takes the connection into its backlog.
    const QString socketPath = Path("socket");
    const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(socketPath.toLocal8Bit().size(), qsizetype(sizeof address.sun_path));
    std::strcpy(address.sun_path, socketPath.toLocal8Bit().constData());
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 1), 0);
    EXPECT_EQ(Run({"-o", socketPath, pdf}).ExitCode, 0);
    const int connection = ::accept(listener, nullptr, nullptr);
    ASSERT_GE(connection, 0);
    EXPECT_EQ(readAvailable(connection), TwoPagesText);
    ::close(connection);
    ::close(listener);
    EXPECT_EQ(kind(socketPath), S_IFSOCK);

    const RunResult toStdout = Run({"-o", "/dev/stdout", pdf});
    EXPECT_EQ(toStdout.ExitCode, 0);
    EXPECT_EQ(toStdout.Out, TwoPagesText);
    EXPECT_EQ(Run({"-o", "/dev/null", pdf}).ExitCode, 0);
    EXPECT_EQ(kind("/dev/null"), S_IFCHR);
    EXPECT_EQ(Entries(), QStringList{"a.pdf"});
}

// A device that refuses the bytes: the cause is named and the node stays. The
// node is a private copy of /dev/full where one can be made, so that a fault
// here cannot replace the system's own device.
TEST_F(KestruneText, AFullDeviceNamesTheCause) {
    const QString pdf = Write("a.pdf", SimpleTextPdf({{"Hello"}}));
    QString full = Path("full");
    if (::mknod(full.toLocal8Bit().constData(), S_IFCHR | 0666, makedev(1, 7)) != 0) {
        if (::geteuid() == 0) GTEST_SKIP() << "no device node can be made here";
        full = "/dev/full";  // not replaceable without root
    }
    const RunResult r = Run({"-o", full, pdf});
    if (r.Err.contains("Permission denied")) GTEST_SKIP() << "devices cannot be opened here";
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_EQ(r.Err, "kestrune-text: " + pdf.toUtf8() + ": Cannot write file \"" + full.toUtf8() +
                         "\". No space left on device\n");
    struct stat s {};
    ASSERT_EQ(::stat(full.toLocal8Bit().constData(), &s), 0);
    EXPECT_TRUE(S_ISCHR(s.st_mode));
}

// Pages handed to the sink in any order come out in page order, as soon as
// the pages before them are in; a page twice or outside the range is refused.
TEST_F(KestruneText, PageSinkWritesInPageOrder) {
    Write("out.txt", "earlier");
    {
        TTextTarget target(Path("out.txt"));
        TPageSink sink(target, 3, 6);
        sink.Add(5, "five\r\n");
        EXPECT_EQ(target.BytesWritten(), 0);
        sink.Add(3, "three\r\n");
        EXPECT_EQ(sink.NextPage(), 4);
        EXPECT_EQ(target.BytesWritten(), 3 + 7);
        EXPECT_THROW(sink.Add(3, "again"), std::invalid_argument);
        EXPECT_THROW(sink.Add(7, "beyond"), std::invalid_argument);
        EXPECT_THROW(sink.Finish(), std::logic_error);
        sink.Add(6, "six\r\n");
        sink.Add(4, "\r\n");
        EXPECT_TRUE(sink.IsComplete());
        EXPECT_EQ(ReadAll(Path("out.txt")), "earlier");  // replaced only by Finish
        sink.Finish();
    }
    EXPECT_EQ(ReadAll(Path("out.txt")), "\xEF\xBB\xBF" "three\r\n\r\nfive\r\nsix\r\n");
    EXPECT_EQ(Entries(), QStringList{"out.txt"});

    {  // Not finished: the earlier file stays and the temporary file goes.
        TTextTarget target(Path("out.txt"));
        TPageSink sink(target, 1, 2);
        sink.Add(1, "one\r\n");
    }
    EXPECT_EQ(ReadAll(Path("out.txt")), "\xEF\xBB\xBF" "three\r\n\r\nfive\r\nsix\r\n");
    EXPECT_EQ(Entries(), QStringList{"out.txt"});
}

// A descriptor in non-blocking mode that is full for a while (its reader is
// slow) is waited on, not reported as an error.
TEST_F(KestruneText, ANonBlockingDescriptorIsWaitedOn) {
    int pipe[2];
    ASSERT_EQ(::pipe2(pipe, O_CLOEXEC), 0);
    ASSERT_EQ(::fcntl(pipe[1], F_SETFL, O_NONBLOCK), 0);
    const QByteArray bytes(1 << 20, 'x');  // far more than a pipe holds
    QByteArray received;
    std::thread reader([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        char buffer[65536];
        for (ssize_t n; (n = ::read(pipe[0], buffer, sizeof buffer)) > 0;) received.append(buffer, n);
    });
    {
        TTextTarget target(QStringLiteral("/dev/fd/%1").arg(pipe[1]));
        EXPECT_FALSE(target.IsReplaced());
        EXPECT_NO_THROW(target.Write(bytes));
        target.Commit();
    }
    ::close(pipe[1]);
    reader.join();
    ::close(pipe[0]);
    EXPECT_EQ(received, bytes);
}

// The manual page, the bash completion and --help name the same options, the
// manual renders without a warning, and the completion completes.
TEST_F(KestruneText, ManualCompletionAndHelpNameTheSameOptions) {
    const QRegularExpression name(QStringLiteral("(?:^|[\\s\"])(--?[a-z0-9][a-z0-9-]*)"));
    const auto names = [&](const QStringList& lines) {  // sorted, one line, for a readable failure
        QStringList found;
        for (const QString& line : lines)
            for (const auto& m : name.globalMatch(line)) found << m.captured(1);
        found.sort();
        found.removeDuplicates();
        return found.join(' ').toStdString();
    };

    // --help: the lines of its option list that begin with an option.
    const RunResult help = Run({"--help"});
    QStringList helpLines;
    const QStringList allHelp = QString::fromUtf8(help.Out).split('\n');
    for (qsizetype i = allHelp.indexOf("Options:") + 1; i < allHelp.size() && !allHelp[i].isEmpty(); ++i)
        if (allHelp[i].startsWith("  -")) helpLines << allHelp[i].section("  ", 1, 1);  // before the description

    // The manual: the tag line after each .TP of its OPTIONS section.
    const QStringList manual = QString::fromUtf8(ReadAll(KESTRUNE_MANUAL)).split('\n');
    ASSERT_TRUE(manual.contains(".SH OPTIONS"));
    QStringList manualLines;
    for (qsizetype i = manual.indexOf(".SH OPTIONS") + 1; i < manual.size() && !manual[i].startsWith(".SH"); ++i)
        if (manual[i] == ".TP" && i + 1 < manual.size()) manualLines << QString(manual[i + 1]).replace("\\-", "-");

    const std::string helpNames = names(helpLines);
    for (const char* option : {"--version", "-f", "--report", "-0"}) EXPECT_TRUE(helpNames.find(option) != std::string::npos);
    EXPECT_EQ(helpNames, names(manualLines));

    // The completion: what bash offers after a dash, after --format, and for a file.
    const QString bash = QStandardPaths::findExecutable("bash");
    ASSERT_FALSE(bash.isEmpty());
    Write("a.pdf", "");
    Write("b.PDF", "");
    Write("notes.txt", "");
    const auto complete = [&](const QString& Line) {
        const QString script = QStringLiteral("source \"$0\"; COMP_WORDS=(%1); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); "
                                              "_kestrune_text; printf '%s\\n' \"${COMPREPLY[@]}\"")
                                   .arg(Line);
        const RunResult r = RunProgram(bash, {"-c", script, KESTRUNE_COMPLETION}, {.WorkingDirectory = FDir.path()});
        EXPECT_EQ(r.Err, "") << Line.toStdString();
        QStringList lines = QString::fromUtf8(r.Out).split('\n', Qt::SkipEmptyParts);
        lines.sort();
        return lines;
    };
    EXPECT_EQ(names(complete("kestrune-text -")), helpNames);
    EXPECT_EQ(complete("kestrune-text --format ''"), (QStringList{"hocr", "json", "markdown", "pdf", "text", "tsv"}));
    EXPECT_EQ(complete("kestrune-text ''"), (QStringList{"a.pdf", "b.PDF"}));

    const QString groff = QStandardPaths::findExecutable("groff");
    if (groff.isEmpty()) GTEST_SKIP() << "groff is not installed";
    const RunResult render = RunProgram(groff, {"-man", "-Tutf8", "-ww", "-z", KESTRUNE_MANUAL});
    EXPECT_EQ(render.ExitCode, 0);
    EXPECT_EQ(render.Err, "");
}

// Progress page by page when standard error is a terminal (given here by
// script(1)), none with -q.
TEST_F(KestruneText, ProgressOnATerminal) {
    const QString script = QStandardPaths::findExecutable("script");
    if (script.isEmpty()) GTEST_SKIP() << "script(1) is not installed";
    const QString pdf = Write("a.pdf", SimpleTextPdf({{"One"}, {"Two"}}));
    const auto onTerminal = [&](const QString& options) {
        const RunResult r =
            RunProgram(script, {"-qec", QStringLiteral("'%1' %2 '%3'").arg(KESTRUNE_TEXT_PROGRAM, options, pdf), "/dev/null"});
        EXPECT_EQ(r.ExitCode, 0);
        return r.Out;
    };
    const QByteArray shown = onTerminal("");
    EXPECT_TRUE(shown.contains(pdf.toUtf8() + ": page 1 of 2")) << shown.toStdString();
    EXPECT_TRUE(shown.contains(pdf.toUtf8() + ": page 2 of 2")) << shown.toStdString();
    EXPECT_FALSE(onTerminal("-q").contains("page"));
    EXPECT_EQ(ReadAll(Path("a.txt")), "\xEF\xBB\xBFOne\r\nTwo\r\n");
}

// A page that cannot be opened fails the file as a whole: no partial text file,
// the page's message, exit status 1. A folder gets a message of its own.
// (A folder argument stands for the PDF files below it: see test_batches.)
// In every format: those that learn the document's style first, going over
// its pages, too.
TEST_F(KestruneText, APageThatCannotBeOpenedFailsTheFile) {
    const QString gap = Write("gap.pdf", testing_support::MissingSecondPagePdf());
    for (const char* format : {"text", "tsv", "json", "hocr", "markdown"}) {
        SCOPED_TRACE(format);
        const RunResult r = Run({"--format", format, gap});
        EXPECT_EQ(r.ExitCode, 1);
        EXPECT_EQ(r.Err, "kestrune-text: " + gap.toUtf8() + ": Cannot open page 2\n");
        EXPECT_EQ(r.Out, "");
        EXPECT_EQ(Entries(), QStringList{"gap.pdf"});
    }
}

// ---- Formats -----------------------------------------------------------------

// The bytes of pages First..Last of Pdf in Format, made in this process page
// by page: what the workers and the parent must add up to, in whatever ranges
// and order the pages were done.
QByteArray FormatBytes(const QByteArray& Pdf, const TPageFormat& Format, const QString& Title, int First, int Last) {
    TFPdf pdf;
    pdf.SetPageNumber(0);
    pdf.LoadDocument(Pdf, true);
    TPageFormat format = Format;
    // Judged against the whole document's style, as a worker learns it.
    if (format.NeedsStyle()) format.Style = std::make_shared<const TDocumentStyle>(LearnDocumentStyle(pdf));
    QByteArray bytes = Format.Header(Title);
    for (int page = First; page <= Last; ++page) {
        pdf.SetPageNumber(page);
        bytes += format.PageBytes(pdf);
    }
    return bytes + Format.Footer();
}

// Each word format in its own file beside the PDF, with -j, page ranges and
// standard output: the same bytes as one process writes.
TEST_F(KestruneText, WordFormatsStreamLikeTheText) {
    const QByteArray document = testing_support::LayoutFixturePdf();
    const int pages = testing_support::LayoutFixturePageCount;
    const QString pdf = Write("fix.pdf", document);
    const struct {
        const char* Name;
        TOutputFormat Format;
        const char* File;
    } formats[] = {{"tsv", TOutputFormat::Tsv, "fix.tsv"},
                   {"json", TOutputFormat::Json, "fix.jsonl"},
                   {"hocr", TOutputFormat::Hocr, "fix.hocr"}};
    for (const auto& f : formats) {
        SCOPED_TRACE(f.Name);
        TPageFormat format;
        format.Format = f.Format;
        const RunResult whole = Run({"--format", f.Name, pdf});
        EXPECT_EQ(whole.ExitCode, 0) << whole.Err.toStdString();
        EXPECT_EQ(ReadAll(Path(f.File)), FormatBytes(document, format, "fix.pdf", 1, pages));
        EXPECT_FALSE(QFile::exists(Path("fix.txt")));

        const RunResult shared = Run({"--format", f.Name, "-j", "3", "-f", "2", "-l", "6", "-o", "-", pdf});
        EXPECT_EQ(shared.ExitCode, 0) << shared.Err.toStdString();
        EXPECT_EQ(shared.Out, FormatBytes(document, format, "fix.pdf", 2, 6));
    }
    const RunResult fromStdin = Run({"--format", "hocr", "-"}, document);
    EXPECT_EQ(fromStdin.ExitCode, 0);
    EXPECT_TRUE(fromStdin.Out.contains("<title>standard input</title>"));
}

// A word hyphenated at a line end is written whole in every format, without
// the engine's noncharacter mark; --page-break ff ends each page with a form feed.
TEST_F(KestruneText, HyphenatedWordsAndPageBreaks) {
    const QString pdf = Write("hy.pdf", SimpleTextPdf({{"This is the devel-", "opment of LaTeX-", "based tools"}, {"Next"}}));
    const struct {
        QStringList Options;
        QByteArray Contains;
    } cases[] = {
        {{}, "\xEF\xBB\xBF" "This is the development of LaTeX-based tools\r\nNext\r\n"},
        {{"--eol", "lf", "--no-bom", "--page-break", "ff"}, "This is the development of LaTeX-based tools\n\fNext\n\f"},
        {{"--layout"}, "LaTeX-"},
        {{"--format", "tsv"}, "\tdevel-\n"},
        {{"--format", "json"}, "\"text\":\"opment\""},
        {{"--format", "markdown"}, "This is the development of LaTeX-based tools\n\nNext\n\n"},
        {{"--format", "hocr"}, ">based<"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Options.join(' ').toStdString());
        const RunResult r = Run(c.Options + QStringList{"-o", "-", pdf});
        EXPECT_EQ(r.ExitCode, 0) << r.Err.toStdString();
        EXPECT_TRUE(r.Out.contains(c.Contains)) << r.Out.toStdString();
        EXPECT_FALSE(r.Out.contains("\xEF\xBF\xBE"));  // U+FFFE
    }
    const RunResult refused = Run({"--format", "tsv", "--page-break", "ff", pdf});
    EXPECT_EQ(refused.ExitCode, 2);
    EXPECT_TRUE(refused.Err.startsWith("kestrune-text: option --page-break applies to --format text only\n"));
}

// Markdown: the same bytes with -j and page ranges, to a file beside the PDF
// (.md) or standard output; a paragraph cut by a page break joined, unless
// --page-marks marks the pages.
TEST_F(KestruneText, MarkdownJoinsPagesInAnyRun) {
    const QString pdf = Write("md.pdf", SimpleTextPdf({{"First page text whose sentence", "goes"},
                                                        {"on to the next page.", "A new sentence here."},
                                                        {"Third page, its own paragraph."}}));
    const QByteArray joined = "First page text whose sentence goes on to the next page. A new sentence here.\n\n"
                              "Third page, its own paragraph.\n\n";
    const RunResult whole = Run({"--format", "markdown", pdf});
    EXPECT_EQ(whole.ExitCode, 0) << whole.Err.toStdString();
    EXPECT_EQ(ReadAll(Path("md.md")), joined);
    for (const QStringList& jobs : {QStringList{"-j", "1"}, QStringList{"-j", "3"}}) {
        const RunResult r = Run(jobs + QStringList{"--format", "markdown", "-o", "-", pdf});
        EXPECT_EQ(r.Out, joined);
        const RunResult range = Run(jobs + QStringList{"--format", "markdown", "-f", "2", "-o", "-", pdf});
        EXPECT_EQ(range.Out, "on to the next page. A new sentence here.\n\nThird page, its own paragraph.\n\n");
        const RunResult marked = Run(jobs + QStringList{"--format", "markdown", "--page-marks", "-l", "2", "-o", "-", pdf});
        EXPECT_EQ(marked.Out, "<!-- page 1 -->\n\nFirst page text whose sentence goes\n\n"
                              "<!-- page 2 -->\n\non to the next page. A new sentence here.\n\n");
    }
    // The roles in JSON, from the same structure.
    const RunResult json = Run({"--format", "json", "-o", "-", pdf});
    EXPECT_EQ(json.Out.count("\"role\":\"paragraph\""), 3);
}

// A link annotation to a web address over a line of the page becomes a
// Markdown link of that line's words; the line below it stays plain.
TEST_F(KestruneText, MarkdownLinksTheWordsOfAWebLink) {
    PdfBuilder b;
    const int catalog = b.Reserve();
    const int pages = b.Reserve();
    const int font = b.Add("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>");
    const int content = b.AddStream("<< >>", "BT /F1 12 Tf 14 TL 72 720 Td (Read the manual) Tj T* (online for details.) Tj ET");
    const int page = b.Add("<< /Type /Page /Parent " + testing_support::Ref(pages) +
                           " /MediaBox [0 0 612 792] /Resources << /Font << /F1 " + testing_support::Ref(font) +
                           " >> >> /Contents " + testing_support::Ref(content) +
                           " /Annots [<< /Type /Annot /Subtype /Link /Rect [70 716 300 732]"
                           " /A << /S /URI /URI (https://example.org/a b) >> >>] >>");
    b.SetPageTree(catalog, pages, {page});
    const QString pdf = Write("link.pdf", b.Build(catalog));
    const RunResult r = Run({"--format", "markdown", "-o", "-", pdf});
    EXPECT_EQ(r.ExitCode, 0) << r.Err.toStdString();
    EXPECT_EQ(r.Out, "[Read the manual](<https://example.org/a%20b>) online for details.\n\n");
}

// Characters beyond U+FFFF come out in every format as the plain text has
// them, and a surrogate the document leaves alone as U+FFFD in each.
TEST_F(KestruneText, EveryFormatKeepsCharactersBeyondTheBmp) {
    const QString pdf = Write("beyond.pdf", testing_support::LayoutFixturePdf());
    const QString page = QString::number(testing_support::BeyondBmpPage);
    const QStringList expected = {"x\U0001D49Cy", "\U0001F600\U0001F600", "x\uFFFDy", "\uFFFD\U0001D49C"};
    const auto output = [&](const QStringList& Options) {
        const RunResult r = Run(Options + QStringList{"-f", page, "-l", page, "-o", "-", pdf});
        EXPECT_EQ(r.ExitCode, 0) << r.Err.toStdString();
        EXPECT_EQ(QString::fromUtf8(r.Out).toUtf8(), r.Out);  // valid UTF-8
        return r.Out;
    };
    const QRegularExpression space(QStringLiteral("\\s+"));
    for (const QStringList& text : {QStringList{}, QStringList{"--layout"}}) {
        SCOPED_TRACE(text.join(' ').toStdString());
        const QByteArray out = output(text + QStringList{"--no-bom", "--eol", "lf"});
        EXPECT_EQ(QString::fromUtf8(out).split(space, Qt::SkipEmptyParts), expected);
    }
    QStringList tsv;
    for (const QByteArray& row : output({"--format", "tsv"}).split('\n'))
        if (row.startsWith("5\t")) tsv << QString::fromUtf8(row.split('\t').value(11));
    EXPECT_EQ(tsv, expected);
    QStringList json;
    for (const QJsonValue block : QJsonDocument::fromJson(output({"--format", "json"}))["blocks"].toArray())
        for (const QJsonValue line : block["lines"].toArray())
            for (const QJsonValue word : line["words"].toArray()) json << word["text"].toString();
    EXPECT_EQ(json, expected);
    QStringList hocr;
    QXmlStreamReader xml(output({"--format", "hocr"}));
    while (!xml.atEnd())
        if (xml.readNext() == QXmlStreamReader::StartElement &&
            xml.attributes().value(QLatin1String("class")) == QLatin1String("ocrx_word"))
            hocr << xml.readElementText();
    EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
    EXPECT_EQ(hocr, expected);
}

// hOCR's <title> names the PDF; a name that is not UTF-8 as messages show it,
// so the document stays XML.
TEST_F(KestruneText, HocrTitleOfANameThatIsNotUtf8) {
    ASSERT_TRUE(QDir().mkpath(Path("in")));
    const QByteArray folder = QFile::encodeName(Path("in")) + '/';
    // Qt cannot name these files to remove them with the folder.
    const auto removal = qScopeGuard([&] {
        ::unlink(folder + "caf\xE9.pdf");
        ::unlink(folder + "caf\xE9.hocr");
    });
    QFile pdf;
    ASSERT_TRUE(pdf.open(::open(folder + "caf\xE9.pdf", O_WRONLY | O_CREAT, 0644), QIODevice::WriteOnly,
                         QFileDevice::AutoCloseHandle));
    pdf.write(SimpleTextPdf({{"Latin"}}));
    pdf.close();
    const RunResult r = Run({"-q", "--format", "hocr", "in"});
    EXPECT_EQ(r.ExitCode, 0) << r.Err.toStdString();
    QFile hocr;
    ASSERT_TRUE(hocr.open(::open(folder + "caf\xE9.hocr", O_RDONLY), QIODevice::ReadOnly, QFileDevice::AutoCloseHandle));
    QXmlStreamReader xml(hocr.readAll());
    QString title;
    while (!xml.atEnd())
        if (xml.readNext() == QXmlStreamReader::StartElement && xml.name() == QLatin1String("title"))
            title = xml.readElementText();
    EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
    EXPECT_EQ(title, QStringLiteral("'caf\\xE9.pdf'"));
}

// --layout, --eol and --bom shape the text; without them the bytes stay the window's.
TEST_F(KestruneText, TextLineEndsByteOrderMarkAndLayout) {
    const QByteArray document = testing_support::LayoutFixturePdf();
    const int pages = testing_support::LayoutFixturePageCount;
    const QString pdf = Write("fix.pdf", document);
    const QByteArray windows = FormatBytes(document, {}, {}, 1, pages);
    ASSERT_TRUE(windows.startsWith("\xEF\xBB\xBF"));
    QByteArray lf = windows.mid(3);
    lf.replace("\r\n", "\n");
    const struct {
        QStringList Options;
        QByteArray Bytes;
    } cases[] = {
        {{}, windows},
        {{"--eol", "crlf", "--bom"}, windows},
        {{"--eol", "lf", "--no-bom"}, lf},
        {{"--eol=lf"}, "\xEF\xBB\xBF" + lf},
        {{"--layout"}, FormatBytes(document, {TOutputFormat::Text, true, true, true}, {}, 1, pages)},
        {{"--layout", "--eol", "lf", "--no-bom"}, FormatBytes(document, {TOutputFormat::Text, true, false, false}, {}, 1, pages)},
        {{"--reading-order", "--page-break", "ff"},
         FormatBytes(document, {TOutputFormat::Text, false, true, true, true, true}, {}, 1, pages)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Options.join(' ').toStdString());
        const RunResult r = Run(c.Options + QStringList{"-j", "2", pdf});
        EXPECT_EQ(r.ExitCode, 0) << r.Err.toStdString();
        EXPECT_EQ(ReadAll(Path("fix.txt")), c.Bytes);
    }
    // The layout text: each page's lines, then a form feed.
    const QByteArray layout = Run({"--layout", "--no-bom", "--eol", "lf", "-o", "-", "-l", "2", pdf}).Out;
    EXPECT_EQ(layout.count('\f'), 2);
    EXPECT_TRUE(layout.startsWith("alpha beta gamma") && layout.contains("one two three\n")) << layout.constData();
    // In reading order, the margin note follows its paragraph; without, the
    // engine gives it inside the body's line.
    const QStringList page = {"-f", QString::number(testing_support::MarginNotePage), "-l",
                              QString::number(testing_support::MarginNotePage), "--no-bom", "--eol", "lf", "-o", "-", pdf};
    EXPECT_TRUE(Run(QStringList{"--reading-order"} + page).Out.contains("follows them.\n\nNew feature\n1995/12/01\n\n"));
    EXPECT_FALSE(Run(page).Out.contains("follows them.\n\nNew feature"));
}

// Batches keep their folders and take the format's extension, also for --update.
TEST_F(KestruneText, WordFormatsInBatches) {
    Write("in/a.pdf", testing_support::LayoutFixturePdf());
    Write("in/sub/b.pdf", SimpleTextPdf({{"B"}}));
    const QStringList arguments{"-q", "--format", "tsv", "--update", "--output-dir", "out", "in"};
    const RunResult first = Run(arguments);
    EXPECT_EQ(first.ExitCode, 0) << first.Err.toStdString();
    EXPECT_TRUE(ReadAll(Path("out/a.tsv")).startsWith(TsvHeader()));
    EXPECT_TRUE(ReadAll(Path("out/sub/b.tsv")).endsWith("\t100\tB\n"));
    EXPECT_FALSE(QFile::exists(Path("out/a.txt")));
    // Up to date now: nothing is converted again, and the report says so.
    const RunResult second = Run(arguments + QStringList{"--report", "report.jsonl"});
    EXPECT_EQ(second.ExitCode, 0);
    EXPECT_EQ(ReadAll(Path("report.jsonl")).count("\"status\":\"skipped\""), 2);
}

// A run that reads text loads Qt Core, and none of what drawing needs (Qt
// Gui, X11, EGL, fontconfig, D-Bus): the loader's list of what the program
// loads (its workers are forks of it, or the same program started again).
TEST_F(KestruneText, ATextRunLoadsNoGraphicsLibraries) {
    const QString pdf = Write("a.pdf", SimpleTextPdf({{"One"}, {"Two"}, {"Three"}}));
    const QStringList graphics = {"libQt6Gui", "libX11", "libEGL", "libfontconfig", "libdbus", "libxcb"};
    for (const QStringList& options :
         {QStringList{"-j", "1"}, QStringList{"-j", "2"}, QStringList{"--format", "json"}, QStringList{"--format", "markdown"},
          QStringList{"--layout"}}) {
        SCOPED_TRACE(options.join(' ').toStdString());
        RunOptions run{.WorkingDirectory = FDir.path()};
        run.Environment.insert("LD_DEBUG", "files");
        const RunResult r = RunProgram(QStringLiteral(KESTRUNE_TEXT_PROGRAM), options + QStringList{"-o", "out.txt", pdf}, run);
        ASSERT_EQ(r.ExitCode, 0) << r.Err.toStdString();
        EXPECT_TRUE(r.Err.contains("libQt6Core")) << "the loader listed nothing";
        for (const QString& library : graphics) EXPECT_FALSE(r.Err.contains(library.toUtf8())) << library.toStdString();
    }
}
