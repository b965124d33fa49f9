// The dialogs group over USER32, GDI32 and VERSION themselves: the dialogs
// come from the templates windres compiled into the program, painting goes
// to real device contexts, and the version resource is read back from the
// program file.
//
// What is not a plain pass-through: the logic's window and dialog procedures
// use the C++ calling convention, so one stdcall procedure of each kind
// stands in front of them; the system's MSG and PAINTSTRUCT are larger than
// the platform's shapes, so they are kept here between the calls that pair.
#include <cstring>
#include <map>
#include <string>

#include "platform/dialogs.h"
#include "platform/events.h"
#include "platform/win32/win32_api.h"
#include "platform/win32/win32_hold.h"

namespace {

// The logic's procedure of each registered class, by class name.
std::map<std::string, WNDPROC>& ClassProcedures() {
  static std::map<std::string, WNDPROC> procedures;
  return procedures;
}

LRESULT QV_WINAPI ClassProcedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  NoteWin32MainWindow(window);
  // No log-off or shutdown while a firmware write runs.
  if (message == win32::WM_QUERYENDSESSION && Win32SessionEndRefused()) return 0;
  if (Win32KeptFromProcedures(message)) {
    return message == win32::WM_CLOSE ? 0 : win32::DefWindowProcA(window, message, wparam, lparam);
  }
  char name[256] = {};
  win32::GetClassNameA(window, name, sizeof name);
  auto found = ClassProcedures().find(name);
  if (found == ClassProcedures().end())
    return win32::DefWindowProcA(window, message, wparam, lparam);
  return found->second(window, message, wparam, lparam);
}

// What a dialog's stand-in procedure needs from DialogBoxParamA.
struct DialogStart {
  DLGPROC procedure;
  LPARAM init_param;
};

INT_PTR QV_WINAPI DialogProcedure(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_INITDIALOG) {
    const auto* start = reinterpret_cast<const DialogStart*>(lparam);
    win32::SetWindowLongA(dialog, win32::GWLP_USERDATA,
                          reinterpret_cast<std::intptr_t>(start->procedure));
    return start->procedure(dialog, message, wparam, start->init_param);
  }
  if (message == win32::WM_QUERYENDSESSION && Win32SessionEndRefused()) {
    win32::SetWindowLongA(dialog, win32::DWL_MSGRESULT, 0);
    return 1;
  }
  // The dialog manager's own handling only reads; a close request it would
  // turn into a command is taken as done.
  if (Win32KeptFromProcedures(message)) return message == win32::WM_CLOSE ? 1 : 0;
  auto procedure = reinterpret_cast<DLGPROC>(win32::GetWindowLongA(dialog, win32::GWLP_USERDATA));
  // Messages before WM_INITDIALOG (the font, the frame) are the system's.
  if (procedure == nullptr) return 0;
  return procedure(dialog, message, wparam, lparam);
}

// The last message GetMessageA fetched, whole, for DispatchMessageA.
win32::Msg g_last_message = {};

// Open paints by window: EndPaint needs what BeginPaint filled.
std::map<HWND, win32::PaintStruct>& OpenPaints() {
  static std::map<HWND, win32::PaintStruct> paints;
  return paints;
}

}  // namespace

HANDLE LoadIconA(HINSTANCE instance, const char* name) { return win32::LoadIconA(instance, name); }
HANDLE LoadCursorA(HINSTANCE instance, const char* name) {
  return win32::LoadCursorA(instance, name);
}

ATOM RegisterClassA(const WNDCLASSA* window_class) {
  // The system calls the class's procedure with its own convention: the
  // stand-in, which passes each message on to the logic's procedure.
  WNDCLASSA real = *window_class;
  real.lpfnWndProc = reinterpret_cast<WNDPROC>(ClassProcedure);
  ATOM atom = win32::RegisterClassA(&real);
  if (atom != 0) ClassProcedures()[window_class->lpszClassName] = window_class->lpfnWndProc;
  return atom;
}

HWND CreateWindowExA(DWORD ex_style, const char* class_name, const char* title, DWORD style, int x,
                     int y, int width, int height, HWND parent, HANDLE menu, HINSTANCE instance,
                     void* param) {
  return win32::CreateWindowExA(ex_style, class_name, title, style, x, y, width, height, parent,
                                menu, instance, param);
}

