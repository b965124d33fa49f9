// registry group: HKEY_LOCAL_MACHINE as the Win32 registry calls see it.
// Subkeys enumerate in a stable order (the order the store keeps them in);
// every call can fail on its own and returns a Win32 error code.
#pragma once

#include "platform/types.h"

inline constexpr long ERROR_SUCCESS = 0;
inline constexpr long ERROR_FILE_NOT_FOUND = 2;
inline constexpr long ERROR_ACCESS_DENIED = 5;
inline constexpr long ERROR_INVALID_HANDLE = 6;
inline constexpr long ERROR_MORE_DATA = 234;
inline constexpr long ERROR_NO_MORE_ITEMS = 259;

inline constexpr DWORD KEY_READ = 0x20019;
inline constexpr DWORD KEY_WRITE = 0x20006;
inline constexpr DWORD KEY_ALL_ACCESS = 0xF003F;

inline constexpr DWORD REG_SZ = 1;
inline constexpr DWORD REG_BINARY = 3;
inline constexpr DWORD REG_DWORD = 4;

inline HKEY const HKEY_LOCAL_MACHINE = reinterpret_cast<HKEY>(std::uintptr_t{0x80000002});

long RegOpenKeyExA(HKEY parent, const char* subkey, DWORD access, HKEY* result);
// Opens or creates the key (and missing keys on its path).
long RegCreateKeyExA(HKEY parent, const char* subkey, DWORD access, HKEY* result);
long RegQueryInfoKeyA(HKEY key, DWORD* subkey_count);
// Name of subkey `index` into `name` (size bytes, terminator included).
long RegEnumKeyExA(HKEY key, DWORD index, char* name, DWORD size);
// Reads a value; *size is the buffer size in, the value's size out.
long RegQueryValueExA(HKEY key, const char* value, DWORD* type, BYTE* data, DWORD* size);
long RegSetValueExA(HKEY key, const char* value, DWORD type, const BYTE* data, DWORD size);
long RegDeleteValueA(HKEY key, const char* value);
long RegCloseKey(HKEY key);

class Registry {
 public:
  virtual ~Registry() = default;
  virtual long OpenKey(HKEY parent, const char* subkey, DWORD access, HKEY* result) = 0;
  virtual long CreateKey(HKEY parent, const char* subkey, DWORD access, HKEY* result) = 0;
  virtual long QueryInfoKey(HKEY key, DWORD* subkey_count) = 0;
  virtual long EnumKey(HKEY key, DWORD index, char* name, DWORD size) = 0;
  virtual long QueryValue(HKEY key, const char* value, DWORD* type, BYTE* data, DWORD* size) = 0;
  virtual long SetValue(HKEY key, const char* value, DWORD type, const BYTE* data, DWORD size) = 0;
  virtual long DeleteValue(HKEY key, const char* value) = 0;
  virtual long CloseKey(HKEY key) = 0;
};
