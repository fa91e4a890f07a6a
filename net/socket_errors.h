// The socket errors the programs report, as one table: the Windows socket
// error code, the errno value with the same meaning on POSIX systems, and
// the English text. Each user expands ORVEN_SOCKET_ERRORS with the columns
// it needs: errors.cpp the code and the text (on every platform), the POSIX
// socket seam the errno value and the code (so the errno names are only read
// where they exist).
#pragma once

// X(windowsCode, errnoName, text)
#define ORVEN_SOCKET_ERRORS(X)                                                  \
  X(10004, EINTR, "Interrupted system call.")                                   \
  X(10009, EBADF, "Bad file number.")                                           \
  X(10013, EACCES, "Access denied.")                                            \
  X(10014, EFAULT, "Buffer fault.")                                             \
  X(10022, EINVAL, "Invalid argument.")                                         \
  X(10024, EMFILE, "Too many open files.")                                      \
  X(10035, EWOULDBLOCK, "Operation would block.")                               \
  X(10036, EINPROGRESS, "Operation now in progress.")                           \
  X(10037, EALREADY, "Operation already in progress.")                          \
  X(10038, ENOTSOCK, "Socket operation on non-socket.")                         \
  X(10039, EDESTADDRREQ, "Destination address required.")                       \
  X(10040, EMSGSIZE, "Message too long.")                                       \
  X(10041, EPROTOTYPE, "Protocol wrong type for socket.")                       \
  X(10042, ENOPROTOOPT, "Bad protocol option.")                                 \
  X(10043, EPROTONOSUPPORT, "Protocol not supported.")                          \
  X(10044, ESOCKTNOSUPPORT, "Socket type not supported.")                       \
  X(10045, EOPNOTSUPP, "Operation not supported on socket.")                    \
  X(10046, EPFNOSUPPORT, "Protocol family not supported.")                      \
  X(10047, EAFNOSUPPORT, "Address family not supported by protocol family.")    \
  X(10048, EADDRINUSE, "Address already in use.")                               \
  X(10049, EADDRNOTAVAIL, "Cannot assign requested address.")                   \
  X(10050, ENETDOWN, "Network is down.")                                        \
  X(10051, ENETUNREACH, "Network is unreachable.")                              \
  X(10052, ENETRESET, "Net dropped connection or reset.")                       \
  X(10053, ECONNABORTED, "Software caused connection abort.")                   \
  X(10054, ECONNRESET, "Connection reset by peer.")                             \
  X(10055, ENOBUFS, "No buffer space available.")                               \
  X(10056, EISCONN, "Socket is already connected.")                             \
  X(10057, ENOTCONN, "Socket is not connected.")                                \
  X(10058, ESHUTDOWN, "Cannot send or receive after socket is closed.")         \
  X(10059, ETOOMANYREFS, "Too many references, cannot splice.")                 \
  X(10060, ETIMEDOUT, "Connection timed out.")                                  \
  X(10061, ECONNREFUSED, "Connection refused.")                                 \
  X(10062, ELOOP, "Too many levels of symbolic links.")                         \
  X(10063, ENAMETOOLONG, "File name too long.")                                 \
  X(10064, EHOSTDOWN, "Host is down.")                                          \
  X(10065, EHOSTUNREACH, "No route to host.")                                   \
  X(10066, ENOTEMPTY, "Directory not empty")
