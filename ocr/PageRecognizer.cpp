#include <kestrune/PageRecognizer.h>

#include <QFile>
#include <QPolygonF>
#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include <leptonica/allheaders.h>
#include <tesseract/resultiterator.h>

#include <kestrune/PdfError.h>
#include "ocr/Recognition.h"
#include "ocr/RecognizerState.h"
#include "ocr/TesseractThreads.h"

namespace kestrune {

namespace {

// Raises EPdfError with Message when Condition is false. (The library's
// CheckResult lives with the engine binding, which this file must not pull
// into the programs' recognizer module.)
void Check(bool Condition, const QString& Message) {
    if (!Condition) throw EPdfError(Message);
}

// Whether a page image without words shows ink all the same: one pixel in a
// thousand darker than mid grey, beyond the odd speck of a blank sheet.
bool ShowsInk(const QImage& Grey) {
    qint64 dark = 0;
    for (int y = 0; y < Grey.height(); ++y) {
        const uchar* line = Grey.constScanLine(y);
        for (int x = 0; x < Grey.width(); ++x) dark += line[x] < 128;
    }
    return dark * 1000 > qint64(Grey.width()) * Grey.height();
}

struct TPixRelease {
    void operator()(Pix* Image) const { pixDestroy(&Image); }
};
using TPix = std::unique_ptr<Pix, TPixRelease>;

// Grey as Leptonica holds it (its own byte order within 32-bit words).
TPix PixOf(const QImage& Grey) {
    TPix pix(pixCreate(Grey.width(), Grey.height(), 8));
    if (!pix) return pix;
    l_uint32* data = pixGetData(pix.get());
    const int words = pixGetWpl(pix.get());
    for (int y = 0; y < Grey.height(); ++y) {
        const uchar* line = Grey.constScanLine(y);
        l_uint32* target = data + qsizetype(y) * words;
        for (int x = 0; x < Grey.width(); ++x) SET_DATA_BYTE(target, x, line[x]);
    }
    return pix;
}

// Leptonica's own bounds for straightening a page (pixFindSkewAndDeskew's):
// a slant found with less confidence, or by less, is left alone.
constexpr float MinSkewConfidence = 3.0f;
constexpr float MinSkew = 0.1f;

// The page Tesseract has been given, straightened when it is slanted (found
// on Tesseract's own black and white of it): Tesseract is given the
// straightened page instead. The turn that straightened it, in degrees
// (clockwise, as Leptonica turns), and the straightened image, which must
// live while Tesseract reads it; 0 and null when the page is left as it is.
std::pair<double, TPix> Straighten(tesseract::TessBaseAPI& Api, const QImage& Grey, int Dpi) {
    const TPix binary(Api.GetThresholdedImage());
    float angle = 0, confidence = 0;
    if (!binary || pixFindSkew(binary.get(), &angle, &confidence) != 0 || confidence < MinSkewConfidence ||
        std::abs(angle) < MinSkew)
        return {0, nullptr};
    const TPix grey = PixOf(Grey);
    // Turned about its centre into an image large enough to lose no corner, on white.
    TPix straight(grey ? pixRotate(grey.get(), float(angle * M_PI / 180), L_ROTATE_AREA_MAP, L_BRING_IN_WHITE,
                                   Grey.width(), Grey.height())
                       : nullptr);
    Check(straight != nullptr, QStringLiteral("Not enough memory for the page image (%1 x %2 pixels)").arg(Grey.width()).arg(Grey.height()));
    Api.SetImage(straight.get());
    Api.SetSourceResolution(Dpi);
    return {angle, std::move(straight)};
}

// A box on the straightened image Straight (turned clockwise by Angle degrees
// about its centre) as the box around it on the page image Page.
QRectF Unstraighten(const QRectF& Box, double Angle, QSizeF Straight, QSizeF Page) {
    const double a = -Angle * M_PI / 180, c = std::cos(a), s = std::sin(a);
    const QPointF from(Straight.width() / 2, Straight.height() / 2), to(Page.width() / 2, Page.height() / 2);
    QPolygonF corners;
    for (const QPointF& p : {Box.topLeft(), Box.topRight(), Box.bottomLeft(), Box.bottomRight()}) {
        const QPointF d = p - from;
        corners << to + QPointF(d.x() * c - d.y() * s, d.x() * s + d.y() * c);
    }
    return corners.boundingRect();
}

// Grey on an even background: Leptonica's background normalisation, which
// lifts a page's shadows, stains and yellowing to one light grey (Grey as it
// is when Leptonica cannot).
QImage EvenBackground(const QImage& Grey) {
    const TPix pix = PixOf(Grey);
    const TPix even(pix ? pixBackgroundNormSimple(pix.get(), nullptr, nullptr) : nullptr);
    if (!even || pixGetDepth(even.get()) != 8 || pixGetWidth(even.get()) != Grey.width() || pixGetHeight(even.get()) != Grey.height())
        return Grey;
    QImage out(Grey.width(), Grey.height(), QImage::Format_Grayscale8);
    Check(!out.isNull(), QStringLiteral("Not enough memory for the page image (%1 x %2 pixels)").arg(Grey.width()).arg(Grey.height()));
    const l_uint32* data = pixGetData(even.get());
    const int words = pixGetWpl(even.get());
    for (int y = 0; y < out.height(); ++y) {
        const l_uint32* line = data + qsizetype(y) * words;
        uchar* target = out.scanLine(y);
        for (int x = 0; x < out.width(); ++x) target[x] = uchar(GET_DATA_BYTE(line, x));
    }
    return out;
}

// Grey with its specks gone: a dark pixel whose eight neighbours are all
// light becomes light, a light one among dark ones dark. Such lone pixels
// (a fax line's noise, dust) are no part of any letter at a resolution
// Tesseract reads, and Tesseract takes them for letters or for a picture.
QImage Despeckled(const QImage& Grey) {
    QImage clean = Grey.copy();
    Check(!clean.isNull(), QStringLiteral("Not enough memory for the page image (%1 x %2 pixels)").arg(Grey.width()).arg(Grey.height()));
    for (int y = 1; y + 1 < Grey.height(); ++y) {
        const uchar* rows[3] = {Grey.constScanLine(y - 1), Grey.constScanLine(y), Grey.constScanLine(y + 1)};
        uchar* target = clean.scanLine(y);
        for (int x = 1; x + 1 < Grey.width(); ++x) {
            int dark = 0, sum = 0;
            for (const uchar* row : rows)
                for (int dx = -1; dx <= 1; ++dx) {
                    dark += row[x + dx] < 128;
                    sum += row[x + dx];
                }
            const bool self = rows[1][x] < 128;
            dark -= self;
            sum -= rows[1][x];
            if ((self && dark == 0) || (!self && dark == 8)) target[x] = uchar(sum / 8);
        }
    }
    return clean;
}

// Tesseract's orientation of a block as the clockwise turn of its text.
int TurnOf(tesseract::Orientation Orientation) {
    switch (Orientation) {
    case tesseract::ORIENTATION_PAGE_RIGHT: return 90;
    case tesseract::ORIENTATION_PAGE_DOWN: return 180;
    case tesseract::ORIENTATION_PAGE_LEFT: return 270;
    default: return 0;
    }
}

}  // namespace

void TPageRecognizer::CheckLanguages(const QString& Languages) { recognition::CheckLanguages(Languages); }

void TPageRecognizer::CheckOrientationData() { recognition::CheckOrientationData(); }

void TPageRecognizer::SetThreadCount(int Count) { F->Threads = std::max(Count, 0); }

int TPageRecognizer::ThreadCount() const { return F->Threads; }

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
    // automatic page segmentation (with orientation detection or without:
    // chosen for each page).
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
}

