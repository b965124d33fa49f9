// Start-up: single instance, language, catalogue, resume detection, command
// line, package checks, ASPI, and the hidden main window.
#pragma once

#include "platform/types.h"

inline constexpr const char* kInstanceMutexName = "QuorvantaInstance";
inline constexpr const char* kWindowClassName = "LINKTEST";

// The program's entry: runs every start-up step and the dialogue, returns the
// exit code (0 in every case the program has).
int AppMain(HINSTANCE instance, HINSTANCE previous);

// Start-up up to and including the ASPI query. 1 when the program goes on to
// its main window; 0 when it has ended (message shown, clean-up done) with
// *exit_code set.
int RunStartupChecks(HINSTANCE instance, HINSTANCE previous, int* exit_code);

// Start-up for what needs the drives and no firmware package (the list of
// every drive): the single-instance check, the language and its catalogue,
// the ASPI query. 0 when another copy runs.
int RunDriveOnlyStartup();

// 1 when an option turns a version check off: "/NON" exactly, compared
// case-sensitively and whole ("/non" and "/NONE" do not).
int IsNoCheckOption(const char* option);

// Splits a Windows-style command line into the image file name and its option
// (both 261-byte buffers, cut at 260 characters). Leaves both empty when no
// closing quote of the program path is found.
void ParseCommandLineArguments(const char* command_line, char* data_file, char* data_option);

// The program path: the text from the second character up to the first
// double quote found from there (or the end).
void ExtractProgramPath(const char* command_line, char* program_path);
