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

// Without the C library's CP932 tables (a minimal system): ASCII and the
// half-width katakana as they are, each double-byte character as U+FFFD, so
// that English texts still show whole instead of as nothing.
std::string Cp932ToUtf8WithoutTables(std::string_view in) {
  std::string out;
  for (std::size_t i = 0; i < in.size(); ++i) {
    const auto b = static_cast<unsigned char>(in[i]);
    if (b < 0x80) {
      out += static_cast<char>(b);
    } else if (b >= 0xA1 && b <= 0xDF) {
      const unsigned code = 0xFF61 + (b - 0xA1);
      out += static_cast<char>(0xE0 | (code >> 12));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      if (((b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC)) && i + 1 < in.size()) ++i;
      out += "\xEF\xBF\xBD";
    }
  }
  return out;
}

// ASCII is the same in both encodings; such a text (most of what the
// program shows in English) needs no converter, whose loading costs more than
// the rest of a transcript line.
bool IsAscii(std::string_view text) {
  for (char c : text)
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  return true;
}

}  // namespace

std::string Cp932ToUtf8(std::string_view cp932) {
  if (IsAscii(cp932)) return std::string(cp932);
  std::string out;
  // With replacing, only a missing converter fails.
  if (!Convert("CP932", "UTF-8", cp932, &out, true)) return Cp932ToUtf8WithoutTables(cp932);
  return out;
}

bool Utf8ToCp932(std::string_view utf8, std::string* cp932) {
  if (IsAscii(utf8)) {
    cp932->assign(utf8);
    return true;
  }
  return Convert("UTF-8", "CP932", utf8, cp932, false);
}

std::string VisibleText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  const auto byte = [&text](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const auto escape = [&out](unsigned char c) {
    out += '\\';
    // \a \b \t \n \v \f \r: bytes 7 to 13.
    if (c >= 7 && c <= 13) {
      out += "abtnvfr"[c - 7];
      return;
    }
    out += static_cast<char>('0' + (c >> 6));
    out += static_cast<char>('0' + ((c >> 3) & 7));
    out += static_cast<char>('0' + (c & 7));
  };
  std::size_t i = 0;
  while (i < text.size()) {
    const unsigned char c = byte(i);
    if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
      ++i;
      continue;
    }
    // U+0080 to U+009F: the C1 controls, which a terminal may act on.
    if (c == 0xC2 && i + 1 < text.size() && byte(i + 1) < 0xA0 && byte(i + 1) >= 0x80) {
      escape(c);
      escape(byte(i + 1));
      i += 2;
      continue;
    }
    // The length of a well-formed UTF-8 character starting here (no
    // overlong forms, no surrogates, nothing past U+10FFFF); 0 for none.
    std::size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
      length = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
      length = 3;
      if (c == 0xE0) low = 0xA0;
      if (c == 0xED) high = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      length = 4;
      if (c == 0xF0) low = 0x90;
      if (c == 0xF4) high = 0x8F;
    }
    bool whole = length != 0 && i + length <= text.size();
    for (std::size_t k = 1; whole && k < length; ++k) {
      const unsigned char next = byte(i + k);
      whole = k == 1 ? next >= low && next <= high : next >= 0x80 && next <= 0xBF;
    }
    if (whole) {
      out.append(text.substr(i, length));
      i += length;
    } else {
      escape(c);
      ++i;
    }
  }
  return out;
}
