// Files created where a link planted by someone else cannot redirect them:
// folders opened beneath a root without following any link, and the
// recognisable temporary files that a complete text file replaces its place
// with, removed again by a signal or by a later run when their writer died.
#pragma once

#include <QByteArray>
#include <QString>
#include <sys/stat.h>

namespace kestrune {

// An open file descriptor, closed with the object.
class TDescriptor {
public:
    TDescriptor() = default;
    explicit TDescriptor(int Fd) : FFd(Fd) {}
    TDescriptor(TDescriptor&& Other) noexcept : FFd(Other.Release()) {}
    TDescriptor& operator=(TDescriptor&& Other) noexcept;
    ~TDescriptor();
    TDescriptor(const TDescriptor&) = delete;
    TDescriptor& operator=(const TDescriptor&) = delete;

    int Get() const { return FFd; }
    int Release();
    bool IsOpen() const { return FFd >= 0; }

private:
    int FFd = -1;
};

// The text of errno Error, as the system words it.
QString SystemMessage(int Error);

// The descriptor that a path names for this process itself: standard output
// ("-" and /dev/stdout) and error, /dev/fd/N and /proc/self/fd/N. Written
// through the descriptor the process already has, they keep its position and
// append mode (reopening the path would start a regular file over at its
// beginning); -1 for other paths.
int ProcessDescriptor(const QString& Path);

// Opens the folder Path (links in it followed: the caller named it), for use
// with the *at calls only. Raises EFileError naming Shown.
TDescriptor OpenFolder(const QByteArray& Path, const QString& Shown);

// Opens the folder Relative beneath the folder Root (creating what is missing
// when Create), never following a symbolic link and never leaving Root: with
// openat2's RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS where the kernel has it,
// else one component at a time with O_NOFOLLOW. An empty Relative is Root
// itself. Raises EFileError ("Cannot create file <Shown>. ...").
TDescriptor OpenFolderBeneath(int Root, const QByteArray& Relative, bool Create, const QString& Shown);

// The name of a temporary file for the file Name: hidden, and carrying this
// process's id and host, so that a later run can tell when its writer is gone:
// ".NAME.kestrune-PID@HOST-XXXXXX.tmp" (NAME shortened to keep within the
// file system's limit on names).
QByteArray TemporaryName(const QByteArray& Name);

// Removes, in the folder Folder, the temporary files of kestrune-text runs on
// this host whose process no longer exists; other files stay. Once per folder
// and run is enough: Folder's identity is remembered.
void RemoveLeftoverTemporaries(int Folder);

// A copy of everything readable from the descriptor From, in a temporary file
// that has no name (O_TMPFILE in $TMPDIR or /tmp; where the file system
// cannot, a named one removed at once), positioned at its start. Raises
// EFileError naming What ("standard input").
TDescriptor SpoolToUnnamedFile(int From, const QString& What);

// The temporary files of this process that a signal must remove: registered
// while they have a name, by their folder's descriptor and their name.
// Both return at once and may be called with the signal handlers installed.
int RegisterTemporary(int Folder, const QByteArray& Name);
void ForgetTemporary(int Slot);

// Installs the handlers for SIGINT, SIGTERM, SIGHUP and SIGPIPE: each removes
// the registered temporary files, writes a line naming the signal to standard
// error and ends the process with 128 + the signal's number (the worker
// processes end with it, as they end whenever their parent does).
void InstallCleanupOnSignals();

}  // namespace kestrune
