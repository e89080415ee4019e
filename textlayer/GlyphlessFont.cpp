#include "textlayer/GlyphlessFont.h"

#include <QMap>
#include <QtEndian>
#include <cmath>

#include <kestrune/PdfError.h>

namespace kestrune::textlayer {

namespace {

// The program's units: 1000 to the em, so that the widths, ascent and descent
// the engine writes into the document (in thousandths of an em) come out whole.
constexpr int kUnitsPerEm = 1000;
constexpr int Units(double Em) { return int(Em * kUnitsPerEm); }

// The repertoire: the space, then the rest of the Basic Multilingual Plane's
// characters, surrogates and the last two non-characters left out. The space
// has glyph 1; glyph 2 stays unmapped, so that the space's code stands apart
// from the others and the engine's width array keeps one range of the
// common width for them all.
struct TRange {
    char32_t First, Last;
    quint16 FirstGlyph;
};
constexpr TRange kRanges[] = {
    {0x20, 0x20, 1},
    {0x21, 0xD7FF, 3},
    {0xE000, 0xFFFD, 3 + (0xD7FF - 0x21 + 1)},
};
constexpr int kGlyphCount = 3 + (0xD7FF - 0x21 + 1) + (0xFFFD - 0xE000 + 1);
static_assert(kGlyphCount <= 0xFFFF);

bool Settable(char32_t C) {
    for (const TRange& range : kRanges)
        if (C >= range.First && C <= range.Last) return true;
    return false;
}

void Put16(QByteArray& Table, int Offset, qint32 Value) {
    qToBigEndian(quint16(Value), reinterpret_cast<uchar*>(Table.data()) + Offset);
}

void Append16(QByteArray& Out, qint32 Value) {
    const uchar bytes[2] = {uchar(quint16(Value) >> 8), uchar(Value & 0xFF)};
    Out.append(reinterpret_cast<const char*>(bytes), 2);
}

void Append32(QByteArray& Out, quint32 Value) {
    Append16(Out, qint32(Value >> 16));
    Append16(Out, qint32(Value & 0xFFFF));
}

quint32 Checksum(const QByteArray& Data) {
    quint32 sum = 0;
    for (qsizetype i = 0; i < Data.size(); i += 4) {
        quint32 word = 0;
        for (int k = 0; k < 4; ++k) word = (word << 8) | (i + k < Data.size() ? uchar(Data[i + k]) : 0);
        sum += word;
    }
    return sum;
}

// The tables of an sfnt file by tag; empty when the file is none.
QMap<QByteArray, QByteArray> ReadTables(const QByteArray& Font) {
    QMap<QByteArray, QByteArray> tables;
    const auto* data = reinterpret_cast<const uchar*>(Font.constData());
    if (Font.size() < 12) return {};
    const quint32 version = qFromBigEndian<quint32>(data);
    if (version != 0x00010000 && version != 0x74727565 /* 'true' */) return {};
    const int count = qFromBigEndian<quint16>(data + 4);
    if (Font.size() < 12 + 16 * qsizetype(count)) return {};
    for (int i = 0; i < count; ++i) {
        const uchar* entry = data + 12 + 16 * i;
        const quint32 offset = qFromBigEndian<quint32>(entry + 8);
        const quint32 length = qFromBigEndian<quint32>(entry + 12);
        if (quint64(offset) + length > quint64(Font.size())) return {};
        tables.insert(QByteArray(reinterpret_cast<const char*>(entry), 4), Font.mid(offset, length));
    }
    return tables;
}

// A format 4 character map (Windows, Unicode BMP) of the repertoire.
QByteArray CharacterMap() {
    struct TSegment {
        quint16 First, Last, Delta;
    };
    QList<TSegment> segments;
    for (const TRange& range : kRanges)
        segments.append({quint16(range.First), quint16(range.Last), quint16(range.FirstGlyph - range.First)});
    segments.append({0xFFFF, 0xFFFF, 1});  // the closing segment the format asks for
    const int count = int(segments.size());
    int power = 1, log = 0;
    while (power * 2 <= count) power *= 2, ++log;
    QByteArray sub;
    Append16(sub, 4);
    Append16(sub, 16 + 8 * count);  // the subtable's length
    Append16(sub, 0);                // language
    Append16(sub, 2 * count);
    Append16(sub, 2 * power);
    Append16(sub, log);
    Append16(sub, 2 * count - 2 * power);
    for (const TSegment& s : segments) Append16(sub, s.Last);
    Append16(sub, 0);  // reserved
    for (const TSegment& s : segments) Append16(sub, s.First);
    for (const TSegment& s : segments) Append16(sub, s.Delta);
    for (int i = 0; i < count; ++i) Append16(sub, 0);  // no glyph index arrays
    QByteArray cmap;
    Append16(cmap, 0);  // version
    Append16(cmap, 1);  // one subtable
    Append16(cmap, 3);  // Windows
    Append16(cmap, 1);  // Unicode BMP
    Append32(cmap, 12);
    return cmap + sub;
}

// The space's glyph: one contour around its advance from descent to ascent.
QByteArray SpaceOutline() {
    const int left = 0, right = Units(kSpaceAdvance), bottom = -Units(kDescent), top = Units(kAscent);
    QByteArray glyph;
    Append16(glyph, 1);  // contours
    for (int edge : {left, bottom, right, top}) Append16(glyph, edge);
    Append16(glyph, 3);  // the contour's last point
    Append16(glyph, 0);  // no instructions
    glyph.append(4, char(0x01));  // four points on the curve, each coordinate a 16-bit step
    for (int step : {left, right - left, 0, left - right}) Append16(glyph, step);
    for (int step : {bottom, 0, top - bottom, 0}) Append16(glyph, step);
    return glyph;
}

// A name table giving the font the name Tesseract's own PDFs give it, by
// which other tools know a recognised text layer.
QByteArray NameTable() {
    const QList<QPair<int, QString>> names{{1, QStringLiteral("GlyphLessFont")},
                                           {2, QStringLiteral("Regular")},
                                           {4, QStringLiteral("GlyphLessFont")},
                                           {6, QStringLiteral("GlyphLessFont")}};
    QByteArray strings;
    QByteArray records;
    for (const auto& [id, text] : names) {
        QByteArray utf16;
        for (const QChar c : text) Append16(utf16, c.unicode());
        Append16(records, 3);       // Windows
        Append16(records, 1);       // Unicode BMP
        Append16(records, 0x409);   // English (United States)
        Append16(records, id);
        Append16(records, int(utf16.size()));
        Append16(records, int(strings.size()));
        strings += utf16;
    }
    QByteArray table;
    Append16(table, 0);
    Append16(table, int(names.size()));
    Append16(table, 6 + 12 * int(names.size()));
    return table + records + strings;
}

}  // namespace

QByteArray GlyphlessFontProgram(const QByteArray& TesseractFont, const QString& FileName) {
    QMap<QByteArray, QByteArray> tables = ReadTables(TesseractFont);
    QByteArray& head = tables["head"];
    QByteArray& hhea = tables["hhea"];
    QByteArray& maxp = tables["maxp"];
    if (head.size() < 54 || hhea.size() < 36 || maxp.size() < 6)
        throw EPdfError(QStringLiteral("\"%1\" is not a TrueType font").arg(FileName), TPdfErrorKind::ekOther,
                        FileName);
    const int ascent = Units(kAscent), descent = -Units(kDescent), advance = Units(kGlyphAdvance);

    Put16(head, 18, kUnitsPerEm);
    Put16(head, 36, 0);  // the glyphs' bounding box: one em cell
    Put16(head, 38, descent);
    Put16(head, 40, advance);
    Put16(head, 42, ascent);
    Put16(head, 50, 0);  // short glyph offsets
    qToBigEndian(quint32(0), reinterpret_cast<uchar*>(head.data()) + 8);  // summed below

    Put16(hhea, 4, ascent);
    Put16(hhea, 6, descent);
    Put16(hhea, 8, 0);  // line gap
    Put16(hhea, 10, advance);
    Put16(hhea, 12, 0);  // side bearings and extent of blank glyphs
    Put16(hhea, 14, 0);
    Put16(hhea, 16, 0);
    // Horizontal metrics of their own for glyphs 0 to 3 (none, the space, the
    // unmapped one, the first character); every glyph after shares the last.
    constexpr int metrics = 4;
    Put16(hhea, 34, metrics);

    Put16(maxp, 4, kGlyphCount);

    if (tables.contains("OS/2") && tables["OS/2"].size() >= 78) {
        QByteArray& os2 = tables["OS/2"];
        Put16(os2, 2, advance);  // average width
        Put16(os2, 64, 0x20);    // first and last character
        Put16(os2, 66, 0xFFFD);
        Put16(os2, 68, ascent);  // typographic and Windows ascent and descent
        Put16(os2, 70, descent);
        Put16(os2, 72, 0);
        Put16(os2, 74, ascent);
        Put16(os2, 76, -descent);
    }
    if (tables.contains("post") && tables["post"].size() >= 32)
        qToBigEndian(quint32(0x00030000), reinterpret_cast<uchar*>(tables["post"].data()));  // no glyph names
    else
        tables.remove("post");

    QByteArray hmtx;
    const int advances[metrics] = {0, Units(kSpaceAdvance), advance, advance};
    for (int width : advances) {
        Append16(hmtx, width);
        Append16(hmtx, 0);
    }
    hmtx.append(QByteArray(2 * (kGlyphCount - metrics), '\0'));  // left side bearings

    tables["hmtx"] = hmtx;
    // Every glyph is blank but the space's, a box filling its advance from
    // the descent to the ascent: the engine reads a text's extent from its
    // glyphs' outlines, and leaves out of the page's text a text that has
    // none across (a single blank character, any text turned a quarter). So
    // each word ends with a space, and a blank glyph costs no outline.
    const QByteArray box = SpaceOutline();
    QByteArray loca;
    Append16(loca, 0);
    Append16(loca, 0);
    for (int glyph = 1; glyph < kGlyphCount; ++glyph) Append16(loca, int(box.size() / 2));
    tables["loca"] = loca;
    tables["glyf"] = box;
    if (maxp.size() >= 10) {
        Put16(maxp, 6, 4);  // points and contours of the largest glyph
        Put16(maxp, 8, 1);
    }
    tables["cmap"] = CharacterMap();
    tables["name"] = NameTable();
    // Tables a font program may carry that would no longer fit its glyphs.
    for (const char* tag : {"hdmx", "LTSH", "VDMX", "kern", "GPOS", "GSUB", "GDEF", "vhea", "vmtx", "fpgm", "prep",
                            "cvt ", "gasp", "DSIG"})
        tables.remove(tag);

    // The file: the table directory, then the tables in tag order, each on a
    // four-byte boundary.
    const int count = int(tables.size());
    int power = 1, log = 0;
    while (power * 2 <= count) power *= 2, ++log;
    QByteArray directory;
    Append32(directory, 0x00010000);
    Append16(directory, count);
    Append16(directory, 16 * power);
    Append16(directory, log);
    Append16(directory, 16 * count - 16 * power);
    QByteArray body;
    qsizetype headOffset = 0;
    const qsizetype start = 12 + 16 * qsizetype(count);
    for (auto it = tables.cbegin(); it != tables.cend(); ++it) {
        directory.append(it.key());
        Append32(directory, Checksum(it.value()));
        Append32(directory, quint32(start + body.size()));
        Append32(directory, quint32(it.value().size()));
        if (it.key() == "head") headOffset = start + body.size();
        body += it.value();
        body.append(QByteArray((4 - body.size() % 4) % 4, '\0'));
    }
    QByteArray font = directory + body;
    qToBigEndian(quint32(0xB1B0AFBA - Checksum(font)), reinterpret_cast<uchar*>(font.data()) + headOffset + 8);
    return font;
}

QString SettableText(const QString& Text) {
    QString settable;
    settable.reserve(Text.size());
    for (qsizetype i = 0; i < Text.size(); ++i) {
        const QChar c = Text[i];
        // A character beyond the plane is one replacement, its pair of
        // surrogates consumed together.
        if (c.isHighSurrogate() && i + 1 < Text.size() && Text[i + 1].isLowSurrogate()) ++i;
        settable.append(Settable(c.unicode()) ? c : QChar(0xFFFD));
    }
    return settable;
}

}  // namespace kestrune::textlayer
