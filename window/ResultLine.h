// The line under the window's edit box that tells what a run did. The file
// name in it is shortened in the middle when the line is too narrow for it,
// so that what follows the name (the pages written, the counts) always shows;
// widening the window shows more of the name again. Counts too long for the
// line are cut at their end, before its "details" link. The line is a stop
// for Tab only while it holds that link.
#pragma once

#include <QLabel>
#include <QString>

namespace kestrune {

class TResultLine : public QLabel {
    Q_OBJECT
public:
    // A line: Before, the name (shortened when need be), After, and a
    // "details" link when there is more to read (linkActivated with "details").
    struct TLine {
        QString Before;
        QString Name;
        QString After;
        bool Details = false;
        bool operator==(const TLine&) const = default;
    };

    explicit TResultLine(QWidget* Parent = nullptr);

    void SetLine(const TLine& Line);
    // The whole line, its name not shortened.
    QString WholeText() const { return FLine.Before + FLine.Name + FLine.After; }

protected:
    void resizeEvent(QResizeEvent* Event) override;
    void changeEvent(QEvent* Event) override;
    void focusInEvent(QFocusEvent* Event) override;

private:
    // Lays the line out for the label's present width and font.
    void Show();

    TLine FLine;
};

}  // namespace kestrune
