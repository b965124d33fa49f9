#include "app/package_folder.h"

#include <cstdio>
#include <system_error>
#include <utility>

#include "platform/dialogs/model.h"
#include "platform/posix/state_dir.h"
#include "platform/system.h"
#include "platform/text_convert.h"
#include "state/app_state.h"
#include "state/catalogue.h"

namespace fs = std::filesystem;

namespace {

constexpr char kDescription[] = "Tellumar.inf";
// The folder last chosen, one line in the state directory.
constexpr char kRememberedFolder[] = "package-folder";

std::string Utf8(const char* cp932) { return Cp932ToUtf8(cp932); }

// The folder offered first: the one last used while it is still there,
// else the current one.
fs::path Suggestion(const StateDir& state) {
  std::string text;
  std::string why;
  std::error_code ec;
  // Read as every state file is: never waiting on what is not a file.
  if (state.ReadBounded(kRememberedFolder, &text, &why, nullptr, kMaxPath * 4)) {
    const std::string line = text.substr(0, text.find('\n'));
    if (!line.empty() && fs::is_directory(line, ec)) return line;
  }
  return fs::current_path(ec);
}

void Remember(const StateDir& state, const fs::path& folder) {
  // A crash leaves the old line or the new one; a failure only forgets.
  state.ReplaceAtomically(kRememberedFolder, folder.string() + '\n', nullptr);
}

// A catalogue text with "%s" filled with a path, in UTF-8; control
// characters typed into the path are shown escaped, never sent to the
// terminal as they are.
std::string Filled(const char* cp932_format, const std::string& utf8_path) {
  std::string text = Utf8(cp932_format);
  const std::size_t at = text.find("%s");
  if (at != std::string::npos) text.replace(at, 2, VisibleText(utf8_path));
  return text;
}

// One question in the view about to start; `wrong` is what was wrong with
// the last answer (UTF-8, empty at first), said before it is asked again.
bool AskOnce(ViewKind view, const std::string& wrong, const std::string& suggestion,
             std::string* answer) {
  if (view == ViewKind::kDesktop) {
    std::string title = Utf8(MsgChoosePackageFolder());
    if (!wrong.empty()) title = wrong + " " + title;
    return AskDesktopForFolder(title, suggestion, answer);
  }
  if (!wrong.empty()) std::printf("%s\n", wrong.c_str());
  return AskTerminalForFolder(Utf8(MsgPackageFolderPrompt()), suggestion, answer);
}

bool SameFolder(const fs::path& a, const std::string& b) {
  std::error_code ec;
  return fs::equivalent(a, b, ec);
}

}  // namespace

bool PackageFolderOf(const std::string& given, fs::path* folder, std::string* error) {
  std::error_code ec;
  const fs::path path = fs::absolute(given, ec);
  const auto status = fs::status(path, ec);
  if (fs::is_directory(status)) {
    *folder = path;
    return true;
  }
  if (fs::is_regular_file(status) && path.filename() == kDescription) {
    *folder = path.parent_path();
    return true;
  }
  *error =
      "cannot use the package folder " + VisibleText(path.lexically_normal().string()) + ": " +
      (fs::exists(status) ? "neither a folder nor Tellumar.inf"
                          : std::make_error_code(std::errc::no_such_file_or_directory).message()) +
      " (see quorvanta --help)";
  return false;
}

bool NoPackageHere(const StateDir& state) {
  std::error_code ec;
  if (fs::exists(kDescription, ec)) return false;
  return !(state.Exists("Tellmr1.DAT") && state.Exists("Tellmr2.DAT"));
}

void AskForPackageFolder(ViewKind view, const StateDir& state) {
  // The question in the user's language, before start-up has picked it.
  g_app.PrimaryLanguage = static_cast<std::uint16_t>(GetUserDefaultLangID() & 0x3FF);
  std::string suggestion = Suggestion(state).string();
  std::string wrong;
  // The last folder answered that holds no package: where the program looks
  // when the person gives up, so that its box names the folder they tried.
  fs::path tried;
  std::string answer;
  while (AskOnce(view, wrong, suggestion, &answer)) {
    fs::path folder;
    std::string why;
    if (!PackageFolderOf(answer, &folder, &why)) {
      std::error_code ec;
      wrong = Filled(MsgNoSuchFolder(), fs::absolute(answer, ec).lexically_normal().string());
      continue;
    }
    std::error_code ec;
    if (fs::exists(folder / kDescription, ec)) {
      fs::current_path(folder, ec);
      if (!ec) Remember(state, folder);
      return;
    }
    tried = folder;
    // The folder offered, taken again (an empty answer): the program looks
    // there and says what it did not find.
    if (SameFolder(folder, suggestion)) break;
    wrong = Filled(MsgNoPackageInFolder(), folder.string());
    suggestion = folder.string();
  }
  std::error_code ec;
  if (!tried.empty()) fs::current_path(tried, ec);
}

void NameSearchedFolderInBoxes(std::function<std::string()> missing_file) {
  dialog_model::SetBoxAddendum([missing_file = std::move(missing_file)](const std::string& text) {
    const std::string missing = missing_file();
    // Only a launch that found no package description: the folder of a
    // package whose image is missing is no news.
    if (missing.empty() || text != g_app.MsgNoDataFile ||
        fs::path(missing).filename() != kDescription) {
      return std::string();
    }
    // Its control characters shown, never passed to a terminal or window.
    const std::string shown = VisibleText(fs::path(missing).parent_path().string());
    std::string folder;
    if (!Utf8ToCp932(shown, &folder)) {
      // A name the box cannot show keeps its ASCII and marks the rest.
      folder.clear();
      for (unsigned char c : shown) {
        if (c < 0x80) {
          folder += static_cast<char>(c);
        } else if ((c & 0xC0) != 0x80) {
          folder += '?';
        }
      }
    }
    char line[kMaxPath * 2];
    std::snprintf(line, sizeof line, MsgFolderSearched(), folder.c_str());
    return std::string(line);
  });
}
