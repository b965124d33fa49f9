// Windows, classes, messages, modal dialogs from templates and message boxes
// of the dialog model.
#include <algorithm>
#include <cctype>
#include <cstring>

#include "platform/dialogs.h"
#include "platform/dialogs/model_state.h"
#include "platform/dialogs/resource_tables.h"
#include "platform/events.h"

namespace dialog_model {

ModelState& State() {
  static ModelState state;
  return state;
}

Window* Find(HWND handle) {
  const auto value = reinterpret_cast<std::uintptr_t>(handle);
  if (value < ModelState::kFirstHandle || value % ModelState::kHandleStep != 0) return nullptr;
  const std::vector<Window*>& windows = State().by_number;
  const std::size_t number = (value - ModelState::kFirstHandle) / ModelState::kHandleStep;
  if (number >= windows.size() || windows[number]->destroyed) return nullptr;
  return windows[number];
}

namespace {

std::string Upper(const char* text) {
  std::string out(text == nullptr ? "" : text);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

// MulDiv rounds halves away from zero.
int MulDiv(int value, int numerator, int denominator) {
  long long product = static_cast<long long>(value) * numerator;
  long long half = denominator / 2;
  long long result = product >= 0 ? (product + half) / denominator : (product - half) / denominator;
  return static_cast<int>(result);
}

Window* NewWindow(Kind kind) {
  auto& state = State();
  auto window = std::make_unique<Window>();
  window->handle = reinterpret_cast<HWND>(state.next_handle);
  window->kind = kind;
  state.next_handle += ModelState::kHandleStep;
  Window* raw = window.get();
  state.by_number.push_back(raw);
  state.windows[reinterpret_cast<std::uintptr_t>(raw->handle)] = std::move(window);
  return raw;
}

void Record(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  auto& state = State();
  if (state.record_messages)
    state.messages.push_back(MessageRecord{window, message, wparam, lparam});
}

bool IsRadio(const Window& w) {
  return w.kind == Kind::kButton && (w.style & BS_TYPEMASK) == BS_AUTORADIOBUTTON;
}
bool IsPushButton(const Window& w) {
  DWORD type = w.style & BS_TYPEMASK;
  return w.kind == Kind::kButton && (type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON);
}
bool Usable(const Window& w) { return (w.style & WS_VISIBLE) != 0 && (w.style & WS_DISABLED) == 0; }

Window* Control(HWND dialog, int id) {
  Window* d = Find(dialog);
  if (d == nullptr) return nullptr;
  for (HWND child : d->children) {
    Window* c = Find(child);
    if (c != nullptr && c->id == id) return c;
  }
  return nullptr;
}

// Sends to a dialog the way DefDlgProc does: the dialog procedure first, the
// default handling for what it leaves.
LRESULT SendToDialog(Window* dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  HWND handle = dialog->handle;
  INT_PTR handled = dialog->dialog_procedure(handle, message, wparam, lparam);
  if (message == WM_INITDIALOG) return handled;
  if (handled != 0) return handled;
  dialog = Find(handle);
  if (dialog == nullptr) return 0;
  if (message == WM_PAINT) {
    PAINTSTRUCT paint;
    BeginPaint(handle, &paint);
    EndPaint(handle, &paint);
  } else if (message == WM_CLOSE) {
    HWND cancel = GetDlgItem(handle, IDCANCEL);
    SendMessageA(handle, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                 reinterpret_cast<LPARAM>(cancel));
  }
  return 0;
}

// The built-in controls' own handling of the messages the program sends.
LRESULT ControlMessage(Window* w, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case BM_GETCHECK:
      return w->check;
    case BM_SETCHECK:
      w->check = static_cast<UINT>(wparam);
      return 0;
    case WM_SETTEXT:
      w->text = lparam == 0 ? "" : reinterpret_cast<const char*>(lparam);
      return 1;
    case WM_GETTEXTLENGTH:
      return static_cast<LRESULT>(w->text.size());
    case WM_GETTEXT:
      return GetWindowTextA(w->handle, reinterpret_cast<char*>(lparam), static_cast<int>(wparam));
    default:
      return 0;
  }
}

void Notify(Window* control, WORD code) {
  Window* dialog = Find(control->parent);
  if (dialog == nullptr) return;
  SendMessageA(dialog->handle, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(control->id), code),
               reinterpret_cast<LPARAM>(control->handle));
}

// The auto radio buttons of a control's group: from the nearest WS_GROUP at
// or before it to the next WS_GROUP, as GetNextDlgGroupItem walks them.
std::vector<Window*> GroupOf(Window* control) {
  std::vector<Window*> group;
  Window* dialog = Find(control->parent);
  if (dialog == nullptr) return group;
  auto& kids = dialog->children;
  auto at = std::find(kids.begin(), kids.end(), control->handle);
  if (at == kids.end()) return group;
  std::size_t first = static_cast<std::size_t>(at - kids.begin());
  while (first > 0) {
    Window* w = Find(kids[first]);
    if (w != nullptr && (w->style & WS_GROUP) != 0) break;
    --first;
  }
  for (std::size_t i = first; i < kids.size(); ++i) {
    Window* w = Find(kids[i]);
    if (w == nullptr) continue;
    if (i > first && (w->style & WS_GROUP) != 0) break;
    group.push_back(w);
  }
  return group;
}

void CheckAutoRadio(Window* radio) {
  for (Window* other : GroupOf(radio))
    if (other != radio && IsRadio(*other) && Usable(*other)) other->check = BST_UNCHECKED;
  radio->check = BST_CHECKED;
}

void SendScroll(Window* bar, int request, int position) {
  Window* dialog = Find(bar->parent);
  if (dialog == nullptr) return;
  SendMessageA(dialog->handle, WM_VSCROLL,
               MAKEWPARAM(static_cast<WORD>(request), static_cast<WORD>(position)),
               reinterpret_cast<LPARAM>(bar->handle));
}

int ThumbLimit(const ScrollBarState& s) {
  int page = static_cast<int>(s.page);
  return s.max - std::max(page - 1, 0);
}

void DestroyTree(Window* w) {
  HWND handle = w->handle;
  if (w->window_procedure != nullptr) {
    Record(handle, WM_DESTROY, 0, 0);
    w->window_procedure(handle, WM_DESTROY, 0, 0);
  } else if (w->dialog_procedure != nullptr) {
    Record(handle, WM_DESTROY, 0, 0);
    w->dialog_procedure(handle, WM_DESTROY, 0, 0);
  }
  w = Find(handle);
  if (w == nullptr) return;
  for (HWND child : w->children)
    if (Window* c = Find(child)) c->destroyed = true;
  w->destroyed = true;
  auto& state = State();
  if (state.focus == handle ||
      std::find(w->children.begin(), w->children.end(), state.focus) != w->children.end())
    state.focus = nullptr;
}

Window* CreateDialogFromTemplate(const resource_tables::DialogTemplate& t, HWND owner,
                                 DLGPROC procedure) {
  Window* dialog = NewWindow(Kind::kDialog);
  dialog->class_name = "#32770";
  dialog->template_name = t.name;
  dialog->style = t.style & ~WS_VISIBLE;
  dialog->ex_style = t.ex_style | ((t.style & DS_MODALFRAME) != 0 ? WS_EX_DLGMODALFRAME : 0);
  dialog->owner = owner;
  dialog->text = t.caption;
  dialog->dialog_procedure = procedure;
  RECT inset = Insets(*dialog);
  int left = std::max(0, DluToPixelsX(t.x) - inset.left);
  int top = std::max(0, DluToPixelsY(t.y) - inset.top);
  dialog->rect = RECT{left, top, left + DluToPixelsX(t.cx) + inset.left + inset.right,
                      top + DluToPixelsY(t.cy) + inset.top + inset.bottom};
  for (int i = 0; i < t.control_count; ++i) {
    const resource_tables::ControlTemplate& c = t.controls[i];
    std::string cls = Upper(c.class_name);
    Kind kind = cls == "BUTTON"      ? Kind::kButton
                : cls == "STATIC"    ? Kind::kStatic
                : cls == "SCROLLBAR" ? Kind::kScrollBar
                                     : Kind::kWindow;
    Window* control = NewWindow(kind);
    control->class_name = c.class_name;
    control->id = c.id;
    control->text = c.text;
    control->style = c.style;
    control->ex_style = c.ex_style;
    if (kind == Kind::kStatic && (c.style & SS_SUNKEN) != 0) control->ex_style |= WS_EX_STATICEDGE;
    control->parent = dialog->handle;
    int x = DluToPixelsX(c.x);
    int y = DluToPixelsY(c.y);
    control->rect = RECT{x, y, x + DluToPixelsX(c.cx), y + DluToPixelsY(c.cy)};
    dialog->children.push_back(control->handle);
  }
  return dialog;
}

const resource_tables::DialogTemplate* FindTemplate(const char* name) {
  std::string wanted = Upper(name);
  for (int i = 0; i < resource_tables::kDialogCount; ++i)
    if (Upper(resource_tables::kDialogs[i].name) == wanted) return &resource_tables::kDialogs[i];
  return nullptr;
}

HWND FirstTabStop(Window* dialog) {
  for (HWND child : dialog->children) {
    Window* c = Find(child);
    if (c != nullptr && (c->style & WS_TABSTOP) != 0 && Usable(*c)) return child;
  }
  return nullptr;
}

void EndEveryDialog() {
  for (HWND handle : State().modal_stack) {
    Window* d = Find(handle);
    if (d != nullptr && !d->dialog_ended) {
      d->dialog_ended = true;
      d->dialog_result = 0;
    }
  }
}

}  // namespace

