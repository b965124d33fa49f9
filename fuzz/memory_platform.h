// What the fuzz targets link in place of the platform: the tests' in-memory
// file system holding the fuzzed bytes, and message boxes that are only
// counted.
#pragma once

#include <map>
#include <string>
#include <string_view>

// Installs an empty in-memory Files group.
void ResetFuzzFiles();
// Puts a file of `bytes` under `path`.
void PutFuzzFile(const char* path, std::string_view bytes);
// Message boxes shown since the last ResetFuzzFiles, and the last text.
int FuzzMessageCount();
const std::string& FuzzLastMessage();
// Files still open: every package operation must close what it opened.
int FuzzOpenFiles();
