// How every fuzz target states what must hold whatever the input.
#pragma once

#include <cstdio>
#include <cstdlib>

// Ends the fuzz run (abort: the fuzzer keeps the input) when `condition` is
// false, naming the broken promise when `what` is given.
inline void FuzzRequire(bool condition, const char* what = nullptr) {
  if (condition) return;
  if (what != nullptr) std::fprintf(stderr, "fuzz: broken promise: %s\n", what);
  std::abort();
}
