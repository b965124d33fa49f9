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
  const std::string suggestion = Suggestion(state).string();
  std::string answer;
  const bool answered =
      view == ViewKind::kDesktop
          ? AskDesktopForFolder(Utf8(MsgChoosePackageFolder()), suggestion, &answer)
          : AskTerminalForFolder(Utf8(MsgPackageFolderPrompt()), suggestion, &answer);
  if (!answered) return;
  fs::path folder;
  std::string why;
  if (!PackageFolderOf(answer, &folder, &why)) {
    // Not a folder: the program looks where it is and says what it found.
    std::fprintf(stderr, "quorvanta: %s\n", why.c_str());
    return;
  }
  std::error_code ec;
  fs::current_path(folder, ec);
  if (ec) return;
  Remember(state, folder);
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
