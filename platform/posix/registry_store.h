// The registry of a virtual PC or of this host: HKEY_LOCAL_MACHINE kept in
// memory and persisted as REGEDIT4 text.
//
// - Keys and value names compare ASCII case-insensitively, as Windows does;
//   subkeys enumerate in store order (file order, new keys appended).
// - Values are byte strings of any type, kept exactly as written (a REG_SZ
//   keeps the terminator the caller counted in its size). The text holds
//   REG_SZ as "quoted", REG_BINARY as hex:, a 4-byte REG_DWORD as
//   dword:XXXXXXXX and every other type N as hex(N): with N in hexadecimal,
//   as REGEDIT4 does, so a save keeps values of types the program never uses.
// - Keys nest at most kMaxKeyDepth levels below HKEY_LOCAL_MACHINE, as in
//   Windows; a deeper key is refused when read and when created. Subkeys are
//   found through an index by name, so reading and saving take time in
//   proportion to the size of the registry.
// - Access is checked per handle: a KEY_READ handle refuses writes with
//   ERROR_ACCESS_DENIED; a handle not (or no longer) open gives
//   ERROR_INVALID_HANDLE.
// - With a file attached, every change is saved at once by replacing the file
//   atomically (temporary file, fsync, rename), so a crash never leaves half a
//   registry. A change that cannot be saved is undone and reported as
//   ERROR_WRITE_FAULT.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/call_faults.h"
#include "platform/registry.h"

class StateDir;

inline constexpr long ERROR_WRITE_FAULT = 29;
inline constexpr long ERROR_INVALID_PARAMETER = 87;

class RegistryStore final : public Registry {
 public:
  struct Value {
    std::string name;
    DWORD type = REG_BINARY;
    std::vector<BYTE> data;
  };
  struct Key {
    std::string name;
    std::vector<Value> values;
    std::vector<std::unique_ptr<Key>> subkeys;  // in store order
    // The subkeys by lower-case name; kept by the store, which alone adds keys.
    std::map<std::string, Key*, std::less<>> index;
  };
  static constexpr int kMaxKeyDepth = 512;

  RegistryStore();

  // Reads a REGEDIT4 file. A missing file gives an empty registry when
  // `missing_ok`; a malformed one gives null and one line in *error.
  static std::unique_ptr<RegistryStore> Load(const std::filesystem::path& file, bool missing_ok,
                                             std::string* error);
  // The same for the file `name` of the open folder `dir` (never a link).
  static std::unique_ptr<RegistryStore> Load(const StateDir& dir, const std::string& name,
                                             std::string* error);
  // Parses REGEDIT4 text into this (empty) store; false and *error when malformed.
  bool Parse(std::string_view text, std::string* error);
  std::string Serialize() const;

  // Saves every later change to `file` (nothing is written until a change).
  void AttachFile(const std::filesystem::path& file) { file_ = file; }
  // The same for the file `name` of the open folder `dir`, which outlives
  // the store: saved there whatever the folder's path names later.
  void AttachFile(const StateDir* dir, std::string name) {
    dir_ = dir;
    file_ = std::move(name);
  }
  // Writes the whole registry to the attached file atomically.
  bool Save(std::string* error = nullptr);
  // Saves only when the file may differ from the store: a change could not
  // be saved, or a key was reached through Find or Make since the last save.
  bool SaveChanges(std::string* error = nullptr) { return !unsaved_ || Save(error); }

  // The next call of `operation` ("open", "create", "info", "enum", "query",
  // "set", "delete", "close") fails with `code` without touching anything;
  // for tests and fault knobs.
  void FailNext(std::string_view operation, long code) { faults_.Arm(operation, 1, code); }
  // The `nth` call of `operation` from now fails with `code`.
  void FailCall(std::string_view operation, int nth, long code) {
    faults_.Arm(operation, nth, code);
  }

  long OpenKey(HKEY parent, const char* subkey, DWORD access, HKEY* result) override;
  long CreateKey(HKEY parent, const char* subkey, DWORD access, HKEY* result) override;
  long QueryInfoKey(HKEY key, DWORD* subkey_count) override;
  long EnumKey(HKEY key, DWORD index, char* name, DWORD size) override;
  long QueryValue(HKEY key, const char* value, DWORD* type, BYTE* data, DWORD* size) override;
  long SetValue(HKEY key, const char* value, DWORD type, const BYTE* data, DWORD size) override;
  long DeleteValue(HKEY key, const char* value) override;
  long CloseKey(HKEY key) override;

  // Direct access for tools (quorvanta-sim init/show), bypassing handles.
  // A path is "A\B\C" below HKEY_LOCAL_MACHINE.
  Key* Find(std::string_view path);
  Key* Make(std::string_view path);
  const Value* FindValue(std::string_view path, std::string_view name);
  std::size_t open_handles() const { return handles_.size(); }

 private:
  struct OpenHandle {
    Key* key;
    DWORD access;
    std::size_t depth;  // levels below HKEY_LOCAL_MACHINE
  };
  bool Failing(std::string_view operation, long* code) { return faults_.Hit(operation, code); }
  // Resolves a handle to its key and access; HKEY_LOCAL_MACHINE is always open.
  bool Resolve(HKEY handle, OpenHandle* out) const;
  HKEY NewHandle(Key* key, DWORD access, std::size_t depth);
  // The subkey `name` of `key`, made when missing.
  static Key* AddChild(Key* key, std::string_view name);
  long Persist();

  Key root_;
  std::map<std::uintptr_t, OpenHandle> handles_;
  std::uintptr_t next_handle_ = 0x1000;
  CallFaults faults_;
  std::filesystem::path file_;
  const StateDir* dir_ = nullptr;
  bool unsaved_ = false;
};
