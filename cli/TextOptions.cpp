#include "cli/TextOptions.h"

#include <QCommandLineParser>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>
#include <sys/resource.h>
#include <unistd.h>

#include "cli/OptionTable.h"
#include "convert/Conversion.h"
#include "convert/SafeFiles.h"
#include "convert/WorkerPool.h"

#ifndef KESTRUNE_VERSION
#error "KESTRUNE_VERSION must be defined by the build"
#endif

namespace kestrune {

namespace {

const char* const ProgramName = "kestrune-text";

const char* const Description =
    "Converts each PDF file to a UTF-8 text file beside it, with the same name and\n"
    "the extension .txt (an existing file of that name is replaced): the byte-order\n"
    "mark, then the text of each page followed by CR LF. A document without pages\n"
    "gives no text file. The files are byte for byte those of the Kestrune window.";

const char* const Epilogue =
    "A regular output file is written through a temporary file in its folder and\n"
    "replaces the earlier file only when the whole text is written. A FIFO, a\n"
    "device, a socket or standard output is written into directly, page by page.\n"
    "\n"
    "Progress goes to standard error, page by page, when it is a terminal.\n"
    "A file that fails gets one line on standard error naming the file and the\n"
    "reason; no text file is written for it (an earlier text file stays as it was;\n"
    "a target written directly keeps the pages written before the failure), and\n"
    "the run goes on with the next file. Error lines come in the order of the\n"
    "inputs. The files are converted in worker processes; a worker ended by a\n"
    "signal, a document past --timeout (waiting for an output counts), a worker\n"
    "silent for 600 s, or a file that changes while it is read fails only that\n"
    "document. The password may also come from KESTRUNE_PASSWORD.\n"
    "\n"
    "A folder stands for every .pdf file below it (a folder without one fails).\n"
    "A batch (a list, a folder, --output-dir, --update or --report) ends with a\n"
    "summary line on standard error: converted, skipped, failed, pages, time.\n"
    "The report's status is converted, skipped (up to date, or no pages) or\n"
    "failed.\n"
    "\n"
    "No output replaces an input, the list or another output: -o with more than\n"
    "one input, or a report that would, is refused (exit status 2); of two inputs\n"
    "with one text file the later fails. Nothing is written through a symbolic\n"
    "link (-o may name one to a FIFO or device). SIGINT, SIGTERM, SIGHUP and\n"
    "SIGPIPE end the run with 128 + the signal, leaving no temporary file.\n"
    "\n"
    "Scanned pages hold pictures, not text. --ocr auto recognises the pages that\n"
    "show something but hold no text character (through Tesseract, one page at a\n"
    "time in each worker) and keeps every other page's text as it is; --ocr\n"
    "always recognises every page. A recognised page's lines end with CR LF like any page's. Without\n"
    "--ocr, a document with pages without text gets a note saying how many. A\n"
    "page that is one scanned image is read from the image's own pixels; other\n"
    "pages are rendered at --ocr-dpi. A page too large for its resolution is read\n"
    "at the highest one within the recognition's pixel limit, with a note. Pages\n"
    "scanned sideways or upside down are read upright (--ocr-rotate). The summary\n"
    "and the report count the recognised and the turned pages; the report gives\n"
    "their mean confidence and the pages under 70, which want a look.\n"
    "\n"
    "--format tsv, json and hocr write each word with its box (points from the top\n"
    "left of the page as shown) instead: for search indexes, highlighting,\n"
    "redaction and tools written for Tesseract's or pdftotext's word output.\n"
    "--format markdown writes the document's headings, paragraphs, lists, tables,\n"
    "code and footnotes as Markdown, without running heads and page numbers.\n"
    "--layout keeps tables and columns side by side; --reading-order writes the\n"
    "text column after column, margin notes after their paragraph. --eol lf\n"
    "--no-bom gives the line ends and start that Linux and macOS tools expect\n"
    "(pdftotext's); the defaults, CR LF and the byte-order mark, suit Windows\n"
    "programs.\n"
    "\n"
    "--format pdf writes a copy of each PDF (NAME.ocr.pdf) whose recognised pages\n"
    "carry their words as invisible text over the scan, so that viewers find and\n"
    "copy them: the input's bytes unchanged, then an appended update.\n"
    "\n"
    "Exit status: 0 when every file converted, 1 when any file failed (or a write\n"
    "to standard output did), 2 when the command line is wrong, an output would\n"
    "replace an input, the report cannot be created, or a recognition language is\n"
    "not installed.\n";

int OnlineProcessors() {
    const long count = sysconf(_SC_NPROCESSORS_ONLN);
    return count > 0 ? int(qMin<long>(count, 1 << 16)) : 1;
}

// The workers' default memory limit for Jobs workers, as --help shows it.
QString DefaultMemoryLimitText(int Jobs) {
    const qint64 limit = DefaultMemoryLimit(Jobs);
    return limit > 0 ? QStringLiteral("%1 MB").arg(limit >> 20) : QStringLiteral("none");
}

// Descriptors kept free for the run itself (standard streams, the report, the
// list, the output folder, the engine's own files).
constexpr rlim_t ReservedDescriptors = 24;
constexpr rlim_t DescriptorsPerJob = 4;

// The longest password --password-fd takes: far beyond any real one, and a
// descriptor that never ends a line (/dev/zero, a stream) is refused at once.
constexpr qsizetype MaxPasswordBytes = 4096;
// The longest --ocr-lang value: some 40 codes joined by +.
constexpr qsizetype MaxLanguagesLength = 255;
// Values quoted in error lines are cut to this many characters.
constexpr qsizetype MaxShownValue = 60;

// A password read from descriptor Fd, up to its first line end (as gpg's
// --passphrase-fd reads it), one byte at a time so that nothing after the
// line is taken from a shared descriptor; an error message when it cannot be
// read or is longer than MaxPasswordBytes.
struct TReadPassword {
    QString Password;
    QString Error;
};
TReadPassword ReadPassword(int Fd) {
    QByteArray bytes;
    char c;
    for (;;) {
        const ssize_t n = ::read(Fd, &c, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0)
            return {{}, QStringLiteral("cannot read the password from descriptor %1: %2")
                            .arg(Fd)
                            .arg(QString::fromLocal8Bit(std::strerror(errno)))};
        if (n == 0 || c == '\n') break;
        if (bytes.size() == MaxPasswordBytes)
            return {{}, QStringLiteral("the password from descriptor %1 is longer than %2 bytes").arg(Fd).arg(MaxPasswordBytes)};
        bytes += c;
    }
    if (bytes.endsWith('\r')) bytes.chop(1);
    return {QString::fromUtf8(bytes), {}};
}

// Value as quoted in an error line: cut in the middle when long, so that a
// line stays a line whatever was typed.
QString ShownValue(const QString& Value) {
    if (Value.size() <= MaxShownValue) return Value;
    return Value.left(MaxShownValue / 2) + QStringLiteral("...") + Value.right(MaxShownValue / 2 - 3);
}

// The options of the table, as the parser takes them.
class TDeclaredOptions {
public:
    TDeclaredOptions() {
        for (const TOptionEntry& entry : OptionTable()) {
            QStringList names;
            if (*entry.Short) names << QString::fromLatin1(entry.Short);
            names << QString::fromLatin1(entry.Long);
            FOptions.append(QCommandLineOption(names, Summary(entry), QString::fromLatin1(entry.Value)));
        }
    }

