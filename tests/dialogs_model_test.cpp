// The dialog model itself: templates compiled from the resource script,
// dialog units, window creation and ending, message order, message boxes
// and the version resource; and the line breaking that the views share.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/dialogs/model.h"
#include "platform/dialogs/resource_tables.h"
#include "platform/dialogs/view_support.h"
#include "platform/dialogs/views.h"
#include "platform/text_convert.h"
#include "resources/resource.h"
#include "tests/support/dialogs_user.h"
#include "tests/support/transcript_capture.h"

namespace {

const resource_tables::DialogTemplate* Template(const char* name) {
  for (int i = 0; i < resource_tables::kDialogCount; ++i)
    if (std::strcmp(resource_tables::kDialogs[i].name, name) == 0)
      return &resource_tables::kDialogs[i];
  return nullptr;
}

const resource_tables::ControlTemplate* ControlOf(const resource_tables::DialogTemplate* t,
                                                  int id) {
  for (int i = 0; i < t->control_count; ++i)
    if (t->controls[i].id == id) return &t->controls[i];
  return nullptr;
}

TEST(ResourceScriptTest, TemplatesCarryTheStatementDefaultsStylesAndTheJapaneseFontName) {
  for (const char* name : {"KYODAKU", "KYODAKUUS", "MainDialog", "MainDialogUS"}) {
    const auto* t = Template(name);
    ASSERT_NE(t, nullptr) << name;
    // "ＭＳ Ｐゴシック" in code page 932.
    EXPECT_STREQ(t->font_face, "\x82\x6C\x82\x72\x20\x82\x6F\x83\x53\x83\x56\x83\x62\x83\x4E");
    EXPECT_EQ(t->font_points, 9);
    EXPECT_EQ(t->style, WS_POPUP | WS_CAPTION | DS_MODALFRAME | DS_SYSMODAL | DS_SETFONT) << name;
    EXPECT_EQ(t->style & WS_SYSMENU, 0u);  // no close box
  }
  const auto* us = Template("KYODAKUUS");
  EXPECT_EQ(ControlOf(us, IDC_AGREE_NEXT)->style,
            WS_CHILD | WS_VISIBLE | BS_DEFPUSHBUTTON | WS_GROUP | WS_TABSTOP | WS_DISABLED);
  // Tab reaches the scroll bar, both choices and NEXT of the agreement, and
  // UPDATE and EXIT of the main dialog; an explicit style must not lose it.
  const struct {
    const char* name;
    int id;
    bool tab_stop;
  } stops[] = {
      {"KYODAKU", IDC_AGREE_SCROLL, true},   {"KYODAKU", IDC_AGREE_ACCEPT, true},
      {"KYODAKU", IDC_AGREE_DECLINE, true},  {"KYODAKU", IDC_AGREE_NEXT, true},
      {"KYODAKU", IDC_AGREE_TEXT, false},    {"KYODAKUUS", IDC_AGREE_SCROLL, true},
      {"KYODAKUUS", IDC_AGREE_ACCEPT, true}, {"KYODAKUUS", IDC_AGREE_DECLINE, true},
      {"KYODAKUUS", IDC_AGREE_NEXT, true},   {"KYODAKUUS", IDC_AGREE_TEXT, false},
      {"MainDialog", IDC_UPDATE, true},      {"MainDialog", IDC_EXIT, true},
      {"MainDialogUS", IDC_UPDATE, true},    {"MainDialogUS", IDC_EXIT, true},
  };
  for (const auto& s : stops)
    EXPECT_EQ((ControlOf(Template(s.name), s.id)->style & WS_TABSTOP) != 0, s.tab_stop)
        << s.name << " " << s.id;
  EXPECT_EQ(ControlOf(us, IDC_AGREE_TEXT)->ex_style, WS_EX_CLIENTEDGE);
  EXPECT_STREQ(ControlOf(us, IDC_AGREE_SCROLL)->class_name, "ScrollBar");
  const auto* main = Template("MainDialogUS");
  // NOT WS_VISIBLE clears the implied visibility; a plain PUSHBUTTON gets a tab stop.
  EXPECT_EQ(ControlOf(main, IDC_DRIVE_RADIO2)->style, WS_CHILD | BS_AUTORADIOBUTTON);
  EXPECT_EQ(ControlOf(main, IDC_UPDATE)->style, WS_CHILD | WS_VISIBLE | WS_TABSTOP);
  EXPECT_EQ(ControlOf(main, IDC_DRIVE_RADIO2)->y, 30);
  EXPECT_EQ(ControlOf(Template("MainDialog"), IDC_DRIVE_RADIO2)->y, 31);
  EXPECT_STREQ(ControlOf(main, IDC_FW_LABEL3)->text, "F/W         version");
}

TEST(DialogUnitsTest, ConvertWithTheBaseUnitsRoundingHalvesAway) {
  struct Case {
    int units;
    int x;
    int y;
  };
  const Case cases[] = {{4, 7, 7},       {8, 14, 13},     {1, 2, 2},
                        {2, 4, 3},       {6, 11, 10},     {139, 243, 226},
                        {135, 236, 219}, {223, 390, 362}, {159, 278, 258}};
  for (const Case& c : cases) {
    EXPECT_EQ(dialog_model::DluToPixelsX(c.units), c.x) << c.units;
    EXPECT_EQ(dialog_model::DluToPixelsY(c.units), c.y) << c.units;
  }
}

LRESULT ClosingWindow(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_CREATE) SendMessageA(window, WM_CLOSE, 0, 0);
  if (message == WM_DESTROY) PostQuitMessage(7);
  return DefWindowProcA(window, message, wparam, lparam);
}
LRESULT RefusingWindow(HWND, UINT message, WPARAM, LPARAM) { return message == WM_CREATE ? -1 : 0; }
LRESULT QuietWindow(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  return DefWindowProcA(window, message, wparam, lparam);
}

