// The entry point of Quorvanta.exe, the Windows build: the system's own
// platform is installed, "--record FILE" and "--package DIR" taken, and
// start-up runs as the program always has.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "app/package_option.h"
#include "app/recording.h"
#include "app/startup.h"
#include "platform/system.h"
#include "platform/win32/win32_platform.h"

namespace {

// Takes "--record FILE" off the front of the arguments of a Windows command
// line (the quoted or bare program path, then the arguments); false when the
// line does not start its arguments with it. The rest keeps the program's
// form: the path, a blank and the remaining arguments.
bool TakeRecordOption(const std::string& line, std::string* path, std::string* rest,
                      std::vector<std::string>* arguments) {
  if (line.empty()) return false;
  std::size_t end = line[0] == '"' ? line.find('"', 1) : line.find(' ');
  if (end == std::string::npos) return false;
  if (line[0] == '"') ++end;
  std::size_t at = line.find_first_not_of(' ', end);
  const std::string option = "--record ";
  if (at == std::string::npos || line.compare(at, option.size(), option) != 0) return false;
  at = line.find_first_not_of(' ', at + option.size());
  if (at == std::string::npos) return false;
  std::size_t stop = line[at] == '"' ? line.find('"', at + 1) : line.find(' ', at);
  if (stop == std::string::npos) stop = line.size();
  *path = line[at] == '"' ? line.substr(at + 1, stop - at - 1) : line.substr(at, stop - at);
  std::size_t next = line.find_first_not_of(' ', stop == line.size() ? stop : stop + 1);
  rest->assign(line, 0, end);
  if (next != std::string::npos) {
    rest->push_back(' ');
    rest->append(line, next, std::string::npos);
  }
  for (std::size_t arg = next; arg != std::string::npos && arg < line.size();) {
    std::size_t arg_end = line.find(' ', arg);
    arguments->push_back(line.substr(arg, arg_end == std::string::npos ? arg_end : arg_end - arg));
    arg = arg_end == std::string::npos ? arg_end : line.find_first_not_of(' ', arg_end);
  }
  return !path->empty();
}

}  // namespace

// Called by the C runtime of a GUI-subsystem program (stdcall on i686).
extern "C" int QV_WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, char*, int) {
  std::string error;
  if (!InstallWin32Platform(&error)) {
    // A usage error of a test-only option: no dialog, nothing sent to a drive.
    std::fprintf(stderr, "Quorvanta: %s\n", error.c_str());
    return 2;
  }
  // Which way the drive commands go, for whoever reads the program's error
  // output (a test, a support question): the ASPI layer or pass-through.
  std::fprintf(stderr, "Quorvanta: drive commands through %s\n", Win32CommandChannelName());
  // Quorvanta.exe --record FILE [IMAGE [OPTION]]: every drive command of the
  // run is written to FILE as a capture (platform/capture.h).
  std::string record_path, rest;
  LaunchOptions options;
  const bool record = TakeRecordOption(GetCommandLineA(), &record_path, &rest, &options.arguments);
  if (record) {
    SetWin32CommandLine(rest.c_str());
    // Named from the folder the program was started in, before --package
    // changes it.
    std::error_code ec;
    record_path = std::filesystem::absolute(record_path, ec).string();
  }
  // "--package DIR" next: the program reads its package from the current
  // directory, as it always has, so that becomes DIR; a folder that cannot
  // be entered leaves the program where it is, and the package check says
  // what is missing.
  char package_rest[kMaxPath] = {};
  char folder[kMaxPath] = {};
  if (TakePackageOption(GetCommandLineA(), package_rest, folder) == 1) {
    SetWin32CommandLine(package_rest);
    SetCurrentDirectoryA(folder);
  }
  std::unique_ptr<CaptureRecorder> recorder;
  if (record) {
    std::error_code ec;
    recorder = StartRecording(
        record_path, CaptureHeader(options, "Windows", std::filesystem::current_path(ec)), &error);
  }
  int code = AppMain(instance, previous);
  recorder.reset();
  return code;
}
