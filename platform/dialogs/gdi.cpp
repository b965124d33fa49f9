// Painting in the dialog model: pending repaints, device contexts, brushes,
// filled rectangles and lines of text, kept per window as what the screen
// would show.
#include <algorithm>
#include <cstring>
#include <string_view>
#include <utility>

#include "platform/dialogs.h"
#include "platform/dialogs/model_state.h"

namespace dialog_model {
namespace {

struct DeviceContext {
  std::uintptr_t handle;  // 0: the slot is free
  HWND window;
  int background_mode;
};

struct Brush {
  std::uintptr_t handle;  // 0: the slot is free
  COLORREF colour;
};

// Fixed slots, as the system's own GDI keeps a table of its objects: taking a
// device context or a brush allocates nothing. Handles count on, so a handle
// given back never names a later object.
constexpr int kSlots = 32;

struct Gdi {
  DeviceContext contexts[kSlots]{};
  Brush brushes[kSlots]{};
  std::uintptr_t next = 0x7000000;
};

Gdi& TheGdi() {
  static Gdi gdi;
  return gdi;
}

// Stock brushes are fixed handles that are never freed.
constexpr std::uintptr_t kStockWhite = 0x0100;
constexpr std::uintptr_t kStockLightGrey = 0x0101;

template <typename Slot>
Slot* SlotOf(Slot (&slots)[kSlots], std::uintptr_t handle) {
  if (handle == 0) return nullptr;
  for (Slot& slot : slots)
    if (slot.handle == handle) return &slot;
  return nullptr;
}

template <typename Slot>
Slot* FreeSlot(Slot (&slots)[kSlots]) {
  for (Slot& slot : slots)
    if (slot.handle == 0) return &slot;
  return nullptr;
}

template <typename Slot>
int SlotsInUse(const Slot (&slots)[kSlots]) {
  int count = 0;
  for (const Slot& slot : slots) count += slot.handle != 0 ? 1 : 0;
  return count;
}

bool BrushColour(HBRUSH brush, COLORREF* colour) {
  auto value = reinterpret_cast<std::uintptr_t>(brush);
  if (value == kStockWhite) {
    *colour = RGB(255, 255, 255);
    return true;
  }
  if (value == kStockLightGrey) {
    *colour = RGB(192, 192, 192);
    return true;
  }
  const Brush* slot = SlotOf(TheGdi().brushes, value);
  if (slot == nullptr) return false;
  *colour = slot->colour;
  return true;
}

DeviceContext* Context(HDC dc) {
  return SlotOf(TheGdi().contexts, reinterpret_cast<std::uintptr_t>(dc));
}

std::uintptr_t NextHandle() {
  Gdi& gdi = TheGdi();
  std::uintptr_t handle = gdi.next;
  gdi.next += 4;
  return handle;
}

// Null when every slot is taken, as GDI fails when its table is full.
HDC NewContext(HWND window) {
  DeviceContext* slot = FreeSlot(TheGdi().contexts);
  if (slot == nullptr) return nullptr;
  *slot = DeviceContext{NextHandle(), window, OPAQUE};
  return reinterpret_cast<HDC>(slot->handle);
}

bool DropContext(HDC dc) {
  DeviceContext* slot = Context(dc);
  if (slot == nullptr) return false;
  slot->handle = 0;
  return true;
}

RECT ClientOf(const Window& w) {
  RECT r;
  GetClientRect(w.handle, &r);
  return r;
}

RECT Intersect(const RECT& a, const RECT& b) {
  RECT r{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
         std::min(a.bottom, b.bottom)};
  if (r.right < r.left) r.right = r.left;
  if (r.bottom < r.top) r.bottom = r.top;
  return r;
}

bool Contains(const RECT& outer, const RECT& inner) {
  return inner.left >= outer.left && inner.top >= outer.top && inner.right <= outer.right &&
         inner.bottom <= outer.bottom;
}

// New paint covers what lay entirely beneath it, so the record stays what the
// screen shows and never grows without bound.
void AddOp(Window* w, PaintOp op) {
  auto& ops = w->painted;
  if (op.kind == PaintOp::Kind::kFill) {
    ops.erase(std::remove_if(ops.begin(), ops.end(),
                             [&](const PaintOp& old) { return Contains(op.rect, old.rect); }),
              ops.end());
  } else {
    ops.erase(std::remove_if(ops.begin(), ops.end(),
                             [&](const PaintOp& old) {
                               return old.kind == PaintOp::Kind::kText &&
                                      std::memcmp(&old.rect, &op.rect, sizeof(RECT)) == 0;
                             }),
              ops.end());
  }
  ops.push_back(std::move(op));
}

void DefaultControlPaint(Window* c) {
  // A control draws its own face, over whatever the program painted into it.
  c->painted.clear();
  c->update_pending = false;
  c->erase_pending = false;
}

}  // namespace

void ResetGdi() { TheGdi() = Gdi{}; }

void SetScreenListener(std::function<void()> listener) {
  State().screen_listener = std::move(listener);
}

void ScreenChanged() {
  if (State().screen_listener) State().screen_listener();
}

void Invalidate(Window* window, bool erase, bool with_children) {
  window->update_pending = true;
  window->erase_pending = window->erase_pending || erase;
  if (!with_children) return;
  for (HWND child : window->children)
    if (Window* c = Find(child)) Invalidate(c, erase, true);
}

void Uncover(Window* window) {
  window->painted.clear();
  for (HWND child : window->children)
    if (Window* c = Find(child)) c->painted.clear();
  Invalidate(window, true, true);
}

void PaintPending(Window* window) {
  HWND handle = window->handle;
  // A procedure that asks to be painted again from its own paint handling
  // would loop for ever on Windows; here it gets a few rounds.
  for (int round = 0; round < 4; ++round) {
    window = Find(handle);
    if (window == nullptr || (window->style & WS_VISIBLE) == 0) return;
    bool any = false;
    if (window->update_pending) {
      any = true;
      SendMessageA(handle, WM_PAINT, 0, 0);
      window = Find(handle);
      if (window == nullptr) return;
      window->update_pending = false;
      window->erase_pending = false;
    }
    // By index: a paint handler may change the list, and copying it would
    // allocate on every immediate repaint.
    for (std::size_t i = 0; window != nullptr && i < window->children.size(); ++i) {
      const HWND child = window->children[i];
      Window* c = Find(child);
      if (c == nullptr || !c->update_pending) continue;
      any = true;
      if (c->window_procedure != nullptr || c->dialog_procedure != nullptr) {
        SendMessageA(child, WM_PAINT, 0, 0);
        if (Window* again = Find(child)) again->update_pending = again->erase_pending = false;
        window = Find(handle);
      } else {
        DefaultControlPaint(c);
      }
    }
    if (!any || window == nullptr) return;
  }
}

std::vector<PaintOp> Painted(HWND window) {
  Window* w = Find(window);
  return w == nullptr ? std::vector<PaintOp>{} : w->painted;
}

int PaintedWidth(HWND window, COLORREF colour) {
  Window* w = Find(window);
  if (w == nullptr) return 0;
  int width = 0;
  for (const PaintOp& op : w->painted)
    if (op.kind == PaintOp::Kind::kFill && op.colour == colour && op.rect.left <= 0)
      width = std::max(width, static_cast<int>(op.rect.right));
  return width;
}

void Expose(HWND window) {
  if (Window* w = Find(window)) Uncover(w);
}

int OpenDeviceContexts() { return SlotsInUse(TheGdi().contexts); }
int LiveBrushes() { return SlotsInUse(TheGdi().brushes); }

}  // namespace dialog_model

