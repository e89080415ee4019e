// Writes the documents made from kestrune-text's option table, at build time:
//   make_option_docs TEMPLATE MANUAL COMPLETION
// MANUAL is TEMPLATE with its line "@OPTIONS@" replaced by the options'
// entries; COMPLETION is the bash completion script.
#include <QFile>
#include <QSaveFile>
#include <cstdio>

#include "cli/OptionDocs.h"

namespace {

bool Write(const char* Path, const QByteArray& Bytes) {
    QSaveFile file(QString::fromLocal8Bit(Path));
    if (file.open(QIODevice::WriteOnly) && file.write(Bytes) == Bytes.size() && file.commit()) return true;
    std::fprintf(stderr, "make_option_docs: cannot write %s: %s\n", Path, file.errorString().toLocal8Bit().constData());
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fputs("usage: make_option_docs TEMPLATE MANUAL COMPLETION\n", stderr);
        return 2;
    }
    QFile source(QString::fromLocal8Bit(argv[1]));
    if (!source.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "make_option_docs: cannot read %s\n", argv[1]);
        return 1;
    }
    QByteArray manual = source.readAll();
    const QByteArray mark = "\n@OPTIONS@\n";
    if (manual.count(mark) != 1) {
        std::fprintf(stderr, "make_option_docs: %s needs one line @OPTIONS@\n", argv[1]);
        return 1;
    }
    manual.replace(mark, "\n" + kestrune::ManualOptions());
    return Write(argv[2], manual) && Write(argv[3], kestrune::BashCompletion()) ? 0 : 1;
}
