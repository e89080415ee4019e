// TFPdf: one PDF document at a time, through the PDFium engine.
//
// The component loads the engine library on the first document open or
// creation, owns every engine handle it opens (document, current page, text
// page, search, form environment) and closes each itself, children first.
// Failures are raised as EPdfError.
//
// Threads: every member that calls the engine holds the process-wide engine
// lock (EngineLock) for its whole duration, so instances on different threads
// are safe, their engine work taking turns. One instance is still used by one
// thread at a time. Its events and form-environment callbacks run on the thread
// of the call that raised them, with the lock held (so a handler must not wait
// for engine work on another thread); its form timer ticks on the thread that
// made the call in which the engine asked for it, through that thread's event loop.
//
// Coordinates come in three systems, and each member below names its own:
// - page space: points (1/72 inch) in the page's own coordinates as its
//   content stream uses them (PDF user space): y grows upwards, the origin is
//   where the document puts it (usually the bottom left corner of the media
//   box), and the page's rotation is not applied. TPdfPoint, TPdfRectangle and
//   TQuadrilateralPoint are in page space.
// - shown space: points with the origin at the top left corner of the page's
//   crop box as the page is shown (its rotation applied), y growing
//   downwards: the page as a Qt program draws it at 72 dpi. Every QPointF and
//   QRectF the component returns is in shown space.
// - device pixels: the pixels of a rendering, from the top left corner of the
//   image or painter drawn on.
#pragma once

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QDateTime>
#include <QList>
#include <QPointF>
#include <QRectF>
#include <QString>
#include <QTransform>
#include <array>
#include <functional>
#include <limits>

#include <kestrune/Component.h>
#include <kestrune/Engine.h>

class QIODevice;
class QPainter;
class QTimer;

