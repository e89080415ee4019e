// What reading scanned pages needs besides Tesseract itself: where its
// language data lies, the page limits, and the page's image. Kept apart from
// TPageRecognizer's Tesseract code so that the programs check languages and
// render pages without loading Tesseract (see RecognizerModule.h).
#pragma once

#include <QImage>
#include <QPointF>
#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>

#include <kestrune/PageRecognizer.h>

namespace kestrune {

class TFPdf;

namespace recognition {

// Tesseract's data folder: TESSDATA_PREFIX when set (as for Tesseract itself),
// else the first of this build's Tesseract's installed places that exists.
QString DataFolder();

// The data file of language Code in Folder: Folder/Code.traineddata.
QString DataFile(const QString& Folder, const QString& Code);

// Tesseract's glyphless font, which its PDFs set recognised text in (and a
// text layer over scanned pages, TTextLayer): DataFolder()/pdf.ttf.
QString GlyphlessFontFile();

// The language codes of Languages ("eng+deu"); raises EPdfError for a code
// that is not a plain name.
QStringList LanguageCodes(const QString& Languages);

// Raises EPdfError naming the first language whose data file is missing and
// the Debian package that has it, or, for a code Tesseract's project has no
// data for, saying so and listing the installed languages.
void CheckLanguages(const QString& Languages);

// Raises EPdfError when the data of orientation detection is missing.
void CheckOrientationData();

// The language codes whose data files lie in DataFolder(), sorted (without osd).
QStringList InstalledLanguages();

// The resolution a page of Width x Height points is read at when Dpi is asked
// for (TPageRecognizer::PageDpi).
int PageDpi(double Width, double Height, int Dpi);

// How a page's image for recognition is made: from the page's one scanned
// image, in its own pixels, or by rendering the page.
struct TPagePlan {
    int Page = 0;
    // The resolution the image is read at, and the one it would have been
    // read at but for the pixel limits (the same when the page is within them).
    double Dpi = 0;
    double AskedDpi = 0;
    // The image's size in pixels.
    int Width = 0;
    int Height = 0;
    // Where the image's top left corner lies on the page as shown, in points.
    QPointF Origin;

    // For a scan: the index of the page's image object, and the image's own
    // size in pixels; -1 for a rendering.
    int ImageObject = -1;
    QSize Source;
    // How the image's rows and columns lie on the page as shown: its columns
    // run down the page rather than across (Transposed, before the mirrors),
    // then it is mirrored left to right and top to bottom.
    bool Transposed = false;
    bool MirrorX = false;
    bool MirrorY = false;
    // The part of the image so turned that lies on the page, in its pixels.
    QRect Crop;
};

// The plan for page PageNumber of the document open in Pdf (which becomes its
// current page): its one image when the page shows nothing else (no other
// object, no annotation) and the engine can decode it as it is placed (turned
// by a multiple of 90 degrees at most), at the image's own resolution, raised
// to Options.Dpi for a scan under MinScanDpi (and lowered to it for one beyond
// the pixel limits); otherwise a rendering at Options.Dpi. Either within the
// pixel limits (PageDpi). The engine may decode the image to tell its colour
// space (a JPEG 2000 or JBIG2 image, say).
// With KeepText, the page's text objects are passed over: the page's text is
// kept as it is, and only its scan is to be read (see StampedScan).
TPagePlan PlanPageImage(TFPdf& Pdf, int PageNumber, const TRecognitionOptions& Options, bool KeepText = false);

// Whether the current page of Pdf is a scan with a little real text over it
// (a fax header, a Bates number, as copiers and fax servers stamp): images
// cover at least half the page, and the text objects less than a tenth of the
// area the images cover. Looks at no object's bounds on a page without images.
bool StampedScan(TFPdf& Pdf);

// Makes Plan's image in Into, as a scanner would see the page: grey, on
// white, and for a rendering with annotations and form fields. A scan the
// engine cannot decode is rendered instead, at Options.Dpi (Plan then says
// so). Raises EPdfError, also for a page that comes out white because an
// image on it cannot be decoded (the engine leaves such an image out without
// a word).
void MakePageImage(TFPdf& Pdf, TPagePlan& Plan, const TRecognitionOptions& Options, QImage& Into);

// Moves Page's words from the image's corner to the page's, and notes where
// the image came from.
void PlaceWords(TRecognizedPage& Page, const TPagePlan& Plan);

}  // namespace recognition
}  // namespace kestrune
