// Reading and writing the one-line drive description of sim_aspi.h.
#include <charconv>
#include <cstdio>

#include "platform/sim/sim_aspi.h"

namespace {

constexpr std::string_view kT71Product = "T71 CDRW USB";
constexpr std::string_view kR305Product = "R305 CDRW USB";

bool Fail(std::string* error, std::string message) {
  if (error != nullptr) *error = std::move(message);
  return false;
}

// Decimal or 0x-prefixed hexadecimal, the whole text, within [low, high].
bool ParseNumber(std::string_view text, std::int64_t low, std::int64_t high, std::int64_t* out) {
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  if (text.empty()) return false;
  std::int64_t value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (ec != std::errc() || end != text.data() + text.size()) return false;
  if (value < low || value > high) return false;
  *out = value;
  return true;
}

// Four characters that survive the description's own separators.
bool IsRevision(std::string_view text) {
  if (text.size() != 4) return false;
  for (char c : text) {
    if (c < 0x20 || c > 0x7E || c == ',' || c == ':' || c == '"') return false;
  }
  return true;
}

// Takes text up to the next ':' (or the end) off the front of `rest`.
std::string_view TakeField(std::string_view* rest) {
  std::size_t colon = rest->find(':');
  std::string_view field = rest->substr(0, colon);
  rest->remove_prefix(colon == std::string_view::npos ? rest->size() : colon + 1);
  return field;
}

// "A/B/C", each a number from 0 to its bound.
bool ParseThree(std::string_view value, const std::int64_t (&high)[3], std::int64_t* a,
                std::int64_t* b, std::int64_t* c) {
  std::size_t s1 = value.find('/');
  std::size_t s2 = s1 == std::string_view::npos ? s1 : value.find('/', s1 + 1);
  return s2 != std::string_view::npos && ParseNumber(value.substr(0, s1), 0, high[0], a) &&
         ParseNumber(value.substr(s1 + 1, s2 - s1 - 1), 0, high[1], b) &&
         ParseNumber(value.substr(s2 + 1), 0, high[2], c);
}

bool SetKey(std::string_view key, std::string_view value, DriveSetup* setup, std::string* error) {
  std::int64_t n = 0;
  auto bad = [&] {
    return Fail(error, "bad value for " + std::string(key) + ": '" + std::string(value) + "'");
  };
  if (key == "rev") {
    if (!IsRevision(value)) return bad();
    setup->rev = value;
  } else if (key == "code" || key == "modelcode") {
    if (!ParseNumber(value, 0, 255, &n)) return bad();
    (key == "code" ? setup->code : setup->modelcode) = static_cast<BYTE>(n);
  } else if (key == "disc" || key == "savefail" || key == "noreturn" || key == "attention") {
    if (!ParseNumber(value, 0, 1, &n)) return bad();
    (key == "disc"        ? setup->disc
     : key == "savefail"  ? setup->save_fail
     : key == "attention" ? setup->power_on_attention
                          : setup->no_return) = n == 1;
  } else if (key == "hang") {
    if (!ParseNumber(value, 0, 255, &n)) return bad();
    setup->hang_opcode = static_cast<int>(n);
  } else if (key == "check") {
    std::int64_t op = 0, k = 0, asc = 0;
    if (!ParseThree(value, {255, 15, 255}, &op, &k, &asc)) return bad();
    setup->check_opcode = static_cast<int>(op);
    setup->check_key = static_cast<BYTE>(k);
    setup->check_asc = static_cast<BYTE>(asc);
  } else if (key == "busy") {
    std::size_t at = value.find('@');
    std::int64_t count = 0, chunk = 0;
    if (at == std::string_view::npos || !ParseNumber(value.substr(0, at), 0, 100000, &count) ||
        !ParseNumber(value.substr(at + 1), 0, 256, &chunk)) {
      return bad();
    }
    setup->busy_count = static_cast<int>(count);
    setup->busy_chunk = static_cast<int>(chunk);
  } else if (key == "powerloss") {
    if (!ParseNumber(value, 0, 256, &n)) return bad();
    setup->powerloss_chunk = static_cast<int>(n);
  } else if (key == "inquiry") {
    if (value.empty() || value.size() > 192 || value.size() % 2 != 0) return bad();
    setup->inquiry.clear();
    for (std::size_t i = 0; i < value.size(); i += 2) {
      std::int64_t byte = 0;
      if (!ParseNumber("0x" + std::string(value.substr(i, 2)), 0, 255, &byte)) return bad();
      setup->inquiry.push_back(static_cast<BYTE>(byte));
    }
  } else if (key == "norevpage") {
    std::int64_t k = 0, asc = 0, ascq = 0;
    if (!ParseThree(value, {15, 255, 255}, &k, &asc, &ascq)) return bad();
    setup->no_revision_page = true;
    setup->revision_page_sense[0] = static_cast<BYTE>(k);
    setup->revision_page_sense[1] = static_cast<BYTE>(asc);
    setup->revision_page_sense[2] = static_cast<BYTE>(ascq);
  } else if (key == "returnrev") {
    if (!IsRevision(value)) return bad();
    setup->return_rev = value;
  } else if (key == "savetime" || key == "absent") {
    if (!ParseNumber(value, 0, 24 * 3600 * 1000, &n)) return bad();
    (key == "savetime" ? setup->save_ms : setup->absent_ms) = n;
  } else {
    return Fail(error, "unknown key '" + std::string(key) + "'");
  }
  return true;
}

std::string Hex(int value) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", value & 0xFF);
  return text;
}

}  // namespace

