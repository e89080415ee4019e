#include "convert/PdfOutput.h"

#include <QDataStream>
#include <QFileInfo>
#include <QIODevice>
#include <cerrno>
#include <chrono>
#include <exception>
#include <fcntl.h>
#include <functional>
#include <poll.h>
#include <deque>
#include <optional>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <tuple>
#include <sys/stat.h>
#include <unistd.h>

#include <kestrune/FPdf.h>
#include <kestrune/FileError.h>
#include <kestrune/TextLayer.h>
#include "convert/Conversion.h"
#include "convert/FileNames.h"
#include "convert/PageSchedule.h"
#include "convert/SafeFiles.h"
#include "convert/TextOutput.h"
#include "convert/WorkerPool.h"
#include "convert/WorkerProcesses.h"
#include "convert/WorkerProtocol.h"

namespace kestrune {

// --- a page's words between the processes -------------------------------

namespace {

const QDataStream::Version kStreamVersion = QDataStream::Qt_6_0;

[[noreturn]] void Unreadable() {
    throw EPdfError(QStringLiteral("A worker process sent a page that could not be read"));
}

// A count read from In: within what the bytes left could hold.
qint32 ReadCount(QDataStream& In) {
    qint32 count = -1;
    In >> count;
    if (In.status() != QDataStream::Ok || count < 0 || count > In.device()->bytesAvailable()) Unreadable();
    return count;
}

// An enumeration's value read from In, from 0 to Last.
template <typename T>
T ReadEnum(QDataStream& In, T Last) {
    qint32 value = -1;
    In >> value;
    if (In.status() != QDataStream::Ok || value < 0 || value > qint32(Last)) Unreadable();
    return T(value);
}

}  // namespace

QByteArray LayerPageBytes(const TLayerPage& Page) {
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setVersion(kStreamVersion);
    const TPageLayout& l = Page.Words;
    out << qint32(Page.Action) << qint32(l.PageNumber) << l.Size << qint32(l.Rotation) << qint32(l.Blocks.size());
    for (const TLayoutBlock& block : l.Blocks) {
        out << block.Box << qint32(block.Lines.size());
        for (const TLayoutLine& line : block.Lines) {
            out << line.Box << qint32(line.Direction) << line.StartsParagraph << qint32(line.Words.size());
            for (const TLayoutWord& word : line.Words) out << word.Text << word.Box;
        }
    }
    return bytes;
}

TLayerPage ReadLayerPage(const QByteArray& Bytes) {
    QDataStream in(Bytes);
    in.setVersion(kStreamVersion);
    TLayerPage page;
    page.Action = ReadEnum(in, TLayerAction::Replace);
    TPageLayout& l = page.Words;
    qint32 number = 0;
    in >> number >> l.Size;
    l.PageNumber = number;
    l.Rotation = ReadEnum(in, TRotation::ro270);
    for (qint32 blocks = ReadCount(in); blocks > 0; --blocks) {
        TLayoutBlock& block = l.Blocks.emplace_back();
        in >> block.Box;
        for (qint32 lines = ReadCount(in); lines > 0; --lines) {
            TLayoutLine& line = block.Lines.emplace_back();
            in >> line.Box;
            line.Direction = ReadEnum(in, TLineDirection::dlUp);
            in >> line.StartsParagraph;
            for (qint32 words = ReadCount(in); words > 0; --words) {
                TLayoutWord& word = line.Words.emplace_back();
                in >> word.Text >> word.Box;
            }
        }
    }
    if (in.status() != QDataStream::Ok || !in.atEnd()) Unreadable();
    return page;
}

// --- the copy -----------------------------------------------------------

namespace {

// A device for the engine's save that gathers its many small writes into
// chunks of a megabyte, each handed to Pass as it fills (and the rest on
// Flush). The first error Pass raises is kept for the caller (it names the
// cause), and the device refuses what follows.
class TChunkDevice : public QIODevice {
public:
    explicit TChunkDevice(std::function<void(const QByteArray&)> Pass) : FPass(std::move(Pass)) {
        open(QIODevice::WriteOnly);
    }

    bool isSequential() const override { return true; }

    // Passes what is gathered; raises the first error, if any.
    void Flush() {
        if (!Error && !FGathered.isEmpty()) Pass();
        if (Error) std::rethrow_exception(Error);
    }

    std::exception_ptr Error;

protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char* Data, qint64 Size) override {
        if (Error) return -1;
        FGathered.append(Data, Size);
        if (FGathered.size() >= kChunk) Pass();
        return Error ? -1 : Size;
    }

private:
    static constexpr qsizetype kChunk = 1 << 20;

    void Pass() {
        try {
            FPass(FGathered);
        } catch (...) {
            Error = std::current_exception();
        }
        FGathered.clear();
    }

