#include "app/KestruneUnit.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>

#include "app/Conversion.h"
#include <kestrune/FPdf.h>

namespace kestrune {

namespace {
constexpr int ClientWidth = 391;
constexpr int ClientHeight = 77;
constexpr int ProgressBarHeight = 20;
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
    connect(Button1, &QPushButton::clicked, this, &TKestruneForm::Button1Clicked);

    Edit1 = new QLineEdit(this);
    Edit1->setObjectName(QStringLiteral("Edit1"));
    Edit1->setGeometry(8, 32, 377, 22);

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

    FPdf1 = new TFPdf(this);
    FPdf1->SetName(QStringLiteral("FPdf1"));

    ExecuteOpenDialog = [this]() -> std::optional<QString> {
        if (OpenDialog1->exec() != QDialog::Accepted || OpenDialog1->selectedFiles().isEmpty()) return std::nullopt;
        return OpenDialog1->selectedFiles().constFirst();
    };
    ShowException = [this](const QString& Message) {
        QMessageBox::critical(this, QApplication::applicationDisplayName(), Message);
    };

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

void TKestruneForm::Button1Clicked() {
    try {
        Button1Click(Button1);
    } catch (...) {
        if (ShowException) ShowException(ExceptionMessage(std::current_exception()));
    }
}

QString TKestruneForm::ExceptionMessage(std::exception_ptr Error) { return ErrorMessage(Error); }

void TKestruneForm::Button1Click(QObject*) {
    const std::optional<QString> chosen = ExecuteOpenDialog ? ExecuteOpenDialog() : std::nullopt;
    if (!chosen) return;
    Edit1->setText(*chosen);
    ProgressBar1->setValue(0);
    setCursor(Qt::WaitCursor);

    const auto cleanUp = [this] {
        unsetCursor();
        ProgressBar1->setValue(0);
        FPdf1->SetActive(false);
    };
    try {
        const QString fileName = Edit1->text();
        const QFileInfo info(fileName);  // follows links
        if (info.exists() && !info.isDir()) {
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
            };
            const TTextFile text = ReadTextFile(*FPdf1, fileName, progress);
            if (!text.IsEmpty()) SaveTextFile(TextFileName(fileName), text);
        }
    } catch (...) {
        cleanUp();
        throw;
    }
    cleanUp();
}

}  // namespace kestrune
