// kestrune-text on batches: folders and lists into an output folder, resumed
// runs, the report, isolation of a document that runs too long, and the
// schedulers that spread a batch over machines (GNU parallel, Slurm).
#include <gtest/gtest.h>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <unistd.h>
#include <utime.h>

#include "support/PdfBuilder.h"
#include "support/ProgramRun.h"
#include "support/TestHelpers.h"

using testing_support::ReadAll;
using testing_support::RunProgram;
using testing_support::RunResult;
using testing_support::SimpleTextPdf;
using testing_support::SlowTextPdf;
using testing_support::VariedTextPdf;
using testing_support::WriteFile;

namespace {

class Batches : public testing::Test {
protected:
    QString Path(const QString& Name) const { return FDir.filePath(Name); }
    QString Write(const QString& Name, const QByteArray& Bytes) const { return WriteFile(Path(Name), Bytes); }

    // Program, or kestrune-text, in the test's folder.
    RunResult Run(const QString& Program, const QStringList& Arguments, const QProcessEnvironment& Environment) {
        return RunProgram(Program, Arguments, {.WorkingDirectory = FDir.path(), .Environment = Environment});
    }
    RunResult Run(const QStringList& Arguments, const QByteArray& Input = {}) {
        return RunProgram(QStringLiteral(KESTRUNE_TEXT_PROGRAM), Arguments,
                          {.WorkingDirectory = FDir.path(), .Input = Input});
    }

    // The files below Folder, relative to it, sorted.
    QStringList Tree(const QString& Folder) const {
        QStringList files;
        QDirIterator it(Path(Folder), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext()) files.append(QDir(Path(Folder)).relativeFilePath(it.next()));
        files.sort();
        return files;
    }

    // The report's lines, each parsed.
    QList<QJsonObject> Report(const QString& Name) const {
        QList<QJsonObject> lines;
        for (const QByteArray& line : ReadAll(Path(Name)).split('\n')) {
            if (line.isEmpty()) continue;
            QJsonParseError error{};
            const QJsonDocument document = QJsonDocument::fromJson(line, &error);
            EXPECT_EQ(error.error, QJsonParseError::NoError) << line.toStdString();
            lines.append(document.object());
        }
        return lines;
    }

