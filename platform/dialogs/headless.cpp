// The headless view: the autopilot and the script runner, two users of the
// dialog model, and the transcript.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "platform/dialogs/model.h"
#include "platform/dialogs/transcript.h"
#include "platform/dialogs/view_support.h"
#include "platform/dialogs/views.h"
#include "platform/posix/file_read.h"
#include "platform/text_convert.h"
#include "resources/resource.h"

namespace {

std::string Caption(HWND dialog) { return Cp932ToUtf8(dialog_model::WindowText(dialog)); }

bool IsAgreement(HWND dialog) {
  std::string name = dialog_model::TemplateName(dialog);
  return name == "KYODAKU" || name == "KYODAKUUS";
}

bool IsMainDialog(HWND dialog) {
  std::string name = dialog_model::TemplateName(dialog);
  return name == "MainDialog" || name == "MainDialogUS";
}

// A reason is printed as one line, yet it may quote a script's word ("\n"
// in quotes is a line break) or a dialog's text: line breaks and other
// control characters in it are shown escaped.
std::string OneLine(const std::string& text) {
  std::string line;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '\n') {
      line += "\\n";
    } else if (c == '\r') {
      line += "\\r";
    } else if ((byte < 0x20 && c != '\t') || byte == 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
      line += escaped;
    } else {
      line += c;
    }
  }
  return line;
}

// A user that stops the run: the reason is kept for FinishHeadlessView.
class Failing {
 public:
  bool Fail(const std::string& reason) {
    if (error_.empty()) error_ = OneLine(reason);
    dialog_model::GiveUp();
    return false;
  }
  const std::string& error() const { return error_; }

 private:
  std::string error_;
};

// --- the autopilot ---

class Autopilot final : public dialog_model::User, public Failing {
 public:
  Autopilot(int adapter, int target) : adapter_(adapter), target_(target) {}

  bool Act(HWND dialog) override {
    if (++actions_ > 10000)
      return Fail("the autopilot could not finish dialog \"" + Caption(dialog) + "\"");
    if (IsAgreement(dialog)) return Agreement(dialog);
    if (IsMainDialog(dialog)) return Main(dialog);
    return Fail("the autopilot does not know dialog \"" + Caption(dialog) + "\"");
  }

  int Answer(const dialog_model::MessageBoxRecord&) override { return IDOK; }

 private:
  // Reads the text page by page, as a person pages through it, then accepts.
  bool Agreement(HWND dialog) {
    if (!IsWindowEnabled(GetDlgItem(dialog, IDC_AGREE_ACCEPT))) {
      dialog_model::Scroll(dialog, IDC_AGREE_SCROLL, SB_PAGEDOWN);
      return true;
    }
    if (IsDlgButtonChecked(dialog, IDC_AGREE_ACCEPT) != BST_CHECKED) {
      dialog_model::Click(dialog, IDC_AGREE_ACCEPT);
      return true;
    }
    if (!dialog_model::Click(dialog, IDC_AGREE_NEXT)) return Fail("NEXT stays disabled");
    return true;
  }

  bool Main(HWND dialog) {
    if (main_step_ == 0) {
      ++main_step_;
      if (adapter_ >= 0 && target_ >= 0) {
        int row = RowOf(dialog);
        if (row < 0) {
          return Fail("drive " + std::to_string(adapter_) + ":" + std::to_string(target_) +
                      " is not listed");
        }
        dialog_model::Click(dialog, IDC_DRIVE_RADIO1 + row);
      }
      return true;
    }
    if (main_step_ == 1) {
      ++main_step_;
      if (!dialog_model::Click(dialog, IDC_UPDATE)) return Fail("UPDATE is disabled");
      return true;
    }
    if (!dialog_model::Click(dialog, IDC_EXIT)) return Fail("EXIT is disabled after the update");
    return true;
  }

  // The row of the wanted drive among the visible ones, or -1.
  int RowOf(HWND dialog) const {
    for (int row = 0; row < 4; ++row) {
      if (!IsWindowVisible(GetDlgItem(dialog, IDC_DRIVE_RADIO1 + row))) continue;
      int adapter = -1;
      int target = -1;
      if (!view_support::ListedDrive(row, &adapter, &target)) continue;
      if (adapter == adapter_ && target == target_) return row;
    }
    return -1;
  }

