// kestrune-text never destroys or misplaces a file: writes that would land on
// an input or on each other are refused before any work, links are never
// written through, names are bytes, signals leave no temporary file, and a
// replaced file keeps its mode and owner.
#include <gtest/gtest.h>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QTemporaryDir>
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "support/PdfBuilder.h"
#include "support/ProgramRun.h"
#include "support/TestHelpers.h"

using testing_support::ProgramRun;
using testing_support::ReadAll;
using testing_support::RunOptions;
using testing_support::RunProgram;
using testing_support::RunResult;
using testing_support::SimpleTextPdf;
using testing_support::SlowTextPdf;
using testing_support::WriteFile;

namespace {

QByteArray TextOf(const QByteArray& Word) { return "\xEF\xBB\xBF" + Word + "\r\n"; }

class OutputSafety : public testing::Test {
protected:
    QString Path(const QString& Name) const { return FDir.filePath(Name); }
    QByteArray Bytes(const QByteArray& Name) const { return QFile::encodeName(FDir.path()) + '/' + Name; }
    QString Write(const QString& Name, const QByteArray& Content) const { return WriteFile(Path(Name), Content); }

    // kestrune-text in the test's folder.
    RunOptions Here(const QProcessEnvironment& Environment = QProcessEnvironment::systemEnvironment()) const {
        return {.WorkingDirectory = FDir.path(), .Environment = Environment};
    }
    RunResult Run(const QStringList& Arguments, const QProcessEnvironment& Environment = QProcessEnvironment::systemEnvironment()) {
        return RunProgram(QStringLiteral(KESTRUNE_TEXT_PROGRAM), Arguments, Here(Environment));
    }

    // Every file and link below the folder with its content (a link: "-> target").
    QMap<QString, QByteArray> Snapshot() const {
        QMap<QString, QByteArray> files;
        QDirIterator it(FDir.path(), QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            const QString relative = QDir(FDir.path()).relativeFilePath(path);
            files[relative] = it.fileInfo().isSymLink() ? "-> " + it.fileInfo().symLinkTarget().toUtf8() : ReadAll(path);
        }
        return files;
    }