    const QCommandLineOption& operator[](TOptionId Id) const { return FOptions[qsizetype(Id)]; }

    void AddTo(QCommandLineParser& Parser) const {
        for (const QCommandLineOption& option : FOptions) Parser.addOption(option);
        Parser.addPositionalArgument(
            "FILE.pdf",
            "A PDF file to convert; - reads the PDF from standard input (its text goes to standard output unless -o "
            "is given); -- ends the options, so that every further argument is a file.",
            "FILE.pdf...");
    }

private:
    // The table's line, with this machine's figures.
    static QString Summary(const TOptionEntry& Entry) {
        const QString summary = QString::fromLatin1(Entry.Summary);
        switch (Entry.Id) {
        case TOptionId::Jobs: return summary.arg(OnlineProcessors());
        case TOptionId::MemoryLimit:
            return summary.arg(MinDefaultMemoryLimit >> 20)
                .arg(MaxDefaultMemoryLimit >> 20)
                .arg(DefaultMemoryLimitText(OnlineProcessors()))
                .arg(OnlineProcessors());
        default: return summary;
        }
    }

    QList<QCommandLineOption> FOptions;
};

// The words an option takes, in the order of the values they stand for.
QStringList Choices(TOptionId Id) {
    return QString::fromLatin1(OptionEntry(Id).Choices).split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

// The name of an option as the user wrote it: -x or --name.
QString Shown(const QString& Name) { return (Name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + Name; }
QString Shown(const QCommandLineOption& Option) { return Shown(Option.names().constFirst()); }

// The error line for a failed parse. Qt stops at an option that lacks its
// value, which can only be the last argument; otherwise options were unknown.
QString ParseError(const QCommandLineParser& Parser, const QStringList& Arguments) {
    if (!Parser.unknownOptionNames().isEmpty())
        return QStringLiteral("unknown option %1").arg(ShownValue(Shown(Parser.unknownOptionNames().constFirst())));
    QString last = Arguments.value(Arguments.size() - 1);
    if (!last.startsWith(QLatin1String("--"))) last = QStringLiteral("-") + last.right(1);  // -qo: -o
    return QStringLiteral("option %1 needs a value").arg(ShownValue(last));
}

class TChecker {
public:
    explicit TChecker(const QCommandLineParser& Parser) : FParser(Parser) {}

    QString Error;

    // The value of Option, which must not be empty.
    QString Path(const QCommandLineOption& Option, const char* What = "a path") {
        const QString value = FParser.value(Option);
        if (FParser.isSet(Option) && value.isEmpty()) Fail(QStringLiteral("option %1 needs %2").arg(Shown(Option), What));
        return value;
    }

    // The value of Option as a whole number from Least to Most.
    std::optional<long long> Number(const QCommandLineOption& Option, const char* What, long long Least, long long Most) {
        if (!FParser.isSet(Option)) return std::nullopt;
        const QString value = FParser.value(Option);
        bool ok = false;
        const long long n = value.trimmed().toLongLong(&ok);
        if (ok && n >= Least && n <= Most) return n;
        Fail(QStringLiteral("option %1 needs %2 from %3 to %4, not '%5'")
                 .arg(Shown(Option), What)
                 .arg(Least)
                 .arg(Most)
                 .arg(ShownValue(value)));
        return std::nullopt;
    }

    // The value of Option as a whole number of at least 1 that an int holds.
    std::optional<int> Count(const QCommandLineOption& Option, const char* What) {
        const auto n = Number(Option, What, 1, std::numeric_limits<int>::max());
        return n ? std::optional<int>(int(*n)) : std::nullopt;
    }

    // The value of Option as a number of seconds above 0.
    std::optional<double> Seconds(const QCommandLineOption& Option) {
        if (!FParser.isSet(Option)) return std::nullopt;
        const QString value = FParser.value(Option);
        bool ok = false;
        const double seconds = value.trimmed().toDouble(&ok);
        // Past some 30 years a limit is no limit; it is still a valid one.
        if (ok && std::isfinite(seconds) && seconds > 0) return seconds;
        Fail(QStringLiteral("option %1 needs a number of seconds above 0, not '%2'").arg(Shown(Option), ShownValue(value)));
        return std::nullopt;
    }

    // The value of Option as one of Choices (by position), or Default when it is not given.
    int Choice(const QCommandLineOption& Option, const QStringList& Choices, int Default) {
        if (!FParser.isSet(Option)) return Default;
        const QString value = FParser.value(Option);
        if (Choices.contains(value)) return int(Choices.indexOf(value));
        Fail(QStringLiteral("option %1 needs one of %2, not '%3'").arg(Shown(Option), Choices.join(QStringLiteral(", ")), ShownValue(value)));
        return Default;
    }

    void Require(bool Condition, const QString& Message) {
        if (!Condition) Fail(Message);
    }

private:
    void Fail(const QString& Message) {
        if (Error.isEmpty()) Error = Message;  // the first error is the one shown
    }

    const QCommandLineParser& FParser;
};

}  // namespace

TPageRange TOptions::PageRange(int PageCount) const {
    return {qMax(FirstPage.value_or(1), 1), qMin(LastPage.value_or(PageCount), PageCount)};
}

QString TOptions::TargetOf(const QString& File) const {
    if (!Output.isEmpty()) return Output;
    if (File == QLatin1String("-")) return File;
    return TextFileName(File, Format.Extension());
}

int MaxJobs() {
    int most = std::max(4, 2 * OnlineProcessors());
    rlimit files{};
    if (::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur != RLIM_INFINITY) {
        const rlim_t room = files.rlim_cur > ReservedDescriptors ? (files.rlim_cur - ReservedDescriptors) / DescriptorsPerJob : 1;
        most = int(std::clamp<rlim_t>(room, 1, rlim_t(most)));
    }
    return most;
}

qint64 TOptions::TimeoutMilliseconds() const {
    if (!TimeoutSeconds) return -1;
    constexpr double limit = 1e15;  // some 30,000 years
    return qint64(std::ceil(qMin(*TimeoutSeconds * 1000, limit)));
}

TCommandLine ParseCommandLine(const QStringList& Arguments) {
    QCommandLineParser parser;
    using enum TOptionId;
    const TDeclaredOptions declared;
    declared.AddTo(parser);
    TCommandLine result;
    if (!parser.parse(Arguments)) {
        result.Error = ParseError(parser, Arguments);
        return result;
    }
    if (parser.isSet(declared[Help])) {
        result.Action = TCommandLine::TAction::Help;
        return result;
    }
    if (parser.isSet(declared[Version])) {
        result.Action = TCommandLine::TAction::Version;
        return result;
    }

    TOptions& o = result.Options;
    TChecker check(parser);
    o.Files = parser.positionalArguments();
    o.Output = check.Path(declared[Output]);
    o.Password = parser.value(declared[Password]);
    const auto passwordFd = check.Number(declared[PasswordFd], "a descriptor", 0, std::numeric_limits<int>::max());
    check.Require(!passwordFd || !parser.isSet(declared[Password]),
                  QStringLiteral("options --password and --password-fd exclude each other"));
    if (passwordFd && check.Error.isEmpty()) {
        const TReadPassword read = ReadPassword(int(*passwordFd));
        check.Require(read.Error.isEmpty(), read.Error);
        o.Password = read.Password;
    } else if (!parser.isSet(declared[Password])) {
        o.Password = qEnvironmentVariable("KESTRUNE_PASSWORD");
    }
    o.Quiet = parser.isSet(declared[Quiet]);
    o.FirstPage = check.Count(declared[FirstPage], "a page number");
    o.LastPage = check.Count(declared[LastPage], "a page number");
    const long long jobs = check.Number(declared[Jobs], "a number", 1, std::numeric_limits<int>::max()).value_or(OnlineProcessors());
    o.Jobs = int(std::min<long long>(jobs, MaxJobs()));
    if (jobs > o.Jobs && parser.isSet(declared[Jobs])) o.JobsAsked = jobs;
    // 0 lifts the workers' default limit; below 16 MB not even a worker starts.
    if (parser.isSet(declared[MemoryLimit]) && parser.value(declared[MemoryLimit]).trimmed() == QLatin1String("0"))
        o.MemoryLimitMiB = 0;
    else if (const auto mib = check.Number(declared[MemoryLimit], "0 (no limit) or a number of MB", 16, 1 << 24))
        o.MemoryLimitMiB = int(*mib);
    o.TimeoutSeconds = check.Seconds(declared[Timeout]);
    o.FilesFrom = check.Path(declared[FilesFrom], "a file");
    o.NulSeparated = parser.isSet(declared[Null]);
    o.OutputDir = check.Path(declared[OutputDir], "a folder");
    o.Update = parser.isSet(declared[Update]);
    o.Report = check.Path(declared[Report], "a file");
    o.SkipHidden = parser.isSet(declared[SkipHidden]);
    o.Format.Format = TOutputFormat(check.Choice(declared[Format], Choices(Format), int(TOutputFormat::Text)));
    // A searchable copy is what recognition is for: it reads the pages without text unless told otherwise.
    const bool pdf = o.Format.Format == TOutputFormat::Pdf;
    o.Ocr.Mode = TOcrMode(check.Choice(declared[Ocr], Choices(Ocr), int(pdf ? TOcrMode::Auto : TOcrMode::Never)));
    if (parser.isSet(declared[OcrLanguages])) {
        o.Ocr.Languages = check.Path(declared[OcrLanguages], "language codes");
        check.Require(o.Ocr.Languages.size() <= MaxLanguagesLength,
                      QStringLiteral("option --ocr-lang takes at most %1 characters, not %2")
                          .arg(MaxLanguagesLength)
                          .arg(o.Ocr.Languages.size()));
    }
    o.Ocr.Dpi = check.Count(declared[OcrDpi], "a resolution").value_or(o.Ocr.Dpi);
    o.Ocr.Rotate = check.Choice(declared[OcrRotate], Choices(OcrRotate), 0) == 0;
    o.Ocr.Clean = parser.isSet(declared[OcrClean]);
    o.Format.Layout = parser.isSet(declared[Layout]);
    o.Format.ReadingOrder = parser.isSet(declared[ReadingOrder]);
    o.Format.PageMarks = parser.isSet(declared[PageMarks]);
    o.Format.CrLf = check.Choice(declared[Eol], Choices(Eol), 1) == 1;
    o.Format.ByteOrderMark = !parser.isSet(declared[NoBom]);
    o.Format.FormFeeds = check.Choice(declared[PageBreak], Choices(PageBreak), 0) == 1;

    const qsizetype standardInputs = o.Files.count(QStringLiteral("-")) + (o.FilesFrom == QLatin1String("-") ? 1 : 0);
    check.Require(!o.Files.isEmpty() || !o.FilesFrom.isEmpty(), QStringLiteral("no input file given"));
    check.Require(o.Output.isEmpty() || o.OutputDir.isEmpty(), QStringLiteral("options -o and --output-dir exclude each other"));
    check.Require(o.Output.isEmpty() || o.FilesFrom.isEmpty(), QStringLiteral("option -o takes one input file, not a list"));
    check.Require(o.Output.isEmpty() || o.Files.size() <= 1,
                  QStringLiteral("option -o takes one input file, not %1").arg(o.Files.size()));
    check.Require(!o.NulSeparated || !o.FilesFrom.isEmpty(), QStringLiteral("option -0 needs --files-from"));
    check.Require(standardInputs <= 1, QStringLiteral("standard input can be read only once"));
    check.Require(o.OutputDir.isEmpty() || !o.Files.contains(QStringLiteral("-")),
                  QStringLiteral("standard input has no file name to place under --output-dir; use -o"));
    check.Require(!parser.isSet(declared[Bom]) || !parser.isSet(declared[NoBom]),
                  QStringLiteral("options --bom and --no-bom exclude each other"));
    // The word formats have fixed line ends (LF) and no byte-order mark.
    const bool text = o.Format.Format == TOutputFormat::Text;
    check.Require(!o.Format.Layout || !o.Format.ReadingOrder,
                  QStringLiteral("options --layout and --reading-order exclude each other"));
    for (const QCommandLineOption* option :
         {&declared[Layout], &declared[ReadingOrder], &declared[Eol], &declared[Bom], &declared[NoBom], &declared[PageBreak]})
        check.Require(text || !parser.isSet(*option),
                      QStringLiteral("option %1 applies to --format text only").arg(Shown(*option)));
    // The copy is written whole at the end, through a temporary file: not into standard output.
    check.Require(!pdf || o.Ocr.Mode != TOcrMode::Never, QStringLiteral("option --format pdf needs --ocr auto or always"));
    check.Require(!pdf || o.Output.isEmpty() || ProcessDescriptor(o.Output) < 0,
                  QStringLiteral("option --format pdf writes a file, not standard output; name one with -o"));
    check.Require(!pdf || !o.Output.isEmpty() || !o.Files.contains(QStringLiteral("-")),
                  QStringLiteral("option --format pdf needs -o FILE for standard input"));
    check.Require(o.Format.Format == TOutputFormat::Markdown || !o.Format.PageMarks,
                  QStringLiteral("option --page-marks applies to --format markdown only"));
    if (!check.Error.isEmpty()) {
        result.Error = check.Error;
        return result;
    }
    result.Action = TCommandLine::TAction::Convert;
    return result;
}

QString HelpText() {
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(Description));
    TDeclaredOptions().AddTo(parser);
    // Qt names the program by the path it was started with; the usage line names it plainly.
    QString text = parser.helpText();
    text.replace(0, text.indexOf(QLatin1Char('\n')), QStringLiteral("Usage: %1 [options] FILE.pdf...").arg(ProgramName));
    return text + QLatin1Char('\n') + QString::fromLatin1(Epilogue);
}

QString VersionText() { return QStringLiteral("%1 %2").arg(ProgramName, KESTRUNE_VERSION); }

}  // namespace kestrune
