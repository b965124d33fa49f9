#include "platform/sim/capture_reader.h"

#include <cstdint>
#include <map>
#include <nlohmann/json.hpp>
#include <utility>
#include <vector>

#include "platform/posix/atomic_file.h"
#include "platform/posix/file_read.h"

namespace {

// The value of a base64 digit, or -1.
int Base64Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

bool FromBase64(std::string_view text, std::vector<BYTE>* out) {
  out->clear();
  out->reserve(text.size() / 4 * 3);
  std::uint32_t bits = 0;
  int count = 0;
  for (char c : text) {
    if (c == '=') break;
    const int value = Base64Value(c);
    if (value < 0) return false;
    bits = (bits << 6) | static_cast<std::uint32_t>(value);
    count += 6;
    if (count >= 8) {
      count -= 8;
      out->push_back(static_cast<BYTE>(bits >> count));
    }
  }
  return true;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads "12 00 ff" (blanks optional) into bytes.
bool FromSpacedHex(std::string_view text, std::vector<BYTE>* out) {
  out->clear();
  for (std::size_t i = 0; i < text.size();) {
    if (text[i] == ' ') {
      ++i;
      continue;
    }
    if (i + 1 >= text.size()) return false;
    int high = HexValue(text[i]), low = HexValue(text[i + 1]);
    if (high < 0 || low < 0) return false;
    out->push_back(static_cast<BYTE>(high * 16 + low));
    i += 2;
  }
  return true;
}

// "0x1F" or "31".
bool ParseNumberText(std::string_view text, std::uint64_t max, std::uint64_t* out) {
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  if (text.empty() || text.size() > 16) return false;
  std::uint64_t v = 0;
  for (char c : text) {
    int d = HexValue(c);
    if (d < 0 || d >= base) return false;
    v = v * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(d);
    if (v > max) return false;
  }
  *out = v;
  return true;
}

// A line's members: strings, whole numbers (kept as their decimal text) and
// arrays of strings; nothing nests deeper in this format.
struct JsonLine {
  std::map<std::string, std::string> values;
  std::map<std::string, std::vector<std::string>> lists;

  bool Has(const char* key) const { return values.count(key) != 0; }
  std::string Text(const char* key) const {
    auto it = values.find(key);
    return it == values.end() ? std::string() : it->second;
  }
};

// Builds one line's members from the library's parse events, refusing
// anything this format does not have (an object in an object, an array of
// anything but strings, true, false, null, fractions) at its first event, so
// that a hostile line is never built up in memory.
class LineReader {
 public:
  using Json = nlohmann::json;

  explicit LineReader(JsonLine* out) : out_(out) {}

  bool null() { return false; }
  bool boolean(bool) { return false; }
  bool number_integer(Json::number_integer_t v) { return Scalar(std::to_string(v)); }
  bool number_unsigned(Json::number_unsigned_t v) { return Scalar(std::to_string(v)); }
  bool number_float(Json::number_float_t, const Json::string_t&) { return false; }
  bool binary(Json::binary_t&) { return false; }
  bool string(Json::string_t& v) {
    if (depth_ == 2) {
      out_->lists[key_].push_back(std::move(v));
      return true;
    }
    return Scalar(std::move(v));
  }
  bool start_object(std::size_t) { return depth_++ == 0; }
  bool end_object() {
    --depth_;
    return true;
  }
  bool key(Json::string_t& k) {
    key_ = std::move(k);
    return true;
  }
  bool start_array(std::size_t) {
    if (depth_ != 1) return false;
    ++depth_;
    out_->lists[key_];
    return true;
  }
  bool end_array() {
    --depth_;
    return true;
  }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) {
    return false;
  }

 private:
  bool Scalar(std::string v) {
    if (depth_ != 1) return false;
    out_->values[key_] = std::move(v);
    return true;
  }

  JsonLine* out_;
  std::string key_;
  int depth_ = 0;
};

// One line of the capture as a flat JSON object; false for anything else.
bool ReadLine(std::string_view raw, JsonLine* out) {
  LineReader reader(out);
  return nlohmann::json::sax_parse(raw.begin(), raw.end(), &reader);
}

// "A:T" as --drive takes it, each a number up to 255.
bool IsDriveAddress(std::string_view text) {
  const std::size_t colon = text.find(':');
  std::uint64_t v = 0;
  return colon != std::string_view::npos && colon > 0 && colon + 1 < text.size() &&
         text.substr(0, colon).find('x') == std::string_view::npos &&
         text.substr(colon + 1).find('x') == std::string_view::npos &&
         ParseNumberText(text.substr(0, colon), 255, &v) &&
         ParseNumberText(text.substr(colon + 1), 255, &v);
}

bool HasControlCharacter(std::string_view text) {
  for (unsigned char c : text) {
    if (c < 0x20 || c == 0x7F) return true;
  }
  return false;
}

}  // namespace

