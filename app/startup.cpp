#include "app/startup.h"

#include <cstring>

#include "app/main_window.h"
#include "package/package_files.h"
#include "platform/aspi.h"
#include "platform/dialogs.h"
#include "platform/files.h"
#include "platform/system.h"
#include "resume/resume_state.h"
#include "state/app_state.h"
#include "state/catalogue.h"

namespace {

// Start-up's own working buffers, zero-filled on every entry.
struct StartupBuffers {
  char command_line[kMaxPath];
  char work_copy[kMaxPath];
  char working_directory[kMaxPath];
  char data_option[kMaxPath];
  char loader_option[kMaxPath];
};

void ShowStartupMessage(const char* text) {
  MessageBoxExA(nullptr, text, "Quorvanta", MB_OK, g_app.MessageLanguage);
}

void BuildResumePath(char* path, const char* file_name) {
  if (GetWindowsDirectoryA(path, kMaxPath) == 0) ShowStartupMessage(g_app.MsgUpdateFailed);
  // A directory that fills the buffer leaves no room: the name is cut, never
  // written past the end.
  AppendText(path, kMaxPath, "\\");
  AppendText(path, kMaxPath, file_name);
}

// Copies the blank-delimited word that starts at `text` (after any blanks).
void CopyWord(char* destination, const char* text) {
  while (*text == ' ') ++text;
  int i = 0;
  while (i < kMaxPath - 1 && text[i] != '\0' && text[i] != ' ') {
    destination[i] = text[i];
    ++i;
  }
  destination[i] = '\0';
}

// 0 when another copy runs (it ends silently); else the program's own
// mutex is taken.
int TakeInstance() {
  HANDLE other = OpenMutexA(MUTEX_ALL_ACCESS, 0, kInstanceMutexName);
  if (other != nullptr) {
    CloseHandle(other);
    g_app.RunOutcome = kRunAnotherCopy;
    return 0;
  }
  g_app.InstanceMutex = CreateMutexA(0, kInstanceMutexName);
  return 1;
}

// The user's language picks the catalogue's texts.
void ChooseLanguage() {
  LANGID language = GetUserDefaultLangID();
  g_app.PrimaryLanguage = static_cast<std::uint16_t>(language & 0x3FF);
  g_app.MessageLanguage =
      static_cast<std::uint16_t>(g_app.PrimaryLanguage | ((language >> 10) << 10));
  FillCatalogue();
}

void QueryAspi() {
  g_app.AspiSupportInfo = GetASPI32SupportInfo();
  g_app.AdapterCount = static_cast<std::uint8_t>(g_app.AspiSupportInfo & 0xFF);
}

}  // namespace

void ParseCommandLineArguments(const char* command_line, char* data_file, char* data_option) {
  char copy[kMaxPath] = {};
  CopyText(copy, kMaxPath, command_line);
  data_file[0] = '\0';
  data_option[0] = '\0';
  int quote = FindCharFrom(1, '"', copy);
  if (quote == 0) return;
  // The quote sits at index `quote`; the argument text begins behind it and
  // the one blank that follows, unless the line ends first.
  int length = static_cast<int>(std::strlen(copy));
  if (quote + 2 > length) return;
  const char* arguments = copy + quote + 2;
  const char* blank = std::strchr(arguments, ' ');
  if (blank == nullptr) {
    CopyText(data_file, kMaxPath, arguments);
    return;
  }
  CopyWord(data_option, blank);
  int name_length = static_cast<int>(blank - arguments);
  if (name_length > kMaxPath - 1) name_length = kMaxPath - 1;
  std::memcpy(data_file, arguments, static_cast<std::size_t>(name_length));
  data_file[name_length] = '\0';
}

void ExtractProgramPath(const char* command_line, char* program_path) {
  char copy[kMaxPath] = {};
  CopyText(copy, kMaxPath, command_line);
  int quote = FindCharFrom(1, '"', copy);
  if (quote != 0) copy[quote] = '\0';
  CopyText(program_path, kMaxPath, copy[0] == '\0' ? copy : copy + 1);
}

int IsNoCheckOption(const char* option) { return std::strcmp(option, "/NON") == 0 ? 1 : 0; }

