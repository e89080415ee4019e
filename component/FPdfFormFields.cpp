// Form-field values and descriptions of the current page, by annotation index
// or by a point on the page. Point look-ups and descriptions go through the
// form environment; a value is the "V" entry of the widget annotation.
// Fields by full name, on any page, are read and filled in through the form
// environment, which knows the field tree (inherited values) and rebuilds
// the widgets' appearances.
#include <QScopeGuard>

#include "component/AnnotationHandle.h"
#include "component/UnsupportedReports.h"
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

// A field's full name and its value as the form environment reads them (the
// value inherited from a parent field where the field has none of its own;
// for a check box or radio button, the export value of the checked widget or "Off").
QString FieldName(FPDF_FORMHANDLE Form, FPDF_ANNOTATION Annot) {
    return ReadFormString([&](FPDF_WCHAR* b, unsigned long n) { return FPDFAnnot_GetFormFieldName(Form, Annot, b, n); });
}

QString FieldValue(FPDF_FORMHANDLE Form, FPDF_ANNOTATION Annot) {
    return ReadFormString([&](FPDF_WCHAR* b, unsigned long n) { return FPDFAnnot_GetFormFieldValue(Form, Annot, b, n); });
}

QString ExportValue(FPDF_FORMHANDLE Form, FPDF_ANNOTATION Annot) {
    return ReadFormString(
        [&](FPDF_WCHAR* b, unsigned long n) { return FPDFAnnot_GetFormFieldExportValue(Form, Annot, b, n); });
}

// The index of the option labelled Label, or -1.
int OptionIndex(FPDF_FORMHANDLE Form, FPDF_ANNOTATION Annot, const QString& Label) {
    const int count = FPDFAnnot_GetOptionCount(Form, Annot);
    for (int i = 0; i < count; ++i)
        if (ReadFormString([&](FPDF_WCHAR* b, unsigned long n) { return FPDFAnnot_GetOptionLabel(Form, Annot, i, b, n); }) ==
            Label)
            return i;
    return -1;
}

const QString kUnknownField = QStringLiteral("Unknown form field");
const QString kCannotSetField = QStringLiteral("Cannot set form field value");
const QString kOff = QStringLiteral("Off");

// What the form environment is sent to fill in a focused field: the engine's
// widget subtype, its control-key flag (FWL_EVENTFLAG_ControlKey) and the
// characters Ctrl+A (select all) and the blank (toggle a check box).
constexpr int kWidgetSubtype = static_cast<int>(TPdfAnnotationSubtype::anWidget);
constexpr int kControlKey = 1 << 1;
constexpr int kSelectAll = 1;
constexpr int kToggle = ' ';

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

// ---- Fields by full name ----------------------------------------------------

FPDF_FORMHANDLE TFPdf::RequireFormEnvironment() const {
    CheckActive();
    CheckResult(FFormHandle != nullptr, QStringLiteral("Cannot perform this operation without a form environment"));
    return FFormHandle;
}

// Finds the first widget, in page and annotation order, of field FullName
// that Accept takes (any, without Accept) and hands it to Use with its page
// while both are open. False when there is none.
//
// A page holding a widget of the field is announced to the form environment
// first: the engine answers for a widget's state (checked, export value) and
// takes the focus only on a page it knows. The current page stays announced,
// as after any form operation; any other page is withdrawn before it closes.
bool TFPdf::WithFieldWidget(const QString& FullName, const std::function<bool(FPDF_ANNOTATION Annot)>& Accept,
                            const std::function<void(FPDF_PAGE Page, FPDF_ANNOTATION Annot)>& Use) {
    bool found = false;
    ForEachPage([&](FPDF_PAGE Page, int) {
        QList<int> named;
        const int count = FPDFPage_GetAnnotCount(Page);
        for (int i = 0; i < count; ++i) {
            const TAnnotationHandle annot(FPDFPage_GetAnnot(Page, i));
            if (annot && FPDFAnnot_GetSubtype(annot.Get()) == kWidgetSubtype &&
                FieldName(FFormHandle, annot.Get()) == FullName)
                named.append(i);
        }
        if (named.isEmpty()) return true;
        if (Page == FPage) {
            PageForm();
        } else {
            const TReportScope reports(this);
            FORM_OnAfterLoadPage(Page, FFormHandle);
        }
        const auto withdraw = qScopeGuard([&] {
            if (Page != FPage) FORM_OnBeforeClosePage(Page, FFormHandle);
        });
        for (int i : named) {
            const TAnnotationHandle annot(FPDFPage_GetAnnot(Page, i));
            if (!annot || (Accept && !Accept(annot.Get()))) continue;
            found = true;
            Use(Page, annot.Get());
            break;
        }
        return !found;
    });
    return found;
}

