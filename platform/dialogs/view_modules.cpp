// The program's side of the view modules: the desktop and terminal views are
// loaded with dlopen when chosen, from beside the program (a build tree) or
// from lib/quorvanta/views/ next to its bin/ (installed). A module that is missing
// or does not load means that view is not there, as an unreachable display
// does.
#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <string>

#include "platform/dialogs/view_module.h"
#include "platform/dialogs/views.h"
#include "platform/text_convert.h"

namespace {

struct LoadedView {
  bool tried = false;
  const QvViewModule* module = nullptr;
  std::string problem;  // why it is not there
};

std::string ProgramDirectory() {
  char path[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return ".";
  std::string self(path, static_cast<std::size_t>(n));
  const std::size_t slash = self.rfind('/');
  return slash == std::string::npos ? "." : self.substr(0, slash);
}

const QvViewModule* Load(LoadedView* view, const char* file) {
  if (view->tried) return view->module;
  view->tried = true;
  const std::string dir = ProgramDirectory();
  const std::string places[] = {dir + "/" + file, dir + "/../lib/quorvanta/views/" + file};
  for (const std::string& place : places) {
    if (access(place.c_str(), F_OK) != 0) continue;
    void* handle = dlopen(place.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
      const char* why = dlerror();
      view->problem = why != nullptr ? why : place + " does not load";
      return nullptr;
    }
    auto entry = reinterpret_cast<const QvViewModule* (*)()>(dlsym(handle, kViewModuleEntry));
    const QvViewModule* module = entry != nullptr ? entry() : nullptr;
    if (module == nullptr || module->abi != kViewModuleAbi) {
      view->problem = place + " is not a view module of this program";
      return nullptr;
    }
    view->module = module;
    return module;
  }
  view->problem = std::string(file) + " is not installed beside the program";
  return nullptr;
}

LoadedView g_desktop;
LoadedView g_terminal;

bool Start(LoadedView* view, const char* file, const char* name, std::FILE* transcript,
           std::string* error) {
  const QvViewModule* module = Load(view, file);
  if (module == nullptr) {
    *error = std::string("no ") + name + " view: " + view->problem;
    return false;
  }
  char reason[512] = "";
  if (module->start(transcript, reason, sizeof reason) != 0) return true;
  *error = reason;
  return false;
}

void Finish(const LoadedView& view) {
  if (view.module != nullptr) view.module->finish();
}

}  // namespace

bool DesktopAvailable() {
  const char* display = std::getenv("DISPLAY");
  if (display == nullptr || *display == '\0') return false;
  const QvViewModule* module = Load(&g_desktop, "desktop-view.so");
  if (module == nullptr) {
    std::fprintf(stderr, "quorvanta: no desktop view: %s\n", g_desktop.problem.c_str());
    return false;
  }
  return module->available() != 0;
}

bool StartDesktopView(std::FILE* transcript, std::string* error) {
  return Start(&g_desktop, "desktop-view.so", "desktop", transcript, error);
}

void FinishDesktopView() { Finish(g_desktop); }

bool StartTerminalView(std::string* error) {
  return Start(&g_terminal, "terminal-view.so", "terminal", nullptr, error);
}

void FinishTerminalView() { Finish(g_terminal); }

bool AskDesktopForFolder(const std::string& title, const std::string& suggestion,
                         std::string* answer) {
  const QvViewModule* module = Load(&g_desktop, "desktop-view.so");
  if (module == nullptr || module->ask_folder == nullptr) return false;
  char chosen[4096] = "";
  if (module->ask_folder(title.c_str(), suggestion.c_str(), chosen, sizeof chosen) == 0) {
    return false;
  }
  *answer = chosen;
  return true;
}

bool AskTerminalForFolder(const std::string& title, const std::string& suggestion,
                          std::string* answer) {
  // The folder offered may be any name (an unpacked archive's): its
  // control characters are shown, never sent to the terminal.
  std::printf("%s [%s]: ", title.c_str(), VisibleText(suggestion).c_str());
  std::fflush(stdout);
  char line[4096];
  if (std::fgets(line, sizeof line, stdin) == nullptr) {
    // End of input: the question is left unanswered, on a line of its own.
    std::putchar('\n');
    std::fflush(stdout);
    return false;
  }
  std::string text = line;
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  if (text.empty()) text = suggestion;
  // "~/" as a shell would read it.
  const char* home = std::getenv("HOME");
  if (text.rfind("~/", 0) == 0 && home != nullptr) text = home + text.substr(1);
  *answer = text;
  return true;
}
