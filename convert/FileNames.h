// File names as the system has them: bytes. A name that is not UTF-8 still
// names its file, so names travel through the program as QStrings in which
// each byte that is not part of valid UTF-8 stands as U+DC80..U+DCFF (the
// byte's value plus 0xDC00), the convention Python calls "surrogateescape".
// EncodeName gives the exact bytes back; Qt's own QFile::encodeName would
// turn such a byte into U+FFFD and name another file.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace kestrune {

// The name for bytes read from the system (arguments, lists, folders).
QString DecodeName(QByteArrayView Bytes);
// The bytes to hand to the system for a name made by DecodeName.
QByteArray EncodeName(const QString& Name);

// The name as it appears in messages: as it is when it holds only printable
// characters and nothing a reader could take for the message around it;
// otherwise in single quotes, with control characters, bytes that are not
// UTF-8, backslashes and quotes written as escapes (\n, \t, \xE9, \\, \').
QString ShownName(const QString& Name);

}  // namespace kestrune
