// Resume files and the Run entry that carry an update across a restart.
//
// The launch file (LaunchResumePath) holds four strings, each with its NUL:
// the command line of the launch that wrote it, its current directory,
// DataFileName, and "/NON" when NoVersionCheck was set (else empty). The Run
// entry is the value "Quorvanta" (REG_SZ, ProgramPath) of the lower-case
// "run" key below HKEY_LOCAL_MACHINE, which is opened and never created.
#pragma once

inline constexpr int kRunEntryDisable = 0;
inline constexpr int kRunEntryEnable = 1;

// Reads the launch file back into the command line, the working directory,
// DataFileName and DataFileOption buffers (261 bytes each, zero-filled by the
// caller). A longer field is cut at its buffer. 1 unless the file cannot be
// opened or a read fails; a file that ends early gives shorter strings.
int LoadLaunch(char* command_line, char* working_directory, char* data_file, char* data_option);
// Writes the launch file from this process's command line and directory,
// DataFileName and NoVersionCheck. 1 when every string was written.
int SaveLaunch();
// enable = 1 writes the Run entry; any other value deletes it, which counts
// as done when it is not there. 1 on success.
int SetRunEntry(int enable);
// The clean-up of a continued update: the saved auto-insert values go back
// into the registry, then the launch file and (once every value is back) the
// registry resume file are removed. 1 when all of it was done.
int RemoveResumeState();
// Takes back a restart preparation that cannot go on: the saved auto-insert
// values go back into the registry, and the registry resume file (once every
// value is back), the launch file and the Run entry are removed. 1 when every
// value is what the user had (nothing was cleared, or all went back), even if
// a file or the Run entry stayed; 0 when a cleared value may still read off.
int UndoRestartPreparation();
