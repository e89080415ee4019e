// --format pdf: a copy of each document with its recognised pages made
// searchable (TTextLayer, <kestrune/TextLayer.h>). The workers recognise the
// pages and send each one's words as its bytes (LayerPageBytes); the parent
// lays them on its own copy of the document as they arrive in page order, and
// writes the original bytes and the appended update once, at the end.
#pragma once

#include <QByteArray>
#include <QString>
#include <memory>

#include <kestrune/PageLayout.h>

namespace kestrune {

class TTextTarget;

// What becomes of a page in the copy.
enum class TLayerAction {
    Keep,     // left as it is: it has text of its own, or shows nothing
    Add,      // its recognised words added as a text layer
    Replace,  // the same, after the text an earlier layer left is taken off
};

struct TLayerPage {
    TLayerAction Action = TLayerAction::Keep;
    // The recognised words, as the page is shown; empty for Keep.
    TPageLayout Words;
};

// A page's bytes as a worker sends them for --format pdf, and back. The
// words keep what a text layer needs: their text, boxes and lines'
// directions. ReadLayerPage raises EPdfError for bytes that are no such page.
QByteArray LayerPageBytes(const TLayerPage& Page);
TLayerPage ReadLayerPage(const QByteArray& Bytes);

// The copy of one document being made. Opens its own view of the input (with
// the engine in this process; a worker has opened it already) and checks at
// once that a layer can be appended to it, so that a document that cannot
// take one fails before its pages are recognised.
class TPdfOutput {
public:
    // Input: the file (a name as DecodeName gives it), or, when Descriptor is
    // open, the file it reads (standard input's copy), which the caller keeps
    // open. Target receives the copy and must outlive this. FontFile: the
    // glyphless font (recognition::GlyphlessFontFile()). Raises EPdfError or
    // EFileError: the input cannot be opened, or takes no appended update.
    TPdfOutput(const QString& Input, int Descriptor, const QString& Password, const QString& FontFile,
               TTextTarget& Target);
    ~TPdfOutput();
    TPdfOutput(const TPdfOutput&) = delete;
    TPdfOutput& operator=(const TPdfOutput&) = delete;

    // Page's bytes from a worker (LayerPageBytes), in page order. Raises EPdfError.
    void Add(int Page, const QByteArray& Bytes);
    // The pages given words, and those whose earlier layer was replaced.
    int PagesLaid() const { return FLaid; }
    int PagesReplaced() const { return FReplaced; }
    // Writes the copy into the target and commits it. Raises EPdfError or
    // EFileError (the target then stays uncommitted), also when the input
    // changed since it was opened.
    void Finish();

private:
    struct TState;
    std::unique_ptr<TState> F;
    TTextTarget& FTarget;
    int FLaid = 0;
    int FReplaced = 0;
};

}  // namespace kestrune
