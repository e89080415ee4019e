// A coverage-guided fuzz target (libFuzzer): the input is opened from memory
// through TFPdf and walked the way a reader of the document would, through
// every reading area of the component and the page layout with its formats,
// searched and filled in as a whole, edited page by page (annotations deleted,
// written and created), closed and opened again. Records that carry engine
// handles (outline items, links, destinations) are kept on the way and used
// again once their page has changed or their document has closed: they must
// be refused, never handed to the engine.
// Errors the component raises are the expected answer to damaged input;
// anything else (a crash, a sanitizer report, a leak, a hang, a broken rule of
// the records' ownership, reported through Require) is a finding.
//
// Every walk is bounded: a few pages, a few dozen characters, items and
// objects per page, a small rendering, and no image decoded whose declared
// size is large, so that one input costs milliseconds, not the input's claims.
// The members that visit every page (FindAll, fields by name) run only on a
// document of a few pages.
#include <QCoreApplication>
#include <QImage>
#include <QString>
#include <QStringList>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <functional>

#include <kestrune/Engine.h>
#include <kestrune/FPdf.h>
#include <kestrune/LayoutFormats.h>
#include <kestrune/PageLayout.h>
#include <kestrune/PdfError.h>

using namespace kestrune;

namespace {

constexpr int MaxPages = 4;
constexpr int MaxItems = 24;        // characters, rectangles, links, annotations, fields, objects per page
constexpr int MaxBookmarks = 64;    // outline items over all levels
constexpr int MaxBookmarkDepth = 6;
constexpr int MaxKeptBookmarks = 4; // outline items kept for use after the close
constexpr int MaxFields = 4;        // fields filled in by name
constexpr qint64 MaxImagePixels = qint64(1) << 20;

// Records kept from the walk, to be used again later.
struct TKept {
    TBookmarks Bookmarks;       // the first items of the outline's top level
    TDestination Destination;   // the first named destination
    TLinkAnnotations Links;     // the links of the page walked last
    // Fields seen on the walked pages: the full name and the values to try
    // (its export value, an option's label).
    QList<QStringList> Fields;
    QString Needle;             // a few characters of the first page with text
};

// Runs one step of the walk; the component's errors end only that step.
void Step(const std::function<void()>& Work) {
    try {
        Work();
    } catch (const EPdfError&) {
    }
}

// A rule of the component broken: a finding, reported as a crash.
void Require(bool Condition, const char* Rule) {
    if (Condition) return;
    std::fprintf(stderr, "fuzz_document: broken rule: %s\n", Rule);
    std::abort();
}

// Whether Work raises the component's error.
bool Raises(const std::function<void()>& Work) {
    try {
        Work();
    } catch (const EPdfError&) {
        return true;
    }
    return false;
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

// Uses outline items kept earlier: while their document is open (whatever the
// page) they are owned and served; once it has closed, and after a document
// has been opened again, they are refused with the component's error.
void UseBookmarks(TFPdf& Pdf, const TBookmarks& Items, bool Stale) {
    for (const TBookmark& item : Items) {
        if (!item.Handle) continue;
        if (!Stale) {
            Require(Pdf.Owns(item), "an outline item of the open document is not owned");
            Step([&] {
                if (Pdf.GetHasBookmarkChildren(item)) Pdf.GetBookmarkChildren(item);
            });
            continue;
        }
        Require(!Pdf.Owns(item), "an outline item is owned past its document's close");
        Require(Raises([&] { Pdf.GetHasBookmarkChildren(item); }), "an outline item of a closed document is served");
        Require(Raises([&] { Pdf.GetBookmarkChildren(item); }), "an outline item of a closed document is served");
    }
}

// Uses link records as a caller would: the handle of a record the component
// owns goes to the engine, one it does not own is left alone. Records read
// before the page changed (another page, a change of its annotations, the
// document's close) must not be owned any more.
void UseLinks(TFPdf& Pdf, const TLinkAnnotations& Links, bool Stale) {
    for (const TLinkAnnotation& link : Links) {
        if (!Pdf.Owns(link)) continue;
        Require(!Stale, "a link record is owned past a change of its page");
        const auto handle = static_cast<FPDF_LINK>(link.Handle);
        FS_RECTF rect{};
        engine::FPDFLink_GetAnnotRect(handle, &rect);
        engine::FPDFLink_CountQuadPoints(handle);
    }
}

// The current page's links, read afresh (a few at most).
TLinkAnnotations ReadLinks(TFPdf& Pdf) {
    TLinkAnnotations links;
    Step([&] {
        const int count = qMin(Pdf.GetLinkAnnotationCount(), MaxItems);
        for (int i = 0; i < count; ++i) links.append(Pdf.GetLinkAnnotation(i));
    });
    return links;
}

// The number of links of the current page as the engine enumerates them now.
int EngineLinkCount(TFPdf& Pdf) {
    int position = 0, count = 0;
    FPDF_LINK link = nullptr;
    while (engine::FPDFLink_Enumerate(static_cast<FPDF_PAGE>(Pdf.GetPage()), &position, &link)) ++count;
    return count;
}

void WalkDocument(TFPdf& Pdf, TKept& Kept) {
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
        const TBookmarks top = Pdf.GetBookmarks();
        Kept.Bookmarks = top.mid(0, MaxKeptBookmarks);
        int seen = 0;
        WalkBookmarks(Pdf, top, 0, seen);
        Pdf.GetBookmark(QStringLiteral("Chapter"));
    });
    Step([&] {
        ForEachIndex(Pdf.GetDestinationCount(), [&](int i) {
            const TDestination destination = Pdf.GetDestination(i);
            if (!Kept.Destination.Handle) Kept.Destination = destination;
        });
        Pdf.GetDestinationByName(QStringLiteral("first"));
    });
    Step([&] {
        ForEachIndex(Pdf.GetSignatureCount(), [&](int i) { Pdf.GetSignature(i); });
    });
}

