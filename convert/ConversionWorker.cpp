#include "convert/ConversionWorker.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QString>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <limits>
#include <new>
#include <stdexcept>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "convert/Conversion.h"
#include "convert/MemoryWatch.h"
#include "convert/SafeFiles.h"
#include "convert/PageReader.h"
#include "convert/PageFormat.h"
#include "convert/WorkerProtocol.h"
#include "component/FileError.h"
#include <kestrune/FPdf.h>
#include <kestrune/PageStructure.h>

namespace kestrune {

using namespace worker;

namespace {

// What the worker has in hand, for the reason it gives should it fail there;
// read by the handlers of fatal signals too.
struct TInHand {
    std::atomic<int> Page{-1};  // the page being read; 0: the document being opened; -1: neither
    std::atomic<int> Dpi{0};    // the resolution the page is being recognised at; 0: its text is read
    std::atomic<quint64> FailuresBefore{0};  // AllocationFailures() when the page began
};
TInHand InHand;

// Starts the line a worker leaves as its reason before it dies.
constexpr char LastWordsMarker[] = "kestrune-worker-failure: ";

// A line put together without allocating, as a signal handler must.
struct TLine {
    char Data[320];
    size_t Length = 0;

    TLine& operator<<(const char* Text) {
        while (*Text && Length < sizeof Data - 1) Data[Length++] = *Text++;
        return *this;
    }
    TLine& operator<<(const TLine& Other) {
        for (size_t i = 0; i < Other.Length && Length < sizeof Data - 1; ++i) Data[Length++] = Other.Data[i];
        return *this;
    }
    TLine& operator<<(long long Number) {
        char digits[24];
        int n = 0;
        unsigned long long rest = Number < 0 ? 0ULL - (unsigned long long)Number : (unsigned long long)Number;
        do digits[n++] = char('0' + rest % 10);
        while ((rest /= 10) > 0);
        if (Number < 0) *this << "-";
        while (n > 0 && Length < sizeof Data - 1) Data[Length++] = digits[--n];
        return *this;
    }
};

// "page 3: not enough memory to recognise the page at 300 dpi (memory limit
// 200 MB)", for the page in hand.
void MemoryReason(TLine& Line) {
    const int page = InHand.Page, dpi = InHand.Dpi;
    if (page == 0) Line << "not enough memory to open the document";
    else if (page < 0) Line << "not enough memory";
    else if (dpi > 0) Line << "page " << page << ": not enough memory to recognise the page at " << dpi << " dpi";
    else Line << "page " << page << ": not enough memory to read the page";
    if (const qint64 limit = DataLimitMiB()) Line << " (memory limit " << limit << " MB)";
}

QString MemoryMessage() {
    TLine line;
    MemoryReason(line);
    return QString::fromLatin1(line.Data, qsizetype(line.Length));
}

// Whether an allocation failed since the page in hand began.
bool RanOutOfMemory() { return AllocationFailures() != InHand.FailuresBefore; }

// The message for the page in hand failing with Error: a refused allocation
// anywhere on the way, whatever the error it became, is told as such.
QString FailureMessage(std::exception_ptr Error) {
    try {
        std::rethrow_exception(Error);
    } catch (const std::bad_alloc&) {
        return MemoryMessage();
    } catch (const std::length_error&) {
        return MemoryMessage();
    } catch (...) {
    }
    return RanOutOfMemory() ? MemoryMessage() : ErrorMessage(Error);
}

// Writes Reason as the worker's last line on its standard error (see
// WorkerFailureReason).
void LeaveLastWords(const TLine& Reason) {
    TLine line;
    line << LastWordsMarker << Reason;
    line.Data[line.Length++] = '\n';  // room kept by operator<<
    for (size_t done = 0; done < line.Length;) {
        const ssize_t n = ::write(STDERR_FILENO, line.Data + done, line.Length - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += size_t(n);
    }
}

// A fatal signal after a refused allocation: the engine ends the process
// when an allocation it cannot do without fails, and Tesseract meets a
// missing image of Leptonica's the same way. Its reason is left for the pool.
void OnFatalSignal(int Signal) {
    if (InHand.Page >= 0 && RanOutOfMemory()) {
        TLine reason;
        MemoryReason(reason);
        LeaveLastWords(reason);
    }
    ::raise(Signal);  // handled once (SA_RESETHAND): the default action follows
}

// An exception that nothing caught (thrown where none may pass, in a
// library): its reason in words rather than the runtime's own lines.
[[noreturn]] void OnTerminate() {
    TLine reason;
    bool memory = RanOutOfMemory();
    QString message = QStringLiteral("an unexpected error");
    if (const std::exception_ptr error = std::current_exception()) {
        try {
            std::rethrow_exception(error);
        } catch (const std::bad_alloc&) {
            memory = true;
        } catch (const std::length_error&) {
            memory = true;
        } catch (...) {
            message = QStringLiteral("an unexpected error: ") + ErrorMessage(error);
        }
    }
    if (memory) {
        MemoryReason(reason);
    } else {
        if (InHand.Page > 0) reason << "page " << InHand.Page.load() << ": ";
        reason << message.toUtf8().constData();
    }
    LeaveLastWords(reason);
    InHand.Page = -1;  // told: the abort's own signal adds nothing
    std::abort();
}

// The handlers above, on a stack of their own (a failure may come from a
// stack that is used up).
void InstallFailureHandlers() {
    static char stack[64 * 1024];
    stack_t alternate{};
    alternate.ss_sp = stack;
    alternate.ss_size = sizeof stack;
    ::sigaltstack(&alternate, nullptr);
    struct sigaction action {};
    action.sa_handler = OnFatalSignal;
    action.sa_flags = SA_ONSTACK | SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGTRAP, SIGABRT}) ::sigaction(signal, &action, nullptr);
    std::set_terminate(OnTerminate);
}

// The next frame from the parent, and the descriptors that came with it;
// false when the parent has gone.
bool Receive(TFrameBuffer& Buffer, TMessage& Type, QByteArray& Payload, std::deque<int>& Descriptors) {
    return ReceiveFrame(WorkerSocket, Buffer, Type, Payload, Descriptors);
}

class TWorker {
public:
    TWorker() { FPdf.SetName(QStringLiteral("FPdf1")); }

