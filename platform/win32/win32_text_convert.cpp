// The code page conversion of the Windows build: the system's own tables.
#include <string>
#include <string_view>
#include <vector>

#include "platform/text_convert.h"
#include "platform/win32/win32_api.h"

namespace {

bool Convert(UINT from, UINT to, std::string_view in, std::string* out) {
  out->clear();
  if (in.empty()) return true;
  const int size = static_cast<int>(in.size());
  const int wide_size = win32::MultiByteToWideChar(from, 0, in.data(), size, nullptr, 0);
  if (wide_size <= 0) return false;
  std::vector<wchar_t> wide(static_cast<std::size_t>(wide_size));
  win32::MultiByteToWideChar(from, 0, in.data(), size, wide.data(), wide_size);
  const int out_size =
      win32::WideCharToMultiByte(to, 0, wide.data(), wide_size, nullptr, 0, nullptr, nullptr);
  if (out_size <= 0) return false;
  out->resize(static_cast<std::size_t>(out_size));
  win32::WideCharToMultiByte(to, 0, wide.data(), wide_size, out->data(), out_size, nullptr,
                             nullptr);
  return true;
}

}  // namespace

std::string Cp932ToUtf8(std::string_view cp932) {
  std::string utf8;
  if (!Convert(win32::CP_SHIFT_JIS, win32::CP_UTF8, cp932, &utf8)) utf8.assign(cp932);
  return utf8;
}

bool Utf8ToCp932(std::string_view utf8, std::string* cp932) {
  return Convert(win32::CP_UTF8, win32::CP_SHIFT_JIS, utf8, cp932);
}