namespace kestrune {

class TFPdf;

// ---------------------------------------------------------------------------
// Shared records
// ---------------------------------------------------------------------------

// A point in page space.
struct TPdfPoint {
    double X = 0;
    double Y = 0;
};

// A rectangle in page space. Top is the edge with the larger y for records the
// engine fills; a caller's rectangle goes to the engine as it is.
struct TPdfRectangle {
    double Left = 0;
    double Top = 0;
    double Right = 0;
    double Bottom = 0;
};
using TPdfRectangles = QList<TPdfRectangle>;

// The four corners of one quadrilateral in page space, in the engine's order (x1, y1 .. x4, y4).
using TQuadrilateralPoint = std::array<TPdfPoint, 4>;

// Page rotation, exchanged with the engine as its ordinal 0 to 3.
enum class TRotation { ro0, ro90, ro180, ro270 };

// A 32-bit colour 0xAARRGGBB.
using TAlphaColor = quint32;

// ---------------------------------------------------------------------------
// Document core and form environment
// ---------------------------------------------------------------------------

// Features of a document that the engine reports it does not support.
enum class TPdfFeature {
    feUnknown,
    feXfaForm,
    fePortableCollection,
    feAttachment,
    feSecurity,
    feSharedReview,
    feSharedFormAcrobat,
    feSharedFormFilesystem,
    feSharedFormEmail,
    fe3dAnnotation,
    feMovieAnnotation,
    feSoundAnnotation,
    feScreenMediaAnnotation,
    feScreenRichMediaAnnotation,
    feAttachmentAnnotation,
    feSignatureAnnotation
};

// The engine's unsupported-feature code as a TPdfFeature (feUnknown for codes
// it does not name).
TPdfFeature PdfFeatureFromEngine(int Code);

// The document's kind of interactive form.
enum class TPdfFormType { ftUnknown, ftNone, ftAcroForm, ftXfaFull, ftXfaForeground };

// The engine's form type as a TPdfFormType (ftUnknown for other values).
TPdfFormType FormTypeFromEngine(int Value);

using TNotifyEvent = std::function<void(QObject* Sender)>;
using TPdfUnsupportedFeatureEvent = std::function<void(QObject* Sender, TPdfFeature Feature)>;
using TPdfFormFieldEnterEvent = std::function<void(QObject* Sender, const QString& Text)>;

// The form-fill callback record handed to the engine: the engine structure
// first, so that a callback finds the owning component right behind it.
struct TPdfFormFillInfo {
    FPDF_FORMFILLINFO Info{};
    TFPdf* Pdf = nullptr;
};

// ---------------------------------------------------------------------------
// Characters and search
// ---------------------------------------------------------------------------

// Options of a text search.
enum class TSearchOption { seCaseSensitive, seWholeWord, seConsecutive };
using TSearchOptions = TSet<TSearchOption>;

// The engine's search flag word for Options: case-sensitive adds 1, whole word
// 2, consecutive 4; no options give 0.
unsigned long SearchOptionsToFlags(TSearchOptions Options);

// One match of a search over the whole document (TFPdf::FindAll).
struct TPdfSearchHit {
    int PageNumber = 0;   // the match's page, from 1
    int Index = 0;        // its first character on that page, counted from 0 as in TFPdf::Text
    // The page-text characters it covers, as the engine counts them: a match
    // across a line break covers the break's generated characters (CR LF) in
    // place of the search text's one blank, so Text(Index, Length) is the
    // match as the page reads.
    int Length = 0;
    // One rectangle per line of the match, in shown space (points from the top
    // left corner of the page's crop box as the page is shown, y downwards).
    QList<QRectF> Rects;
};

// ---------------------------------------------------------------------------
// Properties and rendering
// ---------------------------------------------------------------------------

// The PDF version of a file.
enum class TPdfVersion { pvUnknown, pv10, pv11, pv12, pv13, pv14, pv15, pv16, pv17 };

// How the document asks to be shown when opened.
enum class TPageMode {
    pmNone,
    pmOutline,
    pmThumbs,
    pmFullScreen,
    pmOptionalContentGroup,
    pmAttachments,
    pmUnknown
};

// The paper handling the document asks for when printed.
enum class TPrintPaperHandling { phUndefined, phSimplex, phDuplexFlipShortEdge, phDuplexFlipLongEdge };

// The engine's file version (10 .. 17) as a TPdfVersion; pvUnknown for any other value.
TPdfVersion VersionFromEngine(int Value);
// The engine's file version for a TPdfVersion: 10 .. 17, and 0 for pvUnknown.
int VersionToEngine(TPdfVersion Version);
// The engine's page mode as a TPageMode; pmUnknown for -1 and any value outside 0 .. 5.
TPageMode PageModeFromEngine(int Value);
// A PDF date string, D:YYYYMMDDHHmmSSOHH'mm' (every part after the year may
// be left out, and so may "D:"), as a date and time in its own time zone: the
// offset O HH'mm' from UTC (+, - or Z for UTC itself), local time when the
// string gives none, as the PDF format has it. An invalid QDateTime for an
// empty string, one of another form, or a part out of its range.
QDateTime DateTimeFromPdfDate(const QString& Date);

// Options of a render; each adds one bit to the engine's render flags.
enum class TRenderOption {
    reAnnotations,
    reLcd,
    reNoNativeText,
    reGrayscale,
    reDebugInfo,
    reNoCatchException,
    reLimitCache,
    reHalftone,
    rePrinting,
    reReverseByteOrder,
    reNoSmoothText,
    reNoSmoothImage,
    reNoSmoothPath
};
using TRenderOptions = TSet<TRenderOption>;

// The engine's render flag word for a set of options.
int RenderOptionsToFlags(const TRenderOptions& Options);
// A colour in the engine's layout (0xAARRGGBB, so the value passes unchanged).
quint32 ColorToEngine(TAlphaColor Color);
// Copies the pixels of an engine bitmap into Target row by row, byte for byte,
// after making Target a Format_ARGB32 image of the engine bitmap's size (kept
// as it is when it already is one, so an image over the caller's memory is
// filled in place at its own pitch). Engine formats without four bytes per
// pixel (none, grey, three-byte colour) leave Target as it is; so does a null Target.
void CopyEngineBitmap(FPDF_BITMAP Bitmap, QImage* Target);
// A new image with the pixels of an engine bitmap; 0 x 0 (so null, in Qt's
// terms) for a format that is not copied. The engine bitmap stays with the caller.
QImage BitmapFromEngine(FPDF_BITMAP Bitmap);

// ---------------------------------------------------------------------------
// Page objects and content creation
// ---------------------------------------------------------------------------

// Kind of a page object; the ordinal is the engine's type number (otUnknown for
// numbers the engine does not name).
enum class TObjectType { otUnknown, otText, otPath, otImage, otShading, otForm };

// An image's data exactly as the engine delivers it, with the engine's size.
struct TPdfImage {
    int Width = 0;
    int Height = 0;
    QByteArray Data;  // empty when the engine reports 0 bytes
};

// How a new path is filled (engine fill codes 0, 1, 2).
enum class TPdfFillMode { fmNone, fmAlternate, fmWinding };
// Line cap of a new path; lcDefault leaves the engine's own.
enum class TPdfLineCap { lcDefault, lcButt, lcRound, lcProjectingSquare };
// Line join of a new path; ljDefault leaves the engine's own.
enum class TPdfLineJoin { ljDefault, ljMiter, ljRound, ljBevel };
// Blend mode of a new path; bmDefault leaves the engine's own.
enum class TPdfBlendMode {
    bmDefault,
    bmColor,
    bmColorBurn,
    bmColorDodge,
    bmDarken,
    bmDifference,
    bmExclusion,
    bmHardLight,
    bmHue,
    bmLighten,
    bmLuminosity,
    bmMultiply,
    bmNormal,
    bmOverlay,
    bmSaturation,
    bmScreen,
    bmSoftLight
};

// Kind of font program LoadFont embeds; the ordinal is the engine's font type.
enum class TPdfFontType { ftType1 = 1, ftTrueType = 2 };

// How the glyphs of new text are drawn (the PDF text render mode); the ordinal
// is the engine's code. trInvisible draws nothing, yet the text is there to be
// found, selected and copied: the mode of a recognised text layer over a scan.
enum class TPdfTextRenderMode {
    trFill,
    trStroke,
    trFillStroke,
    trInvisible,
    trFillClip,
    trStrokeClip,
    trFillStrokeClip,
    trClip
};

// A font program embedded in the open document by TFPdf::LoadFont, for text
// placed with TFPdf::AddText. The component closes the handle with the
// document; it is valid while TFPdf::Owns holds.
struct TPdfFont {
    void* Handle = nullptr;
    quint64 Generation = 0;  // the document the font belongs to (TFPdf::Owns)
};

// The read record of one JPEG load: the engine structure first, so that the
// read callback finds the caller's stream right behind it. Not owned.
struct TPdfFileAccess {
    FPDF_FILEACCESS Info{};
    QIODevice* Stream = nullptr;
};

// ---------------------------------------------------------------------------
// Bookmarks, links and destinations
// ---------------------------------------------------------------------------

// Kind of an action; the ordinal is the engine's action type.
enum class TPdfAction { acUnsupported, acGoto, acGotoRemote, acUri, acLaunch };

// One link annotation of the current page.
struct TLinkAnnotation {
    void* Handle = nullptr;                // the engine's link handle; valid while TFPdf::Owns holds
    quint64 Generation = 0;                // the page visit the handle belongs to, until its annotations change
                                           // (TFPdf::Owns)
    TPdfRectangle Rectangle;               // in page space; all 0 when the engine gives none
    int PageNumber = 0;                    // page of the link's own destination; 0 when none
    TPdfAction Action = TPdfAction::acUnsupported;
    int ActionPageNumber = 0;              // page of the action's destination; 0 when none
    QString ActionPath;                    // file path (acGotoRemote, acLaunch) or URI (acUri)
    QList<TQuadrilateralPoint> Points;     // the link's quadrilaterals, in page space
};
using TLinkAnnotations = QList<TLinkAnnotation>;

// One web link detected in the text of the current page.
struct TWebLink {
    QString Url;
    TPdfRectangles Rectangles;  // the boxes of its text, in page space
};
using TWebLinks = QList<TWebLink>;

// One outline (bookmark) item.
struct TBookmark {
    void* Handle = nullptr;                // the engine's outline-item handle; valid while the document is open
    quint64 Generation = 0;                // the document the handle belongs to (TFPdf::Owns)
    QString Title;                         // empty when the item has none
    int PageNumber = 0;                    // page of the item's own destination; 0 when none
    TPdfAction Action = TPdfAction::acUnsupported;  // acUnsupported also when the item has no action
    int ActionPageNumber = 0;              // page of the action's destination; 0 when none
};
using TBookmarks = QList<TBookmark>;

// One named destination of the document.
struct TDestination {
    void* Handle = nullptr;                // the engine's destination handle; null when not found
    quint64 Generation = 0;                // the document the handle belongs to (TFPdf::Owns)
    QString Name;
    int PageNumber = 0;                    // 0 when the destination names no page
    // The position on the page, in page space, and the zoom factor.
    bool HasX = false;                     // the destination fixes X
    float X = 0;
    bool HasY = false;                     // the destination fixes Y
    float Y = 0;
    bool HasZoom = false;                  // the destination fixes Zoom
    float Zoom = 0;
};

// ---------------------------------------------------------------------------
// Page management and saving
// ---------------------------------------------------------------------------
// How a document is written; the ordinal is the engine's save flags value.
enum class TSaveOption { saNone, saIncremental, saNoIncremental, saRemoveSecurity };

// The engine's save flags for a TSaveOption.
FPDF_DWORD SaveOptionToEngine(TSaveOption Option);

// The write record handed to the engine by SaveAs: the engine structure first,
// so that the write callback finds the stream right behind it. Built afresh
// for each save.
struct TPdfFileWrite {
    FPDF_FILEWRITE Info{};
    QIODevice* Stream = nullptr;           // the caller's stream; not owned
    bool WriteFailed = false;              // a block could not be written; the save has failed
};

// ---------------------------------------------------------------------------
// Annotations, form fields and signatures
// ---------------------------------------------------------------------------

// Subtype of an annotation; the ordinal is the engine's subtype code.
enum class TPdfAnnotationSubtype : quint8 {
    anUnknown,
    anText,
    anLink,
    anFreeText,
    anLine,
    anSquare,
    anCircle,
    anPolygon,
    anPolyLine,
    anHighlight,
    anUnderline,
    anSquiggly,
    anStrikeout,
    anStamp,
    anCaret,
    anInk,
    anPopup,
    anFileAttachment,
    anSound,
    anMovie,
    anWidget,
    anScreen,
    anPrinterMark,
    anTrapNet,
    anWaterMark,
    anThreed,
    anRichMedia,
    anXfaWidget
};

// Annotation flags; member i is the engine's flag bit i.
enum class TPdfAnnotationFlag {
    afInvisible,
    afHidden,
    afPrint,
    afNoZoom,
    afNoRotate,
    afNoView,
    afReadOnly,
    afLocked,
    afToggleNoView
};
using TPdfAnnotationFlags = TSet<TPdfAnnotationFlag>;

// One annotation of the current page, as read or to be written.
struct TPdfAnnotation {
    TPdfAnnotationSubtype Subtype = TPdfAnnotationSubtype::anUnknown;
    TPdfAnnotationFlags Flags;
    bool HasColor = false;               // Color is meaningful
    TAlphaColor Color = 0;
    bool HasInteriorColor = false;       // InteriorColor is meaningful
    TAlphaColor InteriorColor = 0;
    bool HasAttachmentPoints = false;    // AttachmentPoints is meaningful
    TQuadrilateralPoint AttachmentPoints{};  // the first quadrilateral only, in page space
    TPdfRectangle Rectangle;             // in page space
    QString ContentsText;                // the "Contents" entry
    QString AuthorText;                  // the "T" entry
};

// Type of a form field; the ordinal is the engine's field type.
enum class TPdfFormFieldType : quint8 {
    fiUnknown,
    fiPushButton,
    fiCheckBox,
    fiRadioButton,
    fiComboBox,
    fiListBox,
    fiTextField,
    fiSignature
};

// The form-field flags the component reports (engine bits 0, 1, 2, 12, 17, 18).
enum class TPdfFormFieldFlag { ffReadOnly, ffRequired, ffNoExport, ffMultiline, ffChoiceCombo, ffChoiceEdit };
using TPdfFormFieldFlags = TSet<TPdfFormFieldFlag>;

// Description of the form field behind one widget annotation.
struct TPdfFormFieldInfo {
    QString Name;
    QString AlternateName;
    TPdfFormFieldType FieldType = TPdfFormFieldType::fiUnknown;
    TPdfFormFieldFlags Flags;
    QList<QString> OptionLabels;   // choice options in the engine's order; empty for other fields
    QList<bool> OptionSelected;    // one entry per option
    float FontSize = 0;            // -1 when the engine reports none
    bool Checked = false;
    QString ExportValue;
    int GroupCount = 0;            // controls of the field, as the engine counts them
    int GroupIndex = 0;            // this control's index among them
};

// One signature of the document, as the engine reports it (not verified).
struct TPdfSignature {
    QByteArray Content;   // the signature contents, byte for byte
    QString Encoding;     // the sub-filter, widened from Latin-1
    QString Reason;
    QString Time;         // the signing time as the engine gives it, widened from Latin-1
    int Permission = 0;   // the DocMDP permission number
};

// ---------------------------------------------------------------------------
// The component
// ---------------------------------------------------------------------------

class TFPdf : public TComponent {
    Q_OBJECT
public:
    // Creates the component with no document; nothing is done in the engine.
    explicit TFPdf(QObject* AOwner = nullptr);
    // Closes the document (as SetActive(false) does), then releases the timer.
    ~TFPdf() override;
    TFPdf(const TFPdf&) = delete;
    TFPdf& operator=(const TFPdf&) = delete;

