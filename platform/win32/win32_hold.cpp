#include "platform/win32/win32_hold.h"

#include "platform/win32/win32_api.h"

namespace {

constexpr wchar_t kReason[] =
    L"Drive firmware is being written; stopping now could leave the drive unusable.";

using BlockReasonCreate = BOOL(QV_WINAPI*)(HWND, const wchar_t*);
using BlockReasonDestroy = BOOL(QV_WINAPI*)(HWND);

bool g_held = false;
HWND g_main_window = nullptr;

class Win32WriteHold final : public WriteHold {
 public:
  void Begin(DWORD) override {
    g_held = true;
    HINSTANCE user32 = win32::LoadLibraryA("user32.dll");
    if (user32 == nullptr || g_main_window == nullptr) return;
    auto create = reinterpret_cast<BlockReasonCreate>(
        win32::GetProcAddress(user32, "ShutdownBlockReasonCreate"));
    destroy_ = reinterpret_cast<BlockReasonDestroy>(
        win32::GetProcAddress(user32, "ShutdownBlockReasonDestroy"));
    if (create != nullptr) create(g_main_window, kReason);
  }
  void End() override {
    if (destroy_ != nullptr && g_main_window != nullptr) destroy_(g_main_window);
    destroy_ = nullptr;
    g_held = false;
  }
  void Poll() override {
    if (!g_held) return;
    // Lets a session's end ask (and be refused) while the write blocks the
    // thread; the user's input stays queued, as it always has.
    win32::Msg msg{};
    win32::PeekMessageA(&msg, nullptr, 0, 0, win32::PM_NOREMOVE | win32::PM_QS_SENDMESSAGE);
  }

 private:
  BlockReasonDestroy destroy_ = nullptr;
};

}  // namespace

bool Win32WriteHeld() { return g_held; }

void NoteWin32MainWindow(HWND window) {
  if (g_main_window == nullptr) g_main_window = window;
}

WriteHold* Win32WriteHoldInstance() {
  static Win32WriteHold hold;
  return &hold;
}
