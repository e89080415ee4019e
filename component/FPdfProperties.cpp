// Document and page properties: version, permissions, viewer preferences, page
// mode, page labels, document information, page size, bounds and rotation.
#include <QRegularExpression>
#include <QTimeZone>

#include "component/EngineStrings.h"
#include "component/EngineRecords.h"
#include <kestrune/FPdf.h>

namespace kestrune {

using namespace engine;

TPdfVersion VersionFromEngine(int Value) {
    // Versions 1.0 .. 1.7 follow pvUnknown in the enumeration's order.
    if (Value >= 10 && Value <= 17) return static_cast<TPdfVersion>(Value - 9);
    return TPdfVersion::pvUnknown;
}

int VersionToEngine(TPdfVersion Version) {
    if (Version == TPdfVersion::pvUnknown) return 0;
    return static_cast<int>(Version) + 9;
}

TPageMode PageModeFromEngine(int Value) {
    // 0 .. 5 are the modes in the enumeration's order; -1 (unknown) and
    // anything else the engine might report count as unknown.
    if (Value >= 0 && Value <= 5) return static_cast<TPageMode>(Value);
    return TPageMode::pmUnknown;
}

QDateTime DateTimeFromPdfDate(const QString& Date) {
    // Year, then month, day, hour, minute, second, each of two digits and each
    // only after the one before; then the offset, its minutes optional, with
    // or without the apostrophes.
    static const QRegularExpression form(QStringLiteral(
        R"(^\s*(?:D:)?(\d{4})(\d{2})?(\d{2})?(\d{2})?(\d{2})?(\d{2})?(?:([Zz+-])(?:(\d{2})'?(?:(\d{2})'?)?)?)?\s*$)"));
    const QRegularExpressionMatch m = form.match(Date);
    if (!m.hasMatch()) return {};
    const auto part = [&](int n, int absent) { return m.capturedLength(n) ? m.captured(n).toInt() : absent; };
    const QDate date(part(1, 0), part(2, 1), part(3, 1));
    const QTime time(part(4, 0), part(5, 0), part(6, 0));
    if (!date.isValid() || !time.isValid()) return {};
    if (!m.capturedLength(7)) return QDateTime(date, time);
    const int hours = part(8, 0), minutes = part(9, 0);
    if (hours > 23 || minutes > 59) return {};
    const QChar sign = m.captured(7).at(0);
    if (sign.toUpper() == u'Z') return QDateTime(date, time, Qt::UTC);
    const int offset = (hours * 3600 + minutes * 60) * (sign == u'-' ? -1 : 1);
    return QDateTime(date, time, QTimeZone(offset));
}

// ---- Document properties ----------------------------------------------------

TPdfVersion TFPdf::GetPdfVersion() {
    const EngineLock lock;
    CheckActive();
    int version = 0;
    // The engine's last-error code says nothing about this call, so the
    // operation's own message is raised.
    CheckResult(FPDF_GetFileVersion(FDocument, &version) != 0, QStringLiteral("Cannot retrieve PDF version"));
    return VersionFromEngine(version);
}

quint32 TFPdf::GetPermissions() {
    const EngineLock lock;
    CheckActive();
    return static_cast<quint32>(FPDF_GetDocPermissions(FDocument));
}

bool TFPdf::GetPrintScaling() {
    const EngineLock lock;
    CheckActive();
    return FPDF_VIEWERREF_GetPrintScaling(FDocument) != 0;
}

int TFPdf::GetPrintCopies() {
    const EngineLock lock;
    CheckActive();
    return FPDF_VIEWERREF_GetNumCopies(FDocument);
}

TPrintPaperHandling TFPdf::GetPrintPaperHandling() {
    const EngineLock lock;
    CheckActive();
    const int duplex = FPDF_VIEWERREF_GetDuplex(FDocument);
    // The engine's duplex values are the enumeration's ordinals; anything else
    // it might report is treated as undefined rather than cast out of range.
    if (duplex < 0 || duplex > static_cast<int>(TPrintPaperHandling::phDuplexFlipLongEdge))
        return TPrintPaperHandling::phUndefined;
    return static_cast<TPrintPaperHandling>(duplex);
}

TPageMode TFPdf::GetPageMode() {
    const EngineLock lock;
    CheckActive();
    return PageModeFromEngine(FPDFDoc_GetPageMode(FDocument));
}

bool TFPdf::GetIsTagged() {
    const EngineLock lock;
    CheckActive();
    return FPDFCatalog_IsTagged(FDocument) != 0;
}

QString TFPdf::GetPageLabel(int PageNumber) {
    const EngineLock lock;
    CheckActive();
    CheckResult(PageNumber >= 1 && PageNumber <= GetPageCount(), QStringLiteral("Incorrect page number"),
                TPdfErrorKind::ekPage);
    return strings::ReadUtf16Bytes([&](void* buffer, unsigned long length) {
        return FPDF_GetPageLabel(FDocument, PageNumber - 1, buffer, length);
    });
}

QString TFPdf::GetMetaText(const QString& Tag) {
    const EngineLock lock;
    CheckActive();
    const QByteArray tag = strings::ToLatin1(Tag);
    return strings::ReadUtf16Bytes([&](void* buffer, unsigned long length) {
        return FPDF_GetMetaText(FDocument, tag.constData(), buffer, length);
    });
}

QString TFPdf::GetAuthor() { return GetMetaText(QStringLiteral("Author")); }
QString TFPdf::GetTitle() { return GetMetaText(QStringLiteral("Title")); }
QString TFPdf::GetSubject() { return GetMetaText(QStringLiteral("Subject")); }
QString TFPdf::GetKeywords() { return GetMetaText(QStringLiteral("Keywords")); }
QString TFPdf::GetCreator() { return GetMetaText(QStringLiteral("Creator")); }
QString TFPdf::GetProducer() { return GetMetaText(QStringLiteral("Producer")); }
QString TFPdf::GetCreationDate() { return GetMetaText(QStringLiteral("CreationDate")); }
QString TFPdf::GetModifiedDate() { return GetMetaText(QStringLiteral("ModDate")); }
QDateTime TFPdf::GetCreationDateTime() { return DateTimeFromPdfDate(GetCreationDate()); }
QDateTime TFPdf::GetModifiedDateTime() { return DateTimeFromPdfDate(GetModifiedDate()); }

QString TFPdf::GetViewerPreference(const QString& Key) {
    const EngineLock lock;
    CheckActive();
    // The key goes to the engine as UTF-8; the value comes back as 8-bit text.
    const QByteArray key = Key.toUtf8();
    return strings::FromLatin1(strings::ReadByteString([&](void* buffer, unsigned long length) {
        return FPDF_VIEWERREF_GetName(FDocument, key.constData(), static_cast<char*>(buffer), length);
    }));
}

// ---- Page properties --------------------------------------------------------

double TFPdf::GetPageWidth() {
    const EngineLock lock;
    CheckPageActive();
    return FPDF_GetPageWidth(FPage);
}

double TFPdf::GetPageHeight() {
    const EngineLock lock;
    CheckPageActive();
    return FPDF_GetPageHeight(FPage);
}

TPdfRectangle TFPdf::GetPageBounds() {
    const EngineLock lock;
    CheckPageActive();
    FS_RECTF rect{};
    CheckResult(FPDF_GetPageBoundingBox(FPage, &rect) != 0, QStringLiteral("Cannot retrieve page bounds"));
    return RectangleFromEngine(rect);
}

TRotation TFPdf::GetPageRotation() {
    const EngineLock lock;
    CheckPageActive();
    // The engine reports quarter turns 0 .. 3 (or -1 when it cannot tell, which
    // cannot happen for an open page); keep the value inside the enumeration.
    const int rotation = FPDFPage_GetRotation(FPage);
    return static_cast<TRotation>(rotation & 3);
}

void TFPdf::SetPageRotation(TRotation Value) {
    const EngineLock lock;
    CheckPageActive();
    FPDFPage_SetRotation(FPage, static_cast<int>(Value));
    // Reopen the page so that everything hanging off it sees the new rotation.
    ReloadPage();
}

}  // namespace kestrune
