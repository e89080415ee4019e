// kestrune-text, run as the built program on files written into a temporary folder.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <csignal>
#include <sys/resource.h>

#include "app/KestruneUnit.h"
#include "support/ApplicationEnvironment.h"
#include "support/PdfBuilder.h"
#include "support/TestHelpers.h"

using namespace kestrune;
using testing_support::ReadAll;
using testing_support::SimpleTextPdf;
using testing_support::WriteFile;

namespace {

[[maybe_unused]] testing::Environment* const Environment =
    testing::AddGlobalTestEnvironment(new testing_support::ApplicationEnvironment("test_kestrune_text"));

struct Result {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

class KestruneText : public testing::Test {
protected:
    QString Path(const QString& name) const { return FDir.filePath(name); }
    QString Write(const QString& name, const QByteArray& bytes) const { return WriteFile(Path(name), bytes); }
    QStringList Entries() const { return QDir(FDir.path()).entryList(QDir::Files | QDir::NoDotAndDotDot); }

    // Runs the program; FileSizeLimit, when set, limits the size of the files it writes.
    Result Run(const QStringList& arguments) {
        QProcess p;
        p.setWorkingDirectory(FDir.path());
        if (FFileSizeLimit) {
            const rlim_t limit = FFileSizeLimit;
            p.setChildProcessModifier([limit] {
                std::signal(SIGXFSZ, SIG_IGN);
                rlimit r{limit, limit};
                setrlimit(RLIMIT_FSIZE, &r);
            });
        }
        p.start(QStringLiteral(KESTRUNE_TEXT_PROGRAM), arguments);
        EXPECT_TRUE(p.waitForFinished(60000));
        EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
        return {p.exitCode(), p.readAllStandardOutput(), p.readAllStandardError()};
    }

    QTemporaryDir FDir;
    rlim_t FFileSizeLimit = 0;
};

const QByteArray TwoPagesText = "\xEF\xBB\xBF" "Hello\r\nWorld\r\n" "\r\n";

}  // namespace

TEST_F(KestruneText, ConvertsEachFileBesideIt) {
    const QString a = Write("a.pdf", SimpleTextPdf({{"Hello", "World"}, {}}));
    const QString b = Write("annual.report.PDF", SimpleTextPdf({{"B"}}));
    const Result r = Run({a, b});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.err, "");  // no progress when standard error is no terminal
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(ReadAll(Path("a.txt")), TwoPagesText);
    EXPECT_EQ(ReadAll(Path("annual.report.txt")), "\xEF\xBB\xBF" "B\r\n");
}

// The same bytes as the window writes for the same file.
TEST_F(KestruneText, WritesTheWindowsBytes) {
    const QString pdf = Write("mixed.pdf", SimpleTextPdf({{"caf\xE9 na\xEFve", "(brackets) \\ back"}, {"x"}, {}}));
    TKestruneForm form;
    form.ExecuteOpenDialog = [&] { return std::optional(pdf); };
    form.ShowException = [](const QString& m) { ADD_FAILURE() << m.toStdString(); };
    form.Button1->click();
    const QByteArray windowBytes = ReadAll(Path("mixed.txt"));
    ASSERT_FALSE(windowBytes.isEmpty());
    ASSERT_TRUE(QFile::remove(Path("mixed.txt")));

    EXPECT_EQ(Run({pdf}).exitCode, 0);
    EXPECT_EQ(ReadAll(Path("mixed.txt")), windowBytes);
    const Result toStdout = Run({"-o", "-", pdf});
    EXPECT_EQ(toStdout.exitCode, 0);
    EXPECT_EQ(toStdout.out, windowBytes);
}

TEST_F(KestruneText, FailuresGetOneLineEachAndTheRunGoesOn) {
    const QString broken = Write("broken.pdf", "no PDF");
    const QString good = Write("good.pdf", SimpleTextPdf({{"Good"}}));
    const QString missing = Path("missing.pdf");
    const Result r = Run({broken, missing, good});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "kestrune-text: " + broken.toUtf8() + ": File not in PDF format or corrupted\n" +
                         "kestrune-text: " + missing.toUtf8() + ": No such file\n");
    EXPECT_EQ(ReadAll(Path("good.txt")), "\xEF\xBB\xBFGood\r\n");
    EXPECT_EQ(Entries(), (QStringList{"broken.pdf", "good.pdf", "good.txt"}));
}

TEST_F(KestruneText, DocumentWithoutPagesWritesNothing) {
    const QString pdf = Write("empty.pdf", testing_support::EmptyPdf());
    const Result r = Run({pdf});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.err, "kestrune-text: " + pdf.toUtf8() + ": the document has no pages; no text file written\n");
    EXPECT_EQ(Entries(), QStringList{"empty.pdf"});
    EXPECT_EQ(Run({"-q", pdf}).err, "");
}

