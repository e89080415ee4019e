// File errors: a file could not be created, written or read.
#pragma once

#include <kestrune/PdfError.h>

namespace kestrune {

// A file error is an EPdfError like every other failure (so one catch of
// EPdfError takes it); its kind is ekFileWrite unless given, and its file name
// the file concerned where there is one. what() is the message in UTF-8.
class EFileError : public EPdfError {
public:
    explicit EFileError(const QString& message, const QString& fileName = {},
                        TPdfErrorKind kind = TPdfErrorKind::ekFileWrite)
        : EPdfError(message, kind, fileName) {}

    // "Cannot create file "<path>". <reason>" — the usual wording for a file
    // that could not be created or replaced; the file name is path.
    static EFileError CannotCreate(const QString& path, const QString& reason) {
        return EFileError(QStringLiteral("Cannot create file \"%1\". %2").arg(path, reason), path);
    }
};

}  // namespace kestrune