TEST(WindowTest, CreationYieldsNullWhenTheWindowDiesInIt) {
  dialog_model::Reset();
  struct Case {
    const char* name;
    WNDPROC procedure;
    bool survives;
  };
  for (Case c : {Case{"CLOSING", ClosingWindow, false}, Case{"REFUSING", RefusingWindow, false},
                 Case{"QUIET", QuietWindow, true}}) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = c.procedure;
    wc.lpszClassName = c.name;
    ASSERT_NE(RegisterClassA(&wc), 0);
    EXPECT_EQ(RegisterClassA(&wc), 0) << "registered twice";
    HWND w = CreateWindowExA(0, c.name, "t", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(w != nullptr, c.survives) << c.name;
  }
  MSG msg;
  EXPECT_EQ(GetMessageA(&msg, nullptr, 0, 0), 0);
  EXPECT_EQ(msg.wParam, 7u);
  EXPECT_EQ(CreateWindowExA(0, "NOSUCH", "", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr),
            nullptr);
  dialog_model::Reset();
}

INT_PTR EndsAtOnce(HWND dialog, UINT message, WPARAM, LPARAM) {
  if (message == WM_INITDIALOG) EndDialog(dialog, 42);
  return 0;
}
INT_PTR Plain(HWND dialog, UINT message, WPARAM wparam, LPARAM) {
  if (message == WM_COMMAND && LOWORD(wparam) == IDC_EXIT) EndDialog(dialog, 5);
  return message == WM_INITDIALOG ? 1 : 0;
}