int RunStartupChecks(HINSTANCE instance, HINSTANCE previous, int* exit_code) {
  StartupBuffers buffers;
  std::memset(&buffers, 0, sizeof buffers);
  *exit_code = 0;

  // A second copy ends silently.
  if (TakeInstance() == 0) return 0;

  // The hidden main window's class, registered by the first instance only.
  if (previous == nullptr) {
    WNDCLASSA window_class = {};
    window_class.lpfnWndProc = MainWindowProc;
    window_class.hInstance = instance;
    window_class.hIcon = LoadIconA(nullptr, MAKEINTRESOURCEA(IDI_APPLICATION));
    window_class.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(IDC_ARROW));
    window_class.hbrBackground = GetStockObject(WHITE_BRUSH);
    window_class.lpszMenuName = "Menu";
    window_class.lpszClassName = kWindowClassName;
    if (RegisterClassA(&window_class) == 0) {
      MessageBoxExA(nullptr, "WinMain(): RegisterClass() failed", "Error - ASPI for Win32",
                    MB_ICONEXCLAMATION, 0);
      return 0;
    }
  }

  g_app.AppInstance = instance;
  g_app.IsNT = (GetVersion() & 0x80000000u) == 0 ? 1 : 0;
  InitCommonControls();

  ChooseLanguage();

  BuildResumePath(g_app.RegistryResumePath, "Tellmr1.DAT");
  BuildResumePath(g_app.LaunchResumePath, "Tellmr2.DAT");

  // A launch that finds both resume files continues an interrupted update.
  if (FileExists(g_app.RegistryResumePath) && FileExists(g_app.LaunchResumePath)) {
    g_app.NoRestartNeeded = 1;
    g_app.ResumedLaunch = 1;
    if (!LoadLaunch(buffers.command_line, buffers.working_directory, g_app.DataFileName,
                    buffers.data_option)) {
      ShowStartupMessage(g_app.MsgUpdateFailed);
    }
    if (!SetCurrentDirectoryA(buffers.working_directory)) {
      ShowStartupMessage(g_app.MsgUpdateFailed);
    }
  } else {
    CopyText(buffers.command_line, kMaxPath, GetCommandLineA());
  }

  if (g_app.NoRestartNeeded == 0) {
    ParseCommandLineArguments(buffers.command_line, g_app.DataFileName, buffers.data_option);
  }
  if (g_app.IsNT == 1) g_app.NoRestartNeeded = 1;

  // Without an image on the command line the package description names it.
  if (g_app.DataFileName[0] == '\0' && (g_app.NoRestartNeeded == 0 || g_app.IsNT == 1)) {
    ReadPackageDescription(g_app.DataFileName, buffers.data_option, g_app.LoaderFileName,
                           buffers.loader_option);
  }

  g_app.NoVersionCheck = IsNoCheckOption(buffers.data_option);
  g_app.NoLoaderVersionCheck = IsNoCheckOption(buffers.loader_option);

  CopyText(buffers.work_copy, kMaxPath, buffers.command_line);
  ExtractProgramPath(buffers.work_copy, g_app.ProgramPath);

  // The package checks each show their own message.
  if (!CheckImageSize() || !ReadImageSignature(SignatureOffset, g_app.ImageRevisions)) {
    g_app.RunOutcome = kRunPackageRefused;
    SetRunEntry(kRunEntryDisable);
    if (g_app.NoRestartNeeded == 1 && g_app.IsNT == 0) RemoveResumeState();
    return 0;
  }

  // A refused loader file has shown its own message already.
  int loader = PrepareLoaderData();
  if (loader != 1) {
    g_app.RunOutcome = kRunPackageRefused;
    if (loader == 0) ShowStartupMessage(g_app.MsgNoDataFile);
    return 0;
  }

  QueryAspi();
  return 1;
}

int RunDriveOnlyStartup() {
  if (TakeInstance() == 0) return 0;
  ChooseLanguage();
  QueryAspi();
  return 1;
}

int AppMain(HINSTANCE instance, HINSTANCE previous) {
  int exit_code = 0;
  if (!RunStartupChecks(instance, previous, &exit_code)) return exit_code;

  // The hidden main window: its creation runs the whole dialogue.
  g_app.MainWindow = CreateWindowExA(
      0, kWindowClassName, "ASPI for WIN32 Sample Application", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
      CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, instance, nullptr);
  if (g_app.MainWindow == nullptr) return 0;

  // The window survived its creation: the main dialog could not be shown.
  // It is never visible and nobody could close it, so it is destroyed here;
  // its destroy step posts the quit message and the loop ends at once.
  const bool aspi_ready =
      g_app.AdapterCount != 0 && ((g_app.AspiSupportInfo >> 8) & 0xFF) == SS_COMP;
  if (!aspi_ready) {
    MessageBoxExA(nullptr, "No ASPI for WIN32 support detected.", "Quorvanta", MB_OK,
                  g_app.MessageLanguage);
  }
  DestroyWindow(g_app.MainWindow);
  g_app.MainWindow = nullptr;
  int quit_code = 0;
  if (aspi_ready) {
    MSG message = {};
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
    quit_code = static_cast<int>(message.wParam);
  }

  ReleaseMutex(g_app.InstanceMutex);
  return quit_code;
}