    std::function<void(const QByteArray&)> FPass;
    QByteArray FGathered;
};

bool SameFile(const struct stat& A, const struct stat& B) {
    return A.st_dev == B.st_dev && A.st_ino == B.st_ino && A.st_size == B.st_size &&
           A.st_mtim.tv_sec == B.st_mtim.tv_sec && A.st_mtim.tv_nsec == B.st_mtim.tv_nsec;
}

// The engine's side of a copy: the document opened with its text layer.
class TLayerCopy {
public:
    TLayerCopy(int Fd, const QString& Input, const QString& Password, const QString& FontFile) {
        // The engine reads the very file of the descriptor, whatever bytes its
        // name holds and whatever has the name now; without /proc, by its name.
        const QString own = QStringLiteral("/proc/self/fd/%1").arg(Fd);
        FPdf.SetFileName(QFileInfo::exists(own) ? own : Input);
        FPdf.SetPassword(Password);
        FPdf.SetPageNumber(0);
        FPdf.SetActive(true);
        FLayer.emplace(FPdf, FontFile);
    }
    ~TLayerCopy() {
        FLayer.reset();
        try {
            FPdf.SetActive(false);
        } catch (const std::exception&) {
        }
    }

    void Add(int Page, const QByteArray& Bytes) {
        const TLayerPage page = ReadLayerPage(Bytes);
        if (page.Action == TLayerAction::Keep) return;
        if (page.Action == TLayerAction::Replace) {
            FLayer->RemoveInvisibleText(Page);
            ++Replaced;
        }
        FLayer->AddPage(Page, page.Words);
        if (!page.Words.IsEmpty()) ++Laid;
        // The page's words are in its new content now; its objects need not stay loaded.
        FPdf.SetPageNumber(0);
    }

    void Save(QIODevice* Device) { FLayer->Save(Device); }

