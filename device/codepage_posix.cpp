// The ANSI code page through the C library's iconv: code page 936 (GBK).
#include "device/codepage.h"

#include <iconv.h>

#include <cerrno>
#include <cstddef>

namespace device {

namespace {

// One converter per direction and thread, opened on first use.
class Converter {
 public:
  Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Converter() {
    if (cd_ != reinterpret_cast<iconv_t>(-1)) iconv_close(cd_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  // Converts in, replacing what cannot be converted: an invalid input
  // sequence by `invalid`, an incomplete one at the end by nothing.
  std::string run(std::string_view in, std::string_view invalid, std::size_t invalidInputStep) {
    std::string out;
    if (cd_ == reinterpret_cast<iconv_t>(-1)) return out;
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    out.reserve(in.size() * 2 + 8);
    char* src = const_cast<char*>(in.data());
    std::size_t srcLeft = in.size();
    char chunk[256];
    while (srcLeft > 0) {
      char* dst = chunk;
      std::size_t dstLeft = sizeof chunk;
      const std::size_t r = iconv(cd_, &src, &srcLeft, &dst, &dstLeft);
      out.append(chunk, static_cast<std::size_t>(dst - chunk));
      if (r != static_cast<std::size_t>(-1)) continue;
      if (errno == E2BIG) continue;
      if (errno == EINVAL) break;  // incomplete sequence at the end: dropped
      // EILSEQ (or anything else): replace and step over the offending input.
      out.append(invalid);
      const std::size_t step = invalidInputStep == 0 ? 1 : invalidInputStep;
      const std::size_t skip = step > srcLeft ? srcLeft : step;
      if (invalidInputStep == 0) {
        // UTF-8 input: step over one whole (possibly malformed) character.
        std::size_t n = 1;
        while (n < srcLeft && (static_cast<unsigned char>(src[n]) & 0xC0) == 0x80) ++n;
        src += n;
        srcLeft -= n;
      } else {
        src += skip;
        srcLeft -= skip;
      }
    }
    char* dst = chunk;
    std::size_t dstLeft = sizeof chunk;
    iconv(cd_, nullptr, nullptr, &dst, &dstLeft);
    out.append(chunk, static_cast<std::size_t>(dst - chunk));
    return out;
  }

 private:
  iconv_t cd_;
};

}  // namespace

std::string ToAnsi(std::string_view utf8) {
  if (utf8.empty()) return {};
  thread_local Converter toAnsi("CP936", "UTF-8");
  return toAnsi.run(utf8, "?", 0);
}

std::string FromAnsi(std::string_view ansi) {
  if (ansi.empty()) return {};
  thread_local Converter fromAnsi("UTF-8", "CP936");
  return fromAnsi.run(ansi, "\xEF\xBF\xBD", 1);
}

}  // namespace device