  int adapter_;
  int target_;
  int actions_ = 0;
  int main_step_ = 0;
};

// --- the script runner ---

struct Line {
  int number = 0;
  std::vector<std::string> words;  // quoted strings arrive unquoted
};

bool Tokenize(const std::string& text, std::vector<std::string>* words, std::string* error) {
  std::size_t i = 0;
  while (i < text.size()) {
    char c = text[i];
    if (c == ' ' || c == '\t' || c == '\r') {
      ++i;
    } else if (c == '#') {
      break;
    } else if (c == '"') {
      std::string word;
      ++i;
      bool closed = false;
      while (i < text.size()) {
        char d = text[i++];
        if (d == '"') {
          closed = true;
          break;
        }
        if (d == '\\' && i < text.size()) {
          char e = text[i++];
          word += e == 'n' ? '\n' : e == 'r' ? '\r' : e;
        } else {
          word += d;
        }
      }
      if (!closed) {
        *error = "unterminated string";
        return false;
      }
      words->push_back(word);
    } else {
      std::size_t end = i;
      while (end < text.size() && text[end] != ' ' && text[end] != '\t' && text[end] != '\r') ++end;
      words->push_back(text.substr(i, end - i));
      i = end;
    }
  }
  return true;
}

bool IsNumber(const std::string& word) {
  if (word.empty() || word.size() > 9) return false;
  for (char c : word)
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  return true;
}

// Repeat counts stay small enough that a slip of the finger cannot keep a
// run busy for hours.
constexpr int kMaxRepeat = 10000;

bool IsRepeat(const std::string& word) {
  return IsNumber(word) && std::atoi(word.c_str()) <= kMaxRepeat;
}

std::string Lower(std::string word) {
  for (char& c : word) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return word;
}

int ScrollRequest(const std::string& word) {
  std::string w = Lower(word);
  if (w == "up") return SB_LINEUP;
  if (w == "down") return SB_LINEDOWN;
  if (w == "pageup") return SB_PAGEUP;
  if (w == "pagedown") return SB_PAGEDOWN;
  if (w == "drag") return SB_THUMBTRACK;
  if (w == "end") return SB_BOTTOM;
  return -1;
}

int KeyCode(const std::string& word) {
  static const struct {
    const char* name;
    UINT key;
  } keys[] = {{"pagedown", VK_NEXT}, {"pageup", VK_PRIOR}, {"enter", VK_RETURN},
              {"escape", VK_ESCAPE}, {"tab", VK_TAB},      {"space", VK_SPACE},
              {"up", VK_UP},         {"down", VK_DOWN},    {"left", VK_LEFT},
              {"right", VK_RIGHT},   {"home", VK_HOME},    {"end", VK_END}};
  std::string w = Lower(word);
  for (const auto& k : keys)
    if (w == k.name) return static_cast<int>(k.key);
  if (IsNumber(word) && std::atoi(word.c_str()) < 256) return std::atoi(word.c_str());
  return -1;
}

const char* const kStates[] = {"enabled", "disabled", "visible", "hidden", "checked", "unchecked"};