int DluToPixelsX(int x) { return MulDiv(x, kBaseUnitX, 4); }
int DluToPixelsY(int y) { return MulDiv(y, kBaseUnitY, 8); }

RECT Insets(const Window& w) {
  int side = 0;
  int top = 0;
  if ((w.style & WS_DLGFRAME) != 0 || (w.ex_style & WS_EX_DLGMODALFRAME) != 0) {
    side = kDialogFrame;
  } else if ((w.style & WS_BORDER) != 0) {
    side = kBorder;
  }
  if ((w.style & WS_CAPTION) == WS_CAPTION) top = kCaptionHeight;
  if ((w.ex_style & WS_EX_CLIENTEDGE) != 0) side += kClientEdge;
  if ((w.ex_style & WS_EX_STATICEDGE) != 0) side += kStaticEdge;
  return RECT{side, side + top, side, side};
}

RECT ScreenRect(const Window& w) {
  RECT r = w.rect;
  const Window* parent = Find(w.parent);
  if (parent != nullptr) {
    RECT p = ScreenRect(*parent);
    RECT inset = Insets(*parent);
    LONG dx = p.left + inset.left;
    LONG dy = p.top + inset.top;
    r = RECT{r.left + dx, r.top + dy, r.right + dx, r.bottom + dy};
  }
  return r;
}

