#include "app/Report.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <cmath>

#include "component/FileError.h"

namespace kestrune {

namespace {

QByteArray JsonString(const QString& Text) {
    // A one-element array is the shortest way to Qt's string escaping.
    const QByteArray array = QJsonDocument(QJsonArray{Text}).toJson(QJsonDocument::Compact);
    return array.mid(1, array.size() - 2);
}

const char* StatusName(TInputStatus Status) {
    switch (Status) {
    case TInputStatus::Converted: return "converted";
    case TInputStatus::Skipped: return "skipped";
    case TInputStatus::Failed: return "failed";
    }
    return "failed";
}

}  // namespace

QByteArray ReportLine(const TReportEntry& Entry) {
    QByteArray line = "{\"input\":" + JsonString(Entry.Input) + ",\"output\":" + JsonString(Entry.Output) +
                      ",\"status\":\"" + StatusName(Entry.Status) + "\",\"pages\":" + QByteArray::number(Entry.Pages) +
                      ",\"bytes\":" + QByteArray::number(Entry.Bytes) + ",\"seconds\":" +
                      QByteArray::number(std::round(Entry.Seconds * 1000) / 1000, 'f', 3);
    if (Entry.Status == TInputStatus::Failed) line += ",\"error\":" + JsonString(Entry.Error);
    return line + "}\n";
}

TReport::TReport(const QString& Path) : FFile(Path) {
    // Unbuffered: each line is one write(2), so a killed run leaves whole lines.
    if (!FFile.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered))
        throw EFileError::CannotCreate(Path, FFile.errorString());
}

void TReport::Add(const TReportEntry& Entry) {
    const QByteArray line = ReportLine(Entry);
    if (FFile.write(line) != line.size())
        throw EFileError(QStringLiteral("Cannot write file \"%1\". %2").arg(FFile.fileName(), FFile.errorString()));
}

}  // namespace kestrune
