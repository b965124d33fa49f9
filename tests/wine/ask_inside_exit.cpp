// Part of the test wnaspi32.dll: with QV_ASK_INSIDE_EXIT set (a Windows path
// for its log), the program's ExitWindowsEx first asks each of the calling
// thread's top-level windows whether the session may end, through the probe
// (qvprobe endsession, next to the program) while the call runs, as Windows
// 95/98 ask the caller's own windows inside the call. One line per window,
// "yes", "no" or "hung", goes to the log; a "no" fails the request, as it
// does there, and otherwise Wine's own ExitWindowsEx follows.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using ExitWindowsExFn = BOOL(WINAPI*)(UINT, DWORD);
ExitWindowsExFn g_real_exit = nullptr;

BOOL CALLBACK CollectWindow(HWND window, LPARAM list) {
  reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
  return TRUE;
}

// Runs the probe and lets the messages it sends in until it ends.
std::string AskThroughProbe(HWND window) {
  char program[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, program, MAX_PATH);
  std::string probe = program;
  probe = probe.substr(0, probe.find_last_of('\\') + 1) + "qvprobe.exe";
  char command[MAX_PATH + 64];
  std::snprintf(command, sizeof command, "\"%s\" endsession %p", probe.c_str(),
                static_cast<void*>(window));
  STARTUPINFOA start{};
  start.cb = sizeof start;
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(nullptr, command, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &start,
                      &process)) {
    return "no probe";
  }
  for (;;) {
    const DWORD woke =
        MsgWaitForMultipleObjects(1, &process.hProcess, FALSE, 20000, QS_SENDMESSAGE);
    if (woke != WAIT_OBJECT_0 + 1) break;
    MSG msg;
    PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
  }
  DWORD code = 4;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return code == 0 ? "yes" : code == 1 ? "no" : "hung";
}

BOOL WINAPI AskingExitWindowsEx(UINT flags, DWORD reason) {
  std::vector<HWND> windows;
  EnumThreadWindows(GetCurrentThreadId(), CollectWindow, reinterpret_cast<LPARAM>(&windows));
  bool refused = false;
  std::FILE* log = std::fopen(std::getenv("QV_ASK_INSIDE_EXIT"), "a");
  for (HWND window : windows) {
    const std::string answer = AskThroughProbe(window);
    if (answer != "yes") refused = true;
    if (log != nullptr) std::fprintf(log, "%s\n", answer.c_str());
  }
  if (log != nullptr) std::fclose(log);
  if (refused) return FALSE;
  return g_real_exit(flags, reason);
}

}  // namespace

// Points the program's import of `function` from `dll` at `replacement`;
// the function it called before, or nullptr when it imports no such thing.
void* ReplaceProgramImport(const char* dll, const char* function, void* replacement) {
  auto* base = reinterpret_cast<BYTE*>(GetModuleHandleA(nullptr));
  const auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& imports =
      nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (imports.VirtualAddress == 0) return nullptr;
  void* original = nullptr;
  for (auto* d = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
       d->Name != 0; ++d) {
    if (_stricmp(reinterpret_cast<const char*>(base + d->Name), dll) != 0) continue;
    auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->OriginalFirstThunk);
    auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->FirstThunk);
    for (; names->u1.AddressOfData != 0; ++names, ++slots) {
      if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
      const auto* name = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
      if (std::strcmp(reinterpret_cast<const char*>(name->Name), function) != 0) continue;
      DWORD old = 0;
      VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE, &old);
      original = reinterpret_cast<void*>(slots->u1.Function);
      slots->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
      VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, old, &old);
    }
  }
  return original;
}

// Points the program's import of ExitWindowsEx at the asking one.
void AskInsideExitWindows() {
  if (std::getenv("QV_ASK_INSIDE_EXIT") == nullptr) return;
  g_real_exit = reinterpret_cast<ExitWindowsExFn>(ReplaceProgramImport(
      "user32.dll", "ExitWindowsEx", reinterpret_cast<void*>(&AskingExitWindowsEx)));
}