// Checks a line's form once, when the script is read.
bool Validate(const Line& line, std::string* error) {
  const auto& w = line.words;
  const std::string verb = Lower(w[0]);
  auto count = [&](std::size_t low, std::size_t high) {
    if (w.size() < low || w.size() > high) {
      *error = "wrong number of words for '" + w[0] + "'";
      return false;
    }
    return true;
  };
  if (verb == "click") return count(2, 2);
  if (verb == "answer") {
    if (!count(2, 2)) return false;
    if (Lower(w[1]) != "ok" && Lower(w[1]) != "cancel") {
      *error = "answer OK or answer Cancel";
      return false;
    }
    return true;
  }
  if (verb == "key") {
    if (!count(2, 3)) return false;
    if (KeyCode(w[1]) < 0) {
      *error = "unknown key '" + w[1] + "'";
      return false;
    }
    if (w.size() == 3 && !IsRepeat(w[2])) {
      *error = "a repeat count must be a number up to 10000";
      return false;
    }
    return true;
  }
  if (verb == "scroll") {
    if (!count(2, 4)) return false;
    std::size_t at = IsNumber(w[1]) && w.size() > 2 && ScrollRequest(w[2]) >= 0 ? 2 : 1;
    if (ScrollRequest(w[at]) < 0) {
      *error = "scroll up, down, pageup, pagedown, drag POSITION or end";
      return false;
    }
    bool drag = Lower(w[at]) == "drag";
    if (drag && (w.size() != at + 2 || !IsNumber(w[at + 1]))) {
      *error = "drag needs a position";
      return false;
    }
    if (!drag && w.size() > at + 2) {
      *error = "too many words";
      return false;
    }
    if (!drag && w.size() == at + 2 && (!IsRepeat(w[at + 1]) || Lower(w[at]) == "end")) {
      *error = "a repeat count must be a number up to 10000";
      return false;
    }
    return true;
  }
  if (verb == "expect") {
    if (w.size() < 2) {
      *error = "expect what?";
      return false;
    }
    const std::string what = Lower(w[1]);
    if (what == "dialog" || what == "template" || what == "message") return count(3, 3);
    if (what == "no-message") return count(2, 2);
    if (what == "text" || what == "drawn") return count(4, 4);
    if (what == "bar") {
      if (!count(3, 3)) return false;
      if (!IsNumber(w[2])) {
        *error = "expect bar needs a width in pixels";
        return false;
      }
      return true;
    }
    for (const char* state : kStates)
      if (what == state) return count(3, 3);
    *error = "unknown expectation '" + w[1] + "'";
    return false;
  }
  *error = "unknown action '" + w[0] + "'";
  return false;
}

class ScriptRunner final : public dialog_model::User, public Failing {
 public:
  ScriptRunner(std::string path, std::vector<Line> lines)
      : path_(std::move(path)), lines_(std::move(lines)) {}

  bool Act(HWND dialog) override {
    while (next_ < lines_.size()) {
      const Line& line = lines_[next_++];
      const std::string verb = Lower(line.words[0]);
      if (verb == "expect") {
        if (!Expect(line, dialog)) return false;
      } else if (verb == "answer") {
        queued_answer_ = Lower(line.words[1]) == "ok" ? IDOK : IDCANCEL;
      } else {
        return Perform(line, dialog);
      }
    }
    return Fail(path_ + ": the script ended while dialog \"" + Caption(dialog) + "\" was open");
  }

  int Answer(const dialog_model::MessageBoxRecord&) override {
    if (queued_answer_ != 0) {
      int answer = queued_answer_;
      queued_answer_ = 0;
      return answer;
    }
    std::vector<HWND> open = dialog_model::OpenDialogs();
    HWND dialog = open.empty() ? nullptr : open.back();
    while (next_ < lines_.size()) {
      const Line& line = lines_[next_];
      const std::string verb = Lower(line.words[0]);
      if (verb == "expect") {
        ++next_;
        if (!Expect(line, dialog)) return IDCANCEL;
      } else if (verb == "answer") {
        ++next_;
        return Lower(line.words[1]) == "ok" ? IDOK : IDCANCEL;
      } else {
        break;  // an action for a dialog: this box just gets OK
      }
    }
    return IDOK;
  }

  // What is left once the program has returned.
  void Finish() {
    while (error().empty() && next_ < lines_.size()) {
      const Line& line = lines_[next_++];
      if (Lower(line.words[0]) == "expect") {
        Expect(line, nullptr);
      } else if (Lower(line.words[0]) != "answer") {
        Fail(Where(line) + ": no dialog is open for '" + line.words[0] + "'");
      }
    }
  }

 private:
  std::string Where(const Line& line) const { return path_ + ":" + std::to_string(line.number); }

  bool FailAt(const Line& line, const std::string& what) { return Fail(Where(line) + ": " + what); }