using dialog_model::Find;
using dialog_model::PaintOp;
using dialog_model::Window;

HDC BeginPaint(HWND window, PAINTSTRUCT* paint) {
  Window* w = Find(window);
  if (w == nullptr || paint == nullptr) return nullptr;
  paint->fErase = w->erase_pending ? 1 : 0;
  if (w->erase_pending) w->painted.clear();
  paint->rcPaint = dialog_model::ClientOf(*w);
  w->update_pending = false;
  w->erase_pending = false;
  paint->hdc = dialog_model::NewContext(window);
  return paint->hdc;
}

BOOL EndPaint(HWND, const PAINTSTRUCT* paint) {
  if (paint == nullptr) return 0;
  dialog_model::DropContext(paint->hdc);
  dialog_model::ScreenChanged();
  return 1;
}

HDC GetDC(HWND window) {
  if (Find(window) == nullptr) return nullptr;
  return dialog_model::NewContext(window);
}

int ReleaseDC(HWND, HDC dc) {
  if (!dialog_model::DropContext(dc)) return 0;
  dialog_model::ScreenChanged();
  return 1;
}

HBRUSH CreateSolidBrush(COLORREF colour) {
  dialog_model::Brush* slot = dialog_model::FreeSlot(dialog_model::TheGdi().brushes);
  if (slot == nullptr) return nullptr;
  *slot = dialog_model::Brush{dialog_model::NextHandle(), colour & 0x00FFFFFF};
  return reinterpret_cast<HBRUSH>(slot->handle);
}