void WalkCharacters(TFPdf& Pdf, TKept& Kept) {
    Step([&] {
        // The needle for the document-wide search: a few characters from the
        // middle of the first page with text.
        if (Kept.Needle.isEmpty()) {
            const QString words = Pdf.Text().simplified();
            Kept.Needle = words.mid(words.size() / 2, 3).trimmed();
        }
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
        QByteArray out = TsvHeader();
        AppendTsvPage(out, layout);
        AppendJsonPage(out, layout);
        out += HocrPrologue(Pdf.GetTitle());
        AppendHocrPage(out, layout);
        out += HocrEpilogue();
        AppendLayoutText(out, layout);
        AppendLayoutText(out, layout, "\r\n");

        // The same words grouped again from reading order, as recognised words
        // are, and a layout's boxes united after its words were moved.
        QList<TLayoutWord> words;
        QList<TLineDirection> directions;
        for (const TLayoutBlock& block : layout.Blocks)
            for (const TLayoutLine& line : block.Lines)
                for (const TLayoutWord& word : line.Words) {
                    words.append(word);
                    directions.append(line.Direction);
                }
        TPageLayout regrouped = GroupWords(layout.PageNumber, layout.Size, layout.Rotation, words, directions);
        AppendLayoutText(out, regrouped);
        for (TLayoutBlock& block : regrouped.Blocks)
            for (TLayoutLine& line : block.Lines)
                if (!line.Words.isEmpty()) line.Words.removeLast();
        UniteBoxes(regrouped);
        AppendJsonPage(out, regrouped);
    });
    Step([&] {
        int found = Pdf.FindFirst(QStringLiteral("e"), {}, 0, false);
        for (int i = 0; found >= 0 && i < MaxItems; ++i) found = Pdf.FindNext();
        Pdf.FindPrevious();
        Pdf.FindFirst(QStringLiteral("the"), TSearchOptions{TSearchOption::seWholeWord, TSearchOption::seCaseSensitive});
    });
}

