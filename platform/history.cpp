#include "platform/history.h"

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>

#include "platform/capture.h"
#include "platform/files.h"
#include "platform/system.h"
#include "platform/text_convert.h"

const char* const kHistoryFields[kHistoryFieldCount] = {"time",
                                                        "address",
                                                        "product",
                                                        "link",
                                                        "revision_before",
                                                        "version_code_before",
                                                        "revision_after",
                                                        "version_code_after",
                                                        "package_revision",
                                                        "image_sha256",
                                                        "path",
                                                        "outcome",
                                                        "result"};

namespace {

// A full entry's line begins so; a completing line begins with its id.
constexpr const char* kEntryStart = "{\"time\":\"";

void AppendField(std::string* line, const char* name, const char* cp932) {
  if (line->size() > 1) line->push_back(',');
  *line += JsonQuoted(name);
  line->push_back(':');
  *line += JsonQuoted(Cp932ToUtf8(cp932));
}

std::string EntryLine(const HistoryEntry& e) {
  std::string line = "{";
  const char* values[kHistoryFieldCount] = {e.time,
                                            e.address,
                                            e.product,
                                            e.link,
                                            e.revision_before,
                                            e.version_code_before,
                                            e.revision_after,
                                            e.version_code_after,
                                            e.package_revision,
                                            e.image_sha256,
                                            e.path,
                                            e.outcome,
                                            e.result};
  for (int i = 0; i < kHistoryFieldCount; ++i) AppendField(&line, kHistoryFields[i], values[i]);
  AppendField(&line, "id", e.id);
  return line + "}\n";
}

std::string CompletingLine(const HistoryEntry& e) {
  std::string line = "{";
  AppendField(&line, "id", e.id);
  AppendField(&line, "revision_after", e.revision_after);
  AppendField(&line, "version_code_after", e.version_code_after);
  AppendField(&line, "outcome", e.outcome);
  AppendField(&line, "result", e.result);
  return line + "}\n";
}

bool IsEntryLine(const std::string& bytes, std::size_t at) {
  return bytes.compare(at, std::strlen(kEntryStart), kEntryStart) == 0;
}

// --- a flat JSON object of strings, the only shape the file holds ---

void PutUtf8(std::string* out, std::uint32_t code) {
  if (code < 0x80) {
    out->push_back(static_cast<char>(code));
  } else if (code < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (code >> 6)));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else if (code < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (code >> 12)));
    out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (code >> 18)));
    out->push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  }
}

class ObjectReader {
 public:
  explicit ObjectReader(const std::string& text) : text_(text) {}

  bool Read(std::map<std::string, std::string>* fields) {
    Blanks();
    if (!Take('{')) return false;
    Blanks();
    if (Take('}')) return AtEnd();
    for (;;) {
      std::string key, value;
      Blanks();
      if (!String(&key)) return false;
      Blanks();
      if (!Take(':')) return false;
      Blanks();
      if (!String(&value)) return false;
      (*fields)[key] = value;
      Blanks();
      if (Take('}')) return AtEnd();
      if (!Take(',')) return false;
    }
  }

 private:
  bool AtEnd() {
    Blanks();
    return at_ == text_.size();
  }
  void Blanks() {
    while (at_ < text_.size() && (text_[at_] == ' ' || text_[at_] == '\t' || text_[at_] == '\r')) {
      ++at_;
    }
  }
  bool Take(char c) {
    if (at_ < text_.size() && text_[at_] == c) {
      ++at_;
      return true;
    }
    return false;
  }
  bool Hex4(std::uint32_t* code) {
    if (at_ + 4 > text_.size()) return false;
    *code = 0;
    for (int i = 0; i < 4; ++i) {
      const char c = text_[at_++];
      int digit = -1;
      if (c >= '0' && c <= '9') digit = c - '0';
      if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
      if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
      if (digit < 0) return false;
      *code = *code * 16 + static_cast<std::uint32_t>(digit);
    }
    return true;
  }
  bool String(std::string* out) {
    if (!Take('"')) return false;
    while (at_ < text_.size()) {
      const char c = text_[at_++];
      if (c == '"') return true;
      if (static_cast<unsigned char>(c) < 0x20) return false;
      if (c != '\\') {
        out->push_back(c);
        continue;
      }
      if (at_ >= text_.size()) return false;
      const char e = text_[at_++];
      switch (e) {
        case '"':
        case '\\':
        case '/':
          out->push_back(e);
          break;
        case 'b':
          out->push_back('\b');
          break;
        case 'f':
          out->push_back('\f');
          break;
        case 'n':
          out->push_back('\n');
          break;
        case 'r':
          out->push_back('\r');
          break;
        case 't':
          out->push_back('\t');
          break;
        case 'u': {
          std::uint32_t code = 0;
          if (!Hex4(&code)) return false;
          if (code >= 0xD800 && code < 0xDC00) {
            std::uint32_t low = 0;
            if (!Take('\\') || !Take('u') || !Hex4(&low) || low < 0xDC00 || low >= 0xE000) {
              return false;
            }
            code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
          } else if (code >= 0xDC00 && code < 0xE000) {
            return false;
          }
          PutUtf8(out, code);
          break;
        }
        default:
          return false;
      }
    }
    return false;
  }

  const std::string& text_;
  std::size_t at_ = 0;
};

}  // namespace

