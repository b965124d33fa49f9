#include "state/app_state.h"

#include <cstddef>
#include <cstring>
#include <type_traits>

#include "platform/files.h"

AppState g_app;

void ResetAppState() {
  // The package copies (over half a megabyte) and the command buffer are left
  // as they are: the copies' byte counts go to 0 and nothing reads past a
  // count, and every command fills the buffer before it is read or sent.
  static_assert(std::is_standard_layout_v<AppState>);
  constexpr std::size_t kBufferBegin = offsetof(AppState, SharedBuffer);
  constexpr std::size_t kBufferEnd = kBufferBegin + sizeof(AppState::SharedBuffer);
  constexpr std::size_t kCopiesBegin = offsetof(AppState, ImageData);
  constexpr std::size_t kCopiesEnd = offsetof(AppState, ImageModel);
  static_assert(kBufferEnd <= kCopiesBegin);
  static_assert(offsetof(AppState, LoaderDataBytes) < kCopiesEnd);
  auto* bytes = reinterpret_cast<unsigned char*>(&g_app);
  std::memset(bytes, 0, kBufferBegin);
  std::memset(bytes + kBufferEnd, 0, kCopiesBegin - kBufferEnd);
  std::memset(bytes + kCopiesEnd, 0, sizeof g_app - kCopiesEnd);
  g_app.ImageDataBytes = 0;
  g_app.LoaderDataBytes = 0;
}

int FindCharFrom(int start, char character, const char* text) {
  // The scan is bounded to 999 bytes so a missing character never runs off a
  // buffer; the terminator ends it too, unless NUL is what is looked for.
  for (int i = 0; i < 999; ++i) {
    char c = text[start + i];
    if (c == character) return i + 1;
    if (c == '\0') return 0;
  }
  return 0;
}

int FileExists(const char* path) {
  HANDLE file = OpenExistingFile(path);
  if (file == INVALID_HANDLE_VALUE) return 0;
  CloseFile(file);
  return 1;
}

void CopyText(char* destination, int size, const char* source) {
  if (size <= 0) return;
  // Whole-block copy: start-up fills some 10 KB of texts this way.
  const std::size_t length = strnlen(source, static_cast<std::size_t>(size - 1));
  std::memmove(destination, source, length);
  destination[length] = '\0';
}

void AppendText(char* destination, int size, const char* source) {
  int used = static_cast<int>(strnlen(destination, static_cast<size_t>(size)));
  if (used >= size) return;
  CopyText(destination + used, size - used, source);
}
