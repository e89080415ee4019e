// Navigation data: the outline tree, the link annotations and web links of the
// current page (each cached for the life of its page or text page), and the
// document's named destinations.
#include <QSet>
#include <vector>

#include "component/EngineStrings.h"
#include "component/EngineRecords.h"
#include <kestrune/FPdf.h>
#include "engine/ScopedHandle.h"

namespace kestrune {

using namespace engine;

namespace {

const QString kIncorrectIndex = QStringLiteral("Incorrect index");

// Action types past the last one known here are reported as unsupported.
TPdfAction ActionFromEngine(unsigned long Type) {
    return Type <= static_cast<unsigned long>(TPdfAction::acLaunch) ? static_cast<TPdfAction>(Type)
                                                                    : TPdfAction::acUnsupported;
}

// 1-based page of a destination; 0 for no destination or one on no page.
int DestinationPage(FPDF_DOCUMENT Document, FPDF_DEST Destination) {
    return Destination ? FPDFDest_GetDestPageIndex(Document, Destination) + 1 : 0;
}

// The items of one outline level, from the first child of Parent. A document
// can chain its siblings back onto an earlier item, so the walk stops at the
// first item it has already met.
QList<FPDF_BOOKMARK> OutlineLevel(FPDF_DOCUMENT Document, FPDF_BOOKMARK Parent) {
    QList<FPDF_BOOKMARK> items;
    QSet<FPDF_BOOKMARK> seen;
    for (FPDF_BOOKMARK item = FPDFBookmark_GetFirstChild(Document, Parent); item && !seen.contains(item);
         item = FPDFBookmark_GetNextSibling(Document, item)) {
        seen.insert(item);
        items.append(item);
    }
    return items;
}

void ReadLinkAnnotations(FPDF_DOCUMENT Document, FPDF_PAGE Page, TLinkAnnotations& Links) {
    // First pass: count. Second pass: fill, leaving a slot empty should the
    // engine deliver fewer links the second time.
    int position = 0;
    FPDF_LINK link = nullptr;
    qsizetype count = 0;
    while (FPDFLink_Enumerate(Page, &position, &link)) ++count;

    Links = TLinkAnnotations(count);
    position = 0;
    for (TLinkAnnotation& entry : Links) {
        link = nullptr;
        if (!FPDFLink_Enumerate(Page, &position, &link)) continue;
        entry.Handle = link;

        FS_RECTF rect{};
        if (FPDFLink_GetAnnotRect(link, &rect)) entry.Rectangle = RectangleFromEngine(rect);

        entry.PageNumber = DestinationPage(Document, FPDFLink_GetDest(Document, link));

        if (FPDF_ACTION action = FPDFLink_GetAction(link)) {
            entry.Action = ActionFromEngine(FPDFAction_GetType(action));
            entry.ActionPageNumber = DestinationPage(Document, FPDFAction_GetDest(Document, action));
            switch (entry.Action) {
            case TPdfAction::acGotoRemote:
            case TPdfAction::acLaunch:
                // File paths come as UTF-8.
                entry.ActionPath = QString::fromUtf8(strings::ReadByteString(
                    [&](void* buffer, unsigned long length) { return FPDFAction_GetFilePath(action, buffer, length); }));
                break;
            case TPdfAction::acUri:
                // URIs are plain 8-bit strings.
                entry.ActionPath = strings::FromLatin1(strings::ReadByteString([&](void* buffer, unsigned long length) {
                    return FPDFAction_GetURIPath(Document, action, buffer, length);
                }));
                break;
            default:
                break;
            }
        }

        const int quads = FPDFLink_CountQuadPoints(link);
        if (quads > 0) {
            entry.Points.resize(quads);
            for (int j = 0; j < quads; ++j) {
                FS_QUADPOINTSF q{};
                if (FPDFLink_GetQuadPoints(link, j, &q)) entry.Points[j] = QuadFromEngine(q);
            }
        }
    }
}

void ReadWebLinks(FPDF_TEXTPAGE TextPage, TWebLinks& Links) {
    Links.clear();
    // Nothing below raises, but the list is released on every way out.
    const ScopedWebLinks links(FPDFLink_LoadWebLinks(TextPage));
    if (!links) return;
    const FPDF_PAGELINK list = links.Get();

    const int count = FPDFLink_CountWebLinks(list);
    if (count <= 0) return;
    Links.resize(count);
    for (int i = 0; i < count; ++i) {
        TWebLink& entry = Links[i];
        // Counted in UTF-16 code units, terminator included; the filling call
        // is given the length without the terminator.
        const int n = FPDFLink_GetURL(list, i, nullptr, 0);
        if (n > 1) {
            entry.Url = QString(n - 1, QChar(0));
            const int written =
                FPDFLink_GetURL(list, i, reinterpret_cast<unsigned short*>(entry.Url.data()), n - 1);
            if (written >= 0 && written < n - 1) entry.Url.truncate(written);
        }
        const int rects = FPDFLink_CountRects(list, i);
        if (rects > 0) {
            entry.Rectangles.resize(rects);
            for (int c = 0; c < rects; ++c) {
                TPdfRectangle& r = entry.Rectangles[c];
                FPDFLink_GetRect(list, i, c, &r.Left, &r.Top, &r.Right, &r.Bottom);
            }
        }
    }
}

}  // namespace

// ---- Outline ----------------------------------------------------------------

void TFPdf::ReadBookmark(FPDF_BOOKMARK Handle, TBookmark& Bookmark) {
    Bookmark = TBookmark{};
    Bookmark.Handle = Handle;
    if (!Handle) return;
    Bookmark.Generation = DocumentGeneration();
    Bookmark.Title = strings::ReadUtf16Bytes(
        [&](void* buffer, unsigned long length) { return FPDFBookmark_GetTitle(Handle, buffer, length); });
    Bookmark.PageNumber = DestinationPage(FDocument, FPDFBookmark_GetDest(FDocument, Handle));
    FPDF_ACTION action = FPDFBookmark_GetAction(Handle);
    if (!action) return;
    Bookmark.Action = ActionFromEngine(FPDFAction_GetType(action));
    Bookmark.ActionPageNumber = DestinationPage(FDocument, FPDFAction_GetDest(FDocument, action));
}

TBookmarks TFPdf::ReadBookmarkList(FPDF_BOOKMARK Parent) {
    CheckActive();
    const QList<FPDF_BOOKMARK> items = OutlineLevel(FDocument, Parent);
    TBookmarks result(items.size());
    for (qsizetype i = 0; i < items.size(); ++i) ReadBookmark(items[i], result[i]);
    return result;
}

TBookmarks TFPdf::GetBookmarks() {
    const EngineLock lock;
    return ReadBookmarkList(nullptr);
}

TBookmark TFPdf::GetBookmark(const QString& Title) {
    const EngineLock lock;
    CheckActive();
    TBookmark result;
    ReadBookmark(FPDFBookmark_Find(FDocument, strings::WideArg(Title)), result);
    return result;
}

// A handle kept past its document points into freed engine memory, and one
// from another component into another document: either would crash the
// engine, so both are refused before it sees them.
void TFPdf::CheckBookmark(const TBookmark& Bookmark) const {
    CheckActive();
    CheckResult(Owns(Bookmark), QStringLiteral("Bookmark does not belong to the open document"));
}

TBookmarks TFPdf::GetBookmarkChildren(const TBookmark& Bookmark) {
    const EngineLock lock;
    if (!Bookmark.Handle) return {};
    CheckBookmark(Bookmark);
    return ReadBookmarkList(static_cast<FPDF_BOOKMARK>(Bookmark.Handle));
}

bool TFPdf::GetHasBookmarkChildren(const TBookmark& Bookmark) {
    const EngineLock lock;
    CheckActive();
    if (!Bookmark.Handle) return false;
    CheckBookmark(Bookmark);
    return FPDFBookmark_GetFirstChild(FDocument, static_cast<FPDF_BOOKMARK>(Bookmark.Handle)) != nullptr;
}

// A record's generation is never 0, and the component's is 0 while nothing
// of that document or page visit has been handed out, so a record made by
// hand or kept past a close never matches.
bool TFPdf::Owns(const TBookmark& Bookmark) const {
    return Bookmark.Handle && Bookmark.Generation != 0 && Bookmark.Generation == FDocumentGeneration;
}

bool TFPdf::Owns(const TLinkAnnotation& Link) const {
    return Link.Handle && Link.Generation != 0 && Link.Generation == FPageGeneration;
}

bool TFPdf::Owns(const TDestination& Destination) const {
    return Destination.Handle && Destination.Generation != 0 && Destination.Generation == FDocumentGeneration;
}

// ---- Link annotations and web links -------------------------------------------

// Drops the page's link records and their generation: the next access reads
// the links afresh under a new one, so that no record read before is owned
// any more. On a change of the page's annotations an old record's handle may
// point to a dictionary the engine has freed, and its values may be out of
// date.
void TFPdf::RetireLinkAnnotations() {
    FLinkAnnotations.clear();
    FPageGeneration = 0;
}

// An empty list is never kept as "read": a page without links is enumerated on
// each access, which costs one engine call.
const TLinkAnnotations& TFPdf::CachedLinkAnnotations() {
    if (FLinkAnnotations.isEmpty()) {
        CheckPageActive();
        TLinkAnnotations links;
        ReadLinkAnnotations(FDocument, FPage, links);
        for (TLinkAnnotation& link : links)
            if (link.Handle) link.Generation = PageGeneration();
        FLinkAnnotations = std::move(links);
    }
    return FLinkAnnotations;
}

const TWebLinks& TFPdf::CachedWebLinks() {
    if (FWebLinks.isEmpty()) {
        OpenTextPage();
        TWebLinks links;
        ReadWebLinks(FTextPage, links);
        FWebLinks = std::move(links);
    }
    return FWebLinks;
}

int TFPdf::GetLinkAnnotationCount() {
    const EngineLock lock;
    return int(CachedLinkAnnotations().size());
}

TLinkAnnotation TFPdf::GetLinkAnnotation(int Index) {
    const EngineLock lock;
    CheckResult(Index >= 0 && Index < GetLinkAnnotationCount(), kIncorrectIndex);
    return FLinkAnnotations[Index];
}

int TFPdf::GetWebLinkCount() {
    const EngineLock lock;
    return int(CachedWebLinks().size());
}

TWebLink TFPdf::GetWebLink(int Index) {
    const EngineLock lock;
    CheckResult(Index >= 0 && Index < GetWebLinkCount(), kIncorrectIndex);
    return FWebLinks[Index];
}

// ---- Named destinations -------------------------------------------------------

int TFPdf::GetDestinationCount() {
    const EngineLock lock;
    CheckActive();
    return int(FPDF_CountNamedDests(FDocument));
}

TDestination TFPdf::GetDestination(int Index) {
    const EngineLock lock;
    CheckResult(Index >= 0 && Index < GetDestinationCount(), kIncorrectIndex);
    // The first call gives the destination and the name's size in bytes
    // (UTF-16LE with its terminator); a second call, only for a destination
    // that exists, fetches the name.
    FPDF_DEST destination = nullptr;
    bool first = true;
    const QString name = strings::ReadUtf16Bytes([&](void* buffer, unsigned long length) -> long {
        long size = long(length);
        FPDF_DEST found = FPDF_GetNamedDest(FDocument, Index, buffer, &size);
        if (first) {
            first = false;
            destination = found;
            if (!found) return 0;
        }
        return size;
    });
    TDestination result;
    ReadDestination(destination, name, result);
    return result;
}

TDestination TFPdf::GetDestinationByName(const QString& Name) {
    const EngineLock lock;
    TDestination result;
    // Without a document there is no destination; the engine is not asked,
    // since it may not even be loaded yet.
    if (!FDocument) return result;
    const QByteArray name = strings::ToLatin1(Name);
    ReadDestination(FPDF_GetNamedDestByName(FDocument, name.constData()), Name, result);
    return result;
}

void TFPdf::ReadDestination(FPDF_DEST Handle, const QString& Name, TDestination& Destination) {
    Destination = TDestination{};
    if (!Handle) return;
    Destination.Handle = Handle;
    Destination.Generation = DocumentGeneration();
    Destination.Name = Name;
    Destination.PageNumber = DestinationPage(FDocument, Handle);
    FPDF_BOOL hasX = 0, hasY = 0, hasZoom = 0;
    FS_FLOAT x = 0, y = 0, zoom = 0;
    if (!FPDFDest_GetLocationInPage(Handle, &hasX, &hasY, &hasZoom, &x, &y, &zoom)) return;
    Destination.HasX = hasX != 0;
    Destination.HasY = hasY != 0;
    Destination.HasZoom = hasZoom != 0;
    if (Destination.HasX) Destination.X = x;
    if (Destination.HasY) Destination.Y = y;
    if (Destination.HasZoom) Destination.Zoom = zoom;
}

}  // namespace kestrune