std::string CaptureFileNameProblem(std::string_view name) {
  if (name.empty()) return "is empty";
  if (name.size() > kCaptureNameMax) {
    return "is longer than a Windows path (" + std::to_string(kCaptureNameMax) + " bytes)";
  }
  if (HasControlCharacter(name)) return "holds a control character";
  const std::string outside = "lies outside the package folder";
  // A root, a drive letter or a Windows separator is another machine's path.
  if (name[0] == '/' || name.find('\\') != std::string_view::npos ||
      (name.size() > 1 && name[1] == ':')) {
    return outside;
  }
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = name.find('/', start);
    const std::string_view part = name.substr(start, end - start);
    if (part.empty() || part == "." || part == "..") return outside;
    if (end == std::string_view::npos) return "";
    start = end + 1;
  }
}

std::string QuotedFromCapture(std::string_view text) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    const bool control = c < 0x20 || c == 0x7F;
    if (out.size() + (control ? 4 : 1) > kCaptureQuoteMax - 3) {
      // Not cut inside a character of several bytes.
      while (!out.empty() && (static_cast<unsigned char>(out.back()) & 0xC0) == 0x80)
        out.pop_back();
      if (!out.empty() && (static_cast<unsigned char>(out.back()) & 0xC0) == 0xC0) out.pop_back();
      return out + "...";
    }
    if (control) {
      out += "\\x";
      out += kDigits[c >> 4];
      out += kDigits[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

bool RecordedArgsAllowed(const std::vector<std::string>& args, std::string* error) {
  auto refuse = [&](std::string_view arg, const std::string& why) {
    if (error) *error = "the recorded args name " + QuotedFromCapture(arg) + ", " + why;
    return false;
  };
  // Four options, an address, "--", the image and its option, with room.
  if (args.size() > 16) return refuse(args[16], "beyond what a recorder writes");
  std::size_t i = 0;
  for (; i < args.size() && args[i] != "--"; ++i) {
    const std::string& arg = args[i];
    if (arg == "--yes" || arg == "--list" || arg == "--json") continue;
    if (arg == "--drive" && i + 1 < args.size() && IsDriveAddress(args[i + 1])) {
      ++i;
      continue;
    }
    return refuse(arg,
                  arg == "--drive" ? "without an address A:T" : "which a recorder never writes");
  }
  if (i == args.size()) return true;
  if (i + 1 == args.size()) return refuse("--", "without an image after it");
  const std::string& image = args[i + 1];
  if (const std::string why = CaptureFileNameProblem(image); !why.empty()) {
    return refuse(image, "an image name that " + why);
  }
  // After the image a recorder keeps /NON and the last path part of any
  // other word.
  for (std::size_t j = i + 2; j < args.size(); ++j) {
    const std::string& word = args[j];
    if (word == "/NON") continue;
    if (!CaptureFileNameProblem(word).empty() || word.find('/') != std::string::npos) {
      return refuse(word, "after the image, which a recorder never writes");
    }
  }
  return true;
}

bool ParseCapture(std::string_view text, Capture* out, std::string* error) {
  Capture capture;
  std::map<std::string, std::vector<BYTE>> blobs;
  int line_number = 0;
  bool header = false;
  auto fail = [&](const std::string& why) {
    if (error) *error = "line " + std::to_string(line_number) + ": " + why;
    return false;
  };
  // What the capture read so far holds, counted before each allocation.
  std::size_t held = 0;
  std::size_t blob_total = 0;
  auto hold = [&held](std::size_t bytes) {
    if (bytes > kCaptureHeldMax - held) return false;
    held += bytes;
    return true;
  };
  const std::string too_much = "more than a firmware update's capture can hold";
  if (text.size() > kCaptureTextMax) {
    line_number = 1;
    return fail("the capture is larger than any capture (" + std::to_string(kCaptureTextMax) +
                " bytes)");
  }
  auto byte_field = [](const JsonLine& line, const char* key, BYTE* out_byte) {
    std::uint64_t v = 0;
    if (!ParseNumberText(line.Text(key), 0xFF, &v)) return false;
    *out_byte = static_cast<BYTE>(v);
    return true;
  };
  auto number_field = [](const JsonLine& line, const char* key, std::uint64_t max,
                         std::uint64_t* v) { return ParseNumberText(line.Text(key), max, v); };
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view raw = text.substr(start, end - start);
    start = end + 1;
    ++line_number;
    if (raw.empty() || raw == "\r") continue;
    if (raw.size() > kCaptureLineMax) {
      return fail("longer than any line of a capture (" + std::to_string(kCaptureLineMax) +
                  " bytes)");
    }
    JsonLine line;
    if (!ReadLine(raw, &line)) return fail("not a JSON object of this format");
    std::uint64_t v = 0;
    if (!header) {
      if (line.Text("capture") != kCaptureFormat) return fail("not a quorvanta capture");
      if (!number_field(line, "version", 1000, &v)) return fail("no version");
      if (static_cast<int>(v) != kCaptureVersion) {
        return fail("capture version " + std::to_string(v) + " is not one this program reads (" +
                    std::to_string(kCaptureVersion) + ")");
      }
      capture.version = static_cast<int>(v);
      capture.program = line.Text("program");
      capture.platform = line.Text("platform");
      capture.family = line.Text("family");
      if (capture.family != "98" && capture.family != "nt") return fail("family is 98 or nt");
      if (!number_field(line, "lang", 0xFFFF, &v)) return fail("bad lang");
      capture.lang = static_cast<LANGID>(v);
      if (!number_field(line, "ticks", 0xFFFFFFFF, &v)) return fail("bad ticks");
      capture.ticks = static_cast<DWORD>(v);
      if (auto it = line.lists.find("args"); it != line.lists.end()) capture.args = it->second;
      header = true;
      continue;
    }
    if (line.Has("file") && !line.Has("blob")) {
      CaptureFile file;
      file.name = line.Text("file");
      file.line = line_number;
      // Checked before anything else is built on it: a capture's name may be
      // a megabyte long or hold a terminal's escape sequences.
      if (!file.name.empty()) {
        if (const std::string why = CaptureFileNameProblem(file.name); !why.empty()) {
          return fail("package file " + QuotedFromCapture(file.name) + " " + why);
        }
      }
      const std::size_t decoded = line.Text("b64").size() / 4 * 3;
      if (decoded > kCaptureFileMax + 2) return fail("file larger than any package file");
      if (!hold(decoded)) return fail(too_much);
      if (file.name.empty() || !FromBase64(line.Text("b64"), &file.bytes)) {
        return fail("bad file line");
      }
      if (Sha256Hex(file.bytes.data(), file.bytes.size()) != line.Text("sha256")) {
        return fail("file " + QuotedFromCapture(file.name) + " does not match its digest");
      }
      capture.files.push_back(std::move(file));
      continue;
    }
    if (line.Has("blob")) {
      std::vector<BYTE> bytes;
      if (!number_field(line, "len", 0xFFFFFFFF, &v)) return fail("bad blob length");
      std::size_t length = static_cast<std::size_t>(v);
      if (length > kCaptureBlobTotalMax - blob_total) {
        return fail("blobs larger than a firmware package's run can need");
      }
      blob_total += length;
      if (!hold(length)) return fail(too_much);
      if (line.Has("b64")) {
        if (line.Text("b64").size() / 4 * 3 > length + 2)
          return fail("blob longer than its length");
        if (!FromBase64(line.Text("b64"), &bytes)) return fail("bad blob data");
      } else {
        std::uint64_t at = 0, n = 0;
        if (!number_field(line, "at", 0xFFFFFFFF, &at) || !number_field(line, "n", length, &n)) {
          return fail("bad blob reference");
        }
        const CaptureFile* file = nullptr;
        for (const auto& f : capture.files) {
          if (f.name == line.Text("file")) file = &f;
        }
        if (file == nullptr || at + n > file->bytes.size()) {
          return fail("blob refers to a missing part of a file");
        }
        bytes.assign(file->bytes.begin() + static_cast<std::ptrdiff_t>(at),
                     file->bytes.begin() + static_cast<std::ptrdiff_t>(at + n));
      }
      if (bytes.size() > length) return fail("blob longer than its length");
      bytes.resize(length, 0);
      if (Sha256Hex(bytes.data(), bytes.size()) != line.Text("blob")) {
        return fail("blob does not match its digest");
      }
      blobs[line.Text("blob")] = std::move(bytes);
      continue;
    }
    if (line.Has("late")) continue;  // the program had stopped waiting for it
    if (!number_field(line, "i", 0xFFFFFFF, &v)) return fail("no index");
    if (v != capture.events.size()) {
      return fail("index " + std::to_string(v) + " out of order (expected " +
                  std::to_string(capture.events.size()) + ")");
    }
    CaptureEvent event;
    if (line.Has("adapters")) {
      if (!number_field(line, "adapters", 0xFFFFFFFF, &v)) return fail("bad adapter answer");
      event.adapters = true;
      event.support_info = static_cast<DWORD>(v);
      if (!hold(2 * sizeof event)) return fail(too_much);
      capture.events.push_back(std::move(event));
      continue;
    }
    CaptureCommand& c = event.command;
    std::string at = line.Text("at");
    std::size_t colon = at.find(':');
    std::uint64_t adapter = 0, target = 0;
    if (colon == std::string::npos || !ParseNumberText(at.substr(0, colon), 255, &adapter) ||
        !ParseNumberText(at.substr(colon + 1), 255, &target)) {
      return fail("bad address");
    }
    c.adapter = static_cast<BYTE>(adapter);
    c.target = static_cast<BYTE>(target);
    if (!FromSpacedHex(line.Text("cdb"), &c.cdb) || c.cdb.empty() || c.cdb.size() > 16) {
      return fail("bad cdb");
    }
    if (!byte_field(line, "flags", &c.flags)) return fail("bad flags");
    if (!number_field(line, "len", 0xFFFFFFFF, &v)) return fail("bad len");
    c.length = static_cast<DWORD>(v);
    std::string data_out = line.Text("out");
    if (data_out.rfind("sha256:", 0) == 0) {
      auto it = blobs.find(data_out.substr(7));
      if (it == blobs.end()) return fail("data out names an unknown blob");
      if (!hold(it->second.size())) return fail(too_much);
      c.data_out = it->second;
    } else if (!FromSpacedHex(data_out, &c.data_out)) {
      return fail("bad data out");
    }
    if (!c.data_out.empty() && c.data_out.size() != c.length) {
      return fail("data out is not the buffer's length");
    }
    c.ended = !line.Has("pending");
    if (c.ended) {
      if (!byte_field(line, "status", &c.status) || !byte_field(line, "ha", &c.host_status) ||
          !byte_field(line, "targ", &c.target_status)) {
        return fail("bad status");
      }
      if (!FromSpacedHex(line.Text("sense"), &c.sense) || c.sense.size() > SENSE_LEN + 2) {
        return fail("bad sense");
      }
      if (!FromSpacedHex(line.Text("in"), &c.data_in) || c.data_in.size() > c.length) {
        return fail("bad data in");
      }
      if (!number_field(line, "ms", 0xFFFFFFFF, &v)) return fail("bad ms");
      c.ms = static_cast<DWORD>(v);
    }
    // The event itself (twice over: the list grows by doubling) and its
    // smaller byte strings, which the line's own length bounds.
    if (!hold(2 * sizeof event + c.cdb.size() + c.sense.size() + c.data_in.size() +
              (data_out.rfind("sha256:", 0) == 0 ? 0 : c.data_out.size()))) {
      return fail(too_much);
    }
    capture.events.push_back(std::move(event));
  }
  if (!header) {
    line_number = 1;
    return fail("empty: not a quorvanta capture");
  }
  *out = std::move(capture);
  return true;
}

bool ReadCaptureFile(const std::string& path, Capture* out, std::string* error) {
  std::string text;
  std::string why;
  // The file's own reason names it already.
  if (!ReadRegularFile(path, &text, &why, nullptr, kCaptureTextMax)) {
    if (error) *error = why;
    return false;
  }
  if (!ParseCapture(text, out, &why)) {
    if (error) *error = path + ": " + why;
    return false;
  }
  return true;
}

bool PlaceCaptureFiles(const Capture& capture, const std::filesystem::path& folder,
                       std::string* error) {
  for (const CaptureFile& file : capture.files) {
    const std::filesystem::path name(file.name);
    auto fail = [&](const std::string& why) {
      if (error) {
        *error = "line " + std::to_string(file.line) + ": package file " +
                 QuotedFromCapture(file.name) + " " + why;
      }
      return false;
    };
    // Only a plain relative name as the recorder writes it: nothing that
    // climbs out, starts at a root or hides a step.
    if (const std::string why = CaptureFileNameProblem(file.name); !why.empty()) return fail(why);
    std::error_code ec;
    std::filesystem::create_directories((folder / name).parent_path(), ec);
    const std::string bytes(file.bytes.begin(), file.bytes.end());
    if (ec || !ReplaceFileAtomically(folder / name, bytes, nullptr)) {
      return fail("cannot be written");
    }
  }
  return true;
}
