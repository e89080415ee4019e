#include "convert/LoadedRecognizer.h"

#include <dlfcn.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <mutex>

#include <kestrune/Engine.h>
#include <kestrune/PdfError.h>
#include "ocr/Recognition.h"
#include "ocr/RecognizerModule.h"

namespace kestrune {

namespace {

// The module's file in the first of the engine's folders that holds it: the
// same folders, relative to the program, the engine is trusted from; never
// the platform's library search.
QString ModulePath() {
    for (const QString& folder : EngineSearchPath()) {
        const QString path = QDir(folder).filePath(QString::fromLatin1(RecognizerModuleName));
        if (QFileInfo(path).isFile()) return path;
    }
    return {};
}

QString NotFoundMessage() {
    return QStringLiteral("Text recognition is not available: %1 is in none of %2")
        .arg(QString::fromLatin1(RecognizerModuleName), EngineSearchPath().join(QStringLiteral(", ")));
}

// The module's entry, the module loaded at the first call. Never unloaded:
// Tesseract's and OpenMP's state lives until the process ends.
TCreateModuleRecognizer ModuleEntry() {
    static std::mutex mutex;
    static TCreateModuleRecognizer entry = nullptr;
    static QString failure;
    const std::lock_guard lock(mutex);
    if (entry) return entry;
    if (failure.isEmpty()) {
        const QString path = ModulePath();
        if (path.isEmpty()) {
            failure = NotFoundMessage();
        } else if (void* handle = dlopen(QFile::encodeName(path).constData(), RTLD_NOW | RTLD_LOCAL)) {
            entry = reinterpret_cast<TCreateModuleRecognizer>(dlsym(handle, CreateModuleRecognizerEntry));
            if (!entry) failure = QStringLiteral("Text recognition is not available: %1 is not this version's module").arg(path);
        } else {
            const char* reason = dlerror();
            failure = QStringLiteral("Text recognition is not available: %1").arg(QString::fromLocal8Bit(reason ? reason : "cannot be loaded"));
        }
    }
    if (!entry) throw EPdfError(failure);
    return entry;
}

}  // namespace

TLoadedRecognizer::TLoadedRecognizer(const QString& Languages) {
    QString error;
    F.reset(ModuleEntry()(Languages, error));
    if (!F) throw EPdfError(error);
}

TLoadedRecognizer::~TLoadedRecognizer() = default;

TRecognizedPage TLoadedRecognizer::Recognize(const QImage& GreyPage, double Dpi, const TRecognitionOptions& Options) {
    TRecognizedPage page;
    QString error;
    if (!F->Recognize(GreyPage, Dpi, Options, page, error)) throw EPdfError(error);
    return page;
}

void TLoadedRecognizer::CheckAvailable(const QString& Languages, bool Rotate) {
    if (ModulePath().isEmpty()) throw EPdfError(NotFoundMessage());
    recognition::CheckLanguages(Languages);
    if (Rotate) recognition::CheckOrientationData();
}

}  // namespace kestrune
