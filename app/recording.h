// --record FILE and --rehearse: the capture of a launch, and the rehearsal of
// an update on the twin of a drive of this host.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "app/launcher.h"
#include "platform/capture.h"

// The header of this launch's capture: program, platform, the Windows family
// and language the installed platform reports, the tick count now, the
// options a replay repeats, and the package files found in `package_dir`
// (Tellumar.inf, the files its first two lines name, and an image named on
// the command line).
Capture CaptureHeader(const LaunchOptions& options, const char* platform_name,
                      const std::filesystem::path& package_dir);

// Opens the capture and installs it in front of the installed aspi group.
// Null with a reason when the file cannot be written.
std::unique_ptr<CaptureRecorder> StartRecording(const std::string& path, const Capture& header,
                                                std::string* error);

// --rehearse: asks the drives of this host only the read-only questions of
// the scan (recorded into a capture), builds the twin of the chosen drive in
// a temporary virtual PC with the same package and family, runs the program
// there with the same user, and prints its transcript. Returns the exit code.
int RunRehearsal(const LaunchOptions& options, const std::filesystem::path& package_dir,
                 const std::string& program);
