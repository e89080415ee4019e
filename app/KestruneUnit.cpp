#include "app/KestruneUnit.h"

#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QCloseEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QUrl>

#include "app/Conversion.h"
#include "component/FileError.h"
#include <kestrune/FPdf.h>

namespace kestrune {

namespace {
constexpr int ClientWidth = 391;
constexpr int ClientHeight = 77;
constexpr int ProgressBarHeight = 20;

// Ends a run whose window was closed; the clean-up runs, and no message shows.
struct TRunStopped {};
}  // namespace

TKestruneForm::TKestruneForm(QWidget* Parent) : QWidget(Parent) {
    setObjectName(QStringLiteral("KestruneForm"));
    // A tool window of fixed size. Qt turns quit-on-close off for tool windows;
    // this one is the program's main window, so closing it ends the program.
    setWindowFlags(Qt::Tool | Qt::MSWindowsFixedSizeDialogHint);
    setAttribute(Qt::WA_QuitOnClose, true);
    setFixedSize(ClientWidth, ClientHeight);
    setWindowTitle(QStringLiteral(" Kestrune"));

    Button1 = new QPushButton(QStringLiteral("PDF ファイル選択"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setGeometry(6, 4, 105, 22);
    connect(Button1, &QPushButton::clicked, this, [this] { Handle([this] { Button1Click(Button1); }); });

    Edit1 = new QLineEdit(this);
    Edit1->setObjectName(QStringLiteral("Edit1"));
    Edit1->setGeometry(8, 32, 377, 22);
    // A file dropped anywhere on the window goes to the window (a conversion),
    // not into the edit box as the text of its URL.
    Edit1->setAcceptDrops(false);

    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setGeometry(0, ClientHeight - ProgressBarHeight, ClientWidth, ProgressBarHeight);
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);  // a plain bar, without a percentage

    OpenDialog1 = new QFileDialog(this);
    OpenDialog1->setObjectName(QStringLiteral("OpenDialog1"));
    OpenDialog1->setAcceptMode(QFileDialog::AcceptOpen);
    OpenDialog1->setNameFilter(QStringLiteral("*.pdf (*.pdf)"));
    OpenDialog1->setDefaultSuffix(QStringLiteral("PDF"));
    // Qt's own dialog, not the platform's: its pop-ups (the completion list of
    // the name field) are then widgets of this program, which DismissOpenDialog
    // can take off the screen before a run.
    OpenDialog1->setOption(QFileDialog::DontUseNativeDialog);

    FPdf1 = new TFPdf(this);
    FPdf1->SetName(QStringLiteral("FPdf1"));

    ExecuteOpenDialog = [this]() -> std::optional<QString> {
        const bool accepted = OpenDialog1->exec() == QDialog::Accepted;
        DismissOpenDialog();
        if (!accepted || OpenDialog1->selectedFiles().isEmpty()) return std::nullopt;
        return OpenDialog1->selectedFiles().constFirst();
    };
    ShowException = [this](const QString& Message) {
        QMessageBox::critical(this, QApplication::applicationDisplayName(), Message);
    };

    setAcceptDrops(true);

    // Centred on the screen it will be shown on.
    if (QScreen* s = screen()) move(s->availableGeometry().center() - rect().center());
}

TKestruneForm::~TKestruneForm() = default;

void TKestruneForm::showEvent(QShowEvent* Event) {
    QWidget::showEvent(Event);
    // The frame is known once the window is shown: centre the whole window then.
    if (!FCentred && windowHandle()) {
        FCentred = true;
        if (QScreen* s = screen()) {
            QRect frame = frameGeometry();
            frame.moveCenter(s->availableGeometry().center());
            move(frame.topLeft());
        }
    }
}

void TKestruneForm::DismissOpenDialog() {
    // After a modal dialog has ended, every pop-up still open is one of its own
    // (the completion list stays open when the dialog is accepted while it shows).
    // A pop-up left open would stay on the screen and swallow the next click.
    for (int open = 0; QWidget* popup = QApplication::activePopupWidget(); ++open) {
        popup->close();
        if (open > 100) break;  // a pop-up that refuses to close
    }
    OpenDialog1->hide();
    // Let the window system take them off the screen and repaint what was under
    // them before the work starts; input waits for the run's own event processing.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void TKestruneForm::Handle(const std::function<void()>& Work) {
    try {
        Work();
    } catch (const TRunStopped&) {
        // The user closed the window: nothing to tell.
    } catch (...) {
        if (ShowException) ShowException(ExceptionMessage(std::current_exception()));
    }
}

QString TKestruneForm::ExceptionMessage(std::exception_ptr Error) { return ErrorMessage(Error); }

void TKestruneForm::Button1Click(QObject*) {
    const std::optional<QString> chosen = ExecuteOpenDialog ? ExecuteOpenDialog() : std::nullopt;
    if (!chosen) return;
    // One run at a time: a second one would take FPdf1 from the first, and
    // both files would be lost. The choice waits for the run, as a drop does.
    if (FRunning > 0) ConvertFilesLater({*chosen});
    else ConvertFile(*chosen);
}

void TKestruneForm::ConvertFile(const QString& FileName) {
    Edit1->setText(FileName);
    ProgressBar1->setValue(0);
    setCursor(Qt::WaitCursor);
    ++FRunning;

    const auto cleanUp = [this] {
        unsetCursor();
        ProgressBar1->setValue(0);
        FPdf1->SetActive(false);
        // Files queued during the run are converted once no run is left.
        if (--FRunning == 0) {
            FStopping = false;
            if (!FPending.isEmpty()) ConvertFilesLater({});
        }
    };
    try {
        const QString fileName = Edit1->text();
        const QFileInfo info(fileName);  // follows links
        // A mistyped name (the dialog takes any name and adds ".PDF" to it),
        // or a file gone since it was chosen: said, not passed over in silence.
        if (!info.exists())
            throw EFileError(QStringLiteral("Cannot open file \"%1\". No such file").arg(fileName));
        if (info.isDir())
            throw EFileError(QStringLiteral("Cannot open file \"%1\". It is a folder").arg(fileName));
        setWindowTitle(info.fileName());
        TConversionProgress progress;
        progress.Started = [this](int PageCount) {
            // Qt draws an empty range as a busy indicator; a document without
            // pages keeps an empty bar instead.
            ProgressBar1->setMaximum(PageCount > 0 ? PageCount : 1);
        };
        progress.PageDone = [this](int Page) {
            ProgressBar1->setValue(Page);
            QCoreApplication::processEvents();
            // The window was closed meanwhile: the pages read so far are dropped.
            if (FStopping) throw TRunStopped();
        };
        const QString target = TextFileName(fileName);
        CheckTargetIsNotInput(fileName, target);
        const TTextFile text = ReadTextFile(*FPdf1, fileName, progress);
        if (!text.IsEmpty()) SaveTextFile(target, text);
    } catch (...) {
        cleanUp();
        throw;
    }
    cleanUp();
}

void TKestruneForm::ConvertFilesLater(const QStringList& Files) {
    FPending += Files;
    if (FPendingPosted || FPending.isEmpty()) return;
    FPendingPosted = true;
    QTimer::singleShot(0, this, [this] {
        FPendingPosted = false;
        ConvertPendingFiles();
    });
}

void TKestruneForm::ConvertPendingFiles() {
    // A run in progress converts the queue when it ends (ConvertFile's clean-up).
    while (FRunning == 0 && !FStopping && !FPending.isEmpty()) {
        const QString next = FPending.takeFirst();
        Handle([&] { ConvertFile(next); });
    }
}

void TKestruneForm::closeEvent(QCloseEvent* Event) {
    QWidget::closeEvent(Event);
    if (FRunning == 0) return;
    // The run notices after its current page; the program's event loop ends
    // once it has cleaned up (quit on close).
    FStopping = true;
    FPending.clear();
}

QStringList TKestruneForm::DroppedFiles(const QMimeData* Data) {
    if (!Data || !Data->hasUrls()) return {};
    QStringList files;
    for (const QUrl& url : Data->urls()) {
        if (!url.isLocalFile()) return {};
        const QString path = url.toLocalFile();
        if (path.isEmpty() || QFileInfo(path).isDir()) return {};
        files.append(path);
    }
    return files;
}

void TKestruneForm::dragEnterEvent(QDragEnterEvent* Event) {
    if (!DroppedFiles(Event->mimeData()).isEmpty()) Event->acceptProposedAction();
}

void TKestruneForm::dragMoveEvent(QDragMoveEvent* Event) {
    if (!DroppedFiles(Event->mimeData()).isEmpty()) Event->acceptProposedAction();
}

void TKestruneForm::dropEvent(QDropEvent* Event) {
    const QStringList files = DroppedFiles(Event->mimeData());
    if (files.isEmpty()) {
        Event->ignore();
        return;
    }
    Event->acceptProposedAction();
    // The drop returns at once (the dragging program waits for it); the run
    // follows from the event loop.
    ConvertFilesLater(files);
}

}  // namespace kestrune
