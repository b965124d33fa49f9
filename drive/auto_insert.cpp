#include "drive/auto_insert.h"

#include <cstdio>
#include <cstring>

#include "platform/files.h"
#include "platform/registry.h"
#include "state/app_state.h"

namespace {

constexpr const char* kScsiEnum = "Enum\\SCSI";
constexpr const char* kValueName = "AutoInsertNotification";

// Whether the last preparation left any value other than the user had; until
// one ran nothing is known, so it counts as changed.
bool g_values_changed = true;

struct DeviceKey {
  const char* name;  // a subkey of Enum\SCSI belongs to the model when it begins with this
  int name_length;
  const char* product;  // the product id of the model's drives begins with this
  int product_length;
};
constexpr DeviceKey kDeviceKeys[2] = {
    {"VANTROS_T71_CDRW_USB", 20, "T71 CDRW USB", 12},
    {"VANTROS_R305_CDRW_USB", 21, "R305 CDRW USB", 13},
};

bool BeginsWith(const char* text, const char* prefix, int length) {
  return std::strncmp(text, prefix, static_cast<std::size_t>(length)) == 0;
}

// The first byte of an instance's AutoInsertNotification; false when it
// cannot be read (missing, refused or longer than any such value is).
bool ReadNotification(HKEY instance, BYTE* first) {
  BYTE data[16] = {};
  DWORD type = 0;
  DWORD size = sizeof data;
  if (RegQueryValueExA(instance, kValueName, &type, data, &size) != ERROR_SUCCESS) return false;
  *first = data[0];
  return true;
}

// Sets an instance's value to one byte.
bool WriteNotification(HKEY instance, BYTE value) {
  return RegSetValueExA(instance, kValueName, REG_BINARY, &value, 1) == ERROR_SUCCESS;
}

// Opens a device key and counts its instances; false (nothing left open)
// when either fails.
bool OpenDeviceKey(HKEY scsi, const char* device_name, HKEY* device, DWORD* instances) {
  if (RegOpenKeyExA(scsi, device_name, KEY_READ, device) != ERROR_SUCCESS) return false;
  if (RegQueryInfoKeyA(*device, instances) != ERROR_SUCCESS) {
    RegCloseKey(*device);
    return false;
  }
  return true;
}

// Whether any listed instance of one device key has the value 1.
bool DeviceKeyEnabled(HKEY scsi, const char* device_name) {
  HKEY device = nullptr;
  DWORD instances = 0;
  if (!OpenDeviceKey(scsi, device_name, &device, &instances)) return false;
  bool enabled = false;
  for (DWORD i = 0; i < instances; ++i) {
    char name[kMaxPath] = {};
    if (RegEnumKeyExA(device, i, name, sizeof name) != ERROR_SUCCESS) continue;
    // Instances named like these do not stand for the drive itself.
    if (name[0] == 'U' || name[0] == 'S' || name[0] == 'B') continue;
    HKEY instance = nullptr;
    if (RegOpenKeyExA(device, name, KEY_READ, &instance) != ERROR_SUCCESS) continue;
    BYTE first = 0;
    if (ReadNotification(instance, &first) && first == 1) enabled = true;
    RegCloseKey(instance);
  }
  RegCloseKey(device);
  return enabled;
}

// Saves and clears every instance of one device key; false when any step
// failed. A record goes out in one write, and only once the value has been
// read, so that the file holds whole records only; a value is cleared only
// once its record is in the file.
bool SaveAndClearDevice(HKEY scsi, const char* device_name, HANDLE file) {
  HKEY device = nullptr;
  DWORD instances = 0;
  if (!OpenDeviceKey(scsi, device_name, &device, &instances)) return false;
  bool result = true;
  for (DWORD i = 0; i < instances; ++i) {
    char name[kMaxPath] = {};
    HKEY instance = nullptr;
    if (RegEnumKeyExA(device, i, name, sizeof name) != ERROR_SUCCESS ||
        RegOpenKeyExA(device, name, KEY_READ | KEY_WRITE, &instance) != ERROR_SUCCESS) {
      result = false;
      continue;
    }
    char record[kRecordPathSize + 2] = {};
    const int path_length =
        std::snprintf(record, kRecordPathSize, "%s\\%s\\%s", kScsiEnum, device_name, name);
    BYTE first = 0;
    if (path_length < 0 || path_length >= kRecordPathSize) {
      result = false;  // a path no record can hold; the value is left as it is
    } else if (!ReadNotification(instance, &first)) {
      result = false;
    } else {
      char text[8];
      std::snprintf(text, sizeof text, "%d", first);
      // Exactly two bytes of the text: for 0 to 9 the digit and its NUL.
      std::memcpy(record + path_length + 1, text, 2);
      const DWORD size = static_cast<DWORD>(path_length + 1 + 2);
      DWORD written = 0;
      // The saved value is on the disk before the registry loses it: a
      // power cut in between must not leave a zero with no record of the 1.
      if (!WriteFile(file, record, size, &written) || written != size || !FlushFileBuffers(file)) {
        result = false;
      } else if (!WriteNotification(instance, 0)) {
        result = false;  // a value that could not be set is as it was
      } else {
        g_values_changed = true;
      }
    }
    RegCloseKey(instance);
  }
  RegCloseKey(device);
  return result;
}

}  // namespace

