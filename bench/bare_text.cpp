// The bare engine loop, as a program of its own: loads the engine, opens the
// PDF, reads each page's text and writes it as UTF-8 with CR LF after each
// page, behind the byte-order mark. No Qt, no component: what converting one
// file costs the engine alone, start-up included, for invocation_bench.
//
//   bare_text ENGINE.so IN.pdf OUT.txt
#include <dlfcn.h>
#include <cstdio>
#include <string>
#include <vector>

namespace {

struct TEngine {
    void (*InitLibrary)();
    void (*DestroyLibrary)();
    void* (*LoadDocument)(const char*, const char*);
    void (*CloseDocument)(void*);
    int (*GetPageCount)(void*);
    void* (*LoadPage)(void*, int);
    void (*ClosePage)(void*);
    void* (*LoadTextPage)(void*);
    void (*CloseTextPage)(void*);
    int (*CountChars)(void*);
    int (*GetText)(void*, int, int, unsigned short*);
};

template <class F>
bool Bind(void* Library, const char* Name, F& Slot) {
    Slot = reinterpret_cast<F>(dlsym(Library, Name));
    return Slot != nullptr;
}

// UTF-16 (unpaired surrogates as U+FFFD) to UTF-8, appended to Out.
void AppendUtf8(std::string& Out, const unsigned short* Units, int Count) {
    for (int i = 0; i < Count; ++i) {
        unsigned c = Units[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < Count && Units[i + 1] >= 0xDC00 && Units[i + 1] < 0xE000)
            c = 0x10000 + ((c - 0xD800) << 10) + (Units[++i] - 0xDC00);
        else if (c >= 0xD800 && c < 0xE000)
            c = 0xFFFD;
        if (c < 0x80) {
            Out += char(c);
        } else if (c < 0x800) {
            Out += char(0xC0 | c >> 6);
            Out += char(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            Out += char(0xE0 | c >> 12);
            Out += char(0x80 | (c >> 6 & 0x3F));
            Out += char(0x80 | (c & 0x3F));
        } else {
            Out += char(0xF0 | c >> 18);
            Out += char(0x80 | (c >> 12 & 0x3F));
            Out += char(0x80 | (c >> 6 & 0x3F));
            Out += char(0x80 | (c & 0x3F));
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fputs("usage: bare_text ENGINE.so IN.pdf OUT.txt\n", stderr);
        return 2;
    }
    void* library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    TEngine e{};
    if (!library || !Bind(library, "FPDF_InitLibrary", e.InitLibrary) ||
        !Bind(library, "FPDF_DestroyLibrary", e.DestroyLibrary) || !Bind(library, "FPDF_LoadDocument", e.LoadDocument) ||
        !Bind(library, "FPDF_CloseDocument", e.CloseDocument) || !Bind(library, "FPDF_GetPageCount", e.GetPageCount) ||
        !Bind(library, "FPDF_LoadPage", e.LoadPage) || !Bind(library, "FPDF_ClosePage", e.ClosePage) ||
        !Bind(library, "FPDFText_LoadPage", e.LoadTextPage) || !Bind(library, "FPDFText_ClosePage", e.CloseTextPage) ||
        !Bind(library, "FPDFText_CountChars", e.CountChars) || !Bind(library, "FPDFText_GetText", e.GetText)) {
        std::fprintf(stderr, "bare_text: cannot bind the engine %s\n", argv[1]);
        return 1;
    }
    e.InitLibrary();
    void* document = e.LoadDocument(argv[2], "");
    std::FILE* out = std::fopen(argv[3], "wb");
    if (!document || !out) {
        std::fputs("bare_text: cannot open the document or the output\n", stderr);
        return 1;
    }
    std::fputs("\xEF\xBB\xBF", out);
    std::vector<unsigned short> units;
    std::string bytes;
    const int count = e.GetPageCount(document);
    for (int i = 0; i < count; ++i) {
        void* page = e.LoadPage(document, i);
        void* text = page ? e.LoadTextPage(page) : nullptr;
        if (!text) return 1;
        const int chars = e.CountChars(text);
        units.resize(size_t(chars > 0 ? chars : 0) + 1);
        const int written = chars > 0 ? e.GetText(text, 0, chars, units.data()) : 0;
        bytes.clear();
        AppendUtf8(bytes, units.data(), written > 1 ? written - 1 : 0);
        bytes += "\r\n";
        std::fwrite(bytes.data(), 1, bytes.size(), out);
        e.CloseTextPage(text);
        e.ClosePage(page);
    }
    e.CloseDocument(document);
    e.DestroyLibrary();
    return std::fclose(out) == 0 ? 0 : 1;
}
