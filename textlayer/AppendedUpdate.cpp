#include "textlayer/AppendedUpdate.h"

#include <QByteArrayView>
#include <QRegularExpression>
#include <algorithm>
#include <functional>

#include <kestrune/FileError.h>

namespace kestrune::textlayer {

namespace {

// ---- The engine's object syntax ----------------------------------------------

enum class TTokenKind { Word, Name, String, DictOpen, DictClose, ArrayOpen, ArrayClose, Other };

struct TToken {
    TTokenKind Kind = TTokenKind::Other;
    qsizetype Start = 0, End = 0;
};

bool IsWhite(char C) { return C == ' ' || C == '\t' || C == '\r' || C == '\n' || C == '\f' || C == '\0'; }

bool IsDelimiter(char C) {
    return C == '(' || C == ')' || C == '<' || C == '>' || C == '[' || C == ']' || C == '{' || C == '}' ||
           C == '/' || C == '%';
}

// Reads the token at Pos or after white space and comments. False when the
// bytes end before the token does (a word is complete only once something
// follows it): the caller waits for more.
bool ReadToken(const QByteArray& Bytes, qsizetype& Pos, TToken& Token) {
    const char* b = Bytes.constData();
    const qsizetype n = Bytes.size();
    while (true) {
        while (Pos < n && IsWhite(b[Pos])) ++Pos;
        if (Pos >= n) return false;
        if (b[Pos] != '%') break;
        while (Pos < n && b[Pos] != '\r' && b[Pos] != '\n') ++Pos;
        if (Pos >= n) return false;
    }
    const qsizetype start = Pos;
    const auto found = [&](TTokenKind Kind, qsizetype End) {
        Token = {Kind, start, End};
        Pos = End;
        return true;
    };
    switch (b[Pos]) {
        case '(': {
            int depth = 0;
            for (qsizetype i = Pos; i < n; ++i) {
                if (b[i] == '\\') ++i;
                else if (b[i] == '(') ++depth;
                else if (b[i] == ')' && --depth == 0) return found(TTokenKind::String, i + 1);
            }
            return false;
        }
        case '<': {
            if (Pos + 1 >= n) return false;
            if (b[Pos + 1] == '<') return found(TTokenKind::DictOpen, Pos + 2);
            const qsizetype close = Bytes.indexOf('>', Pos);
            return close >= 0 && found(TTokenKind::String, close + 1);
        }
        case '>':
            if (Pos + 1 >= n) return false;
            return found(b[Pos + 1] == '>' ? TTokenKind::DictClose : TTokenKind::Other, Pos + (b[Pos + 1] == '>' ? 2 : 1));
        case '[': return found(TTokenKind::ArrayOpen, Pos + 1);
        case ']': return found(TTokenKind::ArrayClose, Pos + 1);
        case ')':
        case '{':
        case '}': return found(TTokenKind::Other, Pos + 1);
        default: break;
    }
    qsizetype end = b[Pos] == '/' ? Pos + 1 : Pos;
    while (end < n && !IsWhite(b[end]) && !IsDelimiter(b[end])) ++end;
    if (end >= n) return false;
    return found(b[Pos] == '/' ? TTokenKind::Name : TTokenKind::Word, end);
}

bool IsInteger(QByteArrayView Text) {
    return !Text.isEmpty() && std::all_of(Text.begin(), Text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// One entry of an object's outermost dictionary: its key and where the entry
// (key and value) lies.
struct TEntry {
    QByteArrayView Key;
    qsizetype Start = 0, End = 0;
};

// What an object's value holds, read up to its end: "endobj", the "stream"
// keyword after a stream's dictionary, or (for a trailer) the end of the
// outermost dictionary.
struct TScan {
    enum TEnd { NeedMore, EndObject, Stream, DictionaryEnd, Malformed } End = NeedMore;
    qsizetype Next = 0;  // after the token that ended it
    int HighestReference = -1;
    qint64 Length = -1;  // a stream's /Length when given directly
    QList<TEntry> Entries;
    // The objects referred to: all of them, and those in the outermost
    // dictionary's entries that make up the page tree.
    QList<int> References;
    QHash<QByteArray, QList<int>> TreeReferences;
    QByteArray Type;     // the outermost dictionary's /Type, a name
    bool Array = false;  // the value is an array

    bool Has(QByteArrayView Key) const {
        return std::any_of(Entries.begin(), Entries.end(), [&](const TEntry& e) { return e.Key == Key; });
    }
};

TScan ScanValue(const QByteArray& Bytes, qsizetype Pos, bool StopAtDictionaryEnd) {
    TScan scan;
    int depth = 0;
    bool outerDictionary = false, expectKey = false;
    // The two words before, for "N G R".
    struct TWord {
        QByteArrayView Text;
        qsizetype Start = -1;
    } last, beforeLast;
    qsizetype lengthValue = -1;
    TToken token;
    while (ReadToken(Bytes, Pos, token)) {
        const QByteArrayView text(Bytes.constData() + token.Start, token.End - token.Start);
        const bool inOuter = outerDictionary && depth == 1 && !scan.Entries.isEmpty();
        switch (token.Kind) {
            case TTokenKind::DictOpen:
            case TTokenKind::ArrayOpen:
                if (++depth == 1 && token.Kind == TTokenKind::DictOpen) outerDictionary = expectKey = true;
                if (depth == 1 && token.Kind == TTokenKind::ArrayOpen) scan.Array = true;
                break;
            case TTokenKind::DictClose:
            case TTokenKind::ArrayClose:
                if (depth == 0) return scan.End = TScan::Malformed, scan;
                if (--depth == 1 && outerDictionary && !scan.Entries.isEmpty()) {
                    scan.Entries.last().End = token.End;
                    expectKey = true;
                }
                if (depth == 0 && StopAtDictionaryEnd) {
                    scan.End = TScan::DictionaryEnd;
                    scan.Next = token.End;
                    return scan;
                }
                break;
            case TTokenKind::Name:
                if (outerDictionary && depth == 1 && expectKey) {
                    scan.Entries.append({text, token.Start, token.End});
                    expectKey = false;
                } else if (inOuter) {
                    if (scan.Entries.last().Key == "/Type") scan.Type = text.toByteArray();
                    scan.Entries.last().End = token.End;
                    expectKey = true;
                }
                break;
            case TTokenKind::String:
            case TTokenKind::Other:
                if (inOuter && !expectKey) {
                    scan.Entries.last().End = token.End;
                    expectKey = true;
                }
                break;
            case TTokenKind::Word:
                if (depth == 0 && (text == "endobj" || text == "stream")) {
                    scan.End = text == "endobj" ? TScan::EndObject : TScan::Stream;
                    scan.Next = token.End;
                    return scan;
                }
                if (text == "R" && IsInteger(last.Text) && IsInteger(beforeLast.Text)) {
                    const int number = beforeLast.Text.toInt();
                    scan.HighestReference = std::max(scan.HighestReference, number);
                    scan.References.append(number);
                    if (outerDictionary && !scan.Entries.isEmpty()) {
                        const QByteArrayView key = scan.Entries.last().Key;
                        if (key == "/Contents" || key == "/Kids" || key == "/Pages")
                            scan.TreeReferences[key.toByteArray()].append(number);
                    }
                    if (beforeLast.Start == lengthValue) scan.Length = -1;  // an indirect length
                }
                if (inOuter) {
                    if (!expectKey && scan.Entries.last().Key == "/Length" && IsInteger(text)) {
                        scan.Length = text.toLongLong();
                        lengthValue = token.Start;
                    }
                    // A value, or the rest of a reference ("0 R") after one.
                    scan.Entries.last().End = token.End;
                    expectKey = true;
                }
                break;
        }
        if (token.Kind == TTokenKind::Word) {
            beforeLast = last;
            last = {text, token.Start};
        } else {
            beforeLast = last = {};
        }
    }
    return scan;
}

// Entries of the engine's trailer that this update does not carry on: those
// describing a cross-reference stream, and a pointer to one.
bool TrailerOnly(QByteArrayView Key) {
    return Key != "/W" && Key != "/Index" && Key != "/Length" && Key != "/Type" && Key != "/Filter" &&
           Key != "/DecodeParms" && Key != "/XRefStm";
}

QByteArray Padded(qint64 Value, int Width) { return QByteArray::number(Value).rightJustified(Width, '0'); }

enum class TStep { Progress, NeedMore, Failed };

}  // namespace

TAppendedUpdate::TAppendedUpdate(qint64 OriginalSize, QIODevice* Output, int FirstNew, const QSet<int>& AlsoKept)
    : FOriginalLeft(OriginalSize), FOutput(Output), FFirstNew(FirstNew), FAlsoKept(AlsoKept) {
    open(QIODevice::WriteOnly | QIODevice::Unbuffered);
    if (FOriginalLeft <= 0) FState = TState::Between;
}

void TAppendedUpdate::NoteIdentifier(QByteArrayView Original) {
    if (FOriginalHasId) return;
    // The key may be cut between two writes.
    const QByteArray seam = FOriginalTail + Original.first(std::min<qsizetype>(2, Original.size())).toByteArray();
    FOriginalHasId = seam.contains("/ID") || Original.contains("/ID");
    FOriginalTail = (FOriginalTail + Original.last(std::min<qsizetype>(2, Original.size())).toByteArray()).right(2);
}

void TAppendedUpdate::Fail(const QString& Why) {
    if (FState == TState::Failed) return;
    FError = Why;
    FState = TState::Failed;
}

bool TAppendedUpdate::Emit(const char* Data, qint64 Size) {
    if (FState != TState::Original) FUpdateHash.addData(QByteArrayView(Data, Size));
    if (FOutput) {
        qint64 done = 0;
        while (done < Size) {
            const qint64 n = FOutput->write(Data + done, Size - done);
            if (n <= 0) {
                FOutputFailed = true;
                Fail(FOutput->errorString());
                return false;
            }
            done += n;
        }
    }
    FWritten += Size;
    return true;
}

qint64 TAppendedUpdate::writeData(const char* Data, qint64 Size) {
    if (FState == TState::Failed) return -1;
    qint64 used = 0;
    // The original bytes pass straight through.
    if (FState == TState::Original) {
        used = std::min(Size, FOriginalLeft);
        if (used > 0) {
            if (!Emit(Data, used)) return -1;
            NoteIdentifier(QByteArrayView(Data, used));
            FLastOriginal = Data[used - 1];
            FOriginalLeft -= used;
            FRead += used;
        }
        if (FOriginalLeft == 0) FState = TState::Between;
    }
    if (FState != TState::Done) FBuffer.append(Data + used, Size - used);
    FRead += Size - used;
    return Process() ? Size : -1;
}

bool TAppendedUpdate::Process() {
    while (true) {
        TStep step = TStep::NeedMore;
        switch (FState) {
            case TState::Original:
            case TState::Done: return true;
            case TState::Failed: return false;
            case TState::Between: {
                qsizetype i = 0;
                while (i < FBuffer.size() && IsWhite(FBuffer[i])) ++i;
                FBuffer.remove(0, i);
                if (FBuffer.isEmpty()) return true;
                qsizetype pos = 0;
                TToken token;
                if (!ReadToken(FBuffer, pos, token)) return true;
                const QByteArrayView word(FBuffer.constData() + token.Start, token.End - token.Start);
                if (word == "xref") {
                    FBuffer.remove(0, token.End);
                    FState = TState::CrossReference;
                    step = TStep::Progress;
                } else if (word == "trailer") {
                    FBuffer.remove(0, token.End);
                    FState = TState::Trailer;
                    step = TStep::Progress;
                } else if (word == "startxref") {
                    FState = TState::Done;
                    FBuffer.clear();
                    return true;
                } else if (IsInteger(word)) {
                    step = ReadObjectHeader() ? TStep::Progress : TStep::NeedMore;
                } else {
                    Fail(QStringLiteral("unexpected \"%1\" after %2 bytes")
                             .arg(QString::fromLatin1(word.first(std::min<qsizetype>(20, word.size())).toByteArray()))
                             .arg(FRead - FBuffer.size()));
                    step = TStep::Failed;
                }
                break;
            }
            case TState::Object: step = ReadObject() ? TStep::Progress : TStep::NeedMore; break;
            case TState::StreamData: {
                const qint64 n = std::min<qint64>(FObject.DataLeft, FBuffer.size());
                if (n > 0 && FObject.Keep && !Emit(FBuffer.constData(), n)) return false;
                FBuffer.remove(0, n);
                FObject.DataLeft -= n;
                if (FObject.DataLeft > 0) return true;
                FState = TState::AfterStream;
                step = TStep::Progress;
                break;
            }
            case TState::AfterStream: step = ReadAfterStream() ? TStep::Progress : TStep::NeedMore; break;
            case TState::CrossReference: step = ReadCrossReference() ? TStep::Progress : TStep::NeedMore; break;
            case TState::Trailer: step = ReadTrailer() ? TStep::Progress : TStep::NeedMore; break;
        }
        if (FState == TState::Failed) return false;
        if (step == TStep::NeedMore) return true;
    }
}

bool TAppendedUpdate::ReadObjectHeader() {
    qsizetype pos = 0;
    TToken number, generation, keyword;
    if (!ReadToken(FBuffer, pos, number) || !ReadToken(FBuffer, pos, generation) || !ReadToken(FBuffer, pos, keyword))
        return false;
    const auto text = [&](const TToken& t) { return QByteArrayView(FBuffer.constData() + t.Start, t.End - t.Start); };
    if (!IsInteger(text(generation)) || text(keyword) != "obj") {
        Fail(QStringLiteral("no object where one should start, after %1 bytes").arg(FRead - FBuffer.size()));
        return true;
    }
    FObject = TObject{};
    FObject.Number = text(number).toInt();
    FObject.Generation = text(generation).toInt();
    FObject.Body = pos;
    FState = TState::Object;
    return true;
}

bool TAppendedUpdate::ReadObject() {
    const TScan scan = ScanValue(FBuffer, FObject.Body, false);
    if (scan.End == TScan::NeedMore) return false;
    if (scan.End != TScan::EndObject && scan.End != TScan::Stream) {
        Fail(QStringLiteral("object %1 cannot be read").arg(FObject.Number));
        return true;
    }
    qsizetype end = scan.Next;
    if (scan.End == TScan::Stream) {
        // The data starts after the end of line that follows the keyword.
        if (end + 1 >= FBuffer.size()) return false;
        end += FBuffer[end] == '\r' && FBuffer[end + 1] == '\n' ? 2 : FBuffer[end] == '\n' ? 1 : 0;
        if (scan.Length < 0) {
            Fail(QStringLiteral("stream %1 has no length").arg(FObject.Number));
            return true;
        }
        FObject.DataLeft = scan.Length;
    }
    // The engine's cross-reference stream: its dictionary is the trailer.
    const bool crossReference = scan.End == TScan::Stream && scan.Has("/W") && scan.Has("/Size") && scan.Has("/Root");
    if (crossReference) {
        // The engine numbers the stream after every object it knows of and
        // counts it in /Size; without it, the objects end just before.
        FTrailer.clear();
        for (const TEntry& entry : scan.Entries) {
            if (entry.Key == "/Size")
                FTrailer.append("/Size " + QByteArray::number(FObject.Number));
            else if (TrailerOnly(entry.Key))
                FTrailer.append(FBuffer.mid(entry.Start, entry.End - entry.Start));
        }
    }
    FObject.Keep = !crossReference && (FObject.Number >= FFirstNew || scan.HighestReference >= FFirstNew ||
                                       FAlsoKept.contains(FObject.Number));
    // The page tree, for ContentsOfPages.
    if (!scan.TreeReferences.isEmpty()) FTree.insert(FObject.Number, scan.TreeReferences);
    if (!scan.Type.isEmpty()) FTypes.insert(FObject.Number, scan.Type);
    if (scan.Array) FArrays.insert(FObject.Number, scan.References);
    if (FObject.Keep) {
        // The engine appends to an original that ends without an end of line
        // right after its last byte; the first object starts on a line of its own.
        if (FKept.isEmpty() && FLastOriginal != '\n' && FLastOriginal != '\r' && !Emit("\n", 1)) return true;
        FKept.append({FObject.Number, FObject.Generation, FWritten});
        if (!Emit(FBuffer.constData(), end)) return true;
        if (scan.End == TScan::EndObject && !Emit("\n", 1)) return true;
    }
    FBuffer.remove(0, end);
    FObject.CrossReference = crossReference;
    FState = scan.End == TScan::Stream ? TState::StreamData : TState::Between;
    return true;
}

bool TAppendedUpdate::ReadAfterStream() {
    qsizetype pos = 0;
    TToken token;
    if (!ReadToken(FBuffer, pos, token)) return false;
    if (QByteArrayView(FBuffer.constData() + token.Start, token.End - token.Start) != "endstream") {
        Fail(QStringLiteral("stream %1 is longer than its length").arg(FObject.Number));
        return true;
    }
    // "endobj" follows, except after the engine's cross-reference stream.
    qsizetype after = pos;
    TToken next;
    if (!ReadToken(FBuffer, after, next)) return false;
    if (QByteArrayView(FBuffer.constData() + next.Start, next.End - next.Start) == "endobj") pos = after;
    if (FObject.Keep && !Emit("\r\nendstream\r\nendobj\n", 20)) return true;
    FBuffer.remove(0, pos);
    FState = FObject.CrossReference ? TState::Done : TState::Between;
    if (FState == TState::Done) FBuffer.clear();
    return true;
}

bool TAppendedUpdate::ReadCrossReference() {
    // The table holds digits, spaces, "n", "f" and line ends, up to the
    // trailer's keyword.
    const qsizetype at = FBuffer.indexOf("trailer");
    if (at < 0) {
        FBuffer.remove(0, std::max<qsizetype>(0, FBuffer.size() - 7));
        return false;
    }
    FBuffer.remove(0, at + 7);
    FState = TState::Trailer;
    return true;
}

bool TAppendedUpdate::ReadTrailer() {
    const TScan scan = ScanValue(FBuffer, 0, true);
    if (scan.End == TScan::NeedMore) return false;
    if (scan.End != TScan::DictionaryEnd) {
        Fail(QStringLiteral("its trailer cannot be read"));
        return true;
    }
    FTrailer.clear();
    for (const TEntry& entry : scan.Entries)
        if (TrailerOnly(entry.Key)) FTrailer.append(FBuffer.mid(entry.Start, entry.End - entry.Start));
    FState = TState::Done;
    FBuffer.clear();
    return true;
}

QList<int> TAppendedUpdate::References(int Object, const QByteArray& Key) const {
    QList<int> found;
    for (int number : FTree.value(Object).value(Key)) {
        // An array held apart stands for what it holds.
        if (FArrays.contains(number)) found += FArrays.value(number);
        else found.append(number);
    }
    return found;
}

QList<int> TAppendedUpdate::PageTreeLeaves() const {
    int root = 0;
    for (const QByteArray& entry : FTrailer)
        if (entry.startsWith("/Root")) root = entry.mid(5).trimmed().split(' ').value(0).toInt();
    QList<int> leaves;
    QSet<int> visited;
    const std::function<void(int)> walk = [&](int Node) {
        if (visited.contains(Node)) return;
        visited.insert(Node);
        const QList<int> kids = References(Node, "/Kids");
        // A node of pages without any counts none.
        if (kids.isEmpty() && FTypes.value(Node) != "/Pages") leaves.append(Node);
        for (int kid : kids) walk(kid);
    };
    for (int pages : References(root, "/Pages")) walk(pages);
    return leaves;
}

QSet<int> TAppendedUpdate::ContentsOfPages(const QSet<int>& Pages) const {
    const QList<int> leaves = PageTreeLeaves();
    QSet<int> contents;
    for (int page : Pages) {
        const int leaf = leaves.value(page - 1);
        for (int stream : References(leaf, "/Contents")) contents.insert(stream);
        // An array object of streams is itself part of the page's content.
        for (int number : FTree.value(leaf).value("/Contents"))
            if (FArrays.contains(number)) contents.insert(number);
    }
    return contents;
}

bool TAppendedUpdate::PageTreeHoldsOnlyPages() const {
    const QList<int> leaves = PageTreeLeaves();
    return std::all_of(leaves.begin(), leaves.end(),
                       [&](int leaf) { return !FTypes.contains(leaf) || FTypes.value(leaf) == "/Page"; });
}

void TAppendedUpdate::Finish() {
    if (FOutputFailed)
        throw EFileError(QStringLiteral("Cannot write the document: %1").arg(FError));
    if (FState == TState::Failed)
        throw EPdfError(QStringLiteral("The engine's incremental save could not be read: %1").arg(FError));
    for (const QByteArray& entry : FTrailer)
        if (entry.startsWith("/Size")) FNextObject = entry.mid(5).trimmed().toInt();
    if (FState != TState::Done || FNextObject <= 0)
        throw EPdfError(QStringLiteral("The engine's incremental save could not be read: it ended without a trailer"));
    if (FKept.isEmpty()) return;

    std::sort(FKept.begin(), FKept.end(), [](const TKept& a, const TKept& b) { return a.Number < b.Number; });
    const qint64 table = FWritten;
    QByteArray out = "xref\n";
    for (qsizetype i = 0; i < FKept.size();) {
        qsizetype j = i + 1;
        while (j < FKept.size() && FKept[j].Number == FKept[j - 1].Number + 1) ++j;
        out += QByteArray::number(FKept[i].Number) + ' ' + QByteArray::number(j - i) + '\n';
        for (; i < j; ++i) out += Padded(FKept[i].Offset, 10) + ' ' + Padded(FKept[i].Generation, 5) + " n\r\n";
    }
    // The engine gives the update's identifier (the second of /ID) from the
    // clock, and the document's too when the original has none; ones from
    // what the update holds make the same layer the same bytes.
    static const QRegularExpression id(QStringLiteral(R"(^/ID\s*\[\s*(<[0-9A-Fa-f]*>)\s*<[0-9A-Fa-f]*>\s*\]$)"));
    for (QByteArray& entry : FTrailer)
        if (const QRegularExpressionMatch m = id.match(QString::fromLatin1(entry)); m.hasMatch()) {
            const QByteArray digest = '<' + FUpdateHash.result().toHex().toUpper() + '>';
            entry = "/ID[" + (FOriginalHasId ? m.captured(1).toLatin1() : digest) + digest + ']';
        }
    out += "trailer\n<<" + FTrailer.join(' ') + ">>\nstartxref\n" + QByteArray::number(table) + "\n%%EOF\n";
    if (!Emit(out.constData(), out.size()))
        throw EFileError(QStringLiteral("Cannot write the document: %1").arg(FError));
}

}  // namespace kestrune::textlayer
