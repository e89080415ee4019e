#include "window/KestruneUnit.h"

#include <QApplication>
#include <QCheckBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QCloseEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QIcon>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QUrl>

#include "convert/Conversion.h"
#include "convert/PdfFolders.h"
#include "window/WindowConversion.h"
#include "component/FileError.h"
#include <kestrune/FPdf.h>

namespace kestrune {

namespace {
constexpr int ClientWidth = 391;
// 77 for the button, the edit box and the progress bar, and a line for Label1
// between the edit box and the bar.
constexpr int LabelHeight = 20;
constexpr int ClientHeight = 77 + LabelHeight;
constexpr int ProgressBarHeight = 20;

// The family of the font the program carries for its own caption (the glyphs
// of "PDF ファイル選択" and basic Latin), loaded once; empty if it cannot load.
QString CaptionFontFamily() {
    static const QString family = [] {
        const QStringList families =
            QFontDatabase::applicationFontFamilies(QFontDatabase::addApplicationFont(QStringLiteral(":/kestrune/KestruneCaption.otf")));
        return families.isEmpty() ? QString() : families.constFirst();
    }();
    return family;
}

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
    // The desktop's font first; the carried glyphs where it has none (a
    // machine without a CJK font would otherwise show boxes).
    if (const QString caption = CaptionFontFamily(); !caption.isEmpty()) {
        QFont font = Button1->font();
        QStringList families = font.families();
        if (families.isEmpty()) families << font.family();
        font.setFamilies(families << caption);
        Button1->setFont(font);
    }
    connect(Button1, &QPushButton::clicked, this, [this] { Handle([this] { Button1Click(Button1); }); });

    // To the right of the button, in its row.
    CheckBox1 = new QCheckBox(QStringLiteral("Read scanned pages (OCR)"), this);
    CheckBox1->setObjectName(QStringLiteral("CheckBox1"));
    CheckBox1->setGeometry(119, 4, 266, 22);
    CheckBox1->setChecked(false);

    Edit1 = new QLineEdit(this);
    Edit1->setObjectName(QStringLiteral("Edit1"));
    Edit1->setGeometry(8, 32, 377, 22);
    // A file dropped anywhere on the window goes to the window (a conversion),
    // not into the edit box as the text of its URL.
    Edit1->setAcceptDrops(false);

