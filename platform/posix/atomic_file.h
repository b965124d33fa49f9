// Replacing a whole file so that a crash leaves either the old contents or
// the new, never half of each, and a failure leaves nothing behind.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

// Writes `bytes` to a fresh temporary file beside `file` (`file.XXXXXX`,
// created exclusively, never through a link), fsyncs it, renames it over
// `file` and fsyncs the folder so that the rename itself is on disk. On any
// failure the temporary file is removed, `file` is left as it was, and
// *error (when not null) names the step and the reason.
bool ReplaceFileAtomically(const std::filesystem::path& file, std::string_view bytes,
                           std::string* error);

// The same for `name` in the folder `dir_fd` (named `shown` in *error): the
// temporary file and the rename stay in that folder, whatever its path
// names meanwhile.
bool ReplaceFileAtomicallyAt(int dir_fd, const std::string& name, const std::string& shown,
                             std::string_view bytes, std::string* error);
