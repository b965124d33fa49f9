// Whole launches on made virtual PCs, one row per scenario: the PC, the
// package, what the user does, the transcript from the first press of UPDATE
// on, and what the drives run after the next power-on ("A:T REV CODE DISC").
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "platform/dialogs.h"
#include "platform/sim/package_maker.h"
#include "state/catalogue_texts.h"
#include "tests/support/update_pc.h"

namespace fs = std::filesystem;

namespace {

struct Scenario {
  const char* name;
  const char* pc;       // quorvanta-sim init options
  const char* package;  // "" the sample; else "MODEL REV DIGITS [noloader] [non] [loadernon]
                        // [checksum] [second=REV]"
  const char* drive;    // the row chosen, "A:T"; "" the first
  std::vector<int> answers;
  int presses;
  std::vector<std::string> transcript;  // see Expand()
  std::vector<std::string> drives;
  const char* system = "";  // RunProgram's system line, when it matters
  // The drive's silences of a second or more, in virtual ms, when they
  // matter: each follows a command whose answer the program awaits in polls,
  // or a wait, or a command that never ends.
  std::optional<std::vector<DWORD>> pauses = std::nullopt;
  // The commands the first drive received, when how long the program kept
  // asking it matters.
  std::optional<int> commands = std::nullopt;
};

using Pauses = std::vector<DWORD>;
// A 190 ms Delay ends at the first reading past it.
constexpr DWORD kStep = 191;

const CatalogueText* FindText(const std::string& name) {
  for (const CatalogueText& text : kCatalogueMessages)
    if (name == text.name) return &text;
  for (const CatalogueText& text : kUpdateTexts)
    if (name == text.name) return &text;
  for (const CatalogueText& text : kHostTexts)
    if (name == text.name) return &text;
  return nullptr;
}

std::string Text(const std::string& name, bool japanese) {
  const CatalogueText* text = FindText(name);
  if (text == nullptr) return "<unknown " + name + ">";
  return japanese ? text->japanese : text->english;
}

// The transcript writes a line break inside a text as \n.
std::string Escaped(std::string text) {
  for (std::size_t at = 0; (at = text.find("\r\n", at)) != std::string::npos;) {
    text.replace(at, 2, "\\n");
  }
  return text;
}

// Msg... names stand for their message box; "confirm" for the staged
// confirmation, "warnings" for the direct path's; "note", "Cancel",
// "shutdown" and "restart" for those lines.
std::string Expand(const std::string& token, bool japanese) {
  auto joined = [&](std::initializer_list<const char*> names) {
    std::string text;
    for (const char* name : names) text += Text(name, japanese);
    return "message: " + Escaped(text);
  };
  if (token == "confirm") {
    return joined({"MsgWarnNoAbort", "MsgWarnUsbPower", "MsgWarnCloseApps", "MsgWarnRemoveCd"});
  }
  if (token == "warnings") {
    return joined({"MsgWarnNoAbort", "MsgWarnCloseApps", "MsgWarnRemoveCd", "MsgWarnPowerCycle"});
  }
  if (token == "note") return "note: " + Text("MsgMayTakeMinutes", japanese);
  if (token == "Cancel") return "answer: Cancel";
  if (token == "shutdown" || token == "restart") return "power: " + token;
  // "Name 1.10": the text's %s is that revision.
  if (const std::size_t blank = token.find(' '); blank != std::string::npos) {
    char text[1024];
    std::snprintf(text, sizeof text, Text(token.substr(0, blank), japanese).c_str(),
                  token.substr(blank + 1).c_str());
    return "message: " + Escaped(text);
  }
  return "message: " + Escaped(Text(token, japanese));
}

// "drive 0:0 T71 CDRW USB rev=1.10 code=0x12 model=0x04 disc=0" -> "0:0 1.10 0x12 0"
std::string Compact(const std::string& line) {
  auto value = [&](const std::string& key) {
    std::size_t at = line.find(" " + key + "=");
    if (at == std::string::npos) return std::string("?");
    at += key.size() + 2;
    return line.substr(at, line.find(' ', at) - at);
  };
  return line.substr(6, line.find(' ', 6) - 6) + " " + value("rev") + " " + value("code") + " " +
         value("disc");
}

bool WriteScenarioPackage(const fs::path& dir, const std::string& package_words,
                          std::string* error) {
  std::istringstream words(package_words);
  PackageOptions options;
  words >> options.model >> options.rev >> options.digits;
  bool loader_non = false;
  std::string flag;
  while (words >> flag) {
    if (flag == "noloader") options.no_loader = true;
    if (flag == "non") options.non = true;
    if (flag == "loadernon") loader_non = true;
    if (flag == "checksum") options.bad_checksum = true;
    if (flag.rfind("second=", 0) == 0) options.second_rev = flag.substr(7);
  }
  if (!WritePackage(dir, options, error)) return false;
  if (!loader_non) return true;
  std::string description = MakePackageDescription(options);
  description.insert(description.rfind("\r\n"), " /NON");
  std::FILE* file = std::fopen((dir / kPackageDescriptionName).c_str(), "wb");
  if (file == nullptr) return false;
  std::fwrite(description.data(), 1, description.size(), file);
  return std::fclose(file) == 0;
}

const std::vector<std::string> kStaged = {"MsgCloseApps", "confirm", "note", "MsgLoadSucceeded"};
const std::vector<std::string> kDirect = {"MsgCloseApps", "warnings", "note", "shutdown"};

std::vector<std::string> StagedThen(const char* outcome) {
  return {"MsgCloseApps", "confirm", "note", outcome};
}

std::vector<std::string> PowerCycledThen(const char* outcome) {
  return {"MsgCloseApps", "warnings", "note", "shutdown", "MsgPowerCycleNow", outcome};
}

const char* const kT71 = "t71 1.10 0412";
const char* const kT71Alone = "t71 1.10 0412 noloader";
const char* const kR305Alone = "r305 1.10 0412 noloader";

const Scenario kScenarios[] = {
    // clang-format off
    // Which stages run.
    // The waits: the final chunk's 16 polls; after the end of the load (2
    // polls) 369 steps of 190 ms; after the loader data (11 polls) 158.
    {"both stages", "", "", "", {}, 1, kStaged, {"0:0 1.10 0x12 0"}, "",
     Pauses{16 * kStep, (2 + 369) * kStep, (11 + 158) * kStep}},
    {"both stages in Japanese", "--lang 0x0411", "", "", {}, 1, kStaged, {"0:0 1.10 0x12 0"}},
    {"image stage only", "--drive 0:0:t71:usb:code=0x32", kT71, "", {}, 1, kStaged,
     {"0:0 1.10 0x32 0"}, "", Pauses{16 * kStep}},
    {"loader stage only", "--drive 0:0:t71:usb:rev=1.10,code=0x11", kT71, "", {}, 1, kStaged,
     {"0:0 1.10 0x12 0"}, "", Pauses{(11 + 158) * kStep}},
    {"already updated", "--drive 0:0:t71:usb:rev=1.10,code=0x32", kT71, "", {}, 1,
     StagedThen("MsgAlreadyUpdated"), {"0:0 1.10 0x32 0"}},
    {"both /NON write an up-to-date drive", "--drive 0:0:t71:usb:rev=1.10,code=0x32",
     "t71 1.10 0412 non loadernon", "", {}, 1, kStaged, {"0:0 1.10 0x12 0"}},
    {"newer revision", "--drive 0:0:t71:usb:rev=1.20,code=0x11", kT71, "", {}, 1,
     StagedThen("MsgWrongFile"), {"0:0 1.20 0x11 0"}},
    {"newer revision with image /NON", "--drive 0:0:t71:usb:rev=1.20,code=0x11",
     "t71 1.10 0412 non", "", {}, 1, kStaged, {"0:0 1.10 0x12 0"}},
    {"newer version code", "--drive 0:0:t71:usb:code=0x40", "", "", {}, 1,
     StagedThen("MsgWrongFile"), {"0:0 1.00 0x40 0"}},
    {"R305, both stages", "--drive 0:0:r305:usb:code=0x10 --package r305", "", "", {}, 1, kStaged,
     {"0:0 1.10 0x12 0"}},
    // The T71 model's two values: the digit character (0x30) and the pair (0x40).
    {"T71 between its two values is older", "--drive 0:0:t71:usb:rev=1.10,code=0x35",
     "t71 1.10 0440", "", {}, 1, kStaged, {"0:0 1.10 0x40 0"}},
    {"T71 at its pair value is up to date", "--drive 0:0:t71:usb:rev=1.10,code=0x40",
     "t71 1.10 0440", "", {}, 1, StagedThen("MsgAlreadyUpdated"), {"0:0 1.10 0x40 0"}},
    {"R305 reporting version code 0 is older",
     "--lang 0x0411 --drive 0:0:r305:usb:code=0x00 --package r305", "", "", {}, 1, kStaged,
     {"0:0 1.10 0x12 0"}},
    // The user.
    {"a disc in the tray", "--drive 0:0:t71:usb:disc=1", "", "", {}, 1, {"MsgRemoveCd"},
     {"0:0 1.00 0x11 0"}},
    {"a disc, then UPDATE again", "--drive 0:0:t71:usb:disc=1,code=0x11", "", "", {}, 2,
     {"MsgRemoveCd", "MsgCloseApps", "confirm", "note", "MsgLoadSucceeded"}, {"0:0 1.10 0x12 0"}},
    {"the only drive at 1:3", "--drive 1:3:t71:usb:code=0x11", "", "", {}, 1, kStaged,
     {"1:3 1.10 0x12 0"}},
    {"Cancel at the confirmation", "", "", "", {IDCANCEL}, 1, {"MsgCloseApps", "confirm", "Cancel"},
     {"0:0 1.00 0x11 0"}},
    {"package of the other model", "--drive 0:0:r305:usb --package t71", "", "", {}, 1,
     {"MsgInvalidData"}, {"0:0 1.00 0x11 0"}},
    // Failures of the drive.
    {"readiness probe times out", "--drive 0:0:t71:usb:hang=0x00", "", "", {}, 1,
     {"MsgUpdateFailed"}, {"0:0 1.00 0x11 0"}, "", Pauses(5, 10001)},
    {"eject times out", "--drive 0:0:t71:usb:disc=1,hang=0x1B", "", "", {}, 1, {"MsgUpdateFailed"},
     {"0:0 1.00 0x11 1"}},
    {"image chunk refused", "--drive 0:0:t71:usb:code=0x11,check=0x3B/5/0x24", "", "", {}, 1,
     StagedThen("MsgLoaderCmdRefused"), {"0:0 1.00 0x11 0"}},
    {"a BUSY chunk is not retried", "--drive 0:0:t71:usb:code=0x11,busy=2@5", "", "", {}, 1,
     StagedThen("MsgLoaderCmdRefused"), {"0:0 1.00 0x11 0"}},
    {"power lost at a chunk", "--drive 0:0:t71:usb:code=0x11,powerloss=100", "", "", {}, 1,
     StagedThen("MsgLoaderCmdRefused"), {"0:0 1.00 0x11 0"}},
    {"save fails", "--drive 0:0:t71:usb:code=0x11,savefail=1", "", "", {}, 1,
     StagedThen("MsgFlashFailedRetry"), {"0:0 1.00 0x11 0"}},
    {"end of load refused", "--drive 0:0:t71:usb:code=0x11,check=0xCD/5/0x24", "", "", {}, 1,
     StagedThen("MsgFlashFailedRetry"), {"0:0 1.10 0x11 0"}},
    {"drive does not come back", "--drive 0:0:t71:usb:code=0x11,noreturn=1", "", "", {}, 1,
     StagedThen("MsgNoDevice"), {"0:0 1.10 0x11 0"}},
    {"drive comes back with another revision", "--drive 0:0:t71:usb:code=0x11,returnrev=1.05", "",
     "", {}, 1, StagedThen("MsgFlashFailedRetry"), {"0:0 1.05 0x11 0"}},
    {"model code of another model", "--drive 0:0:t71:usb:code=0x11,modelcode=0x05", "", "", {}, 1,
     StagedThen("MsgModelNotProper"), {"0:0 1.10 0x11 0"}},
    // Digits "A0" make 272, which no one-byte model code equals.
    {"model digits beyond a byte", "--drive 0:0:t71:usb:rev=1.10,code=0x11,modelcode=0x10",
     "t71 1.10 A012", "", {}, 1, StagedThen("MsgModelNotProper"), {"0:0 1.10 0x11 0"}},
    {"download refused", "--drive 0:0:t71:usb:rev=1.10,code=0x11,check=0xCD/5/0x24", kT71, "", {},
     1, StagedThen("MsgDownloadCmdRefused"), {"0:0 1.10 0x11 0"}},
    {"damaged loader data, refused before writing", "--drive 0:0:t71:usb:code=0x11",
     "t71 1.10 0412 checksum", "", {}, 1, {"MsgCloseApps", "MsgChecksumWrong"},
     {"0:0 1.00 0x11 0"}},
    {"damaged loader data that is not due", "--drive 0:0:t71:usb:code=0x32",
     "t71 1.10 0412 checksum", "", {}, 1, kStaged, {"0:0 1.10 0x32 0"}},
    {"damaged loader data, already updated", "--drive 0:0:t71:usb:rev=1.10,code=0x32",
     "t71 1.10 0412 checksum loadernon", "", {}, 1, StagedThen("MsgAlreadyUpdated"),
     {"0:0 1.10 0x32 0"}},
    {"tick count wraps during the 70 s wait", "--ticks 4294927296", "", "", {}, 1, kStaged,
     {"0:0 1.10 0x12 0"}},
    // Keeping to the drive that was written.
    {"R305 and T71, updating the second", "--drive 0:0:r305:usb --drive 0:1:t71:usb:code=0x11", "",
     "0:1", {}, 1, kStaged, {"0:0 1.00 0x11 0", "0:1 1.10 0x12 0"}},
    {"T71 and R305, updating the first", "--drive 0:0:t71:usb:code=0x11 --drive 0:1:r305:usb", "",
     "0:0", {}, 1, kStaged, {"0:0 1.10 0x12 0", "0:1 1.00 0x11 0"}},
    {"two T71, the first updated earlier",
     "--drive 0:0:t71:usb:rev=1.10,code=0x11 --drive 0:1:t71:usb:code=0x11", kT71, "0:1", {}, 1,
     kStaged, {"0:0 1.10 0x11 0", "0:1 1.10 0x12 0"}},
    {"two T71, the written one does not come back",
     "--drive 0:0:t71:usb:rev=1.10,code=0x11 --drive 0:1:t71:usb:code=0x11,noreturn=1", kT71, "0:1",
     {}, 1, StagedThen("MsgNoDevice"), {"0:0 1.10 0x11 0", "0:1 1.10 0x11 0"}},
    // Restart first, when the drive's auto-insert notification is on.
    {"restart first", "--drive 0:0:t71:atapi", kT71Alone, "", {}, 1, {"MsgRestartNow", "restart"},
     {"0:0 1.00 0x11 0"}, "autoinsert=00 resume=11 run=1"},
    {"UPDATE before the restart asks for it again", "--drive 0:0:t71:atapi", kT71Alone, "", {}, 2,
     {"MsgRestartNow", "restart", "MsgRestartNow", "restart"}, {"0:0 1.00 0x11 0"},
     "autoinsert=00 resume=11 run=1"},
    {"Cancel at the restart question", "--drive 0:0:t71:atapi", kT71Alone, "", {IDCANCEL}, 1,
     {"MsgRestartNow", "Cancel"}, {"0:0 1.00 0x11 0"}, "autoinsert=01 resume=00 run=0"},
    {"launch file cannot be written", "--drive 0:0:t71:atapi --fail files.create@2", kT71Alone, "",
     {}, 1, {"MsgRestartNow", "MsgUpdateFailed"}, {"0:0 1.00 0x11 0"},
     "autoinsert=01 resume=00 run=0"},
    {"Run entry cannot be written", "--drive 0:0:t71:atapi --fail registry.set@2", kT71Alone, "",
     {}, 1, {"MsgRestartNow", "MsgUpdateFailed"}, {"0:0 1.00 0x11 0"},
     "autoinsert=01 resume=00 run=0"},
    // The second value cannot be cleared: the first goes back, and the next
    // press prepares the restart again instead of writing.
    {"a value cannot be cleared", "--drive 0:0:t71:atapi --drive 0:1:r305:atapi --fail registry.set@2",
     kT71Alone, "", {}, 1, {"MsgRestartNow", "MsgUpdateFailed"},
     {"0:0 1.00 0x11 0", "0:1 1.00 0x11 0"}, "autoinsert=0101 resume=00 run=0"},
    {"a value cannot be cleared, UPDATE again",
     "--drive 0:0:t71:atapi --drive 0:1:r305:atapi --fail registry.set@2", kT71Alone, "", {}, 2,
     {"MsgRestartNow", "MsgUpdateFailed", "MsgRestartNow", "restart"},
     {"0:0 1.00 0x11 0", "0:1 1.00 0x11 0"}, "autoinsert=0000 resume=11 run=1"},
    // A rollback that left every value as it was: the next press prepares
    // again, even when a resume file could not be made or removed.
    {"a value neither cleared nor written back, UPDATE again",
     "--drive 0:0:t71:atapi --fail registry.set@1,registry.set@2", kT71Alone, "", {}, 2,
     {"MsgRestartNow", "MsgUpdateFailed", "MsgRestartNow", "restart"}, {"0:0 1.00 0x11 0"},
     "autoinsert=00 resume=11 run=1"},
    {"registry resume file cannot be made, UPDATE again",
     "--drive 0:0:t71:atapi --fail files.create@1", kT71Alone, "", {}, 2,
     {"MsgRestartNow", "MsgUpdateFailed", "MsgRestartNow", "restart"}, {"0:0 1.00 0x11 0"},
     "autoinsert=00 resume=11 run=1"},
    {"registry resume file cannot be removed, UPDATE again",
     "--drive 0:0:t71:atapi --fail files.create@2,files.delete@2", kT71Alone, "", {}, 2,
     {"MsgRestartNow", "MsgUpdateFailed", "MsgRestartNow", "restart"}, {"0:0 1.00 0x11 0"},
     "autoinsert=00 resume=11 run=1"},
    // The direct path.
    {"NT, R305 ATAPI", "--os nt --drive 0:0:r305:atapi", kR305Alone, "", {}, 1, kDirect,
     {"0:0 1.10 0x11 0"}},
    {"NT, a USB drive is never staged", "--os nt --drive 0:0:t71:usb:code=0x11", "", "", {}, 1,
     kDirect, {"0:0 1.10 0x11 0"}},
    {"Windows 98, T71 ATAPI", "--autoinsert 0 --drive 0:0:t71:atapi", "t71 1.10 0412 noloader", "",
     {}, 1, kDirect, {"0:0 1.10 0x11 0"}},
    {"Windows 98, UPDATE again after a disc", "--autoinsert 0 --drive 0:0:t71:atapi:disc=1",
     "t71 1.10 0412 noloader", "", {}, 2,
     {"MsgRemoveCd", "MsgCloseApps", "warnings", "note", "shutdown"}, {"0:0 1.10 0x11 0"}},
    // Only a press that did not consult the registry cleans up; the failure
    // to remove the Run entry comes before the note.
    {"Windows 98, the Run entry cannot be removed",
     "--autoinsert 0 --drive 0:0:t71:atapi --fail registry.delete@1", "t71 1.10 0412 noloader", "",
     {}, 1, kDirect, {"0:0 1.10 0x11 0"}},
    {"Windows 98, UPDATE again, the Run entry cannot be removed",
     "--autoinsert 0 --drive 0:0:t71:atapi:disc=1 --fail registry.delete@1",
     "t71 1.10 0412 noloader", "", {}, 2,
     {"MsgRemoveCd", "MsgCloseApps", "warnings", "MsgUpdateFailed", "note", "shutdown"},
     {"0:0 1.10 0x11 0"}},
    {"direct, already updated", "--os nt --drive 0:0:r305:atapi:rev=1.10", kR305Alone, "", {}, 1,
     {"MsgCloseApps", "MsgAlreadyUpdated"}, {"0:0 1.10 0x11 0"}},
    {"direct, newer revision", "--os nt --drive 0:0:r305:atapi:rev=1.20", kR305Alone, "", {}, 1,
     {"MsgCloseApps", "MsgWrongFile"}, {"0:0 1.20 0x11 0"}},
    {"direct, newer in the fourth character", "--os nt --drive 0:0:r305:atapi:rev=1.11",
     kR305Alone, "", {}, 1, {"MsgCloseApps", "MsgWrongFile"}, {"0:0 1.11 0x11 0"}},
    {"direct, /NON rewrites the same revision", "--os nt --drive 0:0:r305:atapi:rev=1.10",
     "r305 1.10 0412 noloader non", "", {}, 1, kDirect, {"0:0 1.10 0x11 0"}},
    {"direct, Cancel at the warnings", "--os nt --drive 0:0:r305:atapi", kR305Alone, "", {IDCANCEL},
     1, {"MsgCloseApps", "warnings", "Cancel"}, {"0:0 1.00 0x11 0"}},
    {"direct, a disc in the tray", "--os nt --drive 0:0:r305:atapi:disc=1", kR305Alone, "", {}, 1,
     {"MsgRemoveCd"}, {"0:0 1.00 0x11 0"}},
    {"direct, two BUSY answers", "--os nt --drive 0:0:r305:atapi:busy=2@5", kR305Alone, "", {}, 1,
     kDirect, {"0:0 1.10 0x11 0"}},
    {"direct, ten BUSY answers", "--os nt --drive 0:0:r305:atapi:busy=10@5", kR305Alone, "", {}, 1,
     {"MsgCloseApps", "warnings", "note", "MsgUpdateFailedDma", "shutdown"}, {"0:0 1.00 0x11 0"}},
    {"direct, power lost at a chunk", "--os nt --drive 0:0:r305:atapi:powerloss=100", kR305Alone,
     "", {}, 1, {"MsgCloseApps", "warnings", "note", "MsgUpdateFailedDma", "shutdown"},
     {"0:0 1.00 0x11 0"}},
    // Where the drive gets its power cycle from the user (as on a real host),
    // the program looks for it for two minutes and reads its revision.
    // (The second revision field only rides along.)
    {"direct, switched off and on by hand", "--os nt --byhand 1 --drive 0:0:r305:atapi:absent=5000",
     "r305 1.10 0412 noloader second=1.05", "", {}, 1, PowerCycledThen("MsgPowerCycleUpdated 1.10"),
     {"0:0 1.10 0x11 0"}},
    {"direct, back by hand after 100 s", "--os nt --byhand 1 --drive 0:0:r305:atapi:absent=100000",
     kR305Alone, "", {}, 1, PowerCycledThen("MsgPowerCycleUpdated 1.10"), {"0:0 1.10 0x11 0"}},
    {"direct, back by hand with the old firmware",
     "--os nt --byhand 1 --drive 0:0:r305:atapi:absent=5000,returnrev=1.00", kR305Alone, "", {}, 1,
     PowerCycledThen("MsgPowerCycleStillOld 1.00"), {"0:0 1.00 0x11 0"}, "", std::nullopt, 274},
    {"direct, never back after the power cycle by hand",
     "--os nt --byhand 1 --drive 0:0:r305:atapi:noreturn=1", kR305Alone, "", {}, 1,
     PowerCycledThen("MsgPowerCycleNotBack"), {"0:0 1.10 0x11 0"}},
    // The direct path's waits: a chunk for 60 s, the save until its 400th
    // tenth of a second, or until it ends.
    {"direct, a chunk never ends", "--os nt --drive 0:0:r305:atapi:hang=0x3B", kR305Alone, "", {},
     1, {"MsgCloseApps", "warnings", "note", "MsgUpdateFailedDma", "shutdown"}, {"0:0 1.00 0x11 0"},
     "", Pauses{60001}},
    {"direct, the save never ends", "--os nt --drive 0:0:r305:atapi:savetime=50000", kR305Alone,
     "", {}, 1, {"MsgCloseApps", "warnings", "note", "MsgUpdateFailedDma", "shutdown"},
     {"0:0 1.00 0x11 0"}, "", Pauses{39877}},
    {"direct, a save of 35 s", "--os nt --drive 0:0:r305:atapi:savetime=35000", kR305Alone, "", {},
     1, kDirect, {"0:0 1.10 0x11 0"}, "", Pauses{35002}},
    // clang-format on
};

TEST(UpdateScenarios, TranscriptAndDrivesAfterwards) {
  const fs::path root = fs::temp_directory_path() / ("qv_update_" + std::to_string(::getpid()));
  int index = 0;
  for (const Scenario& row : kScenarios) {
    SCOPED_TRACE(row.name);
    const fs::path dir = root / std::to_string(index++);
    const std::string made = MakeVirtualPc(dir, row.pc);
    ASSERT_EQ(made, "");
    std::string error;
    if (row.package[0] != '\0') {
      ASSERT_TRUE(WriteScenarioPackage(dir / "drive_c" / "Quorvanta", row.package, &error))
          << error;
    }
    UpdateUser user(row.drive, row.answers, row.presses);
    const UpdateRun run = RunProgram(dir, {}, &user);

    const bool japanese = std::string(row.pc).find("0x0411") != std::string::npos;
    std::vector<std::string> expected;
    for (const std::string& token : row.transcript) expected.push_back(Expand(token, japanese));
    EXPECT_EQ(run.transcript, expected);
    std::vector<std::string> drives;
    for (const std::string& line : run.drives) drives.push_back(Compact(line));
    EXPECT_EQ(drives, row.drives);
    if (row.system[0] != '\0') {
      EXPECT_EQ(run.system, row.system);
    }
    if (row.pauses) {
      EXPECT_EQ(run.pauses, *row.pauses);
    }
    if (row.commands) {
      EXPECT_EQ(run.commands, *row.commands);
    }
  }
  fs::remove_all(root);
}

}  // namespace