void WalkLinksAndAnnotations(TFPdf& Pdf, TKept& Kept) {
    Step([&] {
        ForEachIndex(Pdf.GetLinkAnnotationCount(), [&](int i) { Pdf.GetLinkAnnotation(i); });
    });
    // The links of the page walked before belong to a closed page visit.
    UseLinks(Pdf, Kept.Links, true);
    Kept.Links = ReadLinks(Pdf);
    UseLinks(Pdf, Kept.Links, false);
    Step([&] {
        ForEachIndex(Pdf.GetWebLinkCount(), [&](int i) { Pdf.GetWebLink(i); });
    });
    Step([&] {
        const int n = Pdf.GetAnnotationCount();
        ForEachIndex(n, [&](int i) { Pdf.GetAnnotation(i); });
        ForEachIndex(n, [&](int i) { Pdf.GetFormField(i); });
        ForEachIndex(n, [&](int i) {
            const TPdfFormFieldInfo info = Pdf.GetFormFieldInfo(i);
            if (info.Name.isEmpty() || Kept.Fields.size() >= MaxFields) return;
            for (const QStringList& field : Kept.Fields)
                if (field[0] == info.Name) return;
            QStringList field = {info.Name, info.ExportValue};
            if (!info.OptionLabels.isEmpty()) field.append(info.OptionLabels.last());
            Kept.Fields.append(field);
        });
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

// The document-wide search for the needle: every hit read, and the current
// page's own search left as it was.
void WalkSearch(TFPdf& Pdf, const QString& Needle) {
    if (Needle.isEmpty()) return;
    Step([&] {
        Pdf.FindFirst(Needle);
        const void* find = Pdf.GetFind();
        const void* textPage = Pdf.GetTextPage();
        const int page = Pdf.GetPageNumber();
        for (const TPdfSearchHit& hit : Pdf.FindAll(Needle)) {
            if (hit.PageNumber == page) Pdf.Text(hit.Index, hit.Length);
        }
        Require(Pdf.GetFind() == find && Pdf.GetTextPage() == textPage && Pdf.GetPageNumber() == page,
                "FindAll changed the current page's search");
        Pdf.FindNext();
    });
    Step([&] {
        Pdf.FindAll(Needle.toUpper(), TSearchOptions{TSearchOption::seCaseSensitive, TSearchOption::seWholeWord});
    });
}

// Fields by name: read, set to what they hold, to each value to try, to a
// text and to "Off", and read again; then a name no field has.
void WalkFields(TFPdf& Pdf, const QList<QStringList>& Fields) {
    for (const QStringList& field : Fields) {
        const QString& name = field[0];
        QString value;
        Step([&] { value = Pdf.GetFieldValue(name); });
        QStringList values = {value};
        values += field.mid(1);
        values += {QStringLiteral("Kestrune \u00e9"), QStringLiteral("Off")};
        for (const QString& v : values) Step([&] { Pdf.SetFieldValue(name, v); });
        Step([&] { Pdf.GetFieldValue(name); });
    }
    Step([&] { Pdf.GetFieldValue(QStringLiteral("no such field")); });
}

// Edits the current page's annotations as an editor would: deletes the first
// link (or the first annotation), writes an annotation back, creates a link.
// After each change that went through, the links read before it are retired
// and a fresh read gives the page's links as the engine has them now.
void ChangeAnnotations(TFPdf& Pdf, TKept& Kept) {
    const auto changed = [&](const std::function<void()>& Change) {
        try {
            Change();
        } catch (const EPdfError&) {
            // A change may have been made before a later step failed: the
            // records read before it are used as ones that may still be owned.
            UseLinks(Pdf, Kept.Links, false);
            Kept.Links = ReadLinks(Pdf);
            return;
        }
        UseLinks(Pdf, Kept.Links, true);
        Kept.Links = ReadLinks(Pdf);
        Step([&] {
            Require(Pdf.GetLinkAnnotationCount() == EngineLinkCount(Pdf), "the page's links are out of date");
        });
        UseLinks(Pdf, Kept.Links, false);
    };
    int annotations = 0;
    Step([&] { annotations = Pdf.GetAnnotationCount(); });
    if (annotations > 0) {
        int victim = 0;
        for (int i = 0; i < qMin(annotations, MaxItems); ++i) {
            bool link = false;
            Step([&] { link = Pdf.GetAnnotation(i).Subtype == TPdfAnnotationSubtype::anLink; });
            if (link) {
                victim = i;
                break;
            }
        }
        changed([&] { Pdf.DeleteAnnotation(victim); });
    }
    if (annotations > 1) {
        TPdfAnnotation value;
        Step([&] { value = Pdf.GetAnnotation(0); });
        value.ContentsText = QStringLiteral("changed");
        changed([&] { Pdf.SetAnnotation(0, value); });
    }
    TPdfAnnotation link;
    link.Subtype = TPdfAnnotationSubtype::anLink;
    link.Rectangle = TPdfRectangle{10, 40, 110, 20};
    changed([&] { Pdf.CreateAnnotation(link); });
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
    TKept kept;
    WalkDocument(pdf, kept);
    int count = 0;
    Step([&] { count = pdf.GetPageCount(); });
    const int pages = qMin(count, MaxPages);

    // Reading, page by page.
    for (int n = 1; n <= pages; ++n) {
        try {
            pdf.SetPageNumber(n);
        } catch (const EPdfError&) {
            continue;
        }
        WalkCharacters(pdf, kept);
        WalkLinksAndAnnotations(pdf, kept);
        WalkRenderingAndObjects(pdf);
        UseBookmarks(pdf, kept.Bookmarks, false);
    }

    // The whole document searched and filled in, with the last page walked
    // current (or none, when it could not be opened).
    if (count <= MaxPages) {
        WalkSearch(pdf, kept.Needle);
        WalkFields(pdf, kept.Fields);
        if (pdf.GetPage()) UseLinks(pdf, kept.Links, false);
    }

    // No page open: the links read last belong to a closed page visit.
    Step([&] { pdf.SetPageNumber(0); });
    UseLinks(pdf, kept.Links, true);

    // Editing, page by page; the links of the page before are stale on each.
    for (int n = 1; n <= pages; ++n) {
        try {
            pdf.SetPageNumber(n);
        } catch (const EPdfError&) {
            continue;
        }
        UseLinks(pdf, kept.Links, true);
        kept.Links = ReadLinks(pdf);
        ChangeAnnotations(pdf, kept);
    }

    // Closed: every kept record is refused; and again with the same document
    // opened anew, whose engine objects are others.
    Step([&] { pdf.SetActive(false); });
    UseLinks(pdf, kept.Links, true);
    UseBookmarks(pdf, kept.Bookmarks, true);
    Require(!pdf.Owns(kept.Destination), "a destination is owned past its document's close");
    Step([&] {
        pdf.SetPageNumber(0);
        pdf.LoadDocument(Data, int(Size));
        UseLinks(pdf, kept.Links, true);
        UseBookmarks(pdf, kept.Bookmarks, true);
        Require(!pdf.Owns(kept.Destination), "a destination of an earlier opening is owned");
        pdf.SetActive(false);
    });
    return 0;
}
