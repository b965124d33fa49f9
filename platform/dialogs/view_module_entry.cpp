// The entry point of a view module, built once per module with
// QV_VIEW_MODULE_DESKTOP or QV_VIEW_MODULE_TERMINAL: the table wraps the
// view's own start and finish.
#include <algorithm>
#include <cstring>
#include <string>

#include "platform/dialogs/view_module.h"
#include "platform/dialogs/views.h"

namespace {

int CopyOut(const std::string& reason, char* error, std::size_t error_size) {
  if (error != nullptr && error_size > 0) {
    const std::size_t n = std::min(reason.size(), error_size - 1);
    std::memcpy(error, reason.data(), n);
    error[n] = '\0';
  }
  return 0;
}

#if defined(QV_VIEW_MODULE_DESKTOP)
int Available() { return DesktopAvailable() ? 1 : 0; }
int Start(std::FILE* transcript, char* error, std::size_t error_size) {
  std::string reason;
  return StartDesktopView(transcript, &reason) ? 1 : CopyOut(reason, error, error_size);
}
void Finish() { FinishDesktopView(); }
int AskFolder(const char* title, const char* suggestion, char* answer, std::size_t size) {
  std::string chosen;
  if (!AskFolderOnDesktop(title, suggestion, &chosen)) return 0;
  CopyOut(chosen, answer, size);
  return 1;
}
#elif defined(QV_VIEW_MODULE_TERMINAL)
int Available() { return 1; }
int Start(std::FILE*, char* error, std::size_t error_size) {
  std::string reason;
  return StartTerminalView(&reason) ? 1 : CopyOut(reason, error, error_size);
}
void Finish() { FinishTerminalView(); }
// The terminal's question is a plain line, asked by the program itself.
constexpr auto AskFolder = nullptr;
#else
#error "build with QV_VIEW_MODULE_DESKTOP or QV_VIEW_MODULE_TERMINAL"
#endif

constexpr QvViewModule kModule{kViewModuleAbi, Available, Start, Finish, AskFolder};

}  // namespace

extern "C" __attribute__((visibility("default"))) const QvViewModule* qv_view_module(void) {
  return &kModule;
}
