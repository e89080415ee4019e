// A file system without unnamed temporary files, as NFS, SMB or sshfs are:
// preloaded (LD_PRELOAD), every open with O_TMPFILE fails with EOPNOTSUPP, as
// the kernel answers there; every other open goes on as usual.
#include <cerrno>
#include <cstdarg>
#include <dlfcn.h>
#include <fcntl.h>

namespace {

bool Refused(int Flags) {
    if ((Flags & O_TMPFILE) != O_TMPFILE) return false;
    errno = EOPNOTSUPP;
    return true;
}

mode_t ModeOf(int Flags, va_list Arguments) {
    return (Flags & O_CREAT) || (Flags & O_TMPFILE) == O_TMPFILE ? mode_t(va_arg(Arguments, int)) : 0;
}

template <typename T>
T Next(const char* Name) {
    return reinterpret_cast<T>(dlsym(RTLD_NEXT, Name));
}

}  // namespace

extern "C" {

int open(const char* Path, int Flags, ...) {
    va_list arguments;
    va_start(arguments, Flags);
    const mode_t mode = ModeOf(Flags, arguments);
    va_end(arguments);
    if (Refused(Flags)) return -1;
    static const auto real = Next<int (*)(const char*, int, ...)>("open");
    return real(Path, Flags, mode);
}

int open64(const char* Path, int Flags, ...) {
    va_list arguments;
    va_start(arguments, Flags);
    const mode_t mode = ModeOf(Flags, arguments);
    va_end(arguments);
    if (Refused(Flags)) return -1;
    static const auto real = Next<int (*)(const char*, int, ...)>("open64");
    return real(Path, Flags, mode);
}

int openat(int Folder, const char* Path, int Flags, ...) {
    va_list arguments;
    va_start(arguments, Flags);
    const mode_t mode = ModeOf(Flags, arguments);
    va_end(arguments);
    if (Refused(Flags)) return -1;
    static const auto real = Next<int (*)(int, const char*, int, ...)>("openat");
    return real(Folder, Path, Flags, mode);
}

int openat64(int Folder, const char* Path, int Flags, ...) {
    va_list arguments;
    va_start(arguments, Flags);
    const mode_t mode = ModeOf(Flags, arguments);
    va_end(arguments);
    if (Refused(Flags)) return -1;
    static const auto real = Next<int (*)(int, const char*, int, ...)>("openat64");
    return real(Folder, Path, Flags, mode);
}

}  // extern "C"
