#include "kova/error_codes.h"

#include <cerrno>

namespace kova {

namespace {

// Indexed by code. NOTE: the blank at the end of code 38's text belongs to it.
constexpr const char* const error_texts[] = {
    "No error",  //  0 (none)
    "Argument list too long",  //  1 E2BIG
    "Permission denied",  //  2 EACCES
    "Address in use",  //  3 EADDRINUSE
    "Address not available",  //  4 EADDRNOTAVAIL
    "Address family not supported",  //  5 EAFNOSUPPORT
    "Resource unavailable, try again",  //  6 EAGAIN
    "Connection already in progress",  //  7 EALREADY
    "Bad file descriptor",  //  8 EBADF
    "Bad message",  //  9 EBADMSG
    "Device or resource busy",  // 10 EBUSY
    "Operation canceled",  // 11 ECANCELED
    "No child processes",  // 12 ECHILD
    "Connection aborted",  // 13 ECONNABORTED
    "Connection refused",  // 14 ECONNREFUSED
    "Connection reset",  // 15 ECONNRESET
    "Resource deadlock would occur",  // 16 EDEADLK
    "Destination address required",  // 17 EDESTADDRREQ
    "Mathematics argument out of domain of function",  // 18 EDOM
    "Reserved (EDQUOT)",  // 19 EDQUOT
    "File exists",  // 20 EEXIST
    "Bad address",  // 21 EFAULT
    "File too large",  // 22 EFBIG
    "Host is unreachable",  // 23 EHOSTUNREACH
    "Identifier removed",  // 24 EIDRM
    "Illegal byte sequence",  // 25 EILSEQ
    "Operation in progress",  // 26 EINPROGRESS
    "Interrupted function",  // 27 EINTR
    "Invalid argument",  // 28 EINVAL
    "I/O error",  // 29 EIO
    "Socket is connected",  // 30 EISCONN
    "Is a directory",  // 31 EISDIR
    "Too many levels of symbolic links",  // 32 ELOOP
    "Too many open files",  // 33 EMFILE
    "Too many links",  // 34 EMLINK
    "Message too large",  // 35 EMSGSIZE
    "Reserved (EMULTIHOP)",  // 36 EMULTIHOP
    "Filename too long",  // 37 ENAMETOOLONG
    "Network is down ",  // 38 ENETDOWN
    "Connection aborted by network",  // 39 ENETRESET
    "Network unreachable",  // 40 ENETUNREACH
    "Too many files open in system",  // 41 ENFILE
    "No buffer space available",  // 42 ENOBUFS
    "No message is available on the STREAM head read queue",  // 43 ENODATA
    "No such device",  // 44 ENODEV
    "No such file or directory",  // 45 ENOENT
    "Executable file format error",  // 46 ENOEXEC
    "No locks available",  // 47 ENOLCK
    "Reserved (ENOLINK)",  // 48 ENOLINK
    "Not enough space",  // 49 ENOMEM
    "No message of the desired type",  // 50 ENOMSG
    "Protocol not available",  // 51 ENOPROTOOPT
    "No space left on device",  // 52 ENOSPC
    "No STREAM resources",  // 53 ENOSR
    "Not a STREAM",  // 54 ENOSTR
    "Function not supported",  // 55 ENOSYS
    "The socket is not connected",  // 56 ENOTCONN
    "Not a directory",  // 57 ENOTDIR
    "Directory not empty",  // 58 ENOTEMPTY
    "Not a socket",  // 59 ENOTSOCK
    "Not supported",  // 60 ENOTSUP
    "Inappropriate I/O control operation",  // 61 ENOTTY
    "No such device or address",  // 62 ENXIO
    "Operation not supported on socket",  // 63 EOPNOTSUPP
    "Value too large to be stored in data type",  // 64 EOVERFLOW
    "Operation not permitted",  // 65 EPERM
    "Broken pipe",  // 66 EPIPE
    "Protocol error",  // 67 EPROTO
    "Protocol not supported",  // 68 EPROTONOSUPPORT
    "Protocol wrong type for socket",  // 69 EPROTOTYPE
    "Result too large",  // 70 ERANGE
    "Read-only file system",  // 71 EROFS
    "Invalid seek",  // 72 ESPIPE
    "No such process",  // 73 ESRCH
    "Reserved (ESTALE)",  // 74 ESTALE
    "Stream ioctl() timeout",  // 75 ETIME
    "Connection timed out",  // 76 ETIMEDOUT
    "Text file busy",  // 77 ETXTBSY
    "Unknown error",  // 78 (none)
    "Operation would block",  // 79 EWOULDBLOCK
    "Cross-device link",  // 80 EXDEV
};
constexpr int code_count = static_cast<int>(sizeof error_texts / sizeof error_texts[0]);
static_assert(code_count == 81);

}  // namespace

int codeFromErrno(int e) noexcept {
  // Keyed by name, not by value: the values differ between C runtimes.
  switch (e) {
    case 0: return 0;
    case E2BIG: return 1;
    case EACCES: return 2;
    case EAGAIN: return 6;
    case EBADF: return 8;
    case EBUSY: return 10;
    case ECHILD: return 12;
    case EDEADLK: return 16;
    case EDOM: return 18;
    case EEXIST: return 20;
    case EFAULT: return 21;
    case EFBIG: return 22;
    case EILSEQ: return 25;
    case EINTR: return 27;
    case EINVAL: return 28;
    case EIO: return 29;
    case EISDIR: return 31;
    case EMFILE: return 33;
    case EMLINK: return 34;
    case ENAMETOOLONG: return 37;
    case ENFILE: return 41;
    case ENODEV: return 44;
    case ENOENT: return 45;
    case ENOEXEC: return 46;
    case ENOLCK: return 47;
    case ENOMEM: return 49;
    case ENOSPC: return 52;
    case ENOSYS: return 55;
    case ENOTDIR: return 57;
    case ENOTEMPTY: return 58;
    case ENOTTY: return 61;
    case ENXIO: return 62;
    case EPERM: return 65;
    case EPIPE: return 66;
    case ERANGE: return 70;
    case EROFS: return 71;
    case ESPIPE: return 72;
    case ESRCH: return 73;
    case EXDEV: return 80;
    default: return err_unknown;
  }
}

const char* errorTextOf(int code) noexcept {
  // No code this library makes lies outside the table (they come from
  // codeFromErrno or are constants), but a caller may pass any int: such a
  // code reads as "Unknown error" rather than reading past the table.
  if (code < 0 || code >= code_count) return error_texts[err_unknown];
  return error_texts[code];
}

sh_str errorText(mem_pool& mp, int code) { return new_str(mp, errorTextOf(code)); }

}  // namespace kova
