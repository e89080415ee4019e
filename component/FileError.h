// The file layer's exception: a file could not be created, written or read.
#pragma once

#include <QString>
#include <stdexcept>

namespace kestrune {

// Raised for file errors, distinct from EPdfError (which is about the engine
// and the document). what() is the message in UTF-8.
class EFileError : public std::runtime_error {
public:
    explicit EFileError(const QString& message) : std::runtime_error(message.toStdString()), FMessage(message) {}
    const QString& Message() const noexcept { return FMessage; }

    // "Cannot create file "<path>". <reason>" — the usual wording for a file
    // that could not be created or replaced.
    static EFileError CannotCreate(const QString& path, const QString& reason) {
        return EFileError(QStringLiteral("Cannot create file \"%1\". %2").arg(path, reason));
    }

private:
    QString FMessage;
};

}  // namespace kestrune