    // ---- Document core ----------------------------------------------------

    // A fixed text naming the component and its version, 6.5. Setting it does nothing.
    QString GetAbout() const;
    void SetAbout(const QString& Value);

    // Whether a document is open. Setting true opens FileName with Password and
    // loads page PageNumber (OnPageChange fires twice); setting false closes it.
    bool GetActive() const;
    void SetActive(bool Value);

    // The file opened by SetActive(true). Settable only while inactive.
    QString GetFileName() const { return FFileName; }
    void SetFileName(const QString& Value);

    // Whether the form environment is set up on open (default true). Settable only while inactive.
    bool GetFormFill() const { return FFormFill; }
    void SetFormFill(bool Value);

    // The current page, counted from 1; 0 for none. Setting another value closes
    // the current page and, while active, opens the new one (raises "Cannot open
    // page N" when there is none; the number is kept, with no page open).
    int GetPageNumber() const { return FPageNumber; }
    void SetPageNumber(int Value);

    // The password used by the next open. Settable only while inactive.
    QString GetPassword() const { return FPassword; }
    void SetPassword(const QString& Value);

    // Opens a document held in memory and loads page PageNumber (OnPageChange
    // fires once). With Buffered false the caller keeps the bytes alive and
    // unchanged until the document is closed; with Buffered true the component
    // keeps its own copy. Raises "Cannot load PDF document" or the engine's text.
    void LoadDocument(const void* Data, int Size, bool Buffered = false);
    // The same for a byte array. Unbuffered, the component also holds a shared
    // reference to the array's bytes, so a temporary array is safe.
    void LoadDocument(const QByteArray& Data, bool Buffered = false);
    // The same for the whole buffer, whatever its position (a null buffer is
    // an empty document); past 2 GiB through the engine's 64-bit loader.
    void LoadDocument(QBuffer* Data, bool Buffered = false);

