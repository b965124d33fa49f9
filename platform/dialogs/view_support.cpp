#include "platform/dialogs/view_support.h"

#include <algorithm>

#include "platform/dialogs/model_state.h"
#include "platform/text_convert.h"

namespace view_support {
namespace {

Face FaceOf(const dialog_model::Window& w) {
  using dialog_model::Kind;
  switch (w.kind) {
    case Kind::kButton:
      switch (w.style & BS_TYPEMASK) {
        case BS_PUSHBUTTON:
          return Face::kPushButton;
        case BS_DEFPUSHBUTTON:
          return Face::kDefaultButton;
        case BS_AUTORADIOBUTTON:
          return Face::kRadioButton;
        default:
          return Face::kOther;
      }
    case Kind::kStatic:
      if ((w.ex_style & WS_EX_CLIENTEDGE) != 0 || (w.style & WS_BORDER) != 0)
        return Face::kTextArea;
      if ((w.style & SS_SUNKEN) != 0) return Face::kSunkenFrame;
      return Face::kText;
    case Kind::kScrollBar:
      return Face::kScrollBar;
    default:
      return Face::kOther;
  }
}

}  // namespace

DialogPicture Snapshot(HWND handle) {
  DialogPicture picture;
  const dialog_model::Window* d = dialog_model::Find(handle);
  if (d == nullptr) return picture;
  picture.handle = handle;
  picture.caption = Cp932ToUtf8(d->text);
  picture.window = dialog_model::ScreenRect(*d);
  RECT inset = dialog_model::Insets(*d);
  picture.client = RECT{picture.window.left + inset.left, picture.window.top + inset.top,
                        picture.window.right - inset.right, picture.window.bottom - inset.bottom};
  picture.close_box = (d->style & WS_SYSMENU) != 0;
  picture.painted = d->painted;
  HWND focus = dialog_model::Focus();
  for (HWND child : d->children) {
    const dialog_model::Window* c = dialog_model::Find(child);
    if (c == nullptr) continue;
    ControlPicture control;
    control.handle = child;
    control.id = c->id;
    control.face = FaceOf(*c);
    control.rect = c->rect;
    RECT edge = dialog_model::Insets(*c);
    control.client = RECT{c->rect.left + edge.left, c->rect.top + edge.top,
                          c->rect.right - edge.right, c->rect.bottom - edge.bottom};
    control.text = Cp932ToUtf8(c->text);
    control.visible = (c->style & WS_VISIBLE) != 0;
    control.enabled = (c->style & WS_DISABLED) == 0;
    control.checked = c->check == BST_CHECKED;
    control.focused = child == focus;
    control.tab_stop = (c->style & WS_TABSTOP) != 0;
    control.centre_vertically = (c->style & SS_CENTERIMAGE) != 0;
    const int page = static_cast<int>(c->scroll.page);
    control.scroll =
        ScrollBarPicture{c->scroll.min, c->scroll.max, page, c->scroll.pos,
                         std::max(c->scroll.min, c->scroll.max - std::max(page - 1, 0))};
    control.painted = c->painted;
    picture.controls.push_back(std::move(control));
  }
  return picture;
}

std::vector<const ControlPicture*> TabStops(const DialogPicture& dialog) {
  std::vector<const ControlPicture*> stops;
  for (const ControlPicture& c : dialog.controls)
    if (c.tab_stop && c.visible && c.enabled) stops.push_back(&c);
  return stops;
}

std::size_t CharLength(std::string_view text) {
  if (text.empty()) return 0;
  unsigned char lead = static_cast<unsigned char>(text[0]);
  std::size_t n = lead < 0x80           ? 1
                  : (lead >> 5) == 0x6  ? 2
                  : (lead >> 4) == 0xE  ? 3
                  : (lead >> 3) == 0x1E ? 4
                                        : 1;
  if (n > text.size()) return 1;
  for (std::size_t i = 1; i < n; ++i)
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) return 1;
  return n;
}

std::vector<std::string> Wrap(std::string_view text, int width,
                              const std::function<int(std::string_view)>& measure) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find('\n', start);
    std::string_view paragraph =
        text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    if (!paragraph.empty() && paragraph.back() == '\r') paragraph.remove_suffix(1);
    do {
      // The longest head of the paragraph that fits, whole characters only.
      std::size_t fit = 0;
      std::size_t last_blank = std::string_view::npos;
      while (fit < paragraph.size()) {
        std::size_t next = fit + CharLength(paragraph.substr(fit));
        if (measure(paragraph.substr(0, next)) > width && fit > 0) break;
        if (paragraph[fit] == ' ') last_blank = fit;
        fit = next;
      }
      std::size_t cut = fit;
      std::size_t resume = fit;
      if (fit < paragraph.size() && last_blank != std::string_view::npos && last_blank > 0) {
        cut = last_blank;
        resume = last_blank + 1;
      }
      lines.emplace_back(paragraph.substr(0, cut));
      paragraph.remove_prefix(resume);
      while (!paragraph.empty() && paragraph.front() == ' ' && resume != fit)
        paragraph.remove_prefix(1);
    } while (!paragraph.empty());
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  return lines;
}

std::vector<BoxButton> BoxButtons(const dialog_model::MessageBoxRecord& box) {
  bool japanese = (box.language & 0x3FF) == 0x11;
  std::vector<BoxButton> buttons{{IDOK, "OK"}};
  if ((box.style & 0x0F) == MB_OKCANCEL)
    buttons.push_back({IDCANCEL, japanese ? "キャンセル" : "Cancel"});
  return buttons;
}

int CloseAnswer(const dialog_model::MessageBoxRecord& box) {
  return (box.style & 0x0F) == MB_OKCANCEL ? IDCANCEL : IDOK;
}

dialog_model::MessageBoxRecord PowerNoticeBox(std::string_view cp932_text) {
  dialog_model::MessageBoxRecord box{};
  std::vector<HWND> open = dialog_model::OpenDialogs();
  box.owner = open.empty() ? nullptr : open.back();
  box.text = std::string(cp932_text);
  if (box.owner != nullptr) box.caption = dialog_model::WindowText(box.owner);
  box.style = MB_OK | MB_ICONEXCLAMATION;
  return box;
}

}  // namespace view_support
