// The one exception type of the engine binding and the component.
#pragma once

#include <QString>
#include <stdexcept>

namespace kestrune {

// A failed engine call or a refused operation. what() is the message in UTF-8.
class EPdfError : public std::runtime_error {
public:
    explicit EPdfError(const QString& message)
        : std::runtime_error(message.toStdString()), FMessage(message) {}
    // The message as the component formed it.
    const QString& Message() const noexcept { return FMessage; }

private:
    QString FMessage;
};

// Raises EPdfError with Message when Condition is false.
void CheckResult(bool Condition, const QString& Message);

// For the engine calls that report failures through the engine's last-error
// code (the document loaders): when Condition is false, raises EPdfError with
// the engine's error text, or with Message when the engine reports none.
// Other engine calls leave that code untouched (it is stale after any earlier
// failed load), so they check with CheckResult and their own message. The code
// is process-wide: call this under the same EngineLock as the failed call.
void CheckEngineResult(bool Condition, const QString& Message);

// The text for the engine's last-error code; empty for success (code 0).
QString EngineErrorText();

}  // namespace kestrune