TPageRecognizer::~TPageRecognizer() = default;

QString TPageRecognizer::Languages() const { return F->Languages; }

TRecognizedPage TPageRecognizer::Recognize(const QImage& GreyPage, double Dpi, const TRecognitionOptions& Options) {
    Check(!GreyPage.isNull(), QStringLiteral("No page image to recognise"));
    Check(Dpi > 0, QStringLiteral("Invalid resolution for recognition"));
    Check(GreyPage.width() <= MaxPageSide && GreyPage.height() <= MaxPageSide &&
              qint64(GreyPage.width()) * GreyPage.height() <= MaxPagePixels,
          QStringLiteral("Page image too large to recognise (%1 x %2 pixels)").arg(GreyPage.width()).arg(GreyPage.height()));
    // Without its data, Tesseract would go on without a word and read a turned page as garbage.
    if (Options.Rotate && !F->OrientationChecked) {
        recognition::CheckOrientationData();
        F->OrientationChecked = true;
    }
    // A grey image is read where it lies; others (also the engine's four-byte
    // grey) are converted, as Tesseract reads one byte a pixel fastest.
    const QImage given = GreyPage.format() == QImage::Format_Grayscale8 ? GreyPage
                                                                     : GreyPage.convertToFormat(QImage::Format_Grayscale8);
    // A null image here is a refused allocation; Tesseract would read through it.
    Check(!given.isNull(), QStringLiteral("Not enough memory for the page image (%1 x %2 pixels)").arg(GreyPage.width()).arg(GreyPage.height()));
    // Reads the page image Grey as it is.
    const auto read = [&](const QImage& grey) {
        tesseract::TessBaseAPI& api = F->Api;
        // With orientation detection, Tesseract finds the page's orientation among
        // its layout analysis (from the shapes it has found already) and reads
        // the blocks turned upright, giving their boxes on the image as it is:
        // the tesseract command's --psm 1.
        api.SetPageSegMode(Options.Rotate ? tesseract::PSM_AUTO_OSD : tesseract::PSM_AUTO);
        api.SetImage(grey.constBits(), grey.width(), grey.height(), 1, int(grey.bytesPerLine()));
        api.SetSourceResolution(int(std::lround(Dpi)));
        // Results and the image go with the page; the language data stays loaded.
        struct TClear {
            tesseract::TessBaseAPI& Api;
            ~TClear() { Api.Clear(); }
        } clear{api};
        std::pair<double, TPix> straightened{0, nullptr};
        int status = -1;
        recognition::RunOnThreads(F->Threads, [&] {
            if (Options.Deskew) straightened = Straighten(api, grey, int(std::lround(Dpi)));
            status = api.Recognize(nullptr);
        });
        Check(status == 0, QStringLiteral("Text recognition failed"));

        TRecognizedPage page;
        page.Dpi = Dpi;
        page.Skew = -straightened.first;  // the turn that straightened it was the other way
        page.PixelWidth = grey.width();
        page.PixelHeight = grey.height();
        const double scale = 72.0 / Dpi;  // pixels to points
        std::unique_ptr<tesseract::ResultIterator> it(api.GetIterator());
        // Numbered as Tesseract's own TSV output numbers them, over the words
        // given: a word of nothing but white space (Tesseract's answer to some
        // noise) is no word, and the first word after it starts what it started.
        int block = 0, paragraph = 0, line = 0;
        bool newBlock = false, newParagraph = false, newLine = false;
        double confidence = 0;
        int turned[4] = {0, 0, 0, 0};  // words by their block's turn
        int blockTurn = 0;
        for (; it && !it->Empty(tesseract::RIL_BLOCK); it->Next(tesseract::RIL_WORD)) {
            if (it->Empty(tesseract::RIL_WORD)) continue;
            if (it->IsAtBeginningOf(tesseract::RIL_BLOCK)) {
                newBlock = newParagraph = newLine = true;
                tesseract::Orientation orientation = tesseract::ORIENTATION_PAGE_UP;
                tesseract::WritingDirection direction;
                tesseract::TextlineOrder order;
                float deskew = 0;
                it->Orientation(&orientation, &direction, &order, &deskew);
                blockTurn = TurnOf(orientation);
            }
            if (it->IsAtBeginningOf(tesseract::RIL_PARA)) newParagraph = newLine = true;
            if (it->IsAtBeginningOf(tesseract::RIL_TEXTLINE)) newLine = true;
            const std::unique_ptr<char[]> text(it->GetUTF8Text(tesseract::RIL_WORD));
            TRecognizedWord word;
            word.Text = QString::fromUtf8(text.get());
            if (word.Text.trimmed().isEmpty()) continue;
            if (newBlock) {
                ++block;
                paragraph = line = 0;
            }
            if (newParagraph) {
                ++paragraph;
                line = 0;
            }
            if (newLine) ++line;
            int left = 0, top = 0, right = 0, bottom = 0;
            it->BoundingBox(tesseract::RIL_WORD, &left, &top, &right, &bottom);
            QRectF box(left, top, right - left, bottom - top);
            if (straightened.second)
                box = Unstraighten(box, straightened.first,
                                   QSizeF(pixGetWidth(straightened.second.get()), pixGetHeight(straightened.second.get())),
                                   QSizeF(grey.width(), grey.height()))
                          .intersected(QRectF(0, 0, grey.width(), grey.height()));
            word.Box = QRectF(box.left() * scale, box.top() * scale, box.width() * scale, box.height() * scale);
            word.Confidence = std::clamp(double(it->Confidence(tesseract::RIL_WORD)), 0.0, 100.0);
            word.Block = block;
            word.Paragraph = paragraph;
            word.Line = line;
            confidence += word.Confidence;
            ++turned[blockTurn / 90];
            // Words of a line apart by a space, lines by CR LF, as in an engine page's text.
            if (!page.Words.isEmpty()) page.Text += newLine ? QStringLiteral("\r\n") : QStringLiteral(" ");
            page.Text += word.Text;
            page.Words.append(std::move(word));
            newBlock = newParagraph = newLine = false;
        }
        if (!page.Words.isEmpty()) {
            page.Confidence = confidence / page.Words.size();
            page.Rotation = 90 * int(std::max_element(std::begin(turned), std::end(turned)) - std::begin(turned));
        } else {
            page.Confidence = ShowsInk(grey) ? 0 : -1;
        }
        return page;
    };
    if (!Options.Clean) return read(given);
    // Cleaned, a page that shows ink and gives no word is read again as it
    // is: the cleaning may have taken what was there.
    TRecognizedPage page = read(Despeckled(EvenBackground(given)));
    return page.Words.isEmpty() && page.Confidence == 0 ? read(given) : page;
}

}  // namespace kestrune
