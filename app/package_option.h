// "--package DIR" on a Windows-style command line: the folder that holds
// Tellumar.inf, for a program started elsewhere (the Windows build; on this
// host the launcher takes the option itself).
#pragma once

// When the arguments behind the quoted program path begin with "--package"
// and a folder or the path of Tellumar.inf (in double quotes when it holds
// blanks): 1, with `folder` the folder (that of Tellumar.inf) and `rest` the
// command line without those two words. Otherwise 0
// and both are left alone. Both buffers are 261 bytes; a longer folder or
// line is cut.
int TakePackageOption(const char* command_line, char* rest, char* folder);
