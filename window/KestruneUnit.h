// The converter window: one button that picks a PDF file and writes its text
// to a UTF-8 text file beside it, with a progress bar over the pages. A file
// can also come from outside: the program's arguments or a drop onto the window.
//
// The conversion runs in worker processes (TWindowConversion), so the window
// stays responsive during a run: files chosen or dropped meanwhile wait for it
// and follow in turn; the Stop button (or Escape) stops the run, and closing
// the window stops it too.
//
// The rows follow the font: at the default font they have the places the
// window was drawn with (391 x 97), and each row grows when its text needs
// more; the window can be widened.
#pragma once

#include <QPointer>
#include <QStringList>
#include <QWidget>
#include <exception>
#include <functional>
#include <memory>
#include <optional>

#include "window/ResultLine.h"

class QCheckBox;
class QDialog;
class QFileDialog;
class QIcon;
class QLineEdit;
class QMimeData;
class QProgressBar;
class QPushButton;

namespace kestrune {

class TFPdf;
class TRunReport;
class TWindowConversion;
struct TConversionResult;
struct TFileOutcome;

class TKestruneForm : public QWidget {
    Q_OBJECT
public:
    explicit TKestruneForm(QWidget* Parent = nullptr);
    ~TKestruneForm() override;

    // The conversion run behind Button1: the file dialog, then ConvertFile with
    // the chosen path (a name typed without its extension finds the PDF file
    // whatever the case of its extension: the dialog adds ".PDF" to it). A
    // file chosen while a run lasts waits for it (as a drop does). Errors are
    // not handled here: they leave this method.
    void Button1Click(QObject* Sender);

    // A file the user named, in the dialog or typed into Edit1 (Enter there):
    // converted at once, or after the run and the files waiting, if any.
    void ChooseFile(const QString& FileName);

    // Starts the conversion run for FileName, from showing it in Edit1 and the
    // title on: what Button1Click does once a file is chosen (during a run,
    // FileName waits for it instead, as in ConvertFilesLater). A name that is
    // not an existing file, or a folder, raises EFileError naming it after the
    // clean-up (cursor, progress bar); so does a file whose text file would be
    // the file itself (a PDF named doc.txt). The run itself goes on from the
    // event loop; its end shows in Label1, and its error, if any, through
    // ShowException. Every message names the file first ("FILE: why").
    void ConvertFile(const QString& FileName);

    // Queues Files for conversion, each as ConvertFile does, one after another
    // from the event loop, and never while a run is in progress (the queue waits
    // for it). A folder stands for the PDF files below it. Each error goes to
    // ShowException, naming the file, and the next file still runs. The
    // program's file arguments and a drop onto the window come here.
    void ConvertFilesLater(const QStringList& Files);

    // Stops the run in progress at once, as closing the window does, but the
    // window stays: no text file for the file being converted (an earlier one
    // stays as it was), and the files waiting are dropped. Label1 says so,
    // and how many files of the run were written before. StopButton and
    // Escape come here; nothing happens while a dialog or message box shows.
    void Stop();

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
    // What the last run wrote (the text file's name and its pages, those
    // recognised, those without text), or that it wrote nothing; for a run of
    // several files, their counts and a "details" link listing each one.
    // During a run: the files ended so far and those waiting ("2 more waiting").
    TResultLine* Label1 = nullptr;
    // The pages done, with its percentage, during a run; a page a worker has
    // begun counts as half done.
    QProgressBar* ProgressBar1 = nullptr;
    // Beside the bar during a run: stops it (Stop).
    QPushButton* StopButton = nullptr;
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
    // Shows the details of a run of several files (Label1's link): its
    // counts, and each file with its outcome, a line each. Replaceable for tests.
    std::function<void(const QString& Summary, const QString& Details)> ShowDetails;
    // Asks for the password of FileName (Retry: the last one was wrong) with
    // hidden input; nothing when cancelled.
    std::function<std::optional<QString>(const QString& FileName, bool Retry)> AskPassword;

    // The program's icon: the versions drawn for 16 and 24 pixels at those
    // sizes, the large drawing at the others.
    static QIcon Icon();

    // The file a name chosen in the dialog stands for. The dialog adds its
    // default suffix ".PDF" to a name typed without an extension, so on a file
    // system that tells cases apart "a" comes as "a.PDF" where the file is
    // "a.pdf": a name with a PDF extension that is no file is looked for with
    // that extension in any case ("a.pdf" first), then without it ("a", a PDF
    // without extension); a name found neither way stays as it is.
    static QString TypedFileName(const QString& Chosen);

    // The message of the exception that left a handler, as ShowException shows it.
    static QString ExceptionMessage(std::exception_ptr Error);

    // How many passwords a run asks for before it gives up.
    static constexpr int PasswordTries = 3;

protected:
    void showEvent(QShowEvent* Event) override;
    void changeEvent(QEvent* Event) override;
    void keyPressEvent(QKeyEvent* Event) override;
    // While a dialog or message box shows, the window takes no input (see RunDialog).
    bool eventFilter(QObject* Watched, QEvent* Event) override;
    void dragEnterEvent(QDragEnterEvent* Event) override;
    void dragMoveEvent(QDragMoveEvent* Event) override;
    void dropEvent(QDropEvent* Event) override;
    // Closing the window during a run stops the run at once (no text file for
    // it) and drops the files still waiting; the program then ends. A dialog
    // or message box showing is closed with it.
    void closeEvent(QCloseEvent* Event) override;

private:
    struct TQueued {
        QString FileName;
        bool FromOutside = false;  // a drop or an argument: a folder stands for its PDF files
    };

    // Runs Work as an event handler: an error that leaves it goes to ShowException.
    void Handle(const std::function<void()>& Work);
    // Shows Dialog and waits for its answer (its result); Rejected at once
    // once the window is closed. Not as Qt's modal dialog: Qt refuses the
    // window manager's close to a window under one, and the window is to
    // close (and the program to end) whatever shows. The window refuses input
    // itself meanwhile (eventFilter), and closing it closes the dialog.
    int RunDialog(QDialog& Dialog);
    // Sizes the rows for the font: each widget has its place at the default
    // font, and more where its text needs more.
    void Arrange();
    // The button's font: the desktop's, with the carried glyphs of its caption.
    void SetCaptionFont();
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
    // The current file has ended as Outcome says: kept for the run's report,
    // and shown in Label1.
    void FileEnded(const TFileOutcome& Outcome);
    // Label1 during a run: the files ended and those waiting.
    void ShowRunningLine();
    // With nothing running or waiting: Label1 tells the run's end.
    void EndRunIfIdle();
    // The progress bar for PagesDone and PagesUnderWay of FPageCount.
    void ShowProgress(int PagesDone, int PagesUnderWay);

    bool FCentred = false;
    bool FClosed = false;     // closed, and not shown again since
    QList<QPointer<QDialog>> FDialogs;  // showing through RunDialog, the last on top
    std::unique_ptr<TRunReport> FReport;  // the files of the run so far
    std::unique_ptr<TRunReport> FEndedReport;  // the last run's, behind Label1's details
    bool FRunning = false;
    QList<TQueued> FPending;  // files waiting for their run
    bool FPendingPosted = false;
    // The current run.
    QString FFileName;
    bool FOcr = false;  // the check box when the file started
    int FPageCount = 0;
    int FPasswordsAsked = 0;
    std::unique_ptr<TWindowConversion> FConversion;
};

}  // namespace kestrune
