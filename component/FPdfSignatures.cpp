// The document's digital signatures, read as the engine reports them. Nothing
// is verified and nothing is cached: every access asks the engine anew.
#include "component/EngineStrings.h"
#include <kestrune/FPdf.h>
#include <kestrune/PdfError.h>

namespace kestrune {

using namespace engine;

int TFPdf::GetSignatureCount() {
    const EngineLock lock;
    CheckActive();
    return FPDF_GetSignatureCount(FDocument);
}

TPdfSignature TFPdf::GetSignature(int Index) {
    const EngineLock lock;
    CheckActive();
    // No index check of our own: the engine answers nil for every index it has
    // no signature for, negative ones included.
    FPDF_SIGNATURE signature = FPDF_GetSignatureObject(FDocument, Index);
    CheckResult(signature != nullptr, QStringLiteral("Cannot retrieve signature"));

    TPdfSignature result;
    // Sizes are 32-bit: one with the top bit set counts as none.
    const qint32 contentSize = qint32(FPDFSignatureObj_GetContents(signature, nullptr, 0));
    if (contentSize > 0) {
        result.Content.resize(contentSize);
        FPDFSignatureObj_GetContents(signature, result.Content.data(), static_cast<unsigned long>(contentSize));
    }
    result.Encoding = strings::FromLatin1(strings::ReadByteString([&](void* Buffer, unsigned long Length) {
        return qint32(FPDFSignatureObj_GetSubFilter(signature, static_cast<char*>(Buffer), Length));
    }));
    result.Reason = strings::ReadUtf16Bytes([&](void* Buffer, unsigned long Length) {
        return qint32(FPDFSignatureObj_GetReason(signature, Buffer, Length));
    });
    result.Time = strings::FromLatin1(strings::ReadByteString([&](void* Buffer, unsigned long Length) {
        return qint32(FPDFSignatureObj_GetTime(signature, static_cast<char*>(Buffer), Length));
    }));
    result.Permission = int(FPDFSignatureObj_GetDocMDPPermission(signature));
    return result;
}

}  // namespace kestrune
