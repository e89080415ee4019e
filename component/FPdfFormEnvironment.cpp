// The interactive form environment: its set-up and release, and the callbacks
// through which the engine asks for timers, repaints and focus changes.
#include <QTimer>
#include <cstring>

#include "component/EngineRecords.h"
#include "component/UnsupportedReports.h"
#include <kestrune/FPdf.h>

namespace kestrune {

using namespace engine;

TPdfFormType FormTypeFromEngine(int Value) {
    switch (Value) {
        case 0: return TPdfFormType::ftNone;
        case 1: return TPdfFormType::ftAcroForm;
        case 2: return TPdfFormType::ftXfaFull;
        case 3: return TPdfFormType::ftXfaForeground;
        default: return TPdfFormType::ftUnknown;
    }
}

// The engine passes the address of the record's engine structure, which is the
// address of the whole record; the component sits right behind it.
struct FormFillCallbacks {
    static TFPdf* Owner(FPDF_FORMFILLINFO* pThis) { return reinterpret_cast<TPdfFormFillInfo*>(pThis)->Pdf; }

    // The component has no display of its own: repaint requests are accepted
    // and nothing is repainted.
    static void Invalidate(FPDF_FORMFILLINFO*, FPDF_PAGE, double, double, double, double) {}

    static int SetTimer(FPDF_FORMFILLINFO* pThis, int uElapse, TimerCallback lpTimerFunc) {
        TFPdf* pdf = Owner(pThis);
        if (!pdf->FTimer) {
            pdf->FTimer = new QTimer(pdf);
            QObject::connect(pdf->FTimer, &QTimer::timeout, pdf, [pdf] { pdf->TimerTick(); });
        }
        pdf->FTimerCallback = lpTimerFunc;
        pdf->FTimer->start(qMax(uElapse, 0));
        return pdf->TimerId();
    }

    static void KillTimer(FPDF_FORMFILLINFO* pThis, int nTimerID) {
        TFPdf* pdf = Owner(pThis);
        if (nTimerID == pdf->TimerId() && pdf->FTimer) pdf->FTimer->stop();
    }

    // Runs inside an engine call. The engine is C++ built without exceptions: an
    // exception from the caller's event handler must not unwind through its
    // frames (it would skip the engine's clean-up or end the process), so it
    // stops here.
    static void SetTextFieldFocus(FPDF_FORMFILLINFO* pThis, FPDF_WIDESTRING value, FPDF_DWORD valueLen,
                                  FPDF_BOOL is_focus) {
        try {
            Owner(pThis)->FormFieldFocus(value, valueLen, is_focus);
        } catch (...) {
        }
    }
};

// The ID handed to the engine by FFI_SetTimer, expected back by FFI_KillTimer
// and passed to each tick: the instance's own number (an address does not fit
// the engine's 32-bit ID on this platform).
int TFPdf::TimerId() const { return FTimerId; }

void TFPdf::InitFormFill() {
    if (FFormFill) {
        FFormFillInfo = TPdfFormFillInfo{};
        FFormFillInfo.Pdf = this;
        FFormFillInfo.Info.version = GetXFA() ? 2 : 1;
        FFormFillInfo.Info.FFI_Invalidate = &FormFillCallbacks::Invalidate;
        FFormFillInfo.Info.FFI_SetTimer = &FormFillCallbacks::SetTimer;
        FFormFillInfo.Info.FFI_KillTimer = &FormFillCallbacks::KillTimer;
        FFormFillInfo.Info.FFI_SetTextFieldFocus = &FormFillCallbacks::SetTextFieldFocus;
        FFormHandle = FPDFDOC_InitFormFillEnvironment(FDocument, &FFormFillInfo.Info);
        // This call does not report through the engine's last-error code.
        CheckResult(FFormHandle != nullptr, QStringLiteral("Cannot initialize form fill environment"));
        SetStandardFieldHighlight(FFormHandle);
        FORM_DoDocumentJSAction(FFormHandle);
        FORM_DoDocumentOpenAction(FFormHandle);
    }
    if (GetXFA()) {
        const TPdfFormType type = GetFormType();
        if (type == TPdfFormType::ftXfaFull || type == TPdfFormType::ftXfaForeground) FPDF_LoadXFA(FDocument);
    }
}

void TFPdf::ExitFormFill() {
    if (!FFormHandle) return;
    FPDFDOC_ExitFormFillEnvironment(FFormHandle);
    FFormHandle = nullptr;
}

// The engine builds its form view of a page (every annotation parsed, and
// appearances generated where missing) when the page is announced, and keeps
// it until the page is withdrawn. That costs time and memory, and on some
// damaged annotations never ends, so a page is announced only once something
// needs the form view: field descriptions and look-ups, form drawing, and a
// caller who takes the raw form handle.
FPDF_FORMHANDLE TFPdf::PageForm() const {
    if (FFormHandle && FPage && !FPageAnnounced) {
        const TReportScope reports(this);  // unsupported annotations are reported here
        FORM_OnAfterLoadPage(FPage, FFormHandle);
        FPageAnnounced = true;
    }
    return FFormHandle;
}

void TFPdf::WithdrawPage() {
    if (!FPageAnnounced) return;
    FPageAnnounced = false;
    if (FFormHandle && FPage) FORM_OnBeforeClosePage(FPage, FFormHandle);
}

void* TFPdf::GetFormHandle() const {
    const EngineLock lock;
    return PageForm();
}

void TFPdf::TimerTick() {
    const EngineLock lock;
    if (FTimerCallback) FTimerCallback(TimerId());
}

void TFPdf::FormFieldFocus(FPDF_WIDESTRING Value, FPDF_DWORD ValueLen, FPDF_BOOL IsFocus) {
    if (FQuietFocus) return;
    if (IsFocus != 0) {
        if (!OnFormFieldEnter) return;
        QString text;
        if (ValueLen > 0 && Value) text = QString::fromUtf16(reinterpret_cast<const char16_t*>(Value), qsizetype(ValueLen));
        OnFormFieldEnter(this, text);
    } else if (OnFormFieldExit) {
        OnFormFieldExit(this);
    }
}

TPdfFormType TFPdf::GetFormType() {
    const EngineLock lock;
    CheckActive();
    return FormTypeFromEngine(FPDF_GetFormType(FDocument));
}

bool TFPdf::GetXFA() const {
    const EngineLock lock;
    return EngineLoaded() && FPDF_XFA() != 0;
}

}  // namespace kestrune
