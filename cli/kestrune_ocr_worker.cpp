// kestrune-ocr-worker: a worker process of kestrune-text's runs that recognise
// pages (--ocr, --format pdf). kestrune-text starts it as it starts its own
// workers, with the worker argument and its socket; it reads pages as they do,
// rendering and recognising those that need it.
#include <QCoreApplication>
#include <cstdio>
#include <cstring>

#include "convert/ConversionWorker.h"
#include "convert/RenderedRecognition.h"
#include "convert/WorkerProtocol.h"

int main(int argc, char** argv) {
    if (argc != 2 || std::strcmp(argv[1], kestrune::worker::WorkerArgument) != 0) {
        std::fputs("kestrune-ocr-worker: started by kestrune-text, not by hand\n", stderr);
        return 2;
    }
    QCoreApplication application(argc, argv);
    kestrune::InstallPageRecognition();
    return kestrune::RunConversionWorker();
}