    // Creates a new empty document without pages; OnPageChange does not fire.
    void CreateDocument();

    // The size in bytes of the open document as it was opened: its file's size
    // then, or the memory block's; 0 for a created document. Raises when inactive.
    qint64 GetDocumentSize() const;

    // Closes and reopens the current page; fires OnPageChange.
    void ReloadPage();

    // The text of Count characters of the current page from StartIndex on (both
    // counted from 0), exactly as the engine gives it; empty when the range holds
    // no characters. Text(0, MaxInt) is the whole page text.
    QString Text(int StartIndex = 0, int Count = std::numeric_limits<int>::max());

    // The number of characters of the current page.
    int GetCharacterCount();

    // The number of pages of the open document.
    int GetPageCount();

    // Raw engine handles, never raising and never opening anything: callers may
    // pass them to the bound entry points (holding an EngineLock when other
    // threads use the engine) but must not close them.
    void* GetDocument() const { return FDocument; }
    void* GetPage() const { return FPage; }
    void* GetTextPage() const { return FTextPage; }
    void* GetFind() const { return FFind; }
    // The form environment's handle (null without one). Asking for it announces
    // the current page to the form environment, as the component's own form
    // operations do, so that form entry points called with GetPage() find it.
    void* GetFormHandle() const;

    // ---- Form environment ---------------------------------------------------

    // The document's form type.
    TPdfFormType GetFormType();
    // Whether the engine library supports XFA forms (false before it is loaded).
    bool GetXFA() const;

    // ---- Characters and search ---------------------------------------------
    // Character indices count from 0 on the current page's text page (as in
    // Text) and go to the engine unchecked. Every member raises the guards'
    // messages first (inactive component, no current page), then "Cannot open
    // text page", and only then its own.

    // Character Index as one UTF-16 unit: the engine's Unicode value cut to its
    // low 16 bits. Never raises for the index.
    QChar GetCharacter(int Index);
    // The character code of character Index cut to its low 16 bits (0 for
    // characters the engine generated). Never raises for the index.
    QChar GetCharcode(int Index);
    // The font size of character Index as the engine gives it.
    double GetFontSize(int Index);
    // The origin of character Index in page space; (0, 0) when the engine
    // rejects the index. Never raises for the index.
    TPdfPoint GetCharacterOrigin(int Index);
    // The box of character Index in page space. Raises "Cannot retrieve
    // character rectangle" when the engine has none.
    TPdfRectangle GetCharacterRectangle(int Index);
    // The index of the character at or near (X, Y) within the tolerances, all
    // in page space; the engine's negative value when there is none.
    int CharacterIndexAtPos(double X, double Y, double ToleranceX, double ToleranceY);
    // Whether the Unicode value of character Index failed to map. Raises
    // "Cannot retrieve unicode mapping" when the engine cannot tell.
    bool GetCharacterMapError(int Index);
    // Whether the engine generated character Index (a line break or space not
    // in the content). Raises "Cannot retrieve character info" when the engine
    // cannot tell.
    bool GetCharacterGenerated(int Index);
    // The number of rectangles covering Count characters from StartIndex on, as
    // the engine gives it; GetRectangle then reads them (in page space), until
    // the page changes.
    int RectangleCount(int StartIndex, int Count);
    // Rectangle Index of the list made by the last RectangleCount on this page.
    // Raises "Cannot retrieve rectangle" when the engine has none.
    TPdfRectangle GetRectangle(int Index);
    // The text inside the rectangle (page space, passed to the engine as given);
    // empty when there is none.
    QString TextInRectangle(double Left, double Top, double Right, double Bottom);
    QString TextInRectangle(const TPdfRectangle& Rectangle);

    // Starts a new search for Text on the current page from character
    // StartIndex (closing any earlier one) and returns the first match's index
    // going forwards (DirectionUp true) or backwards, or -1. An empty Text finds
    // nothing. Raises "Cannot start find" when the engine starts no search.
    // GetFind() gives the running search's engine handle, null when none.
    int FindFirst(const QString& Text, TSearchOptions Options = {}, int StartIndex = 0, bool DirectionUp = true);
    // The next match forwards, or -1. Raises "Uninitialized search" when no
    // search runs on the current page.
    int FindNext();
    // The next match backwards, or -1. Raises "Uninitialized search" when no
    // search runs on the current page.
    int FindPrevious();

    // Every match of Text on every page, in page order and, on a page, in text
    // order; an empty Text finds nothing. Leaves the current page, its text
    // page and its running search as they were (other pages are opened for the
    // call and closed again). Raises when inactive, "Cannot open page N" for a
    // page the engine cannot open, "Cannot open text page", "Cannot start find".
    QList<TPdfSearchHit> FindAll(const QString& Text, TSearchOptions Options = {});

    // ---- Properties and rendering ------------------------------------------