TEST(DialogTest, RunsInWindowsOrderAndEndsWithTheResultItWasGiven) {
  dialog_model::Reset();
  TranscriptCapture transcript;
  DialogsTestUser user;
  dialog_model::SetUser(&user);
  dialog_model::RecordMessages(true);
  EXPECT_EQ(DialogBoxParamA(nullptr, "NoSuchTemplate", nullptr, Plain, 0), -1);
  EXPECT_EQ(DialogBoxParamA(nullptr, "mainDIALOGus", nullptr, EndsAtOnce, 0), 42);
  EXPECT_TRUE(user.templates.empty());  // never shown, never waited
  dialog_model::ClearMessages();
  user.steps = {[](HWND d) {
                  // TRUE from the initialisation: the first tab stop has the focus.
                  EXPECT_EQ(dialog_model::Focus(), GetDlgItem(d, IDC_UPDATE));
                  dialog_model::PressKey(d, VK_TAB);
                  EXPECT_EQ(dialog_model::Focus(), GetDlgItem(d, IDC_EXIT));
                },
                [](HWND d) { dialog_model::PressKey(d, VK_RETURN); }};
  EXPECT_EQ(DialogBoxParamA(nullptr, "MainDialogUS", nullptr, Plain, 9), 5);
  std::vector<UINT> order;
  for (const auto& m : dialog_model::Messages()) order.push_back(m.message);
  EXPECT_EQ(order, (std::vector<UINT>{WM_INITDIALOG, WM_PAINT, WM_COMMAND, WM_DESTROY}));
  EXPECT_EQ(dialog_model::Messages()[0].lparam, 9);
  // The template's caption: nobody set another.
  EXPECT_EQ(transcript.Text(), "dialog: Quorvanta\n");
  dialog_model::Reset();
}

TEST(MessageBoxTest, AnswersFollowTheStyleAndGoToTheTranscriptInUtf8) {
  dialog_model::Reset();
  TranscriptCapture transcript;
  DialogsTestUser user;
  dialog_model::SetUser(&user);
  user.answers = {IDCANCEL, IDCANCEL, IDOK};
  EXPECT_EQ(MessageBoxExA(nullptr, "one\r\ntwo", "Quorvanta", MB_OK, 0x0409), IDOK);
  EXPECT_EQ(MessageBoxExA(nullptr, "\x83\x65\x83\x58\x83\x67", "Quorvanta", MB_OKCANCEL, 0x0411),
            IDCANCEL);
  EXPECT_EQ(MessageBoxExA(nullptr, "q", "Quorvanta", MB_OKCANCEL, 0x0409), IDOK);
  dialog_model::GiveUp();
  EXPECT_EQ(MessageBoxExA(nullptr, "late", "Quorvanta", MB_OKCANCEL, 0x0409), IDCANCEL);
  EXPECT_EQ(transcript.Text(),
            "message: one\\ntwo\nanswer: OK\n"
            "message: \xE3\x83\x86\xE3\x82\xB9\xE3\x83\x88\nanswer: Cancel\n"
            "message: q\nanswer: OK\n"
            "message: late\nanswer: Cancel\n");
  ASSERT_EQ(dialog_model::MessageBoxes().size(), 4u);
  EXPECT_EQ(dialog_model::MessageBoxes()[1].language, 0x0411);
  EXPECT_EQ(dialog_model::MessageBoxes()[1].answer, IDCANCEL);
  dialog_model::Reset();
}

// Lines of a view measured in cells: two for a Japanese character, one for
// any other.
TEST(ViewWrapTest, BreaksAtBlanksOrBetweenCharactersButNeverBeforeClosingPunctuation) {
  const auto cells = [](std::string_view text) {
    int n = 0;
    for (std::size_t i = 0; i < text.size(); i += view_support::CharLength(text.substr(i)))
      n += static_cast<unsigned char>(text[i]) >= 0xE0 ? 2 : 1;
    return n;
  };
  struct Case {
    const char* text;
    int width;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {"Take CD off from a tray.", 12, {"Take CD off", "from a tray."}},
      {"one\r\ntwo", 20, {"one", "two"}},
      // Five characters fit; the sixth is "。", so the fifth goes down too.
      {"あいうえお。かき", 10, {"あいうえ", "お。かき"}},
      // Two closing marks in a row both stay off the line start.
      {"あいう」。えお", 6, {"あい", "う」。", "えお"}},
      // One character a line leaves nothing to take down: it still breaks.
      {"あ。", 2, {"あ", "。"}},
  };
  for (const Case& c : cases)
    EXPECT_EQ(view_support::Wrap(c.text, c.width, cells), c.lines) << c.text;
}

