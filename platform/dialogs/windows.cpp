// Windows, classes, the message queue and message boxes of the headless model.
#include <deque>
#include <map>
#include <memory>
#include <string>

#include "platform/dialogs.h"
#include "platform/text_convert.h"
#include "platform/transcript.h"

namespace {

struct Window {
  std::string class_name;
  WNDPROC procedure = nullptr;
  DLGPROC dialog_procedure = nullptr;
  bool destroyed = false;
  bool dialog_ended = false;
  INT_PTR dialog_result = 0;
};

struct Model {
  std::map<std::string, WNDCLASSA> classes;
  std::map<HWND, std::unique_ptr<Window>> windows;
  std::deque<MSG> queue;
};

Model& TheModel() {
  static Model model;
  return model;
}

Window* Find(HWND handle) {
  auto& windows = TheModel().windows;
  auto it = windows.find(handle);
  if (it == windows.end() || it->second->destroyed) return nullptr;
  return it->second.get();
}

}  // namespace

ATOM RegisterClassA(const WNDCLASSA* window_class) {
  if (window_class == nullptr || window_class->lpszClassName == nullptr ||
      window_class->lpfnWndProc == nullptr)
    return 0;
  auto& classes = TheModel().classes;
  if (classes.count(window_class->lpszClassName) != 0) return 0;
  classes[window_class->lpszClassName] = *window_class;
  return static_cast<ATOM>(classes.size());
}

HWND CreateWindowExA(DWORD, const char* class_name, const char*, DWORD, int, int, int, int, HWND,
                     HANDLE, HINSTANCE, void*) {
  if (class_name == nullptr) return nullptr;
  auto& model = TheModel();
  auto it = model.classes.find(class_name);
  if (it == model.classes.end()) return nullptr;
  auto window = std::make_unique<Window>();
  window->class_name = class_name;
  window->procedure = it->second.lpfnWndProc;
  HWND handle = window.get();
  WNDPROC procedure = window->procedure;
  model.windows[handle] = std::move(window);
  LRESULT created = procedure(handle, WM_CREATE, 0, 0);
  if (Find(handle) == nullptr) return nullptr;
  if (created == -1) {
    DestroyWindow(handle);
    return nullptr;
  }
  return handle;
}

LRESULT DefWindowProcA(HWND window, UINT message, WPARAM, LPARAM) {
  if (message == WM_CLOSE) DestroyWindow(window);
  return 0;
}

LRESULT SendMessageA(HWND handle, UINT message, WPARAM wparam, LPARAM lparam) {
  Window* window = Find(handle);
  if (window == nullptr) return 0;
  if (window->procedure != nullptr) return window->procedure(handle, message, wparam, lparam);
  if (window->dialog_procedure != nullptr)
    return window->dialog_procedure(handle, message, wparam, lparam);
  return 0;
}

void PostQuitMessage(int exit_code) {
  TheModel().queue.push_back(MSG{nullptr, WM_QUIT, static_cast<WPARAM>(exit_code), 0});
}

BOOL GetMessageA(MSG* msg, HWND, UINT, UINT) {
  if (msg == nullptr) return -1;
  auto& queue = TheModel().queue;
  // Nothing left to deliver and no window to deliver to: the loop would wait
  // forever, which headless means it is over.
  if (queue.empty()) {
    *msg = MSG{nullptr, WM_QUIT, 0, 0};
    return 0;
  }
  *msg = queue.front();
  queue.pop_front();
  return msg->message == WM_QUIT ? 0 : 1;
}

BOOL TranslateMessage(const MSG*) { return 0; }

LRESULT DispatchMessageA(const MSG* msg) {
  if (msg == nullptr) return 0;
  return SendMessageA(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

BOOL DestroyWindow(HWND handle) {
  Window* window = Find(handle);
  if (window == nullptr) return 0;
  window->destroyed = true;
  if (window->procedure != nullptr) window->procedure(handle, WM_DESTROY, 0, 0);
  return 1;
}

int MessageBoxExA(HWND, const char* text, const char*, UINT, LANGID) {
  TranscriptLine("message", Cp932ToUtf8(text == nullptr ? "" : text));
  TranscriptLine("answer", "OK");
  return IDOK;
}

INT_PTR DialogBoxParamA(HINSTANCE, const char*, HWND, DLGPROC, LPARAM) { return -1; }

BOOL EndDialog(HWND handle, INT_PTR result) {
  Window* window = Find(handle);
  if (window == nullptr) return 0;
  window->dialog_ended = true;
  window->dialog_result = result;
  return 1;
}