    // The file's PDF version (pvUnknown for a version the table does not name).
    // Raises "Cannot retrieve PDF version" when the engine cannot tell.
    TPdfVersion GetPdfVersion();
    // The document's security permission word, as the engine gives it.
    quint32 GetPermissions();
    // The viewer preferences for printing: scaling, number of copies, paper handling.
    bool GetPrintScaling();
    int GetPrintCopies();
    TPrintPaperHandling GetPrintPaperHandling();
    // How the document asks to be shown when opened.
    TPageMode GetPageMode();
    // Whether the document is tagged (structured).
    bool GetIsTagged();
    // The label of page PageNumber (1 .. PageCount; otherwise raises "Incorrect
    // page number"); empty when the page has none.
    QString GetPageLabel(int PageNumber);
    // The document information entry Tag (ASCII); empty when absent or empty.
    QString GetMetaText(const QString& Tag);
    // The usual document information entries; the dates as the raw text of the file.
    QString GetAuthor();
    QString GetTitle();
    QString GetSubject();
    QString GetKeywords();
    QString GetCreator();
    QString GetProducer();
    QString GetCreationDate();
    QString GetModifiedDate();
    // The same dates read as DateTimeFromPdfDate reads them (with their time
    // zone); an invalid QDateTime when the entry is absent or not a PDF date.
    QDateTime GetCreationDateTime();
    QDateTime GetModifiedDateTime();
    // The named viewer preference Key (a name value); empty when absent.
    QString GetViewerPreference(const QString& Key);
    // The current page's width and height in points, as the page is shown (its
    // crop box, turned by its rotation): the extent of shown space.
    double GetPageWidth();
    double GetPageHeight();
    // The current page's bounding box (its crop box within its media box) in page
    // space; raises "Cannot retrieve page bounds" on failure.
    TPdfRectangle GetPageBounds();
    // The current page's rotation. Setting it reloads the page (its text page and
    // search are closed) and fires OnPageChange once.
    TRotation GetPageRotation();
    void SetPageRotation(TRotation Value);

    // Draws the current page onto DeviceContext (an active painter) with its top
    // left corner at device pixel Left, Top and the size Width x Height pixels, through one image of
    // that size which the engine draws into. No background is filled and no form
    // fields are drawn.
    void RenderPage(QPainter* DeviceContext, int Left, int Top, int Width, int Height,
                    TRotation Rotation = TRotation::ro0, const TRenderOptions& Options = {});
    // Renders the current page into a new Width x Height image filled with Color
    // first, with the page placed at pixel Left, Top and drawn at Width x Height, and
    // the form fields drawn over it when there is a form environment; the engine
    // draws straight into the image's pixels. The caller owns the image; a null
    // image when Width or Height is below 1. Raises "Cannot create bitmap" when
    // the image cannot be made (2 GiB of pixels or more, out of memory) or the
    // engine refuses it.
    QImage RenderPage(int Left, int Top, int Width, int Height, TRotation Rotation = TRotation::ro0,
                      const TRenderOptions& Options = {}, TAlphaColor Color = 0xFFFFFFFF);
    // The same into Bitmap, which ends up Width x Height in Format_ARGB32. When it
    // already is such an image, not shared with another copy, the engine draws
    // into its pixels where they lie (at its own pitch); otherwise it is replaced
    // by a new image. Nothing is done when Bitmap is null or Width or Height is
    // below 1; on an exception Bitmap is left as it was.
    void RenderPage(QImage* Bitmap, int Left, int Top, int Width, int Height, TRotation Rotation = TRotation::ro0,
                    const TRenderOptions& Options = {}, TAlphaColor Color = 0xFFFFFFFF);
    // The Width x Height part starting at pixel Left, Top of a PageWidth x
    // PageHeight rendering of the current page, as a new image the caller owns
    // (null when Width or Height is below 1). Only the tile is rasterised.
    QImage RenderTile(int Left, int Top, int Width, int Height, int PageWidth, int PageHeight,
                      TRotation Rotation = TRotation::ro0, const TRenderOptions& Options = {},
                      TAlphaColor Color = 0xFFFFFFFF);
    // The same into Bitmap; nothing is done when Bitmap is null or the tile is empty.
    void RenderTile(QImage* Bitmap, int Left, int Top, int Width, int Height, int PageWidth, int PageHeight,
                    TRotation Rotation = TRotation::ro0, const TRenderOptions& Options = {},
                    TAlphaColor Color = 0xFFFFFFFF);
    // Whether the current page uses transparency.
    bool GetTransparent();
    // Converts device pixel X, Y of a page rendered at Left, Top, Width x Height
    // with Rotation to page space; false (out values untouched) when the engine refuses.
    bool DeviceToPage(int X, int Y, int Left, int Top, int Width, int Height, TRotation Rotation, double& PageX,
                      double& PageY);
    // Converts page space to device pixels of such a rendering; false when refused.
    bool PageToDevice(double PageX, double PageY, int Left, int Top, int Width, int Height, TRotation Rotation,
                      int& X, int& Y);
    // The current page's embedded thumbnail as a new image the caller owns
    // (a fresh one on each call); a null image when the page has none, and a
    // 0 x 0 image (which Qt also reports as null) when the engine hands it back
    // in a format without four bytes per pixel.
    QImage GetThumbnail();

    // ---- Page objects and content creation ---------------------------------
    //
    // Objects are addressed by their 0-based index in the current page's object
    // list; images (Image, Bitmap) by their 0-based index among the image
    // objects. Every member needs a current page ("Cannot perform this
    // operation on an inactive page") and raises "Incorrect index" for an index
    // outside the list. Nothing is cached: each call asks the engine anew.

    // The number of objects of the current page.
    int GetObjectCount();
    // The engine handle of object Index; it belongs to the page: never free it.
    void* GetObjectHandle(int Index);
    // The kind of object Index.
    TObjectType GetObjectType(int Index);
    // The engine's bitmap of image object Index as a new Format_ARGB32 image
    // (the caller owns it); a null image when the engine gives none, and a
    // 0 x 0 image for engine bitmaps without four bytes per pixel.
    QImage GetObjectBitmap(int Index);
    // The bounding box of object Index in page space; raises "Cannot retrieve data".
    TPdfRectangle GetObjectBounds(int Index);
    // Whether object Index has transparency.
    bool GetObjectTransparent(int Index);
    // The number of image objects of the current page.
    int GetImageCount();
    // Image Index's data as the engine delivers it (the stored stream bytes),
    // with its pixel width and height. A negative Index selects the first image.
    // Raises "Cannot retrieve image data" when the engine fails.
    TPdfImage GetImage(int Index);
    // The same as GetImageCount.
    int GetBitmapCount();
    // Image Index's decoded pixels as a new Format_ARGB32 image owned by the
    // caller (alpha 255 for images decoded without alpha). A negative Index
    // selects the first image. Raises "Cannot retrieve image data",
    // "Unsupported bitmap format", or "Image too large" when the pixels do not
    // fit in memory.
    QImage GetBitmap(int Index);