void Reset() {
  auto& state = State();
  state = ModelState{};
  ResetGdi();
}

void SetUser(User* user) { State().user = user; }

void SetBoxAddendum(std::function<std::string(const std::string& text)> addendum) {
  State().box_addendum = std::move(addendum);
}

void SetScreenSize(int width, int height) {
  State().screen_width = width;
  State().screen_height = height;
}

void SetOwnModuleName(const char* name) { State().own_module = name == nullptr ? "" : name; }

void GiveUp() {
  State().given_up = true;
  EndEveryDialog();
}

bool GivenUp() { return State().given_up; }

bool Click(HWND dialog, int id) {
  Window* c = Control(dialog, id);
  if (c == nullptr || !Usable(*c) || !IsWindowEnabled(dialog)) return false;
  switch (c->kind) {
    case Kind::kButton:
      State().focus = c->handle;
      if (IsRadio(*c)) CheckAutoRadio(c);
      Notify(c, BN_CLICKED);
      return true;
    case Kind::kStatic:
      // Only a static with SS_NOTIFY tells its dialog (STN_CLICKED is 0).
      if ((c->style & SS_NOTIFY) != 0) Notify(c, 0);
      return true;
    case Kind::kScrollBar:
      if ((c->style & WS_TABSTOP) != 0) State().focus = c->handle;
      return true;
    default:
      return false;
  }
}

bool Scroll(HWND dialog, int id, int request) {
  Window* bar = Control(dialog, id);
  if (bar == nullptr || bar->kind != Kind::kScrollBar || !Usable(*bar)) return false;
  if ((bar->style & WS_TABSTOP) != 0) State().focus = bar->handle;
  UINT off = bar->scroll.arrows_disabled;
  if (request == SB_LINEUP && (off & ESB_DISABLE_UP) != 0) return false;
  if (request == SB_LINEDOWN && (off & ESB_DISABLE_DOWN) != 0) return false;
  SendScroll(bar, request, 0);
  if (Window* again = Find(bar->handle)) SendScroll(again, SB_ENDSCROLL, 0);
  return true;
}

bool DragThumb(HWND dialog, int id, int position) {
  Window* bar = Control(dialog, id);
  if (bar == nullptr || bar->kind != Kind::kScrollBar || !Usable(*bar)) return false;
  if ((bar->style & WS_TABSTOP) != 0) State().focus = bar->handle;
  HWND handle = bar->handle;
  int where =
      std::clamp(position, bar->scroll.min, std::max(bar->scroll.min, ThumbLimit(bar->scroll)));
  bar->scroll.track = where;
  SendScroll(bar, SB_THUMBTRACK, where);
  if ((bar = Find(handle)) != nullptr) SendScroll(bar, SB_THUMBPOSITION, where);
  if ((bar = Find(handle)) != nullptr) SendScroll(bar, SB_ENDSCROLL, 0);
  return true;
}

