// The one exception type of the engine binding and the component.
#pragma once

#include <QString>
#include <stdexcept>

namespace kestrune {

// What went wrong, for a program that handles some failures itself (asks for a
// password again, tells "no such file" apart from a damaged one) and shows the
// message for the others.
enum class TPdfErrorKind {
    ekOther,          // anything not named below: a refused operation, a failed engine call
    ekFileNotFound,   // the file does not exist or cannot be opened for reading
    ekNotPdf,         // the data is not a PDF document, or too damaged to open
    ekPassword,       // a password is needed, or the one given is wrong
    ekSecurity,       // the document's security handler is one the engine does not support
    ekPage,           // a page does not exist or cannot be opened
    ekEngineMissing,  // the engine library cannot be loaded or lacks an entry point
    ekFileWrite       // a file cannot be created, written or replaced
};

// Every failure of the engine binding and the component (file errors included,
// see EFileError). what() is the message in UTF-8.
class EPdfError : public std::runtime_error {
public:
    explicit EPdfError(const QString& message, TPdfErrorKind kind = TPdfErrorKind::ekOther,
                       const QString& fileName = {})
        : std::runtime_error(message.toStdString()), FMessage(message), FKind(kind), FFileName(fileName) {}
    // The message as the component formed it: the text to show.
    const QString& Message() const noexcept { return FMessage; }
    // The kind of failure, to switch on.
    TPdfErrorKind Kind() const noexcept { return FKind; }
    // The file concerned (the document opened, the file written, the engine
    // library); empty when the failure concerns no file, or a document in memory.
    const QString& FileName() const noexcept { return FFileName; }

private:
    QString FMessage;
    TPdfErrorKind FKind;
    QString FFileName;
};

// Raises EPdfError with Message (and Kind) when Condition is false.
void CheckResult(bool Condition, const QString& Message, TPdfErrorKind Kind = TPdfErrorKind::ekOther);

// For the engine calls that report failures through the engine's last-error
// code (the document loaders): when Condition is false, raises EPdfError with
// the engine's error text and the kind of its code, or with Message (kind
// ekOther) when the engine reports none; FileName goes with it. Other engine
// calls leave that code untouched (it is stale after any earlier failed load),
// so they check with CheckResult and their own message. The code is
// process-wide: call this under the same EngineLock as the failed call.
void CheckEngineResult(bool Condition, const QString& Message, const QString& FileName = {});

// The text for the engine's last-error code; empty for success (code 0).
QString EngineErrorText();

// The kind of failure the engine's last-error code names; ekOther for success
// and for codes without a kind of their own.
TPdfErrorKind EngineErrorKind();

}  // namespace kestrune
