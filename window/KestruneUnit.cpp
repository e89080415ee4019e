#include "window/KestruneUnit.h"

#include <QApplication>
#include <QBoxLayout>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDialogButtonBox>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QIcon>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <utility>

#include "convert/Conversion.h"
#include "convert/PdfFolders.h"
#include "window/RunReport.h"
#include "window/WindowConversion.h"
#include "component/FileError.h"
#include <kestrune/FPdf.h>

namespace kestrune {

namespace {
// The window's places at the default font: the width, and the heights of the
// rows (the button's, the edit box's, Label1's and the progress bar's) with
// the gaps between them.
constexpr int ClientWidth = 391;
constexpr QSize Button1Size(105, 22);
constexpr int EditHeight = 22;
constexpr int LabelHeight = 20;
constexpr int ProgressBarHeight = 20;
constexpr QSize StopButtonSize(60, ProgressBarHeight);

const QString Title = QStringLiteral("Kestrune");

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

// The size of Button: Drawn, or more where its caption needs it (the style's
// frame around the caption, and a little room, as the default font has in
// Button1's place).
QSize ButtonSize(const QPushButton& Button, QSize Drawn) {
    QStyleOptionButton option;
    option.initFrom(&Button);
    option.text = Button.text();
    option.rect = QRect(QPoint(), Drawn);
    const QSize frame = Drawn - Button.style()->subElementRect(QStyle::SE_PushButtonContents, &option, &Button).size();
    const QFontMetrics metrics = Button.fontMetrics();
    return Drawn.expandedTo(QSize(metrics.horizontalAdvance(Button.text()), metrics.height()) + frame + QSize(6, 2));
}

// "FILE: why", the one form of the window's messages.
QString Named(const QString& FileName, const QString& Message) { return QStringLiteral("%1: %2").arg(FileName, Message); }

// The outcome of a file that failed with Error.
TFileOutcome Failure(const QString& FileName, const QString& Error) {
    TFileOutcome outcome;
    outcome.Kind = TFileOutcome::TKind::Failed;
    outcome.FileName = FileName;
    outcome.Error = Error;
    return outcome;
}

}  // namespace

TKestruneForm::TKestruneForm(QWidget* Parent)
    : QWidget(Parent), FReport(std::make_unique<TRunReport>()), FEndedReport(std::make_unique<TRunReport>()) {
    setObjectName(QStringLiteral("KestruneForm"));
    // A tool window. Qt turns quit-on-close off for tool windows; this one is
    // the program's main window, so closing it ends the program.
    setWindowFlags(Qt::Tool);
    setAttribute(Qt::WA_QuitOnClose, true);
    setWindowTitle(Title);

    Button1 = new QPushButton(QStringLiteral("PDF ファイル選択"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    connect(Button1, &QPushButton::clicked, this, [this] { Handle([this] { Button1Click(Button1); }); });
    // Enter presses the button when it has the focus, as Space does (outside a
    // dialog Qt leaves Enter to the window).
    Button1->setAutoDefault(true);

    // To the right of the button, in its row.
    CheckBox1 = new QCheckBox(QStringLiteral("Read scanned pages (OCR)"), this);
    CheckBox1->setObjectName(QStringLiteral("CheckBox1"));
    CheckBox1->setChecked(false);

    Edit1 = new QLineEdit(this);
    Edit1->setObjectName(QStringLiteral("Edit1"));
    // A file dropped anywhere on the window goes to the window (a conversion),
    // not into the edit box as the text of its URL.
    Edit1->setAcceptDrops(false);
    // Enter converts the file whose name was typed or pasted into the box.
    connect(Edit1, &QLineEdit::returnPressed, this, [this] {
        if (const QString typed = Edit1->text(); !typed.isEmpty())
            Handle([&] { ChooseFile(TypedFileName(QFileInfo(typed).absoluteFilePath())); });
    });

    Label1 = new TResultLine(this);
    Label1->setObjectName(QStringLiteral("Label1"));
    connect(Label1, &QLabel::linkActivated, this, [this] {
        if (ShowDetails && !FEndedReport->IsEmpty()) ShowDetails(FEndedReport->Summary(), FEndedReport->Details());
    });

    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setFormat(QStringLiteral("%p%"));
    ProgressBar1->setTextVisible(false);  // the percentage during a run only

    StopButton = new QPushButton(QStringLiteral("Stop"), this);
    StopButton->setObjectName(QStringLiteral("StopButton"));
    StopButton->setToolTip(QStringLiteral("Stop the run (Escape)"));
    StopButton->setFocusPolicy(Qt::NoFocus);
    StopButton->hide();
    connect(StopButton, &QPushButton::clicked, this, &TKestruneForm::Stop);

    // The rows, with the margins and gaps of the places drawn at the default font.
    auto* rows = new QVBoxLayout(this);
    rows->setContentsMargins(0, 4, 0, 0);
    rows->setSpacing(0);
    auto* top = new QHBoxLayout;
    top->setContentsMargins(6, 0, 6, 0);
    top->setSpacing(8);
    top->addWidget(Button1);
    top->addWidget(CheckBox1, 1);
    rows->addLayout(top);
    rows->addSpacing(6);
    for (QWidget* line : {static_cast<QWidget*>(Edit1), static_cast<QWidget*>(Label1)}) {
        auto* row = new QHBoxLayout;
        row->setContentsMargins(8, 0, 6, 0);
        row->addWidget(line);
        rows->addLayout(row);
        rows->addSpacing(line == Edit1 ? 2 : 1);
    }
    auto* bottom = new QHBoxLayout;
    bottom->setSpacing(0);
    bottom->addWidget(ProgressBar1, 1);
    bottom->addWidget(StopButton);
    rows->addLayout(bottom);

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
        // Qt's dialog keeps the size it was given for a large screen: on a
        // small one, or with a large font, its buttons would lie past the
        // screen's edges. It is made to fit (it may still be enlarged).
        if (QScreen* s = screen()) OpenDialog1->resize(OpenDialog1->size().boundedTo(s->availableSize() * 9 / 10));
        const bool accepted = RunDialog(*OpenDialog1) == QDialog::Accepted;
        DismissOpenDialog();
        if (!accepted || OpenDialog1->selectedFiles().isEmpty()) return std::nullopt;
        return OpenDialog1->selectedFiles().constFirst();
    };
    ShowException = [this](const QString& Message) {
        QMessageBox box(QMessageBox::Critical, QApplication::applicationDisplayName(), Message, QMessageBox::Ok, this);
        RunDialog(box);
    };
    ShowDetails = [this](const QString& Summary, const QString& Details) {
        QDialog dialog(this);
        dialog.setObjectName(QStringLiteral("DetailsDialog"));
        dialog.setWindowTitle(QApplication::applicationDisplayName());
        auto* rows = new QVBoxLayout(&dialog);
        rows->addWidget(new QLabel(Summary, &dialog));
        // A file a line, unbroken; as large as the list, within most of the screen.
        auto* list = new QPlainTextEdit(Details, &dialog);
        list->setReadOnly(true);
        list->setLineWrapMode(QPlainTextEdit::NoWrap);
        const QFontMetrics metrics = list->fontMetrics();
        int widest = 0;
        for (const QString& line : Details.split(QLatin1Char('\n'))) widest = std::max(widest, metrics.horizontalAdvance(line));
        const QSize screenSize = screen() ? screen()->availableSize() : QSize(1024, 768);
        const int frame = 2 * (list->frameWidth() + int(list->document()->documentMargin())) + 4;
        const int width = std::min(widest + frame, screenSize.width() * 3 / 4);
        // Room for the scroll bar that a list wider than that brings.
        const int bar = width < widest + frame ? list->horizontalScrollBar()->sizeHint().height() : 0;
        list->setMinimumSize(width, std::min(int(Details.count(QLatin1Char('\n')) + 1) * metrics.lineSpacing() + frame + bar,
                                             screenSize.height() / 2));
        rows->addWidget(list);
        auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, &dialog);
        connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
        rows->addWidget(buttons);
        dialog.resize(rows->totalMinimumSize());
        RunDialog(dialog);
    };
    AskPassword = [this](const QString& FileName, bool Retry) -> std::optional<QString> {
        QInputDialog dialog(this);
        dialog.setObjectName(QStringLiteral("PasswordDialog"));
        dialog.setWindowTitle(QApplication::applicationDisplayName());
        const QString question = Retry ? QStringLiteral("Incorrect password for %1. Password:")
                                       : QStringLiteral("%1 is protected by a password. Password:");
        // The label does not wrap: a long name is shortened in the middle, so
        // that the prompt and its buttons stay on the screen.
        const QFontMetrics metrics(dialog.font());
        const int room = (screen() ? screen()->availableSize().width() : 1024) * 2 / 3 -
                         metrics.horizontalAdvance(question.arg(QString()));
        dialog.setLabelText(question.arg(metrics.elidedText(FileName, Qt::ElideMiddle, std::max(room, 0))));
        dialog.setTextEchoMode(QLineEdit::Password);
        if (RunDialog(dialog) != QDialog::Accepted) return std::nullopt;
        return dialog.textValue();
    };

    setAcceptDrops(true);

    SetCaptionFont();
    resize(ClientWidth, 0);  // as narrow as the rows allow, as high as they need
    Arrange();
    // Centred on the screen it will be shown on.
    if (QScreen* s = screen()) move(s->availableGeometry().center() - rect().center());
}

TKestruneForm::~TKestruneForm() = default;

void TKestruneForm::SetCaptionFont() {
    // The desktop's font first; the carried glyphs where it has none (a
    // machine without a CJK font would otherwise show boxes).
    QFont font = this->font();
    if (const QString caption = CaptionFontFamily(); !caption.isEmpty()) {
        QStringList families = font.families();
        if (families.isEmpty()) families << font.family();
        font.setFamilies(families << caption);
    }
    Button1->setFont(font);
}

void TKestruneForm::Arrange() {
    const QSize button = ButtonSize(*Button1, Button1Size);
    const int top = std::max(button.height(), CheckBox1->sizeHint().height());
    Button1->setFixedSize(button.width(), top);
    CheckBox1->setFixedHeight(top);
    Edit1->setFixedHeight(std::max(EditHeight, Edit1->sizeHint().height()));
    Label1->setFixedHeight(std::max(LabelHeight, Label1->fontMetrics().height()));
    const QSize stop = ButtonSize(*StopButton, StopButtonSize);
    const int bottom = std::max({stop.height(), ProgressBar1->minimumSizeHint().height()});
    ProgressBar1->setFixedHeight(bottom);
    StopButton->setFixedSize(stop.width(), bottom);
    // Widened at will; as high as the rows.
    layout()->invalidate();
    const QSize least = layout()->totalMinimumSize();
    setMinimumSize(std::max(ClientWidth, least.width()), least.height());
    setMaximumSize(QWIDGETSIZE_MAX, least.height());
    // The places now, also before the window shows.
    layout()->activate();
}

void TKestruneForm::changeEvent(QEvent* Event) {
    QWidget::changeEvent(Event);
    // The desktop's font or style changed while the window shows.
    if ((Event->type() == QEvent::FontChange || Event->type() == QEvent::StyleChange) && Button1) {
        SetCaptionFont();
        Arrange();
    }
}

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

int TKestruneForm::RunDialog(QDialog& Dialog) {
    if (FClosed) return QDialog::Rejected;
    Dialog.setWindowModality(Qt::NonModal);
    QEventLoop loop;
    connect(&Dialog, &QDialog::finished, &loop, &QEventLoop::quit);
    FDialogs.append(&Dialog);
    if (FDialogs.size() == 1) qApp->installEventFilter(this);
    Dialog.show();
    Dialog.raise();
    Dialog.activateWindow();
    loop.exec(QEventLoop::DialogExec);
    FDialogs.removeAll(&Dialog);
    FDialogs.removeAll(nullptr);
    if (FDialogs.isEmpty()) qApp->removeEventFilter(this);
    return Dialog.result();
}

bool TKestruneForm::eventFilter(QObject* Watched, QEvent* Event) {
    if (FDialogs.isEmpty() || !Watched->isWidgetType() || static_cast<QWidget*>(Watched)->window() != this)
        return QWidget::eventFilter(Watched, Event);
    switch (Event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
        // A click on the window brings the dialog that waits for an answer to the front.
        if (QDialog* dialog = FDialogs.constLast()) {
            dialog->raise();
            dialog->activateWindow();
        }
        return true;
    case QEvent::MouseButtonRelease:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::ContextMenu:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TabletPress:
        return true;
    default:
        return false;
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

QString TKestruneForm::TypedFileName(const QString& Chosen) {
    const QFileInfo chosen(Chosen);
    if (chosen.exists() || chosen.suffix().compare(QLatin1String("pdf"), Qt::CaseInsensitive) != 0) return Chosen;
    const QString base = chosen.completeBaseName();
    QStringList found;
    for (const QString& name : chosen.dir().entryList(QDir::Files | QDir::Hidden, QDir::Name))
        if (name.size() == base.size() + 4 && name.startsWith(base) &&
            name.endsWith(QLatin1String(".pdf"), Qt::CaseInsensitive))
            found << name;
    std::stable_partition(found.begin(), found.end(), [](const QString& name) { return name.endsWith(QLatin1String(".pdf")); });
    if (!found.isEmpty()) return chosen.dir().filePath(found.constFirst());
    const QString bare = chosen.dir().filePath(base);
    return QFileInfo(bare).isFile() ? bare : Chosen;
}

void TKestruneForm::Button1Click(QObject*) {
    const std::optional<QString> chosen = ExecuteOpenDialog ? ExecuteOpenDialog() : std::nullopt;
    if (!chosen) return;
    ChooseFile(TypedFileName(*chosen));
}

void TKestruneForm::ChooseFile(const QString& FileName) {
    // Behind the files already waiting, if any.
    if (IsBusy()) {
        FPending.append({FileName, false});
        ShowRunningLine();
        PostPendingFiles();
    } else {
        ConvertFile(FileName);
    }
}

void TKestruneForm::ConvertFile(const QString& FileName) {
    // One run at a time: a second one would end the first. It waits its turn.
    if (FRunning) {
        FPending.append({FileName, false});
        ShowRunningLine();
        PostPendingFiles();
        return;
    }
    Edit1->setText(FileName);
    Edit1->setToolTip(FileName);  // the whole path, when the box is too narrow for it
    FFileName = FileName;
    // The title follows the file being converted, and names it after a failure.
    const QString name = QFileInfo(FFileName).fileName();
    setWindowTitle(name.isEmpty() ? Title : name);
    ProgressBar1->setValue(0);
    setCursor(Qt::WaitCursor);
    FRunning = true;
    FPasswordsAsked = 0;
    FOcr = CheckBox1->isChecked();
    ShowRunningLine();
    const QFileInfo info(FFileName);  // follows links
    // A mistyped name, or a file gone since it was chosen: said, not passed
    // over in silence.
    QString problem;
    if (!info.exists()) {
        problem = QStringLiteral("No such file");
    } else if (info.isDir()) {
        problem = QStringLiteral("Is a folder, not a file");
    } else {
        try {
            CheckTargetIsNotInput(FFileName, TextFileName(FFileName));
        } catch (const EFileError&) {
            // readme.txt, or a PDF named doc.txt: its text would replace it.
            problem = QStringLiteral("its text file would be the file itself, %1; nothing written")
                          .arg(QFileInfo(TextFileName(FFileName)).fileName());
        }
    }
    if (problem.isEmpty()) {
        try {
            StartConversion(QString());
            ProgressBar1->setTextVisible(true);
            StopButton->show();
            return;
        } catch (...) {
            problem = ErrorMessage(std::current_exception());
        }
    }
    FileEnded(Failure(FFileName, problem));
    CleanUp();
    throw EFileError(Named(FileName, problem));
}

void TKestruneForm::StartConversion(const QString& Password) {
    FPageCount = 0;
    FConversion = std::make_unique<TWindowConversion>(WorkerProgram);
    connect(FConversion.get(), &TWindowConversion::Started, this, [this](int PageCount) { FPageCount = PageCount; });
    connect(FConversion.get(), &TWindowConversion::Progress, this, &TKestruneForm::ShowProgress);
    connect(FConversion.get(), &TWindowConversion::Finished, this,
            [this](const TConversionResult& Result) { ConversionFinished(Result); });
    FConversion->Start(FFileName, Password, TextFileName(FFileName), FOcr ? TOcrMode::Auto : TOcrMode::Never);
}

void TKestruneForm::ShowProgress(int PagesDone, int PagesUnderWay) {
    // In half pages: a page a worker has begun counts as half done, so that the
    // bar moves from the first page on, also where a page takes seconds (a
    // scanned page being recognised). Qt draws an empty range as a busy
    // indicator; keep a plain bar. Never backwards: fewer workers at the end
    // leave fewer pages under way.
    ProgressBar1->setMaximum(std::max(2 * FPageCount, 1));
    ProgressBar1->setValue(std::max(ProgressBar1->value(), 2 * PagesDone + PagesUnderWay));
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
    // A document without pages: an empty bar (Qt draws an empty range as busy).
    if (Result.PageCount == 0) ProgressBar1->setMaximum(1);
    TFileOutcome outcome = Failure(FFileName, Result.Error);
    if (!Result.Failed) {
        outcome.Kind = Result.PagesWritten == 0 ? TFileOutcome::TKind::NoPages : TFileOutcome::TKind::Written;
        outcome.TextFileName = TextFileName(FFileName);
        outcome.Pages = Result.PagesWritten;
        outcome.Recognized = Result.PagesRecognized;
        outcome.WithoutText = Result.PagesWithoutText;
        outcome.Ocr = FOcr;
    }
    FileEnded(outcome);
    // The progress bar and the cursor come back before the message shows; files
    // dropped meanwhile wait until it has been read.
    unsetCursor();
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);
    StopButton->hide();
    // Not after the window was closed (during the password prompt): the
    // program is ending.
    if (Result.Failed && ShowException && !FClosed) ShowException(Named(FFileName, Result.Error));
    CleanUp();
}

void TKestruneForm::FileEnded(const TFileOutcome& Outcome) {
    FReport->Add(Outcome);
    Label1->SetLine(FileLine(Outcome));
    Label1->setToolTip(Outcome.Kind == TFileOutcome::TKind::Written ? Outcome.TextFileName : Outcome.FileName);
}

void TKestruneForm::ShowRunningLine() {
    if (!FRunning) return;
    Label1->SetLine({FReport->RunningLine(FPending.size()), {}, {}});
    Label1->setToolTip(QString());
}

void TKestruneForm::Stop() {
    if (!FRunning || !FDialogs.isEmpty()) return;
    // At once: the workers are killed and no text file is written for the file.
    FConversion.reset();
    TFileOutcome stopped;
    stopped.Kind = TFileOutcome::TKind::Stopped;
    stopped.FileName = FFileName;
    FReport->Add(stopped);
    for (const TQueued& file : std::exchange(FPending, {})) {
        TFileOutcome waiting;
        waiting.Kind = TFileOutcome::TKind::NotConverted;
        waiting.FileName = file.FileName;
        FReport->Add(waiting);
    }
    Label1->setToolTip(FFileName);
    CleanUp();
}

void TKestruneForm::CleanUp() {
    unsetCursor();
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);
    StopButton->hide();
    FRunning = false;
    PostPendingFiles();
    EndRunIfIdle();
}

void TKestruneForm::EndRunIfIdle() {
    if (IsBusy() || FReport->IsEmpty()) return;
    Label1->SetLine(FReport->EndLine());
    std::swap(FReport, FEndedReport);
    FReport->Clear();
}

void TKestruneForm::ConvertFilesLater(const QStringList& Files) {
    for (const QString& file : Files) FPending.append({file, true});
    ShowRunningLine();
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
            const auto refuse = [this](const QString& Path, const QString& Refusal) {
                FReport->Add(Failure(Path, Refusal));
                if (ShowException) ShowException(Named(Path, Refusal));
            };
            if (entries.isEmpty()) refuse(next.FileName, QStringLiteral("the folder holds no PDF file"));
            QList<TQueued> files;
            for (const TFolderEntry& entry : entries) {
                if (entry.Refusal.isEmpty()) files.append({entry.Path, true});
                else refuse(entry.Path, entry.Refusal);
            }
            FPending = files + FPending;
            continue;
        }
        Handle([&] { ConvertFile(next.FileName); });
    }
    EndRunIfIdle();
}

void TKestruneForm::keyPressEvent(QKeyEvent* Event) {
    if (Event->key() == Qt::Key_Escape && Event->modifiers() == Qt::NoModifier && FRunning) {
        Stop();
        return;
    }
    QWidget::keyPressEvent(Event);
}

void TKestruneForm::closeEvent(QCloseEvent* Event) {
    QWidget::closeEvent(Event);
    FClosed = true;
    FPending.clear();
    // A dialog or message box showing ends with the window; what waited for
    // its answer then finds the window closed.
    for (const QPointer<QDialog>& dialog : FDialogs)
        if (dialog) dialog->reject();
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
