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

// Small files the program keeps for itself (the update history), each
// touched whole: read at once (a file larger than `size`, a link or
// anything but a regular file is refused), a record appended and flushed to
// the disk before the call returns, or the whole file replaced so that a
// crash leaves either the old contents or the new. 1 on success; a missing
// file reads as 1 with nothing read.
BOOL ReadStateFile(const char* path, void* buffer, DWORD size, DWORD* read);
BOOL AppendStateFile(const char* path, const void* bytes, DWORD size);
BOOL ReplaceStateFile(const char* path, const void* bytes, DWORD size);

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
  // Where the platform keeps no such files, they cannot be kept.
  virtual BOOL ReadState(const char*, void*, DWORD, DWORD* read) {
    if (read != nullptr) *read = 0;
    return 0;
  }
  virtual BOOL AppendState(const char*, const void*, DWORD) { return 0; }
  virtual BOOL ReplaceState(const char*, const void*, DWORD) { return 0; }
};
