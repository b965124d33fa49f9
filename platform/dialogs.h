// dialogs group: windows, modal dialogs from templates, controls, message
// boxes, painting and the program's own version resource, shaped like USER32,
// GDI32 and VERSION so that a Win32 build can pass each call straight through.
// Texts are code-page bytes (CP932 for Japanese); views convert at the edge.
#pragma once

#include <cstdint>

#include "platform/types.h"

using UINT = std::uint32_t;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;
using INT_PTR = std::intptr_t;
using ATOM = std::uint16_t;

using WNDPROC = LRESULT (*)(HWND, UINT, WPARAM, LPARAM);
using DLGPROC = INT_PTR (*)(HWND, UINT, WPARAM, LPARAM);

// Window messages, in the values Windows gives them.
inline constexpr UINT WM_CREATE = 0x0001;
inline constexpr UINT WM_DESTROY = 0x0002;
inline constexpr UINT WM_PAINT = 0x000F;
inline constexpr UINT WM_CLOSE = 0x0010;
inline constexpr UINT WM_QUIT = 0x0012;
inline constexpr UINT WM_KEYDOWN = 0x0100;
inline constexpr UINT WM_INITDIALOG = 0x0110;
inline constexpr UINT WM_COMMAND = 0x0111;
inline constexpr UINT WM_VSCROLL = 0x0115;

// Message box styles and answers.
inline constexpr UINT MB_OK = 0x00;
inline constexpr UINT MB_OKCANCEL = 0x01;
inline constexpr UINT MB_ICONEXCLAMATION = 0x30;
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;

inline constexpr DWORD WS_OVERLAPPEDWINDOW = 0x00CF0000;
inline constexpr int CW_USEDEFAULT = static_cast<int>(0x80000000);

struct WNDCLASSA {
  UINT style;
  WNDPROC lpfnWndProc;
  int cbClsExtra;
  int cbWndExtra;
  HINSTANCE hInstance;
  HANDLE hIcon;
  HANDLE hCursor;
  HANDLE hbrBackground;
  const char* lpszMenuName;
  const char* lpszClassName;
};

struct MSG {
  HWND hwnd;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
};

// Zero on failure.
ATOM RegisterClassA(const WNDCLASSA* window_class);
// Runs the class's procedure with WM_CREATE before it returns; null when the
// window was destroyed during its own creation.
HWND CreateWindowExA(DWORD ex_style, const char* class_name, const char* title, DWORD style,
                     int x, int y, int width, int height, HWND parent, HANDLE menu,
                     HINSTANCE instance, void* param);
LRESULT DefWindowProcA(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
LRESULT SendMessageA(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
void PostQuitMessage(int exit_code);
// 0 on WM_QUIT, -1 on error, otherwise non-zero.
BOOL GetMessageA(MSG* msg, HWND window, UINT min, UINT max);
BOOL TranslateMessage(const MSG* msg);
LRESULT DispatchMessageA(const MSG* msg);
BOOL DestroyWindow(HWND window);

// Shows a message box and returns the answer (IDOK, IDCANCEL).
int MessageBoxExA(HWND owner, const char* text, const char* caption, UINT type, LANGID language);

// Modal dialog from the named template; returns the value EndDialog gave, or
// -1 when the template cannot be shown.
INT_PTR DialogBoxParamA(HINSTANCE instance, const char* template_name, HWND owner,
                        DLGPROC procedure, LPARAM init_param);
BOOL EndDialog(HWND dialog, INT_PTR result);
