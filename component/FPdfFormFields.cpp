// Form-field values and descriptions of the current page, by annotation index
// or by a point on the page. Point look-ups and descriptions go through the
// form environment; a value is the "V" entry of the widget annotation.
#include "component/AnnotationHandle.h"
#include <kestrune/FPdf.h>
#include <kestrune/PdfError.h>

namespace kestrune {

using namespace engine;

namespace {

constexpr int kLastFieldTypeCode = static_cast<int>(TPdfFormFieldType::fiSignature);

TPdfFormFieldType FieldTypeFromEngine(int Code) {
    if (Code < 0 || Code > kLastFieldTypeCode) return TPdfFormFieldType::fiUnknown;
    return static_cast<TPdfFormFieldType>(Code);
}

// Engine field-flag bits and the members they map to; every other bit is dropped.
struct FieldFlagBit {
    int EngineValue;
    TPdfFormFieldFlag Flag;
};
constexpr FieldFlagBit kFieldFlagBits[] = {
    {0x1, TPdfFormFieldFlag::ffReadOnly},          {0x2, TPdfFormFieldFlag::ffRequired},
    {0x4, TPdfFormFieldFlag::ffNoExport},          {0x1000, TPdfFormFieldFlag::ffMultiline},
    {0x20000, TPdfFormFieldFlag::ffChoiceCombo},   {0x40000, TPdfFormFieldFlag::ffChoiceEdit},
};

TPdfFormFieldFlags FieldFlagsFromEngine(int Bits) {
    TPdfFormFieldFlags flags;
    for (const FieldFlagBit& f : kFieldFlagBits)
        if (Bits & f.EngineValue) flags.Include(f.Flag);
    return flags;
}

// A UTF-16 text of the form environment read by the two-call protocol.
template <typename Getter>
QString ReadFormString(Getter Get) {
    return strings::ReadUtf16Bytes(
        [&](void* Buffer, unsigned long Length) { return Get(static_cast<FPDF_WCHAR*>(Buffer), Length); });
}

void ReadFieldInfo(FPDF_FORMHANDLE Form, FPDF_ANNOTATION Annot, TPdfFormFieldInfo& Info) {
    Info.Name = ReadFormString(
        [&](FPDF_WCHAR* b, unsigned long n) { return FPDFAnnot_GetFormFieldName(Form, Annot, b, n); });
    Info.AlternateName = ReadFormString(
        [&](FPDF_WCHAR* b, unsigned long n) { return FPDFAnnot_GetFormFieldAlternateName(Form, Annot, b, n); });
    Info.FieldType = FieldTypeFromEngine(FPDFAnnot_GetFormFieldType(Form, Annot));
    Info.Flags = FieldFlagsFromEngine(FPDFAnnot_GetFormFieldFlags(Form, Annot));

    Info.OptionLabels.clear();
    Info.OptionSelected.clear();
    const int options = FPDFAnnot_GetOptionCount(Form, Annot);
    if (options > 0) {
        Info.OptionLabels.resize(options);
        Info.OptionSelected.resize(options);
        for (int i = 0; i < options; ++i) {
            Info.OptionLabels[i] = ReadFormString(
                [&](FPDF_WCHAR* b, unsigned long n) { return FPDFAnnot_GetOptionLabel(Form, Annot, i, b, n); });
            Info.OptionSelected[i] = FPDFAnnot_IsOptionSelected(Form, Annot, i) != 0;
        }
    }

    float size = 0;
    Info.FontSize = FPDFAnnot_GetFontSize(Form, Annot, &size) ? size : -1.0f;
    Info.Checked = FPDFAnnot_IsChecked(Form, Annot) != 0;
    Info.ExportValue = ReadFormString(
        [&](FPDF_WCHAR* b, unsigned long n) { return FPDFAnnot_GetFormFieldExportValue(Form, Annot, b, n); });
    Info.GroupCount = FPDFAnnot_GetFormControlCount(Form, Annot);
    Info.GroupIndex = FPDFAnnot_GetFormControlIndex(Form, Annot);
}

void WriteFieldValue(FPDF_ANNOTATION Annot, const QString& Value) {
    CheckResult(FPDFAnnot_SetStringValue(Annot, kValueKey, AnnotationTextArg(Value)) != 0,
                QStringLiteral("Cannot set form field value"));
}

// The annotation behind field Index, checked against Count. Callers run the
// page guard and refuse a negative index before they ask the engine for Count.
FPDF_ANNOTATION OpenIndexedField(FPDF_PAGE Page, int Index, int Count) {
    CheckResult(Index >= 0 && Index < Count, QStringLiteral("Incorrect index"));
    FPDF_ANNOTATION annot = FPDFPage_GetAnnot(Page, Index);
    CheckResult(annot != nullptr, QStringLiteral("Cannot retrieve annotation"));
    return annot;
}

// The form handle goes to the engine as it is: without a form environment it
// is nil and the engine finds no field anywhere.
FPDF_ANNOTATION FieldAnnotationAt(FPDF_FORMHANDLE Form, FPDF_PAGE Page, float X, float Y) {
    const FS_POINTF point{X, Y};
    return FPDFAnnot_GetFormFieldAtPoint(Form, Page, &point);
}

}  // namespace

int TFPdf::GetFormFieldCount() { return GetAnnotationCount(); }

QString TFPdf::GetFormField(int Index) {
    const EngineLock lock;
    CheckPageActive();
    CheckResult(Index >= 0, QStringLiteral("Incorrect index"));
    const TAnnotationHandle annot(OpenIndexedField(FPage, Index, GetFormFieldCount()));
    return ReadAnnotationString(annot.Get(), kValueKey);
}

void TFPdf::SetFormField(int Index, const QString& Value) {
    const EngineLock lock;
    CheckPageActive();
    CheckResult(Index >= 0, QStringLiteral("Incorrect index"));
    const TAnnotationHandle annot(OpenIndexedField(FPage, Index, GetFormFieldCount()));
    WriteFieldValue(annot.Get(), Value);
}

TPdfFormFieldInfo TFPdf::GetFormFieldInfo(int Index) {
    const EngineLock lock;
    CheckPageActive();
    CheckResult(Index >= 0, QStringLiteral("Incorrect index"));
    const TAnnotationHandle annot(OpenIndexedField(FPage, Index, GetFormFieldCount()));
    TPdfFormFieldInfo info;
    ReadFieldInfo(PageForm(), annot.Get(), info);
    return info;
}

QString TFPdf::GetFormFieldAt(float X, float Y) {
    const EngineLock lock;
    CheckPageActive();
    const TAnnotationHandle annot(FieldAnnotationAt(PageForm(), FPage, X, Y));
    CheckResult(bool(annot), QStringLiteral("Incorrect position"));
    return ReadAnnotationString(annot.Get(), kValueKey);
}

void TFPdf::SetFormFieldAt(float X, float Y, const QString& Value) {
    const EngineLock lock;
    CheckPageActive();
    const TAnnotationHandle annot(FieldAnnotationAt(PageForm(), FPage, X, Y));
    CheckResult(bool(annot), QStringLiteral("Incorrect position"));
    WriteFieldValue(annot.Get(), Value);
}

bool TFPdf::GetHasFormFieldAt(float X, float Y) {
    const EngineLock lock;
    CheckPageActive();
    const TAnnotationHandle annot(FieldAnnotationAt(PageForm(), FPage, X, Y));
    return bool(annot);
}

TPdfFormFieldInfo TFPdf::GetFormFieldInfoAt(float X, float Y) {
    const EngineLock lock;
    CheckPageActive();
    const TAnnotationHandle annot(FieldAnnotationAt(PageForm(), FPage, X, Y));
    CheckResult(bool(annot), QStringLiteral("Incorrect position"));
    TPdfFormFieldInfo info;
    ReadFieldInfo(PageForm(), annot.Get(), info);
    return info;
}

}  // namespace kestrune
