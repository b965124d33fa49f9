// The drives' AutoInsertNotification values under Enum\SCSI.
#pragma once

int IsAutoInsertEnabled();
int SaveAndClearAutoInsert();
int RestoreAutoInsert();
