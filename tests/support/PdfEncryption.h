// Encrypts fixtures with the standard security handler, revision 2 (40-bit
// RC4), so that tests can build password-protected documents themselves.
#pragma once

#include <QByteArray>
#include <QStringList>

namespace testing_support {

// RC4 with the given key; encrypting and decrypting are the same operation.
QByteArray Rc4(const QByteArray& Key, const QByteArray& Data);

// The values of a document encrypted for a user and an owner password, a
// permission word and a file identifier.
class StandardSecurity {
public:
    StandardSecurity(const QByteArray& UserPassword, const QByteArray& OwnerPassword, qint32 Permissions,
                     const QByteArray& Id);

    // The /O and /U entries and the 5-byte file key they derive from.
    const QByteArray& O() const { return FO; }
    const QByteArray& U() const { return FU; }
    const QByteArray& FileKey() const { return FFileKey; }
    // The key for the strings and streams of one object.
    QByteArray ObjectKey(int Number, int Generation = 0) const;
    // Data of that object, encrypted (RC4 with its object key).
    QByteArray Encrypt(int Number, const QByteArray& Data, int Generation = 0) const;

    // The encryption dictionary, for an object of the document.
    QByteArray Dictionary() const;
    // The trailer entries /Encrypt and /ID, given the dictionary's object number.
    QByteArray TrailerEntries(int EncryptObject) const;

private:
    qint32 FPermissions;
    QByteArray FId, FO, FU, FFileKey;
};

// A document that opens only with UserPassword (the owner password "owner"),
// one page per text, each shown in Helvetica (Latin-1 text) and encrypted.
QByteArray PasswordTextPdf(const QByteArray& UserPassword, const QStringList& PageTexts);

}  // namespace testing_support
