#include "support/PdfEncryption.h"

#include <QCryptographicHash>
#include <utility>

#include "support/PdfBuilder.h"

namespace testing_support {

namespace {

// Pads or cuts a password to 32 bytes with the handler's fixed padding.
QByteArray Padded(const QByteArray& Password) {
    static const QByteArray padding =
        QByteArray::fromHex("28BF4E5E4E758A4164004E56FFFA01082E2E00B6D0683E802F0CA9FE6453697A");
    return (Password + padding).left(32);
}

QByteArray Md5(const QByteArray& Data) { return QCryptographicHash::hash(Data, QCryptographicHash::Md5); }

}  // namespace

QByteArray Rc4(const QByteArray& Key, const QByteArray& Data) {
    unsigned char s[256];
    for (int i = 0; i < 256; ++i) s[i] = static_cast<unsigned char>(i);
    for (int i = 0, j = 0; i < 256; ++i) {
        j = (j + s[i] + static_cast<unsigned char>(Key[i % Key.size()])) & 0xFF;
        std::swap(s[i], s[j]);
    }
    QByteArray out = Data;
    for (int n = 0, i = 0, j = 0; n < out.size(); ++n) {
        i = (i + 1) & 0xFF;
        j = (j + s[i]) & 0xFF;
        std::swap(s[i], s[j]);
        out[n] = char(out[n] ^ s[(s[i] + s[j]) & 0xFF]);
    }
    return out;
}

StandardSecurity::StandardSecurity(const QByteArray& UserPassword, const QByteArray& OwnerPassword,
                                   qint32 Permissions, const QByteArray& Id)
    : FPermissions(Permissions), FId(Id) {
    // O: the padded user password, encrypted with a key from the owner password.
    FO = Rc4(Md5(Padded(OwnerPassword)).left(5), Padded(UserPassword));
    // The file key: from the user password, O, P (low byte first) and the ID.
    QByteArray p(4, '\0');
    for (int i = 0; i < 4; ++i) p[i] = char((quint32(Permissions) >> (8 * i)) & 0xFF);
    FFileKey = Md5(Padded(UserPassword) + FO + p + Id).left(5);
    // U: the padding itself, encrypted with the file key.
    FU = Rc4(FFileKey, Padded({}));
}

QByteArray StandardSecurity::ObjectKey(int Number, int Generation) const {
    const char extra[5] = {char(Number & 0xFF), char((Number >> 8) & 0xFF), char((Number >> 16) & 0xFF),
                           char(Generation & 0xFF), char((Generation >> 8) & 0xFF)};
    return Md5(FFileKey + QByteArray(extra, 5)).left(qMin(FFileKey.size() + 5, qsizetype(16)));
}

QByteArray StandardSecurity::Encrypt(int Number, const QByteArray& Data, int Generation) const {
    return Rc4(ObjectKey(Number, Generation), Data);
}

QByteArray StandardSecurity::Dictionary() const {
    return "<< /Filter /Standard /V 1 /R 2 /O <" + FO.toHex() + "> /U <" + FU.toHex() + "> /P " +
           QByteArray::number(FPermissions) + " >>";
}

QByteArray StandardSecurity::TrailerEntries(int EncryptObject) const {
    return "/Encrypt " + QByteArray::number(EncryptObject) + " 0 R /ID [<" + FId.toHex() + "> <" + FId.toHex() +
           ">]";
}

QByteArray PasswordTextPdf(const QByteArray& UserPassword, const QStringList& PageTexts) {
    const StandardSecurity security(UserPassword, "owner", -4, QByteArray::fromHex("0123456789ABCDEF0123456789ABCDEF"));
    PdfBuilder b;
    const int catalog = b.Reserve();
    const int pages = b.Reserve();
    const int font = b.Add("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>");
    QList<int> kids;
    for (const QString& text : PageTexts) {
        const int stream = b.Reserve();
        const QByteArray content = "BT /F1 12 Tf 72 720 Td " + PdfLiteral(text.toLatin1()) + " Tj ET";
        b.SetStream(stream, "<< >>", security.Encrypt(stream, content));
        kids.append(b.AddTextPage(pages, font, stream));
    }
    b.SetPageTree(catalog, pages, kids);
    const int encrypt = b.Add(security.Dictionary());
    return b.Build(catalog, security.TrailerEntries(encrypt), "1.4");
}

}  // namespace testing_support
