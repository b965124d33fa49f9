// Reading a whole file of the machine's own (a virtual PC's machine.ini,
// registry, drive files; a script), refusing what is not a regular file: a
// directory opens and reads as nothing, or throws from a stream, so it would
// pass for an empty file or end the program.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

// The bytes of the regular file at `path`. False with a one-line reason
// naming the path when it is missing (*missing set, when given), not a
// regular file, larger than `max_size` (refused by its size, before
// reading), or cannot be read. Never throws.
bool ReadRegularFile(const std::filesystem::path& path, std::string* bytes, std::string* error,
                     bool* missing = nullptr, std::size_t max_size = SIZE_MAX);

// The same for `name` in the folder `dir_fd` (never through a link), named
// `shown` in the reason.
bool ReadRegularFileAt(int dir_fd, const char* name, const std::string& shown, std::string* bytes,
                       std::string* error, bool* missing, std::size_t max_size);