// A name from outside (a folder, a file) as the views and the terminal
// prompt show it: what a terminal would act on is made visible, as `ls -b`
// writes it; text, blanks and backslashes stay.
TEST(VisibleTextTest, ControlCharactersShowAsLsEscapesAndTextStays) {
  struct Case {
    const char* name;
    const char* shown;
  };
  const Case cases[] = {
      {"/home/me/Firmware 1.10\\old", "/home/me/Firmware 1.10\\old"},
      {"/tmp/ファーム", "/tmp/ファーム"},
      // Clear the screen, set the window's title.
      {"/tmp/a\x1b[2J\x1b]0;x\x07"
       "b",
       "/tmp/a\\033[2J\\033]0;x\\ab"},
      {"a\tb\nc\rd\x7f", "a\\tb\\nc\\rd\\177"},
      // CSI as one C1 character (U+009B), and bytes that are not UTF-8.
      {"a\xc2\x9b"
       "2Jb",
       "a\\302\\2332Jb"},
      {"a\xff\xe3\x81", "a\\377\\343\\201"},
  };
  for (const Case& c : cases) EXPECT_EQ(VisibleText(c.name), c.shown) << c.name;
}

// Tab visits the usable controls that are tab stops in template order; a
// group of two or more radio buttons without a stop is entered at its
// checked button, or its first usable one when none is checked.
TEST(KeyboardStopsTest, UsableTabStopsAndEachRadioGroupsEntry) {
  using view_support::ControlPicture;
  using view_support::Face;
  // "id face flags": v visible, e enabled, t tab stop, g group start, c checked.
  struct Case {
    const char* name;
    std::vector<std::string> controls;
    std::vector<int> stops;
  };
  const Case cases[] = {
      {"stops, one disabled, one hidden",
       {"1 push vetg", "2 push vt", "3 push etg", "4 push vet"},
       {1, 4}},
      {"a radio group entered at its checked button",
       {"1 push vetg", "10 radio veg", "11 radio vec", "12 radio ve", "2 push vetg"},
       {1, 11, 2}},
      {"a radio group without a checked button: its first usable one",
       {"1 push vetg", "10 radio vg", "11 radio ve", "12 radio ve", "2 push vetg"},
       {1, 11, 2}},
      {"one radio button alone is no stop", {"1 push vetg", "10 radio veg", "2 push vetg"}, {1, 2}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    view_support::DialogPicture picture;
    for (const std::string& line : c.controls) {
      ControlPicture control;
      char face[16] = {}, flags[8] = {};
      std::sscanf(line.c_str(), "%d %15s %7s", &control.id, face, flags);
      control.face = std::string(face) == "radio" ? Face::kRadioButton : Face::kPushButton;
      const std::string f = flags;
      control.visible = f.find('v') != std::string::npos;
      control.enabled = f.find('e') != std::string::npos;
      control.tab_stop = f.find('t') != std::string::npos;
      control.group_start = f.find('g') != std::string::npos;
      control.checked = f.find('c') != std::string::npos;
      picture.controls.push_back(control);
    }
    std::vector<int> stops;
    for (const ControlPicture* stop : view_support::KeyboardStops(picture))
      stops.push_back(stop->id);
    EXPECT_EQ(stops, c.stops);
  }
}

// The views' status line names the drive of the focused row, else of the
// checked one, counting only the rows shown; Shift-Tab wraps round.
TEST(DriveRowStatusTest, NamesTheFocusedElseTheCheckedShownRow) {
  dialog_model::Reset();
  DialogsTestUser user;
  dialog_model::SetUser(&user);
  SetListedDriveQuery([](int row, int* adapter, int* target) {
    *adapter = 0;
    *target = row + 4;
    return true;
  });
  SetListedDriveModelQuery([](int, char* product, int size) {
    std::snprintf(product, static_cast<std::size_t>(size), "T71 CDRW USB");
    return true;
  });
  static std::vector<std::string> seen;
  seen.clear();
  user.steps = {[](HWND d) {
                  for (int id : {IDC_DRIVE_RADIO1, IDC_DRIVE_RADIO2, IDC_DRIVE_RADIO3})
                    ShowWindow(GetDlgItem(d, id), SW_SHOW);
                  ShowWindow(GetDlgItem(d, IDC_DRIVE_RADIO4), SW_HIDE);
                  CheckDlgButton(d, IDC_DRIVE_RADIO2, BST_CHECKED);
                  dialog_model::FocusOn(d, IDC_UPDATE);
                  seen.push_back(view_support::DriveRowStatus(view_support::Snapshot(d)));
                  dialog_model::FocusOn(d, IDC_DRIVE_RADIO3);
                  seen.push_back(view_support::DriveRowStatus(view_support::Snapshot(d)));
                  // Shift-Tab from the first keyboard stop goes round to the last.
                  const view_support::DialogPicture picture = view_support::Snapshot(d);
                  const auto stops = view_support::KeyboardStops(picture);
                  ASSERT_GE(stops.size(), 2u);
                  dialog_model::FocusOn(d, stops.front()->id);
                  view_support::MoveFocus(d, true);
                  EXPECT_EQ(dialog_model::Focus(), GetDlgItem(d, stops.back()->id));
                },
                [](HWND d) { EndDialog(d, 0); }};
  DialogBoxParamA(nullptr, "MainDialogUS", nullptr, Plain, 0);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].rfind("Drive 2 of 3: T71 CDRW USB at adapter 0, target 5 (", 0), 0u) << seen[0];
  EXPECT_EQ(seen[1].rfind("Drive 3 of 3: T71 CDRW USB at adapter 0, target 6 (", 0), 0u) << seen[1];
  SetListedDriveQuery(nullptr);
  SetListedDriveModelQuery(nullptr);
  dialog_model::Reset();
}

