#include "convert/PageRecognition.h"

#include <QDir>
#include <QFileInfo>
#include <atomic>

#include <kestrune/Engine.h>
#include <kestrune/PdfError.h>

namespace kestrune {

namespace {
std::atomic<TPageRecognitionMaker> InstalledMaker{nullptr};
}  // namespace

void SetPageRecognitionMaker(TPageRecognitionMaker Maker) { InstalledMaker = Maker; }

bool PageRecognitionInstalled() { return InstalledMaker.load() != nullptr; }

std::unique_ptr<TPageRecognition> NewPageRecognition() {
    const TPageRecognitionMaker maker = InstalledMaker;
    if (!maker) throw EPdfError(QStringLiteral("This program cannot recognise pages (it reads their text only)"));
    return maker();
}

QString RecognitionWorkerProgram() {
    for (const QString& folder : EngineSearchPath()) {
        const QString path = QDir(folder).filePath(QString::fromLatin1(RecognitionWorkerName));
        if (QFileInfo(path).isExecutable()) return path;
    }
    return {};
}

}  // namespace kestrune
