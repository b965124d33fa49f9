#include "resume/resume_state.h"

#include <cstring>
#include <initializer_list>

#include "drive/auto_insert.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "platform/system.h"
#include "state/app_state.h"

namespace {

constexpr const char* kRunKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\run";
constexpr const char* kRunValue = "Quorvanta";

// Appends `text` and its NUL to `out`, cut to a 261-byte field so that every
// field of the file fits the buffer it is read back into.
int AppendField(char* out, int at, const char* text) {
  int length = FindCharFrom(0, '\0', text);  // with its terminator
  if (length == 0 || length > kMaxPath) length = kMaxPath;
  std::memcpy(out + at, text, static_cast<std::size_t>(length) - 1);
  out[at + length - 1] = '\0';
  return at + length;
}

// Reads one byte; 0 at the end of the file, -1 when the read fails.
int ReadByte(HANDLE file, char* c) {
  DWORD read = 0;
  if (!ReadFile(file, c, 1, &read)) return -1;
  return read == 1 ? 1 : 0;
}

// Reads a field up to its NUL or the end of the file into a 261-byte buffer;
// a longer field is cut at the buffer and its rest skipped. With `to_end` the
// field takes the rest of the file. 0 when a read failed, else 1.
int ReadField(HANDLE file, char* buffer, bool to_end) {
  int stored = 0;
  int result = 1;
  for (;;) {
    char c = 0;
    int got = ReadByte(file, &c);
    if (got <= 0) {
      if (got < 0) result = 0;
      break;
    }
    if (stored < kMaxPath - 1) buffer[stored++] = c;
    if (c == '\0' && !to_end) break;
  }
  buffer[stored] = '\0';
  return result;
}

}  // namespace

int SaveLaunch() {
  HANDLE file = CreateAlwaysFile(g_app.LaunchResumePath);
  if (file == INVALID_HANDLE_VALUE) return 0;
  char directory[kMaxPath] = {};
  GetCurrentDirectoryA(kMaxPath, directory);
  // The four strings go out in one write, so that a launch that dies here
  // leaves an empty file or a whole one, never some of the strings.
  char content[3 * kMaxPath + 5];
  int size = AppendField(content, 0, GetCommandLineA());
  size = AppendField(content, size, directory);
  size = AppendField(content, size, g_app.DataFileName);
  size = AppendField(content, size, g_app.NoVersionCheck == 1 ? "/NON" : "");
  DWORD written = 0;
  int result = WriteFile(file, content, static_cast<DWORD>(size), &written) &&
                       written == static_cast<DWORD>(size)
                   ? 1
                   : 0;
  // On the disk before the Run entry that depends on it is written.
  if (result == 1 && !FlushFileBuffers(file)) result = 0;
  if (!CloseFile(file)) result = 0;
  return result;
}

int LoadLaunch(char* command_line, char* working_directory, char* data_file, char* data_option) {
  HANDLE file = OpenExistingFile(g_app.LaunchResumePath);
  if (file == INVALID_HANDLE_VALUE) return 0;
  int result = 1;
  for (char* buffer : {command_line, working_directory, data_file}) {
    if (!ReadField(file, buffer, false)) result = 0;
  }
  if (!ReadField(file, data_option, true)) {
    CloseFile(file);
    return 0;
  }
  CloseFile(file);
  return result;
}

int SetRunEntry(int enable) {
  HKEY run = nullptr;
  long opened = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRunKey, KEY_ALL_ACCESS, &run);
  // An entry whose key is not even there is gone, which is what was asked.
  if (opened == ERROR_FILE_NOT_FOUND && enable != kRunEntryEnable) return 1;
  if (opened != ERROR_SUCCESS) return 0;
  long done;
  if (enable == kRunEntryEnable) {
    done = RegSetValueExA(run, kRunValue, REG_SZ, reinterpret_cast<const BYTE*>(g_app.ProgramPath),
                          static_cast<DWORD>(FindCharFrom(0, '\0', g_app.ProgramPath)));
  } else {
    done = RegDeleteValueA(run, kRunValue);
    if (done == ERROR_FILE_NOT_FOUND) done = ERROR_SUCCESS;
  }
  RegCloseKey(run);
  return done == ERROR_SUCCESS ? 1 : 0;
}

namespace {

// Removes the resume files once the saved values went back (restored = 1).
// 1 when both are gone, or when the registry file stays only because a
// value did not go back.
int DeleteResumeFiles(int restored) {
  int result = 1;
  // The launch file goes first: a registry resume file left alone is never
  // taken for a resumed launch, and its values are back already.
  if (!DeleteFileA(g_app.LaunchResumePath) && FileExists(g_app.LaunchResumePath)) result = 0;
  // A value that could not go back keeps the file: deleting it would lose
  // the user's settings, and the next preparation restores from it first.
  if (restored == 1 && !DeleteFileA(g_app.RegistryResumePath)) result = 0;
  return result;
}

}  // namespace

int RemoveResumeState() {
  const int restored = RestoreAutoInsert();
  return DeleteResumeFiles(restored) == 1 ? restored : 0;
}

int UndoRestartPreparation() {
  int restored = RestoreAutoInsert();
  // No registry resume file, or no value that was cleared, means every value
  // is still the user's, whether or not writing it back worked.
  if (restored == 0 && (!FileExists(g_app.RegistryResumePath) || AutoInsertValuesChanged() == 0))
    restored = 1;
  // Files or a Run entry left behind change nothing the drive sees; the next
  // preparation restores from the file first and rewrites the rest.
  DeleteResumeFiles(restored);
  SetRunEntry(kRunEntryDisable);
  return restored;
}
