// One JSON object per page (JSON Lines), written straight into the page's
// bytes in the order the header documents, the page's number first: a reader
// of a stream learns which page an object is before its words. Building Qt's
// JSON objects first costs more than the words themselves (and sorts their
// keys, putting "page" after the large "blocks").
#include <charconv>
#include <cmath>
#include <string_view>

#include <kestrune/LayoutFormats.h>

namespace kestrune {

namespace {

// Writes through a pointer into Out, made larger ahead of what is written
// (Room), and cut to what was written when the writer ends. A page holds
// thousands of numbers and keys: appending each to the byte array on its own,
// with the checks an append makes, costs more than writing them.
class TJsonWriter {
public:
    TJsonWriter(QByteArray& Out, qsizetype Expected) : FOut(Out) {
        const qsizetype written = FOut.size();
        FOut.resize(written + Expected);
        FAt = FOut.data() + written;
    }
    ~TJsonWriter() { FOut.resize(FAt - FOut.data()); }
    TJsonWriter(const TJsonWriter&) = delete;
    TJsonWriter& operator=(const TJsonWriter&) = delete;

    TJsonWriter& Raw(std::string_view Text) {
        Room(Text.size());
        FAt = std::copy(Text.begin(), Text.end(), FAt);
        return *this;
    }

    // Points to 1/100, as short as the value reads back: finer than any reader
    // needs. What is no number is written as JSON's null.
    TJsonWriter& Number(double Value) {
        Room(MaxNumber);
        PutNumber(Value);
        return *this;
    }

    // A value as short as it reads back exactly (a recogniser's confidence).
    TJsonWriter& Exact(double Value) {
        Room(MaxNumber);
        PutExact(Value);
        return *this;
    }

    TJsonWriter& Int(int Value) {
        Room(16);
        FAt = std::to_chars(FAt, FAt + 16, Value).ptr;
        return *this;
    }

    TJsonWriter& Bool(bool Value) { return Raw(Value ? "true" : "false"); }

    // "[left,top,right,bottom]", room made once for all of it.
    TJsonWriter& Box(const QRectF& Box) {
        Room(4 * (MaxNumber + 1) + 1);
        char separator = '[';
        for (const double value : {Box.left(), Box.top(), Box.right(), Box.bottom()}) {
            *FAt++ = separator;
            PutNumber(value);
            separator = ',';
        }
        *FAt++ = ']';
        return *this;
    }

    // A string with JSON's escapes. Most texts are plain printable ASCII and
    // are copied unit by unit as they are checked; the others go through Qt's
    // encoder (which writes an unpaired surrogate as U+FFFD) and are escaped.
    TJsonWriter& String(const QString& Text) {
        Room(Text.size() + 2);
        char* const start = FAt;
        *FAt++ = '"';
        for (const QChar c : Text) {
            const char16_t u = c.unicode();
            if (u < 0x20 || u >= 0x80 || u == u'"' || u == u'\\') {
                FAt = start;
                return Escaped(Text);
            }
            *FAt++ = char(u);
        }
        *FAt++ = '"';
        return *this;
    }

private:
    // The most bytes a number takes: the shortest form of any double.
    static constexpr qsizetype MaxNumber = 32;

    // Points to 1/100 at FAt (room made by the caller).
    void PutNumber(double Value) {
        const double hundredths = std::round(Value * 100);
        // Below 10^5 the shortest form is the plain decimal with at most two
        // decimals, made here from the whole number of hundredths (Exact's
        // general formatting costs several times more, and a page's boxes are
        // most of its bytes); a NaN fails the test and becomes null below.
        if (std::abs(hundredths) < 1e7)
            Hundredths(int(hundredths));
        else
            PutExact(hundredths / 100);
    }

    // Value as short as it reads back, at FAt (room made by the caller).
    void PutExact(double Value) {
        static constexpr std::string_view null = "null";
        if (!std::isfinite(Value))
            FAt = std::copy(null.begin(), null.end(), FAt);
        else if (Value == std::trunc(Value) && std::abs(Value) < 1e5)
            FAt = std::to_chars(FAt, FAt + MaxNumber, int(Value)).ptr;  // a text layer's 100; no "-0"
        else
            FAt = std::to_chars(FAt, FAt + MaxNumber, Value).ptr;
    }

    TJsonWriter& Escaped(const QString& Text) {
        const QByteArray utf8 = Text.toUtf8();
        Room(6 * utf8.size() + 2);  // "\u00XX" is the longest escape of a byte
        *FAt++ = '"';
        for (const char c : utf8) Character(c);
        *FAt++ = '"';
        return *this;
    }

    // Makes room for Size more bytes at FAt.
    void Room(qsizetype Size) {
        const qsizetype written = FAt - FOut.data();
        if (FOut.size() - written >= Size) return;
        FOut.resize(written + std::max(Size, written / 2 + 4096));
        FAt = FOut.data() + written;
    }

    // Hundredths / 100 as a decimal: "12", "12.5", "12.05", "-0.3".
    void Hundredths(int Value) {
        const unsigned magnitude = Value < 0 ? 0u - unsigned(Value) : unsigned(Value);
        if (Value < 0) *FAt++ = '-';
        FAt = std::to_chars(FAt, FAt + 12, magnitude / 100).ptr;
        if (const unsigned fraction = magnitude % 100) {
            *FAt++ = '.';
            *FAt++ = char('0' + fraction / 10);
            if (fraction % 10) *FAt++ = char('0' + fraction % 10);
        }
    }

