#include "platform/posix/registry_store.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <sstream>
#include <unordered_map>

#include "platform/posix/atomic_file.h"
#include "platform/posix/file_read.h"
#include "platform/posix/state_dir.h"

namespace {

constexpr std::string_view kHeader = "REGEDIT4";
constexpr std::string_view kRootName = "HKEY_LOCAL_MACHINE";
// The subkey bits of the Win32 access mask that the store checks.
constexpr DWORD kQueryValue = 0x0001;
constexpr DWORD kSetValue = 0x0002;
constexpr DWORD kCreateSubKey = 0x0004;
constexpr DWORD kEnumerateSubKeys = 0x0008;

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string Lowered(std::string_view name) {
  std::string out(name);
  for (char& c : out) c = Lower(c);
  return out;
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

// Splits "A\B\C" into its names; empty names (doubled or edge separators) are
// refused, as RegOpenKeyEx refuses them.
bool SplitPath(std::string_view path, std::vector<std::string_view>* parts) {
  parts->clear();
  if (path.empty()) return true;
  std::size_t start = 0;
  for (;;) {
    std::size_t end = path.find('\\', start);
    std::string_view part = path.substr(start, end == std::string_view::npos ? end : end - start);
    if (part.empty()) return false;
    parts->push_back(part);
    if (end == std::string_view::npos) return true;
    start = end + 1;
  }
}

RegistryStore::Key* FindChild(RegistryStore::Key* key, std::string_view name) {
  auto it = key->index.find(Lowered(name));
  return it == key->index.end() ? nullptr : it->second;
}

std::vector<RegistryStore::Value>::iterator FindValueIn(RegistryStore::Key* key,
                                                        std::string_view name) {
  return std::find_if(key->values.begin(), key->values.end(),
                      [&](const RegistryStore::Value& v) { return SameName(v.name, name); });
}

void AppendQuoted(std::string* out, std::string_view text) {
  *out += '"';
  for (char c : text) {
    if (c == '\\' || c == '"') *out += '\\';
    *out += c;
  }
  *out += '"';
}

void AppendHex(std::string* out, const std::vector<BYTE>& data) {
  static const char kDigits[] = "0123456789abcdef";
  for (std::size_t i = 0; i < data.size(); ++i) {
    if (i != 0) *out += ',';
    *out += kDigits[data[i] >> 4];
    *out += kDigits[data[i] & 15];
  }
}

// A REG_SZ is written as a quoted string only when that reads back to the
// very same bytes: exactly one terminator, at the end, and no line breaks.
bool PlainString(const std::vector<BYTE>& data) {
  if (data.empty() || data.back() != 0) return false;
  for (std::size_t i = 0; i + 1 < data.size(); ++i) {
    if (data[i] == 0 || data[i] == '\r' || data[i] == '\n') return false;
  }
  return true;
}

void AppendDword(std::string* out, const std::vector<BYTE>& data) {
  static const char kDigits[] = "0123456789abcdef";
  const DWORD value =
      data[0] | (data[1] << 8) | (data[2] << 16) | (static_cast<DWORD>(data[3]) << 24);
  *out += "dword:";
  for (int shift = 28; shift >= 0; shift -= 4) *out += kDigits[(value >> shift) & 15];
}

void AppendHexType(std::string* out, DWORD type) {
  static const char kDigits[] = "0123456789abcdef";
  std::string digits;
  do {
    digits.insert(digits.begin(), kDigits[type & 15]);
    type >>= 4;
  } while (type != 0);
  *out += "hex(" + digits + "):";
}

void SerializeValues(const RegistryStore::Key& key, const std::string& path, std::string* out) {
  *out += "\r\n[";
  *out += path;
  *out += "]\r\n";
  for (const auto& value : key.values) {
    if (value.name.empty()) {
      *out += '@';
    } else {
      AppendQuoted(out, value.name);
    }
    *out += '=';
    if (value.type == REG_SZ && PlainString(value.data)) {
      AppendQuoted(out, std::string_view(reinterpret_cast<const char*>(value.data.data()),
                                         value.data.size() - 1));
    } else if (value.type == REG_BINARY) {
      *out += "hex:";
      AppendHex(out, value.data);
    } else if (value.type == REG_DWORD && value.data.size() == 4) {
      AppendDword(out, value.data);
    } else {
      AppendHexType(out, value.type);
      AppendHex(out, value.data);
    }
    *out += "\r\n";
  }
}

// The key and every key below it, parents first, subkeys in store order.
// Iterative: the depth of a registry is input, not something to recurse on.
void SerializeKey(const RegistryStore::Key& top, const std::string& top_path, std::string* out) {
  std::vector<std::pair<const RegistryStore::Key*, std::string>> pending;
  pending.emplace_back(&top, top_path);
  while (!pending.empty()) {
    auto [key, path] = std::move(pending.back());
    pending.pop_back();
    SerializeValues(*key, path, out);
    for (auto child = key->subkeys.rbegin(); child != key->subkeys.rend(); ++child) {
      pending.emplace_back(child->get(), path + "\\" + (*child)->name);
    }
  }
}

// Reads a quoted name or string starting at text[*pos] == '"'.
bool ReadQuoted(std::string_view text, std::size_t* pos, std::string* out) {
  out->clear();
  std::size_t i = *pos + 1;
  while (i < text.size()) {
    char c = text[i];
    if (c == '"') {
      *pos = i + 1;
      return true;
    }
    if (c == '\\') {
      if (i + 1 >= text.size()) return false;
      c = text[++i];
    }
    *out += c;
    ++i;
  }
  return false;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = Lower(c);
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// dword:XXXXXXXX, exactly eight hexadecimal digits, as four little-endian bytes.
bool ReadDword(std::string_view text, std::vector<BYTE>* out) {
  if (text.size() != 8) return false;
  DWORD value = 0;
  for (char c : text) {
    int digit = HexDigit(c);
    if (digit < 0) return false;
    value = value * 16 + static_cast<DWORD>(digit);
  }
  *out = {static_cast<BYTE>(value), static_cast<BYTE>(value >> 8), static_cast<BYTE>(value >> 16),
          static_cast<BYTE>(value >> 24)};
  return true;
}

bool ReadHexBytes(std::string_view text, std::vector<BYTE>* out) {
  out->clear();
  std::size_t i = 0;
  auto skip_blanks = [&] {
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  };
  skip_blanks();
  if (i == text.size()) return true;
  for (;;) {
    skip_blanks();
    if (i + 2 > text.size()) return false;
    int high = HexDigit(text[i]);
    int low = HexDigit(text[i + 1]);
    if (high < 0 || low < 0) return false;
    out->push_back(static_cast<BYTE>(high * 16 + low));
    i += 2;
    skip_blanks();
    if (i == text.size()) return true;
    if (text[i] != ',') return false;
    ++i;
  }
}

}  // namespace

RegistryStore::RegistryStore() { root_.name = std::string(kRootName); }

std::unique_ptr<RegistryStore> RegistryStore::Load(const StateDir& dir, const std::string& name,
                                                   std::string* error) {
  auto store = std::make_unique<RegistryStore>();
  std::string text;
  bool missing = false;
  if (!dir.ReadBounded(name, &text, error, &missing)) {
    if (missing) return store;
    return nullptr;
  }
  std::string why;
  if (!store->Parse(text, &why)) {
    if (error) *error = "malformed registry file " + (dir.path() / name).string() + ": " + why;
    return nullptr;
  }
  store->unsaved_ = false;  // it holds what the file holds
  return store;
}

std::unique_ptr<RegistryStore> RegistryStore::Load(const std::filesystem::path& file,
                                                   bool missing_ok, std::string* error) {
  auto store = std::make_unique<RegistryStore>();
  std::string text;
  bool missing = false;
  if (!ReadRegularFile(file, &text, error, &missing)) {
    if (missing && missing_ok) return store;
    if (missing && error != nullptr) *error = "missing registry file " + file.string();
    return nullptr;
  }
  std::string why;
  if (!store->Parse(text, &why)) {
    if (error) *error = "malformed registry file " + file.string() + ": " + why;
    return nullptr;
  }
  store->unsaved_ = false;  // it holds what the file holds
  return store;
}

bool RegistryStore::Parse(std::string_view text, std::string* error) {
  auto fail = [&](int line, const std::string& why) {
    if (error) *error = "line " + std::to_string(line) + ": " + why;
    return false;
  };
  // Physical lines, with a trailing '\' joining a hex list to the next line.
  std::vector<std::pair<int, std::string>> lines;
  {
    int number = 0;
    std::size_t start = 0;
    std::string pending;
    bool pending_hex = false;  // the joined line so far holds "=hex"
    int pending_line = 0;
    while (start <= text.size()) {
      std::size_t end = text.find('\n', start);
      std::string_view raw =
          text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
      ++number;
      if (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);
      if (pending.empty()) pending_line = number;
      std::string_view trimmed = raw;
      while (!pending.empty() && !trimmed.empty() && (trimmed[0] == ' ' || trimmed[0] == '\t')) {
        trimmed.remove_prefix(1);
      }
      // Only a hex list continues on the next line. The mark is looked for
      // in the new piece and the joint only, so a long list stays linear.
      const std::size_t joint = pending.size() < 4 ? 0 : pending.size() - 4;
      const bool hex = pending_hex || (pending.substr(joint) + std::string(trimmed)).find("=hex") !=
                                          std::string::npos;
      bool continues = !trimmed.empty() && trimmed.back() == '\\' && hex;
      if (continues) {
        pending.append(trimmed.substr(0, trimmed.size() - 1));
        pending_hex = true;
      } else {
        pending.append(trimmed);
        lines.emplace_back(pending_line, std::move(pending));
        pending.clear();
        pending_hex = false;
      }
      if (end == std::string_view::npos) break;
      start = end + 1;
    }
    if (!pending.empty()) lines.emplace_back(pending_line, pending);
  }

  std::size_t index = 0;
  while (index < lines.size() && lines[index].second.empty()) ++index;
  if (index == lines.size() || lines[index].second != kHeader) {
    return fail(index < lines.size() ? lines[index].first : 1, "expected REGEDIT4 header");
  }
  ++index;
  Key* current = nullptr;
  // Where each key's values sit, by lower-case name, so that a key with many
  // values reads in linear time.
  std::unordered_map<Key*, std::unordered_map<std::string, std::size_t>> value_index;
  for (; index < lines.size(); ++index) {
    const int number = lines[index].first;
    std::string_view line = lines[index].second;
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[') {
      if (line.back() != ']') return fail(number, "unterminated key name");
      std::string_view path = line.substr(1, line.size() - 2);
      if (path.substr(0, kRootName.size()) != kRootName) {
        return fail(number, "key outside HKEY_LOCAL_MACHINE");
      }
      path.remove_prefix(kRootName.size());
      if (!path.empty()) {
        if (path[0] != '\\') return fail(number, "key outside HKEY_LOCAL_MACHINE");
        path.remove_prefix(1);
      }
      std::vector<std::string_view> parts;
      if (!SplitPath(path, &parts)) return fail(number, "empty key name");
      if (parts.size() > static_cast<std::size_t>(kMaxKeyDepth)) {
        return fail(number, "key deeper than " + std::to_string(kMaxKeyDepth) + " levels");
      }
      current = Make(path);
      continue;
    }
    if (current == nullptr) return fail(number, "value outside any key");
    Value value;
    std::size_t pos = 0;
    if (line[0] == '@') {
      pos = 1;
    } else if (line[0] == '"') {
      if (!ReadQuoted(line, &pos, &value.name)) return fail(number, "unterminated value name");
    } else {
      return fail(number, "unexpected text");
    }
    if (pos >= line.size() || line[pos] != '=') return fail(number, "expected '='");
    std::string_view data = line.substr(pos + 1);
    if (!data.empty() && data[0] == '"') {
      std::string text_value;
      std::size_t p = 0;
      if (!ReadQuoted(data, &p, &text_value) || p != data.size()) {
        return fail(number, "malformed string value");
      }
      value.type = REG_SZ;
      value.data.assign(text_value.begin(), text_value.end());
      value.data.push_back(0);
    } else if (data.substr(0, 6) == "dword:") {
      value.type = REG_DWORD;
      if (!ReadDword(data.substr(6), &value.data)) return fail(number, "malformed dword value");
    } else if (data.substr(0, 4) == "hex:") {
      value.type = REG_BINARY;
      if (!ReadHexBytes(data.substr(4), &value.data)) return fail(number, "malformed hex value");
    } else if (data.substr(0, 4) == "hex(") {
      std::size_t close = data.find("):");
      if (close == std::string_view::npos || close == 4 || close > 12) {
        return fail(number, "malformed hex type");
      }
      DWORD type = 0;
      for (char c : data.substr(4, close - 4)) {
        int digit = HexDigit(c);
        if (digit < 0) return fail(number, "malformed hex type");
        type = type * 16 + static_cast<DWORD>(digit);
      }
      value.type = type;
      if (!ReadHexBytes(data.substr(close + 2), &value.data)) {
        return fail(number, "malformed hex value");
      }
    } else {
      return fail(number, "unsupported value type");
    }
    auto& positions = value_index[current];
    auto [at, added] = positions.emplace(Lowered(value.name), current->values.size());
    if (added) {
      current->values.push_back(std::move(value));
    } else {
      current->values[at->second] = std::move(value);
    }
  }
  return true;
}

std::string RegistryStore::Serialize() const {
  std::string out(kHeader);
  out += "\r\n";
  if (!root_.values.empty()) {
    SerializeKey(root_, std::string(kRootName), &out);  // writes the subkeys too
    return out;
  }
  for (const auto& child : root_.subkeys) {
    SerializeKey(*child, std::string(kRootName) + "\\" + child->name, &out);
  }
  return out;
}

bool RegistryStore::Save(std::string* error) {
  if (file_.empty()) return true;
  unsaved_ = dir_ != nullptr ? !dir_->ReplaceAtomically(file_.string(), Serialize(), error)
                             : !ReplaceFileAtomically(file_, Serialize(), error);
  return !unsaved_;
}

bool RegistryStore::Resolve(HKEY handle, OpenHandle* out) const {
  if (handle == HKEY_LOCAL_MACHINE) {
    *out = OpenHandle{const_cast<Key*>(&root_), KEY_ALL_ACCESS, 0};
    return true;
  }
  auto it = handles_.find(reinterpret_cast<std::uintptr_t>(handle));
  if (it == handles_.end()) return false;
  *out = it->second;
  return true;
}

HKEY RegistryStore::NewHandle(Key* key, DWORD access, std::size_t depth) {
  std::uintptr_t id = next_handle_;
  next_handle_ += 4;
  handles_[id] = OpenHandle{key, access, depth};
  return reinterpret_cast<HKEY>(id);
}

long RegistryStore::Persist() { return Save() ? ERROR_SUCCESS : ERROR_WRITE_FAULT; }

RegistryStore::Key* RegistryStore::Find(std::string_view path) {
  unsaved_ = true;  // the caller may change what it finds
  std::vector<std::string_view> parts;
  if (!SplitPath(path, &parts)) return nullptr;
  Key* key = &root_;
  for (auto part : parts) {
    key = FindChild(key, part);
    if (key == nullptr) return nullptr;
  }
  return key;
}

RegistryStore::Key* RegistryStore::AddChild(Key* key, std::string_view name) {
  auto [at, added] = key->index.emplace(Lowered(name), nullptr);
  if (added) {
    key->subkeys.push_back(std::make_unique<Key>());
    at->second = key->subkeys.back().get();
    at->second->name = std::string(name);
  }
  return at->second;
}

RegistryStore::Key* RegistryStore::Make(std::string_view path) {
  unsaved_ = true;
  std::vector<std::string_view> parts;
  if (!SplitPath(path, &parts)) return nullptr;
  if (parts.size() > static_cast<std::size_t>(kMaxKeyDepth)) return nullptr;
  Key* key = &root_;
  for (auto part : parts) key = AddChild(key, part);
  return key;
}

const RegistryStore::Value* RegistryStore::FindValue(std::string_view path, std::string_view name) {
  Key* key = Find(path);
  if (key == nullptr) return nullptr;
  auto it = FindValueIn(key, name);
  return it == key->values.end() ? nullptr : &*it;
}

long RegistryStore::OpenKey(HKEY parent, const char* subkey, DWORD access, HKEY* result) {
  long code;
  if (result == nullptr) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  if (Failing("open", &code)) return code;
  OpenHandle base;
  if (!Resolve(parent, &base)) return ERROR_INVALID_HANDLE;
  std::vector<std::string_view> parts;
  if (!SplitPath(subkey == nullptr ? "" : subkey, &parts)) return ERROR_FILE_NOT_FOUND;
  Key* key = base.key;
  for (auto part : parts) {
    key = FindChild(key, part);
    if (key == nullptr) return ERROR_FILE_NOT_FOUND;
  }
  *result = NewHandle(key, access, base.depth + parts.size());
  return ERROR_SUCCESS;
}

long RegistryStore::CreateKey(HKEY parent, const char* subkey, DWORD access, HKEY* result) {
  long code;
  if (result == nullptr) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  if (Failing("create", &code)) return code;
  OpenHandle base;
  if (!Resolve(parent, &base)) return ERROR_INVALID_HANDLE;
  std::vector<std::string_view> parts;
  if (subkey == nullptr || !SplitPath(subkey, &parts)) return ERROR_INVALID_PARAMETER;
  Key* key = base.key;
  std::size_t i = 0;
  for (; i < parts.size(); ++i) {
    Key* child = FindChild(key, parts[i]);
    if (child == nullptr) break;
    key = child;
  }
  if (i < parts.size()) {
    if ((base.access & kCreateSubKey) == 0) return ERROR_ACCESS_DENIED;
    if (base.depth + parts.size() > static_cast<std::size_t>(kMaxKeyDepth)) {
      return ERROR_INVALID_PARAMETER;
    }
    for (; i < parts.size(); ++i) key = AddChild(key, parts[i]);
    // A new key that cannot be saved stays in memory only; that is harmless
    // (it holds no value) and the next successful save writes it.
    Persist();
  }
  *result = NewHandle(key, access, base.depth + parts.size());
  return ERROR_SUCCESS;
}

long RegistryStore::QueryInfoKey(HKEY key, DWORD* subkey_count) {
  long code;
  if (Failing("info", &code)) return code;
  OpenHandle h;
  if (!Resolve(key, &h)) return ERROR_INVALID_HANDLE;
  if ((h.access & kQueryValue) == 0) return ERROR_ACCESS_DENIED;
  if (subkey_count != nullptr) *subkey_count = static_cast<DWORD>(h.key->subkeys.size());
  return ERROR_SUCCESS;
}

long RegistryStore::EnumKey(HKEY key, DWORD index, char* name, DWORD size) {
  long code;
  if (Failing("enum", &code)) return code;
  OpenHandle h;
  if (!Resolve(key, &h)) return ERROR_INVALID_HANDLE;
  if ((h.access & kEnumerateSubKeys) == 0) return ERROR_ACCESS_DENIED;
  if (index >= h.key->subkeys.size()) return ERROR_NO_MORE_ITEMS;
  const std::string& found = h.key->subkeys[index]->name;
  if (name == nullptr || found.size() + 1 > size) return ERROR_MORE_DATA;
  std::memcpy(name, found.c_str(), found.size() + 1);
  return ERROR_SUCCESS;
}

long RegistryStore::QueryValue(HKEY key, const char* value, DWORD* type, BYTE* data, DWORD* size) {
  long code;
  if (Failing("query", &code)) return code;
  OpenHandle h;
  if (!Resolve(key, &h)) return ERROR_INVALID_HANDLE;
  if ((h.access & kQueryValue) == 0) return ERROR_ACCESS_DENIED;
  auto it = FindValueIn(h.key, value == nullptr ? "" : value);
  if (it == h.key->values.end()) return ERROR_FILE_NOT_FOUND;
  if (type != nullptr) *type = it->type;
  const DWORD needed = static_cast<DWORD>(it->data.size());
  if (data != nullptr) {
    if (size == nullptr) return ERROR_INVALID_PARAMETER;
    if (*size < needed) {
      *size = needed;
      return ERROR_MORE_DATA;
    }
    if (needed != 0) std::memcpy(data, it->data.data(), needed);
  }
  if (size != nullptr) *size = needed;
  return ERROR_SUCCESS;
}

long RegistryStore::SetValue(HKEY key, const char* value, DWORD type, const BYTE* data,
                             DWORD size) {
  long code;
  if (Failing("set", &code)) return code;
  OpenHandle h;
  if (!Resolve(key, &h)) return ERROR_INVALID_HANDLE;
  if ((h.access & kSetValue) == 0) return ERROR_ACCESS_DENIED;
  if (data == nullptr && size != 0) return ERROR_INVALID_PARAMETER;
  Value fresh;
  fresh.name = value == nullptr ? "" : value;
  fresh.type = type;
  if (size != 0) fresh.data.assign(data, data + size);
  auto it = FindValueIn(h.key, fresh.name);
  if (it != h.key->values.end()) {
    Value old = std::move(*it);
    fresh.name = old.name;  // keeps the spelling it was created with
    *it = std::move(fresh);
    if (Persist() != ERROR_SUCCESS) {
      *it = std::move(old);
      return ERROR_WRITE_FAULT;
    }
    return ERROR_SUCCESS;
  }
  h.key->values.push_back(std::move(fresh));
  if (Persist() != ERROR_SUCCESS) {
    h.key->values.pop_back();
    return ERROR_WRITE_FAULT;
  }
  return ERROR_SUCCESS;
}

long RegistryStore::DeleteValue(HKEY key, const char* value) {
  long code;
  if (Failing("delete", &code)) return code;
  OpenHandle h;
  if (!Resolve(key, &h)) return ERROR_INVALID_HANDLE;
  if ((h.access & kSetValue) == 0) return ERROR_ACCESS_DENIED;
  auto it = FindValueIn(h.key, value == nullptr ? "" : value);
  if (it == h.key->values.end()) return ERROR_FILE_NOT_FOUND;
  std::size_t position = static_cast<std::size_t>(it - h.key->values.begin());
  Value old = std::move(*it);
  h.key->values.erase(it);
  if (Persist() != ERROR_SUCCESS) {
    h.key->values.insert(h.key->values.begin() + static_cast<std::ptrdiff_t>(position),
                         std::move(old));
    return ERROR_WRITE_FAULT;
  }
  return ERROR_SUCCESS;
}

long RegistryStore::CloseKey(HKEY key) {
  long code;
  if (Failing("close", &code)) return code;
  if (key == HKEY_LOCAL_MACHINE) return ERROR_SUCCESS;
  auto it = handles_.find(reinterpret_cast<std::uintptr_t>(key));
  if (it == handles_.end()) return ERROR_INVALID_HANDLE;
  handles_.erase(it);
  return ERROR_SUCCESS;
}
