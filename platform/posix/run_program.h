// Starting another program and waiting for it (quorvanta-sim boots the
// program; a rehearsal runs the program and quorvanta-sim on a twin).
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

// Runs `program` with `args` (argv[1..]) in a child process and waits for
// it. `in_child`, when set, runs in the child first (environment, standard
// output). Returns the exit code, 128 + the signal that ended it, or -1 when
// no child could be made; a program that cannot be started says so on
// standard error, after `who: `, and ends with 127.
int RunProgram(const char* who, const std::filesystem::path& program,
               const std::vector<std::string>& args, const std::function<void()>& in_child);
