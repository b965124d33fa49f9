#include "drive/auto_insert.h"

// Until the registry walk lands, nothing is enabled, saved or restored: the
// update never needs a restart and start-up's clean-up changes nothing.
int IsAutoInsertEnabled() { return 0; }
int SaveAndClearAutoInsert() { return 0; }
int RestoreAutoInsert() { return 0; }