    // Places Bitmap (Format_ARGB32 only, else "Unsupported pixel format") with
    // its lower left corner at (X, Y) in page space, one point per pixel, and regenerates
    // the page content. Raises "Cannot create image object", "Cannot create
    // bitmap", "Cannot assign bitmap", "Cannot set matrix", "Cannot create page content".
    void AddPicture(const QImage& Bitmap, double X, double Y);
    // The same, stretched over the rectangle (X, Y) to (X + Width, Y + Height) in page space.
    void AddPicture(const QImage& Bitmap, double X, double Y, double Width, double Height);
    // Places the JPEG data of JpegImage (read from its start; the device must
    // be open and seekable) over the page-space rectangle (X, Y) to (X + Width, Y + Height)
    // and regenerates the page content. Returns false, changing nothing, when
    // the data is no JPEG the engine can place or cannot be read.
    bool AddJpegImage(QIODevice* JpegImage, double X, double Y, double Width, double Height);

    // Starts a new path at (X, Y) with its style (all coordinates of paths in
    // page space, widths in points); the path joins the page only
    // at AddPath, and is dropped when the page closes. Raises "Path was already
    // created" while one is unfinished, "Cannot create path", "Cannot set stroke width".
    void CreatePath(float X, float Y, TPdfFillMode FillMode, TAlphaColor FillColor, bool Stroke,
                    TAlphaColor StrokeColor, float StrokeWidth, TPdfLineCap LineCap, TPdfLineJoin LineJoin,
                    TPdfBlendMode BlendMode);
    // The same, starting with the rectangle (X, Y, Width, Height).
    void CreatePath(float X, float Y, float Width, float Height, TPdfFillMode FillMode, TAlphaColor FillColor,
                    bool Stroke, TAlphaColor StrokeColor, float StrokeWidth, TPdfLineCap LineCap,
                    TPdfLineJoin LineJoin, TPdfBlendMode BlendMode);
    // Segments of the unfinished path; each raises "Path was not created" when
    // there is none, or its own message ("Cannot move", "Cannot add line",
    // "Cannot add Bezier curve", "Cannot close path") when the engine refuses.
    void MoveTo(float X, float Y);
    void LineTo(float X, float Y);
    void BezierTo(float X1, float Y1, float X2, float Y2, float X3, float Y3);
    void ClosePath();
    // Puts the unfinished path on the page and regenerates the page content.
    // Raises "Path was not created" when there is none.
    void AddPath();
    // Places Text in the engine's standard font Font at FontSize with its origin
    // at (X, Y) in page space, turned Angle degrees counter-clockwise, and regenerates the page
    // content. Raises "Cannot create text object", "Cannot set text", "Cannot set color".
    void AddText(const QString& Text, const QString& Font, float FontSize, double X, double Y, TAlphaColor Color,
                 double Angle);
    // Replaces the text of text object ObjectIndex and regenerates the page
    // content. Raises "Incorrect index", "Text object required", "Cannot set text".
    void SetText(int ObjectIndex, const QString& Text);

    // Takes object Index off the current page and destroys it; with
    // Regenerate false the page content is written by a later UpdatePage.
    // Raises "Incorrect index", "Cannot delete object", "Cannot create page content".
    void DeleteObject(int Index, bool Regenerate = true);
    // Embeds the font program Data (a TrueType or Type 1 font file's bytes) in
    // the open document, for text placed with the AddText below. Cid makes it a
    // composite font (Identity-H, one code per glyph of the program, each read
    // back as the character the program's own character map gives it), so that
    // any text the program covers can be set; else a simple font of at most
    // 256 characters. The engine writes the font's widths and character map
    // from the program. The font stays in the document, and the component
    // keeps its handle until the document closes. Raises when inactive, and
    // "Cannot load font" when the engine cannot read the program.
    TPdfFont LoadFont(const QByteArray& Data, TPdfFontType Type, bool Cid);
    // Places Text on the current page in Font (from LoadFont on this document)
    // at FontSize, drawn in RenderMode with Color, its text space mapped into
    // page space by Matrix (the text starts at the origin of its own space, on
    // its baseline). With Regenerate false the page content is not written
    // yet: a later UpdatePage writes it once for many texts (each writing
    // writes all the page's new objects again). Raises "Font does not belong to
    // the open document", "Cannot set matrix" for a matrix that is not
    // invertible, "Cannot create text object", "Cannot set text", "Cannot set
    // color", "Cannot set text render mode", "Cannot create page content".
    void AddText(const QString& Text, const TPdfFont& Font, float FontSize, const QTransform& Matrix,
                 TPdfTextRenderMode RenderMode = TPdfTextRenderMode::trFill, TAlphaColor Color = 0xFF000000,
                 bool Regenerate = true);

    // ---- Bookmarks, links and destinations ---------------------------------

    // The top-level outline items, read afresh on each call. Raises when inactive.
    TBookmarks GetBookmarks();
    // The first outline item with this title; the empty record when there is none.
    // Raises when inactive.
    TBookmark GetBookmark(const QString& Title);
    // The children of an outline item, one level; an empty list for an item
    // without a handle (no check then). Raises when inactive otherwise, and
    // "Bookmark does not belong to the open document" for an item this
    // component did not read from its open document (see Owns).
    TBookmarks GetBookmarkChildren(const TBookmark& Bookmark);
    // Whether the item has children (false for an item without a handle).
    // Raises when inactive, and as GetBookmarkChildren for another document's item.
    bool GetHasBookmarkChildren(const TBookmark& Bookmark);

    // Whether a record's engine handle is one this component handed out and
    // still holds open: an outline item, named destination or font of the
    // open document, a link of the current page visit. False for a record without
    // a handle, one kept past its document's close or its page's, one from
    // another component, or one made by hand; for a link, also one kept past
    // a change of the page's annotations through this component (any
    // DeleteAnnotation or SetAnnotation, a CreateAnnotation of a link). Asks
    // nothing of the engine; check it before passing a kept record's Handle
    // to an entry point.
    bool Owns(const TBookmark& Bookmark) const;
    bool Owns(const TLinkAnnotation& Link) const;
    bool Owns(const TDestination& Destination) const;
    bool Owns(const TPdfFont& Font) const;

    // The number of link annotations of the current page; read once per page
    // visit, and again after a change of the page's annotations through this
    // component (see Owns). Raises when no page is open and the page's links
    // are not read yet.
    int GetLinkAnnotationCount();
    // A copy of link annotation Index (from 0); "Incorrect index" when out of range.
    TLinkAnnotation GetLinkAnnotation(int Index);

