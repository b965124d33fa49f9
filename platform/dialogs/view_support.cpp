#include "platform/dialogs/view_support.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "platform/dialogs/model_state.h"
#include "platform/dialogs/resource_tables.h"
#include "platform/dialogs/views.h"
#include "platform/files.h"
#include "platform/platform.h"
#include "platform/system.h"
#include "platform/text_convert.h"

namespace {
ListedDriveQuery g_listed_drive = nullptr;
ListedDriveModelQuery g_listed_model = nullptr;
}  // namespace

void SetListedDriveQuery(ListedDriveQuery query) { g_listed_drive = query; }
void SetListedDriveModelQuery(ListedDriveModelQuery query) { g_listed_model = query; }

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

// Punctuation that closes a phrase and so may not start a line (the usual
// Japanese rule), with small kana and the long vowel mark.
bool ClosesLine(std::string_view utf8_char) {
  static constexpr std::string_view kClosing[] = {
      "、", "。", "，", "．", "・", "：", "；", "？", "！", "ー", "ゝ", "ゞ", "ヽ",
      "ヾ", "々", "」", "』", "）", "】", "〕", "〉", "》", "］", "｝", "〙", "〗",
      "”",  "’",  "ぁ", "ぃ", "ぅ", "ぇ", "ぉ", "っ", "ゃ", "ゅ", "ょ", "ゎ", "ァ",
      "ィ", "ゥ", "ェ", "ォ", "ッ", "ャ", "ュ", "ョ", "ヮ", "ヵ", "ヶ", ")",  "]",
      "}",  ",",  ".",  "!",  "?",  ":",  ";",  "｡",  "､",  "｣"};
  return std::find(std::begin(kClosing), std::end(kClosing), utf8_char) != std::end(kClosing);
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
    control.group_start = (c->style & WS_GROUP) != 0;
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

std::vector<const ControlPicture*> KeyboardStops(const DialogPicture& dialog) {
  const auto usable = [](const ControlPicture& c) { return c.visible && c.enabled; };
  std::vector<const ControlPicture*> stops;
  const auto& controls = dialog.controls;
  std::size_t i = 0;
  while (i < controls.size()) {
    // One group: up to the next control that starts one.
    std::size_t end = i + 1;
    while (end < controls.size() && !controls[end].group_start) ++end;
    const ControlPicture* first_radio = nullptr;
    const ControlPicture* checked = nullptr;
    int radios = 0;
    bool has_stop = false;
    for (std::size_t k = i; k < end; ++k) {
      const ControlPicture& c = controls[k];
      if (!usable(c)) continue;
      has_stop = has_stop || c.tab_stop;
      if (c.face != Face::kRadioButton) continue;
      ++radios;
      if (first_radio == nullptr) first_radio = &c;
      if (c.checked && checked == nullptr) checked = &c;
    }
    const ControlPicture* entry =
        !has_stop && radios >= 2 ? (checked != nullptr ? checked : first_radio) : nullptr;
    for (std::size_t k = i; k < end; ++k)
      if ((controls[k].tab_stop && usable(controls[k])) || &controls[k] == entry)
        stops.push_back(&controls[k]);
    i = end;
  }
  return stops;
}

void MoveFocus(HWND dialog, bool backwards) {
  DialogPicture picture = Snapshot(dialog);
  auto stops = KeyboardStops(picture);
  if (stops.empty()) return;
  // The focused control's place in template order, also when it is no stop
  // (disabled meanwhile, or a radio button that is not the checked one).
  std::size_t at = picture.controls.size();
  for (std::size_t k = 0; k < picture.controls.size(); ++k)
    if (picture.controls[k].focused) at = k;
  const ControlPicture* target = nullptr;
  if (at == picture.controls.size()) {
    target = backwards ? stops.back() : stops.front();
  } else if (backwards) {
    target = stops.back();
    for (const ControlPicture* s : stops)
      if (s < &picture.controls[at]) target = s;
  } else {
    target = stops.front();
    for (auto it = stops.rbegin(); it != stops.rend(); ++it)
      if (*it > &picture.controls[at]) target = *it;
  }
  dialog_model::FocusOn(dialog, target->id);
}

void KeepFocusUsable(HWND dialog) {
  // Disabling the focused control hands the focus to the dialog itself,
  // where no key but Tab does anything.
  if (dialog_model::Focus() == dialog) {
    MoveFocus(dialog, false);
    return;
  }
  for (const ControlPicture& c : Snapshot(dialog).controls)
    if (c.focused && !(c.visible && c.enabled)) MoveFocus(dialog, false);
}

bool ListedDrive(int row, int* adapter, int* target) {
  return g_listed_drive != nullptr && g_listed_drive(row, adapter, target);
}

namespace {
bool g_offer_autopilot = false;
}  // namespace

void OfferAutopilot(bool offer) { g_offer_autopilot = offer; }

std::string AnswerSources() {
  return ViewLine(g_offer_autopilot ? ViewText::kAnswerSources : ViewText::kAnswerSourcesHere);
}

// Before a platform is installed (or after it is taken down) there is no
// run's language to ask for: the lines are English then.
bool JapaneseRun() {
  return CurrentPlatform().system != nullptr && (GetUserDefaultLangID() & 0x3FF) == 0x11;
}

LargestDialogs LargestDialogsOfRun() {
  using dialog_model::DluToPixelsX;
  using dialog_model::DluToPixelsY;
  const bool japanese = JapaneseRun();
  auto find = [](const char* name) -> const resource_tables::DialogTemplate* {
    for (int i = 0; i < resource_tables::kDialogCount; ++i)
      if (std::string_view(resource_tables::kDialogs[i].name) == name)
        return &resource_tables::kDialogs[i];
    return nullptr;
  };
  // Every dialog has a modal frame and a caption.
  auto outer = [](const resource_tables::DialogTemplate* t) {
    if (t == nullptr) return WindowSize{};
    return WindowSize{
        DluToPixelsX(t->cx) + 2 * dialog_model::kDialogFrame,
        DluToPixelsY(t->cy) + 2 * dialog_model::kDialogFrame + dialog_model::kCaptionHeight};
  };
  LargestDialogs sizes;
  sizes.agreement = outer(find(japanese ? "KYODAKU" : "KYODAKUUS"));
  const resource_tables::DialogTemplate* main = find(japanese ? "MainDialog" : "MainDialogUS");
  sizes.main = outer(main);
  // Each drive after the first adds the pitch of the rows' radio buttons,
  // the first two radio buttons of the template.
  if (main != nullptr) {
    int rows[2];
    int found = 0;
    for (int i = 0; i < main->control_count && found < 2; ++i) {
      const resource_tables::ControlTemplate& c = main->controls[i];
      if ((c.style & BS_TYPEMASK) == BS_AUTORADIOBUTTON &&
          std::string_view(c.class_name) == "Button")
        rows[found++] = c.y;
    }
    if (found == 2) sizes.main_grows_by = 3 * (DluToPixelsY(rows[1]) - DluToPixelsY(rows[0]));
  }
  return sizes;
}

std::string ViewLine(ViewText text, ...) {
  const int index = static_cast<int>(text);
  if (index < 0 || index >= kViewTextCount) return "";
  // Stored as the catalogue stores it; UTF-8 from here on.
  std::string format =
      Cp932ToUtf8(JapaneseRun() ? kViewTextsCp932[index] : kViewTexts[index].english);
  char line[512];
  std::va_list args;
  va_start(args, text);
  std::vsnprintf(line, sizeof line, format.c_str(), args);
  va_end(args);
  return line;
}

std::string DriveRowStatus(const DialogPicture& dialog) {
  std::string name = dialog_model::TemplateName(dialog.handle);
  if (name != "MainDialog" && name != "MainDialogUS") return "";
  // The rows are the radio buttons of the dialog, in order; the focused one
  // is described, else the checked one.
  int rows = 0;
  int row = -1;
  int checked = -1;
  std::string link;
  std::string checked_link;
  for (const ControlPicture& c : dialog.controls) {
    if (c.face != Face::kRadioButton || !c.visible) continue;
    if (c.focused) row = rows, link = c.text;
    if (c.checked) checked = rows, checked_link = c.text;
    ++rows;
  }
  if (row < 0) row = checked, link = checked_link;
  int adapter = 0;
  int target = 0;
  if (row < 0 || !ListedDrive(row, &adapter, &target)) return "";
  char product[32] = "";
  if (g_listed_model == nullptr || !g_listed_model(row, product, sizeof product))
    std::snprintf(product, sizeof product, "?");
  return ViewLine(ViewText::kDriveRowStatus, row + 1, rows, product, adapter, target, link.c_str());
}

std::vector<std::string> JoinBrokenLines(const std::vector<std::string>& lines) {
  // A line the author had to break: within two bytes of the stored line's
  // room (38 bytes of code page 932, 19 wide characters), ending in a wide
  // character.
  constexpr std::size_t kFullLine = 36;
  const auto broken = [](const std::string& line) {
    // Wide when the UTF-8 form ends in a byte outside ASCII.
    std::string utf8 = Cp932ToUtf8(line);
    return line.size() >= kFullLine && !utf8.empty() &&
           static_cast<unsigned char>(utf8.back()) >= 0x80;
  };
  const auto indented = [](const std::string& utf8) {
    return utf8.empty() || utf8[0] == ' ' || utf8.rfind("　", 0) == 0;
  };
  std::vector<std::string> out;
  bool join = false;
  for (const std::string& line : lines) {
    std::string utf8 = Cp932ToUtf8(line);
    if (join && !out.empty() && !indented(utf8)) {
      out.back() += utf8;
    } else {
      out.push_back(utf8);
    }
    join = broken(line);
  }
  return out;
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
      std::vector<std::size_t> starts;  // where each character of the head begins
      while (fit < paragraph.size()) {
        std::size_t next = fit + CharLength(paragraph.substr(fit));
        if (measure(paragraph.substr(0, next)) > width && fit > 0) break;
        if (paragraph[fit] == ' ') last_blank = fit;
        starts.push_back(fit);
        fit = next;
      }
      std::size_t cut = fit;
      std::size_t resume = fit;
      if (fit < paragraph.size() && last_blank != std::string_view::npos && last_blank > 0) {
        cut = last_blank;
        resume = last_blank + 1;
      } else {
        // Closing punctuation never starts a line: the characters before it
        // go down with it, as long as something stays on this line.
        while (cut < paragraph.size() && starts.size() > 1 &&
               ClosesLine(paragraph.substr(cut, CharLength(paragraph.substr(cut))))) {
          cut = starts.back();
          starts.pop_back();
        }
        resume = cut;
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

AreaText TextAreaLines(const ControlPicture& area, int width,
                       const std::function<int(std::string_view)>& measure) {
  std::vector<const dialog_model::PaintOp*> texts;
  for (const auto& op : area.painted)
    if (op.kind == dialog_model::PaintOp::Kind::kText) texts.push_back(&op);
  std::stable_sort(texts.begin(), texts.end(),
                   [](auto* a, auto* b) { return a->rect.top < b->rect.top; });
  AreaText out;
  std::vector<std::string> painted;
  for (const auto* op : texts) {
    painted.push_back(op->text);
    out.bands.push_back(op->rect);
  }
  for (const std::string& line : JoinBrokenLines(painted))
    for (std::string& part : Wrap(line, width, measure)) out.lines.push_back(std::move(part));
  if (out.lines.size() <= painted.size()) return out;
  out.lines.clear();
  for (const std::string& line : painted) out.lines.push_back(Cp932ToUtf8(line));
  return out;
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

int BoxKeyAnswer(const dialog_model::MessageBoxRecord& box, BoxKey key, std::size_t* focus) {
  const std::size_t count = BoxButtons(box).size();
  if (*focus >= count) *focus = 0;
  switch (key) {
    case BoxKey::kNext:
      *focus = (*focus + 1) % count;
      return 0;
    case BoxKey::kPrevious:
      *focus = (*focus + count - 1) % count;
      return 0;
    case BoxKey::kPress:
      return BoxButtons(box)[*focus].answer;
    case BoxKey::kClose:
      return CloseAnswer(box);
  }
  return 0;
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

void KeepLastRun(const char* text, std::size_t size) {
  char path[kMaxPath];
  const DWORD length = GetWindowsDirectoryA(path, kMaxPath - 16);
  if (length == 0 || length >= kMaxPath - 16) return;
  std::strcat(path, "\\last-run.log");
  HANDLE file = CreateAlwaysFile(path);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, text, static_cast<DWORD>(size), &written);
  FlushFileBuffers(file);
  CloseFile(file);
}

}  // namespace view_support
