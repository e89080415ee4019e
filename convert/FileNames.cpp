#include "convert/FileNames.h"

namespace kestrune {

namespace {

constexpr char16_t EscapeBase = 0xDC00;

bool IsEscapedByte(char16_t c) { return c >= 0xDC80 && c <= 0xDCFF; }

// The length of the valid UTF-8 sequence at Bytes[i], 0 when none starts there
// (overlong forms, surrogates and values past U+10FFFF are not valid).
int SequenceLength(QByteArrayView Bytes, qsizetype i) {
    const auto at = [&](qsizetype k) { return static_cast<unsigned char>(Bytes[k]); };
    const unsigned char c = at(i);
    if (c < 0x80) return 1;
    int length = 0;
    unsigned char low = 0x80, high = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) length = 2;
    else if (c >= 0xE0 && c <= 0xEF) {
        length = 3;
        if (c == 0xE0) low = 0xA0;
        if (c == 0xED) high = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        length = 4;
        if (c == 0xF0) low = 0x90;
        if (c == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (i + length > Bytes.size()) return 0;
    if (at(i + 1) < low || at(i + 1) > high) return 0;
    for (int k = 2; k < length; ++k)
        if (at(i + k) < 0x80 || at(i + k) > 0xBF) return 0;
    return length;
}

}  // namespace

QString DecodeName(QByteArrayView Bytes) {
    QString name;
    name.reserve(Bytes.size());
    for (qsizetype i = 0; i < Bytes.size();) {
        const int length = SequenceLength(Bytes, i);
        if (length == 0) {
            name.append(QChar(char16_t(EscapeBase + static_cast<unsigned char>(Bytes[i]))));
            ++i;
            continue;
        }
        name.append(QString::fromUtf8(Bytes.sliced(i, length)));
        i += length;
    }
    return name;
}

QByteArray EncodeName(const QString& Name) {
    QByteArray bytes;
    bytes.reserve(Name.size());
    qsizetype start = 0;  // the first unit not yet encoded
    for (qsizetype i = 0; i <= Name.size(); ++i) {
        if (i < Name.size() && !IsEscapedByte(Name[i].unicode())) continue;
        bytes += QStringView(Name).sliced(start, i - start).toUtf8();
        if (i < Name.size()) bytes += char(Name[i].unicode() - EscapeBase);
        start = i + 1;
    }
    return bytes;
}

QString ShownName(const QString& Name) {
    bool plain = !Name.isEmpty();
    for (const QChar c : Name)
        if (!c.isPrint() || c == QLatin1Char('\'') || c == QLatin1Char('\\') || (c.isSpace() && c != QLatin1Char(' ')))
            plain = false;
    if (plain && !Name.startsWith(QLatin1Char(' ')) && !Name.endsWith(QLatin1Char(' '))) return Name;
    QString shown = QStringLiteral("'");
    for (qsizetype i = 0; i < Name.size(); ++i) {
        const char16_t c = Name[i].unicode();
        switch (c) {
        case '\n': shown += QLatin1String("\\n"); continue;
        case '\t': shown += QLatin1String("\\t"); continue;
        case '\r': shown += QLatin1String("\\r"); continue;
        case '\\': shown += QLatin1String("\\\\"); continue;
        case '\'': shown += QLatin1String("\\'"); continue;
        default: break;
        }
        if (IsEscapedByte(c)) {
            shown += QLatin1String("\\x") + QString::number(int(c - EscapeBase), 16).toUpper();
            continue;
        }
        // A pair of surrogates is one printable character; anything else that
        // does not print (controls, format characters, lone surrogates) is escaped.
        if (QChar::isHighSurrogate(c) && i + 1 < Name.size() && Name[i + 1].isLowSurrogate()) {
            shown += Name.mid(i, 2);
            ++i;
            continue;
        }
        if (!QChar(c).isPrint() && c != ' ')
            shown += c < 0x100 ? QStringLiteral("\\x%1").arg(int(c), 2, 16, QLatin1Char('0'))
                               : QStringLiteral("\\u%1").arg(int(c), 4, 16, QLatin1Char('0'));
        else
            shown += QChar(c);
    }
    return shown + QLatin1Char('\'');
}

}  // namespace kestrune
