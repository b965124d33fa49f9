#include "app/list_command.h"

#include <cstdio>

#include "drive/discovery.h"
#include "state/app_state.h"
#include "ui/drive_list.h"

namespace {

KernelDeviceQuery g_kernel_device = nullptr;

// Bytes of a device-table text field up to its terminator; JSON-escaped
// when asked. Control bytes become blanks so a line stays a line.
void AppendField(char* out, int size, const char* field, int field_size, bool json) {
  char text[64] = {};
  int n = 0;
  for (int i = 0; i < field_size && field[i] != '\0' && n < 60; ++i) {
    char c = field[i];
    if (static_cast<unsigned char>(c) < 0x20) c = ' ';
    if (json && (c == '"' || c == '\\')) text[n++] = '\\';
    text[n++] = c;
  }
  // The product id field is blank-padded; the listing shows it trimmed.
  while (n > 0 && text[n - 1] == ' ') text[--n] = '\0';
  AppendText(out, size, text);
}

}  // namespace

namespace {

// One line (or JSON object) per row; `kind` names the list in the JSON.
void FormatRows(const ListedDrive* drives, int listed, bool json, const char* kind, char* out,
                int size) {
  if (json) AppendText(out, size, "[");
  for (int row = 0; row < listed; ++row) {
    const ListedDrive& drive = drives[row];
    char code[8];
    if (drive.usb) {
      std::snprintf(code, sizeof code, "%02x", drive.version_code);
    } else {
      std::snprintf(code, sizeof code, "-");
    }
    char address[16];
    std::snprintf(address, sizeof address, "%d:%d", drive.adapter, drive.target);
    const char* product = g_app.DeviceProductId[drive.slot];
    const char* revision = g_app.DeviceRevision[drive.slot];
    if (json) {
      AppendText(out, size, row == 0 ? "\n  {\"address\": \"" : ",\n  {\"address\": \"");
      AppendText(out, size, address);
      AppendText(out, size, "\", \"product\": \"");
      AppendField(out, size, product, 20, true);
      AppendText(out, size, "\", \"revision\": \"");
      AppendField(out, size, revision, 5, true);
      AppendText(out, size, "\", \"version_code\": ");
      if (drive.usb) {
        AppendText(out, size, "\"");
        AppendText(out, size, code);
        AppendText(out, size, "\"");
      } else {
        AppendText(out, size, "null");
      }
      AppendText(out, size, ", \"link\": \"");
      AppendText(out, size, drive.usb ? "USB" : "ATAPI");
      AppendText(out, size, "\", \"list\": \"");
      AppendText(out, size, kind);
      AppendText(out, size, "\"");
      std::string node;
      std::string kernel_address;
      if (g_kernel_device != nullptr &&
          g_kernel_device(drive.adapter, drive.target, &node, &kernel_address)) {
        AppendText(out, size, ", \"device\": \"");
        AppendField(out, size, node.c_str(), static_cast<int>(node.size()), true);
        AppendText(out, size, "\", \"hctl\": \"");
        AppendText(out, size, kernel_address.c_str());
        AppendText(out, size, "\"");
      }
      AppendText(out, size, "}");
    } else {
      AppendText(out, size, address);
      AppendText(out, size, "\t");
      AppendField(out, size, product, 20, false);
      AppendText(out, size, "\t");
      AppendField(out, size, revision, 5, false);
      AppendText(out, size, "\t");
      AppendText(out, size, code);
      AppendText(out, size, "\t");
      AppendText(out, size, drive.usb ? "USB\n" : "ATAPI\n");
    }
  }
  if (json) AppendText(out, size, listed == 0 ? "]\n" : "\n]\n");
}

}  // namespace

int FormatDriveList(bool json, char* out, int size) {
  if (size <= 0) return 0;
  out[0] = '\0';
  g_app.FirstModelCount = 0;
  g_app.SecondModelCount = 0;
  ScanDrives(1);
  // The main dialog is never shown after a failed first scan, and no
  // command follows it; the list is as empty as the dialog would be.
  if (g_app.AbortFlag != 0) return 0;

  ListedDrive drives[kListedDriveRows];
  const int listed = CollectListedDrives(drives);
  FormatRows(drives, listed, json, "package", out, size);
  return listed;
}

int FormatEveryDrive(bool json, char* out, int size) {
  if (size <= 0) return 0;
  out[0] = '\0';
  ScanEveryDrive();
  if (g_app.AbortFlag != 0) return 0;
  ListedDrive drives[kDeviceSlots];
  const int listed = CollectSupportedDrives(drives, kDeviceSlots);
  FormatRows(drives, listed, json, "all", out, size);
  return listed;
}

void SetKernelDeviceQuery(KernelDeviceQuery query) { g_kernel_device = query; }

int RunListCommand(bool json, bool every_drive, int* listed) {
  // Room for every slot of the device table in the longest (JSON) form.
  char text[kDeviceSlots * 192];
  const int count = every_drive ? FormatEveryDrive(json, text, sizeof text)
                                : FormatDriveList(json, text, sizeof text);
  if (listed != nullptr) *listed = count;
  // A scan that ended at a failed command (its message already shown) lists
  // nothing, and exit code 1 tells it from an empty list: a partial list
  // would pass for the whole one.
  if (g_app.AbortFlag != 0) return 1;
  // The listing is the command line's own output, written at its edge.
  std::fputs(text, stdout);
  std::fflush(stdout);
  return 0;
}