bool ParseDriveSetup(std::string_view text, DriveSetup* out, std::string* error) {
  if (out == nullptr) return Fail(error, "no place for the drive");
  DriveSetup setup;
  std::string_view rest = text;
  std::int64_t n = 0;
  std::string_view adapter = TakeField(&rest);
  if (!ParseNumber(adapter, 0, 7, &n)) {
    return Fail(error, "adapter must be 0..7: '" + std::string(adapter) + "'");
  }
  setup.adapter = static_cast<int>(n);
  std::string_view target = TakeField(&rest);
  if (!ParseNumber(target, 0, 7, &n)) {
    return Fail(error, "target must be 0..7: '" + std::string(target) + "'");
  }
  setup.target = static_cast<int>(n);

  if (!rest.empty() && rest.front() == '"') {
    std::size_t close = rest.find('"', 1);
    if (close == std::string_view::npos) return Fail(error, "product id lacks its closing quote");
    std::string_view product = rest.substr(1, close - 1);
    if (product.empty() || product.size() > 16) {
      return Fail(error, "product id must be 1..16 characters");
    }
    for (char c : product) {
      if (c < 0x20 || c > 0x7E) return Fail(error, "product id must be printable ASCII");
    }
    rest.remove_prefix(close + 1);
    if (rest.empty() || rest.front() != ':')
      return Fail(error, "':' expected after the product id");
    rest.remove_prefix(1);
    setup.product = product;
    setup.quoted_product = true;
    setup.model = product.starts_with(kT71Product)    ? DriveModel::kT71
                  : product.starts_with(kR305Product) ? DriveModel::kR305
                                                      : DriveModel::kOther;
  } else {
    std::string_view model = TakeField(&rest);
    if (model == "t71") {
      setup.model = DriveModel::kT71;
      setup.product = kT71Product;
    } else if (model == "r305") {
      setup.model = DriveModel::kR305;
      setup.product = kR305Product;
    } else {
      return Fail(error,
                  "model must be t71, r305 or a quoted product id: '" + std::string(model) + "'");
    }
  }

  std::size_t before_link = rest.size();
  std::string_view link = TakeField(&rest);
  bool had_options = rest.size() + link.size() < before_link;
  if (link == "usb") {
    setup.link = DriveLink::kUsb;
  } else if (link == "atapi") {
    setup.link = DriveLink::kAtapi;
  } else {
    return Fail(error, "link must be usb or atapi: '" + std::string(link) + "'");
  }
  if (had_options && rest.empty()) return Fail(error, "options expected after the last ':'");

  while (!rest.empty()) {
    std::size_t comma = rest.find(',');
    std::string_view item = rest.substr(0, comma);
    rest.remove_prefix(comma == std::string_view::npos ? rest.size() : comma + 1);
    if (comma != std::string_view::npos && rest.empty())
      return Fail(error, "empty option at the end");
    std::size_t eq = item.find('=');
    if (eq == std::string_view::npos || eq == 0) {
      return Fail(error, "option must be key=value: '" + std::string(item) + "'");
    }
    if (!SetKey(item.substr(0, eq), item.substr(eq + 1), &setup, error)) return false;
  }
  *out = setup;
  return true;
}

std::string FormatDriveSetup(const DriveSetup& setup) {
  std::string line = std::to_string(setup.adapter) + ":" + std::to_string(setup.target) + ":";
  if (setup.quoted_product) {
    line += "\"" + setup.product + "\"";
  } else {
    line += setup.model == DriveModel::kR305 ? "r305" : "t71";
  }
  line += setup.link == DriveLink::kUsb ? ":usb" : ":atapi";
  line += ":rev=" + setup.rev + ",code=" + Hex(setup.code) + ",modelcode=" + Hex(setup.modelcode) +
          ",disc=" + (setup.disc ? "1" : "0");
  if (!setup.inquiry.empty()) {
    line += ",inquiry=";
    for (BYTE b : setup.inquiry) line += Hex(b).substr(2);
  }
  if (setup.no_revision_page) {
    line += ",norevpage=" + std::to_string(setup.revision_page_sense[0]) + "/" +
            Hex(setup.revision_page_sense[1]) + "/" + Hex(setup.revision_page_sense[2]);
  }
  if (!setup.power_on_attention) line += ",attention=0";
  if (setup.hang_opcode >= 0) line += ",hang=" + Hex(setup.hang_opcode);
  if (setup.check_opcode >= 0) {
    line += ",check=" + Hex(setup.check_opcode) + "/" + std::to_string(setup.check_key) + "/" +
            Hex(setup.check_asc);
  }
  if (setup.busy_chunk >= 0) {
    line += ",busy=" + std::to_string(setup.busy_count) + "@" + std::to_string(setup.busy_chunk);
  }
  if (setup.powerloss_chunk >= 0) line += ",powerloss=" + std::to_string(setup.powerloss_chunk);
  if (setup.save_fail) line += ",savefail=1";
  if (setup.no_return) line += ",noreturn=1";
  if (!setup.return_rev.empty()) line += ",returnrev=" + setup.return_rev;
  if (setup.save_ms >= 0) line += ",savetime=" + std::to_string(setup.save_ms);
  if (setup.absent_ms != DriveSetup{}.absent_ms)
    line += ",absent=" + std::to_string(setup.absent_ms);
  return line;
}
