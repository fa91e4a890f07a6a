#include "net/errors.h"

#include <cstdio>

#include "net/socket_errors.h"

namespace net {

namespace {

std::string SocketErrorMessage(int windowsCode) {
  char head[48];
  std::snprintf(head, sizeof head, "Socket Error # %d\r\n", windowsCode);
  return head + SocketErrorDescription(windowsCode);
}

}  // namespace

EIdCouldNotBindSocket::EIdCouldNotBindSocket()
    : EIdException("Could not bind socket. Address and port are already in use.") {}

EIdSocketError::EIdSocketError(int windowsCode)
    : EIdException(SocketErrorMessage(windowsCode)), code_(windowsCode) {}

EIdSocketError::EIdSocketError(int windowsCode, const std::string& message)
    : EIdException(message), code_(windowsCode) {}

EIdPackageSizeTooBig::EIdPackageSizeTooBig() : EIdSocketError(10040, "Package Size Too Big.") {}

EIdNotAllBytesSent::EIdNotAllBytesSent() : EIdException("Not all bytes sent.") {}

EIdUDPReceiveErrorZeroBytes::EIdUDPReceiveErrorZeroBytes()
    : EIdException("IP Broadcast Receive Error = 0.") {}

std::string SocketErrorDescription(int windowsCode) {
  switch (windowsCode) {
#define ORVEN_TEXT_OF(code, errnoName, text) \
  case code: return text;
    ORVEN_SOCKET_ERRORS(ORVEN_TEXT_OF)
#undef ORVEN_TEXT_OF
    default: return {};
  }
}

}  // namespace net
