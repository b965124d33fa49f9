// Code page conversion at the edge: texts are kept as CP932 bytes and turned
// into UTF-8 only where a view draws them.
#pragma once

#include <string>
#include <string_view>

// CP932 (a superset of ASCII) to UTF-8. Bytes that do not decode become U+FFFD;
// without the C library's CP932 converter, ASCII still comes through whole.
std::string Cp932ToUtf8(std::string_view cp932);
// UTF-8 to CP932; false when a character has no CP932 form.
bool Utf8ToCp932(std::string_view utf8, std::string* cp932);