    // The number of web links (URLs written as text) of the current page; read
    // once per text-page visit, opening the text page if needed.
    int GetWebLinkCount();
    // A copy of web link Index (from 0); "Incorrect index" when out of range.
    TWebLink GetWebLink(int Index);

    // The number of named destinations of the document. Raises when inactive.
    int GetDestinationCount();
    // Named destination Index (from 0); "Incorrect index" when out of range.
    TDestination GetDestination(int Index);
    // The named destination called Name (Latin-1); the empty record when there
    // is none or no document is open. The record's Name is Name as given.
    TDestination GetDestinationByName(const QString& Name);

    // ---- Page management and saving ----------------------------------------

    // Inserts a blank page of Width x Height points before page PageNumber
    // (a number past the end appends it) and makes it the current page under the
    // number it got; OnPageChange is not raised. Raises "Cannot create PDF page".
    void AddPage(int PageNumber, double Width, double Height);

    // Writes the current page's objects into its content stream, so that edits
    // become part of the page; the page stays open, its text page (and any
    // search) is closed so the next text operation reads the new content.
    // Raises EPdfError "Cannot create page content" when the engine fails,
    // and without writing where the document's page tree holds something
    // other than a page (on such a document the engine would end the process).
    void UpdatePage();

    // Deletes page PageNumber (nothing for a number that names no page), then
    // re-opens the page under the kept number, or the last page when the kept
    // number is now past the end (0 when no page is left); raises OnPageChange.
    void DeletePage(int PageNumber);

    // Inserts the pages Range (the engine's range syntax, e.g. "1,3-5"; empty
    // for all) of Pdf before page PageNumber. Opens Pdf if it is inactive; Pdf
    // may be this component. Returns the engine's result; the current page is
    // re-opened and OnPageChange raised either way.
    bool ImportPages(TFPdf* Pdf, const QString& Range, int PageNumber);

    // Copies the viewer preferences of Pdf (opened if inactive) into this
    // document; returns the engine's result.
    bool ImportPreferences(TFPdf* Pdf);

    // Writes the document, as the engine holds it, to Stream from its current
    // position, with PdfVersion (pvUnknown keeps the document's own). Returns
    // false when the engine fails or the stream does not take every byte.
    bool SaveAs(QIODevice* Stream, TSaveOption Option = TSaveOption::saNone,
                TPdfVersion PdfVersion = TPdfVersion::pvUnknown);
    // Writes the document to FileName, replacing the file only once the whole
    // document is written (also the document's own file). Returns false when
    // the save fails, the file then being untouched; raises EFileError when the
    // file cannot be created.
    bool SaveAs(const QString& FileName, TSaveOption Option = TSaveOption::saNone,
                TPdfVersion PdfVersion = TPdfVersion::pvUnknown);

    // ---- Annotations, form fields and signatures ---------------------------

    // The number of annotations of the current page, of every subtype.
    int GetAnnotationCount();
    // Annotation Index (from 0) of the current page. Raises "Incorrect index",
    // "Cannot retrieve annotation" or "Cannot retrieve rectangle".
    TPdfAnnotation GetAnnotation(int Index);
    // Writes flags, the colours and attachment points marked present, rectangle
    // and texts to annotation Index; raises "Incorrect annotation subtype" when
    // Value's subtype differs, or the message of the engine setter that failed.
    // Once past the checks it retires the page's link records (see Owns).
    void SetAnnotation(int Index, const TPdfAnnotation& Value);
    // Appends a new annotation to the current page, written as SetAnnotation
    // writes. Raises "Unsupported annotation subtype" or "Cannot create annotation".
    // A new link retires the page's link records (see Owns).
    void CreateAnnotation(const TPdfAnnotation& Annotation);
    // Removes annotation Index; raises "Incorrect index" or "Cannot delete annotation".
    // Retires the page's link records (see Owns).
    void DeleteAnnotation(int Index);

    // The number of annotations of the current page (form fields share their index).
    int GetFormFieldCount();
    // The "V" text of annotation Index; raises "Incorrect index".
    QString GetFormField(int Index);
    // Sets the "V" entry of annotation Index; raises "Incorrect index" or
    // "Cannot set form field value". Appearances are not rebuilt.
    void SetFormField(int Index, const QString& Value);
    // The "V" text of the form field at a page point (X, Y in page space, as
    // for every member below that takes them); raises "Incorrect position"
    // when there is none (always without a form environment).
    QString GetFormFieldAt(float X, float Y);
    // Sets the "V" entry of the form field at a page point; raises "Incorrect position".
    void SetFormFieldAt(float X, float Y, const QString& Value);
    // Whether a form field lies at a page point (false without a form environment).
    bool GetHasFormFieldAt(float X, float Y);
    // Description of the form field behind annotation Index; raises "Incorrect index".
    TPdfFormFieldInfo GetFormFieldInfo(int Index);
    // Description of the form field at a page point; raises "Incorrect position".
    TPdfFormFieldInfo GetFormFieldInfoAt(float X, float Y);

    // Form fields by their full name (the names from the root of the field
    // tree, joined by "."), on any page; both need the form environment.
    //
    // The value of field FullName wherever the document keeps it: on the field
    // or inherited from a parent field. Raises "Unknown form field" when no
    // widget on any page belongs to such a field, and "Cannot perform this
    // operation without a form environment" when FormFill was off at the open.
    QString GetFieldValue(const QString& FullName);
    // Sets field FullName to Value as a user filling in the form would: the
    // field's value is stored and the appearance of each of its widgets is
    // rebuilt, so that a saved copy shows the value in any viewer. A text
    // field takes any text; a combo or list box the label of one of its
    // options (an editable combo box any text); a check box or radio button
    // the export value of one of its widgets, or "Off" to clear a check box.
    // Raises as GetFieldValue, and "Cannot set form field value" when the field
    // does not take Value (read only, a button, no such option, a value its
    // own rules change or refuse), the field then keeping its value.
    // OnFormFieldEnter and OnFormFieldExit do not fire.
    void SetFieldValue(const QString& FullName, const QString& Value);

