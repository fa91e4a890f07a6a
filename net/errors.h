// Errors raised by the UDP endpoints, with the socket layer's English texts.
#pragma once

#include <stdexcept>
#include <string>

namespace net {

class EIdException : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class EIdCouldNotBindSocket : public EIdException {
 public:
  EIdCouldNotBindSocket();  // "Could not bind socket. Address and port are already in use."
};

class EIdSocketError : public EIdException {
 public:
  explicit EIdSocketError(int windowsCode);  // "Socket Error # %d\r\n%s"
  int LastError() const { return code_; }

 protected:
  // For socket errors that carry a text of their own.
  EIdSocketError(int windowsCode, const std::string& message);

 private:
  int code_;
};

class EIdPackageSizeTooBig : public EIdSocketError {  // "Package Size Too Big."
 public:
  EIdPackageSizeTooBig();
};

class EIdNotAllBytesSent : public EIdException {  // "Not all bytes sent."
 public:
  EIdNotAllBytesSent();
};

class EIdUDPReceiveErrorZeroBytes : public EIdException {  // "IP Broadcast Receive Error = 0."
 public:
  EIdUDPReceiveErrorZeroBytes();
};

// Description of a Windows socket error code; empty for codes not in the table.
std::string SocketErrorDescription(int windowsCode);

// Maps a platform error code onto the Windows socket error code with the
// same meaning: on POSIX an errno value (e.g. EADDRINUSE -> 10048), unknown
// values passing unchanged; on Windows the codes are those already.
// (Implemented by the platform's socket seam, net/socket_*.cpp.)
int WindowsSocketCode(int platformError);

// The Windows socket error code of the calling thread's last socket failure.
int LastSocketError();

}  // namespace net
