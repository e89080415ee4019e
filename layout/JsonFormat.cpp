// One JSON object per page (JSON Lines), written straight into the page's
// bytes in the order the header documents, the page's number first: a reader
// of a stream learns which page an object is before its words. Building Qt's
// JSON objects first costs more than the words themselves (and sorts their
// keys, putting "page" after the large "blocks").
#include <charconv>
#include <cmath>
#include <map>

#include <kestrune/LayoutFormats.h>

namespace kestrune {

namespace {

class TJsonWriter {
public:
    explicit TJsonWriter(QByteArray& Out) : FOut(Out) {}

    TJsonWriter& Raw(const char* Text) {
        FOut += Text;
        return *this;
    }

    // Points to 1/100, as short as the value reads back: finer than any reader
    // needs. What is no number is written as JSON's null.
    TJsonWriter& Number(double Value) { return Exact(std::round(Value * 100) / 100); }

    // A value as short as it reads back exactly (a recogniser's confidence).
    TJsonWriter& Exact(double Value) {
        if (!std::isfinite(Value)) return Raw("null");
        if (Value == 0) Value = 0;  // no "-0"
        char buffer[32];
        const auto end = std::to_chars(buffer, buffer + sizeof buffer, Value).ptr;
        FOut.append(buffer, end - buffer);
        return *this;
    }

    TJsonWriter& Int(int Value) {
        char buffer[16];
        const auto end = std::to_chars(buffer, buffer + sizeof buffer, Value).ptr;
        FOut.append(buffer, end - buffer);
        return *this;
    }

    TJsonWriter& Bool(bool Value) { return Raw(Value ? "true" : "false"); }

    TJsonWriter& Box(const QRectF& Box) {
        Raw("[").Number(Box.left()).Raw(",").Number(Box.top()).Raw(",").Number(Box.right()).Raw(",");
        return Number(Box.bottom()).Raw("]");
    }

    // A string with JSON's escapes; most texts are plain ASCII and go over
    // unit by unit, the others through Qt's encoder (which writes an unpaired
    // surrogate as U+FFFD).
    TJsonWriter& String(const QString& Text) {
        FOut += '"';
        // Plain printable ASCII, the most of words, is copied at once.
        bool plain = true;
        for (const QChar c : Text) plain = plain && c.unicode() >= 0x20 && c.unicode() < 0x80 && c != u'"' && c != u'\\';
        if (plain) {
            const qsizetype start = FOut.size();
            FOut.resize(start + Text.size());
            char* d = FOut.data() + start;
            for (const QChar c : Text) *d++ = char(c.unicode());
        } else {
            for (const char c : Text.toUtf8()) Character(c);
        }
        FOut += '"';
        return *this;
    }

private:
    void Character(char C) {
        switch (C) {
        case '"': FOut += "\\\""; return;
        case '\\': FOut += "\\\\"; return;
        case '\n': FOut += "\\n"; return;
        case '\r': FOut += "\\r"; return;
        case '\t': FOut += "\\t"; return;
        case '\b': FOut += "\\b"; return;
        case '\f': FOut += "\\f"; return;
        default: break;
        }
        if (static_cast<unsigned char>(C) < 0x20) {
            static const char hex[] = "0123456789abcdef";
            const char escape[] = {'\\', 'u', '0', '0', hex[(C >> 4) & 0xF], hex[C & 0xF]};
            FOut.append(escape, sizeof escape);
            return;
        }
        FOut += C;
    }

    QByteArray& FOut;
};

}  // namespace

void AppendJsonPage(QByteArray& Out, const TPageLayout& Page, const TPageStructure* Structure) {
    // The structured piece each line starts, if any: (block, line) -> piece.
    std::map<std::pair<qsizetype, qsizetype>, const TStructuredBlock*> starts;
    if (Structure)
        for (const TStructuredBlock& piece : Structure->Blocks)
            for (qsizetype i = 0; i < piece.Lines.size(); ++i) {
                const auto& [b, l] = piece.Lines[i];
                // A table's cells: its first line in each of its blocks; other pieces: their first line.
                if (i == 0 || (piece.Role == TBlockRole::Table && !starts.count({b, l}) &&
                               (l == 0 || !starts.count({b, l - 1}))))
                    starts.emplace(std::pair{b, l}, &piece);
            }
    const auto role = [&](TJsonWriter& Json, const TStructuredBlock& Piece) {
        Json.Raw(",\"role\":\"").Raw(RoleName(Piece.Role)).Raw("\"");
        if (Piece.Role == TBlockRole::Heading) Json.Raw(",\"level\":").Int(Piece.Level);
    };
    // Some 130 bytes a word: reserved once rather than grown word by word.
    Out.reserve(Out.size() + 130 * Page.WordCount() + 128);
    TJsonWriter json(Out);
    json.Raw("{\"page\":").Int(Page.PageNumber).Raw(",\"width\":").Number(Page.Size.width());
    json.Raw(",\"height\":").Number(Page.Size.height()).Raw(",\"rotation\":").Int(int(Page.Rotation) * 90);
    json.Raw(",\"blocks\":[");
    for (qsizetype b = 0; b < Page.Blocks.size(); ++b) {
        const TLayoutBlock& block = Page.Blocks[b];
        json.Raw(b > 0 ? ",{\"bbox\":" : "{\"bbox\":").Box(block.Box);
        // The block's role: that of the piece its first line is in.
        const TStructuredBlock* current = nullptr;
        if (Structure) {
            for (qsizetype l = 0; l < block.Lines.size() && !current; ++l)
                if (const auto it = starts.find({b, l}); it != starts.end()) current = it->second;
            if (current) role(json, *current);
        }
        json.Raw(",\"lines\":[");
        int paragraph = 0;
        for (qsizetype l = 0; l < block.Lines.size(); ++l) {
            const TLayoutLine& line = block.Lines[l];
            if (l == 0 || line.StartsParagraph) ++paragraph;
            json.Raw(l > 0 ? ",{\"bbox\":" : "{\"bbox\":").Box(line.Box);
            json.Raw(",\"direction\":").Int(int(line.Direction)).Raw(",\"paragraph\":").Int(paragraph);
            if (Structure)
                if (const auto it = starts.find({b, l}); it != starts.end() && it->second != current) {
                    current = it->second;
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
