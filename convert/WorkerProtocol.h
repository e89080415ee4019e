// The conversation between kestrune-text and its worker processes, over one
// connected stream socket each.
//
// A frame: its size (4 bytes, little-endian, the type byte and the payload),
// the type byte, the payload. Integers in payloads are 4 bytes little-endian;
// byte strings are their size as such an integer, then the bytes.
//
//   worker -> parent  Ready                       once, when the worker is up
//   parent -> worker  Convert(file, password, first page, last page,
//                             recognition settings (TOcrSettings::WriteTo),
//                             format, layout, CR LF, byte-order mark), with
//                     the open file itself passed along (SCM_RIGHTS on the
//                     frame's first byte), so that a worker needs neither the
//                     file's name nor /proc to read it
//   worker -> parent  PageCount(count)            the document is open
//                     Page(number, bytes, facts)*  each page of the range
//                                                 that exists, in order, with
//                                                 how it was read (whether it
//                                                 holds no text character, how
//                                                 it was recognised:
//                                                 TPageFacts::WriteTo)
//                     Done                        the range is complete
//                  or Error(page, message)        instead of the rest: the
//                                                 failure at that page (0: the
//                                                 document did not open)
//
// A worker keeps its document open between ranges of the same file and
// password, so that the next range costs no second open.
//
// The child that makes a searchable copy (PdfOutput.cpp) speaks the same frames:
//   child -> parent   Ready, or Error(file error, kind, message, file name)
//                                                 the document is open and
//                                                 can take a text layer
//   parent -> child   Page(number, bytes)         a page's words (LayerPageBytes)
//   child -> parent   Done(laid, replaced) or Error(...)
//   parent -> child   Save
//   child -> parent   Page(bytes)* Done, or Error(...)
//                                                 the copy's bytes, in chunks
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <deque>
#include <functional>
#include <sys/types.h>

namespace kestrune::worker {

// The hidden first argument that starts kestrune-text as a worker; the socket
// to the parent is then file descriptor WorkerSocket.
inline constexpr char WorkerArgument[] = "--conversion-worker";
inline constexpr int WorkerSocket = 3;

enum class TMessage : quint8 { Ready = 1, Convert, PageCount, Page, Done, Error, Save };

// A payload under construction.
class TPayload {
public:
    TPayload& Int(qint32 Value);
    TPayload& Bytes(QByteArrayView Value);
    TPayload& Text(const QString& Value) { return Bytes(Value.toUtf8()); }
    // The whole frame of type Type with this payload.
    QByteArray Frame(TMessage Type) const;

private:
    QByteArray FData;
};

// Reads a received payload front to back; a read past its end (a malformed
// frame) sets Failed and gives 0 or empty.
class TPayloadReader {
public:
    explicit TPayloadReader(QByteArrayView Payload) : FData(Payload) {}
    qint32 Int();
    QByteArray Bytes();
    QString Text() { return QString::fromUtf8(Bytes()); }
    bool Failed() const { return FFailed; }

private:
    QByteArrayView FData;
    qsizetype FPosition = 0;
    bool FFailed = false;
};

// Collects received bytes and cuts them into frames.
class TFrameBuffer {
public:
    void Append(const char* Data, qsizetype Size);
    // Takes the next complete frame; false when none is complete yet.
    bool Next(TMessage& Type, QByteArray& Payload);
    // A frame announced larger than any this protocol sends: the stream is broken.
    bool Broken() const { return FBroken; }

private:
    QByteArray FData;
    qsizetype FStart = 0;
    bool FBroken = false;
};

// Writes all of Data to the socket Fd, waiting when it is full; false when the
// peer is gone. Never raises SIGPIPE.
bool SendAll(int Fd, QByteArrayView Data);
// The same, passing the open descriptor Descriptor along with Data's first byte.
bool SendWithDescriptor(int Fd, QByteArrayView Data, int Descriptor);
// Reads what is there (as read(2) does) from the socket Fd, appending the
// descriptors that came along to Descriptors (close-on-exec).
ssize_t ReceiveSome(int Fd, char* Buffer, size_t Size, std::deque<int>& Descriptors);
// Reads from the socket Fd until Buffer holds a whole frame, and takes it
// into Type and Payload, the descriptors that came along appended to
// Descriptors; false when the peer has gone or the stream is broken. Wait,
// when given, is called before each read: it waits for the socket and may
// raise to give up on the peer.
bool ReceiveFrame(int Fd, TFrameBuffer& Buffer, TMessage& Type, QByteArray& Payload, std::deque<int>& Descriptors,
                  const std::function<void()>& Wait = {});

}  // namespace kestrune::worker
