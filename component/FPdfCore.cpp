// The document core: opening and closing, the current page, the text page, the
// page text, the state guards and unsupported-feature reports.
#include <QFileInfo>
#include <QTimer>
#include <atomic>

#include "component/UnsupportedReports.h"
#include <kestrune/FPdf.h>
#include "engine/ScopedHandle.h"

namespace kestrune {

using namespace engine;

namespace {

// The engine's unsupported-feature record, followed by the instance to report
// to (set by TReportScope, under the engine's lock). The engine keeps its
// address once registered, so it lives for the process.
struct TUnsupportedInfo {
    UNSUPPORT_INFO Info;
    TFPdf* Pdf;
};
TUnsupportedInfo UnsupportedInfo{};

void UnsupportedFeatureHandler(UNSUPPORT_INFO* Record, int Code) {
    auto* info = reinterpret_cast<TUnsupportedInfo*>(Record);
    if (info->Pdf) ReportUnsupportedFeature(info->Pdf, Code);
}

// The generations of documents and page visits, shared by every instance so
// that no two documents or visits in the process ever get the same number.
quint64 NextGeneration() {
    static std::atomic<quint64> last = 0;
    return last.fetch_add(1, std::memory_order_relaxed) + 1;
}

QString InactiveMessage(const QString& name) {
    return QStringLiteral("Cannot perform this operation on an inactive ") + name + QStringLiteral(" component");
}

QString ActiveMessage(const QString& name) {
    return QStringLiteral("Cannot perform this operation on an active ") + name + QStringLiteral(" component");
}

}  // namespace

TReportScope::TReportScope(const TFPdf* Pdf) : FPrevious(UnsupportedInfo.Pdf) {
    // The instance is only handed to its own event, which is not const.
    UnsupportedInfo.Pdf = const_cast<TFPdf*>(Pdf);
}

TReportScope::~TReportScope() { UnsupportedInfo.Pdf = FPrevious; }

void ReportUnsupportedFeature(TFPdf* Pdf, int Code) {
    if (Pdf->OnUnsupportedFeature) Pdf->OnUnsupportedFeature(Pdf, PdfFeatureFromEngine(Code));
}

TPdfFeature PdfFeatureFromEngine(int Code) {
    // Engine codes 1..8 and 11..17 name features in the enumeration's order.
    if (Code >= 1 && Code <= 8) return static_cast<TPdfFeature>(Code);
    if (Code >= 11 && Code <= 17) return static_cast<TPdfFeature>(Code - 2);
    return TPdfFeature::feUnknown;
}

TFPdf::TFPdf(QObject* AOwner) : TComponent(AOwner) {
    // The engine keeps its timers in one process-wide table keyed by the ID the
    // host returns, so every instance needs its own, and never 0 (the engine's
    // "no timer"). An address cut to 32 bits would guarantee neither.
    // Instances may be made on several threads at once.
    static std::atomic<unsigned> lastTimerId = 0;
    FTimerId = int(lastTimerId.fetch_add(1, std::memory_order_relaxed) % unsigned(std::numeric_limits<int>::max())) + 1;
}

TFPdf::~TFPdf() {
    const EngineLock lock;
    CloseDocument();
    delete FTimer;
    FTimer = nullptr;
    // No report may reach this instance once it is gone.
    if (UnsupportedInfo.Pdf == this) UnsupportedInfo.Pdf = nullptr;
}

QString TFPdf::GetAbout() const {
    return QStringLiteral("TFPdf 6.5: PDF document component over the PDFium engine");
}

void TFPdf::SetAbout(const QString&) {}

bool TFPdf::GetActive() const { return IsDesigning() ? FActive : FDocument != nullptr; }

void TFPdf::SetActive(bool Value) {
    const EngineLock lock;
    if (Value != GetActive() && !IsDesigning() && !IsLoading()) {
        if (Value) {
            OpenDocument();
            ReloadPage();
        } else {
            CloseDocument();
        }
    }
    FActive = Value;
}

void TFPdf::SetFileName(const QString& Value) {
    CheckInactive();
    FFileName = Value;
}

void TFPdf::SetFormFill(bool Value) {
    CheckInactive();
    FFormFill = Value;
}

void TFPdf::SetPassword(const QString& Value) {
    CheckInactive();
    FPassword = Value;
}

void TFPdf::SetPageNumber(int Value) {
    if (Value == FPageNumber) return;
    FPageNumber = Value;
    if (GetActive() && !IsDesigning() && !IsLoading()) ReloadPage();
}

void TFPdf::Loaded() {
    TComponent::Loaded();
    SetActive(FActive);
}

// ---- Guards -----------------------------------------------------------------

void TFPdf::CheckActive() const {
    // In a designer nothing is ever opened and Active only stores its value, so
    // the guard is off; but an operation that needs the document still finds
    // none, and the engine (perhaps not even loaded) is never asked without one.
    if (IsDesigning()) {
        CheckResult(FDocument != nullptr, InactiveMessage(GetName()));
        return;
    }
    CheckResult(GetActive(), InactiveMessage(GetName()));
}

void TFPdf::CheckInactive() const {
    if (IsDesigning()) return;
    CheckResult(!GetActive(), ActiveMessage(GetName()));
}

void TFPdf::CheckPageActive() const {
    // In a designer no page is ever open: the page test alone decides.
    if (!IsDesigning()) CheckActive();
    CheckResult(FPage != nullptr, QStringLiteral("Cannot perform this operation on an inactive page"));
}

void TFPdf::CheckFind() const {
    CheckPageActive();
    CheckResult(FFind != nullptr, QStringLiteral("Uninitialized search"));
}

// ---- Opening and closing ----------------------------------------------------

// The common start of every open and creation: the guard, the engine, the
// unsupported-feature handler, and no stale buffer.
void TFPdf::PrepareOpen() {
    CheckInactive();
    LoadEngine();
    if (OnUnsupportedFeature) InstallUnsupportedHandler();
    FBuffer.clear();
}

void TFPdf::OpenDocument() {
    const TReportScope reports(this);
    PrepareOpen();
    const QByteArray fileName = FFileName.toUtf8();
    const QByteArray password = FPassword.toUtf8();
    FDocument = FPDF_LoadDocument(fileName.constData(), password.constData());
    CheckEngineResult(FDocument != nullptr, QStringLiteral("Cannot load PDF document ") + FFileName, FFileName);
    // The engine opened the file just now and reads it as it was then.
    FDocumentSize = QFileInfo(FFileName).size();
    InitFormFill();
    ReloadPage();
}

void TFPdf::LoadDocument(const void* Data, int Size, bool Buffered) {
    const EngineLock lock;
    LoadMemory(Data, Size, Buffered);
}

void TFPdf::LoadDocument(const QByteArray& Data, bool Buffered) {
    const EngineLock lock;
    LoadMemory(Data.constData(), Data.size(), Buffered, &Data);
}

void TFPdf::LoadDocument(QBuffer* Data, bool Buffered) {
    const EngineLock lock;
    // The whole buffer, whatever its position. A buffer past the 32-bit range is
    // loaded through the 64-bit loader rather than cut short.
    if (!Data) return LoadMemory(nullptr, 0, Buffered);
    const QByteArray& bytes = Data->buffer();
    LoadMemory(bytes.constData(), bytes.size(), Buffered, &bytes);
}

// Shared, when given, is the byte array that Data points into: unbuffered, the
// component keeps a reference to it (no copy), so that the engine's bytes live
// as long as the document even when the caller's array goes first.
void TFPdf::LoadMemory(const void* Data, qint64 Size, bool Buffered, const QByteArray* Shared) {
    const TReportScope reports(this);
    PrepareOpen();
    // A negative size or a missing block gives the engine no data (it would
    // otherwise read a block of the wrong size) and fails as an empty one does.
    if (Size < 0 || !Data) Size = 0;
    const void* address = Data;
    if (Buffered) {
        if (Size > 0) FBuffer = QByteArray(static_cast<const char*>(Data), Size);
        address = Size > 0 ? FBuffer.constData() : nullptr;
    } else if (Shared && Size > 0) {
        FBuffer = *Shared;
        address = FBuffer.constData();
    }
    const QByteArray password = FPassword.toUtf8();
    if (Size <= std::numeric_limits<int>::max())
        FDocument = FPDF_LoadMemDocument(address, int(Size), password.constData());
    else
        FDocument = FPDF_LoadMemDocument64(address, size_t(Size), password.constData());
    if (!FDocument) FBuffer.clear();
    CheckEngineResult(FDocument != nullptr, QStringLiteral("Cannot load PDF document"));
    FDocumentSize = Size;
    InitFormFill();
    ReloadPage();
}

void TFPdf::CreateDocument() {
    const EngineLock lock;
    const TReportScope reports(this);
    PrepareOpen();
    FDocument = FPDF_CreateNewDocument();
    // Creation does not report through the engine's last-error code.
    CheckResult(FDocument != nullptr, QStringLiteral("Cannot create PDF document"));
    InitFormFill();
}

void TFPdf::CloseDocument() {
    ClosePage();
    if (!FDocument) return;
    if (FFormHandle) FORM_DoDocumentAAction(FFormHandle, 16);  // FPDFDOC_AACTION_WC: will close
    ExitFormFill();
    // A font's handle refers to its document, so it goes first.
    for (FPDF_FONT font : FFonts) FPDFFont_Close(font);
    FFonts.clear();
    FPDF_CloseDocument(FDocument);
    FDocument = nullptr;
    FDocumentGeneration = 0;
    FDocumentSize = 0;
    FPageTreeSound = false;
    FBuffer.clear();
}

void TFPdf::InstallUnsupportedHandler() {
    UnsupportedInfo.Info.version = 1;
    UnsupportedInfo.Info.FSDK_UnSupport_Handler = &UnsupportedFeatureHandler;
    CheckResult(FSDK_SetUnSpObjProcessHandler(&UnsupportedInfo.Info) != 0,
                QStringLiteral("Cannot set unsupported feature handler"));
}

qint64 TFPdf::GetDocumentSize() const {
    CheckActive();
    return FDocumentSize;
}

int TFPdf::GetPageCount() {
    const EngineLock lock;
    CheckActive();
    return FPDF_GetPageCount(FDocument);
}

// ---- Generations of handle-carrying records -----------------------------------

quint64 TFPdf::DocumentGeneration() {
    if (FDocumentGeneration == 0) FDocumentGeneration = NextGeneration();
    return FDocumentGeneration;
}

quint64 TFPdf::PageGeneration() {
    if (FPageGeneration == 0) FPageGeneration = NextGeneration();
    return FPageGeneration;
}

// ---- The current page -------------------------------------------------------

void TFPdf::ReloadPage() {
    const EngineLock lock;
    FpuMaskScope mask;
    ClosePage();
    CheckActive();
    if (FPageNumber != 0 && FDocument) {
        // No page has a number below 1; the engine is not asked for one (and the
        // index of the lowest number could not be formed).
        if (FPageNumber > 0) FPage = FPDF_LoadPage(FDocument, FPageNumber - 1);
        CheckResult(FPage != nullptr, QStringLiteral("Cannot open page ") + QString::number(FPageNumber),
                    TPdfErrorKind::ekPage);
    }
    if (OnPageChange) OnPageChange(this);
}

void TFPdf::ClosePage() {
    if (FPath) {
        // An unfinished path never reached the page: nothing else refers to it.
        FPDFPageObj_Destroy(FPath);
        FPath = nullptr;
    }
    CloseTextPage();
    if (FPage) {
        WithdrawPage();
        FPDF_ClosePage(FPage);
        FPage = nullptr;
        RetireLinkAnnotations();
    }
}

// For the members that look at every page (document-wide search, fields by
// name): the current page is visited as it is open, so that its state (text
// page, search, form view) stays untouched; every other page is opened for the
// visit and closed right after, so that no more than one extra page is held.
void TFPdf::ForEachPage(const std::function<bool(FPDF_PAGE Page, int Number)>& Visit) {
    CheckActive();
    const int count = FPDF_GetPageCount(FDocument);
    for (int number = 1; number <= count; ++number) {
        if (FPage && number == FPageNumber) {
            if (!Visit(FPage, number)) return;
            continue;
        }
        const ScopedPage page(FPDF_LoadPage(FDocument, number - 1));
        CheckResult(bool(page), QStringLiteral("Cannot open page ") + QString::number(number), TPdfErrorKind::ekPage);
        if (!Visit(page.Get(), number)) return;
    }
}

// ---- The text page ----------------------------------------------------------

void TFPdf::OpenTextPage() {
    CheckPageActive();
    if (FTextPage) return;
    FpuMaskScope mask;
    FTextPage = FPDFText_LoadPage(FPage);
    CheckResult(FTextPage != nullptr, QStringLiteral("Cannot open text page"));
}

void TFPdf::CloseFind() {
    if (!FFind) return;
    FPDFText_FindClose(FFind);
    FFind = nullptr;
}

void TFPdf::CloseTextPage() {
    CloseFind();
    if (!FTextPage) return;
    FPDFText_ClosePage(FTextPage);
    FTextPage = nullptr;
    FWebLinks.clear();
}

int TFPdf::GetCharacterCount() {
    const EngineLock lock;
    OpenTextPage();
    return FPDFText_CountChars(FTextPage);
}

QString TFPdf::Text(int StartIndex, int Count) {
    const EngineLock lock;
    OpenTextPage();
    const int n = FPDFText_CountChars(FTextPage);
    // In 64 bits, so that no StartIndex or Count can overflow. The engine never
    // writes more than the page's n characters (and nothing for a negative
    // StartIndex), so the result is never made longer than that.
    const qint64 available = qint64(n) - StartIndex;
    const qint64 count = qMin<qint64>(qMin<qint64>(Count, available), n);
    if (count < 1) return {};
    QString result(qsizetype(count), Qt::Uninitialized);
    // QString keeps room for a terminating zero unit after its characters.
    const int written =
        FPDFText_GetText(FTextPage, StartIndex, int(count), reinterpret_cast<unsigned short*>(result.data()));
    if (written != count + 1) result.truncate(written > 1 ? written - 1 : 0);
    return result;
}

// The engine takes colours in the same 0xAARRGGBB layout.
quint32 ColorToEngine(TAlphaColor Color) { return Color; }

}  // namespace kestrune