    // One byte of a string's UTF-8, escaped where JSON wants it (room made by String).
    void Character(char C) {
        const auto escape = [this](std::string_view Text) { FAt = std::copy(Text.begin(), Text.end(), FAt); };
        switch (C) {
        case '"': return escape("\\\"");
        case '\\': return escape("\\\\");
        case '\n': return escape("\\n");
        case '\r': return escape("\\r");
        case '\t': return escape("\\t");
        case '\b': return escape("\\b");
        case '\f': return escape("\\f");
        default: break;
        }
        if (static_cast<unsigned char>(C) < 0x20) {
            static const char hex[] = "0123456789abcdef";
            escape({"\\u00", 4});
            *FAt++ = hex[(C >> 4) & 0xF];
            *FAt++ = hex[C & 0xF];
            return;
        }
        *FAt++ = C;
    }

    QByteArray& FOut;
    char* FAt = nullptr;
};

}  // namespace

void AppendJsonPage(QByteArray& Out, const TPageLayout& Page, const TPageStructure* Structure) {
    // The structured piece each line starts, if any, by block and line.
    QList<QList<const TStructuredBlock*>> starts;
    if (Structure) {
        for (const TLayoutBlock& block : Page.Blocks) starts.append(QList<const TStructuredBlock*>(block.Lines.size(), nullptr));
        const auto at = [&](qsizetype B, qsizetype L) -> const TStructuredBlock** {
            return B >= 0 && B < starts.size() && L >= 0 && L < starts[B].size() ? &starts[B][L] : nullptr;
        };
        for (const TStructuredBlock& piece : Structure->Blocks)
            for (qsizetype i = 0; i < piece.Lines.size(); ++i) {
                const auto& [b, l] = piece.Lines[i];
                const TStructuredBlock** start = at(b, l);
                if (!start || *start) continue;  // the first piece to start there keeps it
                // A table's cells: its first line in each of its blocks; other pieces: their first line.
                const TStructuredBlock** before = at(b, l - 1);
                if (i == 0 || (piece.Role == TBlockRole::Table && (!before || !*before))) *start = &piece;
            }
    }
    const auto startsAt = [&](qsizetype B, qsizetype L) { return Structure ? starts[B][L] : nullptr; };
    const auto role = [&](TJsonWriter& Json, const TStructuredBlock& Piece) {
        Json.Raw(",\"role\":\"").Raw(RoleName(Piece.Role)).Raw("\"");
        if (Piece.Role == TBlockRole::Heading) Json.Raw(",\"level\":").Int(Piece.Level);
    };
    // Some 130 bytes a word: made room for once rather than grown word by word.
    TJsonWriter json(Out, 130 * Page.WordCount() + 128);
    json.Raw("{\"page\":").Int(Page.PageNumber).Raw(",\"width\":").Number(Page.Size.width());
    json.Raw(",\"height\":").Number(Page.Size.height()).Raw(",\"rotation\":").Int(int(Page.Rotation) * 90);
    json.Raw(",\"blocks\":[");
    for (qsizetype b = 0; b < Page.Blocks.size(); ++b) {
        const TLayoutBlock& block = Page.Blocks[b];
        json.Raw(b > 0 ? ",{\"bbox\":" : "{\"bbox\":").Box(block.Box);
        // The block's role: that of the piece its first line is in.
        const TStructuredBlock* current = nullptr;
        for (qsizetype l = 0; l < block.Lines.size() && !current; ++l) current = startsAt(b, l);
        if (current) role(json, *current);
        json.Raw(",\"lines\":[");
        int paragraph = 0;
        for (qsizetype l = 0; l < block.Lines.size(); ++l) {
            const TLayoutLine& line = block.Lines[l];
            if (l == 0 || line.StartsParagraph) ++paragraph;
            json.Raw(l > 0 ? ",{\"bbox\":" : "{\"bbox\":").Box(line.Box);
            json.Raw(",\"direction\":").Int(int(line.Direction)).Raw(",\"paragraph\":").Int(paragraph);
            if (const TStructuredBlock* piece = startsAt(b, l); piece && piece != current) {
                current = piece;
                role(json, *current);
            }
            json.Raw(",\"words\":[");
            for (qsizetype w = 0; w < line.Words.size(); ++w) {
                const TLayoutWord& word = line.Words[w];
                json.Raw(w > 0 ? ",{\"text\":" : "{\"text\":").String(word.Text).Raw(",\"bbox\":").Box(word.Box);
                json.Raw(",\"font\":").String(word.FontName).Raw(",\"size\":").Number(word.FontSize);
                json.Raw(",\"bold\":").Bool(word.Bold).Raw(",\"italic\":").Bool(word.Italic);
                json.Raw(",\"conf\":").Exact(word.Confidence).Raw("}");
            }
            json.Raw("]}");
        }
        json.Raw("]}");
    }
    json.Raw("]}\n");
}

}  // namespace kestrune