    QTemporaryDir FDir;
};

// Writes that would replace an input, the list or each other are refused
// with exit status 2 before anything is touched.
TEST_F(OutputSafety, OutputsThatHitInputsAreRefusedWithNothingTouched) {
    Write("fo/a.pdf", SimpleTextPdf({{"A"}}));
    Write("fo/b.pdf", SimpleTextPdf({{"B"}}));
    Write("list.txt", "fo/a.pdf\n");
    struct Case {
        QStringList arguments;
        QByteArray line;
    };
    const Case cases[] = {
        {{"-o", "fo/a.pdf", "fo"}, "option -o takes one input file, not 2"},
        {{"-o", "out.txt", "fo"}, "option -o takes one input file, not 2"},
        {{"-j", "2", "-o", "-", "fo"}, "option -o takes one input file, not 2"},
        {{"--report", "fo/a.pdf", "fo/a.pdf", "fo/b.pdf"}, "the report fo/a.pdf would replace the input fo/a.pdf"},
        {{"--report", "fo/b.txt", "fo/b.pdf"}, "the report fo/b.txt would replace the text file of fo/b.pdf"},
        {{"--report", "./fo/../fo/b.txt", "fo"}, "the report ./fo/../fo/b.txt would replace the text file of fo/b.pdf"},
        {{"--files-from", "list.txt", "--report", "list.txt"}, "the report list.txt would replace the list list.txt"},
        {{"--report", "-", "-"}, "the report and the text of standard input cannot both go to standard output"},
    };
    const auto before = Snapshot();
    for (const Case& c : cases) {
        const RunResult r = Run(c.arguments);
        EXPECT_EQ(r.ExitCode, 2) << c.line.data();
        EXPECT_EQ(r.Err, "kestrune-text: " + c.line + "\n");
        EXPECT_TRUE(r.Out.isEmpty());
        EXPECT_EQ(Snapshot(), before) << c.line.data();
    }
}

// Two inputs with one text file: the later fails with a line naming both,
// and a text file that is itself an input is never written.
TEST_F(OutputSafety, TwoInputsWithOneTextFile) {
    Write("y2023/report.pdf", SimpleTextPdf({{"2023"}}));
    Write("y2024/report.pdf", SimpleTextPdf({{"2024"}}));
    RunResult r = Run({"-q", "-j", "2", "--output-dir", "text", "y2023", "y2024"});
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_EQ(r.Err, "kestrune-text: y2024/report.pdf: its text file text/report.txt is the text file of "
                     "y2023/report.pdf; nothing written\n");
    EXPECT_EQ(ReadAll(Path("text/report.txt")), TextOf("2023"));

    Write("same/a.pdf", SimpleTextPdf({{"lower"}}));
    Write("same/a.PDF", SimpleTextPdf({{"upper"}}));
    Write("same/a.pdF", SimpleTextPdf({{"mixed"}}));
    r = Run({"-q", "same"});
    EXPECT_EQ(r.ExitCode, 1);
    const QByteArray shared = ": its text file same/a.txt is the text file of same/a.PDF; nothing written\n";
    EXPECT_EQ(r.Err, "kestrune-text: same/a.pdF" + shared + "kestrune-text: same/a.pdf" + shared);
    EXPECT_EQ(ReadAll(Path("same/a.txt")), TextOf("upper"));

    // A PDF named like a text file, given before the PDF whose text file it would be.
    const QByteArray pdf = SimpleTextPdf({{"PDF named .txt"}});
    Write("x.txt", pdf);
    Write("x.pdf", SimpleTextPdf({{"X"}}));
    r = Run({"-q", "x.txt", "x.pdf"});
    EXPECT_EQ(r.ExitCode, 1);
    const QByteArray isInput = ": its text file x.txt is the input x.txt; nothing written\n";
    EXPECT_EQ(r.Err, "kestrune-text: x.txt" + isInput + "kestrune-text: x.pdf" + isInput);
    EXPECT_EQ(ReadAll(Path("x.txt")), pdf);
}

// Links planted at a text file's place or on its way (as another user may in
// a sticky shared folder) are refused, never followed: nothing is written
// outside the output folder and the links' targets stay as they were.
TEST_F(OutputSafety, LinksAreNeverWrittenThrough) {
    Write("victim", "precious");
    QDir().mkpath(Path("shared"));
    ASSERT_EQ(::chmod(QFile::encodeName(Path("shared")).constData(), 01777), 0);
    Write("shared/a.pdf", SimpleTextPdf({{"A"}}));
    Write("shared/b.pdf", SimpleTextPdf({{"B"}}));
    ASSERT_TRUE(QFile::link(Path("victim"), Path("shared/a.txt")));
    Write("in/sub/c.pdf", SimpleTextPdf({{"C"}}));
    Write("in/d.pdf", SimpleTextPdf({{"D"}}));
    QDir().mkpath(Path("elsewhere"));
    QDir().mkpath(Path("out"));
    ASSERT_TRUE(QFile::link(Path("elsewhere"), Path("out/sub")));
    ASSERT_TRUE(QFile::link(Path("victim"), Path("linked-report")));
    ASSERT_TRUE(QFile::link(Path("nowhere"), Path("dangling")));
    ASSERT_TRUE(QFile::link("/dev/null", Path("null-link")));

    RunResult r = Run({"-q", "shared/a.pdf", "shared/b.pdf"});
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_EQ(r.Err, "kestrune-text: shared/a.pdf: Cannot create file \"shared/a.txt\". It is a symbolic link, which "
                     "is not followed\n");
    EXPECT_EQ(ReadAll(Path("shared/b.txt")), TextOf("B"));

    r = Run({"-q", "--output-dir", "out", "in"});
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_EQ(r.Err, "kestrune-text: in/sub/c.pdf: Cannot create file \"out/sub/c.txt\". A symbolic link lies on its "
                     "path, which is not followed\n");
    EXPECT_EQ(ReadAll(Path("out/d.txt")), TextOf("D"));
    EXPECT_TRUE(QDir(Path("elsewhere")).isEmpty());

    // A report refused before any work exits as the other refusals do; one through a link to a device is written.
    r = Run({"-q", "--report", "linked-report", "shared/b.pdf"});
    EXPECT_EQ(r.ExitCode, 2);
    EXPECT_EQ(r.Err, "kestrune-text: Cannot create file \"linked-report\". It is a symbolic link, which is not followed\n");
    r = Run({"-q", "--report", "null-link", "shared/b.pdf"});
    EXPECT_EQ(r.ExitCode, 0) << r.Err.data();

    // -o: a link to a regular file or to nothing is refused; one to a device is written into.
    for (const char* link : {"dangling", "linked-report"}) {
        r = Run({"-q", "-o", link, "shared/b.pdf"});
        EXPECT_EQ(r.ExitCode, 1) << link;
        EXPECT_TRUE(r.Err.endsWith("It is a symbolic link, which is not followed\n")) << r.Err.data();
    }
    EXPECT_FALSE(QFile::exists(Path("nowhere")));
    r = Run({"-q", "-o", "null-link", "shared/b.pdf"});
    EXPECT_EQ(r.ExitCode, 0) << r.Err.data();

    EXPECT_EQ(ReadAll(Path("victim")), "precious");
    EXPECT_TRUE(QFileInfo(Path("shared/a.txt")).isSymLink());
    EXPECT_TRUE(QFileInfo(Path("null-link")).isSymLink());
}

// Names that are not UTF-8 are converted like any other, in folders and
// lists; the report writes their bytes as \udcXX escapes; hidden files and
// links that lead nowhere are not passed over in silence.
TEST_F(OutputSafety, NamesAreBytes) {
    QDir().mkpath(Path("docs"));
    const QByteArray latin1Folder = Bytes("docs/caf\xE9");
    ASSERT_EQ(::mkdir(latin1Folder.constData(), 0777), 0);
    const QByteArray pdf = SimpleTextPdf({{"Latin"}});
    for (const QByteArray& name : {QByteArray("docs/caf\xE9/r\xE9sum\xE9.pdf"), QByteArray("docs/caf\xE9/plain.pdf")}) {
        QFile file;
        const int fd = ::open(Bytes(name).constData(), O_WRONLY | O_CREAT, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_TRUE(file.open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle));
        file.write(pdf);
    }
    Write("docs/.hidden.pdf", SimpleTextPdf({{"Hidden"}}));
    ASSERT_TRUE(QFile::link(Path("nowhere.pdf"), Path("docs/broken.pdf")));

    RunResult r = Run({"--output-dir", "text", "--report", "report.jsonl", "docs"});
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_TRUE(r.Err.startsWith("kestrune-text: docs/broken.pdf: No such file\n"
                                 "kestrune-text: 3 converted, 0 skipped, 1 failed, 3 pages in "))
        << r.Err.data();
    EXPECT_EQ(ReadAll(QFile::decodeName(Bytes("text/caf\xE9/r\xE9sum\xE9.txt"))), QByteArray());  // Qt cannot name it
    struct stat status {};
    EXPECT_EQ(::stat(Bytes("text/caf\xE9/r\xE9sum\xE9.txt").constData(), &status), 0);
    EXPECT_EQ(status.st_size, TextOf("Latin").size());
    EXPECT_EQ(ReadAll(Path("text/.hidden.txt")), TextOf("Hidden"));
    const QByteArray report = ReadAll(Path("report.jsonl"));
    EXPECT_TRUE(report.contains(R"("input":"docs/caf\udce9/r\udce9sum\udce9.pdf","output":"text/caf\udce9/r\udce9sum\udce9.txt","status":"converted")"))
        << report.data();
    EXPECT_EQ(report.count("\"status\":\"converted\""), 3);

    // The same name in a list, and as an argument; --skip-hidden passes over dot files.
    QFile list(Path("list"));
    ASSERT_TRUE(list.open(QIODevice::WriteOnly));
    list.write("docs/caf\xE9/r\xE9sum\xE9.pdf\n");
    list.close();
    r = Run({"-q", "--files-from", "list", "-o", "-"});
    EXPECT_EQ(r.ExitCode, 2);  // -o takes no list
    r = Run({"-q", "--files-from", "list"});
    EXPECT_EQ(r.ExitCode, 0) << r.Err.toStdString();
    EXPECT_EQ(::stat(Bytes("docs/caf\xE9/r\xE9sum\xE9.txt").constData(), &status), 0);
    r = Run({"-q", "--skip-hidden", "docs"});
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_EQ(r.Err, "kestrune-text: docs/broken.pdf: No such file\n");
    EXPECT_FALSE(QFile::exists(Path("docs/.hidden.txt")));
}

// A replaced text file keeps its mode and its owner and group.
TEST_F(OutputSafety, AReplacedFileKeepsItsModeAndOwner) {
    Write("a.pdf", SimpleTextPdf({{"A"}}));
    const QString text = Write("a.txt", "old");
    const QByteArray name = QFile::encodeName(text);
    ASSERT_EQ(::chmod(name.constData(), 0440), 0);
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::chown(name.constData(), 1234, 5678), 0);
    }
    const RunResult r = Run({"-q", "a.pdf"});
    EXPECT_EQ(r.ExitCode, 0) << r.Err.data();
    EXPECT_EQ(ReadAll(text), TextOf("A"));
    struct stat status {};
    ASSERT_EQ(::stat(name.constData(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0440u);
    if (root) {
        EXPECT_EQ(status.st_uid, 1234u);
        EXPECT_EQ(status.st_gid, 5678u);
    }
}

// The names of the temporary files in Folder (kestrune-text's, or any).
QStringList Temporaries(const QString& Folder) {
    return QDir(Folder).entryList({"*.tmp", ".*kestrune-*"}, QDir::Files | QDir::Hidden);
}

// On a file system without unnamed temporary files, SIGTERM half-way through
// a batch leaves no temporary file and no partial text file; a rerun with
// --update finishes it, and a later run removes what a killed run (SIGKILL)
// left, and nothing else.
TEST_F(OutputSafety, SignalsLeaveNoTemporaryFile) {
    QStringList inputs;
    for (int i = 0; i < 4; ++i) inputs << Write(QStringLiteral("in/slow%1.pdf").arg(i), SlowTextPdf(30));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("LD_PRELOAD", KESTRUNE_NO_TMPFILE_SHIM);
    environment.insert("ASAN_OPTIONS", environment.value("ASAN_OPTIONS") + ":verify_asan_link_order=0");
    const QStringList arguments{"-q", "-j", "2", "--update", "--output-dir", "out", "in"};

    for (const int signal : {SIGTERM, SIGKILL}) {
        ProgramRun p(QStringLiteral(KESTRUNE_TEXT_PROGRAM), arguments, Here(environment));
        ASSERT_TRUE(p.Started());
        // Until a named temporary file shows that pages are being written.
        for (int i = 0; i < 3000 && Temporaries(Path("out")).isEmpty(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        ASSERT_FALSE(Temporaries(Path("out")).isEmpty()) << "no named temporary file";
        ::kill(p.Pid(), signal);
        const RunResult stopped = p.Finish();
        ASSERT_TRUE(p.Ended());
        if (signal == SIGTERM) {  // the handled signal
            EXPECT_EQ(stopped.ExitStatus, QProcess::NormalExit);
            EXPECT_EQ(stopped.ExitCode, 128 + SIGTERM);
            EXPECT_EQ(stopped.Err, "kestrune-text: stopped by signal SIGTERM (Terminated)\n");
            EXPECT_EQ(Temporaries(Path("out")), QStringList());
        } else {  // SIGKILL cannot be handled
            EXPECT_FALSE(Temporaries(Path("out")).isEmpty());  // what the next run must clear
        }
        EXPECT_LT(QDir(Path("out")).entryList(QDir::Files).size(), 4);
    }
    // Another process's temporary file, and a file merely named alike, stay.
    const QByteArray live = ".x.txt.kestrune-" + QByteArray::number(::getpid()) + "@" + QSysInfo::machineHostName().toUtf8() + "-AAAAAA.tmp";
    Write("out/" + QString::fromUtf8(live), "live");
    Write("out/other.tmp", "not ours");

    const RunResult r = Run(arguments, environment);
    EXPECT_EQ(r.ExitCode, 0) << r.Err.data();
    EXPECT_EQ(QDir(Path("out")).entryList({"*.txt"}, QDir::Files).size(), 4);
    EXPECT_EQ(Temporaries(Path("out")), (QStringList{QString::fromUtf8(live), "other.tmp"}));
}

// Names in messages cannot forge lines or reach the terminal as commands:
// control characters are escaped inside quotes; a plain name stays as it is.
// A link loop says so.
TEST_F(OutputSafety, MessagesQuoteNamesWithControlCharacters) {
    Write("evil\n kestrune-text: forged.pdf", "junk");
    Write("\x1B[31mred.pdf", "junk");
    ASSERT_TRUE(QFile::link(Path("loop.pdf"), Path("loop.pdf")));
    const RunResult r = Run({"-q", "evil\n kestrune-text: forged.pdf", "\x1B[31mred.pdf", "loop.pdf"});
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_EQ(r.Err, "kestrune-text: 'evil\\n kestrune-text: forged.pdf': File not in PDF format or corrupted\n"
                     "kestrune-text: '\\x1b[31mred.pdf': File not in PDF format or corrupted\n"
                     "kestrune-text: loop.pdf: Too many levels of symbolic links\n");
}

}  // namespace
