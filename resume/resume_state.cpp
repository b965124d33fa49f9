#include "resume/resume_state.h"

// Until the resume files land there is nothing to read back or write; a
// launch that finds both files simply continues with what start-up holds.
int LoadLaunch(char*, char*, char*, char*) { return 0; }
int SaveLaunch(const char*, const char*) { return 0; }
// Nothing is ever written yet, so there is never an entry to delete.
int SetRunEntry(int enable) { return enable == kRunEntryDisable ? 1 : 0; }
int UndoRestartPreparation() { return 1; }
