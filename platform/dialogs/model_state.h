// Internals of the dialog model shared by its implementation files.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/dialogs.h"
#include "platform/dialogs/model.h"

namespace dialog_model {

enum class Kind { kWindow, kDialog, kButton, kStatic, kScrollBar };

struct ScrollBarState {
  int min = 0;
  int max = 0;
  UINT page = 0;
  int pos = 0;
  int track = 0;
  UINT arrows_disabled = ESB_ENABLE_BOTH;
};

struct Window {
  HWND handle = nullptr;
  Kind kind = Kind::kWindow;
  std::string class_name;
  std::string template_name;  // dialogs
  int id = 0;
  DWORD style = 0;
  DWORD ex_style = 0;
  HWND parent = nullptr;  // controls: their dialog
  HWND owner = nullptr;   // dialogs
  std::vector<HWND> children;
  RECT rect{};  // parent's client coordinates; the screen for top-level windows
  std::string text;
  UINT check = BST_UNCHECKED;
  ScrollBarState scroll;
  std::vector<PaintOp> painted;
  bool update_pending = false;
  bool erase_pending = false;
  WNDPROC window_procedure = nullptr;
  DLGPROC dialog_procedure = nullptr;
  bool in_creation = false;
  bool destroyed = false;
  bool dialog_ended = false;
  INT_PTR dialog_result = 0;
};

struct ModelState {
  std::map<std::string, WNDCLASSA> classes;  // upper-cased names
  std::map<std::uintptr_t, std::unique_ptr<Window>> windows;
  // Handles count up from kFirstHandle in steps of kHandleStep; windows by
  // that number, so that finding one (thousands of times per update) is an
  // index rather than a search.
  static constexpr std::uintptr_t kFirstHandle = 0x10000;
  static constexpr std::uintptr_t kHandleStep = 4;
  std::vector<Window*> by_number;
  std::uintptr_t next_handle = kFirstHandle;
  std::vector<MSG> queue;
  std::vector<HWND> modal_stack;
  HWND focus = nullptr;
  User* user = nullptr;
  bool given_up = false;
  int screen_width = kDefaultScreenWidth;
  int screen_height = kDefaultScreenHeight;
  std::string own_module = "Quorvanta.exe";
  std::vector<MessageBoxRecord> boxes;
  bool record_messages = false;
  std::vector<MessageRecord> messages;
  std::function<void()> screen_listener;
  std::function<std::string(const std::string&)> box_addendum;
};

ModelState& State();
// A live window, or null for null, unknown and destroyed handles.
Window* Find(HWND handle);
// Client-area insets of a window from its styles: left, top, right, bottom.
RECT Insets(const Window& window);
// The window's rectangle in screen coordinates.
RECT ScreenRect(const Window& window);
// Paint state: mark for repainting; drop what is painted (window and its
// controls) because something covered it.
void Invalidate(Window* window, bool erase, bool with_children);
void Uncover(Window* window);
// Sends WM_PAINT where pending, then paints pending controls their own way.
void PaintPending(Window* window);
// Tells the view that the screen has changed.
void ScreenChanged();
// Forgets the device contexts and brushes (Reset).
void ResetGdi();

}  // namespace dialog_model
