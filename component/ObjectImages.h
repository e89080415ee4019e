// The messages of the page objects' image accessors, shared by those that
// give stored data (FPdfObjects.cpp) and those that give decoded pixels
// (FPdfObjectBitmaps.cpp).
#pragma once

#include <QString>

namespace kestrune {

inline const QString kIncorrectIndex = QStringLiteral("Incorrect index");
inline const QString kCannotRetrieveImageData = QStringLiteral("Cannot retrieve image data");
inline const QString kImageTooLarge = QStringLiteral("Image too large");

}  // namespace kestrune
