#include "convert/ConversionWorker.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QString>
#include <cerrno>
#include <csignal>
#include <exception>
#include <limits>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "convert/Conversion.h"
#include "convert/SafeFiles.h"
#include "convert/PageReader.h"
#include "convert/PageFormat.h"
#include "convert/WorkerProtocol.h"
#include "component/FileError.h"
#include <kestrune/FPdf.h>

namespace kestrune {

using namespace worker;

namespace {

// The next frame from the parent, and the descriptors that came with it;
// false when the parent has gone.
bool Receive(TFrameBuffer& Buffer, TMessage& Type, QByteArray& Payload, std::deque<int>& Descriptors) {
    char chunk[4096];
    while (!Buffer.Next(Type, Payload)) {
        if (Buffer.Broken()) return false;
        const ssize_t n = ReceiveSome(WorkerSocket, chunk, sizeof chunk, Descriptors);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        Buffer.Append(chunk, n);
    }
    return true;
}

class TWorker {
public:
    TWorker() { FPdf.SetName(QStringLiteral("FPdf1")); }

    // Converts one range of File, read through Descriptor when it is open
    // (taken over); false when the parent has gone.
    bool Convert(const QString& File, int Descriptor, const QString& Password, int First, int Last,
                 const TOcrSettings& Ocr, const TPageFormat& Format) {
        FReader.SetSettings(Ocr, Format);
        try {
            Open(File, Descriptor, Password);
        } catch (const std::exception&) {
            Close();
            return Send(TPayload().Int(0).Text(ErrorMessage(std::current_exception())).Frame(TMessage::Error), true);
        }
        const int count = FPdf.GetPageCount();
        // At once: the parent shares out the rest of the document on it.
        if (!Send(TPayload().Int(count).Frame(TMessage::PageCount), true)) return false;
        for (int page = qMax(First, 1); page <= qMin(Last, count); ++page) {
            QByteArray bytes;
            TPageFacts facts;
            try {
                facts = FReader.Read(FPdf, page, bytes);
            } catch (const std::exception&) {
                // Opened afresh for the next range, as a single run would never go on after this.
                const QString message = ErrorMessage(std::current_exception());
                Close();
                return Send(TPayload().Int(page).Text(message).Frame(TMessage::Error), true);
            }
            if (!Send(TPayload().Int(page).Bytes(bytes).Int(facts.Textless).Int(facts.RecognizedDpi).Frame(TMessage::Page),
                      false))
                return false;
        }
        return Send(TPayload().Frame(TMessage::Done), true);
    }

private:
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
    if (!SendAll(WorkerSocket, TPayload().Frame(TMessage::Ready))) return 1;
    TWorker worker;
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
        TOcrSettings ocr;
        ocr.Mode = TOcrMode(r.Int());
        ocr.Languages = r.Text();
        ocr.Dpi = r.Int();
        TPageFormat format;
        const int kind = r.Int();
        format.Layout = r.Int() != 0;
        format.CrLf = r.Int() != 0;
        format.ByteOrderMark = r.Int() != 0;
        format.FormFeeds = r.Int() != 0;
        format.ReadingOrder = r.Int() != 0;
        if (kind < int(TOutputFormat::Text) || kind > int(TOutputFormat::Hocr)) return 1;
        format.Format = TOutputFormat(kind);
        if (r.Failed()) return 1;
        const int descriptor = descriptors.empty() ? -1 : descriptors.front();
        if (!descriptors.empty()) descriptors.pop_front();
        if (!worker.Convert(file, descriptor, password, first, last, ocr, format)) return 1;
    }
    return buffer.Broken() ? 1 : 0;
}

}  // namespace kestrune