TEST_F(KestruneText, OutputPath) {
    const QString pdf = Write("a.pdf", SimpleTextPdf({{"Hello", "World"}, {}}));
    const Result r = Run({"-o", Path("elsewhere.text"), pdf});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(ReadAll(Path("elsewhere.text")), TwoPagesText);
    EXPECT_FALSE(QFile::exists(Path("a.txt")));

    // A failed document writes nothing to standard output.
    const Result failed = Run({"-o", "-", Write("bad.pdf", "junk")});
    EXPECT_EQ(failed.exitCode, 1);
    EXPECT_EQ(failed.out, "");
}

TEST_F(KestruneText, AFailedWriteKeepsTheEarlierFile) {
    const QString pdf = Write("a.pdf", SimpleTextPdf({{"Hello", "World"}, {}}));
    Write("a.txt", "earlier");
    FFileSizeLimit = 8;  // below the new file's size
    const Result r = Run({pdf});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.startsWith("kestrune-text: " + pdf.toUtf8() + ": Cannot write file \"" + Path("a.txt").toUtf8() +
                                 "\"."))
        << r.err.toStdString();
    EXPECT_EQ(r.err.count('\n'), 1);
    EXPECT_EQ(ReadAll(Path("a.txt")), "earlier");
    EXPECT_EQ(Entries(), (QStringList{"a.pdf", "a.txt"}));
}

TEST_F(KestruneText, PasswordOpensProtectedFiles) {
    const QString qpdf = QStandardPaths::findExecutable("qpdf");
    if (qpdf.isEmpty()) GTEST_SKIP() << "qpdf is not installed";
    const QString plain = Write("plain.pdf", SimpleTextPdf({{"Secret"}}));
    const QString locked = Path("locked.pdf");
    ASSERT_EQ(QProcess::execute(qpdf, {"--encrypt", "user-pw", "owner-pw", "256", "--", plain, locked}), 0);

    const Result without = Run({locked});
    EXPECT_EQ(without.exitCode, 1);
    EXPECT_EQ(without.err, "kestrune-text: " + locked.toUtf8() + ": Password required or incorrect password\n");
    EXPECT_FALSE(QFile::exists(Path("locked.txt")));

    EXPECT_EQ(Run({"--password", "user-pw", locked}).exitCode, 0);
    EXPECT_EQ(ReadAll(Path("locked.txt")), "\xEF\xBB\xBFSecret\r\n");
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
        {{pdf, "-o"}, "kestrune-text: option -o needs a value"},
        {{pdf, "--password"}, "kestrune-text: option --password needs a value"},
    };
    for (const Case& c : cases) {
        const Result r = Run(c.arguments);
        EXPECT_EQ(r.exitCode, 2) << c.firstLine.constData();
        EXPECT_EQ(r.err.split('\n').value(0), c.firstLine);
    }
    EXPECT_EQ(Entries(), QStringList{"a.pdf"});

    const Result help = Run({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    for (const char* word : {"Usage: kestrune-text", "-o PATH", "-o -", "--password", "-q", "Exit status"})
        EXPECT_TRUE(help.out.contains(word)) << word;

    // After "--", an argument that looks like an option is a file.
    const Result dashed = Run({"--", "-q"});
    EXPECT_EQ(dashed.exitCode, 1);
    EXPECT_EQ(dashed.err, "kestrune-text: -q: No such file\n");
}

// Progress page by page when standard error is a terminal (given here by
// script(1)), none with -q.
TEST_F(KestruneText, ProgressOnATerminal) {
    const QString script = QStandardPaths::findExecutable("script");
    if (script.isEmpty()) GTEST_SKIP() << "script(1) is not installed";
    const QString pdf = Write("a.pdf", SimpleTextPdf({{"One"}, {"Two"}}));
    const auto onTerminal = [&](const QString& options) {
        QProcess p;
        p.start(script, {"-qec", QStringLiteral("'%1' %2 '%3'").arg(KESTRUNE_TEXT_PROGRAM, options, pdf), "/dev/null"});
        EXPECT_TRUE(p.waitForFinished(60000));
        EXPECT_EQ(p.exitCode(), 0);
        return p.readAllStandardOutput();
    };
    const QByteArray shown = onTerminal("");
    EXPECT_TRUE(shown.contains(pdf.toUtf8() + ": page 1 of 2")) << shown.toStdString();
    EXPECT_TRUE(shown.contains(pdf.toUtf8() + ": page 2 of 2")) << shown.toStdString();
    EXPECT_FALSE(onTerminal("-q").contains("page"));
    EXPECT_EQ(ReadAll(Path("a.txt")), "\xEF\xBB\xBFOne\r\nTwo\r\n");
}
