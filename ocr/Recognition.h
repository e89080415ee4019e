// What reading scanned pages needs besides Tesseract itself: where its
// language data lies, the page limits, and the page's image. Kept apart from
// TPageRecognizer's Tesseract code so that the programs check languages and
// render pages without loading Tesseract (see RecognizerModule.h).
#pragma once

#include <QImage>
#include <QString>
#include <QStringList>

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
// the Debian package that has it.
void CheckLanguages(const QString& Languages);

// The language codes whose data files lie in DataFolder(), sorted.
QStringList InstalledLanguages();

// The resolution a page of Width x Height points is read at when Dpi is asked
// for (TPageRecognizer::PageDpi).
int PageDpi(double Width, double Height, int Dpi);

// Renders page PageNumber of the document open in Pdf as a scanner would see
// it (grey, with annotations and form fields, on white) into Into, at Dpi or
// at PageDpi's lower resolution for a page beyond the limits; returns the
// resolution used. Pdf's current page becomes PageNumber. Raises EPdfError.
int RenderPageImage(TFPdf& Pdf, int PageNumber, int Dpi, QImage& Into);

}  // namespace recognition
}  // namespace kestrune