const std::string& HistoryRecord::Get(const char* field) const {
  static const std::string kNone;
  for (int i = 0; i < kHistoryFieldCount; ++i) {
    if (std::strcmp(kHistoryFields[i], field) == 0) return values[i];
  }
  return kNone;
}

int HistoryFilePath(char* path, int size) {
  char dir[kMaxPath] = {};
  const DWORD length = GetWindowsDirectoryA(dir, kMaxPath);
  if (length == 0 || length >= static_cast<DWORD>(kMaxPath)) return 0;
  const int written =
      std::snprintf(path, static_cast<std::size_t>(size), "%s\\%s", dir, kHistoryFileName);
  return written > 0 && written < size ? 1 : 0;
}

int AppendHistoryEntry(const HistoryEntry& entry) {
  char path[kMaxPath];
  if (HistoryFilePath(path, kMaxPath) == 0) return 0;
  const std::string line = EntryLine(entry);
  // Read into memory that is not cleared first: only the bytes that arrived
  // are kept, and clearing the 4 MB bound took some 4 M instructions a run.
  const std::unique_ptr<char[]> buffer(new char[kHistoryMaxBytes]);
  DWORD read = 0;
  // A history that cannot be read back is still added to; it is only not cut.
  if (ReadStateFile(path, buffer.get(), kHistoryMaxBytes, &read) == 0) {
    return AppendStateFile(path, line.data(), static_cast<DWORD>(line.size()));
  }
  const std::string bytes(buffer.get(), read);
  std::vector<std::size_t> starts;
  for (std::size_t at = 0; at < bytes.size();) {
    if (IsEntryLine(bytes, at)) starts.push_back(at);
    const std::size_t end = bytes.find('\n', at);
    if (end == std::string::npos) break;
    at = end + 1;
  }
  // A last line cut short (a power cut while it was written) stays a
  // damaged line of its own rather than swallowing this one.
  const std::string separator = !bytes.empty() && bytes.back() != '\n' ? "\n" : "";
  if (starts.size() + 1 <= static_cast<std::size_t>(kHistoryKept)) {
    const std::string out = separator + line;
    return AppendStateFile(path, out.data(), static_cast<DWORD>(out.size()));
  }
  const std::size_t keep_from = starts[starts.size() + 1 - kHistoryKept];
  const std::string out = bytes.substr(keep_from) + separator + line;
  return ReplaceStateFile(path, out.data(), static_cast<DWORD>(out.size()));
}

int CompleteHistoryEntry(const HistoryEntry& entry) {
  char path[kMaxPath];
  if (HistoryFilePath(path, kMaxPath) == 0) return 0;
  const std::string line = CompletingLine(entry);
  return AppendStateFile(path, line.data(), static_cast<DWORD>(line.size()));
}

void DigestText(const BYTE* data, DWORD size, char* hex) {
  const std::string digest = Sha256Hex(data, size);
  std::memcpy(hex, digest.c_str(), digest.size() + 1);
}

void ParseHistory(const std::string& bytes, HistoryReading* reading) {
  std::vector<std::string> ids;  // beside the entries, for the completing lines
  int number = 0;
  auto damaged = [&]() {
    if (reading->damaged_lines++ == 0) reading->first_damaged_line = number;
  };
  for (std::size_t at = 0; at < bytes.size();) {
    std::size_t end = bytes.find('\n', at);
    if (end == std::string::npos) end = bytes.size();
    const std::string text = bytes.substr(at, end - at);
    at = end + 1;
    ++number;
    if (text.find_first_not_of(" \t\r") == std::string::npos) continue;
    std::map<std::string, std::string> fields;
    if (!ObjectReader(text).Read(&fields)) {
      damaged();
      continue;
    }
    const auto id = fields.find("id");
    if (fields.count("time") != 0) {
      HistoryRecord record;
      for (int i = 0; i < kHistoryFieldCount; ++i) {
        const auto value = fields.find(kHistoryFields[i]);
        if (value != fields.end()) record.values[i] = value->second;
      }
      reading->entries.push_back(record);
      ids.push_back(id != fields.end() ? id->second : "");
      continue;
    }
    // A completing line: the nearest entry above it with its id.
    std::size_t found = ids.size();
    if (id != fields.end() && !id->second.empty()) {
      while (found > 0 && ids[found - 1] != id->second) --found;
    }
    if (found == 0) {
      damaged();
      continue;
    }
    HistoryRecord& record = reading->entries[found - 1];
    for (int i = 0; i < kHistoryFieldCount; ++i) {
      const auto value = fields.find(kHistoryFields[i]);
      if (value != fields.end()) record.values[i] = value->second;
    }
  }
}

bool ReadHistory(HistoryReading* reading) {
  char path[kMaxPath];
  if (HistoryFilePath(path, kMaxPath) == 0) return false;
  std::string bytes(kHistoryMaxBytes, '\0');
  DWORD read = 0;
  if (ReadStateFile(path, bytes.data(), kHistoryMaxBytes, &read) == 0) return false;
  bytes.resize(read);
  ParseHistory(bytes, reading);
  return true;
}

std::string HistoryRecordJson(const HistoryRecord& record) {
  std::string out = "{";
  for (int i = 0; i < kHistoryFieldCount; ++i) {
    if (i > 0) out += ", ";
    out += JsonQuoted(kHistoryFields[i]);
    out += ": ";
    out += JsonQuoted(record.values[i]);
  }
  return out + "}";
}
