// A probe for tests under Wine: reads the windows of a running program
// through USER32, as another process on the same desktop sees them.
//
//   qvprobe dump     one line per visible top-level window and per control:
//     window HWND "CLASS" "TITLE" LEFT TOP RIGHT BOTTOM CLIENTX CLIENTY
//     control HWND ID "CLASS" VISIBLE ENABLED CHECKED LEFT TOP RIGHT BOTTOM "TEXT"
//   (rectangles in screen pixels; texts UTF-8)
//   qvprobe row X Y WIDTH   the screen's colours from (X, Y) rightwards, one
//     line per run of equal pixels: RRGGBB COUNT
//   qvprobe endsession HWND  asks the window whether the session may end
//     (WM_QUERYENDSESSION, as a log-off asks it): "yes", "no" or "hung",
//     also as the exit code 0, 1 or 3
//   qvprobe command HWND ID  the button ID of the dialog HWND clicked, as
//     another program can make it: a WM_COMMAND posted, then one sent
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::string Utf8(const wchar_t* text) {
  int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string out(size > 0 ? size - 1 : 0, '\0');
  if (size > 1) WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), size, nullptr, nullptr);
  for (char& c : out) {
    if (c == '"') c = '\'';
    if (c == '\r' || c == '\n') c = ' ';
  }
  return out;
}

std::string TextOf(HWND window) {
  wchar_t text[2048] = {};
  DWORD_PTR result = 0;
  SendMessageTimeoutW(window, WM_GETTEXT, 2048, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG,
                      2000, &result);
  return Utf8(text);
}

std::string ClassOf(HWND window) {
  wchar_t name[256] = {};
  GetClassNameW(window, name, 256);
  return Utf8(name);
}

BOOL CALLBACK DumpControl(HWND control, LPARAM) {
  RECT r;
  GetWindowRect(control, &r);
  DWORD_PTR checked = 0;
  SendMessageTimeoutW(control, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, 2000, &checked);
  std::printf("control %p %d \"%s\" %d %d %d %ld %ld %ld %ld \"%s\"\n", static_cast<void*>(control),
              GetDlgCtrlID(control), ClassOf(control).c_str(), IsWindowVisible(control) ? 1 : 0,
              IsWindowEnabled(control) ? 1 : 0, static_cast<int>(checked), r.left, r.top, r.right,
              r.bottom, TextOf(control).c_str());
  return TRUE;
}

BOOL CALLBACK DumpWindow(HWND window, LPARAM) {
  if (!IsWindowVisible(window)) return TRUE;
  RECT r;
  GetWindowRect(window, &r);
  POINT client = {0, 0};
  ClientToScreen(window, &client);
  std::printf("window %p \"%s\" \"%s\" %ld %ld %ld %ld %ld %ld\n", static_cast<void*>(window),
              ClassOf(window).c_str(), TextOf(window).c_str(), r.left, r.top, r.right, r.bottom,
              client.x, client.y);
  EnumChildWindows(window, DumpControl, 0);
  return TRUE;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::string(argv[1]) == "dump") {
    EnumWindows(DumpWindow, 0);
    std::fflush(stdout);
    return 0;
  }
  if (argc == 5 && std::string(argv[1]) == "row") {
    const int x = std::atoi(argv[2]);
    const int y = std::atoi(argv[3]);
    const int width = std::atoi(argv[4]);
    HDC screen = GetDC(nullptr);
    COLORREF run = 0;
    int count = 0;
    for (int i = 0; i <= width; ++i) {
      COLORREF colour = i < width ? GetPixel(screen, x + i, y) : CLR_INVALID;
      if (count > 0 && colour != run) {
        std::printf("%02X%02X%02X %d\n", GetRValue(run), GetGValue(run), GetBValue(run), count);
        count = 0;
      }
      run = colour;
      ++count;
    }
    ReleaseDC(nullptr, screen);
    std::fflush(stdout);
    return 0;
  }
  if (argc == 3 && std::string(argv[1]) == "endsession") {
    void* window = nullptr;
    if (std::sscanf(argv[2], "%p", &window) != 1) return 2;
    DWORD_PTR answer = 0;
    const LRESULT sent = SendMessageTimeoutW(static_cast<HWND>(window), WM_QUERYENDSESSION, 0, 0,
                                             SMTO_ABORTIFHUNG, 5000, &answer);
    std::puts(sent == 0 ? "hung" : answer != 0 ? "yes" : "no");
    std::fflush(stdout);
    return sent == 0 ? 3 : answer != 0 ? 0 : 1;
  }
  if (argc == 4 && std::string(argv[1]) == "command") {
    void* window = nullptr;
    if (std::sscanf(argv[2], "%p", &window) != 1) return 2;
    const HWND dialog = static_cast<HWND>(window);
    const int id = std::atoi(argv[3]);
    const WPARAM wparam = MAKEWPARAM(id, BN_CLICKED);
    const auto button = reinterpret_cast<LPARAM>(GetDlgItem(dialog, id));
    PostMessageW(dialog, WM_COMMAND, wparam, button);
    DWORD_PTR ignored = 0;
    const LRESULT sent =
        SendMessageTimeoutW(dialog, WM_COMMAND, wparam, button, SMTO_ABORTIFHUNG, 5000, &ignored);
    std::puts(sent == 0 ? "hung" : "sent");
    return 0;
  }
  std::fprintf(stderr, "usage: qvprobe dump | row X Y WIDTH | endsession HWND | command HWND ID\n");
  return 2;
}
