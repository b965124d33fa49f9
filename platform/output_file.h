// Creating a file the user named for the program's own output (a capture, a
// trace) the way the program creates every file: never through a symbolic
// link (a link planted in its place would have the program overwrite the
// link's target), never waiting on a FIFO or a device in its place.
#pragma once

#include <cstdio>
#include <string>

// Creates or empties the regular file at `path` for writing. Null with a
// one-line reason naming `what` and the path when it is a link, not a
// regular file, or cannot be created.
std::FILE* CreateOutputFile(const std::string& path, const char* what, std::string* error);
