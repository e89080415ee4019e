#include "app/ConversionWorker.h"

#include <QElapsedTimer>
#include <QString>
#include <cerrno>
#include <csignal>
#include <exception>
#include <limits>
#include <sys/prctl.h>
#include <unistd.h>

#include "app/Conversion.h"
#include "app/WorkerProtocol.h"
#include <kestrune/FPdf.h>

namespace kestrune {

using namespace worker;

namespace {

// The next frame from the parent; false when the parent has gone.
bool Receive(TFrameBuffer& Buffer, TMessage& Type, QByteArray& Payload) {
    char chunk[4096];
    while (!Buffer.Next(Type, Payload)) {
        if (Buffer.Broken()) return false;
        const ssize_t n = ::read(WorkerSocket, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        Buffer.Append(chunk, n);
    }
    return true;
}

class TWorker {
public:
    TWorker() { FPdf.SetName(QStringLiteral("FPdf1")); }

    // Converts one range; false when the parent has gone.
    bool Convert(const QString& File, const QString& Password, int First, int Last) {
        try {
            Open(File, Password);
        } catch (const std::exception&) {
            Close();
            return Send(TPayload().Int(0).Text(ErrorMessage(std::current_exception())).Frame(TMessage::Error), true);
        }
        const int count = FPdf.GetPageCount();
        // At once: the parent shares out the rest of the document on it.
        if (!Send(TPayload().Int(count).Frame(TMessage::PageCount), true)) return false;
        for (int page = qMax(First, 1); page <= qMin(Last, count); ++page) {
            QByteArray bytes;
            try {
                FPdf.SetPageNumber(page);
                AppendUtf8(bytes, FPdf.Text(0, std::numeric_limits<int>::max()));
                bytes += "\r\n";
            } catch (const std::exception&) {
                // Opened afresh for the next range, as a single run would never go on after this.
                const QString message = ErrorMessage(std::current_exception());
                Close();
                return Send(TPayload().Int(page).Text(message).Frame(TMessage::Error), true);
            }
            if (!Send(TPayload().Int(page).Bytes(bytes).Frame(TMessage::Page), false)) return false;
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

    void Open(const QString& File, const QString& Password) {
        if (FPdf.GetActive() && File == FFile && Password == FPassword) return;
        Close();
        FFile = File;
        FPassword = Password;
        FPdf.SetFileName(File);
        FPdf.SetPassword(Password);
        FPdf.SetPageNumber(0);
        FPdf.SetActive(true);
    }

    void Close() {
        try {
            FPdf.SetActive(false);
        } catch (const std::exception&) {
        }
    }

    TFPdf FPdf;
    QString FFile;
    QString FPassword;
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
    while (Receive(buffer, type, payload)) {
        if (type != TMessage::Convert) return 1;
        TPayloadReader r(payload);
        const QString file = r.Text();
        const QString password = r.Text();
        const int first = r.Int();
        const int last = r.Int();
        if (r.Failed()) return 1;
        if (!worker.Convert(file, password, first, last)) return 1;
    }
    return buffer.Broken() ? 1 : 0;
}

}  // namespace kestrune