    int Laid = 0;
    int Replaced = 0;

private:
    TFPdf FPdf;
    std::optional<TTextLayer> FLayer;
};

// --- the copy made in a child process -----------------------------------
//
// The engine opens, changes and saves a document that may be damaged: in a
// child forked for the copy, where a crash of the engine fails that document
// only, as a worker's does, and the run goes on. The child speaks the
// workers' frames (WorkerProtocol.h).

// An exception as a payload, and back.
void WriteError(worker::TPayload& Payload, const std::exception_ptr& Error) {
    try {
        std::rethrow_exception(Error);
    } catch (const EPdfError& e) {
        Payload.Int(dynamic_cast<const EFileError*>(&e) != nullptr).Int(int(e.Kind())).Text(e.Message()).Text(e.FileName());
    } catch (...) {
        Payload.Int(0).Int(int(TPdfErrorKind::ekOther)).Text(ErrorMessage(Error)).Text({});
    }
}

[[noreturn]] void RaiseError(worker::TPayloadReader& Reader) {
    const bool file = Reader.Int() != 0;
    const auto kind = TPdfErrorKind(Reader.Int());
    const QString message = Reader.Text();
    const QString name = Reader.Text();
    if (file) throw EFileError(message, name, kind);
    throw EPdfError(message, kind, name);
}

// Reads the next frame from Socket into Type and Payload; false when the peer
// is gone. Wait: as worker::ReceiveFrame's. No descriptors travel here.
bool ReceiveFrame(int Socket, worker::TFrameBuffer& Buffer, worker::TMessage& Type, QByteArray& Payload,
                  const std::function<void()>& Wait = {}) {
    std::deque<int> descriptors;
    const bool received = worker::ReceiveFrame(Socket, Buffer, Type, Payload, descriptors, Wait);
    for (const int fd : descriptors) ::close(fd);
    return received;
}

// The child: makes the copy as the parent asks, and never returns.
[[noreturn]] void RunLayerChild(int Socket, int Fd, const QString& Input, const QString& Password,
                                const QString& FontFile) {
    ForgetParentState();
    // Nothing of the parent's but the socket, the input and the standard
    // descriptors: another worker's socket kept open here would hide that
    // worker's end from the pool.
    unsigned next = 3;
    for (const int kept : {std::min(Socket, Fd), std::max(Socket, Fd)}) {
        if (kept < int(next)) continue;
        if (unsigned(kept) > next) ::close_range(next, unsigned(kept) - 1, 0);
        next = unsigned(kept) + 1;
    }
    ::close_range(next, ~0U, 0);
    const auto send = [&](worker::TMessage Type, const worker::TPayload& Payload = {}) {
        if (!worker::SendAll(Socket, Payload.Frame(Type))) ::_exit(1);
    };
    const auto fail = [&](const std::exception_ptr& Error) {
        worker::TPayload payload;
        WriteError(payload, Error);
        send(worker::TMessage::Error, payload);
    };
    ::_exit([&]() noexcept {
        std::unique_ptr<TLayerCopy> copy;
        try {
            copy = std::make_unique<TLayerCopy>(Fd, Input, Password, FontFile);
        } catch (...) {
            fail(std::current_exception());
            return 0;
        }
        send(worker::TMessage::Ready);
        worker::TFrameBuffer buffer;
        worker::TMessage type{};
        QByteArray payload;
        while (ReceiveFrame(Socket, buffer, type, payload)) {
            try {
                if (type == worker::TMessage::Page) {
                    worker::TPayloadReader reader(payload);
                    const int page = reader.Int();
                    const QByteArray bytes = reader.Bytes();
                    if (reader.Failed()) throw EPdfError(QStringLiteral("A malformed request reached the copy's process"));
                    copy->Add(page, bytes);
                    send(worker::TMessage::Done, worker::TPayload().Int(copy->Laid).Int(copy->Replaced));
                } else if (type == worker::TMessage::Save) {
                    // The bytes go to the parent in chunks, as frames.
                    TChunkDevice device([Socket](const QByteArray& Chunk) {
                        if (!worker::SendAll(Socket, worker::TPayload().Bytes(Chunk).Frame(worker::TMessage::Page)))
                            throw EPdfError(QStringLiteral("The program that asked for the copy has gone"));
                    });
                    copy->Save(&device);
                    device.Flush();
                    send(worker::TMessage::Done);
                    return 0;
                }
            } catch (...) {
                fail(std::current_exception());
                return 0;
            }
        }
        return 0;
    }());
}

// The child making the copy, seen from the parent.
class TLayerProcess {
public:
    // Answers are awaited until Deadline at most (then the copy fails with
    // Reason), and never longer than the workers' silence limit: an engine
    // that hangs on a damaged document holds up neither the run nor its
    // time limit.
    TLayerProcess(int Fd, const QString& Input, const QString& Password, const QString& FontFile,
                  std::optional<TTextTarget::TClock::time_point> Deadline, const QString& Reason)
        : FDeadline(Deadline), FReason(Reason) {
        int pair[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0)
            throw EPdfError(QStringLiteral("Cannot start the process that makes the copy: %1").arg(SystemMessage(errno)));
        FSocket = TDescriptor(pair[0]);
        TDescriptor child(pair[1]);
        FPid = ::fork();
        if (FPid == 0) RunLayerChild(child.Get(), Fd, Input, Password, FontFile);
        if (FPid < 0)
            throw EPdfError(QStringLiteral("Cannot start the process that makes the copy: %1").arg(SystemMessage(errno)));
        child = TDescriptor();
        try {
            Expect(worker::TMessage::Ready);
        } catch (...) {
            Stop();
            throw;
        }
    }
    ~TLayerProcess() { Stop(); }
    TLayerProcess(const TLayerProcess&) = delete;
    TLayerProcess& operator=(const TLayerProcess&) = delete;

    // Lays a page's words; gives the pages laid and replaced so far.
    std::pair<int, int> Add(int Page, const QByteArray& Bytes) {
        Send(worker::TMessage::Page, worker::TPayload().Int(Page).Bytes(Bytes));
        const QByteArray counts = Expect(worker::TMessage::Done);  // the reader only views it
        worker::TPayloadReader reader(counts);
        const int laid = reader.Int();
        return {laid, reader.Int()};
    }

    // Saves the copy into Device, chunk by chunk as the child sends it.
    void Save(QIODevice* Device) {
        Send(worker::TMessage::Save, {});
        for (;;) {
            worker::TMessage type{};
            const QByteArray payload = Receive(type);
            if (type == worker::TMessage::Done) return;
            if (type != worker::TMessage::Page) Unexpected();
            const QByteArray chunk = worker::TPayloadReader(payload).Bytes();
            if (Device->write(chunk) != chunk.size()) throw EPdfError(QStringLiteral("Cannot write the copy"));
        }
    }

private:
    // Ends the child, whatever it is doing, and reaps it.
    void Stop() {
        FSocket = TDescriptor();
        if (FPid <= 0) return;
        ::kill(FPid, SIGKILL);
        while (::waitpid(FPid, nullptr, 0) < 0 && errno == EINTR) {
        }
        FPid = -1;
    }

    void Send(worker::TMessage Type, const worker::TPayload& Payload) {
        if (!worker::SendAll(FSocket.Get(), Payload.Frame(Type))) Ended();
    }

