// A small PC for the dialog tests: a scripted bus with one T71 drive at 0:0
// (present or not) that does not answer the vendor query, files in memory,
// a registry in memory, Windows 98 in English, and the LINKTEST class
// registered with the main window procedure.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "platform/posix/registry_store.h"
#include "tests/support/fake_aspi.h"
#include "tests/support/fake_pc.h"
#include "tests/support/transcript_capture.h"

class DialogsPc {
 public:
  DialogsPc();   // starts a fresh launch, installs everything
  ~DialogsPc();  // uninstalls, resets the dialog model

  // Creates the hidden main window as start-up does; null when it closed
  // during its own creation.
  HWND CreateMainWindow();
  // Transcript lines so far, without their line ends.
  std::vector<std::string> TranscriptLines();
  bool Deleted(const char* path) const;
  // Again after dialog_model::Reset().
  void RegisterMainWindowClass();

  FakeAspi aspi;
  MemoryFiles files;
  FakeSystem system;
  RegistryStore registry;
  bool drive_present = true;
  std::unique_ptr<TranscriptCapture> capture;
  std::FILE* transcript = nullptr;  // the capture's stream

 private:
  FakeReply Bus(const FakeCommand& command) const;
};