TEST(VersionResourceTest, TheFixedInformationCarriesFileAndProductVersion0010) {
  dialog_model::Reset();
  DWORD handle = 1;
  DWORD size = GetFileVersionInfoSizeA("quorvanta.exe", &handle);
  ASSERT_GT(size, sizeof(VS_FIXEDFILEINFO));
  EXPECT_EQ(handle, 0u);
  std::vector<unsigned char> block(size);
  ASSERT_NE(GetFileVersionInfoA("quorvanta.exe", 0, size, block.data()), 0);
  void* value = nullptr;
  UINT length = 0;
  EXPECT_EQ(VerQueryValueA(block.data(), "\\StringFileInfo", &value, &length), 0);
  ASSERT_NE(VerQueryValueA(block.data(), "\\", &value, &length), 0);
  ASSERT_EQ(length, sizeof(VS_FIXEDFILEINFO));
  const auto* info = static_cast<const VS_FIXEDFILEINFO*>(value);
  EXPECT_EQ(info->dwSignature, 0xFEEF04BDu);
  EXPECT_EQ(info->dwFileVersionMS, 0u);
  EXPECT_EQ(info->dwFileVersionLS, 0x00010000u);
  EXPECT_EQ(info->dwProductVersionLS, 0x00010000u);
  // The two text entries, as UTF-16 inside the block.
  const char16_t file_version[] = u"FileVersion";
  EXPECT_NE(
      std::search(block.begin(), block.end(), reinterpret_cast<const unsigned char*>(file_version),
                  reinterpret_cast<const unsigned char*>(file_version) + 22),
      block.end());
  dialog_model::SetOwnModuleName("");
  EXPECT_EQ(GetFileVersionInfoSizeA("Quorvanta.exe", &handle), 0u);
  std::vector<unsigned char> empty(size);
  EXPECT_EQ(GetFileVersionInfoA("Quorvanta.exe", 0, size, empty.data()), 0);
  dialog_model::Reset();
}

}  // namespace
