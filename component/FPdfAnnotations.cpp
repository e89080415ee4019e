// Annotations of the current page as plain records: count, read, change,
// create and delete. Every engine annotation handle opened here is closed
// before the operation returns, also when it raises.
#include <functional>

#include "component/AnnotationHandle.h"
#include "component/EngineRecords.h"
#include <kestrune/FPdf.h>
#include <kestrune/PdfError.h>

namespace kestrune {

using namespace engine;

namespace {

constexpr int kLastSubtypeCode = static_cast<int>(TPdfAnnotationSubtype::anXfaWidget);
// The nine engine flag bits that have a member (bits 0 to 8).
constexpr int kAnnotationFlagMask = 0x1FF;
constexpr FPDFANNOT_COLORTYPE kColor = 0;
constexpr FPDFANNOT_COLORTYPE kInteriorColor = 1;

TPdfAnnotationSubtype SubtypeFromEngine(int Code) {
    if (Code < 0 || Code > kLastSubtypeCode) return TPdfAnnotationSubtype::anUnknown;
    return static_cast<TPdfAnnotationSubtype>(Code);
}

FPDF_ANNOTATION_SUBTYPE SubtypeToEngine(TPdfAnnotationSubtype Subtype) { return static_cast<int>(Subtype); }

// Reads one colour; false (and Color untouched) when the annotation has none.
bool ReadColor(FPDF_ANNOTATION Annot, FPDFANNOT_COLORTYPE Type, TAlphaColor& Color) {
    unsigned int r = 0, g = 0, b = 0, a = 0;
    if (!FPDFAnnot_GetColor(Annot, Type, &r, &g, &b, &a)) return false;
    Color = ColorFromChannels(r, g, b, a);
    return true;
}

bool WriteColor(FPDF_ANNOTATION Annot, FPDFANNOT_COLORTYPE Type, TAlphaColor Color) {
    const TColorChannels c = ColorChannels(Color);
    return FPDFAnnot_SetColor(Annot, Type, c.R, c.G, c.B, c.A) != 0;
}

// The index is checked against the engine's count, asked anew on every call.
void CheckAnnotationIndex(FPDF_PAGE Page, int Index) {
    CheckResult(Index >= 0 && Index < FPDFPage_GetAnnotCount(Page), QStringLiteral("Incorrect index"));
}

void ReadAnnotation(FPDF_PAGE Page, int Index, TPdfAnnotation& Result) {
    CheckAnnotationIndex(Page, Index);
    const TAnnotationHandle annot(FPDFPage_GetAnnot(Page, Index));
    CheckResult(bool(annot), QStringLiteral("Cannot retrieve annotation"));
    FPDF_ANNOTATION a = annot.Get();

    Result = TPdfAnnotation{};
    Result.Subtype = SubtypeFromEngine(FPDFAnnot_GetSubtype(a));
    Result.Flags = TPdfAnnotationFlags::FromBits(std::uint64_t(FPDFAnnot_GetFlags(a) & kAnnotationFlagMask));
    Result.HasColor = ReadColor(a, kColor, Result.Color);
    Result.HasInteriorColor = ReadColor(a, kInteriorColor, Result.InteriorColor);
    if (FPDFAnnot_HasAttachmentPoints(a)) {
        FS_QUADPOINTSF quad{};
        if (FPDFAnnot_GetAttachmentPoints(a, 0, &quad)) {
            Result.HasAttachmentPoints = true;
            Result.AttachmentPoints = QuadFromEngine(quad);
        }
    }
    FS_RECTF rect{};
    CheckResult(FPDFAnnot_GetRect(a, &rect) != 0, QStringLiteral("Cannot retrieve rectangle"));
    Result.Rectangle = RectangleFromEngine(rect);
    Result.ContentsText = ReadAnnotationString(a, kContentsKey);
    Result.AuthorText = ReadAnnotationString(a, kAuthorKey);
}

// Writes the record into an open annotation, step by step; the first failing
// step raises and the steps before it stay applied.
void WriteAnnotation(FPDF_ANNOTATION Annot, const TPdfAnnotation& Value) {
    CheckResult(FPDFAnnot_SetFlags(Annot, int(Value.Flags.Bits() & kAnnotationFlagMask)) != 0,
                QStringLiteral("Cannot set flags"));
    if (Value.HasColor)
        CheckResult(WriteColor(Annot, kColor, Value.Color), QStringLiteral("Cannot set color"));
    if (Value.HasInteriorColor)
        CheckResult(WriteColor(Annot, kInteriorColor, Value.InteriorColor), QStringLiteral("Cannot set interior color"));
    if (Value.HasAttachmentPoints) {
        const FS_QUADPOINTSF quad = QuadToEngine(Value.AttachmentPoints);
        // The engine sets only a quadrilateral that exists: a new annotation
        // gets its first one appended instead.
        const bool written = FPDFAnnot_CountAttachmentPoints(Annot) == 0
                                 ? FPDFAnnot_AppendAttachmentPoints(Annot, &quad) != 0
                                 : FPDFAnnot_SetAttachmentPoints(Annot, 0, &quad) != 0;
        CheckResult(written, QStringLiteral("Cannot set attachment points"));
    }
    const FS_RECTF rect = RectangleToEngine(Value.Rectangle);
    CheckResult(FPDFAnnot_SetRect(Annot, &rect) != 0, QStringLiteral("Cannot set rectangle"));
    CheckResult(FPDFAnnot_SetStringValue(Annot, kContentsKey, AnnotationTextArg(Value.ContentsText)) != 0,
                QStringLiteral("Cannot set contents text"));
    CheckResult(FPDFAnnot_SetStringValue(Annot, kAuthorKey, AnnotationTextArg(Value.AuthorText)) != 0,
                QStringLiteral("Cannot set author text"));
}

// Changing runs once the page is about to change: after the checks that
// refuse an operation whole, before its first write.
void ModifyAnnotation(FPDF_PAGE Page, int Index, const TPdfAnnotation& Value, const std::function<void()>& Changing) {
    CheckAnnotationIndex(Page, Index);
    const TAnnotationHandle annot(FPDFPage_GetAnnot(Page, Index));
    CheckResult(bool(annot), QStringLiteral("Cannot retrieve annotation"));
    // The subtype of an existing annotation is never changed.
    CheckResult(SubtypeFromEngine(FPDFAnnot_GetSubtype(annot.Get())) == Value.Subtype,
                QStringLiteral("Incorrect annotation subtype"));
    Changing();
    WriteAnnotation(annot.Get(), Value);
}

void AppendAnnotation(FPDF_PAGE Page, const TPdfAnnotation& Value, const std::function<void()>& Changing) {
    const FPDF_ANNOTATION_SUBTYPE subtype = SubtypeToEngine(Value.Subtype);
    CheckResult(FPDFAnnot_IsSupportedSubtype(subtype) != 0, QStringLiteral("Unsupported annotation subtype"));
    const TAnnotationHandle annot(FPDFPage_CreateAnnot(Page, subtype));
    CheckResult(bool(annot), QStringLiteral("Cannot create annotation"));
    // The new annotation stays on the page even when writing it fails.
    Changing();
    WriteAnnotation(annot.Get(), Value);
}

void RemoveAnnotation(FPDF_PAGE Page, int Index) {
    CheckAnnotationIndex(Page, Index);
    // The engine's last-error code says nothing about this call: own message only.
    CheckResult(FPDFPage_RemoveAnnot(Page, Index) != 0, QStringLiteral("Cannot delete annotation"));
}

}  // namespace

int TFPdf::GetAnnotationCount() {
    const EngineLock lock;
    CheckPageActive();
    return FPDFPage_GetAnnotCount(FPage);
}

TPdfAnnotation TFPdf::GetAnnotation(int Index) {
    const EngineLock lock;
    CheckPageActive();
    TPdfAnnotation result;
    ReadAnnotation(FPage, Index, result);
    return result;
}

// The page's link records (FPdfNavigation.cpp) are retired by every change
// that can free a link's engine memory or alter what its record holds. The
// engine's link enumeration and the annotation subtype disagree on some
// documents (a subtype written as a string is a link to the one, unknown to
// the other), so a deletion or a write retires them whatever the subtype
// reads; a creation only when it makes a link.
void TFPdf::SetAnnotation(int Index, const TPdfAnnotation& Value) {
    const EngineLock lock;
    CheckPageActive();
    ModifyAnnotation(FPage, Index, Value, [this] { RetireLinkAnnotations(); });
}

void TFPdf::CreateAnnotation(const TPdfAnnotation& Annotation) {
    const EngineLock lock;
    CheckPageActive();
    AppendAnnotation(FPage, Annotation, [&] {
        if (Annotation.Subtype == TPdfAnnotationSubtype::anLink) RetireLinkAnnotations();
    });
}

void TFPdf::DeleteAnnotation(int Index) {
    const EngineLock lock;
    CheckPageActive();
    RemoveAnnotation(FPage, Index);
    RetireLinkAnnotations();
}

}  // namespace kestrune
