// A coverage-guided fuzz target (libFuzzer): the input is opened from memory
// through TFPdf and walked the way a reader of the document would, through
// every reading area of the component and the page layout with its formats.
// Errors the component raises are the expected answer to damaged input;
// anything else (a crash, a sanitizer report, a leak, a hang) is a finding.
//
// Every walk is bounded: a few pages, a few dozen characters, items and
// objects per page, a small rendering, and no image decoded whose declared
// size is large, so that one input costs milliseconds, not the input's claims.
#include <QCoreApplication>
#include <QImage>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <functional>

#include <kestrune/FPdf.h>
#include <kestrune/LayoutFormats.h>
#include <kestrune/PdfError.h>

using namespace kestrune;

namespace {

constexpr int MaxPages = 4;
constexpr int MaxItems = 24;        // characters, rectangles, links, annotations, fields, objects per page
constexpr int MaxBookmarks = 64;    // outline items over all levels
constexpr int MaxBookmarkDepth = 6;
constexpr qint64 MaxImagePixels = qint64(1) << 20;

// Runs one step of the walk; the component's errors end only that step.
void Step(const std::function<void()>& Work) {
    try {
        Work();
    } catch (const EPdfError&) {
    }
}

// Reads every index of a list of Count items (at most MaxItems of them) and
// the two indices just outside it, which the component must refuse or pass on
// to the engine as its interface says, each as a step of its own.
void ForEachIndex(int Count, const std::function<void(int Index)>& Read) {
    for (int i = -1; i <= qMin(Count, MaxItems); ++i) Step([&] { Read(i); });
}

void WalkBookmarks(TFPdf& Pdf, const TBookmarks& Level, int Depth, int& Seen) {
    for (const TBookmark& item : Level) {
        if (++Seen > MaxBookmarks) return;
        if (Depth < MaxBookmarkDepth && Pdf.GetHasBookmarkChildren(item))
            WalkBookmarks(Pdf, Pdf.GetBookmarkChildren(item), Depth + 1, Seen);
    }
}

void WalkDocument(TFPdf& Pdf) {
    Step([&] {
        Pdf.GetPdfVersion();
        Pdf.GetPermissions();
        Pdf.GetPrintScaling();
        Pdf.GetPrintCopies();
        Pdf.GetPrintPaperHandling();
        Pdf.GetPageMode();
        Pdf.GetIsTagged();
        Pdf.GetFormType();
    });
    Step([&] {
        Pdf.GetAuthor();
        Pdf.GetTitle();
        Pdf.GetSubject();
        Pdf.GetKeywords();
        Pdf.GetCreator();
        Pdf.GetProducer();
        Pdf.GetCreationDate();
        Pdf.GetModifiedDate();
        Pdf.GetMetaText(QStringLiteral("Trapped"));
        Pdf.GetViewerPreference(QStringLiteral("Direction"));
    });
    Step([&] {
        int seen = 0;
        WalkBookmarks(Pdf, Pdf.GetBookmarks(), 0, seen);
        Pdf.GetBookmark(QStringLiteral("Chapter"));
    });
    Step([&] {
        ForEachIndex(Pdf.GetDestinationCount(), [&](int i) { Pdf.GetDestination(i); });
        Pdf.GetDestinationByName(QStringLiteral("first"));
    });
    Step([&] {
        ForEachIndex(Pdf.GetSignatureCount(), [&](int i) { Pdf.GetSignature(i); });
    });
}

void WalkCharacters(TFPdf& Pdf) {
    Step([&] {
        Pdf.Text();
        const int count = Pdf.GetCharacterCount();
        ForEachIndex(count, [&](int i) {
            Pdf.GetCharacter(i);
            Pdf.GetCharcode(i);
            Pdf.GetFontSize(i);
            Pdf.GetCharacterOrigin(i);
            Pdf.GetCharacterMapError(i);
            Pdf.GetCharacterGenerated(i);
            const TPdfRectangle box = Pdf.GetCharacterRectangle(i);
            Pdf.CharacterIndexAtPos((box.Left + box.Right) / 2, (box.Top + box.Bottom) / 2, 2, 2);
        });
        Pdf.Text(count / 2, 8);
        const int rectangles = Pdf.RectangleCount(0, count);
        ForEachIndex(rectangles, [&](int i) { Pdf.TextInRectangle(Pdf.GetRectangle(i)); });
    });
    // The whole page's words and every format of them (the page's characters
    // are read once; the engine bounds them by the page's content).
    Step([&] {
        const TPageLayout layout = ReadPageLayout(Pdf);
        QByteArray out;
        AppendTsvPage(out, layout);
        AppendJsonPage(out, layout);
        AppendHocrPage(out, layout);
        AppendLayoutText(out, layout);
    });
    Step([&] {
        int found = Pdf.FindFirst(QStringLiteral("e"), {}, 0, false);
        for (int i = 0; found >= 0 && i < MaxItems; ++i) found = Pdf.FindNext();
        Pdf.FindPrevious();
        Pdf.FindFirst(QStringLiteral("the"), TSearchOptions{TSearchOption::seWholeWord, TSearchOption::seCaseSensitive});
    });
}

void WalkLinksAndAnnotations(TFPdf& Pdf) {
    Step([&] {
        ForEachIndex(Pdf.GetLinkAnnotationCount(), [&](int i) { Pdf.GetLinkAnnotation(i); });
    });
    Step([&] {
        ForEachIndex(Pdf.GetWebLinkCount(), [&](int i) { Pdf.GetWebLink(i); });
    });
    Step([&] {
        const int n = Pdf.GetAnnotationCount();
        ForEachIndex(n, [&](int i) { Pdf.GetAnnotation(i); });
        ForEachIndex(n, [&](int i) { Pdf.GetFormField(i); });
        ForEachIndex(n, [&](int i) { Pdf.GetFormFieldInfo(i); });
    });
    Step([&] {
        const TPdfRectangle page = Pdf.GetPageBounds();
        const float x = float((page.Left + page.Right) / 2), y = float((page.Top + page.Bottom) / 2);
        if (Pdf.GetHasFormFieldAt(x, y)) {
            Pdf.GetFormFieldAt(x, y);
            Pdf.GetFormFieldInfoAt(x, y);
        }
    });
}

void WalkRenderingAndObjects(TFPdf& Pdf) {
    Step([&] {
        Pdf.GetPageWidth();
        Pdf.GetPageHeight();
        Pdf.GetPageRotation();
        Pdf.GetTransparent();
        Pdf.GetPageLabel(Pdf.GetPageNumber());
        Pdf.GetThumbnail();
    });
    Step([&] {
        Pdf.RenderPage(0, 0, 48, 64, TRotation::ro0, TRenderOptions{TRenderOption::reAnnotations});
        Pdf.RenderTile(8, 8, 32, 32, 96, 128, TRotation::ro90);
        double x = 0, y = 0;
        Pdf.DeviceToPage(10, 10, 0, 0, 48, 64, TRotation::ro0, x, y);
    });
    Step([&] {
        int image = 0;
        ForEachIndex(Pdf.GetObjectCount(), [&](int i) {
            if (Pdf.GetObjectType(i) != TObjectType::otImage) {
                Step([&] { Pdf.GetObjectBounds(i); });
                Pdf.GetObjectTransparent(i);
                return;
            }
            // Object i is image number imageIndex among the page's images.
            const int imageIndex = image++;
            Step([&] { Pdf.GetObjectBounds(i); });
            Step([&] { Pdf.GetObjectTransparent(i); });
            // The declared size, read without decoding, decides whether the pixels are decoded.
            const TPdfImage data = Pdf.GetImage(imageIndex);
            if (qint64(data.Width) * data.Height <= MaxImagePixels) Pdf.GetObjectBitmap(i);
        });
        ForEachIndex(Pdf.GetImageCount(), [&](int i) {
            const TPdfImage data = Pdf.GetImage(i);
            if (qint64(data.Width) * data.Height <= MaxImagePixels) Pdf.GetBitmap(i);
        });
    });
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    // Form timers and the component's objects want an application object.
    static QCoreApplication application(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    if (Size > size_t(std::numeric_limits<int>::max())) return 0;
    TFPdf pdf;
    pdf.SetPageNumber(0);
    // With a listener the engine's reports of unsupported features reach the component.
    int unsupported = 0;
    pdf.OnUnsupportedFeature = [&](QObject*, TPdfFeature) { ++unsupported; };
    try {
        pdf.LoadDocument(Data, int(Size));
    } catch (const EPdfError&) {
        return 0;
    }
    WalkDocument(pdf);
    int pages = 0;
    Step([&] { pages = qMin(pdf.GetPageCount(), MaxPages); });
    for (int n = 1; n <= pages; ++n) {
        try {
            pdf.SetPageNumber(n);
        } catch (const EPdfError&) {
            continue;
        }
        WalkCharacters(pdf);
        WalkLinksAndAnnotations(pdf);
        WalkRenderingAndObjects(pdf);
    }
    Step([&] { pdf.SetActive(false); });
    return 0;
}