    QTemporaryDir FDir;
};

QByteArray TextOf(const QByteArray& Word) { return "\xEF\xBB\xBF" + Word + "\r\n"; }

// Sets a file's modification time Seconds away from now.
void SetAge(const QString& File, int Seconds) {
    const time_t t = time(nullptr) + Seconds;
    const utimbuf times{t, t};
    ASSERT_EQ(utime(QFile::encodeName(File).constData(), &times), 0);
}

TEST_F(Batches, AFolderTreeIntoAnOutputFolder) {
    Write("docs/a.pdf", SimpleTextPdf({{"A"}}));
    Write("docs/sub dir/b \xC3\xA9t\xC3\xA9.PDF", SimpleTextPdf({{"B"}}));
    Write("docs/sub dir/deeper/-dash.Pdf", SimpleTextPdf({{"Dash"}}));
    Write("docs/damaged.pdf", "%PDF-1.7 nothing else");
    Write("docs/notes.txt", "not a PDF");
    Write("top.pdf", SimpleTextPdf({{"Top"}}));

    const RunResult r = Run({"-j", "2", "--output-dir", "out", "docs", "top.pdf"});
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_EQ(Tree("out"), (QStringList{"a.txt", "sub dir/b \xC3\xA9t\xC3\xA9.txt",
                                        "sub dir/deeper/-dash.txt", "top.txt"}));
    EXPECT_EQ(ReadAll(Path("out/a.txt")), TextOf("A"));
    EXPECT_EQ(ReadAll(Path("out/sub dir/b \xC3\xA9t\xC3\xA9.txt")), TextOf("B"));
    EXPECT_EQ(ReadAll(Path("out/sub dir/deeper/-dash.txt")), TextOf("Dash"));
    EXPECT_EQ(ReadAll(Path("out/top.txt")), TextOf("Top"));
    // One line for the damaged file, then the summary.
    const QList<QByteArray> lines = r.Err.trimmed().split('\n');
    ASSERT_EQ(lines.size(), 2) << r.Err.toStdString();
    EXPECT_EQ(lines[0], "kestrune-text: docs/damaged.pdf: File not in PDF format or corrupted");
    EXPECT_TRUE(lines[1].startsWith("kestrune-text: 4 converted, 0 skipped, 1 failed, 4 pages in ")) << lines[1].data();
    EXPECT_EQ(Run({"-q", "--output-dir", "out", "docs"}).Err, "kestrune-text: docs/damaged.pdf: File not in PDF format or corrupted\n");
}

TEST_F(Batches, FileListsFromFilesAndStandardInput) {
    Write("a.pdf", SimpleTextPdf({{"A"}}));
    Write("line\nbreak.pdf", SimpleTextPdf({{"N"}}));
    Write("folder/c.pdf", SimpleTextPdf({{"C"}}));
    Write("list.txt", "a.pdf\r\nfolder\n\n");
    RunResult r = Run({"-q", "--files-from", "list.txt"});
    EXPECT_EQ(r.ExitCode, 0) << r.Err.toStdString();
    EXPECT_EQ(ReadAll(Path("a.txt")), TextOf("A"));
    EXPECT_EQ(ReadAll(Path("folder/c.txt")), TextOf("C"));

    // NUL-separated from standard input, as find -print0 writes it, after an argument.
    r = Run({"-q", "--files-from", "-", "-0", "a.pdf"}, QByteArray("line\nbreak.pdf\0missing.pdf\0", 26));
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_EQ(r.Err, "kestrune-text: missing.pdf: No such file\n");
    EXPECT_EQ(ReadAll(Path("line\nbreak.txt")), TextOf("N"));

    r = Run({"--files-from", "no-list.txt"});
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_TRUE(r.Err.startsWith("kestrune-text: Cannot read the list \"no-list.txt\".")) << r.Err.toStdString();
}

TEST_F(Batches, UpdateSkipsWhatIsUpToDateAndConvertsAfterATouch) {
    const QString a = Write("in/a.pdf", SimpleTextPdf({{"A"}}));
    const QString b = Write("in/b.pdf", SimpleTextPdf({{"B"}}));
    SetAge(a, -100);
    SetAge(b, -100);
    const QStringList arguments{"--update", "--output-dir", "out", "--report", "report.jsonl", "in"};
    ASSERT_EQ(Run(arguments).ExitCode, 0);
    // Each input's status, in input order (the report follows the order in which inputs end).
    const auto statuses = [&] {
        QMap<QString, QString> byInput;
        for (const QJsonObject& line : Report("report.jsonl")) byInput[line["input"].toString()] = line["status"].toString();
        return byInput.values();
    };
    EXPECT_EQ(statuses(), (QStringList{"converted", "converted"}));

    Write("out/a.txt", "kept");  // newer than its PDF: left alone
    RunResult r = Run(arguments);
    EXPECT_EQ(r.ExitCode, 0);
    EXPECT_EQ(statuses(), (QStringList{"skipped", "skipped"}));
    EXPECT_TRUE(r.Err.startsWith("kestrune-text: 0 converted, 2 skipped, 0 failed, 0 pages in ")) << r.Err.toStdString();
    EXPECT_EQ(ReadAll(Path("out/a.txt")), "kept");

    SetAge(a, 100);  // the PDF changed after its text was written
    r = Run(arguments);
    EXPECT_EQ(statuses(), (QStringList{"converted", "skipped"}));
    EXPECT_EQ(ReadAll(Path("out/a.txt")), TextOf("A"));
}

TEST_F(Batches, AReportLinePerInput) {
    const QByteArray three = SimpleTextPdf({{"One"}, {"Two"}, {"Three"}});
    Write("good.pdf", three);
    Write("\xC3\xBC \"quoted\".pdf", SimpleTextPdf({{"U"}}));
    Write("damaged.pdf", "junk");
    Write("empty.pdf", testing_support::EmptyPdf());
    const RunResult r = Run({"-q", "--report", "report.jsonl", "good.pdf", "missing.pdf", "damaged.pdf", "empty.pdf",
                             "\xC3\xBC \"quoted\".pdf"});
    EXPECT_EQ(r.ExitCode, 1);
    const QList<QJsonObject> lines = Report("report.jsonl");
    ASSERT_EQ(lines.size(), 5);
    QMap<QString, QJsonObject> byInput;
    for (const QJsonObject& line : lines) byInput[line["input"].toString()] = line;
    const QJsonObject good = byInput["good.pdf"];
    EXPECT_EQ(good["output"].toString(), "good.txt");
    EXPECT_EQ(good["status"].toString(), "converted");
    EXPECT_EQ(good["pages"].toInt(), 3);
    EXPECT_EQ(good["bytes"].toInt(), QFileInfo(Path("good.txt")).size());
    EXPECT_TRUE(good["seconds"].isDouble());
    EXPECT_FALSE(good.contains("error"));
    EXPECT_EQ(byInput["missing.pdf"]["status"].toString(), "failed");
    EXPECT_EQ(byInput["missing.pdf"]["error"].toString(), "No such file");
    EXPECT_EQ(byInput["damaged.pdf"]["error"].toString(), "File not in PDF format or corrupted");
    EXPECT_EQ(byInput["empty.pdf"]["status"].toString(), "skipped");
    EXPECT_EQ(byInput["\xC3\xBC \"quoted\".pdf"]["output"].toString(), "\xC3\xBC \"quoted\".txt");
    EXPECT_EQ(byInput["\xC3\xBC \"quoted\".pdf"]["status"].toString(), "converted");
}

TEST_F(Batches, AFolderWithoutPdfFilesFailsWithItsOwnLine) {
    Write("none/notes.txt", "not a PDF");
    Write("one/a.pdf", SimpleTextPdf({{"A"}}));
    const RunResult r = Run({"-q", "none", "one"});
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_EQ(r.Err, "kestrune-text: none: the folder holds no PDF file\n");
    EXPECT_EQ(ReadAll(Path("one/a.txt")), TextOf("A"));
    EXPECT_EQ(Tree("none"), QStringList{"notes.txt"});
}

// A folder the run may not read gets its own line with the reason; the rest
// of the tree converts. Run as root, the program runs without the
// capabilities that read past a folder's permissions, as any other user would.
TEST_F(Batches, AnUnreadableFolderIsNamedAndTheRestConverts) {
    Write("docs/a.pdf", SimpleTextPdf({{"A"}}));
    Write("docs/locked/b.pdf", SimpleTextPdf({{"B"}}));
    ASSERT_TRUE(QFile::setPermissions(Path("docs/locked"), QFileDevice::Permissions()));
    QString program = QStringLiteral(KESTRUNE_TEXT_PROGRAM);
    QStringList arguments{"-q", "docs"};
    if (geteuid() == 0) {
        const QString setpriv = QStandardPaths::findExecutable("setpriv");
        if (setpriv.isEmpty()) GTEST_SKIP() << "run as root without setpriv (util-linux)";
        arguments = QStringList{"--bounding-set", "-dac_override,-dac_read_search", "--", program} + arguments;
        program = setpriv;
    }
    const RunResult r = Run(program, arguments, QProcessEnvironment::systemEnvironment());
    QFile::setPermissions(Path("docs/locked"), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_EQ(r.Err, "kestrune-text: docs/locked: Cannot read the folder. Permission denied\n");
    EXPECT_EQ(ReadAll(Path("docs/a.txt")), TextOf("A"));
    EXPECT_FALSE(QFile::exists(Path("docs/locked/b.txt")));
}

TEST_F(Batches, APathThatWouldEscapeTheOutputFolderIsRefused) {
    Write("work/inside.pdf", SimpleTextPdf({{"In"}}));
    Write("outside.pdf", SimpleTextPdf({{"Out"}}));
    const RunResult r = RunProgram(QStringLiteral(KESTRUNE_TEXT_PROGRAM),
                                   {"-q", "--output-dir", "out", "../outside.pdf", "inside.pdf", Path("outside.pdf")},
                                   {.WorkingDirectory = Path("work")});
    EXPECT_EQ(r.ExitCode, 1);
    const QByteArray refused = ": the text file would lie outside the output folder; a path under the current folder is needed\n";
    EXPECT_EQ(r.Err,
              "kestrune-text: ../outside.pdf" + refused + "kestrune-text: " + Path("outside.pdf").toUtf8() + refused);
    EXPECT_EQ(Tree("work"), (QStringList{"inside.pdf", "out/inside.txt"}));
    EXPECT_EQ(Tree(""), (QStringList{"outside.pdf", "work/inside.pdf", "work/out/inside.txt"}));
}

// A document that runs past --timeout costs only itself, with -j 1 as well.
TEST_F(Batches, ATimeLimitCostsOnlyItsDocument) {
    Write("big.pdf", SlowTextPdf(200));
    Write("small.pdf", SimpleTextPdf({{"Small"}}));
    for (const char* jobs : {"1", "2"}) {
        const RunResult r = Run({"-q", "-j", jobs, "--timeout", "0.5", "big.pdf", "small.pdf"});
        EXPECT_EQ(r.ExitCode, 1);
        EXPECT_EQ(r.Err, "kestrune-text: big.pdf: time limit reached (0.5 s)\n");
        EXPECT_FALSE(QFile::exists(Path("big.txt")));
        EXPECT_EQ(ReadAll(Path("small.txt")), TextOf("Small"));
        QFile::remove(Path("small.txt"));
    }
    EXPECT_EQ(QDir(FDir.path()).entryList(QDir::Files), (QStringList{"big.pdf", "small.pdf"}));
}

// The README's recipe: GNU parallel hands out the list in parts, here to the
// local machine (":"), each part with a report of its own; the reports merge.
TEST_F(Batches, GnuParallelRecipe) {
    const QString parallel = QStandardPaths::findExecutable("parallel");
    if (parallel.isEmpty()) GTEST_SKIP() << "GNU parallel is not installed";
    QStringList names{"a.pdf", "b c.pdf", "-dash.pdf", "\xC3\xA9.pdf", "e.pdf"};
    QByteArray list;
    for (const QString& name : names) {
        Write("docs/" + name, SimpleTextPdf({{name.left(1)}}));
        list += "docs/" + name.toUtf8() + '\0';
    }
    Write("list", list);
    QDir().mkpath(Path("reports"));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("PATH", QFileInfo(KESTRUNE_TEXT_PROGRAM).path() + ":" + environment.value("PATH"));
    environment.insert("HOME", FDir.path());  // parallel keeps its state there
    const RunResult r = Run(parallel,
                            {"--will-cite", "-0", "-j", "1", "--sshlogin", ":", "--workdir", ".", "-n", "2", "kestrune-text",
                             "-q", "--output-dir", "text", "--report", "reports/{#}.jsonl", "--", "{}", "::::", "list"},
                            environment);
    EXPECT_EQ(r.ExitCode, 0) << r.Err.toStdString();
    EXPECT_EQ(Tree("reports"), (QStringList{"1.jsonl", "2.jsonl", "3.jsonl"}));
    QByteArray merged;
    for (const QString& report : Tree("reports")) merged += ReadAll(Path("reports/" + report));
    EXPECT_EQ(merged.count("\"status\":\"converted\""), 5) << merged.toStdString();
    for (const QString& name : names)
        EXPECT_EQ(ReadAll(Path("text/docs/" + QString(name).replace(".pdf", ".txt"))), TextOf(name.left(1).toUtf8()))
            << name.toStdString();
}

// The share of each task of an array, for ranges, steps and lists; an array
// whose ids are not evenly spaced is refused rather than half converted.
TEST_F(Batches, SlurmArrayShares) {
    const QString script = QStringLiteral(KESTRUNE_SOURCE_DIR "/examples/slurm/kestrune-array.sbatch");
    struct Case {
        const char* id;
        const char* count;
        const char* min;
        const char* max;
        const char* step;  // empty: not set, as for a list
        QByteArray share;  // empty: refused
    };
    const Case cases[] = {
        {"0", "16", "0", "15", "1", "0 16\n"},       // --array=0-15
        {"15", "16", "0", "15", "1", "15 16\n"},
        {"9", "8", "1", "15", "2", "4 8\n"},         // --array=1-15:2
        {"14", "8", "0", "14", "2", "7 8\n"},        // --array=0-15:2
        {"7", "3", "3", "7", "", "2 3\n"},           // --array=3,5,7
        {"5", "3", "0", "7", "", ""},                // --array=0,5,7
        {"5", "3", "0", "7", "1", ""},
    };
    for (const Case& c : cases) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("SLURM_ARRAY_TASK_ID", c.id);
        environment.insert("SLURM_ARRAY_TASK_COUNT", c.count);
        environment.insert("SLURM_ARRAY_TASK_MIN", c.min);
        environment.insert("SLURM_ARRAY_TASK_MAX", c.max);
        if (*c.step) environment.insert("SLURM_ARRAY_TASK_STEP", c.step);
        const RunResult r = Run("bash", {"-c", "source \"$1\" && array_share", "bash", script}, environment);
        EXPECT_EQ(r.Out, c.share) << c.id << " of " << c.min << "-" << c.max;
        EXPECT_EQ(r.ExitCode, c.share.isEmpty() ? 1 : 0);
        if (c.share.isEmpty()) {
            EXPECT_TRUE(r.Err.startsWith("kestrune-array: the array's task ids (0 to 7, 3 tasks) are not evenly spaced"))
                << r.Err.toStdString();
        }
    }
}

// --array=0-15:2 on a 2-processor node, run as its eight tasks would be:
// every file converted exactly once; a task run again keeps its first report.
TEST_F(Batches, SlurmArrayScript) {
    const QString script = QStringLiteral(KESTRUNE_SOURCE_DIR "/examples/slurm/kestrune-array.sbatch");
    ASSERT_EQ(QProcess::execute("bash", {"-n", script}), 0);
    QByteArray list;
    for (int i = 0; i < 19; ++i) {
        const QString name = QStringLiteral("pdf/%1.pdf").arg(i);
        Write(name, SimpleTextPdf({{QString::number(i)}}));
        list += name.toUtf8() + '\n';
    }
    Write("list.txt", list);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("PATH", QFileInfo(KESTRUNE_TEXT_PROGRAM).path() + ":" + environment.value("PATH"));
    environment.insert("SLURM_ARRAY_JOB_ID", "77");
    environment.insert("SLURM_ARRAY_TASK_COUNT", "8");
    environment.insert("SLURM_ARRAY_TASK_MIN", "0");
    environment.insert("SLURM_ARRAY_TASK_MAX", "14");
    environment.insert("SLURM_ARRAY_TASK_STEP", "2");
    environment.insert("SLURM_CPUS_ON_NODE", "2");
    for (int task = 0; task <= 14; task += 2) {
        environment.insert("SLURM_ARRAY_TASK_ID", QString::number(task));
        const RunResult r = Run("bash", {script, "list.txt", "text", "reports"}, environment);
        EXPECT_EQ(r.ExitCode, 0) << r.Err.toStdString();
    }
    QMap<QString, int> converted;
    for (const QString& report : Tree("reports"))
        for (const QJsonObject& line : Report("reports/" + report)) {
            EXPECT_EQ(line["status"].toString(), "converted");
            ++converted[line["input"].toString()];
        }
    EXPECT_EQ(converted.size(), 19);
    for (auto it = converted.begin(); it != converted.end(); ++it) EXPECT_EQ(it.value(), 1) << it.key().toStdString();
    EXPECT_EQ(ReadAll(Path("text/pdf/18.txt")), TextOf("18"));

    // Task 4 again (requeued): a second report beside the first, all skipped as up to date.
    environment.insert("SLURM_ARRAY_TASK_ID", "4");
    EXPECT_EQ(Run("bash", {script, "list.txt", "text", "reports"}, environment).ExitCode, 0);
    EXPECT_EQ(Report("reports/report-4-77.jsonl").size(), 3);
    EXPECT_EQ(Report("reports/report-4-77-2.jsonl").size(), 3);
    EXPECT_EQ(Tree("reports").size(), 9);
}

}  // namespace
