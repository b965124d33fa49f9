#include "app/package_option.h"

#include <cstring>

#include "state/app_state.h"

namespace {

// Whether `text` is `name` in any mix of ASCII case.
bool SameNameAnyCase(const char* text, const char* name) {
  for (; *name != '\0'; ++text, ++name) {
    char a = *text;
    char b = *name;
    if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
    if (b >= 'A' && b <= 'Z') b = static_cast<char>(b - 'A' + 'a');
    if (a != b) return false;
  }
  return *text == '\0';
}

}  // namespace

int TakePackageOption(const char* command_line, char* rest, char* folder) {
  const int quote = FindCharFrom(1, '"', command_line);
  if (quote == 0) return 0;
  constexpr char kOption[] = " --package ";
  const char* at = command_line + quote + 1;
  if (std::strncmp(at, kOption, sizeof kOption - 1) != 0) return 0;
  at += sizeof kOption - 1;
  while (*at == ' ') ++at;
  const char* end = nullptr;
  const char* after = nullptr;
  if (*at == '"') {
    ++at;
    end = std::strchr(at, '"');
    if (end == nullptr) return 0;
    after = end + 1;
  } else {
    end = at + std::strcspn(at, " ");
    after = end;
  }
  if (end == at) return 0;
  int length = static_cast<int>(end - at);
  if (length > kMaxPath - 1) length = kMaxPath - 1;
  std::memcpy(folder, at, static_cast<std::size_t>(length));
  folder[length] = '\0';
  // The path of Tellumar.inf itself names its folder (the name compared as
  // Windows compares names, whatever the case).
  constexpr char kDescription[] = "Tellumar.inf";
  constexpr int kNameLength = sizeof kDescription - 1;
  const int name_at = length - kNameLength;
  if (name_at >= 0 && SameNameAnyCase(folder + name_at, kDescription)) {
    if (name_at == 0) {
      CopyText(folder, kMaxPath, ".");
    } else if (folder[name_at - 1] == '\\' || folder[name_at - 1] == '/') {
      length = name_at - 1;
      // A root keeps its separator ("\\", "D:\\").
      if (length == 0 || (length == 2 && folder[1] == ':')) ++length;
      folder[length] = '\0';
    }
  }

  while (*after == ' ') ++after;
  int head = quote + 1;
  if (head > kMaxPath - 1) head = kMaxPath - 1;
  std::memcpy(rest, command_line, static_cast<std::size_t>(head));
  rest[head] = '\0';
  if (*after != '\0') {
    AppendText(rest, kMaxPath, " ");
    AppendText(rest, kMaxPath, after);
  }
  return 1;
}