bool FocusOn(HWND dialog, int id) {
  Window* c = Control(dialog, id);
  if (c == nullptr || !Usable(*c) || !IsWindowEnabled(dialog)) return false;
  State().focus = c->handle;
  return true;
}

void MovedByUser(HWND window, int left, int top) {
  Window* w = Find(window);
  if (w == nullptr || w->parent != nullptr) return;
  w->rect =
      RECT{left, top, left + (w->rect.right - w->rect.left), top + (w->rect.bottom - w->rect.top)};
}

void PressKey(HWND dialog, UINT key) {
  Window* d = Find(dialog);
  if (d == nullptr) return;
  auto& state = State();
  Window* focus = Find(state.focus);
  if (focus != nullptr && focus->parent != dialog) focus = nullptr;
  // A control disabled or hidden while it held the focus takes no keys:
  // Enter or Space must not press an UPDATE that the program has disabled.
  if (focus != nullptr && !Usable(*focus)) focus = nullptr;
  if (key == VK_RETURN) {
    if (focus != nullptr && IsPushButton(*focus)) {
      Notify(focus, BN_CLICKED);
      return;
    }
    Window* def = nullptr;
    for (HWND child : d->children) {
      Window* c = Find(child);
      if (c != nullptr && c->kind == Kind::kButton && (c->style & BS_TYPEMASK) == BS_DEFPUSHBUTTON)
        def = c;
    }
    if (def == nullptr) {
      SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                   reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDOK)));
    } else if ((def->style & WS_DISABLED) == 0) {
      Notify(def, BN_CLICKED);
    }
    return;
  }
  if (key == VK_ESCAPE) {
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDCANCEL)));
    return;
  }
  if (key == VK_TAB) {
    std::vector<HWND> stops;
    for (HWND child : d->children) {
      Window* c = Find(child);
      if (c != nullptr && (c->style & WS_TABSTOP) != 0 && Usable(*c)) stops.push_back(child);
    }
    if (stops.empty()) return;
    auto at = std::find(stops.begin(), stops.end(), state.focus);
    state.focus = (at == stops.end() || at + 1 == stops.end()) ? stops.front() : *(at + 1);
    return;
  }
  if (focus != nullptr && focus->kind == Kind::kScrollBar) {
    int request = key == VK_UP      ? SB_LINEUP
                  : key == VK_DOWN  ? SB_LINEDOWN
                  : key == VK_PRIOR ? SB_PAGEUP
                  : key == VK_NEXT  ? SB_PAGEDOWN
                  : key == VK_HOME  ? SB_TOP
                  : key == VK_END   ? SB_BOTTOM
                                    : -1;
    if (request >= 0) {
      HWND handle = focus->handle;
      SendScroll(focus, request, 0);
      if (Window* bar = Find(handle)) SendScroll(bar, SB_ENDSCROLL, 0);
    }
    return;
  }
  if (focus != nullptr && focus->kind == Kind::kButton) {
    if (key == VK_SPACE) {
      if (IsRadio(*focus)) CheckAutoRadio(focus);
      Notify(focus, BN_CLICKED);
      return;
    }
    if (key == VK_UP || key == VK_DOWN || key == VK_LEFT || key == VK_RIGHT) {
      std::vector<Window*> group;
      for (Window* w : GroupOf(focus))
        if (Usable(*w) || w == focus) group.push_back(w);
      auto at = std::find(group.begin(), group.end(), focus);
      if (group.size() < 2 || at == group.end()) return;
      std::size_t i = static_cast<std::size_t>(at - group.begin());
      bool forward = key == VK_DOWN || key == VK_RIGHT;
      Window* next = group[(i + (forward ? 1 : group.size() - 1)) % group.size()];
      state.focus = next->handle;
      if (IsRadio(*next)) {
        CheckAutoRadio(next);
        Notify(next, BN_CLICKED);
      }
    }
    return;
  }
  if (focus == nullptr) SendMessageA(dialog, WM_KEYDOWN, key, 1);
}

std::vector<HWND> OpenDialogs() {
  std::vector<HWND> open;
  for (HWND h : State().modal_stack)
    if (Window* d = Find(h); d != nullptr && !d->dialog_ended) open.push_back(h);
  return open;
}

std::string TemplateName(HWND dialog) {
  Window* d = Find(dialog);
  return d == nullptr ? "" : d->template_name;
}

std::string WindowText(HWND window) {
  Window* w = Find(window);
  return w == nullptr ? "" : w->text;
}

HWND Focus() { return State().focus; }

std::vector<HWND> Controls(HWND dialog) {
  Window* d = Find(dialog);
  return d == nullptr ? std::vector<HWND>{} : d->children;
}

