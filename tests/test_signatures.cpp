// Signatures: the records as the engine reports them, index errors, and a
// document without signatures.
#include <gtest/gtest.h>

#include <kestrune/FPdf.h>
#include "support/PdfBuilder.h"
#include "support/TestHelpers.h"

using namespace kestrune;
using testing_support::ExpectError;
using testing_support::PdfBuilder;

namespace {

// Two signature fields: the first with contents, a sub-filter whose name holds
// the byte 0xE9, a UTF-16 reason, a signing time and a DocMDP reference; the
// second with nothing but its type.
QByteArray TwoSignaturesPdf() {
    PdfBuilder b;
    const int catalog = b.Reserve();
    const int pages = b.Reserve();
    const int page = b.Reserve();
    const int sig1 = b.Add(
        "<< /Type /Sig /Filter /Adobe.PPKLite /SubFilter /adbe.pkcs7.d#E9tached"
        " /Contents <3082000A0102FF00> /ByteRange [0 10 20 30]"
        " /Reason " + testing_support::PdfUtf16Hex(QStringLiteral("Approved \u00e0 \u4e2d")) +
        " /M (D:20240102030405+01'00')"
        " /Reference [ << /Type /SigRef /TransformMethod /DocMDP /TransformParams << /Type /TransformParams /P 2 /V /1.2 >> >> ] >>");
    const int sig2 = b.Add("<< /Type /Sig /Filter /Adobe.PPKLite >>");
    const int field1 = b.Add("<< /FT /Sig /T (Sig1) /V " + QByteArray::number(sig1) +
                             " 0 R /Type /Annot /Subtype /Widget /Rect [0 0 0 0] /P " + QByteArray::number(page) +
                             " 0 R >>");
    const int field2 = b.Add("<< /FT /Sig /T (Sig2) /V " + QByteArray::number(sig2) +
                             " 0 R /Type /Annot /Subtype /Widget /Rect [0 0 0 0] /P " + QByteArray::number(page) +
                             " 0 R >>");
    const QByteArray fields = QByteArray::number(field1) + " 0 R " + QByteArray::number(field2) + " 0 R";
    b.Set(page, "<< /Type /Page /Parent " + QByteArray::number(pages) + " 0 R /MediaBox [0 0 200 200] /Annots [" +
                    fields + "] >>");
    b.SetPageTree(catalog, pages, {page}, "/AcroForm << /Fields [" + fields + "] /SigFlags 3 >>");
    return b.Build(catalog);
}

}  // namespace

TEST(Signatures, RecordsCarryWhatTheEngineReports) {
    TFPdf pdf;
    pdf.LoadDocument(TwoSignaturesPdf(), true);
    ASSERT_EQ(pdf.GetSignatureCount(), 2);

    const TPdfSignature first = pdf.GetSignature(0);
    EXPECT_EQ(first.Content, QByteArray::fromHex("3082000A0102FF00"));
    EXPECT_EQ(first.Encoding, QStringLiteral("adbe.pkcs7.d\u00e9tached"));  // 0xE9 widened through Latin-1
    EXPECT_EQ(first.Reason, QStringLiteral("Approved \u00e0 \u4e2d"));
    EXPECT_EQ(first.Time, QStringLiteral("D:20240102030405+01'00'"));
    EXPECT_EQ(first.Permission, 2);

    // Without contents, sub-filter, reason, time or DocMDP reference: all empty.
    const TPdfSignature second = pdf.GetSignature(1);
    EXPECT_TRUE(second.Content.isEmpty());
    EXPECT_TRUE(second.Encoding.isEmpty());
    EXPECT_TRUE(second.Reason.isEmpty());
    EXPECT_TRUE(second.Time.isEmpty());
    EXPECT_EQ(second.Permission, 0);
}

TEST(Signatures, IndexWithoutSignatureIsRefusedByTheEngine) {
    TFPdf pdf;
    pdf.LoadDocument(TwoSignaturesPdf(), true);
    for (int index : {-1, 2, 1000})
        ExpectError([&] { pdf.GetSignature(index); }, QStringLiteral("Cannot retrieve signature"));
}

TEST(Signatures, DocumentWithoutSignatures) {
    TFPdf pdf;
    pdf.LoadDocument(testing_support::SimpleTextPdf({{QStringLiteral("no signatures here")}}), true);
    EXPECT_EQ(pdf.GetSignatureCount(), 0);
    // The engine's refusal, not an index check of the component's own.
    ExpectError([&] { pdf.GetSignature(0); }, QStringLiteral("Cannot retrieve signature"));
}

TEST(Signatures, NeedAnOpenDocument) {
    TFPdf pdf;
    pdf.SetName(QStringLiteral("FPdf1"));
    const QString inactive = QStringLiteral("Cannot perform this operation on an inactive FPdf1 component");
    ExpectError([&] { pdf.GetSignatureCount(); }, inactive);
    ExpectError([&] { pdf.GetSignature(0); }, inactive);
}
