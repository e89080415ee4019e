#include "convert/WorkerProtocol.h"

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>

namespace kestrune::worker {

namespace {

// Larger than any page's text; a size beyond it means the stream is out of step.
constexpr quint32 MaxFrameSize = 1u << 30;

void PutInt(QByteArray& Out, quint32 Value) {
    const char bytes[4] = {char(Value), char(Value >> 8), char(Value >> 16), char(Value >> 24)};
    Out.append(bytes, 4);
}

quint32 GetInt(const char* p) {
    const auto* u = reinterpret_cast<const unsigned char*>(p);
    return quint32(u[0]) | quint32(u[1]) << 8 | quint32(u[2]) << 16 | quint32(u[3]) << 24;
}

}  // namespace

TPayload& TPayload::Int(qint32 Value) {
    PutInt(FData, quint32(Value));
    return *this;
}

TPayload& TPayload::Bytes(QByteArrayView Value) {
    PutInt(FData, quint32(Value.size()));
    FData.append(Value);
    return *this;
}

QByteArray TPayload::Frame(TMessage Type) const {
    QByteArray frame;
    frame.reserve(5 + FData.size());
    PutInt(frame, quint32(FData.size() + 1));
    frame.append(char(Type));
    frame.append(FData);
    return frame;
}

qint32 TPayloadReader::Int() {
    if (FFailed || FData.size() - FPosition < 4) {
        FFailed = true;
        return 0;
    }
    const quint32 value = GetInt(FData.data() + FPosition);
    FPosition += 4;
    return qint32(value);
}

QByteArray TPayloadReader::Bytes() {
    const quint32 size = quint32(Int());
    if (FFailed || quint64(FData.size() - FPosition) < size) {
        FFailed = true;
        return {};
    }
    const QByteArray value = FData.sliced(FPosition, size).toByteArray();
    FPosition += size;
    return value;
}

void TFrameBuffer::Append(const char* Data, qsizetype Size) {
    // Drop what was taken before growing, so the buffer holds at most a frame or two.
    if (FStart > 0 && FStart == FData.size()) {
        FData.clear();
        FStart = 0;
    } else if (FStart > (1 << 16) && FStart > FData.size() / 2) {
        FData.remove(0, FStart);
        FStart = 0;
    }
    FData.append(Data, Size);
}

bool TFrameBuffer::Next(TMessage& Type, QByteArray& Payload) {
    const qsizetype available = FData.size() - FStart;
    if (FBroken || available < 4) return false;
    const quint32 size = GetInt(FData.constData() + FStart);
    if (size == 0 || size > MaxFrameSize) {
        FBroken = true;
        return false;
    }
    if (quint64(available) < 4 + quint64(size)) return false;
    Type = TMessage(quint8(FData[FStart + 4]));
    Payload = FData.sliced(FStart + 5, size - 1);
    FStart += 4 + size;
    return true;
}

bool SendAll(int Fd, QByteArrayView Data) {
    const char* p = Data.data();
    qsizetype left = Data.size();
    while (left > 0) {
        const ssize_t n = ::send(Fd, p, size_t(left), MSG_NOSIGNAL);
        if (n > 0) {
            p += n;
            left -= n;
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd wait{Fd, POLLOUT, 0};
            ::poll(&wait, 1, -1);
        } else {
            return false;
        }
    }
    return true;
}

bool SendWithDescriptor(int Fd, QByteArrayView Data, int Descriptor) {
    if (Descriptor < 0 || Data.isEmpty()) return SendAll(Fd, Data);
    // The descriptor rides on the frame's first byte; the rest follows as usual.
    char control[CMSG_SPACE(sizeof(int))] = {};
    iovec first{const_cast<char*>(Data.data()), 1};
    msghdr message{};
    message.msg_iov = &first;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    cmsghdr* header = CMSG_FIRSTHDR(&message);
    header->cmsg_level = SOL_SOCKET;
    header->cmsg_type = SCM_RIGHTS;
    header->cmsg_len = CMSG_LEN(sizeof(int));
    std::memcpy(CMSG_DATA(header), &Descriptor, sizeof(int));
    for (;;) {
        const ssize_t n = ::sendmsg(Fd, &message, MSG_NOSIGNAL);
        if (n == 1) break;
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd wait{Fd, POLLOUT, 0};
            ::poll(&wait, 1, -1);
            continue;
        }
        return false;
    }
    return SendAll(Fd, Data.sliced(1));
}

ssize_t ReceiveSome(int Fd, char* Buffer, size_t Size, std::deque<int>& Descriptors) {
    char control[CMSG_SPACE(sizeof(int) * 8)];
    iovec into{Buffer, Size};
    msghdr message{};
    message.msg_iov = &into;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    const ssize_t n = ::recvmsg(Fd, &message, MSG_CMSG_CLOEXEC);
    if (n < 0) return n;
    for (cmsghdr* header = CMSG_FIRSTHDR(&message); header; header = CMSG_NXTHDR(&message, header)) {
        if (header->cmsg_level != SOL_SOCKET || header->cmsg_type != SCM_RIGHTS) continue;
        const size_t count = (header->cmsg_len - CMSG_LEN(0)) / sizeof(int);
        for (size_t i = 0; i < count; ++i) {
            int fd = -1;
            std::memcpy(&fd, CMSG_DATA(header) + i * sizeof(int), sizeof(int));
            Descriptors.push_back(fd);
        }
    }
    return n;
}

bool ReceiveFrame(int Fd, TFrameBuffer& Buffer, TMessage& Type, QByteArray& Payload, std::deque<int>& Descriptors,
                  const std::function<void()>& Wait) {
    char chunk[1 << 16];
    while (!Buffer.Next(Type, Payload)) {
        if (Buffer.Broken()) return false;
        if (Wait) Wait();
        const ssize_t n = ReceiveSome(Fd, chunk, sizeof chunk, Descriptors);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        Buffer.Append(chunk, n);
    }
    return true;
}

}  // namespace kestrune::worker
