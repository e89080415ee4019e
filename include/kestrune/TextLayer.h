// A scanned document made searchable: the words recognised on its pages added
// as invisible text over the page images, and the document saved as its
// original bytes followed by an update that holds the text.
//
//     kestrune::TTextLayer layer(pdf, "/usr/share/tesseract-ocr/5/tessdata/pdf.ttf");
//     layer.AddPage(3, layout);          // a TPageLayout of page 3, e.g. recognised words
//     layer.Save("scan.ocr.pdf");
//
// The words are set in Tesseract's glyphless font, in the text render mode
// that draws nothing: viewers show the page as it was, while selecting,
// searching and copying find the words where the image shows them. Each word
// lies on its box, stretched along its line to the box's length; the words of
// a line share one baseline and one size (the line's height), each word
// followed by a space, so that copying gives the lines and text extraction
// (pdftotext, the component's own Text) the words in reading order; the
// engine's Text gives each line with a space at its end.
// Pages turned by /Rotate and pages whose crop box lies anywhere on the media
// box get their words where they are shown.
//
// Saving appends: every byte of the original stays as it was (a signature
// over it still holds for that revision), and the update holds the font once,
// each page's new content stream, and the page dictionaries and resources
// that now refer to them, nothing else.
#pragma once

#include <QSet>
#include <QString>

#include <kestrune/FPdf.h>
#include <kestrune/PageLayout.h>

class QIODevice;

namespace kestrune {

class TTextLayer {
public:
    // Starts a text layer over the document open in Pdf, with the glyphless
    // font of Tesseract's data folder, FontFile (pdf.ttf; the Debian package
    // libtesseract5 installs it in /usr/share/tesseract-ocr/5/tessdata). The
    // font is embedded in the document now. Pdf must stay open on this
    // document while the layer is used. Raises EPdfError: for an inactive
    // component, a created document (an update needs an original), a
    // document whose cross-reference table was damaged (the engine rebuilt
    // it to open the file, and an update appended to it would not be read
    // reliably), a document the engine cannot save incrementally, and a font
    // file that cannot be read (ekFileNotFound) or is no TrueType font.
    TTextLayer(TFPdf& Pdf, const QString& FontFile);
    ~TTextLayer();
    TTextLayer(const TTextLayer&) = delete;
    TTextLayer& operator=(const TTextLayer&) = delete;

    // Adds the words of Layout, the layout of page PageNumber (from 1) as it
    // is shown, to that page; the page becomes Pdf's current page. Layout's
    // boxes are in points from the top left corner of the shown page
    // (PageLayout.h); an empty Size or PageNumber in Layout is taken as
    // the page's own. A layout without words changes nothing. Raises
    // EPdfError, changing nothing: the document is no longer open (ekOther),
    // the page does not exist (ekPage), the layout is of another page or of
    // another size than the page as shown, a word's box is not a number, the
    // page already got a layer from this one.
    void AddPage(int PageNumber, const TPageLayout& Layout);

    // Takes the text an earlier layer left off page PageNumber (from 1),
    // before AddPage lays new words there: every text object drawn in the
    // invisible mode, and every form whose content is nothing but such text
    // (as some tools add their layer). Visible text and everything else
    // stays. The page becomes Pdf's current page; the content streams that
    // held the text are written anew in the update. Returns the number of
    // text objects taken off. Raises EPdfError as AddPage does for the
    // document, the page, and a page this layer already laid words on.
    int RemoveInvisibleText(int PageNumber);

    // The pages given words so far, and their words.
    int PageCount() const { return int(FPages.size()); }
    qsizetype WordCount() const { return FWords; }

    // Writes the document to Output from its current position: the original
    // bytes, then, when any page got words, the update. Raises EPdfError when
    // the document is no longer open or the engine fails, EFileError when
    // Output does not take every byte (what was written is then incomplete).
    void Save(QIODevice* Output);
    // Writes the document to FileName, replacing the file only once the whole
    // document is written (the document's own file too): no file, or the
    // file as it was, when saving fails. Raises as above, and EFileError when
    // the file cannot be created.
    void Save(const QString& FileName);

private:
    void CheckDocument() const;
    void OpenPage(int PageNumber);

    TFPdf& FPdf;
    TPdfFont FFont;
    qint64 FOriginalSize = 0;
    int FFirstNew = 0;
    QSet<int> FPages;
    qsizetype FWords = 0;
    // The pages whose earlier text was taken off.
    QSet<int> FCleared;
};

// The text objects of a page, told apart as RemoveInvisibleText tells them.
struct TPageTexts {
    // Text objects drawn in the invisible mode, counting those in forms that
    // hold nothing else: what an earlier layer left, and RemoveInvisibleText
    // takes off.
    int Invisible = 0;
    // Every other object that draws text (visible text, or a form holding any).
    int Other = 0;
};

// The text objects of Pdf's current page: a page whose text is all Invisible
// holds an earlier layer over its image and nothing a reader sees as text.
// Raises EPdfError for an inactive component or no current page.
TPageTexts PageTexts(TFPdf& Pdf);

}  // namespace kestrune
