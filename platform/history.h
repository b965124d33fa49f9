// The update history: one JSON object per line in the history file beside
// the resume files (the Windows directory; on this host the state
// directory), UTF-8, newest last.
//
// A write appends its entry with "result":"interrupted" before the first
// byte goes to the drive; when the outcome is known a completing line with
// the same "id" follows, carrying the fields learnt since (the revisions
// after, the message shown, the result). Readers merge the completing line
// into the nearest entry above it with that id. Both are appends flushed to
// the disk, so a kill or a power cut at any instant leaves every earlier
// entry whole and the write in hand recorded as interrupted. An update
// without a write (already up to date, cancelled, stopped before the write)
// is one line with its result.
//
// The file keeps the last kHistoryKept entries: an append that would go
// past them replaces the whole file with the newest ones instead (the
// replace of the files group, which a crash cannot leave half done).
#pragma once

#include <string>
#include <vector>

#include "platform/types.h"

inline constexpr int kHistoryKept = 1000;
// Larger than 1,000 of the longest entries with their completing lines.
inline constexpr DWORD kHistoryMaxBytes = 4u << 20;
inline constexpr const char* kHistoryFileName = "quorvanta-history.jsonl";

// The fields of one entry as the update knows them: code-page bytes (the
// outcome as its message box showed it), each NUL-terminated; empty where
// not known.
struct HistoryEntry {
  char id[32];
  char time[24];  // UTC, ISO 8601: 2026-01-01T00:00:00Z
  char address[8];
  char product[24];
  char link[8];  // USB, ATAPI
  char revision_before[8];
  char version_code_before[8];
  char revision_after[8];
  char version_code_after[8];
  char package_revision[8];
  char image_sha256[72];
  char path[12];  // two-stage, direct, restart
  char outcome[640];
  char result[16];  // updated, up-to-date, failed, interrupted, cancelled
};

// The field names in the order of the file and of every listing.
inline constexpr int kHistoryFieldCount = 13;
extern const char* const kHistoryFields[kHistoryFieldCount];

// The history file's path for the files group: the Windows directory and
// the file name. 0 when the Windows directory is not known.
int HistoryFilePath(char* path, int size);
// The entry as a whole line, flushed (and the file cut to the newest
// kHistoryKept entries). 1 when it is on the disk.
int AppendHistoryEntry(const HistoryEntry& entry);
// The completing line of an entry appended before: its id with the after
// fields, the outcome and the result. 1 when it is on the disk.
int CompleteHistoryEntry(const HistoryEntry& entry);

// The SHA-256 digest of `size` bytes as 64 lower-case hex digits and a NUL.
void DigestText(const BYTE* data, DWORD size, char* hex);

// --- reading, for listings ---

// One entry as read back: the values of kHistoryFields in their order.
struct HistoryRecord {
  std::string values[kHistoryFieldCount];
  const std::string& Get(const char* field) const;
};

struct HistoryReading {
  std::vector<HistoryRecord> entries;  // oldest first
  int damaged_lines = 0;
  int first_damaged_line = 0;  // counted from 1
};

// Reads and merges the history file through the files group. False when
// the file is there and cannot be used (too large, not a regular file): the
// platform has said why. A line that is no entry is counted as damaged and
// skipped.
bool ReadHistory(HistoryReading* reading);
// Merges the lines of a history file's bytes (what ReadHistory does once
// the bytes are read).
void ParseHistory(const std::string& bytes, HistoryReading* reading);
// The entry as one JSON object on one line.
std::string HistoryRecordJson(const HistoryRecord& record);
