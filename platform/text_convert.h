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

// Text from outside the program (a folder's or file's name, a path typed),
// as it may be shown on a terminal or in a window: its control characters
// made visible as `ls -b` (the escape quoting style) writes them, \a \b \t
// \n \v \f \r and three octal digits for the others (\033), the same for
// DEL, for the C1 controls (byte by byte) and for every byte that is not
// UTF-8. The rest, blanks and backslashes among it, stays as it is.
std::string VisibleText(std::string_view utf8);
