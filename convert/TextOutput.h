// Where a text file goes, written as its pages arrive: a regular file replaced
// only once it is complete, or a FIFO, device, socket or standard output
// written into directly.
#pragma once

#include <QByteArray>
#include <QString>
#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <sys/stat.h>

#include "convert/Conversion.h"
#include "convert/SafeFiles.h"

namespace kestrune {

// An open target for one text file. Every write goes to the operating system
// at once (nothing is buffered here), and a failure names its cause from the
// failing call ("No space left on device", "File too large", ...).
//
// A link at the file's own place is never written through nor replaced: it is
// refused (except that WriteIntoLinkedNodes follows one to a FIFO or device).
// A replaced file keeps its mode, and its owner and group as far as this
// process may give them. The temporary file has no name while it is written
// where the file system allows that; otherwise it has a recognisable one
// (TemporaryName), removed on failure, on a signal, or by a later run.
class TTextTarget {
public:
    enum class TMode {
        // Path is always replaced through a temporary file in its folder.
        Replace,
        // The same for a regular file (or a new one); an existing node of
        // another kind (FIFO, device, socket) is written into and stays, "-"
        // and /dev/stdout are standard output, /dev/fd/N the descriptor N.
        WriteIntoNodes,
        // The same, and a link at Path to a FIFO or device is followed (-o).
        WriteIntoLinkedNodes,
    };
    using TClock = std::chrono::steady_clock;

    // Opens Path for writing; its folder is opened as it is named. Raises
    // EFileError ("Cannot create file ...").
    explicit TTextTarget(const QString& Path, TMode Mode = TMode::WriteIntoNodes);
    // Opens the file Name in the open folder Folder; Path is the whole path
    // as shown in messages.
    TTextTarget(TDescriptor Folder, const QByteArray& Name, const QString& Path, TMode Mode = TMode::WriteIntoNodes);
    // Without Commit, a temporary file is removed and Path stays as it was.
    ~TTextTarget();
    TTextTarget(const TTextTarget&) = delete;
    TTextTarget& operator=(const TTextTarget&) = delete;

    // Writes all of Size bytes. Raises EFileError ("Cannot write file ...").
    void Write(const char* Data, qint64 Size);
    void Write(const QByteArray& Bytes) { Write(Bytes.constData(), Bytes.size()); }
    // Ends the file: a temporary file replaces Path, a descriptor opened here is
    // closed. Raises EFileError when that fails (Path then stays as it was).
    void Commit();

    // Writes that wait for a reader (a FIFO, a pipe, a device) wait until
    // Deadline at most, then fail with Reason; unset: as long as it takes.
    void SetDeadline(std::optional<TClock::time_point> Deadline, const QString& Reason);
    // The deadline and its reason, as set (for what else the file waits on).
    std::optional<TClock::time_point> Deadline() const { return FDeadline; }
    const QString& DeadlineReason() const { return FDeadlineReason; }

    // The path as given.
    const QString& Path() const { return FPath; }
    // Whether Path is replaced by a temporary file on Commit (false: written directly).
    bool IsReplaced() const { return FReplacing; }
    // The bytes written so far.
    qint64 BytesWritten() const { return FBytesWritten; }

private:
    void Open(TMode Mode);
    void OpenNode(int Flags);
    void CheckNode();
    void OpenWaitingNode();
    void OpenTemporary();
    void NameTemporary();
    void RemoveTemporary();
    void WaitUntilWritable();
    [[noreturn]] void RaiseWriteError(int Error) const;

    QString FPath;
    TDescriptor FFolder;
    QByteArray FName;
    int FDescriptor = -1;
    bool FOwnsDescriptor = false;
    bool FReplacing = false;
    int FNodeFlags = 0;             // how a FIFO or device is opened
    bool FWaits = false;            // a pipe, FIFO, socket or device: writes may wait
    std::optional<struct stat> FReplaced;  // the file replaced, when there is one
    QByteArray FTemporaryName;      // empty while the temporary file has no name
    int FTemporarySlot = -1;
    std::optional<TClock::time_point> FDeadline;
    QString FDeadlineReason;
    qint64 FBytesWritten = 0;
};

// Writes the pages First..Last of one document into a target in page order,
// whatever order they are added in: the file's header (by default the
// byte-order mark) goes first, and each page's bytes are written as soon as
// every page before it is; a page that arrives early is held until then; the
// footer goes last. The bytes are those of a whole-document run for the same pages.
class TPageSink {
public:
    // Target must outlive the sink. Nothing is written before the first page.
    TPageSink(TTextTarget& Target, int First, int Last, const QByteArray& Header = ByteOrderMark,
              const QByteArray& Footer = {});

    // Takes the bytes of Page (its text in UTF-8, then CR LF). Raises
    // EFileError when a write fails, std::invalid_argument for a page outside
    // the range or one already added.
    void Add(int Page, const QByteArray& Bytes);
    // Seam joins each page's bytes with the next page's before the first are
    // written (TPageFormat::Seam): a page is then held until the next arrives
    // or Finish.
    void SetSeam(std::function<void(QByteArray& Previous, QByteArray& Next)> Seam) { FSeam = std::move(Seam); }
    // The first page not yet written (Last + 1 once every page is).
    int NextPage() const { return FNext; }
    bool IsComplete() const { return FNext > FLast; }
    // Writes the footer and commits the target once every page is written. Raises EFileError;
    // std::logic_error when pages are missing (the target is then not committed).
    void Finish();

private:
    void WritePage(const QByteArray& Bytes);

    TTextTarget& FTarget;
    int FFirst;
    int FLast;
    int FNext;
    QByteArray FHeader;
    QByteArray FFooter;
    std::map<int, QByteArray> FWaiting;
    std::function<void(QByteArray&, QByteArray&)> FSeam;
    QByteArray FHeld;  // with a seam: the last page added, not yet written
};

}  // namespace kestrune
