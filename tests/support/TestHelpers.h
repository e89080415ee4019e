// Small helpers the suites share: catching the component's errors, reading
// files back, saving a document to memory, and limiting file sizes.
#pragma once

#include <sys/resource.h>

#include <QByteArray>
#include <QColor>
#include <QString>
#include <functional>

#include <kestrune/FPdf.h>

namespace testing_support {

// Runs Action and returns the message of the EPdfError it raised, or an empty
// string when it raised nothing.
QString ErrorOf(const std::function<void()>& Action);

// Runs Action and returns the EPdfError it raised (message, kind, file name);
// a test failure and an empty error of kind ekOther when it raised nothing.
kestrune::EPdfError RaisedError(const std::function<void()>& Action);

// Runs Action and expects it to raise an EPdfError with exactly Message.
void ExpectError(const std::function<void()>& Action, const QString& Message);

// Leaves the engine's process-wide last-error code set, as any failed load
// does, so that a message wrongly taken from it would show.
void LeaveStaleEngineError();

// The whole content of a file; empty when it cannot be read.
QByteArray ReadAll(const QString& Path);

// The document as SaveAs writes it into memory (the save is expected to succeed).
QByteArray Saved(kestrune::TFPdf& Pdf);

// A JPEG of one colour, written by Qt's JPEG writer at full quality.
QByteArray JpegBytes(QColor Color, int Width = 16, int Height = 8);

// Limits the size of any file this process writes (a full disk, in effect),
// until the scope ends.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t Bytes);
    ~FileSizeLimit();
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;
    // Whether the limit took effect.
    bool Ok() const { return FOk; }

private:
    rlimit FOld{};
    void (*FOldHandler)(int) = nullptr;
    bool FOk = false;
};

}  // namespace testing_support
