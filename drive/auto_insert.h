// The drives' AutoInsertNotification values under Enum\SCSI, and the
// registry resume file that keeps their old values across a restart.
//
// A record of that file: the instance's key path below HKEY_LOCAL_MACHINE
// ("Enum\SCSI\<device key>\<instance key>") and its NUL, then the old value's
// first byte as "%d" text, two bytes ("1" NUL for 1).
#pragma once

#include "platform/types.h"

// The longest key path a record holds, terminator included.
inline constexpr int kRecordPathSize = 260;

// True when an instance of the chosen drive's device key (instances named
// U..., S... or B... aside) has AutoInsertNotification 1.
int IsAutoInsertEnabled();
// Saves every instance's value of both models in the registry resume file and
// sets it to 0. True when every step succeeded.
int SaveAndClearAutoInsert();
// 1 unless the last SaveAndClearAutoInsert left every value as the user had
// it (it cleared none, and an earlier file's values all went back first).
int AutoInsertValuesChanged();
// Writes every saved value back. True when every record was written back;
// false without a file.
int RestoreAutoInsert();

// Reads the next record from the open registry resume file into `key_path`
// (kRecordPathSize bytes; a longer path is cut there and the rest skipped)
// and `value` (the first value byte less '0'). 1 with a record, 0 at the end
// of the file or when it ends inside a record, -1 when a read fails.
int ReadAutoInsertRecord(HANDLE file, char* key_path, int* value);