HWND FindControlByText(HWND dialog, const std::string& cp932_text) {
  for (HWND child : Controls(dialog)) {
    Window* c = Find(child);
    if (c != nullptr && c->text == cp932_text) return child;
  }
  return nullptr;
}

const std::vector<MessageBoxRecord>& MessageBoxes() { return State().boxes; }
void RecordMessages(bool on) { State().record_messages = on; }
const std::vector<MessageRecord>& Messages() { return State().messages; }
void ClearMessages() { State().messages.clear(); }

const char* MessageName(UINT message) {
  switch (message) {
    case WM_CREATE:
      return "WM_CREATE";
    case WM_DESTROY:
      return "WM_DESTROY";
    case WM_PAINT:
      return "WM_PAINT";
    case WM_CLOSE:
      return "WM_CLOSE";
    case WM_QUIT:
      return "WM_QUIT";
    case WM_KEYDOWN:
      return "WM_KEYDOWN";
    case WM_INITDIALOG:
      return "WM_INITDIALOG";
    case WM_COMMAND:
      return "WM_COMMAND";
    case WM_VSCROLL:
      return "WM_VSCROLL";
    default:
      return "WM_?";
  }
}

}  // namespace dialog_model

using dialog_model::Find;
using dialog_model::Kind;
using dialog_model::State;
using dialog_model::Window;

namespace {
// The model draws no icons or cursors; it only hands out the stock ones.
HANDLE StockHandle(HINSTANCE instance, const char* name, WORD stock_id, std::uintptr_t token) {
  if (instance != nullptr || name != MAKEINTRESOURCEA(stock_id)) return nullptr;
  return reinterpret_cast<HANDLE>(token);
}
}  // namespace

HANDLE LoadIconA(HINSTANCE instance, const char* name) {
  return StockHandle(instance, name, IDI_APPLICATION, 0x10001);
}
HANDLE LoadCursorA(HINSTANCE instance, const char* name) {
  return StockHandle(instance, name, IDC_ARROW, 0x10003);
}

ATOM RegisterClassA(const WNDCLASSA* window_class) {
  if (window_class == nullptr || window_class->lpszClassName == nullptr ||
      window_class->lpfnWndProc == nullptr)
    return 0;
  auto& classes = State().classes;
  std::string name = dialog_model::Upper(window_class->lpszClassName);
  if (name.empty() || classes.count(name) != 0) return 0;
  classes[name] = *window_class;
  return static_cast<ATOM>(0xC000 + classes.size());
}

HWND CreateWindowExA(DWORD ex_style, const char* class_name, const char* title, DWORD style, int x,
                     int y, int width, int height, HWND parent, HANDLE, HINSTANCE, void*) {
  auto& state = State();
  auto it = state.classes.find(dialog_model::Upper(class_name));
  if (it == state.classes.end()) return nullptr;
  Window* window = dialog_model::NewWindow(Kind::kWindow);
  window->class_name = it->first;
  window->window_procedure = it->second.lpfnWndProc;
  window->style = style;
  window->ex_style = ex_style;
  window->text = title == nullptr ? "" : title;
  window->parent = parent;
  if (x == CW_USEDEFAULT) x = 0;
  if (y == CW_USEDEFAULT) y = 0;
  if (width == CW_USEDEFAULT) width = state.screen_width * 3 / 4;
  if (height == CW_USEDEFAULT) height = state.screen_height * 3 / 4;
  window->rect = RECT{x, y, x + width, y + height};
  window->in_creation = true;
  HWND handle = window->handle;
  dialog_model::Record(handle, WM_CREATE, 0, 0);
  LRESULT created = window->window_procedure(handle, WM_CREATE, 0, 0);
  window = Find(handle);
  if (window == nullptr) return nullptr;
  window->in_creation = false;
  if (created == -1) {
    DestroyWindow(handle);
    return nullptr;
  }
  if ((style & WS_VISIBLE) != 0) dialog_model::Invalidate(window, true, true);
  return handle;
}

LRESULT DefWindowProcA(HWND window, UINT message, WPARAM, LPARAM) {
  Window* w = Find(window);
  if (w == nullptr) return 0;
  if (message == WM_CLOSE) {
    DestroyWindow(window);
  } else if (message == WM_PAINT) {
    PAINTSTRUCT paint;
    BeginPaint(window, &paint);
    EndPaint(window, &paint);
  }
  return 0;
}

