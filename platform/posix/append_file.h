// Adding a record to the end of a file so that, once the call returns, the
// record is on the disk: a crash or a kill afterwards cannot take it back.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

// Appends `bytes` to `file` (created 0600 when missing, never through a
// link, refused when not a regular file) and fsyncs it; a file made by this
// call has its folder fsynced too, so that its name survives as well. False
// with the step and the reason in *error (when not null).
bool AppendToFileFlushed(const std::filesystem::path& file, std::string_view bytes,
                         std::string* error);
