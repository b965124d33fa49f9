// The record of one update press: its entry in the update history and the
// run's outcome (RunOutcome), kept in AppState. An entry reaches the file
// once, whole, when the update ends without writing; or first as
// "interrupted" at the user's OK that starts the write and then completed
// when the outcome is known, so that a write the program never finished
// stays recorded as interrupted.
#pragma once

#include <cstdint>

inline constexpr const char* kPathTwoStage = "two-stage";
inline constexpr const char* kPathDirect = "direct";
inline constexpr const char* kPathRestart = "restart";

// A new entry for the drive at (adapter, target) taking `path`: the time,
// the drive, its revision and version code as last read. Until it ends
// otherwise the press counts as failed.
void BeginUpdateRecord(std::uint8_t adapter, std::uint8_t target, const char* path);
// What the update learnt of the drive on the way.
void NoteVersionCodeBefore(std::uint8_t code);
void NoteRevisionAfter(const char* revision);
void NoteVersionCodeAfter(std::uint8_t code);
// Every message box of the update; the last one is its outcome.
void NoteUpdateMessage(const char* text);
// How the press ends when not as a failure (a kRun value).
void NoteUpdateOutcome(int outcome);
// The user's OK that starts the write: the entry goes to the history as
// interrupted, with the package's revision and the image's digest.
void RecordWriteStarting();
// The outcome is known: the entry is completed (or written whole). Once
// per press; later calls do nothing.
void FinishUpdateRecord();
// A later look at the drive changed what is known of a finished write (its
// power cycle on this host): the entry is completed again with `outcome`.
void AmendUpdateRecord(int outcome);
// The press hands the update on to the run after a restart, which records
// it: nothing is written for this one.
void DropUpdateRecord();