LRESULT SendMessageA(HWND handle, UINT message, WPARAM wparam, LPARAM lparam) {
  Window* window = Find(handle);
  if (window == nullptr) return 0;
  if (window->window_procedure != nullptr) {
    dialog_model::Record(handle, message, wparam, lparam);
    return window->window_procedure(handle, message, wparam, lparam);
  }
  if (window->dialog_procedure != nullptr) {
    dialog_model::Record(handle, message, wparam, lparam);
    return dialog_model::SendToDialog(window, message, wparam, lparam);
  }
  return dialog_model::ControlMessage(window, message, wparam, lparam);
}

void PostQuitMessage(int exit_code) {
  State().queue.push_back(MSG{nullptr, WM_QUIT, static_cast<WPARAM>(exit_code), 0});
}

BOOL GetMessageA(MSG* msg, HWND, UINT, UINT) {
  if (msg == nullptr) return -1;
  auto& queue = State().queue;
  // Headless, nothing else can ever arrive: an empty queue would wait forever,
  // so it reads as the end of the loop.
  if (queue.empty()) {
    *msg = MSG{nullptr, WM_QUIT, 0, 0};
    return 0;
  }
  *msg = queue.front();
  queue.erase(queue.begin());
  return msg->message == WM_QUIT ? 0 : 1;
}

BOOL TranslateMessage(const MSG*) { return 0; }

