#include "window/RunReport.h"

#include <QFileInfo>
#include <QStringList>
#include <algorithm>

namespace kestrune {

namespace {

using TKind = TFileOutcome::TKind;

QString Counted(qsizetype Count, const char* One, const char* Several) {
    return Count == 1 ? QString::fromLatin1(One) : QStringLiteral("%1 %2").arg(Count).arg(QLatin1String(Several));
}

QString NameOf(const QString& Path) { return QFileInfo(Path).fileName(); }

// ": 12 pages, 12 recognised" and the like: what the text file holds.
QString PagesWritten(const TFileOutcome& Outcome) {
    QString text = Counted(Outcome.Pages, "1 page", "pages");
    if (Outcome.Recognized > 0) text += QStringLiteral(", %1 recognised").arg(Outcome.Recognized);
    // Not recognised: the user may not know the box is there.
    if (!Outcome.Ocr && Outcome.WithoutText > 0) text += QStringLiteral(", %1 without text").arg(Outcome.WithoutText);
    return text;
}

// The hint where pages held no text and the box was off.
bool NeedsOcr(const TFileOutcome& Outcome) {
    return Outcome.Kind == TKind::Written && !Outcome.Ocr && Outcome.WithoutText > 0;
}
const QString OcrHint = QStringLiteral(": tick OCR");

}  // namespace

TResultLine::TLine FileLine(const TFileOutcome& Outcome) {
    switch (Outcome.Kind) {
    case TKind::Written:
        return {{}, NameOf(Outcome.TextFileName),
                QStringLiteral(" written: ") + PagesWritten(Outcome) + (NeedsOcr(Outcome) ? OcrHint : QString())};
    case TKind::NoPages:
        return {QStringLiteral("Nothing written: "), NameOf(Outcome.FileName), QStringLiteral(" has no pages")};
    case TKind::Failed:
    case TKind::NotConverted:
        return {QStringLiteral("Nothing written for "), NameOf(Outcome.FileName), {}};
    case TKind::Stopped:
        return {QStringLiteral("Stopped: nothing written for "), NameOf(Outcome.FileName), {}};
    }
    return {};
}

qsizetype TRunReport::Count(TKind Kind) const {
    return std::count_if(FOutcomes.begin(), FOutcomes.end(), [Kind](const TFileOutcome& o) { return o.Kind == Kind; });
}

QString TRunReport::RunningLine(qsizetype Waiting) const {
    QStringList ended;
    if (const qsizetype n = Count(TKind::Written)) ended << QStringLiteral("%1 converted").arg(n);
    if (const qsizetype n = Count(TKind::Failed)) ended << QStringLiteral("%1 failed").arg(n);
    if (const qsizetype n = Count(TKind::NoPages)) ended << QStringLiteral("%1 without pages").arg(n);
    QString line = ended.join(QStringLiteral(", "));
    if (Waiting > 0) line += (line.isEmpty() ? QString() : QStringLiteral("; ")) + QStringLiteral("%1 more waiting").arg(Waiting);
    return line;
}

TResultLine::TLine TRunReport::EndLine() const {
    if (FOutcomes.isEmpty()) return {};
    const bool several = FOutcomes.size() > 1;
    const auto stopped = std::find_if(FOutcomes.begin(), FOutcomes.end(),
                                      [](const TFileOutcome& o) { return o.Kind == TKind::Stopped; });
    if (stopped != FOutcomes.end()) {
        TResultLine::TLine line = FileLine(*stopped);
        if (const qsizetype written = Count(TKind::Written))
            line.After = QStringLiteral("; %1 written").arg(Counted(written, "1 file", "files"));
        line.Details = several;
        return line;
    }
    if (!several) return FileLine(FOutcomes.constFirst());
    QString line = QStringLiteral("%1 files: %2 converted").arg(FOutcomes.size()).arg(Count(TKind::Written));
    if (const qsizetype n = Count(TKind::Failed)) line += QStringLiteral(", %1 failed").arg(n);
    if (const qsizetype n = Count(TKind::NoPages)) line += QStringLiteral(", %1 without pages").arg(n);
    if (const qsizetype n = std::count_if(FOutcomes.begin(), FOutcomes.end(), NeedsOcr))
        line += QStringLiteral(", %1 without text").arg(n) + OcrHint;
    return {line, {}, {}, true};
}

QString TRunReport::Summary() const {
    const TResultLine::TLine line = EndLine();
    return line.Before + line.Name + line.After;
}

QString TRunReport::Details() const {
    QStringList lines;
    for (const TFileOutcome& o : FOutcomes) {
        QString what;
        switch (o.Kind) {
        case TKind::Written:
            what = QStringLiteral("%1 written: %2").arg(NameOf(o.TextFileName), PagesWritten(o));
            break;
        case TKind::NoPages:
            what = QStringLiteral("no pages, nothing written");
            break;
        case TKind::Failed:
            what = o.Error;
            break;
        case TKind::Stopped:
            what = QStringLiteral("stopped, nothing written");
            break;
        case TKind::NotConverted:
            what = QStringLiteral("not converted, the run was stopped before its turn");
            break;
        }
        lines << QStringLiteral("%1: %2").arg(o.FileName, what);
    }
    return lines.join(QLatin1Char('\n'));
}

}  // namespace kestrune
