#include "convert/PdfOutput.h"

#include <QDataStream>
#include <QFileInfo>
#include <QIODevice>
#include <cerrno>
#include <exception>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

#include <kestrune/FPdf.h>
#include <kestrune/FileError.h>
#include <kestrune/TextLayer.h>
#include "convert/FileNames.h"
#include "convert/PageSchedule.h"
#include "convert/SafeFiles.h"
#include "convert/TextOutput.h"

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

// The target as a device for the engine's save, its many small writes
// gathered into large ones. A write that fails keeps its error (which names
// the cause) for the caller, and the device refuses what follows.
class TTargetDevice : public QIODevice {
public:
    explicit TTargetDevice(TTextTarget& Target) : FTarget(Target) { open(QIODevice::WriteOnly); }

    bool isSequential() const override { return true; }

    // Writes what is gathered; raises the first write's error, if any.
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
            FTarget.Write(FGathered);
        } catch (...) {
            Error = std::current_exception();
        }
        FGathered.clear();
    }

    TTextTarget& FTarget;
    QByteArray FGathered;
};

bool SameFile(const struct stat& A, const struct stat& B) {
    return A.st_dev == B.st_dev && A.st_ino == B.st_ino && A.st_size == B.st_size &&
           A.st_mtim.tv_sec == B.st_mtim.tv_sec && A.st_mtim.tv_nsec == B.st_mtim.tv_nsec;
}

}  // namespace

struct TPdfOutput::TState {
    TDescriptor Owned;  // the input, when opened here
    int Fd = -1;
    struct stat Opened {};
    TFPdf Pdf;
    std::optional<TTextLayer> Layer;

    ~TState() {
        Layer.reset();
        try {
            Pdf.SetActive(false);
        } catch (const std::exception&) {
        }
    }
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
    // The engine reads the very file of the descriptor, whatever bytes its
    // name holds and whatever has the name now; without /proc, by its name.
    const QString own = QStringLiteral("/proc/self/fd/%1").arg(F->Fd);
    F->Pdf.SetFileName(QFileInfo::exists(own) ? own : Input);
    F->Pdf.SetPassword(Password);
    F->Pdf.SetPageNumber(0);
    F->Pdf.SetActive(true);
    F->Layer.emplace(F->Pdf, FontFile);
}

TPdfOutput::~TPdfOutput() = default;

void TPdfOutput::Add(int Page, const QByteArray& Bytes) {
    const TLayerPage page = ReadLayerPage(Bytes);
    if (page.Action == TLayerAction::Keep) return;
    if (page.Action == TLayerAction::Replace) {
        F->Layer->RemoveInvisibleText(Page);
        ++FReplaced;
    }
    F->Layer->AddPage(Page, page.Words);
    if (!page.Words.IsEmpty()) ++FLaid;
    // The page's words are in its new content now; its objects need not stay loaded.
    F->Pdf.SetPageNumber(0);
}

void TPdfOutput::Finish() {
    struct stat now {};
    if (::fstat(F->Fd, &now) != 0 || !SameFile(now, F->Opened)) throw EFileError(TPageSchedule::ChangedMessage());
    TTargetDevice device(FTarget);
    try {
        F->Layer->Save(&device);
    } catch (const std::exception&) {
        // A refused write stops the save: its own error says why.
        if (device.Error) std::rethrow_exception(device.Error);
        throw;
    }
    device.Flush();
    FTarget.Commit();
}

}  // namespace kestrune