    // Converts one range of File, read through Descriptor when it is open
    // (taken over); false when the parent has gone.
    bool Convert(const QString& File, int Descriptor, const QString& Password, int First, int Last,
                 const TOcrSettings& Ocr, const TPageFormat& Format) {
        Begin(0);
        TPageFormat format = Format;
        try {
            Open(File, Descriptor, Password);
            // The engine may have gone on without what it could not allocate.
            if (RanOutOfMemory()) throw std::bad_alloc();
            // Learned once for each document opened, the same in every worker.
            if (format.NeedsStyle() && !FStyle) FStyle = std::make_shared<const TDocumentStyle>(LearnDocumentStyle(FPdf));
            if (RanOutOfMemory()) throw std::bad_alloc();
        } catch (...) {
            return Failed(0, std::current_exception());
        }
        if (format.NeedsStyle()) format.Style = FStyle;
        FReader.SetSettings(Ocr, format);
        const int count = FPdf.GetPageCount();
        // At once: the parent shares out the rest of the document on it.
        if (!Send(TPayload().Int(count).Frame(TMessage::PageCount), true)) return false;
        for (int page = qMax(First, 1); page <= qMin(Last, count); ++page) {
            QByteArray bytes;
            TPageFacts facts;
            Begin(page);
            try {
                facts = FReader.Read(FPdf, page, bytes);
                // An image left undecoded, a page image not made: what came
                // out is not the page.
                if (RanOutOfMemory()) throw std::bad_alloc();
            } catch (...) {
                return Failed(page, std::current_exception());
            }
            InHand.Page = -1;
            TPayload sent;
            facts.WriteTo(sent.Int(page).Bytes(bytes));
            if (!Send(sent.Frame(TMessage::Page), false))
                return false;
        }
        return Send(TPayload().Frame(TMessage::Done), true);
    }