    // The number of signatures of the open document.
    int GetSignatureCount();
    // Signature Index (from 0), read but not verified; raises "Cannot retrieve
    // signature" when the engine has none at that index.
    TPdfSignature GetSignature(int Index);

    // ---- Events -------------------------------------------------------------

    // The current page was loaded again (also when PageNumber became 0).
    TNotifyEvent OnPageChange;
    // The engine reported a feature of this instance's document that it does
    // not support: while the document is opened (when the event is assigned
    // then), or when a page is announced to the form environment.
    TPdfUnsupportedFeatureEvent OnUnsupportedFeature;
    // A text field got the focus; Text is its current text.
    TPdfFormFieldEnterEvent OnFormFieldEnter;
    // A text field lost the focus.
    TNotifyEvent OnFormFieldExit;

protected:
    void Loaded() override;

private:
    // ---- Document core ----------------------------------------------------
    bool IsDesigning() const { return ComponentState().Contains(TComponentStateFlag::csDesigning); }
    bool IsLoading() const { return ComponentState().Contains(TComponentStateFlag::csLoading); }
    void CheckActive() const;
    void CheckInactive() const;
    void CheckPageActive() const;
    void CheckFind() const;
    void CloseFind();
    void ClosePage();
    void OpenTextPage();
    void CloseTextPage();
    // Raises EPdfError where the document's page tree holds a leaf that is
    // not a page; remembered until the tree changes.
    void CheckPageTree();
    void OpenDocument();
    void CloseDocument();
    void PrepareOpen();
    void ForEachPage(const std::function<bool(FPDF_PAGE Page, int Number)>& Visit);
    void LoadMemory(const void* Data, qint64 Size, bool Buffered, const QByteArray* Shared = nullptr);
    void InstallUnsupportedHandler();
    friend void ReportUnsupportedFeature(TFPdf* Pdf, int Code);

    // ---- Form environment ---------------------------------------------------
    void InitFormFill();
    void ExitFormFill();
    FPDF_FORMHANDLE PageForm() const;
    void WithdrawPage();
    void TimerTick();
    void FormFieldFocus(FPDF_WIDESTRING Value, FPDF_DWORD ValueLen, FPDF_BOOL IsFocus);
    FPDF_FORMHANDLE RequireFormEnvironment() const;
    // The component itself moves the focus (SetFieldValue): no focus events.
    bool FQuietFocus = false;
    int TimerId() const;
    friend struct FormFillCallbacks;

    // ---- Characters and search ---------------------------------------------
    void StartFind(const QString& Text, TSearchOptions Options, int StartIndex);
    int StepFind(bool Forward);
    // The running search looks for the empty text: stepping it would never
    // return, so it finds nothing. Meaningful only while FFind is set.
    bool FFindEmptyText = false;

    // ---- Properties and rendering ------------------------------------------

    // ---- Page objects and content creation ---------------------------------
    int ImageObjectIndex(int Index);
    void ReadImageData(FPDF_PAGEOBJECT Obj, TPdfImage& Image);
    QImage ReadImageBitmap(FPDF_PAGEOBJECT Obj);
    void RequirePath() const;
    void InsertBitmapObject(const QImage& Bitmap, double X, double Y, double Width, double Height);
    bool InsertJpegObject(QIODevice* Stream, double X, double Y, double Width, double Height);
    void ApplyPathStyle(TPdfFillMode FillMode, TAlphaColor FillColor, bool Stroke, TAlphaColor StrokeColor,
                        float StrokeWidth, TPdfLineCap LineCap, TPdfLineJoin LineJoin, TPdfBlendMode BlendMode);

    // ---- Bookmarks, links and destinations ---------------------------------
    void ReadBookmark(FPDF_BOOKMARK Handle, TBookmark& Bookmark);
    void CheckBookmark(const TBookmark& Bookmark) const;
    quint64 DocumentGeneration();
    quint64 PageGeneration();
    TBookmarks ReadBookmarkList(FPDF_BOOKMARK Parent);
    const TLinkAnnotations& CachedLinkAnnotations();
    void RetireLinkAnnotations();
    const TWebLinks& CachedWebLinks();
    void ReadDestination(FPDF_DEST Handle, const QString& Name, TDestination& Destination);

    // ---- Page management and saving ----------------------------------------

    // ---- Annotations, form fields and signatures ---------------------------
    bool WithFieldWidget(const QString& FullName, const std::function<bool(FPDF_ANNOTATION Annot)>& Accept,
                         const std::function<void(FPDF_PAGE Page, FPDF_ANNOTATION Annot)>& Use);
    void EnterFieldValue(FPDF_ANNOTATION Annot, const std::function<void()>& Entry);

    // ---- Fields -------------------------------------------------------------
    bool FActive = false;
    QByteArray FBuffer;
    FPDF_DOCUMENT FDocument = nullptr;
    // Numbers stamped on the records that carry engine handles, so that a
    // record can be checked without the engine: given out once the open
    // document (or the current page visit) hands out its first record, unique
    // in the process, and 0 again when the document (or page) closes; the
    // page's also when its annotations change (RetireLinkAnnotations).
    quint64 FDocumentGeneration = 0;
    quint64 FPageGeneration = 0;
    // The fonts LoadFont embedded, closed before the document.
    QList<FPDF_FONT> FFonts;
    qint64 FDocumentSize = 0;
    QString FFileName;
    FPDF_SCHHANDLE FFind = nullptr;
    bool FFormFill = true;
    TPdfFormFillInfo FFormFillInfo;
    FPDF_FORMHANDLE FFormHandle = nullptr;
    TLinkAnnotations FLinkAnnotations;
    FPDF_PAGE FPage = nullptr;
    // The current page was announced to the form environment (FORM_OnAfterLoadPage)
    // and is withdrawn from it before it closes. Announcing is on demand, hence
    // settable from the const handle getter.
    mutable bool FPageAnnounced = false;
    int FPageNumber = 0;
    // CheckPageTree found every leaf of the page tree a page (or nothing);
    // checked again after the tree changes.
    bool FPageTreeSound = false;
    QString FPassword;
    FPDF_PAGEOBJECT FPath = nullptr;
    FPDF_TEXTPAGE FTextPage = nullptr;
    QTimer* FTimer = nullptr;
    TimerCallback FTimerCallback = nullptr;
    int FTimerId = 0;  // this instance's form-timer ID, unique in the process
    TWebLinks FWebLinks;
};

}  // namespace kestrune