HGDIOBJ GetStockObject(int object) {
  if (object == WHITE_BRUSH) return reinterpret_cast<HGDIOBJ>(dialog_model::kStockWhite);
  if (object == LTGRAY_BRUSH) return reinterpret_cast<HGDIOBJ>(dialog_model::kStockLightGrey);
  return nullptr;
}

BOOL DeleteObject(HGDIOBJ object) {
  dialog_model::Brush* slot = dialog_model::SlotOf(dialog_model::TheGdi().brushes,
                                                   reinterpret_cast<std::uintptr_t>(object));
  if (slot == nullptr) return 0;
  slot->handle = 0;
  return 1;
}

int FillRect(HDC dc, const RECT* rect, HBRUSH brush) {
  dialog_model::DeviceContext* context = dialog_model::Context(dc);
  COLORREF colour = 0;
  if (context == nullptr || rect == nullptr || !dialog_model::BrushColour(brush, &colour)) return 0;
  Window* w = Find(context->window);
  if (w == nullptr) return 0;
  RECT clipped = dialog_model::Intersect(*rect, dialog_model::ClientOf(*w));
  if (clipped.right > clipped.left && clipped.bottom > clipped.top)
    dialog_model::AddOp(w, PaintOp{PaintOp::Kind::kFill, clipped, colour, ""});
  return 1;
}

int SetBkMode(HDC dc, int mode) {
  dialog_model::DeviceContext* context = dialog_model::Context(dc);
  if (context == nullptr || (mode != TRANSPARENT && mode != OPAQUE)) return 0;
  int previous = context->background_mode;
  context->background_mode = mode;
  return previous;
}

int DrawTextA(HDC dc, const char* text, int count, RECT* rect, UINT format) {
  dialog_model::DeviceContext* context = dialog_model::Context(dc);
  if (context == nullptr || text == nullptr || rect == nullptr) return 0;
  Window* w = Find(context->window);
  if (w == nullptr) return 0;
  std::size_t length = count < 0 ? std::strlen(text) : static_cast<std::size_t>(count);
  std::string_view line(text, length);
  // Cut at the first line break before copying: the text may run on for
  // pages (the agreement is drawn from its current line to its end).
  std::size_t end = line.find_first_of("\r\n");
  if ((format & DT_SINGLELINE) == 0 && end != std::string_view::npos) line = line.substr(0, end);
  RECT band = *rect;
  if ((format & DT_NOCLIP) == 0) band = dialog_model::Intersect(band, dialog_model::ClientOf(*w));
  if (!line.empty() && band.bottom > band.top)
    dialog_model::AddOp(w, PaintOp{PaintOp::Kind::kText, band, 0, std::string(line)});
  return dialog_model::kBaseUnitY;
}

BOOL InvalidateRect(HWND window, const RECT*, BOOL erase) {
  Window* w = Find(window);
  if (w == nullptr) return 0;
  // The dialogs do not clip their controls, so these are repainted too.
  dialog_model::Invalidate(w, erase != 0, (w->style & WS_CLIPCHILDREN) == 0);
  return 1;
}

BOOL GetUpdateRect(HWND window, RECT* rect, BOOL) {
  Window* w = Find(window);
  if (w == nullptr || !w->update_pending) return 0;
  if (rect != nullptr) *rect = dialog_model::ClientOf(*w);
  return 1;
}

BOOL UpdateWindow(HWND window) {
  Window* w = Find(window);
  if (w == nullptr) return 0;
  dialog_model::PaintPending(w);
  dialog_model::ScreenChanged();
  return 1;
}