// Focuses the widget, runs Entry (the keys or selection sent to it) and takes
// the focus away again, which makes the form environment store the value and
// rebuild the appearance of every widget of the field.
void TFPdf::EnterFieldValue(FPDF_ANNOTATION Annot, const std::function<void()>& Entry) {
    FQuietFocus = true;
    const auto speak = qScopeGuard([&] { FQuietFocus = false; });
    // A field hidden from the user takes no focus.
    CheckResult(FORM_SetFocusedAnnot(FFormHandle, Annot) != 0, kCannotSetField);
    const auto leave = qScopeGuard([&] { FORM_ForceToKillFocus(FFormHandle); });
    Entry();
}

QString TFPdf::GetFieldValue(const QString& FullName) {
    const EngineLock lock;
    const FPDF_FORMHANDLE form = RequireFormEnvironment();
    QString value;
    const bool found = WithFieldWidget(FullName, {}, [&](FPDF_PAGE, FPDF_ANNOTATION Annot) { value = FieldValue(form, Annot); });
    CheckResult(found, kUnknownField);
    return value;
}

void TFPdf::SetFieldValue(const QString& FullName, const QString& Value) {
    const EngineLock lock;
    const FPDF_FORMHANDLE form = RequireFormEnvironment();
    TPdfFormFieldType type = TPdfFormFieldType::fiUnknown;
    TPdfFormFieldFlags flags;
    QString before;
    CheckResult(WithFieldWidget(FullName, {},
                                [&](FPDF_PAGE, FPDF_ANNOTATION Annot) {
                                    type = FieldTypeFromEngine(FPDFAnnot_GetFormFieldType(form, Annot));
                                    flags = FieldFlagsFromEngine(FPDFAnnot_GetFormFieldFlags(form, Annot));
                                    before = FieldValue(form, Annot);
                                }),
                kUnknownField);
    // The form environment would let text be typed into a read-only field.
    CheckResult(!flags.Contains(TPdfFormFieldFlag::ffReadOnly), kCannotSetField);
    const bool editable = flags.Contains(TPdfFormFieldFlag::ffChoiceEdit);

    // Typing into the field: everything selected, then replaced by Text.
    const auto typeText = [&](FPDF_PAGE Page, FPDF_ANNOTATION Annot, const QString& Text) {
        EnterFieldValue(Annot, [&] {
            FORM_OnChar(form, Page, kSelectAll, kControlKey);
            FORM_ReplaceSelection(form, Page, strings::WideArg(Text));
        });
    };
    // Value typed in; a value the field cut (its maximum length) or its own
    // formatting changed is not what was asked, and the old one returns.
    const auto typeValue = [&](FPDF_PAGE Page, FPDF_ANNOTATION Annot) {
        typeText(Page, Annot, Value);
        if (FieldValue(form, Annot) == Value) return true;
        typeText(Page, Annot, before);
        return false;
    };
    bool taken = false;
    switch (type) {
        case TPdfFormFieldType::fiTextField:
            WithFieldWidget(FullName, {}, [&](FPDF_PAGE Page, FPDF_ANNOTATION Annot) { taken = typeValue(Page, Annot); });
            break;
        case TPdfFormFieldType::fiComboBox:
        case TPdfFormFieldType::fiListBox:
            WithFieldWidget(FullName, {}, [&](FPDF_PAGE Page, FPDF_ANNOTATION Annot) {
                const int option = OptionIndex(form, Annot, Value);
                if (option >= 0) {
                    EnterFieldValue(Annot, [&] { FORM_SetIndexSelected(form, Page, option, 1); });
                    taken = FPDFAnnot_IsOptionSelected(form, Annot, option) != 0;
                } else if (editable) {
                    taken = typeValue(Page, Annot);
                }
            });
            break;
        case TPdfFormFieldType::fiCheckBox:
        case TPdfFormFieldType::fiRadioButton: {
            // The widget to toggle: the one whose export value is Value, when
            // it is off; for "Off", the check box that is on. Nothing to do
            // when the field already has the value.
            if (before == Value) {
                taken = true;
                break;
            }
            const bool off = Value == kOff && type == TPdfFormFieldType::fiCheckBox;
            WithFieldWidget(
                FullName,
                [&](FPDF_ANNOTATION Annot) {
                    const bool checked = FPDFAnnot_IsChecked(form, Annot) != 0;
                    return off ? checked : !checked && ExportValue(form, Annot) == Value;
                },
                [&](FPDF_PAGE Page, FPDF_ANNOTATION Annot) {
                    EnterFieldValue(Annot, [&] { FORM_OnChar(form, Page, kToggle, 0); });
                    taken = FieldValue(form, Annot) == Value;
                });
            break;
        }
        default:  // push buttons and signatures hold no value to set
            break;
    }
    CheckResult(taken, kCannotSetField);
}

}  // namespace kestrune
