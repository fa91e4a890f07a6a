// Socket error texts and the mapping of platform codes onto the Windows codes.
#include "net/errors.h"

#include <gtest/gtest.h>

#include <cerrno>

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
  const struct {
    int platform;
    int windows;
  } table[] = {
      {EINTR, 10004},        {EBADF, 10009},          {EACCES, 10013},       {EFAULT, 10014},
      {EINVAL, 10022},       {EMFILE, 10024},         {EWOULDBLOCK, 10035},  {EAGAIN, 10035},
      {EINPROGRESS, 10036},  {EALREADY, 10037},       {ENOTSOCK, 10038},     {EDESTADDRREQ, 10039},
      {EMSGSIZE, 10040},     {EPROTOTYPE, 10041},     {ENOPROTOOPT, 10042},  {EPROTONOSUPPORT, 10043},
      {ESOCKTNOSUPPORT, 10044}, {EOPNOTSUPP, 10045},  {EPFNOSUPPORT, 10046}, {EAFNOSUPPORT, 10047},
      {EADDRINUSE, 10048},   {EADDRNOTAVAIL, 10049},  {ENETDOWN, 10050},     {ENETUNREACH, 10051},
      {ENETRESET, 10052},    {ECONNABORTED, 10053},   {ECONNRESET, 10054},   {ENOBUFS, 10055},
      {EISCONN, 10056},      {ENOTCONN, 10057},       {ESHUTDOWN, 10058},    {ETOOMANYREFS, 10059},
      {ETIMEDOUT, 10060},    {ECONNREFUSED, 10061},   {ELOOP, 10062},        {ENAMETOOLONG, 10063},
      {EHOSTDOWN, 10064},    {EHOSTUNREACH, 10065},   {ENOTEMPTY, 10066},
  };
  for (const auto& row : table) {
    EXPECT_EQ(net::WindowsSocketCode(row.platform), row.windows) << "errno " << row.platform;
    EXPECT_FALSE(net::SocketErrorDescription(row.windows).empty()) << row.windows;
  }
  // Codes without a Windows counterpart pass unchanged.
  EXPECT_EQ(net::WindowsSocketCode(ENOENT), ENOENT);
  EXPECT_EQ(net::WindowsSocketCode(0), 0);
}
#else
TEST(net_SocketErrors, WindowsCodesAreTheTablesOwn) {
  // Winsock's codes are the table's codes: nothing is mapped.
  for (const int code : {10004, 10038, 10040, 10048, 10054, 10065, 12345})
    EXPECT_EQ(net::WindowsSocketCode(code), code);
}
#endif

}  // namespace
