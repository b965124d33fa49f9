// The views' own texts: the lines a view adds beside the program's dialogs
// (the size notice, the status line, the notice of a window that cannot be
// closed, the refusals of a view that cannot start), in English and in
// Japanese. Written here as the catalogue's texts are: English in ASCII,
// Japanese in UTF-8 so that the source stays readable; the build turns the
// Japanese ones into code page 932 (tools/gen/catalogue_gen.cpp) and a view
// converts them back to UTF-8 only where it draws or prints them.
// printf-style conversions stand for the values each text names.
#pragma once

enum class ViewText {
  kSizeNotice,           // %d %d: the terminal's columns and rows
  kDriveRowStatus,       // %d %d %s %d %d %s: row, rows, product, adapter, target, link
  kCannotClose,          // the window manager's close while the update runs
  kTerminalTooSmall,     // %d %d %s: the terminal's columns and rows, kAnswerSources...
  kNoCursorMovement,     // %s %s: TERM, kAnswerSources...
  kNoTerminal,           // %s: kAnswerSources...
  kCannotDriveTerminal,  // %s %s: TERM, kAnswerSources...
  kNoDisplay,            // %s: kAnswerSources...
  kNoAnswerSource,       // %s: kAnswerSources...: the headless view with nobody to answer it
  kAnswerSources,        // who can answer the headless view on a virtual PC
  kAnswerSourcesHere,    // on this host: never the autopilot, which would update a drive unasked
  // The line held by a signal during a firmware write is raised below the
  // views, by the signal hold, so its texts stand in platform/held_texts.h.
  kCount,
};

struct ViewTextEntry {
  const char* name;
  const char* english;
  const char* japanese;  // UTF-8 here; code page 932 in the generated table
};

inline constexpr ViewTextEntry kViewTexts[] = {
    {"SizeNotice", "The terminal is %dx%d; please make it at least 80x24.",
     "端末の大きさは %dx%d です。80x24 以上に広げてください。"},
    {"DriveRowStatus", "Drive %d of %d: %s at adapter %d, target %d (%s)",
     "ドライブ %d/%d: %s、アダプタ %d ターゲット %d（%s）"},
    {"CannotClose", "The update is running: the window cannot be closed until it ends.",
     "更新中は閉じられません。終わるまでお待ちください。"},
    {"TerminalTooSmall",
     "the terminal is %dx%d; the terminal view needs at least 80x24 (enlarge it, or use --ui "
     "desktop, or --ui headless with %s)",
     "端末の大きさは %dx%d です。端末ビューには 80x24 以上が必要です（端末を広げるか、--ui "
     "desktop を使うか、--ui headless に%sを付けてください）"},
    {"NoCursorMovement",
     "the terminal view needs cursor movement, which TERM=%s lacks (use --ui desktop, or --ui "
     "headless with %s)",
     "端末ビューにはカーソル移動が必要ですが、TERM=%s にはありません（--ui desktop "
     "を使うか、--ui headless に%sを付けてください）"},
    {"NoTerminal",
     "the terminal view needs a terminal on standard input and output (use --ui desktop, or "
     "--ui headless with %s)",
     "端末ビューには標準入出力の端末が必要です（--ui desktop を使うか、--ui headless "
     "に%sを付けてください）"},
    {"CannotDriveTerminal",
     "the terminal view cannot drive this terminal (TERM=%s; use --ui desktop, or --ui headless "
     "with %s)",
     "端末ビューはこの端末を扱えません（TERM=%s。--ui desktop を使うか、--ui headless "
     "に%sを付けてください）"},
    {"NoDisplay",
     "the desktop view cannot open the display (is DISPLAY set? use --ui terminal, or --ui "
     "headless with %s)",
     "デスクトップビューはディスプレイを開けません（DISPLAY は設定されていますか。--ui terminal "
     "を使うか、--ui headless に%sを付けてください）"},
    {"NoAnswerSource",
     "the headless view needs someone to answer it: give %s, or use --ui desktop or --ui "
     "terminal; see quorvanta --help",
     "ヘッドレスビューには応答する人が必要です。%sを与えるか、--ui desktop か --ui terminal "
     "を使ってください（quorvanta --help を参照）"},
    {"AnswerSources", "a scripted user (--script FILE) or the autopilot (--yes)",
     " --script FILE の応答か --yes の自動操作"},
    {"AnswerSourcesHere", "a scripted user (--script FILE)", " --script FILE の応答"},
};
inline constexpr int kViewTextCount = static_cast<int>(sizeof kViewTexts / sizeof kViewTexts[0]);
static_assert(kViewTextCount == static_cast<int>(ViewText::kCount),
              "one text for every name, in the same order");

// Code page 932 forms of the Japanese texts above, index for index; defined
// in the generated view_texts_cp932.cpp.
extern const char* const kViewTextsCp932[kViewTextCount];