  // A control named by id or by its text in the dialog.
  HWND Target(const Line& line, HWND dialog, const std::string& name) {
    if (dialog == nullptr) {
      FailAt(line, "no dialog is open");
      return nullptr;
    }
    HWND control = nullptr;
    if (IsNumber(name)) {
      control = GetDlgItem(dialog, std::atoi(name.c_str()));
    } else {
      std::string cp932;
      if (Utf8ToCp932(name, &cp932)) control = dialog_model::FindControlByText(dialog, cp932);
    }
    if (control == nullptr)
      FailAt(line, "dialog \"" + Caption(dialog) + "\" has no control " + name);
    return control;
  }

  bool Perform(const Line& line, HWND dialog) {
    const auto& w = line.words;
    const std::string verb = Lower(w[0]);
    if (verb == "click") {
      HWND control = Target(line, dialog, w[1]);
      if (control == nullptr) return false;
      dialog_model::Click(dialog, GetDlgCtrlID(control));
      return true;
    }
    if (verb == "key") {
      int repeat = w.size() == 3 ? std::atoi(w[2].c_str()) : 1;
      for (int i = 0; i < repeat && !dialog_model::GivenUp(); ++i)
        dialog_model::PressKey(dialog, static_cast<UINT>(KeyCode(w[1])));
      return true;
    }
    // scroll [TARGET] REQUEST [COUNT|POSITION]
    std::size_t at = IsNumber(w[1]) && w.size() > 2 && ScrollRequest(w[2]) >= 0 ? 2 : 1;
    int id = 0;
    if (at == 2) {
      id = std::atoi(w[1].c_str());
    } else {
      for (HWND control : dialog_model::Controls(dialog)) {
        if (IsScrollBar(control)) {
          id = GetDlgCtrlID(control);
          break;
        }
      }
    }
    if (id == 0 || !IsScrollBar(GetDlgItem(dialog, id)))
      return FailAt(line, "dialog \"" + Caption(dialog) + "\" has no such scroll bar");
    const std::string request = Lower(w[at]);
    if (request == "drag") {
      dialog_model::DragThumb(dialog, id, std::atoi(w[at + 1].c_str()));
    } else if (request == "end") {
      dialog_model::DragThumb(dialog, id, 0xFFFF);
    } else {
      int repeat = w.size() == at + 2 ? std::atoi(w[at + 1].c_str()) : 1;
      for (int i = 0; i < repeat && !dialog_model::GivenUp(); ++i)
        dialog_model::Scroll(dialog, id, ScrollRequest(request));
    }
    return true;
  }

  static bool IsScrollBar(HWND control) {
    SCROLLINFO info{sizeof(SCROLLINFO), SIF_RANGE, 0, 0, 0, 0, 0};
    return control != nullptr && GetScrollInfo(control, SB_CTL, &info) != 0;
  }

  bool Expect(const Line& line, HWND dialog) {
    const auto& w = line.words;
    const std::string what = Lower(w[1]);
    if (what == "message" || what == "no-message") {
      const auto& boxes = dialog_model::MessageBoxes();
      if (what == "no-message") {
        if (seen_messages_ < boxes.size())
          return FailAt(line,
                        "unexpected message \"" + Cp932ToUtf8(boxes[seen_messages_].text) + "\"");
        return true;
      }
      if (seen_messages_ >= boxes.size())
        return FailAt(line, "expected message \"" + w[2] + "\", none was shown");
      std::string shown = Cp932ToUtf8(boxes[seen_messages_++].text);
      if (shown != w[2])
        return FailAt(line, "expected message \"" + w[2] + "\", shown \"" + shown + "\"");
      return true;
    }
    if (dialog == nullptr) return FailAt(line, "no dialog is open");
    if (what == "dialog") {
      if (Caption(dialog) != w[2])
        return FailAt(line,
                      "expected dialog \"" + w[2] + "\", open is \"" + Caption(dialog) + "\"");
      return true;
    }
    if (what == "template") {
      if (dialog_model::TemplateName(dialog) != w[2])
        return FailAt(
            line, "expected template " + w[2] + ", open is " + dialog_model::TemplateName(dialog));
      return true;
    }
    if (what == "bar") {
      int width = dialog_model::PaintedWidth(GetDlgItem(dialog, IDC_PROGRESS_BAR), 0xFF0000);
      if (width != std::atoi(w[2].c_str()))
        return FailAt(line,
                      "expected a bar " + w[2] + " pixels wide, painted " + std::to_string(width));
      return true;
    }
    HWND control = Target(line, dialog, w[2]);
    if (control == nullptr) return false;
    if (what == "text") {
      std::string text = Cp932ToUtf8(dialog_model::WindowText(control));
      if (text != w[3])
        return FailAt(line, "expected text \"" + w[3] + "\", found \"" + text + "\"");
      return true;
    }
    if (what == "drawn") {
      std::string wanted;
      Utf8ToCp932(w[3], &wanted);
      for (const auto& op : dialog_model::Painted(control))
        if (op.kind == dialog_model::PaintOp::Kind::kText && op.text == wanted) return true;
      return FailAt(line, "\"" + w[3] + "\" is not drawn in control " + w[2]);
    }
    bool actual = false;
    bool wanted = true;
    if (what == "enabled" || what == "disabled") {
      actual = IsWindowEnabled(control) != 0;
      wanted = what == "enabled";
    } else if (what == "visible" || what == "hidden") {
      actual = IsWindowVisible(control) != 0;
      wanted = what == "visible";
    } else {
      actual = IsDlgButtonChecked(dialog, GetDlgCtrlID(control)) == BST_CHECKED;
      wanted = what == "checked";
    }
    if (actual != wanted) return FailAt(line, "control " + w[2] + " is not " + what);
    return true;
  }