int IsAutoInsertEnabled() {
  HKEY scsi = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kScsiEnum, KEY_READ, &scsi) != ERROR_SUCCESS) return 0;
  DWORD count = 0;
  if (RegQueryInfoKeyA(scsi, &count) != ERROR_SUCCESS) {
    RegCloseKey(scsi);
    return 0;
  }
  // A drive outside the table's 8 x 8 addresses has no product id to match.
  const bool listed = g_app.SelectedAdapter < 8 && g_app.SelectedTarget < 8;
  const char* product =
      listed ? g_app.DeviceProductId[g_app.SelectedAdapter * 8 + g_app.SelectedTarget] : "";
  int result = 0;
  for (DWORD i = 0; i < count; ++i) {
    char name[kMaxPath] = {};
    if (RegEnumKeyExA(scsi, i, name, sizeof name) != ERROR_SUCCESS) continue;
    bool counts = false;
    for (const DeviceKey& key : kDeviceKeys) {
      if (BeginsWith(name, key.name, key.name_length) &&
          BeginsWith(product, key.product, key.product_length)) {
        counts = true;
      }
    }
    if (counts && DeviceKeyEnabled(scsi, name)) result = 1;
  }
  RegCloseKey(scsi);
  return result;
}

int SaveAndClearAutoInsert() {
  // A file left by a preparation that never finished holds the user's values
  // while the registry may hold zeros; replacing it would lose them, so they
  // go back first.
  g_values_changed = FileExists(g_app.RegistryResumePath) && RestoreAutoInsert() != 1;
  HANDLE file = CreateAlwaysFile(g_app.RegistryResumePath);
  if (file == INVALID_HANDLE_VALUE) return 0;
  int result = 1;
  for (const DeviceKey& key : kDeviceKeys) {
    HKEY scsi = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kScsiEnum, KEY_READ, &scsi) != ERROR_SUCCESS) {
      result = 0;
      continue;
    }
    DWORD count = 0;
    if (RegQueryInfoKeyA(scsi, &count) != ERROR_SUCCESS) {
      result = 0;
      RegCloseKey(scsi);
      continue;
    }
    for (DWORD i = 0; i < count; ++i) {
      char name[kMaxPath] = {};
      if (RegEnumKeyExA(scsi, i, name, sizeof name) != ERROR_SUCCESS) {
        result = 0;
        continue;
      }
      if (!BeginsWith(name, key.name, key.name_length)) continue;
      if (!SaveAndClearDevice(scsi, name, file)) result = 0;
    }
    RegCloseKey(scsi);
  }
  if (!CloseFile(file)) result = 0;
  return result;
}

int AutoInsertValuesChanged() { return g_values_changed ? 1 : 0; }

int RestoreAutoInsert() {
  HANDLE file = OpenExistingFile(g_app.RegistryResumePath);
  if (file == INVALID_HANDLE_VALUE) return 0;
  int result = 1;
  char path[kRecordPathSize];
  int value = 0;
  int got = 0;
  while ((got = ReadAutoInsertRecord(file, path, &value)) == 1) {
    HKEY instance = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, KEY_WRITE, &instance) != ERROR_SUCCESS) {
      result = 0;
      continue;
    }
    if (!WriteNotification(instance, static_cast<BYTE>(value))) result = 0;
    RegCloseKey(instance);
  }
  // Records behind a failed read were not written back.
  if (got < 0) result = 0;
  CloseFile(file);
  return result;
}

int ReadAutoInsertRecord(HANDLE file, char* key_path, int* value) {
  char work[kRecordPathSize];
  int length = 0;
  for (;;) {
    char c = 0;
    DWORD read = 0;
    if (!ReadFile(file, &c, 1, &read)) return -1;
    if (read != 1) return 0;
    if (c == '\0') break;
    // A longer path is cut at the buffer; its rest runs to the NUL unread.
    if (length < kRecordPathSize - 1) work[length++] = c;
  }
  work[length] = '\0';
  // A record cut inside its two value bytes is dropped: writing back a
  // guessed value could turn the notification on or off against the user.
  char digits[2] = {};
  for (char& digit : digits) {
    DWORD read = 0;
    if (!ReadFile(file, &digit, 1, &read)) return -1;
    if (read != 1) return 0;
  }
  std::memcpy(key_path, work, static_cast<std::size_t>(length) + 1);
  *value = static_cast<unsigned char>(digits[0]) - '0';
  return 1;
}
