// The converter window: one button that picks a PDF file and writes its text
// to a UTF-8 text file beside it, with a progress bar over the pages.
#pragma once

#include <QWidget>
#include <exception>
#include <functional>
#include <optional>

class QFileDialog;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace kestrune {

class TFPdf;

class TKestruneForm : public QWidget {
    Q_OBJECT
public:
    explicit TKestruneForm(QWidget* Parent = nullptr);
    ~TKestruneForm() override;

    // The conversion run behind Button1. Errors are not handled here: after the
    // clean-up (cursor, progress bar, FPdf1 inactive) they leave this method.
    void Button1Click(QObject* Sender);

    QPushButton* Button1 = nullptr;
    QLineEdit* Edit1 = nullptr;
    QProgressBar* ProgressBar1 = nullptr;
    QFileDialog* OpenDialog1 = nullptr;
    TFPdf* FPdf1 = nullptr;

    // Shows OpenDialog1 and returns the chosen path, or nothing when cancelled.
    // Replaceable, so that tests can choose a file without a dialog.
    std::function<std::optional<QString>()> ExecuteOpenDialog;
    // The application's standard display for an error that left an event
    // handler: a message box with the error's message. Replaceable for tests.
    std::function<void(const QString& Message)> ShowException;

    // The message of the exception that left a handler, as ShowException shows it.
    static QString ExceptionMessage(std::exception_ptr Error);

protected:
    void showEvent(QShowEvent* Event) override;

private:
    // Button1's click: the run, and the error display for what leaves it.
    void Button1Clicked();
    bool FCentred = false;
};

}  // namespace kestrune