  std::string path_;
  std::vector<Line> lines_;
  std::size_t next_ = 0;
  std::size_t seen_messages_ = 0;
  int queued_answer_ = 0;
};

// Nobody at the keyboard: questions get OK, a waiting dialog ends the run.
class NoUser final : public dialog_model::User, public Failing {
 public:
  bool Act(HWND dialog) override {
    return Fail("nobody can answer dialog \"" + Caption(dialog) + "\" (use --yes or --script)");
  }
  int Answer(const dialog_model::MessageBoxRecord&) override { return IDOK; }
};

struct Headless {
  std::unique_ptr<Autopilot> autopilot;
  std::unique_ptr<ScriptRunner> script;
  std::unique_ptr<NoUser> nobody;
};

Headless& TheView() {
  static Headless view;
  return view;
}

}  // namespace

void SetScreenSize(int width, int height) { dialog_model::SetScreenSize(width, height); }

bool StartHeadlessView(std::FILE* transcript, const char* script_path, bool autopilot,
                       int drive_adapter, int drive_target, std::string* error) {
  Headless& view = TheView();
  view = Headless{};
  SetTranscript(transcript);
  if (script_path != nullptr && *script_path != '\0') {
    // A directory or an unreadable file is refused, never read as empty.
    std::string script;
    if (!ReadRegularFile(script_path, &script, error)) return false;
    std::istringstream in(script);
    std::vector<Line> lines;
    std::string text;
    int number = 0;
    while (std::getline(in, text)) {
      ++number;
      Line line;
      line.number = number;
      std::string reason;
      if (!Tokenize(text, &line.words, &reason) ||
          (!line.words.empty() && !Validate(line, &reason))) {
        if (error != nullptr)
          *error = OneLine(std::string(script_path) + ":" + std::to_string(number) + ": " + reason);
        return false;
      }
      if (!line.words.empty()) lines.push_back(std::move(line));
    }
    view.script = std::make_unique<ScriptRunner>(script_path, std::move(lines));
    dialog_model::SetUser(view.script.get());
  } else if (autopilot) {
    view.autopilot = std::make_unique<Autopilot>(drive_adapter, drive_target);
    dialog_model::SetUser(view.autopilot.get());
  } else {
    view.nobody = std::make_unique<NoUser>();
    dialog_model::SetUser(view.nobody.get());
  }
  return true;
}

int FinishHeadlessView(std::string* error) {
  Headless& view = TheView();
  std::string reason;
  if (view.script) {
    view.script->Finish();
    reason = view.script->error();
  } else if (view.autopilot) {
    reason = view.autopilot->error();
  } else if (view.nobody) {
    reason = view.nobody->error();
  }
  dialog_model::SetUser(nullptr);
  view = Headless{};
  if (error != nullptr) *error = reason;
  return reason.empty() ? 0 : 2;
}
