// Resume files and the Run entry that carry an update across a restart.
#pragma once

inline constexpr int kRunEntryDisable = 0;
inline constexpr int kRunEntryEnable = 1;

// Reads the launch file back into the command line, the working directory,
// DataFileName and DataFileOption buffers (261 bytes each). 1 on success.
int LoadLaunch(char* command_line, char* working_directory, char* data_file, char* data_option);
// Writes the launch file. 1 on success.
int SaveLaunch(const char* command_line, const char* data_option);
// Writes (enable) or deletes (disable) the Run entry. 1 on success; an entry
// that is not there counts as deleted.
int SetRunEntry(int enable);
// Takes back a restart preparation that failed part-way: the drives'
// auto-insert settings as the registry resume file saved them, then the two
// resume files and the Run entry removed. 1 when all of it was undone.
int UndoRestartPreparation();