LRESULT DefWindowProcA(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  return win32::DefWindowProcA(window, message, wparam, lparam);
}
LRESULT SendMessageA(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  return win32::SendMessageA(window, message, wparam, lparam);
}
void PostQuitMessage(int exit_code) { win32::PostQuitMessage(exit_code); }

BOOL GetMessageA(MSG* msg, HWND window, UINT min, UINT max) {
  BOOL result = win32::GetMessageA(&g_last_message, window, min, max);
  msg->hwnd = g_last_message.hwnd;
  msg->message = g_last_message.message;
  msg->wParam = g_last_message.wParam;
  msg->lParam = g_last_message.lParam;
  return result;
}

namespace {
win32::Msg WholeMessage(const MSG* msg) {
  win32::Msg real = g_last_message;
  real.hwnd = msg->hwnd;
  real.message = msg->message;
  real.wParam = msg->wParam;
  real.lParam = msg->lParam;
  return real;
}
}  // namespace

BOOL TranslateMessage(const MSG* msg) {
  win32::Msg real = WholeMessage(msg);
  return win32::TranslateMessage(&real);
}
LRESULT DispatchMessageA(const MSG* msg) {
  win32::Msg real = WholeMessage(msg);
  return win32::DispatchMessageA(&real);
}
BOOL DestroyWindow(HWND window) { return win32::DestroyWindow(window); }

int MessageBoxExA(HWND owner, const char* text, const char* caption, UINT type, LANGID language) {
  RaisePlatformEvent(PlatformEventKind::kMessageShown, text == nullptr ? "" : text);
  int answer = win32::MessageBoxExA(owner, text, caption, type, language);
  RaisePlatformEvent(PlatformEventKind::kMessageAnswered, answer == IDOK ? "OK" : "Cancel");
  return answer;
}

INT_PTR DialogBoxParamA(HINSTANCE instance, const char* template_name, HWND owner,
                        DLGPROC procedure, LPARAM init_param) {
  DialogStart start{procedure, init_param};
  return win32::DialogBoxParamA(instance, template_name, owner, DialogProcedure,
                                reinterpret_cast<LPARAM>(&start));
}
BOOL EndDialog(HWND dialog, INT_PTR result) { return win32::EndDialog(dialog, result); }

HWND GetDlgItem(HWND dialog, int id) { return win32::GetDlgItem(dialog, id); }
int GetDlgCtrlID(HWND control) { return win32::GetDlgCtrlID(control); }
HWND GetParent(HWND window) { return win32::GetParent(window); }
BOOL IsWindow(HWND window) { return win32::IsWindow(window); }
BOOL SetWindowTextA(HWND window, const char* text) { return win32::SetWindowTextA(window, text); }
int GetWindowTextA(HWND window, char* buffer, int size) {
  return win32::GetWindowTextA(window, buffer, size);
}
BOOL SetDlgItemTextA(HWND dialog, int id, const char* text) {
  return win32::SetDlgItemTextA(dialog, id, text);
}
BOOL ShowNoteText(HWND dialog, int id, const char* text) {
  RaisePlatformEvent(PlatformEventKind::kNoteShown, text == nullptr ? "" : text);
  return win32::SetDlgItemTextA(dialog, id, text);
}
BOOL ShowWindow(HWND window, int command) { return win32::ShowWindow(window, command); }
BOOL IsWindowVisible(HWND window) { return win32::IsWindowVisible(window); }
BOOL EnableWindow(HWND window, BOOL enable) { return win32::EnableWindow(window, enable); }
BOOL IsWindowEnabled(HWND window) { return win32::IsWindowEnabled(window); }
BOOL CheckDlgButton(HWND dialog, int id, UINT check) {
  return win32::CheckDlgButton(dialog, id, check);
}
UINT IsDlgButtonChecked(HWND dialog, int id) { return win32::IsDlgButtonChecked(dialog, id); }

