// files group: Windows-style file access. Paths are code-page bytes with '\'
// separators, relative to the current directory or absolute ("C:\...").
// Every call can fail on its own; failures are reported, never thrown.
#pragma once

#include "platform/types.h"

// Open an existing file for reading, without sharing. INVALID_HANDLE_VALUE on
// failure (missing file, a directory, refused).
HANDLE OpenExistingFile(const char* path);
// Create or replace a file for writing, without sharing.
HANDLE CreateAlwaysFile(const char* path);
// Read up to `size` bytes. 1 on success with *read set (0 at end of file),
// 0 on failure.
BOOL ReadFile(HANDLE file, void* buffer, DWORD size, DWORD* read);
// Write `size` bytes. 1 on success with *written set, 0 on failure.
BOOL WriteFile(HANDLE file, const void* buffer, DWORD size, DWORD* written);
// Move to `offset` from the start. Returns the new position, or 0xFFFFFFFF.
DWORD SetFilePointerBegin(HANDLE file, DWORD offset);
// Size in bytes, or 0xFFFFFFFF on failure.
DWORD GetFileSize(HANDLE file);
BOOL CloseFile(HANDLE file);
BOOL DeleteFileA(const char* path);
// Puts what was written through the handle on the disk before the call
// returns, for a file that a later change depends on. 1 on success.
BOOL FlushFileBuffers(HANDLE file);

class Files {
 public:
  virtual ~Files() = default;
  virtual HANDLE OpenExisting(const char* path) = 0;
  virtual HANDLE CreateAlways(const char* path) = 0;
  virtual BOOL Read(HANDLE file, void* buffer, DWORD size, DWORD* read) = 0;
  virtual BOOL Write(HANDLE file, const void* buffer, DWORD size, DWORD* written) = 0;
  virtual DWORD SeekBegin(HANDLE file, DWORD offset) = 0;
  virtual DWORD Size(HANDLE file) = 0;
  virtual BOOL Close(HANDLE file) = 0;
  virtual BOOL Delete(const char* path) = 0;
  // Nothing to do where files live in memory.
  virtual BOOL Flush(HANDLE) { return 1; }
};
