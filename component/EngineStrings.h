// Strings across the engine boundary: the two-call protocol (ask for the size,
// then fill a buffer of that size) and the encodings the engine takes.
//
// Each reader takes a callable `call(void* buffer, unsigned long length)` that
// makes the engine call and returns the size the engine reports.
#pragma once

#include <QByteArray>
#include <QString>
#include <limits>
#include <vector>

#include <kestrune/EngineTypes.h>

namespace kestrune::strings {

// Sizes beyond this are treated as garbage rather than allocated.
constexpr long long kMaxEngineStringBytes = std::numeric_limits<int>::max();

// UTF-16LE counted in bytes, terminator included: a size below 4 gives the
// empty string without a second call; otherwise size / 2 - 1 characters.
template <typename Call>
QString ReadUtf16Bytes(Call&& call) {
    const long long size = static_cast<long long>(call(nullptr, 0));
    if (size < 4 || size > kMaxEngineStringBytes) return {};
    std::vector<char16_t> buffer(static_cast<size_t>(size / 2 + 1), u'\0');
    call(buffer.data(), static_cast<unsigned long>(size));
    return QString::fromUtf16(buffer.data(), qsizetype(size / 2 - 1));
}

// A zero-terminated byte string counted in bytes, terminator included: a size
// of 1 or less gives an empty array without a second call; otherwise the
// size - 1 bytes before the terminator.
template <typename Call>
QByteArray ReadByteString(Call&& call) {
    const long long size = static_cast<long long>(call(nullptr, 0));
    if (size <= 1 || size > kMaxEngineStringBytes) return {};
    QByteArray buffer(qsizetype(size), '\0');
    call(buffer.data(), static_cast<unsigned long>(size));
    buffer.truncate(qsizetype(size - 1));
    return buffer;
}

// A string for the engine as UTF-16LE with a terminator; valid while Text lives.
// An empty string is a pointer to an empty string, never null.
inline FPDF_WIDESTRING WideArg(const QString& Text) { return reinterpret_cast<FPDF_WIDESTRING>(Text.utf16()); }

// The system's 8-bit code page is Latin-1: bytes widen to U+0000..U+00FF and
// characters outside it narrow to "?".
inline QString FromLatin1(const QByteArray& Bytes) { return QString::fromLatin1(Bytes); }
inline QByteArray ToLatin1(const QString& Text) { return Text.toLatin1(); }

}  // namespace kestrune::strings
