// Socket error texts and the mapping of platform codes onto the Windows codes.
#include "net/errors.h"
#include "net/socket.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

namespace {

TEST(net_SocketErrors, MessagesCarryTheWindowsCodeAndItsDescription) {
  EXPECT_STREQ(net::EIdSocketError(10048).what(), "Socket Error # 10048\r\nAddress already in use.");
  EXPECT_STREQ(net::EIdSocketError(10040).what(), "Socket Error # 10040\r\nMessage too long.");
  EXPECT_STREQ(net::EIdSocketError(10004).what(), "Socket Error # 10004\r\nInterrupted system call.");
  EXPECT_STREQ(net::EIdSocketError(10066).what(), "Socket Error # 10066\r\nDirectory not empty");
  EXPECT_STREQ(net::EIdSocketError(10058).what(),
               "Socket Error # 10058\r\nCannot send or receive after socket is closed.");
  // Codes outside the table have an empty description.
  EXPECT_STREQ(net::EIdSocketError(12345).what(), "Socket Error # 12345\r\n");
  EXPECT_STREQ(net::EIdSocketError(10067).what(), "Socket Error # 10067\r\n");
  EXPECT_EQ(net::EIdSocketError(10054).LastError(), 10054);
}

TEST(net_SocketErrors, FixedTexts) {
  EXPECT_STREQ(net::EIdCouldNotBindSocket().what(),
               "Could not bind socket. Address and port are already in use.");
  EXPECT_STREQ(net::EIdNotAllBytesSent().what(), "Not all bytes sent.");
  EXPECT_STREQ(net::EIdUDPReceiveErrorZeroBytes().what(), "IP Broadcast Receive Error = 0.");
  const net::EIdPackageSizeTooBig tooBig;
  EXPECT_STREQ(tooBig.what(), "Package Size Too Big.");
  // A too-big package is a socket error with the Windows code for it.
  const net::EIdSocketError& asSocketError = tooBig;
  EXPECT_EQ(asSocketError.LastError(), 10040);
}

#ifndef _WIN32
TEST(net_SocketErrors, PlatformCodesMapOntoWindowsCodes) {
  // Each platform code, its Windows code and the message a user sees for it.
  const struct {
    int platform;
    int windows;
    const char* description;
  } table[] = {
      {EINTR, 10004, "Interrupted system call."},
      {EBADF, 10009, "Bad file number."},
      {EACCES, 10013, "Access denied."},
      {EFAULT, 10014, "Buffer fault."},
      {EINVAL, 10022, "Invalid argument."},
      {EMFILE, 10024, "Too many open files."},
      {EWOULDBLOCK, 10035, "Operation would block."},
      {EAGAIN, 10035, "Operation would block."},
      {EINPROGRESS, 10036, "Operation now in progress."},
      {EALREADY, 10037, "Operation already in progress."},
      {ENOTSOCK, 10038, "Socket operation on non-socket."},
      {EDESTADDRREQ, 10039, "Destination address required."},
      {EMSGSIZE, 10040, "Message too long."},
      {EPROTOTYPE, 10041, "Protocol wrong type for socket."},
      {ENOPROTOOPT, 10042, "Bad protocol option."},
      {EPROTONOSUPPORT, 10043, "Protocol not supported."},
      {ESOCKTNOSUPPORT, 10044, "Socket type not supported."},
      {EOPNOTSUPP, 10045, "Operation not supported on socket."},
      {EPFNOSUPPORT, 10046, "Protocol family not supported."},
      {EAFNOSUPPORT, 10047, "Address family not supported by protocol family."},
      {EADDRINUSE, 10048, "Address already in use."},
      {EADDRNOTAVAIL, 10049, "Cannot assign requested address."},
      {ENETDOWN, 10050, "Network is down."},
      {ENETUNREACH, 10051, "Network is unreachable."},
      {ENETRESET, 10052, "Net dropped connection or reset."},
      {ECONNABORTED, 10053, "Software caused connection abort."},
      {ECONNRESET, 10054, "Connection reset by peer."},
      {ENOBUFS, 10055, "No buffer space available."},
      {EISCONN, 10056, "Socket is already connected."},
      {ENOTCONN, 10057, "Socket is not connected."},
      {ESHUTDOWN, 10058, "Cannot send or receive after socket is closed."},
      {ETOOMANYREFS, 10059, "Too many references, cannot splice."},
      {ETIMEDOUT, 10060, "Connection timed out."},
      {ECONNREFUSED, 10061, "Connection refused."},
      {ELOOP, 10062, "Too many levels of symbolic links."},
      {ENAMETOOLONG, 10063, "File name too long."},
      {EHOSTDOWN, 10064, "Host is down."},
      {EHOSTUNREACH, 10065, "No route to host."},
      {ENOTEMPTY, 10066, "Directory not empty"},
  };
  for (const auto& row : table) {
    EXPECT_EQ(net::WindowsSocketCode(row.platform), row.windows) << "errno " << row.platform;
    EXPECT_EQ(net::SocketErrorDescription(row.windows), row.description) << row.windows;
    EXPECT_EQ(std::string(net::EIdSocketError(net::WindowsSocketCode(row.platform)).what()),
              "Socket Error # " + std::to_string(row.windows) + "\r\n" + row.description)
        << "errno " << row.platform;
  }
  // Codes without a Windows counterpart pass unchanged.
  EXPECT_EQ(net::WindowsSocketCode(ENOENT), ENOENT);
  EXPECT_EQ(net::WindowsSocketCode(0), 0);
}
#endif

TEST(net_SocketErrors, ARealFailureIsReportedWithItsWindowsCode) {
  // A port of 127.0.0.1 bound twice: the system's own error, whatever its
  // code on this platform, reaches the user as Winsock's 10048.
  namespace sock = net::sock;
  const sock::Handle first = sock::Open(sock::Family::IPv4);
  const sock::Handle second = sock::Open(sock::Family::IPv4);
  ASSERT_NE(first, sock::kNone);
  ASSERT_NE(second, sock::kNone);
  ASSERT_TRUE(sock::Bind(first, sock::IPv4Address(sock::InetAddr("127.0.0.1"), 0)));
  sock::Address bound;
  ASSERT_TRUE(sock::LocalAddress(first, bound));
  EXPECT_FALSE(sock::Bind(second, bound));
  const int code = net::LastSocketError();
  EXPECT_EQ(code, 10048);
  EXPECT_STREQ(net::EIdSocketError(code).what(), "Socket Error # 10048\r\nAddress already in use.");
  sock::Close(second);
  sock::Close(first);
}

}  // namespace
