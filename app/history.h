// `quorvanta --history [--json]`: the update history of this host's state
// directory, or of the virtual PC given, newest last.
#pragma once

// With the platform installed: prints the table (time, drive, product,
// revision before -> after, result) or the JSON array of the entries to
// standard output; a damaged line is skipped with one note on standard
// error. 0, or 1 when the history file cannot be read.
int RunHistoryCommand(bool json);
