#include "app/TextOptions.h"

#include <QCommandLineParser>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>
#include <sys/resource.h>
#include <unistd.h>

#include "app/Conversion.h"
#include "app/WorkerPool.h"

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
    "page too large for --ocr-dpi is read at the highest resolution within the\n"
    "recognition's pixel limit, with a note. The summary and the report count the\n"
    "recognised pages.\n"
    "\n"
    "--format tsv, json and hocr write each word with its box (points from the top\n"
    "left of the page as shown) instead: for search indexes, highlighting,\n"
    "redaction and tools written for Tesseract's or pdftotext's word output.\n"
    "--layout keeps tables and columns side by side. --eol lf --no-bom gives the\n"
    "line ends and start that Linux and macOS tools expect (pdftotext's); the\n"
    "defaults, CR LF and the byte-order mark, suit Windows programs.\n"
    "\n"
    "Exit status: 0 when every file converted, 1 when any file failed, 2 when the\n"
    "command line is wrong, an output would replace an input, or a recognition\n"
    "language is not installed.\n";

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

// A password read from descriptor Fd, up to its first line end (as gpg's
// --passphrase-fd reads it); nullopt with errno set when it cannot be read.
std::optional<QString> ReadPassword(int Fd) {
    QByteArray bytes;
    char c;
    for (;;) {
        const ssize_t n = ::read(Fd, &c, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return std::nullopt;
        if (n == 0 || c == '\n') break;
        bytes += c;
    }
    if (bytes.endsWith('\r')) bytes.chop(1);
    return QString::fromUtf8(bytes);
}

// The options, declared once for the parser and the help text.
struct TDeclaredOptions {
    QCommandLineOption Output{{"o", "output"},
                              "Write the text to PATH instead (one input file only); - writes it to standard output.",
                              "PATH"};
    QCommandLineOption Password{"password",
                                "Open password-protected files with PASSWORD (visible to other users in process "
                                "lists: --password-fd or KESTRUNE_PASSWORD are not).",
                                "PASSWORD"};
    QCommandLineOption PasswordFd{"password-fd", "Read the password from file descriptor N, up to its first line end.", "N"};
    QCommandLineOption FirstPage{{"f", "first-page"}, "First page to convert (default: 1).", "N"};
    QCommandLineOption LastPage{{"l", "last-page"}, "Last page to convert (default: the document's last page).", "N"};
    QCommandLineOption Jobs{{"j", "jobs"},
                            QStringLiteral("Convert in N worker processes (default: the number of online processors, "
                                           "here %1).")
                                .arg(OnlineProcessors()),
                            "N"};
    QCommandLineOption MemoryLimit{"memory-limit",
                                   QStringLiteral("Let each worker process take at most MB mebibytes of memory; a "
                                                  "document that needs more fails, naming the page (default: the "
                                                  "physical memory shared among the workers, from %1 to %2 MB; "
                                                  "here %3 with -j %4). 0: no limit.")
                                       .arg(MinDefaultMemoryLimit >> 20)
                                       .arg(MaxDefaultMemoryLimit >> 20)
                                       .arg(DefaultMemoryLimitText(OnlineProcessors()))
                                       .arg(OnlineProcessors()),
                                   "MB"};
    QCommandLineOption Timeout{"timeout",
                               "Stop a document that takes longer than SECONDS (decimals allowed; default: no "
                               "limit); it counts as failed.",
                               "SECONDS"};
    QCommandLineOption FilesFrom{"files-from",
                                 "Also convert the files listed in FILE, one path per line; - reads the list from "
                                 "standard input.",
                                 "FILE"};
    QCommandLineOption Nul{{"0", "null"}, "The list of --files-from is separated by NUL bytes (as find -print0 writes)."};
    QCommandLineOption OutputDir{"output-dir",
                                 "Write each text file under DIR, at its path relative to the folder argument it was "
                                 "found in or to the current folder.",
                                 "DIR"};
    QCommandLineOption Update{"update", "Skip a PDF file whose text file exists and is newer than it."};
    QCommandLineOption Report{"report", "Write one JSON line per input file to FILE as each file ends.", "FILE"};
    QCommandLineOption SkipHidden{"skip-hidden",
                                  "In folders, pass over files and folders whose name begins with a dot."};
    QCommandLineOption Ocr{"ocr",
                           "Read scanned pages by text recognition: never (the default), auto (pages that show "
                           "something but hold no text character), always (every page; its text is ignored).",
                           "MODE"};
    QCommandLineOption OcrLanguages{"ocr-lang",
                                    "Recognition languages, Tesseract's codes joined by + (default: eng); each "
                                    "needs its data installed (Debian: tesseract-ocr-CODE).",
                                    "LANGS"};
    QCommandLineOption OcrDpi{"ocr-dpi", "Recognise pages rendered at N dots per inch (default: 300).", "N"};
    QCommandLineOption Format{"format",
                              "Write FORMAT: text (the default: each page's text), tsv (each word with its box, in "
                              "Tesseract's columns; .tsv), json (one JSON object per page, one per line; .jsonl) or "
                              "hocr (an hOCR document; .hocr).",
                              "FORMAT"};
    QCommandLineOption Layout{"layout",
                              "Text that keeps each page's arrangement: each line of the page one line, columns and "
                              "table cells side by side where they stand; each page ends with a form feed."};
    QCommandLineOption Eol{"eol",
                           "End the text's lines with LF (lf: Linux and macOS tools, as pdftotext) or CR LF (crlf, the "
                           "default: Windows programs and the Kestrune window's files).",
                           "lf|crlf"};
    QCommandLineOption Bom{"bom", "Start the text with the UTF-8 byte-order mark (the default; Windows programs use it "
                                  "to recognise UTF-8)."};
    QCommandLineOption NoBom{"no-bom", "No byte-order mark (for Unix tools, which take it for text)."};
    QCommandLineOption Quiet{{"q", "quiet"}, "No progress display, notes or summary; errors are still shown."};
    QCommandLineOption Help{{"h", "help"}, "Show this help and exit."};
    QCommandLineOption Version{"version", "Show the version and exit."};

    void AddTo(QCommandLineParser& Parser) const {
        for (const QCommandLineOption* o :
             {&Output, &Password, &PasswordFd, &FirstPage, &LastPage, &Jobs, &MemoryLimit, &Timeout, &FilesFrom, &Nul,
              &OutputDir, &Update, &Report, &SkipHidden, &Ocr, &OcrLanguages, &OcrDpi, &Format,
              &Layout, &Eol, &Bom, &NoBom, &Quiet, &Help, &Version})
            Parser.addOption(*o);
        Parser.addPositionalArgument(
            "FILE.pdf",
            "A PDF file to convert; - reads the PDF from standard input (its text goes to standard output unless -o "
            "is given); -- ends the options, so that every further argument is a file.",
            "FILE.pdf...");
    }
};

// The name of an option as the user wrote it: -x or --name.
QString Shown(const QString& Name) { return (Name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + Name; }
QString Shown(const QCommandLineOption& Option) { return Shown(Option.names().constFirst()); }

// The error line for a failed parse. Qt stops at an option that lacks its
// value, which can only be the last argument; otherwise options were unknown.
QString ParseError(const QCommandLineParser& Parser, const QStringList& Arguments) {
    if (!Parser.unknownOptionNames().isEmpty())
        return QStringLiteral("unknown option %1").arg(Shown(Parser.unknownOptionNames().constFirst()));
    QString last = Arguments.value(Arguments.size() - 1);
    if (!last.startsWith(QLatin1String("--"))) last = QStringLiteral("-") + last.right(1);  // -qo: -o
    return QStringLiteral("option %1 needs a value").arg(last);
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
                 .arg(value));
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
        Fail(QStringLiteral("option %1 needs a number of seconds above 0, not '%2'").arg(Shown(Option), value));
        return std::nullopt;
    }

    // The value of Option as one of Choices (by position), or Default when it is not given.
    int Choice(const QCommandLineOption& Option, const QStringList& Choices, int Default) {
        if (!FParser.isSet(Option)) return Default;
        const QString value = FParser.value(Option);
        if (Choices.contains(value)) return int(Choices.indexOf(value));
        Fail(QStringLiteral("option %1 needs one of %2, not '%3'").arg(Shown(Option), Choices.join(QStringLiteral(", ")), value));
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
    const TDeclaredOptions declared;
    declared.AddTo(parser);
    TCommandLine result;
    if (!parser.parse(Arguments)) {
        result.Error = ParseError(parser, Arguments);
        return result;
    }
    if (parser.isSet(declared.Help)) {
        result.Action = TCommandLine::TAction::Help;
        return result;
    }
    if (parser.isSet(declared.Version)) {
        result.Action = TCommandLine::TAction::Version;
        return result;
    }

    TOptions& o = result.Options;
    TChecker check(parser);
    o.Files = parser.positionalArguments();
    o.Output = check.Path(declared.Output);
    o.Password = parser.value(declared.Password);
    const auto passwordFd = check.Number(declared.PasswordFd, "a descriptor", 0, std::numeric_limits<int>::max());
    check.Require(!passwordFd || !parser.isSet(declared.Password),
                  QStringLiteral("options --password and --password-fd exclude each other"));
    if (passwordFd && check.Error.isEmpty()) {
        const std::optional<QString> read = ReadPassword(int(*passwordFd));
        check.Require(read.has_value(), QStringLiteral("cannot read the password from descriptor %1: %2")
                                            .arg(*passwordFd)
                                            .arg(QString::fromLocal8Bit(std::strerror(errno))));
        o.Password = read.value_or(QString());
    } else if (!parser.isSet(declared.Password)) {
        o.Password = qEnvironmentVariable("KESTRUNE_PASSWORD");
    }
    o.Quiet = parser.isSet(declared.Quiet);
    o.FirstPage = check.Count(declared.FirstPage, "a page number");
    o.LastPage = check.Count(declared.LastPage, "a page number");
    const long long jobs = check.Number(declared.Jobs, "a number", 1, std::numeric_limits<int>::max()).value_or(OnlineProcessors());
    o.Jobs = int(std::min<long long>(jobs, MaxJobs()));
    if (jobs > o.Jobs && parser.isSet(declared.Jobs)) o.JobsAsked = jobs;
    // 0 lifts the workers' default limit; below 16 MB not even a worker starts.
    if (parser.isSet(declared.MemoryLimit) && parser.value(declared.MemoryLimit).trimmed() == QLatin1String("0"))
        o.MemoryLimitMiB = 0;
    else if (const auto mib = check.Number(declared.MemoryLimit, "0 (no limit) or a number of MB", 16, 1 << 24))
        o.MemoryLimitMiB = int(*mib);
    o.TimeoutSeconds = check.Seconds(declared.Timeout);
    o.FilesFrom = check.Path(declared.FilesFrom, "a file");
    o.NulSeparated = parser.isSet(declared.Nul);
    o.OutputDir = check.Path(declared.OutputDir, "a folder");
    o.Update = parser.isSet(declared.Update);
    o.Report = check.Path(declared.Report, "a file");
    o.SkipHidden = parser.isSet(declared.SkipHidden);
    o.Ocr.Mode = TOcrMode(check.Choice(declared.Ocr, {QStringLiteral("never"), QStringLiteral("auto"), QStringLiteral("always")},
                                       int(TOcrMode::Never)));
    if (parser.isSet(declared.OcrLanguages)) o.Ocr.Languages = check.Path(declared.OcrLanguages, "language codes");
    o.Ocr.Dpi = check.Count(declared.OcrDpi, "a resolution").value_or(o.Ocr.Dpi);
    o.Format.Format = TOutputFormat(check.Choice(declared.Format, {"text", "tsv", "json", "hocr"}, 0));
    o.Format.Layout = parser.isSet(declared.Layout);
    o.Format.CrLf = check.Choice(declared.Eol, {"lf", "crlf"}, 1) == 1;
    o.Format.ByteOrderMark = !parser.isSet(declared.NoBom);

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
    check.Require(!parser.isSet(declared.Bom) || !parser.isSet(declared.NoBom),
                  QStringLiteral("options --bom and --no-bom exclude each other"));
    // The word formats have fixed line ends (LF) and no byte-order mark.
    const bool text = o.Format.Format == TOutputFormat::Text;
    for (const QCommandLineOption* option : {&declared.Layout, &declared.Eol, &declared.Bom, &declared.NoBom})
        check.Require(text || !parser.isSet(*option),
                      QStringLiteral("option %1 applies to --format text only").arg(Shown(*option)));
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
