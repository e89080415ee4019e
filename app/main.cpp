// The converter window program: the window runs until it is closed.
#include <QApplication>

#include "app/KestruneUnit.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kestrune"));
    kestrune::TKestruneForm KestruneForm;
    KestruneForm.show();
    return application.exec();
}
