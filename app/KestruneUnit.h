// The converter window: one button that picks a PDF file and writes its text
// to a UTF-8 text file beside it, with a progress bar over the pages. A file
// can also come from outside: the program's arguments or a drop onto the window.
#pragma once

#include <QStringList>
#include <QWidget>
#include <exception>
#include <functional>
#include <optional>

class QFileDialog;
class QLineEdit;
class QMimeData;
class QProgressBar;
class QPushButton;

namespace kestrune {

class TFPdf;

class TKestruneForm : public QWidget {
    Q_OBJECT
public:
    explicit TKestruneForm(QWidget* Parent = nullptr);
    ~TKestruneForm() override;

    // The conversion run behind Button1: the file dialog, then ConvertFile with
    // the chosen path. A file chosen while a run lasts waits for it (as a drop
    // does). Errors are not handled here: they leave this method.
    void Button1Click(QObject* Sender);

    // The conversion run for FileName, from showing it in Edit1 on: what
    // Button1Click does once a file is chosen. After the clean-up (cursor,
    // progress bar, FPdf1 inactive) errors leave this method; a name that is
    // not an existing file is one (EFileError naming it).
    void ConvertFile(const QString& FileName);

    // Queues Files for conversion, each as ConvertFile does, one after another
    // from the event loop, and never while a run is in progress (the queue waits
    // for it). Each error goes to ShowException and the next file still runs.
    // The program's file arguments and a drop onto the window come here.
    void ConvertFilesLater(const QStringList& Files);

    // Whether a run is in progress or files wait for one.
    bool IsBusy() const { return FRunning > 0 || !FPending.isEmpty(); }

    // The local files a drag carries, when it carries only local files (no
    // folders, no other URLs); empty otherwise, and such a drag is refused.
    static QStringList DroppedFiles(const QMimeData* Data);

    QPushButton* Button1 = nullptr;
    QLineEdit* Edit1 = nullptr;
    QProgressBar* ProgressBar1 = nullptr;
    QFileDialog* OpenDialog1 = nullptr;
    TFPdf* FPdf1 = nullptr;

    // Shows OpenDialog1 and returns the chosen path, or nothing when cancelled;
    // the dialog and its pop-ups are off the screen when it returns.
    // Replaceable, so that tests can choose a file without a dialog.
    std::function<std::optional<QString>()> ExecuteOpenDialog;
    // The application's standard display for an error that left an event
    // handler: a message box with the error's message. Replaceable for tests.
    std::function<void(const QString& Message)> ShowException;

    // The message of the exception that left a handler, as ShowException shows it.
    static QString ExceptionMessage(std::exception_ptr Error);

protected:
    void showEvent(QShowEvent* Event) override;
    void dragEnterEvent(QDragEnterEvent* Event) override;
    void dragMoveEvent(QDragMoveEvent* Event) override;
    void dropEvent(QDropEvent* Event) override;
    // Closing the window during a run stops the run (no text file for it) and
    // drops the files still waiting; the program then ends.
    void closeEvent(QCloseEvent* Event) override;

private:
    // Runs Work as an event handler: an error that leaves it goes to ShowException.
    void Handle(const std::function<void()>& Work);
    // Hides OpenDialog1 and every pop-up it opened, and lets the window system
    // take them off the screen, so that none stays through a run or takes the
    // next click.
    void DismissOpenDialog();
    // Converts the queued files, unless a run is in progress.
    void ConvertPendingFiles();
    bool FCentred = false;
    int FRunning = 0;         // conversion runs in progress (a second click nests one)
    QStringList FPending;     // files queued by ConvertFilesLater
    bool FPendingPosted = false;
    bool FStopping = false;   // the window was closed during a run
};

}  // namespace kestrune