LRESULT DispatchMessageA(const MSG* msg) {
  if (msg == nullptr) return 0;
  return SendMessageA(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

BOOL DestroyWindow(HWND handle) {
  Window* window = Find(handle);
  if (window == nullptr) return 0;
  dialog_model::DestroyTree(window);
  return 1;
}

int MessageBoxExA(HWND owner, const char* text, const char* caption, UINT type, LANGID language) {
  auto& state = State();
  dialog_model::MessageBoxRecord box{
      owner, text == nullptr ? "" : text, caption == nullptr ? "" : caption, type, language, 0};
  if (state.box_addendum) {
    const std::string extra = state.box_addendum(box.text);
    if (!extra.empty()) box.text += "\r\n" + extra;
  }
  state.boxes.push_back(box);
  std::size_t index = state.boxes.size() - 1;
  RaisePlatformEvent(PlatformEventKind::kMessageShown, box.text);
  bool has_cancel = (type & 0x0F) == MB_OKCANCEL;
  int answer = IDOK;
  if (!state.given_up && state.user != nullptr) answer = state.user->Answer(box);
  // A box with only OK answers OK however it is closed; a user who gave up
  // (perhaps while this box was up) declines the question.
  if (!has_cancel) {
    answer = IDOK;
  } else if (answer != IDOK || state.given_up) {
    answer = IDCANCEL;
  }
  state.boxes[index].answer = answer;
  RaisePlatformEvent(PlatformEventKind::kMessageAnswered, answer == IDOK ? "OK" : "Cancel");
  // Whatever the box covered has lost its painting.
  for (HWND open : state.modal_stack)
    if (Window* d = Find(open)) dialog_model::Uncover(d);
  return answer;
}

INT_PTR DialogBoxParamA(HINSTANCE, const char* template_name, HWND owner, DLGPROC procedure,
                        LPARAM init_param) {
  const resource_tables::DialogTemplate* t = dialog_model::FindTemplate(template_name);
  if (t == nullptr || procedure == nullptr) return -1;
  auto& state = State();
  if (state.given_up) return 0;
  Window* dialog = dialog_model::CreateDialogFromTemplate(*t, owner, procedure);
  HWND handle = dialog->handle;
  state.modal_stack.push_back(handle);
  HWND previous_focus = state.focus;
  state.focus = nullptr;
  dialog_model::Record(handle, WM_INITDIALOG,
                       reinterpret_cast<WPARAM>(dialog_model::FirstTabStop(dialog)), init_param);
  INT_PTR focus_default = dialog_model::SendToDialog(
      dialog, WM_INITDIALOG, reinterpret_cast<WPARAM>(dialog_model::FirstTabStop(dialog)),
      init_param);
  dialog = Find(handle);
  if (dialog != nullptr && !dialog->dialog_ended) {
    // TRUE from the initialisation gives the focus to the first tab stop;
    // FALSE leaves it with the dialog itself.
    if (focus_default != 0 && state.focus == nullptr)
      state.focus = dialog_model::FirstTabStop(dialog);
    dialog->style |= WS_VISIBLE;
    dialog_model::Invalidate(dialog, true, true);
    RaisePlatformEvent(PlatformEventKind::kDialogShown, dialog->text);
  }
  int inputs_given = 0;
  while ((dialog = Find(handle)) != nullptr && !dialog->dialog_ended) {
    dialog_model::PaintPending(dialog);
    dialog = Find(handle);
    if (dialog == nullptr || dialog->dialog_ended) break;
    if (state.given_up || state.user == nullptr || !state.user->Act(handle)) {
      dialog_model::GiveUp();
      break;
    }
    if (++inputs_given > 1000000) dialog_model::GiveUp();
  }
  INT_PTR result = 0;
  dialog = Find(handle);
  if (dialog != nullptr) {
    result = dialog->dialog_result;
    dialog->style &= ~WS_VISIBLE;
    dialog_model::DestroyTree(dialog);
  } else {
    // Destroyed from outside: the result EndDialog left, if any.
    auto it = state.windows.find(reinterpret_cast<std::uintptr_t>(handle));
    if (it != state.windows.end()) result = it->second->dialog_result;
  }
  auto& stack = state.modal_stack;
  stack.erase(std::remove(stack.begin(), stack.end(), handle), stack.end());
  state.focus = Find(previous_focus) != nullptr ? previous_focus : nullptr;
  return result;
}

BOOL EndDialog(HWND handle, INT_PTR result) {
  Window* window = Find(handle);
  if (window == nullptr || window->kind != Kind::kDialog) return 0;
  window->dialog_ended = true;
  window->dialog_result = result;
  return 1;
}

HWND GetDlgItem(HWND dialog, int id) {
  Window* c = dialog_model::Control(dialog, id);
  return c == nullptr ? nullptr : c->handle;
}

int GetDlgCtrlID(HWND control) {
  Window* c = Find(control);
  return c == nullptr ? 0 : c->id;
}

HWND GetParent(HWND window) {
  Window* w = Find(window);
  return w == nullptr ? nullptr : w->parent;
}

BOOL IsWindow(HWND window) { return Find(window) != nullptr ? 1 : 0; }

BOOL SetWindowTextA(HWND window, const char* text) {
  Window* w = Find(window);
  if (w == nullptr) return 0;
  w->text = text == nullptr ? "" : text;
  return 1;
}

int GetWindowTextA(HWND window, char* buffer, int size) {
  Window* w = Find(window);
  if (buffer == nullptr || size <= 0) return 0;
  buffer[0] = '\0';
  if (w == nullptr) return 0;
  int n = std::min(static_cast<int>(w->text.size()), size - 1);
  std::memcpy(buffer, w->text.data(), static_cast<std::size_t>(n));
  buffer[n] = '\0';
  return n;
}

BOOL SetDlgItemTextA(HWND dialog, int id, const char* text) {
  return SetWindowTextA(GetDlgItem(dialog, id), text);
}

BOOL ShowNoteText(HWND dialog, int id, const char* text) {
  BOOL set = SetDlgItemTextA(dialog, id, text);
  RaisePlatformEvent(PlatformEventKind::kNoteShown, text == nullptr ? "" : text);
  return set;
}

BOOL ShowWindow(HWND window, int command) {
  Window* w = Find(window);
  if (w == nullptr) return 0;
  BOOL was_visible = (w->style & WS_VISIBLE) != 0 ? 1 : 0;
  if (command == SW_HIDE) {
    w->style &= ~WS_VISIBLE;
  } else {
    w->style |= WS_VISIBLE;
  }
  if (was_visible != ((w->style & WS_VISIBLE) != 0 ? 1 : 0))
    dialog_model::Invalidate(w, true, true);
  return was_visible;
}

BOOL IsWindowVisible(HWND window) {
  Window* w = Find(window);
  if (w == nullptr) return 0;
  for (Window* at = w; at != nullptr; at = Find(at->parent))
    if ((at->style & WS_VISIBLE) == 0) return 0;
  return 1;
}

BOOL EnableWindow(HWND window, BOOL enable) {
  Window* w = Find(window);
  if (w == nullptr) return 0;
  BOOL was_disabled = (w->style & WS_DISABLED) != 0 ? 1 : 0;
  if (enable != 0) {
    w->style &= ~WS_DISABLED;
  } else {
    w->style |= WS_DISABLED;
    if (State().focus == window) State().focus = w->parent;
  }
  return was_disabled;
}

BOOL IsWindowEnabled(HWND window) {
  Window* w = Find(window);
  return w != nullptr && (w->style & WS_DISABLED) == 0 ? 1 : 0;
}

BOOL CheckDlgButton(HWND dialog, int id, UINT check) {
  Window* c = dialog_model::Control(dialog, id);
  if (c == nullptr || c->kind != Kind::kButton) return 0;
  c->check = check;
  return 1;
}

UINT IsDlgButtonChecked(HWND dialog, int id) {
  Window* c = dialog_model::Control(dialog, id);
  return c == nullptr ? 0 : c->check;
}

BOOL GetClientRect(HWND window, RECT* rect) {
  Window* w = Find(window);
  if (w == nullptr || rect == nullptr) return 0;
  RECT inset = dialog_model::Insets(*w);
  LONG width = w->rect.right - w->rect.left - inset.left - inset.right;
  LONG height = w->rect.bottom - w->rect.top - inset.top - inset.bottom;
  *rect = RECT{0, 0, std::max<LONG>(width, 0), std::max<LONG>(height, 0)};
  return 1;
}

BOOL GetWindowRect(HWND window, RECT* rect) {
  Window* w = Find(window);
  if (w == nullptr || rect == nullptr) return 0;
  *rect = dialog_model::ScreenRect(*w);
  return 1;
}

BOOL MoveWindow(HWND window, int x, int y, int width, int height, BOOL repaint) {
  Window* w = Find(window);
  if (w == nullptr) return 0;
  w->rect = RECT{x, y, x + std::max(width, 0), y + std::max(height, 0)};
  if (repaint != 0) dialog_model::Invalidate(w, true, true);
  return 1;
}

namespace {

Window* ScrollBarOf(HWND window, int bar) {
  Window* w = Find(window);
  if (w == nullptr || bar != SB_CTL || w->kind != Kind::kScrollBar) return nullptr;
  return w;
}

void ClampScroll(dialog_model::ScrollBarState* s) {
  if (s->max < s->min) s->max = s->min;
  UINT span = static_cast<UINT>(s->max - s->min + 1);
  if (s->page > span) s->page = span;
  s->pos = std::clamp(s->pos, s->min, std::max(s->min, dialog_model::ThumbLimit(*s)));
}

}  // namespace

int SetScrollInfo(HWND window, int bar, const SCROLLINFO* info, BOOL) {
  Window* w = ScrollBarOf(window, bar);
  if (w == nullptr || info == nullptr) return 0;
  auto& s = w->scroll;
  if ((info->fMask & SIF_RANGE) != 0) {
    s.min = info->nMin;
    s.max = info->nMax;
  }
  if ((info->fMask & SIF_PAGE) != 0) s.page = info->nPage;
  if ((info->fMask & SIF_POS) != 0) s.pos = info->nPos;
  ClampScroll(&s);
  return s.pos;
}

BOOL GetScrollInfo(HWND window, int bar, SCROLLINFO* info) {
  Window* w = ScrollBarOf(window, bar);
  if (w == nullptr || info == nullptr || (info->fMask & SIF_ALL) == 0) return 0;
  const auto& s = w->scroll;
  if ((info->fMask & SIF_RANGE) != 0) {
    info->nMin = s.min;
    info->nMax = s.max;
  }
  if ((info->fMask & SIF_PAGE) != 0) info->nPage = s.page;
  if ((info->fMask & SIF_POS) != 0) info->nPos = s.pos;
  if ((info->fMask & SIF_TRACKPOS) != 0) info->nTrackPos = s.track;
  return 1;
}

int SetScrollPos(HWND window, int bar, int position, BOOL redraw) {
  Window* w = ScrollBarOf(window, bar);
  if (w == nullptr) return 0;
  int previous = w->scroll.pos;
  SCROLLINFO info{sizeof(SCROLLINFO), SIF_POS, 0, 0, 0, position, 0};
  SetScrollInfo(window, bar, &info, redraw);
  return previous;
}

int GetScrollPos(HWND window, int bar) {
  Window* w = ScrollBarOf(window, bar);
  return w == nullptr ? 0 : w->scroll.pos;
}

BOOL SetScrollRange(HWND window, int bar, int min, int max, BOOL redraw) {
  if (ScrollBarOf(window, bar) == nullptr) return 0;
  SCROLLINFO info{sizeof(SCROLLINFO), SIF_RANGE, min, max, 0, 0, 0};
  SetScrollInfo(window, bar, &info, redraw);
  return 1;
}

BOOL GetScrollRange(HWND window, int bar, int* min, int* max) {
  Window* w = ScrollBarOf(window, bar);
  if (w == nullptr || min == nullptr || max == nullptr) return 0;
  *min = w->scroll.min;
  *max = w->scroll.max;
  return 1;
}

BOOL EnableScrollBar(HWND window, UINT bar, UINT arrows) {
  Window* w = ScrollBarOf(window, static_cast<int>(bar));
  if (w == nullptr) return 0;
  w->scroll.arrows_disabled = arrows & ESB_DISABLE_BOTH;
  return 1;
}

int GetSystemMetrics(int index) {
  if (index == SM_CXSCREEN) return State().screen_width;
  if (index == SM_CYSCREEN) return State().screen_height;
  return 0;
}
