// The staged update of one drive: the firmware image through the drive's
// loader commands, then the loader data with the vendor download command,
// each stage only when the drive is older than the package (or "/NON" forces
// it). Every outcome is shown in one message box owned by the main dialog.
#pragma once

#include <cstdint>

// Results of UpdateDrive.
inline constexpr int kUpdateStopped = 0;   // an error message was shown
inline constexpr int kUpdateFinished = 1;  // success, or left unchanged without a message
inline constexpr int kUpdateRefused = 2;   // MsgWrongFile or MsgAlreadyUpdated

// Results of CompareRevision and of the version-code order.
inline constexpr int kDriveNewer = 1;
inline constexpr int kDriveSame = 2;
inline constexpr int kDriveOlder = 3;

int UpdateDrive(std::uint8_t adapter, std::uint8_t target);

// The selected drive's revision (cut after 4 characters) against field 3 of
// `revisions` (three NUL-terminated 4-character fields, 15 bytes), compared
// byte by byte as unsigned values.
int CompareRevision(const char* revisions);

// The version values a drive of one model must reach, from the four version
// digits D0..D3 of the loader data.
struct VersionValues {
  int primary;     // VersionPrimary
  int secondary;   // VersionSecondary
  int model_code;  // NewModelCode: the pair value of D0 D1, not cut to a byte
  int long_model;  // D0 * 256 + D1, the T71 model's other accepted form
  bool t71;
};
VersionValues VersionValuesFor(bool t71, const unsigned char digits[4]);
// Three rules, each later one overriding: newer when X > primary, same when
// X equals either value, older when X is below either value.
int CodeOrder(std::uint8_t version_code, const VersionValues& values);

// Message boxes of the main dialog (caption "Quorvanta", MessageLanguage).
void ShowDialogMessage(const char* text);
// OK and Cancel; 1 only for OK.
int AskDialogQuestion(const char* text);
