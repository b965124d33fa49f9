#include "platform/win32/win32_hold.h"

#include "platform/win32/win32_api.h"

namespace {

constexpr wchar_t kReason[] =
    L"Drive firmware is being written; stopping now could leave the drive unusable.";

using BlockReasonCreate = BOOL(QV_WINAPI*)(HWND, const wchar_t*);
using BlockReasonDestroy = BOOL(QV_WINAPI*)(HWND);

bool g_held = false;
bool g_session_end_refused = false;
HWND g_main_window = nullptr;

// A command or close request posted to the program during the write is
// dropped: acting on it afterwards would start what nobody asked for then.
// Looking at the queue also lets messages sent from elsewhere in, which the
// stand-ins answer without the program's procedures.
void DropPostedRequests() {
  win32::Msg msg{};
  while (win32::PeekMessageA(&msg, nullptr, WM_COMMAND, WM_COMMAND, win32::PM_REMOVE)) {
  }
  while (win32::PeekMessageA(&msg, nullptr, win32::WM_CLOSE, win32::WM_CLOSE, win32::PM_REMOVE)) {
  }
}

void DestroyBlockReason(BlockReasonDestroy* destroy) {
  if (*destroy != nullptr && g_main_window != nullptr) (*destroy)(g_main_window);
  *destroy = nullptr;
}

class Win32WriteHold final : public WriteHold {
 public:
  void Begin(DWORD) override {
    g_held = true;
    g_session_end_refused = true;
    HINSTANCE user32 = win32::LoadLibraryA("user32.dll");
    if (user32 == nullptr || g_main_window == nullptr) return;
    auto create = reinterpret_cast<BlockReasonCreate>(
        win32::GetProcAddress(user32, "ShutdownBlockReasonCreate"));
    destroy_ = reinterpret_cast<BlockReasonDestroy>(
        win32::GetProcAddress(user32, "ShutdownBlockReasonDestroy"));
    if (create != nullptr) create(g_main_window, kReason);
  }
  void End() override {
    DropPostedRequests();
    DestroyBlockReason(&destroy_);
    g_session_end_refused = false;
    g_held = false;
  }
  void Poll() override {
    if (!g_held) return;
    // Lets a session's end ask (and be refused) while the write blocks the
    // thread; the user's input stays queued, as it always has.
    DropPostedRequests();
  }
  void OwnSessionEnd() {
    g_session_end_refused = false;
    DestroyBlockReason(&destroy_);
  }

 private:
  BlockReasonDestroy destroy_ = nullptr;
};

Win32WriteHold& Hold() {
  static Win32WriteHold hold;
  return hold;
}

}  // namespace

bool Win32WriteHeld() { return g_held; }

bool Win32SessionEndRefused() { return g_session_end_refused; }

void Win32OwnSessionEndComing() { Hold().OwnSessionEnd(); }

bool Win32KeptFromProcedures(UINT message) {
  if (!g_held) return false;
  return message == WM_COMMAND || message == win32::WM_CLOSE || win32::InSendMessage();
}

void NoteWin32MainWindow(HWND window) {
  if (g_main_window == nullptr) g_main_window = window;
}

WriteHold* Win32WriteHoldInstance() { return &Hold(); }
