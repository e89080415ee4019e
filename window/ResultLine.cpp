#include "window/ResultLine.h"

#include <QEvent>
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

void TResultLine::changeEvent(QEvent* Event) {
    QLabel::changeEvent(Event);
    if (Event->type() == QEvent::FontChange) Show();
}

void TResultLine::Show() {
    const QFontMetrics metrics = fontMetrics();
    const QString tail = FLine.Details ? QStringLiteral(" (%1)").arg(QLatin1String(DetailsLink)) : QString();
    const int room = contentsRect().width() - metrics.horizontalAdvance(FLine.Before + FLine.After + tail);
    const QString name = metrics.elidedText(FLine.Name, Qt::ElideMiddle, std::max(room, 0));
    if (!FLine.Details) {
        // Plain text: a file name may hold anything, "<" included.
        setTextFormat(Qt::PlainText);
        setText(FLine.Before + name + FLine.After);
        return;
    }
    setTextFormat(Qt::RichText);
    setText(QStringLiteral("%1 (<a href=\"%2\">%2</a>)")
                .arg((FLine.Before + name + FLine.After).toHtmlEscaped(), QLatin1String(DetailsLink)));
}

}  // namespace kestrune
