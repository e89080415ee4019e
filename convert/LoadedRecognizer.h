// The programs' recognizer: TPageRecognizer's reading, through the module
// kestrune-recognizer.so (ocr/RecognizerModule.h), loaded into the process at
// the first recognizer made and kept until the process ends.
#pragma once

#include <QImage>
#include <QString>
#include <memory>

#include <kestrune/PageRecognizer.h>

namespace kestrune {

class TModuleRecognizer;

class TLoadedRecognizer {
public:
    // Loads the module (once per process) and Tesseract with Languages.
    // Raises EPdfError as TPageRecognizer's constructor does, or when the
    // module is missing or cannot be loaded.
    explicit TLoadedRecognizer(const QString& Languages);
    ~TLoadedRecognizer();
    TLoadedRecognizer(const TLoadedRecognizer&) = delete;
    TLoadedRecognizer& operator=(const TLoadedRecognizer&) = delete;

    // TPageRecognizer::Recognize. Raises EPdfError.
    TRecognizedPage Recognize(const QImage& GreyPage, double Dpi, const TRecognitionOptions& Options);

    // Before any work, without loading anything: raises EPdfError when the
    // module is in none of the engine's folders, when Languages' data is not
    // installed, or when Rotate asks for orientation detection without its data.
    static void CheckAvailable(const QString& Languages, bool Rotate = false);

private:
    std::unique_ptr<TModuleRecognizer> F;
};

}  // namespace kestrune
