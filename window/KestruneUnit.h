// The converter window: one button that picks a PDF file and writes its text
// to a UTF-8 text file beside it, with a progress bar over the pages. A file
// can also come from outside: the program's arguments or a drop onto the window.
//
// The conversion runs in worker processes (TWindowConversion), so the window
// stays responsive during a run: files chosen or dropped meanwhile wait for it
// and follow in turn, and closing the window stops it.
#pragma once

#include <QStringList>
#include <QWidget>
#include <exception>
#include <functional>
#include <memory>
#include <optional>

class QCheckBox;
class QFileDialog;
class QIcon;
class QLabel;
class QLineEdit;
class QMimeData;
class QProgressBar;
class QPushButton;

namespace kestrune {

class TFPdf;
class TWindowConversion;
struct TConversionResult;

class TKestruneForm : public QWidget {
    Q_OBJECT
public:
    explicit TKestruneForm(QWidget* Parent = nullptr);
    ~TKestruneForm() override;

    // The conversion run behind Button1: the file dialog, then ConvertFile with
    // the chosen path. A file chosen while a run lasts waits for it (as a drop
    // does). Errors are not handled here: they leave this method.
    void Button1Click(QObject* Sender);

    // Starts the conversion run for FileName, from showing it in Edit1 on: what
    // Button1Click does once a file is chosen (during a run, FileName waits for
    // it instead, as in ConvertFilesLater). A name that is not an existing
    // file, or a folder, raises EFileError naming it after the clean-up
    // (cursor, progress bar); so does a PDF named like its own text file. The
    // run itself goes on from the event loop; its end shows in Label1, and its
    // error, if any, through ShowException.
    void ConvertFile(const QString& FileName);

    // Queues Files for conversion, each as ConvertFile does, one after another
    // from the event loop, and never while a run is in progress (the queue waits
    // for it). A folder stands for the PDF files below it. Each error goes to
    // ShowException, naming the file, and the next file still runs. The
    // program's file arguments and a drop onto the window come here.
    void ConvertFilesLater(const QStringList& Files);

    // Whether a run is in progress (its password prompt and error display
    // included) or files wait for one.
    bool IsBusy() const { return FRunning || !FPending.isEmpty(); }

    // The local files and folders a drag carries, when it carries only local
    // files and folders (no other URLs); empty otherwise, and such a drag is refused.
    static QStringList DroppedFiles(const QMimeData* Data);

    QPushButton* Button1 = nullptr;
    // "Read scanned pages (OCR)", off at start: when on, a run recognises the
    // pages that show something but hold no text character (--ocr auto).
    QCheckBox* CheckBox1 = nullptr;
    QLineEdit* Edit1 = nullptr;
    // What the last run wrote (the text file's name and its pages), or that it
    // wrote nothing; empty during a run.
    QLabel* Label1 = nullptr;
    QProgressBar* ProgressBar1 = nullptr;
    QFileDialog* OpenDialog1 = nullptr;
    // Kept for the window's life; the conversion itself runs in worker
    // processes, each with a component of its own.
    TFPdf* FPdf1 = nullptr;

    // The program started as a conversion worker: by default this program,
    // which serves as one when started with worker::WorkerArgument.
    QString WorkerProgram = QStringLiteral("/proc/self/exe");

    // Shows OpenDialog1 and returns the chosen path, or nothing when cancelled;
    // the dialog and its pop-ups are off the screen when it returns.
    // Replaceable, so that tests can choose a file without a dialog.
    std::function<std::optional<QString>()> ExecuteOpenDialog;
    // The application's standard display for an error that left an event
    // handler: a message box with the error's message. Replaceable for tests.
    std::function<void(const QString& Message)> ShowException;
    // Asks for the password of FileName (Retry: the last one was wrong) with
    // hidden input; nothing when cancelled.
    std::function<std::optional<QString>(const QString& FileName, bool Retry)> AskPassword;

    // The program's icon: the versions drawn for 16 and 24 pixels at those
    // sizes, the large drawing at the others.
    static QIcon Icon();

    // The message of the exception that left a handler, as ShowException shows it.
    static QString ExceptionMessage(std::exception_ptr Error);

    // How many passwords a run asks for before it gives up.
    static constexpr int PasswordTries = 3;

protected:
    void showEvent(QShowEvent* Event) override;
    void dragEnterEvent(QDragEnterEvent* Event) override;
    void dragMoveEvent(QDragMoveEvent* Event) override;
    void dropEvent(QDropEvent* Event) override;
    // Closing the window during a run stops the run at once (no text file for
    // it) and drops the files still waiting; the program then ends.
    void closeEvent(QCloseEvent* Event) override;

private:
    struct TQueued {
        QString FileName;
        bool FromOutside = false;  // a drop or an argument: its errors name it
    };

    // Runs Work as an event handler: an error that leaves it goes to ShowException.
    void Handle(const std::function<void()>& Work);
    // Hides OpenDialog1 and every pop-up it opened, and lets the window system
    // take them off the screen, so that none stays through a run or takes the
    // next click.
    void DismissOpenDialog();
    // Converts the next queued file, unless a run is in progress.
    void ConvertPendingFiles();
    void PostPendingFiles();
    // Starts the worker processes on the current run's file.
    void StartConversion(const QString& Password);
    // The current run's conversion has ended: a password asked for and the
    // conversion started again, or the run's end shown.
    void ConversionFinished(const TConversionResult& Result);
    // The end of a run: the cursor and the progress bar back, the next file.
    void CleanUp();

    bool FCentred = false;
    bool FClosed = false;     // closed, and not shown again since
    bool FRunning = false;
    QList<TQueued> FPending;  // files waiting for their run
    bool FPendingPosted = false;
    // The current run.
    QString FFileName;
    bool FFromOutside = false;
    int FPasswordsAsked = 0;
    std::unique_ptr<TWindowConversion> FConversion;
};

}  // namespace kestrune
