#include <kestrune/PageRecognizer.h>

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include <tesseract/baseapi.h>
#include <tesseract/resultiterator.h>

#include <kestrune/FPdf.h>
#include <kestrune/PdfError.h>

namespace kestrune {

namespace {

// Tesseract's data folder: TESSDATA_PREFIX when set (as for Tesseract itself),
// else the first of the installed places that exists. Named to Tesseract
// explicitly, so that the language check below and Tesseract look at the same files.
QString DataFolder() {
    const QString fromEnvironment = qEnvironmentVariable("TESSDATA_PREFIX");
    if (!fromEnvironment.isEmpty()) return fromEnvironment;
    // The places this build's Tesseract installs its data, separated by ':'.
    const QStringList folders = QStringLiteral(KESTRUNE_TESSDATA_FOLDERS).split(QLatin1Char(':'));
    for (const QString& folder : folders)
        if (QFileInfo(folder).isDir()) return folder;
    return folders.first();
}

QString DataFile(const QString& Folder, const QString& Code) {
    return QDir(Folder).filePath(Code + QStringLiteral(".traineddata"));
}

// Debian's package of a language's data: tesseract-ocr-chi-sim for chi_sim.
QString DebianPackage(const QString& Code) {
    return QStringLiteral("tesseract-ocr-") + Code.toLower().replace(QLatin1Char('_'), QLatin1Char('-'));
}

QStringList LanguageCodes(const QString& Languages) {
    static const QRegularExpression valid(QStringLiteral("^[A-Za-z0-9_-]+$"));
    const QStringList codes = Languages.split(QLatin1Char('+'));
    for (const QString& code : codes)
        if (!valid.match(code).hasMatch())
            throw EPdfError(QStringLiteral("Invalid recognition language \"%1\": expected Tesseract's language codes joined by \"+\", such as eng+deu")
                                .arg(Languages));
    return codes;
}

}  // namespace

struct TPageRecognizer::TState {
    QString Languages;
    tesseract::TessBaseAPI Api;
    QImage Rendered;  // the engine's rendering, reused from page to page
};

void TPageRecognizer::CheckLanguages(const QString& Languages) {
    const QString folder = DataFolder();
    for (const QString& code : LanguageCodes(Languages))
        if (!QFileInfo(DataFile(folder, code)).isFile())
            throw EPdfError(QStringLiteral("The recognition data for language \"%1\" is not installed (no %2); "
                                           "the Debian package %3 has it")
                                .arg(code, DataFile(folder, code), DebianPackage(code)));
}

TPageRecognizer::TPageRecognizer(const QString& Languages) : F(std::make_unique<TState>()) {
    F->Languages = Languages;
    CheckLanguages(Languages);
    const QStringList codes = LanguageCodes(Languages);
    const QString folder = DataFolder();
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
                                .arg(code, DataFile(folder, code)));
    F->Api.SetPageSegMode(tesseract::PSM_AUTO);
}

TPageRecognizer::~TPageRecognizer() = default;

QString TPageRecognizer::Languages() const { return F->Languages; }

int TPageRecognizer::PageDpi(double Width, double Height, int Dpi) {
    const double width = std::max(Width, 1.0) / 72.0;  // inches
    const double height = std::max(Height, 1.0) / 72.0;
    const auto fits = [&](int dpi) {
        const double w = std::ceil(width * dpi), h = std::ceil(height * dpi);
        return w <= MaxPageSide && h <= MaxPageSide && w * h <= double(MaxPagePixels);
    };
    if (fits(Dpi)) return Dpi;
    // The estimate from the limits, then a step down for rounding.
    int dpi = int(std::min({std::sqrt(double(MaxPagePixels) / (width * height)), MaxPageSide / width,
                            MaxPageSide / height, double(Dpi)}));
    while (dpi > 1 && !fits(dpi)) --dpi;
    return std::max(dpi, 1);
}

QStringList TPageRecognizer::InstalledLanguages() {
    QStringList codes;
    for (const QFileInfo& file : QDir(DataFolder()).entryInfoList({QStringLiteral("*.traineddata")}, QDir::Files))
        codes << file.completeBaseName();
    codes.sort();
    return codes;
}

TRecognizedPage TPageRecognizer::Recognize(const QImage& GreyPage, double Dpi) {
    CheckResult(!GreyPage.isNull(), QStringLiteral("No page image to recognise"));
    CheckResult(Dpi > 0, QStringLiteral("Invalid resolution for recognition"));
    CheckResult(GreyPage.width() <= MaxPageSide && GreyPage.height() <= MaxPageSide &&
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
    CheckResult(api.Recognize(nullptr) == 0, QStringLiteral("Text recognition failed"));

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

TRecognizedPage TPageRecognizer::RecognizePage(TFPdf& Pdf, int PageNumber, int Dpi) {
    CheckResult(Dpi > 0, QStringLiteral("Invalid resolution for recognition"));
    Pdf.SetPageNumber(PageNumber);
    const double width = Pdf.GetPageWidth(), height = Pdf.GetPageHeight();
    const int dpi = PageDpi(width, height, Dpi);
    // Rounded, not raised: a scan's page is its image's size at its resolution,
    // and a pixel more would make the engine resample the whole image.
    const int w = std::max(1, int(std::lround(width * dpi / 72.0)));
    const int h = std::max(1, int(std::lround(height * dpi / 72.0)));
    // What a scanner would see: the page with its annotations and form fields, on white.
    Pdf.RenderPage(&F->Rendered, 0, 0, w, h, TRotation::ro0,
                   TRenderOptions{TRenderOption::reGrayscale, TRenderOption::reAnnotations}, 0xFFFFFFFF);
    return Recognize(F->Rendered, dpi);
}

}  // namespace kestrune
