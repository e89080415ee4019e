// A document's bytes followed by an update that holds only what changed, made
// from the engine's incremental save.
//
// The engine's incremental save copies the original bytes, then writes every
// object it has read so far, changed or not: the pages' content streams and
// images among them, so that a scanned page's picture would be stored twice.
// Its cross-reference section is also broken for an original that uses
// cross-reference streams (a misplaced startxref, no endobj), and it appends
// to an original whose last line has no end of line without one. This device
// takes the engine's output as it is written and passes on the original bytes
// and, of the objects after them, those numbered from FirstNew on (created
// since a point the caller marked) and those that refer to one of them (the
// objects an addition changed: a page given new content, the resources given
// a new font), and any the caller names besides, then writes a
// cross-reference table of its own for them with the engine's trailer, whose
// /ID keeps the document's identifier (or, when the original names none,
// gets one like the update's) and gets, as the update's, a digest of
// the update (the engine's comes from the clock): the same layer over the
// same document gives the same bytes. The engine writes objects in its own plain syntax,
// which is all this reads.
#pragma once

#include <QByteArray>
#include <QCryptographicHash>
#include <QHash>
#include <QIODevice>
#include <QList>
#include <QSet>
#include <limits>

namespace kestrune::textlayer {

class TAppendedUpdate : public QIODevice {
public:
    // OriginalSize: the length of the original bytes the engine copies first.
    // FirstNew: the first object number created since the mark (the default
    // keeps nothing, for reading the trailer alone). Output: where the result
    // goes (nothing when null). The device opens itself for writing.
    TAppendedUpdate(qint64 OriginalSize, QIODevice* Output, int FirstNew = std::numeric_limits<int>::max(),
                    const QSet<int>& AlsoKept = {});

    // Once the engine has saved: writes the cross-reference table and the
    // trailer when any object was kept. Raises EPdfError when the engine's
    // output could not be read as expected, or the output refused bytes
    // (ekFileWrite, with the output's reason).
    void Finish();

    // The number the engine gives its next new object (its trailer's /Size);
    // known after Finish.
    int NextObjectNumber() const { return FNextObject; }
    // Whether reading the engine's output or writing the result failed
    // (Finish raises the reason).
    bool Failed() const { return FState == TState::Failed; }
    // The content streams (and arrays of them) of the pages numbered Pages
    // (from 1, in the page tree's order), as far as the engine wrote the
    // page tree. The engine writes a page's stream anew, without reference to
    // anything new, when objects were taken out of it; a second pass keeps
    // them with AlsoKept. Known after the engine's save.
    QSet<int> ContentsOfPages(const QSet<int>& Pages) const;
    // Whether every leaf of the page tree the engine wrote that says what it
    // is says it is a page. Known after the engine's save.
    bool PageTreeHoldsOnlyPages() const;
    // The objects passed on after the original bytes.
    int KeptObjects() const { return int(FKept.size()); }

    bool isSequential() const override { return true; }

protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char* Data, qint64 Size) override;

private:
    enum class TState { Original, Between, Object, StreamData, AfterStream, CrossReference, Trailer, Done, Failed };
    // One object being read.
    struct TObject {
        int Number = 0, Generation = 0;
        qsizetype Body = 0;  // where its value starts, after "obj"
        bool Keep = false;
        // The engine's cross-reference stream, the last thing it writes.
        bool CrossReference = false;
        qint64 DataLeft = 0;
    };
    struct TKept {
        int Number, Generation;
        qint64 Offset;
    };

    // The leaves of the page tree the engine wrote, in the order it counts pages.
    QList<int> PageTreeLeaves() const;
    // The references of Object's entry Key, in order.
    QList<int> References(int Object, const QByteArray& Key) const;
    bool Process();
    bool ReadObjectHeader();
    bool ReadObject();
    bool ReadAfterStream();
    bool ReadCrossReference();
    bool ReadTrailer();
    bool Emit(const char* Data, qint64 Size);
    void NoteIdentifier(QByteArrayView Original);
    void Fail(const QString& Why);

    qint64 FOriginalLeft;
    QIODevice* FOutput;
    int FFirstNew;
    QSet<int> FAlsoKept;
    // Of each object written: the references of its page tree entries, and
    // those of an array.
    QHash<int, QHash<QByteArray, QList<int>>> FTree;
    QHash<int, QList<int>> FArrays;
    QHash<int, QByteArray> FTypes;
    TState FState = TState::Original;
    QByteArray FBuffer;
    qint64 FRead = 0;      // the engine's bytes consumed, for messages
    qint64 FWritten = 0;   // bytes passed on: the offset of the next one
    char FLastOriginal = '\n';
    TObject FObject;
    QList<TKept> FKept;
    // The trailer's entries ("/Key value"), from the engine's trailer or its
    // cross-reference stream's dictionary.
    QList<QByteArray> FTrailer;
    int FNextObject = 0;
    QString FError;
    bool FOutputFailed = false;
    // The bytes passed on after the original, for the update's identifier;
    // whether the original names an identifier of its own (its last two
    // bytes so far, to find the key across writes).
    QCryptographicHash FUpdateHash{QCryptographicHash::Md5};
    bool FOriginalHasId = false;
    QByteArray FOriginalTail;
};

}  // namespace kestrune::textlayer
