// A program that does nothing but link the library, as a consumer's would:
// it opens the engine by its default name and prints the file actually loaded,
// or the error line. Built into a folder of its own, with no engine beside it.
#include <dlfcn.h>

#include <cstdio>

#include <kestrune/FPdf.h>

int main() {
    using namespace kestrune;
    try {
        TFPdf pdf;
        pdf.CreateDocument();
    } catch (const EPdfError& e) {
        std::fprintf(stderr, "%s\n", e.Message().toLocal8Bit().constData());
        return 1;
    }
    Dl_info info{};
    if (!dladdr(reinterpret_cast<void*>(engine::FPDF_GetPageCount), &info) || !info.dli_fname) return 2;
    std::printf("%s\n", info.dli_fname);
    return 0;
}