BOOL GetClientRect(HWND window, RECT* rect) { return win32::GetClientRect(window, rect); }
BOOL GetWindowRect(HWND window, RECT* rect) { return win32::GetWindowRect(window, rect); }
BOOL MoveWindow(HWND window, int x, int y, int width, int height, BOOL repaint) {
  return win32::MoveWindow(window, x, y, width, height, repaint);
}

int SetScrollInfo(HWND window, int bar, const SCROLLINFO* info, BOOL redraw) {
  return win32::SetScrollInfo(window, bar, info, redraw);
}
BOOL GetScrollInfo(HWND window, int bar, SCROLLINFO* info) {
  return win32::GetScrollInfo(window, bar, info);
}
int SetScrollPos(HWND window, int bar, int position, BOOL redraw) {
  return win32::SetScrollPos(window, bar, position, redraw);
}
int GetScrollPos(HWND window, int bar) { return win32::GetScrollPos(window, bar); }
BOOL SetScrollRange(HWND window, int bar, int min, int max, BOOL redraw) {
  return win32::SetScrollRange(window, bar, min, max, redraw);
}
BOOL GetScrollRange(HWND window, int bar, int* min, int* max) {
  return win32::GetScrollRange(window, bar, min, max);
}
BOOL EnableScrollBar(HWND window, UINT bar, UINT arrows) {
  return win32::EnableScrollBar(window, bar, arrows);
}

HDC BeginPaint(HWND window, PAINTSTRUCT* paint) {
  win32::PaintStruct& real = OpenPaints()[window];
  HDC dc = win32::BeginPaint(window, &real);
  paint->hdc = real.hdc;
  paint->fErase = real.fErase;
  paint->rcPaint = real.rcPaint;
  return dc;
}
BOOL EndPaint(HWND window, const PAINTSTRUCT* paint) {
  auto found = OpenPaints().find(window);
  if (found == OpenPaints().end() || found->second.hdc != paint->hdc) return 0;
  BOOL result = win32::EndPaint(window, &found->second);
  OpenPaints().erase(found);
  return result;
}
HDC GetDC(HWND window) { return win32::GetDC(window); }
int ReleaseDC(HWND window, HDC dc) { return win32::ReleaseDC(window, dc); }
HBRUSH CreateSolidBrush(COLORREF colour) { return win32::CreateSolidBrush(colour); }
HGDIOBJ GetStockObject(int object) { return win32::GetStockObject(object); }
BOOL DeleteObject(HGDIOBJ object) { return win32::DeleteObject(object); }
int FillRect(HDC dc, const RECT* rect, HBRUSH brush) { return win32::FillRect(dc, rect, brush); }
int SetBkMode(HDC dc, int mode) { return win32::SetBkMode(dc, mode); }
int DrawTextA(HDC dc, const char* text, int count, RECT* rect, UINT format) {
  return win32::DrawTextA(dc, text, count, rect, format);
}
BOOL InvalidateRect(HWND window, const RECT* rect, BOOL erase) {
  return win32::InvalidateRect(window, rect, erase);
}
BOOL GetUpdateRect(HWND window, RECT* rect, BOOL erase) {
  return win32::GetUpdateRect(window, rect, erase);
}
BOOL UpdateWindow(HWND window) { return win32::UpdateWindow(window); }
int GetSystemMetrics(int index) { return win32::GetSystemMetrics(index); }

DWORD GetFileVersionInfoSizeA(const char* file_name, DWORD* handle) {
  return win32::GetFileVersionInfoSizeA(file_name, handle);
}
BOOL GetFileVersionInfoA(const char* file_name, DWORD handle, DWORD size, void* data) {
  return win32::GetFileVersionInfoA(file_name, handle, size, data);
}
BOOL VerQueryValueA(const void* block, const char* sub_block, void** value, UINT* length) {
  return win32::VerQueryValueA(block, sub_block, value, length);
}

HANDLE GetProcessHeap() { return win32::GetProcessHeap(); }
void* HeapAlloc(HANDLE heap, DWORD flags, std::size_t bytes) {
  return win32::HeapAlloc(heap, flags, bytes);
}
BOOL HeapFree(HANDLE heap, DWORD flags, void* block) { return win32::HeapFree(heap, flags, block); }
