#include "platform/text_convert.h"

#include <iconv.h>

#include <cerrno>

namespace {

// Converts with iconv, replacing undecodable input bytes when `replace` is set.
bool Convert(const char* from, const char* to, std::string_view in, std::string* out,
             bool replace) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  out->clear();
  char* src = const_cast<char*>(in.data());
  size_t left = in.size();
  bool ok = true;
  char buffer[256];
  while (left > 0) {
    char* dst = buffer;
    size_t room = sizeof buffer;
    size_t r = iconv(cd, &src, &left, &dst, &room);
    out->append(buffer, static_cast<size_t>(dst - buffer));
    if (r == static_cast<size_t>(-1)) {
      if (errno == E2BIG) continue;
      if (!replace) {
        ok = false;
        break;
      }
      out->append("\xEF\xBF\xBD");
      ++src;
      --left;
    }
  }
  iconv_close(cd);
  return ok;
}

}  // namespace

std::string Cp932ToUtf8(std::string_view cp932) {
  std::string out;
  Convert("CP932", "UTF-8", cp932, &out, true);
  return out;
}

bool Utf8ToCp932(std::string_view utf8, std::string* cp932) {
  return Convert("UTF-8", "CP932", utf8, cp932, false);
}
