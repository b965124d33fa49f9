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

// --rehearse, after the scan of this host's drives has been recorded into
// `scan_capture` with only read-only questions: builds the drives' twins in a
// temporary virtual PC with the capture's package and family (quorvanta-sim
// beside `program`), runs `program` there with the same user and options,
// and prints its transcript, the path the update took and its outcome, each
// line starting "rehearsal: ". A drive that never answered a question of
// the scan is named. When the scan itself ended the run (`scan_code` not 0),
// nothing is rehearsed: the scan's transcript `scan_messages` and its outcome
// are printed and `scan_code` returned. Otherwise returns the rehearsed run's
// exit code, or 1 when the twin could not be made.
int RunRehearsal(const LaunchOptions& options, const std::filesystem::path& scan_capture,
                 const std::filesystem::path& program, int scan_code,
                 const std::string& scan_messages);
