// The Win32 calls the Windows build passes each platform group through to,
// declared in the platform's own types inside namespace win32.
//
// <windows.h> cannot share a translation unit with the group headers: both
// define DWORD, HWND, RECT, GetTickCount and the rest at global scope, and the
// logic's functions carry exactly those names. So the few calls needed are
// declared here with C linkage (their names ignore the namespace, so the
// linker finds the system's own entry points); the integer types have the
// same sizes as Windows' own, and on i686 the stdcall decoration (@N, the
// bytes of arguments) makes the linker check each declaration's arguments
// against the import libraries.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/dialogs.h"
#include "platform/system.h"
#include "platform/types.h"

#if defined(__i386__)
#define QV_WINAPI __attribute__((stdcall))
#else
#define QV_WINAPI
#endif

namespace win32 {

using WinProc = LRESULT(QV_WINAPI*)(HWND, UINT, WPARAM, LPARAM);
using WinDlgProc = INT_PTR(QV_WINAPI*)(HWND, UINT, WPARAM, LPARAM);
using ThreadStart = DWORD(QV_WINAPI*)(void*);
using FarProc = void (*)();

// The system's own layouts where they differ from the platform's shapes.
// (WNDCLASSA has the system's layout; only its procedure's calling
// convention differs, and a pointer is a pointer.)
struct Msg {
  HWND hwnd;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  DWORD time;
  POINT pt;
};

struct PaintStruct {
  HDC hdc;
  BOOL fErase;
  RECT rcPaint;
  BOOL fRestore;
  BOOL fIncUpdate;
  BYTE rgbReserved[32];
};

struct SecurityAttributes;
struct Overlapped;

struct CriticalSection {
  void* DebugInfo;
  std::int32_t LockCount;
  std::int32_t RecursionCount;
  HANDLE OwningThread;
  HANDLE LockSemaphore;
  std::uintptr_t SpinCount;
};

inline constexpr DWORD GENERIC_READ = 0x80000000u;
inline constexpr DWORD GENERIC_WRITE = 0x40000000u;
inline constexpr DWORD FILE_SHARE_READ = 1;
inline constexpr DWORD FILE_SHARE_WRITE = 2;
inline constexpr DWORD CREATE_ALWAYS = 2;
inline constexpr DWORD OPEN_EXISTING = 3;
inline constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;
inline constexpr DWORD FILE_BEGIN = 0;
inline constexpr DWORD FILE_END = 2;
inline constexpr DWORD OPEN_ALWAYS = 4;
inline constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
inline constexpr DWORD ERROR_PATH_NOT_FOUND = 3;
inline constexpr DWORD MOVEFILE_REPLACE_EXISTING = 1;
inline constexpr DWORD MOVEFILE_WRITE_THROUGH = 8;
inline constexpr UINT CP_SHIFT_JIS = 932;
inline constexpr UINT CP_UTF8 = 65001;
inline constexpr DWORD INVALID_SET_FILE_POINTER = 0xFFFFFFFFu;
inline constexpr DWORD WAIT_OBJECT_0 = 0;
inline constexpr DWORD INFINITE_WAIT = 0xFFFFFFFFu;
inline constexpr int GWLP_USERDATA = -21;
inline constexpr UINT WM_NCDESTROY = 0x0082;
inline constexpr UINT WM_QUERYENDSESSION = 0x0011;
inline constexpr UINT WM_CLOSE = 0x0010;
inline constexpr UINT PM_NOREMOVE = 0x0000;
inline constexpr UINT PM_REMOVE = 0x0001;
// Only the messages other threads and processes sent are handled.
inline constexpr UINT PM_QS_SENDMESSAGE = 0x0040u << 16;
inline constexpr int DWL_MSGRESULT = 0;

extern "C" {

// KERNEL32
DWORD QV_WINAPI GetTickCount();
void QV_WINAPI Sleep(DWORD ms);
DWORD QV_WINAPI GetVersion();
LANGID QV_WINAPI GetUserDefaultLangID();
UINT QV_WINAPI GetWindowsDirectoryA(char* buffer, UINT size);
char* QV_WINAPI GetCommandLineA();
BOOL QV_WINAPI SetCurrentDirectoryA(const char* path);
DWORD QV_WINAPI GetCurrentDirectoryA(DWORD size, char* buffer);
HANDLE QV_WINAPI OpenMutexA(DWORD access, BOOL inherit, const char* name);
HANDLE QV_WINAPI CreateMutexA(SecurityAttributes* security, BOOL initial_owner, const char* name);
BOOL QV_WINAPI ReleaseMutex(HANDLE mutex);
BOOL QV_WINAPI CloseHandle(HANDLE handle);
BOOL QV_WINAPI FlushFileBuffers(HANDLE file);
HANDLE QV_WINAPI GetCurrentProcess();
DWORD QV_WINAPI GetLastError();
void QV_WINAPI SetLastError(DWORD code);
HANDLE QV_WINAPI CreateFileA(const char* path, DWORD access, DWORD share,
                             SecurityAttributes* security, DWORD disposition, DWORD flags,
                             HANDLE template_file);
BOOL QV_WINAPI ReadFile(HANDLE file, void* buffer, DWORD size, DWORD* read, Overlapped* overlapped);
BOOL QV_WINAPI WriteFile(HANDLE file, const void* buffer, DWORD size, DWORD* written,
                         Overlapped* overlapped);
DWORD QV_WINAPI SetFilePointer(HANDLE file, std::int32_t distance, std::int32_t* high,
                               DWORD method);
DWORD QV_WINAPI GetFileSize(HANDLE file, DWORD* high);
BOOL QV_WINAPI DeleteFileA(const char* path);
BOOL QV_WINAPI MoveFileA(const char* from, const char* to);
BOOL QV_WINAPI MoveFileExA(const char* from, const char* to, DWORD flags);
// The system's SYSTEMTIME has the platform's layout: eight WORDs.
void QV_WINAPI GetSystemTime(::SYSTEMTIME* time);
int QV_WINAPI MultiByteToWideChar(UINT code_page, DWORD flags, const char* text, int size,
                                  wchar_t* wide, int wide_size);
int QV_WINAPI WideCharToMultiByte(UINT code_page, DWORD flags, const wchar_t* wide, int size,
                                  char* text, int text_size, const char* default_char,
                                  BOOL* used_default);
BOOL QV_WINAPI DeviceIoControl(HANDLE device, DWORD code, void* in, DWORD in_size, void* out,
                               DWORD out_size, DWORD* returned, Overlapped* overlapped);
HINSTANCE QV_WINAPI LoadLibraryA(const char* name);
FarProc QV_WINAPI GetProcAddress(HINSTANCE module, const char* name);
DWORD QV_WINAPI GetModuleFileNameA(HINSTANCE module, char* buffer, DWORD size);
HANDLE QV_WINAPI CreateEventA(SecurityAttributes* security, BOOL manual_reset, BOOL initial,
                              const char* name);
BOOL QV_WINAPI SetEvent(HANDLE event);
BOOL QV_WINAPI ResetEvent(HANDLE event);
DWORD QV_WINAPI WaitForSingleObject(HANDLE object, DWORD ms);
HANDLE QV_WINAPI CreateThread(SecurityAttributes* security, std::size_t stack, ThreadStart start,
                              void* parameter, DWORD flags, DWORD* thread_id);
void QV_WINAPI InitializeCriticalSection(CriticalSection* section);
void QV_WINAPI EnterCriticalSection(CriticalSection* section);
void QV_WINAPI LeaveCriticalSection(CriticalSection* section);
HANDLE QV_WINAPI GetProcessHeap();
void* QV_WINAPI HeapAlloc(HANDLE heap, DWORD flags, std::size_t bytes);
BOOL QV_WINAPI HeapFree(HANDLE heap, DWORD flags, void* block);
int QV_WINAPI MulDiv(int number, int numerator, int denominator);

// ADVAPI32
BOOL QV_WINAPI OpenProcessToken(HANDLE process, DWORD access, HANDLE* token);
BOOL QV_WINAPI LookupPrivilegeValueA(const char* system, const char* name, LUID* luid);
BOOL QV_WINAPI AdjustTokenPrivileges(HANDLE token, BOOL disable_all, const TOKEN_PRIVILEGES* state,
                                     DWORD length, TOKEN_PRIVILEGES* previous,
                                     DWORD* return_length);
long QV_WINAPI RegOpenKeyExA(HKEY parent, const char* subkey, DWORD options, DWORD access,
                             HKEY* result);
long QV_WINAPI RegCreateKeyExA(HKEY parent, const char* subkey, DWORD reserved, char* key_class,
                               DWORD options, DWORD access, SecurityAttributes* security,
                               HKEY* result, DWORD* disposition);
long QV_WINAPI RegQueryInfoKeyA(HKEY key, char* key_class, DWORD* class_size, DWORD* reserved,
                                DWORD* subkeys, DWORD* max_subkey, DWORD* max_class, DWORD* values,
                                DWORD* max_value_name, DWORD* max_value, DWORD* security,
                                void* last_write);
long QV_WINAPI RegEnumKeyExA(HKEY key, DWORD index, char* name, DWORD* size, DWORD* reserved,
                             char* key_class, DWORD* class_size, void* last_write);
long QV_WINAPI RegQueryValueExA(HKEY key, const char* value, DWORD* reserved, DWORD* type,
                                BYTE* data, DWORD* size);
long QV_WINAPI RegSetValueExA(HKEY key, const char* value, DWORD reserved, DWORD type,
                              const BYTE* data, DWORD size);
long QV_WINAPI RegDeleteValueA(HKEY key, const char* value);
long QV_WINAPI RegCloseKey(HKEY key);

// USER32
BOOL QV_WINAPI ExitWindowsEx(UINT flags, DWORD reason);
ATOM QV_WINAPI RegisterClassA(const WNDCLASSA* window_class);
HWND QV_WINAPI CreateWindowExA(DWORD ex_style, const char* class_name, const char* title,
                               DWORD style, int x, int y, int width, int height, HWND parent,
                               HANDLE menu, HINSTANCE instance, void* param);
LRESULT QV_WINAPI DefWindowProcA(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
LRESULT QV_WINAPI SendMessageA(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
void QV_WINAPI PostQuitMessage(int exit_code);
BOOL QV_WINAPI GetMessageA(Msg* msg, HWND window, UINT min, UINT max);
BOOL QV_WINAPI PeekMessageA(Msg* msg, HWND window, UINT min, UINT max, UINT remove);
BOOL QV_WINAPI InSendMessage();
BOOL QV_WINAPI TranslateMessage(const Msg* msg);
LRESULT QV_WINAPI DispatchMessageA(const Msg* msg);
BOOL QV_WINAPI DestroyWindow(HWND window);
int QV_WINAPI GetClassNameA(HWND window, char* name, int size);
int QV_WINAPI MessageBoxExA(HWND owner, const char* text, const char* caption, UINT type,
                            WORD language);
INT_PTR QV_WINAPI DialogBoxParamA(HINSTANCE instance, const char* template_name, HWND owner,
                                  WinDlgProc procedure, LPARAM init_param);
BOOL QV_WINAPI EndDialog(HWND dialog, INT_PTR result);
std::intptr_t QV_WINAPI SetWindowLongA(HWND window, int index, std::intptr_t value);
std::intptr_t QV_WINAPI GetWindowLongA(HWND window, int index);
HWND QV_WINAPI GetDlgItem(HWND dialog, int id);
int QV_WINAPI GetDlgCtrlID(HWND control);
HWND QV_WINAPI GetParent(HWND window);
BOOL QV_WINAPI IsWindow(HWND window);
BOOL QV_WINAPI SetWindowTextA(HWND window, const char* text);
int QV_WINAPI GetWindowTextA(HWND window, char* buffer, int size);
BOOL QV_WINAPI SetDlgItemTextA(HWND dialog, int id, const char* text);
BOOL QV_WINAPI ShowWindow(HWND window, int command);
BOOL QV_WINAPI IsWindowVisible(HWND window);
BOOL QV_WINAPI EnableWindow(HWND window, BOOL enable);
BOOL QV_WINAPI IsWindowEnabled(HWND window);
BOOL QV_WINAPI CheckDlgButton(HWND dialog, int id, UINT check);
UINT QV_WINAPI IsDlgButtonChecked(HWND dialog, int id);
BOOL QV_WINAPI GetClientRect(HWND window, RECT* rect);
BOOL QV_WINAPI GetWindowRect(HWND window, RECT* rect);
BOOL QV_WINAPI MoveWindow(HWND window, int x, int y, int width, int height, BOOL repaint);
int QV_WINAPI SetScrollInfo(HWND window, int bar, const SCROLLINFO* info, BOOL redraw);
BOOL QV_WINAPI GetScrollInfo(HWND window, int bar, SCROLLINFO* info);
int QV_WINAPI SetScrollPos(HWND window, int bar, int position, BOOL redraw);
int QV_WINAPI GetScrollPos(HWND window, int bar);
BOOL QV_WINAPI SetScrollRange(HWND window, int bar, int min, int max, BOOL redraw);
BOOL QV_WINAPI GetScrollRange(HWND window, int bar, int* min, int* max);
BOOL QV_WINAPI EnableScrollBar(HWND window, UINT bar, UINT arrows);
HDC QV_WINAPI BeginPaint(HWND window, PaintStruct* paint);
BOOL QV_WINAPI EndPaint(HWND window, const PaintStruct* paint);
HDC QV_WINAPI GetDC(HWND window);
int QV_WINAPI ReleaseDC(HWND window, HDC dc);
int QV_WINAPI FillRect(HDC dc, const RECT* rect, HBRUSH brush);
int QV_WINAPI DrawTextA(HDC dc, const char* text, int count, RECT* rect, UINT format);
BOOL QV_WINAPI InvalidateRect(HWND window, const RECT* rect, BOOL erase);
BOOL QV_WINAPI GetUpdateRect(HWND window, RECT* rect, BOOL erase);
BOOL QV_WINAPI UpdateWindow(HWND window);
int QV_WINAPI GetSystemMetrics(int index);
HANDLE QV_WINAPI LoadIconA(HINSTANCE instance, const char* name);
HANDLE QV_WINAPI LoadCursorA(HINSTANCE instance, const char* name);

// GDI32
HBRUSH QV_WINAPI CreateSolidBrush(COLORREF colour);
HGDIOBJ QV_WINAPI GetStockObject(int object);
BOOL QV_WINAPI DeleteObject(HGDIOBJ object);
int QV_WINAPI SetBkMode(HDC dc, int mode);

// VERSION
DWORD QV_WINAPI GetFileVersionInfoSizeA(const char* file_name, DWORD* handle);
BOOL QV_WINAPI GetFileVersionInfoA(const char* file_name, DWORD handle, DWORD size, void* data);
BOOL QV_WINAPI VerQueryValueA(const void* block, const char* sub_block, void** value, UINT* length);

}  // extern "C"

// Holds a critical section for the life of the object.
class Locked {
 public:
  explicit Locked(CriticalSection* section) : section_(section) { EnterCriticalSection(section_); }
  ~Locked() { LeaveCriticalSection(section_); }
  Locked(const Locked&) = delete;
  Locked& operator=(const Locked&) = delete;

 private:
  CriticalSection* section_;
};

}  // namespace win32
