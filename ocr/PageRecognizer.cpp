#include <kestrune/PageRecognizer.h>

#include <QFile>
#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include <tesseract/resultiterator.h>

#include <kestrune/PdfError.h>
#include "ocr/Recognition.h"
#include "ocr/RecognizerState.h"

namespace kestrune {

namespace {

// Raises EPdfError with Message when Condition is false. (The library's
// CheckResult lives with the engine binding, which this file must not pull
// into the programs' recognizer module.)
void Check(bool Condition, const QString& Message) {
    if (!Condition) throw EPdfError(Message);
}

}  // namespace

void TPageRecognizer::CheckLanguages(const QString& Languages) { recognition::CheckLanguages(Languages); }

QStringList TPageRecognizer::InstalledLanguages() { return recognition::InstalledLanguages(); }

QString TPageRecognizer::GlyphlessFontFile() { return recognition::GlyphlessFontFile(); }

int TPageRecognizer::PageDpi(double Width, double Height, int Dpi) { return recognition::PageDpi(Width, Height, Dpi); }

TPageRecognizer::TPageRecognizer(const QString& Languages) : F(std::make_unique<TState>()) {
    F->Languages = Languages;
    CheckLanguages(Languages);
    const QStringList codes = recognition::LanguageCodes(Languages);
    const QString folder = recognition::DataFolder();
    // Tesseract's own messages (on stderr, from any thread) would mix with the
    // program's; what matters of them reaches the caller as an EPdfError.
    F->Api.SetVariable("debug_file", "/dev/null");
    // The settings the tesseract command reads a page with: its default engine,
    // automatic page segmentation.
    const QByteArray path = QFile::encodeName(folder);
    const QByteArray language = Languages.toUtf8();
    if (F->Api.Init(path.constData(), language.constData(), tesseract::OEM_DEFAULT) != 0)
        throw EPdfError(QStringLiteral("Text recognition could not start with the language data %1 in %2")
                            .arg(Languages, folder));
    // Tesseract leaves out a language whose file it cannot load and goes on with the others.
    std::vector<std::string> loaded;
    F->Api.GetLoadedLanguagesAsVector(&loaded);
    for (const QString& code : codes)
        if (std::find(loaded.begin(), loaded.end(), code.toStdString()) == loaded.end())
            throw EPdfError(QStringLiteral("The recognition data for language \"%1\" (%2) cannot be loaded")
                                .arg(code, recognition::DataFile(folder, code)));
    F->Api.SetPageSegMode(tesseract::PSM_AUTO);
}

TPageRecognizer::~TPageRecognizer() = default;

QString TPageRecognizer::Languages() const { return F->Languages; }

TRecognizedPage TPageRecognizer::Recognize(const QImage& GreyPage, double Dpi) {
    Check(!GreyPage.isNull(), QStringLiteral("No page image to recognise"));
    Check(Dpi > 0, QStringLiteral("Invalid resolution for recognition"));
    Check(GreyPage.width() <= MaxPageSide && GreyPage.height() <= MaxPageSide &&
              qint64(GreyPage.width()) * GreyPage.height() <= MaxPagePixels,
          QStringLiteral("Page image too large to recognise (%1 x %2 pixels)").arg(GreyPage.width()).arg(GreyPage.height()));
    // A grey image is read where it lies; others (also the engine's four-byte
    // grey) are converted, as Tesseract reads one byte a pixel fastest.
    const QImage grey = GreyPage.format() == QImage::Format_Grayscale8 ? GreyPage
                                                                     : GreyPage.convertToFormat(QImage::Format_Grayscale8);
    tesseract::TessBaseAPI& api = F->Api;
    api.SetImage(grey.constBits(), grey.width(), grey.height(), 1, int(grey.bytesPerLine()));
    api.SetSourceResolution(int(std::lround(Dpi)));
    // Results and the image go with the page; the language data stays loaded.
    struct TClear {
        tesseract::TessBaseAPI& Api;
        ~TClear() { Api.Clear(); }
    } clear{api};
    Check(api.Recognize(nullptr) == 0, QStringLiteral("Text recognition failed"));

    TRecognizedPage page;
    page.Dpi = Dpi;
    page.PixelWidth = grey.width();
    page.PixelHeight = grey.height();
    const double scale = 72.0 / Dpi;  // pixels to points
    std::unique_ptr<tesseract::ResultIterator> it(api.GetIterator());
    if (!it) return page;
    // Numbered as Tesseract's own TSV output numbers them.
    int block = 0, paragraph = 0, line = 0;
    for (; !it->Empty(tesseract::RIL_BLOCK); it->Next(tesseract::RIL_WORD)) {
        if (it->Empty(tesseract::RIL_WORD)) continue;
        if (it->IsAtBeginningOf(tesseract::RIL_BLOCK)) {
            ++block;
            paragraph = line = 0;
        }
        if (it->IsAtBeginningOf(tesseract::RIL_PARA)) {
            ++paragraph;
            line = 0;
        }
        const bool newLine = it->IsAtBeginningOf(tesseract::RIL_TEXTLINE);
        if (newLine) ++line;
        const std::unique_ptr<char[]> text(it->GetUTF8Text(tesseract::RIL_WORD));
        TRecognizedWord word;
        word.Text = QString::fromUtf8(text.get());
        if (word.Text.isEmpty()) continue;
        int left = 0, top = 0, right = 0, bottom = 0;
        it->BoundingBox(tesseract::RIL_WORD, &left, &top, &right, &bottom);
        word.Box = QRectF(left * scale, top * scale, (right - left) * scale, (bottom - top) * scale);
        word.Confidence = std::clamp(double(it->Confidence(tesseract::RIL_WORD)), 0.0, 100.0);
        word.Block = block;
        word.Paragraph = paragraph;
        word.Line = line;
        // Words of a line apart by a space, lines by CR LF, as in an engine page's text.
        if (!page.Words.isEmpty()) page.Text += newLine ? QStringLiteral("\r\n") : QStringLiteral(" ");
        page.Text += word.Text;
        page.Words.append(std::move(word));
    }
    return page;
}

}  // namespace kestrune
