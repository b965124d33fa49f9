// Where this host's program finds its firmware package: --package as a
// folder or as the path of Tellumar.inf, and, for a view started where
// there is none, the folder asked of the person (remembered for next time)
// and named under the box that says the package was not found.
#pragma once

#include <filesystem>
#include <functional>
#include <string>

#include "platform/dialogs/views.h"
#include "platform/posix/state_dir.h"

// The folder that --package names: the folder itself, or the one that holds
// the Tellumar.inf named. False with the reason for anything else.
bool PackageFolderOf(const std::string& given, std::filesystem::path* folder, std::string* error);

// Whether a start on this host has no package to read: no Tellumar.inf in
// the current folder, and no resumed update (its resume files in the state
// directory), which returns to its own folder.
bool NoPackageHere(const StateDir& state);

// Asks the person for the package folder with the view about to start
// (terminal or desktop), offering the folder last used first, and enters
// the folder given, remembering it in the state directory. No such folder,
// or one without Tellumar.inf, is asked for again after one line on what
// was wrong (that folder offered next). The folder offered taken again, or
// a cancelled question, leaves the program in the folder last tried (else
// where it is), to say what it did not find there.
void AskForPackageFolder(ViewKind view, const StateDir& state);

// From now until Reset of the dialog model: the box that says the package
// was not found names, on a line of its own, the folder that was searched
// (that of the file last reported missing by `missing_file`).
void NameSearchedFolderInBoxes(std::function<std::string()> missing_file);
