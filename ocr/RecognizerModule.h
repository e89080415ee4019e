// The programs' way to Tesseract: a module of their own, kestrune-recognizer.so,
// which holds TPageRecognizer's Tesseract code and is loaded only when a page
// is to be recognised. Linked into the programs, Tesseract, Leptonica and the
// OpenMP runtime would load into every process, a run that recognises nothing
// included (some 10 MB each, and their start-up time).
//
// The module comes from the same build as the programs; the entry's name
// carries the interface's version, so that a module of another build is
// refused rather than called. Nothing is thrown across: failures come back as
// their messages.
#pragma once

#include <QImage>
#include <QString>

#include <kestrune/PageRecognizer.h>

namespace kestrune {

// The module's file name, looked for in the engine's folders (EngineSearchPath).
inline constexpr char RecognizerModuleName[] = "kestrune-recognizer.so";

// A TPageRecognizer behind the module's boundary.
class TModuleRecognizer {
public:
    virtual ~TModuleRecognizer() = default;
    // TPageRecognizer::Recognize: true with Page filled, or false with Error.
    virtual bool Recognize(const QImage& GreyPage, double Dpi, const TRecognitionOptions& Options, TRecognizedPage& Page,
                           QString& Error) noexcept = 0;
};

// The module's one entry: a recognizer loaded with Languages (as for
// TPageRecognizer's constructor; Tesseract on one thread), or null with Error
// set. The caller deletes it.
using TCreateModuleRecognizer = TModuleRecognizer* (*)(const QString& Languages, QString& Error);
inline constexpr char CreateModuleRecognizerEntry[] = "kestrune_create_recognizer_2";

}  // namespace kestrune