    // Waits for the child's next bytes, up to the deadline and the silence
    // limit; past either, the child is ended and the copy fails.
    void AwaitAnswer() {
        using Clock = TTextTarget::TClock;
        const Clock::time_point silent = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                                            std::chrono::duration<double>(TWorkerPool::DefaultSilenceLimit));
        const Clock::time_point until = FDeadline ? std::min(*FDeadline, silent) : silent;
        for (;;) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now()).count();
            if (left <= 0) break;
            pollfd ready{FSocket.Get(), POLLIN, 0};
            if (::poll(&ready, 1, int(std::min<qint64>(left, 60000))) > 0) return;
        }
        Stop();
        if (FDeadline && Clock::now() >= *FDeadline) throw EPdfError(FReason);
        throw EPdfError(QStringLiteral("The process that makes the copy stopped answering (%1 s without a word)")
                            .arg(QString::number(TWorkerPool::DefaultSilenceLimit, 'g', 6)));
    }

    QByteArray Receive(worker::TMessage& Type) {
        QByteArray payload;
        if (!ReceiveFrame(FSocket.Get(), FBuffer, Type, payload, [this] { AwaitAnswer(); })) Ended();
        if (Type == worker::TMessage::Error) {
            worker::TPayloadReader reader(payload);
            RaiseError(reader);
        }
        return payload;
    }

    QByteArray Expect(worker::TMessage Type) {
        worker::TMessage type{};
        QByteArray payload = Receive(type);
        if (type != Type) Unexpected();
        return payload;
    }

    [[noreturn]] void Unexpected() { throw EPdfError(QStringLiteral("The process that makes the copy sent what it should not")); }

    // The child is gone: says how it ended.
    [[noreturn]] void Ended() {
        FSocket = TDescriptor();
        int status = 0;
        pid_t ended = -1;
        while ((ended = ::waitpid(FPid, &status, 0)) < 0 && errno == EINTR) {
        }
        FPid = -1;
        if (ended > 0 && WIFSIGNALED(status))
            throw EPdfError(QStringLiteral("The engine stopped with %1 while making the copy").arg(SignalName(WTERMSIG(status))));
        throw EPdfError(QStringLiteral("The process that makes the copy ended unexpectedly"));
    }

    TDescriptor FSocket;
    pid_t FPid = -1;
    worker::TFrameBuffer FBuffer;
    std::optional<TTextTarget::TClock::time_point> FDeadline;
    QString FReason;
};

}  // namespace

struct TPdfOutput::TState {
    TDescriptor Owned;  // the input, when opened here
    int Fd = -1;
    struct stat Opened {};
    // The copy, made in a child process where this one may fork, else here.
    std::unique_ptr<TLayerProcess> Child;
    std::unique_ptr<TLayerCopy> Local;
};

TPdfOutput::TPdfOutput(const QString& Input, int Descriptor, const QString& Password, const QString& FontFile,
                       TTextTarget& Target)
    : F(std::make_unique<TState>()), FTarget(Target) {
    F->Fd = Descriptor;
    if (F->Fd < 0) {
        F->Owned = TDescriptor(::open(EncodeName(Input).constData(), O_RDONLY | O_NOCTTY | O_CLOEXEC));
        if (!F->Owned.IsOpen())
            throw EFileError(QStringLiteral("Cannot open file \"%1\". %2").arg(ShownName(Input), SystemMessage(errno)),
                             Input, TPdfErrorKind::ekFileNotFound);
        F->Fd = F->Owned.Get();
    }
    if (::fstat(F->Fd, &F->Opened) != 0)
        throw EFileError(QStringLiteral("Cannot read file \"%1\". %2").arg(ShownName(Input), SystemMessage(errno)));
    if (MayFork())
        F->Child = std::make_unique<TLayerProcess>(F->Fd, Input, Password, FontFile, Target.Deadline(), Target.DeadlineReason());
    else F->Local = std::make_unique<TLayerCopy>(F->Fd, Input, Password, FontFile);
}

TPdfOutput::~TPdfOutput() = default;

void TPdfOutput::Add(int Page, const QByteArray& Bytes) {
    if (F->Child) {
        std::tie(FLaid, FReplaced) = F->Child->Add(Page, Bytes);
        return;
    }
    F->Local->Add(Page, Bytes);
    FLaid = F->Local->Laid;
    FReplaced = F->Local->Replaced;
}

void TPdfOutput::Finish() {
    struct stat now {};
    if (::fstat(F->Fd, &now) != 0 || !SameFile(now, F->Opened)) throw EFileError(TPageSchedule::ChangedMessage());
    TChunkDevice device([this](const QByteArray& Chunk) { FTarget.Write(Chunk); });
    try {
        if (F->Child) F->Child->Save(&device);
        else F->Local->Save(&device);
    } catch (const std::exception&) {
        // A refused write stops the save: its own error says why.
        if (device.Error) std::rethrow_exception(device.Error);
        throw;
    }
    device.Flush();
    FTarget.Commit();
}

}  // namespace kestrune
