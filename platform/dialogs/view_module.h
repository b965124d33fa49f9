// The one entry point of a view module (desktop-view.so, terminal-view.so):
// the views that need a GUI or terminal library are loaded at run time, only
// when chosen, so that a run without them maps none of those libraries. The
// module resolves the dialog model's functions from the program itself.
#pragma once

#include <cstddef>
#include <cstdio>

extern "C" {

// Raised whenever the table below changes shape.
inline constexpr unsigned kViewModuleAbi = 2;

struct QvViewModule {
  unsigned abi;  // kViewModuleAbi
  // Whether the view can be shown here (desktop: a display opens).
  int (*available)(void);
  // Starts the view; 0 with a one-line reason in `error` (NUL-terminated,
  // cut to error_size) when it cannot. `transcript` as StartDesktopView.
  int (*start)(std::FILE* transcript, char* error, std::size_t error_size);
  void (*finish)(void);
  // Asks for a folder (desktop: the system's folder chooser titled `title`,
  // opened at `suggestion`; texts in UTF-8): 1 with the folder in `answer`
  // (NUL-terminated, cut to answer_size), 0 when cancelled. Null where the
  // view has no such question of its own.
  int (*ask_folder)(const char* title, const char* suggestion, char* answer,
                    std::size_t answer_size);
};

// Each module defines this one function (the only symbol it exports).
const QvViewModule* qv_view_module(void);
}

// The function's name as the loader looks it up.
inline constexpr char kViewModuleEntry[] = "qv_view_module";
