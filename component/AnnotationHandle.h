// An engine annotation handle that is closed on every way out of the scope that
// opened it, shared by the annotation and form-field operations.
#pragma once

#include <QString>

#include "component/EngineStrings.h"
#include <kestrune/Engine.h>
#include "engine/ScopedHandle.h"

namespace kestrune {

// The annotation keys whose string values the component reads and writes.
inline constexpr FPDF_BYTESTRING kContentsKey = "Contents";
inline constexpr FPDF_BYTESTRING kAuthorKey = "T";
inline constexpr FPDF_BYTESTRING kValueKey = "V";

// A text for FPDFAnnot_SetStringValue: the string's own zero-terminated UTF-16
// buffer, or a null pointer for the empty string (the engine stores an empty value).
inline FPDF_WIDESTRING AnnotationTextArg(const QString& Text) {
    return Text.isEmpty() ? nullptr : strings::WideArg(Text);
}

// Reads a string entry of an annotation under the two-call protocol (UTF-16LE
// counted in bytes); empty when the entry is absent or empty.
inline QString ReadAnnotationString(FPDF_ANNOTATION Annot, FPDF_BYTESTRING Key) {
    return strings::ReadUtf16Bytes([&](void* Buffer, unsigned long Length) {
        return engine::FPDFAnnot_GetStringValue(Annot, Key, static_cast<FPDF_WCHAR*>(Buffer), Length);
    });
}

using TAnnotationHandle = ScopedAnnotation;

}  // namespace kestrune