    // Standard error is the pool's file (see NewWorkerErrorFile), which the
    // worker empties before each page: what is there when it dies is what
    // that page left.
    void SetErrorsCaptured(bool Captured) { FErrorsCaptured = Captured; }

    // Recognition reports the resolution of each page it reads.
    void WatchRecognition() {
        FReader.SetRecognitionStart([](int Dpi) { InHand.Dpi = Dpi; });
    }

private:
    void Begin(int Page) {
        if (FErrorsCaptured) ::ftruncate(STDERR_FILENO, 0);
        InHand.Dpi = 0;
        InHand.FailuresBefore = AllocationFailures();
        InHand.Page = Page;
    }

    // Page (0: the opening) failed with Error: the document is closed (opened
    // afresh for the next range, as a single run would never go on after
    // this), and the parent told.
    bool Failed(int Page, std::exception_ptr Error) {
        const bool memory = RanOutOfMemory();
        const QString message = FailureMessage(Error);
        InHand.Page = -1;
        Close();
        // Tesseract's state after a refused allocation is not to be trusted.
        if (memory) FReader.ReleaseRecognizer();
        return Send(TPayload().Int(Page).Text(message).Frame(TMessage::Error), true);
    }

    bool FErrorsCaptured = false;

    // Pages go out in batches rather than one write and one wake-up of the
    // parent each: when a batch is large, when it is some time old (for the
    // progress display), and with anything that ends a range. False when the
    // parent has gone.
    bool Send(const QByteArray& Frame, bool Now) {
        if (FOut.isEmpty()) FOutSince.start();
        FOut += Frame;
        if (!Now && FOut.size() < BatchBytes && FOutSince.elapsed() < BatchMilliseconds) return true;
        const bool sent = SendAll(WorkerSocket, FOut);
        FOut.clear();
        return sent;
    }

    static constexpr qsizetype BatchBytes = 64 * 1024;
    static constexpr qint64 BatchMilliseconds = 50;
    QByteArray FOut;
    QElapsedTimer FOutSince;

    // The file a descriptor reads: the same node, unchanged, is the same document.
    struct TIdentity {
        dev_t Device = 0;
        ino_t Node = 0;
        off_t Size = -1;
        timespec Modified{};
        bool operator==(const TIdentity& o) const {
            return Device == o.Device && Node == o.Node && Size == o.Size && Modified.tv_sec == o.Modified.tv_sec &&
                   Modified.tv_nsec == o.Modified.tv_nsec;
        }
    };

    void Open(const QString& File, int Descriptor, const QString& Password) {
        const TDescriptor received(Descriptor);
        TIdentity identity;
        struct stat status {};
        if (Descriptor >= 0 && ::fstat(Descriptor, &status) == 0)
            identity = {status.st_dev, status.st_ino, status.st_size, status.st_mtim};
        if (FPdf.GetActive() && File == FFile && Password == FPassword && identity == FIdentity) return;
        Close();
        FFile = File;
        FPassword = Password;
        FIdentity = identity;
        FStyle.reset();
        FPdf.SetPassword(Password);
        FPdf.SetPageNumber(0);
        if (Descriptor < 0) {
            FPdf.SetFileName(File);
            FPdf.SetActive(true);
            return;
        }
        // Mapped, not read: the pages of the file are the system's cache, and
        // the name, whatever bytes it holds, is never needed.
        if (identity.Size > 0) {
            void* mapped = ::mmap(nullptr, size_t(identity.Size), PROT_READ, MAP_SHARED, Descriptor, 0);
            if (mapped == MAP_FAILED)
                throw EFileError(QStringLiteral("Cannot read the file. %1").arg(QString::fromLocal8Bit(strerror(errno))));
            FMapped = {mapped, size_t(identity.Size)};
        }
        FBytes = QByteArray::fromRawData(static_cast<const char*>(FMapped.first), qsizetype(FMapped.second));
        FBuffer.setBuffer(&FBytes);
        FPdf.LoadDocument(&FBuffer);
    }

