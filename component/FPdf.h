// TFPdf: one PDF document at a time, through the PDFium engine.
//
// The component loads the engine library on the first document open or
// creation, owns every engine handle it opens (document, current page, text
// page, search, form environment) and closes each itself, children first.
// Failures are raised as EPdfError. The component is used from one thread.
#pragma once

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QList>
#include <QString>
#include <array>
#include <functional>
#include <limits>

#include "component/Component.h"
#include "engine/Engine.h"

class QIODevice;
class QPainter;
class QTimer;

namespace kestrune {

class TFPdf;

// ---------------------------------------------------------------------------
// Shared records
// ---------------------------------------------------------------------------

// A point in page units.
struct TPdfPoint {
    double X = 0;
    double Y = 0;
};

// A rectangle in page units.
struct TPdfRectangle {
    double Left = 0;
    double Top = 0;
    double Right = 0;
    double Bottom = 0;
};
using TPdfRectangles = QList<TPdfRectangle>;

// The four corners of one quadrilateral, in the engine's order (x1, y1 .. x4, y4).
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
// (records of character data and search)

// ---------------------------------------------------------------------------
// Properties and rendering
// ---------------------------------------------------------------------------
// (records and enumerations of document properties and rendering)

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
// Copies the pixels of an engine bitmap into Target, resizing it to the engine
// bitmap's size as Format_ARGB32. Engine formats without four bytes per pixel
// (none, grey, three-byte colour) leave Target as it is; so does a null Target.
void CopyEngineBitmap(FPDF_BITMAP Bitmap, QImage* Target);
// A new image with the pixels of an engine bitmap; 0 x 0 for a format that is
// not copied. The engine bitmap stays with the caller.
QImage BitmapFromEngine(FPDF_BITMAP Bitmap);

// ---------------------------------------------------------------------------
// Page objects and content creation
// ---------------------------------------------------------------------------
// (records and enumerations of page objects, images and content creation)

// ---------------------------------------------------------------------------
// Bookmarks, links and destinations
// ---------------------------------------------------------------------------

// Kind of an action; the ordinal is the engine's action type.
enum class TPdfAction { acUnsupported, acGoto, acGotoRemote, acUri, acLaunch };

// One link annotation of the current page.
struct TLinkAnnotation {
    void* Handle = nullptr;                // the engine's link handle; valid while the page is open
    TPdfRectangle Rectangle;               // in page units; all 0 when the engine gives none
    int PageNumber = 0;                    // page of the link's own destination; 0 when none
    TPdfAction Action = TPdfAction::acUnsupported;
    int ActionPageNumber = 0;              // page of the action's destination; 0 when none
    QString ActionPath;                    // file path (acGotoRemote, acLaunch) or URI (acUri)
    QList<TQuadrilateralPoint> Points;     // the link's quadrilaterals
};
using TLinkAnnotations = QList<TLinkAnnotation>;

// One web link detected in the text of the current page.
struct TWebLink {
    QString Url;
    TPdfRectangles Rectangles;
};
using TWebLinks = QList<TWebLink>;

// (further records of bookmarks, links and destinations)

// ---------------------------------------------------------------------------
// Page management and saving
// ---------------------------------------------------------------------------
// (records and enumerations of page management and saving)

// ---------------------------------------------------------------------------
// Annotations, form fields and signatures
// ---------------------------------------------------------------------------
// (records and enumerations of annotations, form fields and signatures)

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

    // Opens a document held in memory. With Buffered false the caller keeps the
    // bytes alive and unchanged until the document is closed; with Buffered true
    // the component keeps its own copy.
    void LoadDocument(const void* Data, int Size, bool Buffered = false);
    void LoadDocument(const QByteArray& Data, bool Buffered = false);
    // The whole buffer is used, whatever its position.
    void LoadDocument(QBuffer* Data, bool Buffered = false);

    // Creates a new empty document without pages; OnPageChange does not fire.
    void CreateDocument();

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
    // pass them to the bound entry points but must not close them.
    void* GetDocument() const { return FDocument; }
    void* GetPage() const { return FPage; }
    void* GetTextPage() const { return FTextPage; }
    void* GetFind() const { return FFind; }
    void* GetFormHandle() const { return FFormHandle; }

    // ---- Form environment ---------------------------------------------------

    // The document's form type.
    TPdfFormType GetFormType();
    // Whether the engine library supports XFA forms (false before it is loaded).
    bool GetXFA() const;

    // ---- Characters and search ---------------------------------------------

    // ---- Properties and rendering ------------------------------------------

    // ---- Page objects and content creation ---------------------------------

    // ---- Bookmarks, links and destinations ---------------------------------

    // ---- Page management and saving ----------------------------------------

    // Writes the current page's objects into its content stream, so that edits
    // become part of the page; the page stays open, its text page (and any
    // search) is closed so the next text operation reads the new content.
    // Raises EPdfError "Cannot create page content" when the engine fails.
    void UpdatePage();

    // ---- Annotations, form fields and signatures ---------------------------

    // ---- Events -------------------------------------------------------------

    // The current page was loaded again (also when PageNumber became 0).
    TNotifyEvent OnPageChange;
    // The engine reported a feature of the document that it does not support.
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
    void OpenDocument();
    void CloseDocument();
    void PrepareOpen();
    void LoadMemory(const void* Data, qint64 Size, bool Buffered);
    void InstallUnsupportedHandler();
    friend void ReportUnsupportedFeature(TFPdf* Pdf, int Code);

    // ---- Form environment ---------------------------------------------------
    void InitFormFill();
    void ExitFormFill();
    void TimerTick();
    void FormFieldFocus(FPDF_WIDESTRING Value, FPDF_DWORD ValueLen, FPDF_BOOL IsFocus);
    int TimerId() const;
    friend struct FormFillCallbacks;

    // ---- Characters and search ---------------------------------------------

    // ---- Properties and rendering ------------------------------------------

    // ---- Page objects and content creation ---------------------------------

    // ---- Bookmarks, links and destinations ---------------------------------

    // ---- Page management and saving ----------------------------------------

    // ---- Annotations, form fields and signatures ---------------------------

    // ---- Fields -------------------------------------------------------------
    bool FActive = false;
    QByteArray FBuffer;
    FPDF_DOCUMENT FDocument = nullptr;
    QString FFileName;
    FPDF_SCHHANDLE FFind = nullptr;
    bool FFormFill = true;
    TPdfFormFillInfo FFormFillInfo;
    FPDF_FORMHANDLE FFormHandle = nullptr;
    TLinkAnnotations FLinkAnnotations;
    FPDF_PAGE FPage = nullptr;
    int FPageNumber = 0;
    QString FPassword;
    FPDF_PAGEOBJECT FPath = nullptr;
    FPDF_TEXTPAGE FTextPage = nullptr;
    QTimer* FTimer = nullptr;
    TimerCallback FTimerCallback = nullptr;
    TWebLinks FWebLinks;
};

}  // namespace kestrune
