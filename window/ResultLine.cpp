#include "window/ResultLine.h"

#include <QEvent>
#include <QFocusEvent>
#include <QFontMetrics>

namespace kestrune {

namespace {
constexpr char DetailsLink[] = "details";
}

TResultLine::TResultLine(QWidget* Parent) : QLabel(Parent) {
    // The line never widens the window: a long name is shortened instead.
    setSizePolicy(QSizePolicy::Ignored, sizePolicy().verticalPolicy());
    setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
}

void TResultLine::SetLine(const TLine& Line) {
    FLine = Line;
    Show();
}

void TResultLine::resizeEvent(QResizeEvent* Event) {
    QLabel::resizeEvent(Event);
    Show();
}

void TResultLine::focusInEvent(QFocusEvent* Event) {
    QLabel::focusInEvent(Event);
    // Tab onto the line selects its link at once, so that Enter follows it;
    // Qt's label would take one more Tab to reach the link, with nothing in
    // sight meanwhile.
    const Qt::FocusReason reason = Event->reason();
    if (FLine.Details && (reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason))
        QLabel::focusNextPrevChild(reason == Qt::TabFocusReason);
}

void TResultLine::changeEvent(QEvent* Event) {
    QLabel::changeEvent(Event);
    if (Event->type() == QEvent::FontChange) Show();
}

void TResultLine::Show() {
    const QFontMetrics metrics = fontMetrics();
    const QString tail = FLine.Details ? QStringLiteral(" (%1)").arg(QLatin1String(DetailsLink)) : QString();
    const int width = contentsRect().width() - metrics.horizontalAdvance(tail);
    const int room = width - metrics.horizontalAdvance(FLine.Before + FLine.After);
    // Where the words around the name are too long by themselves (the counts
    // of a run of many files), the line is cut at its end instead, so that
    // the "details" link stays whole where it can be clicked.
    const QString line = room > 0 ? FLine.Before + metrics.elidedText(FLine.Name, Qt::ElideMiddle, room) + FLine.After
                                  : metrics.elidedText(WholeText(), Qt::ElideRight, std::max(width, 0));
    if (!FLine.Details) {
        // Plain text: a file name may hold anything, "<" included.
        setTextFormat(Qt::PlainText);
        setText(line);
    } else {
        setTextFormat(Qt::RichText);
        setText(QStringLiteral("%1 (<a href=\"%2\">%2</a>)").arg(line.toHtmlEscaped(), QLatin1String(DetailsLink)));
    }
    // A stop for Tab only where there is a link to follow: a stop without one
    // would take the focus out of sight.
    setFocusPolicy(FLine.Details ? Qt::StrongFocus : Qt::NoFocus);
    if (!FLine.Details && hasFocus()) clearFocus();
}

}  // namespace kestrune