    void Close() {
        try {
            FPdf.SetActive(false);
        } catch (const std::exception&) {
        }
        FBuffer.setBuffer(nullptr);
        FBytes.clear();
        if (FMapped.first) ::munmap(FMapped.first, FMapped.second);
        FMapped = {nullptr, 0};
    }

    TFPdf FPdf;
    std::shared_ptr<const TDocumentStyle> FStyle;  // the open document's, once learned
    TPageReader FReader;
    QString FFile;
    QString FPassword;
    TIdentity FIdentity;
    std::pair<void*, size_t> FMapped{nullptr, 0};
    QByteArray FBytes;
    QBuffer FBuffer;
};

}  // namespace

int RunConversionWorker() {
    // A worker outlives no parent: it goes with it, however the parent ends.
    // (The socket's end tells the same, but only between pages.)
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    const bool captured = ::fcntl(STDERR_FILENO, F_GET_SEALS) >= 0;  // a file in memory: the pool's
    if (AllocationsWatched()) InstallFailureHandlers();
    if (!SendAll(WorkerSocket, TPayload().Frame(TMessage::Ready))) return 1;
    TWorker worker;
    worker.SetErrorsCaptured(captured);
    worker.WatchRecognition();
    TFrameBuffer buffer;
    TMessage type;
    QByteArray payload;
    std::deque<int> descriptors;
    while (Receive(buffer, type, payload, descriptors)) {
        if (type != TMessage::Convert) return 1;
        TPayloadReader r(payload);
        const QString file = r.Text();
        const QString password = r.Text();
        const int first = r.Int();
        const int last = r.Int();
        const TOcrSettings ocr = TOcrSettings::ReadFrom(r);
        TPageFormat format;
        if (!format.ReadFrom(r) || r.Failed()) return 1;
        const int descriptor = descriptors.empty() ? -1 : descriptors.front();
        if (!descriptors.empty()) descriptors.pop_front();
        if (!worker.Convert(file, descriptor, password, first, last, ocr, format)) return 1;
    }
    return buffer.Broken() ? 1 : 0;
}

TDescriptor NewWorkerErrorFile() {
    if (!AllocationsWatched()) return TDescriptor();
    // Sealable only so that the worker can tell it from a file of the user's
    // (F_GET_SEALS answers for a file in memory alone), which it must never empty.
    TDescriptor file(::memfd_create("kestrune-worker-errors", MFD_CLOEXEC | MFD_ALLOW_SEALING));
    if (file.IsOpen()) ::fcntl(file.Get(), F_SETFL, ::fcntl(file.Get(), F_GETFL) | O_APPEND);
    return file;
}

QString WorkerFailureReason(int ErrorFile) {
    struct stat status {};
    if (ErrorFile < 0 || ::fstat(ErrorFile, &status) != 0 || status.st_size <= 0) return {};
    // The end is what counts; a page's lines are few.
    constexpr off_t Tail = 16 * 1024;
    const off_t start = std::max<off_t>(0, status.st_size - Tail);
    QByteArray text(qsizetype(status.st_size - start), '\0');
    const ssize_t n = ::pread(ErrorFile, text.data(), size_t(text.size()), start);
    if (n <= 0) return {};
    text.truncate(n);
    const qsizetype marked = text.lastIndexOf(LastWordsMarker);
    if (marked >= 0 && (marked == 0 || text[marked - 1] == '\n')) {
        const qsizetype from = marked + qsizetype(sizeof LastWordsMarker - 1);
        const qsizetype end = text.indexOf('\n', from);
        return QString::fromUtf8(text.mid(from, end < 0 ? -1 : end - from)).trimmed();
    }
    // What the libraries themselves say as they end the process.
    for (const char* words : {"std::bad_alloc", "Cannot allocate memory", "Out of memory", "out of memory",
                              "_M_default_append", "pixdata_malloc fail"})
        if (text.contains(words)) return QStringLiteral("not enough memory");
    if (text.contains("Assert failed")) return QStringLiteral("text recognition stopped at a failed check inside Tesseract");
    return {};
}

}  // namespace kestrune