    Label1 = new QLabel(this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setGeometry(8, 56, 377, LabelHeight);

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
    AskPassword = [this](const QString& FileName, bool Retry) -> std::optional<QString> {
        QInputDialog dialog(this);
        dialog.setObjectName(QStringLiteral("PasswordDialog"));
        dialog.setWindowTitle(QApplication::applicationDisplayName());
        dialog.setLabelText(Retry ? QStringLiteral("Incorrect password for %1. Password:").arg(FileName)
                                  : QStringLiteral("%1 is protected by a password. Password:").arg(FileName));
        dialog.setTextEchoMode(QLineEdit::Password);
        if (dialog.exec() != QDialog::Accepted) return std::nullopt;
        return dialog.textValue();
    };

    setAcceptDrops(true);

    // Centred on the screen it will be shown on.
    if (QScreen* s = screen()) move(s->availableGeometry().center() - rect().center());
}

TKestruneForm::~TKestruneForm() = default;

void TKestruneForm::showEvent(QShowEvent* Event) {
    QWidget::showEvent(Event);
    FClosed = false;
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
    } catch (...) {
        if (ShowException) ShowException(ExceptionMessage(std::current_exception()));
    }
}

QIcon TKestruneForm::Icon() {
    // Pixmaps per size: an SVG icon engine would take one drawing for all sizes.
    QIcon icon;
    for (const int size : {16, 24})
        icon.addPixmap(QIcon(QStringLiteral(":/kestrune/kestrune-%1.svg").arg(size)).pixmap(size, size));
    const QIcon drawing(QStringLiteral(":/kestrune/kestrune.svg"));
    for (const int size : {32, 48, 64, 128, 256}) icon.addPixmap(drawing.pixmap(size, size));
    return icon;
}

QString TKestruneForm::ExceptionMessage(std::exception_ptr Error) { return ErrorMessage(Error); }

void TKestruneForm::Button1Click(QObject*) {
    const std::optional<QString> chosen = ExecuteOpenDialog ? ExecuteOpenDialog() : std::nullopt;
    if (!chosen) return;
    // Behind the files already waiting, if any.
    if (IsBusy()) {
        FPending.append({*chosen, false});
        PostPendingFiles();
    } else {
        ConvertFile(*chosen);
    }
}

void TKestruneForm::ConvertFile(const QString& FileName) {
    // One run at a time: a second one would end the first. It waits its turn.
    if (FRunning) {
        FPending.append({FileName, false});
        PostPendingFiles();
        return;
    }
    Edit1->setText(FileName);
    Edit1->setToolTip(FileName);  // the whole path, when the box is too narrow for it
    ProgressBar1->setValue(0);
    Label1->clear();
    setCursor(Qt::WaitCursor);
    FRunning = true;
    FPasswordsAsked = 0;
    try {
        FFileName = Edit1->text();
        const QFileInfo info(FFileName);  // follows links
        // A mistyped name (the dialog takes any name and adds ".PDF" to it),
        // or a file gone since it was chosen: said, not passed over in silence.
        if (!info.exists())
            throw EFileError(QStringLiteral("Cannot open file \"%1\". No such file").arg(FFileName));
        if (info.isDir()) throw EFileError(QStringLiteral("Cannot open file \"%1\". It is a folder").arg(FFileName));
        setWindowTitle(info.fileName());
        CheckTargetIsNotInput(FFileName, TextFileName(FFileName));
        StartConversion(QString());
    } catch (...) {
        Label1->setText(QStringLiteral("Nothing written for %1").arg(QFileInfo(FFileName).fileName()));
        CleanUp();
        throw;
    }
}

void TKestruneForm::StartConversion(const QString& Password) {
    FConversion = std::make_unique<TWindowConversion>(WorkerProgram);
    connect(FConversion.get(), &TWindowConversion::Started, this, [this](int PageCount) {
        // Qt draws an empty range as a busy indicator; keep a plain bar.
        ProgressBar1->setMaximum(PageCount > 0 ? PageCount : 1);
    });
    connect(FConversion.get(), &TWindowConversion::Progress, ProgressBar1, &QProgressBar::setValue);
    connect(FConversion.get(), &TWindowConversion::Finished, this,
            [this](const TConversionResult& Result) { ConversionFinished(Result); });
    FConversion->Start(FFileName, Password, TextFileName(FFileName),
                       CheckBox1->isChecked() ? TOcrMode::Auto : TOcrMode::Never);
}

void TKestruneForm::ConversionFinished(const TConversionResult& Result) {
    FConversion.reset();
    if (Result.NeedsPassword && FPasswordsAsked < PasswordTries && AskPassword) {
        unsetCursor();
        const std::optional<QString> password = AskPassword(QFileInfo(FFileName).fileName(), FPasswordsAsked > 0);
        ++FPasswordsAsked;
        if (password && !FClosed) {
            setCursor(Qt::WaitCursor);
            StartConversion(*password);
            return;
        }
    }
    const QString name = QFileInfo(FFileName).fileName();
    // A document without pages: an empty bar (Qt draws an empty range as busy).
    if (Result.PageCount == 0) ProgressBar1->setMaximum(1);
    if (Result.Failed) {
        Label1->setText(QStringLiteral("Nothing written for %1").arg(name));
    } else if (Result.PagesWritten == 0) {
        Label1->setText(QStringLiteral("Nothing written: %1 has no pages").arg(name));
    } else {
        Label1->setText(QStringLiteral("%1 written: %2").arg(QFileInfo(TextFileName(FFileName)).fileName(),
                                                             Result.PagesWritten == 1
                                                                 ? QStringLiteral("1 page")
                                                                 : QStringLiteral("%1 pages").arg(Result.PagesWritten)));
    }
    Label1->setToolTip(Result.PagesWritten > 0 ? TextFileName(FFileName) : QString());
    // The progress bar and the cursor come back before the message shows; files
    // dropped meanwhile wait until it has been read.
    unsetCursor();
    ProgressBar1->setValue(0);
    // Not after the window was closed (during the password prompt): the
    // program is ending.
    if (Result.Failed && ShowException && !FClosed)
        ShowException(FFromOutside ? QStringLiteral("%1: %2").arg(FFileName, Result.Error) : Result.Error);
    CleanUp();
}

void TKestruneForm::CleanUp() {
    unsetCursor();
    ProgressBar1->setValue(0);
    FRunning = false;
    FFromOutside = false;
    PostPendingFiles();
}

void TKestruneForm::ConvertFilesLater(const QStringList& Files) {
    for (const QString& file : Files) FPending.append({file, true});
    PostPendingFiles();
}

void TKestruneForm::PostPendingFiles() {
    if (FPendingPosted || FPending.isEmpty()) return;
    FPendingPosted = true;
    QTimer::singleShot(0, this, [this] {
        FPendingPosted = false;
        ConvertPendingFiles();
    });
}

void TKestruneForm::ConvertPendingFiles() {
    // A run in progress takes the next file when it ends (CleanUp).
    while (!FRunning && !FPending.isEmpty()) {
        const TQueued next = FPending.takeFirst();
        if (next.FromOutside && QFileInfo(next.FileName).isDir()) {
            // A folder stands for the PDF files below it, in the order of their
            // paths, as for kestrune-text; these go first, in its place.
            const QList<TFolderEntry> entries = PdfFilesBelow(next.FileName, false);
            if (entries.isEmpty() && ShowException)
                ShowException(QStringLiteral("%1: the folder holds no PDF file").arg(next.FileName));
            QList<TQueued> files;
            for (const TFolderEntry& entry : entries) {
                if (entry.Refusal.isEmpty()) files.append({entry.Path, true});
                else if (ShowException) ShowException(QStringLiteral("%1: %2").arg(entry.Path, entry.Refusal));
            }
            FPending = files + FPending;
            continue;
        }
        Handle([&] {
            FFromOutside = next.FromOutside;
            ConvertFile(next.FileName);
        });
    }
}

void TKestruneForm::closeEvent(QCloseEvent* Event) {
    QWidget::closeEvent(Event);
    FClosed = true;
    FPending.clear();
    if (!FConversion) return;
    // At once: the workers are killed and no text file is written for the
    // run; the program's event loop ends when the window has gone (quit on close).
    FConversion.reset();
    CleanUp();
}

QStringList TKestruneForm::DroppedFiles(const QMimeData* Data) {
    if (!Data || !Data->hasUrls()) return {};
    QStringList files;
    for (const QUrl& url : Data->urls()) {
        if (!url.isLocalFile()) return {};
        const QString path = url.toLocalFile();
        if (path.isEmpty()) return {};
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
