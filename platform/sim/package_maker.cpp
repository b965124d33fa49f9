#include "platform/sim/package_maker.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <fstream>
#include <system_error>

namespace {

constexpr std::size_t kImageSize = 526336;
constexpr std::size_t kSignatureOffset = 499660;
constexpr std::size_t kLoaderHeaderSize = 64;
constexpr std::size_t kPayloadLength = 28672;  // the digits are its last four bytes
constexpr std::size_t kDigitsOffset = 28732;
constexpr std::size_t kOversizedLength = 49089;  // one more than the buffer can serve

bool ValidRevision(std::string_view rev) {
  return !rev.empty() && rev.size() <= 4 &&
         std::all_of(rev.begin(), rev.end(), [](char c) { return c > 0x20 && c < 0x7F; });
}

bool ValidDigits(std::string_view digits) {
  return digits.size() == 4 &&
         std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Filler that looks like code rather than a run of one byte, the same for
// every package of the same options.
void FillPattern(std::string& bytes, std::uint32_t seed) {
  std::uint32_t state = seed;
  for (char& b : bytes) {
    state = state * 1664525u + 1013904223u;
    b = static_cast<char>(state >> 24);
  }
}

void Put(std::string& bytes, std::size_t at, std::string_view text, std::size_t width) {
  for (std::size_t i = 0; i < width; ++i) bytes[at + i] = i < text.size() ? text[i] : ' ';
}

unsigned Word(const std::string& bytes, std::size_t at) {
  return (static_cast<unsigned char>(bytes[at]) << 8) | static_cast<unsigned char>(bytes[at + 1]);
}

bool ParseBreak(std::string_view what, PackageOptions* options, std::string* error) {
  if (what == "vendor") {
    options->wrong_vendor = true;
  } else if (what == "checksum") {
    options->bad_checksum = true;
  } else if (what == "length") {
    options->oversized_length = true;
  } else if (what == "short") {
    options->short_loader = true;
  } else if (what.substr(0, 5) == "size=") {
    std::string_view number = what.substr(5);
    if (!number.empty() && number[0] == '+') number.remove_prefix(1);
    long delta = 0;
    auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), delta);
    if (ec != std::errc() || end != number.data() + number.size() || number.empty() || delta == 0 ||
        delta <= -static_cast<long>(kImageSize) || delta > 1 << 20) {
      *error = "--break size=N needs a non-zero byte count, e.g. size=-1 or size=+1";
      return false;
    }
    options->size_delta = delta;
  } else {
    *error = "--break takes size=+N, size=-N, vendor, checksum, length or short, not '" +
             std::string(what) + "'";
    return false;
  }
  return true;
}

bool WriteFile(const std::filesystem::path& path, const std::string& bytes, std::string* error) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) {
    *error = "cannot write " + path.string();
    return false;
  }
  return true;
}

}  // namespace

PackageOptions DefaultPackage(std::string_view model) {
  PackageOptions options;
  options.model = model == "r305" ? "r305" : "t71";
  return options;
}

bool ParsePackOptions(const std::vector<std::string>& args, PackageOptions* options,
                      std::string* error) {
  PackageOptions parsed;
  bool have_model = false;
  bool have_rev = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    auto value = [&](std::string* out) {
      if (i + 1 >= args.size()) {
        *error = arg + " needs a value";
        return false;
      }
      *out = args[++i];
      return true;
    };
    if (arg == "--model") {
      if (!value(&parsed.model)) return false;
      if (parsed.model != "t71" && parsed.model != "r305") {
        *error = "--model takes t71 or r305, not '" + parsed.model + "'";
        return false;
      }
      have_model = true;
    } else if (arg == "--rev") {
      if (!value(&parsed.rev)) return false;
      if (!ValidRevision(parsed.rev)) {
        *error = "--rev takes 1 to 4 printable characters, not '" + parsed.rev + "'";
        return false;
      }
      have_rev = true;
    } else if (arg == "--digits") {
      if (!value(&parsed.digits)) return false;
      if (!ValidDigits(parsed.digits)) {
        *error = "--digits takes four decimal digits, not '" + parsed.digits + "'";
        return false;
      }
    } else if (arg == "--no-loader") {
      parsed.no_loader = true;
    } else if (arg == "--non") {
      parsed.non = true;
    } else if (arg == "--break") {
      std::string what;
      if (!value(&what) || !ParseBreak(what, &parsed, error)) return false;
    } else {
      *error = "unknown pack option '" + arg + "'";
      return false;
    }
  }
  if (!have_model || !have_rev) {
    *error = "pack needs --model t71|r305 and --rev NEW";
    return false;
  }
  *options = parsed;
  return true;
}

std::string MakePackageImage(const PackageOptions& options) {
  std::string image(kImageSize, '\0');
  FillPattern(image, options.model == "r305" ? 0x305u : 0x71u);
  const bool t71 = options.model != "r305";
  const bool vantros = t71 != options.wrong_vendor;
  Put(image, kSignatureOffset, vantros ? "VANTROS" : "ORBELLO", 8);
  Put(image, kSignatureOffset + 8, t71 ? "T71 CDRW USB" : "RX-2210QN", 16);
  // Field 1: the revision the drive reports once the image is in; field 3:
  // the one a drive's revision is classified against; field 2 only rides along.
  for (int field = 0; field < 3; ++field) {
    const std::size_t at = kSignatureOffset + 24 + 4 * static_cast<std::size_t>(field);
    std::fill_n(image.begin() + static_cast<long>(at), 4, '\0');
    const std::string& rev =
        field == 1 && !options.second_rev.empty() ? options.second_rev : options.rev;
    std::copy(rev.begin(), rev.end(), image.begin() + static_cast<long>(at));
  }
  image[kSignatureOffset + 36] = '\0';
  image[kSignatureOffset + 37] = '\0';
  if (options.size_delta > 0) {
    image.append(static_cast<std::size_t>(options.size_delta), '\xFF');
  } else if (options.size_delta < 0) {
    image.resize(kImageSize - static_cast<std::size_t>(-options.size_delta));
  }
  return image;
}

std::string MakeLoaderData(const PackageOptions& options) {
  std::string data(kLoaderHeaderSize + kPayloadLength, '\0');
  FillPattern(data, 0x4C44u);
  Put(data, 0, "VANTROS LOADER DATA", 60);
  data[60] = 0x00;  // payload parameters, sent as bytes 6 and 7 of the command
  data[61] = 0x00;
  const std::size_t length = options.oversized_length ? kOversizedLength : kPayloadLength;
  data[62] = static_cast<char>(length >> 8);
  data[63] = static_cast<char>(length & 0xFF);
  std::copy(options.digits.begin(), options.digits.end(), data.begin() + kDigitsOffset);
  // The first payload word balances the sum of the others to 0.
  unsigned sum = 0;
  for (std::size_t at = kLoaderHeaderSize + 2; at < data.size(); at += 2) sum += Word(data, at);
  unsigned balance = (0x10000u - (sum & 0xFFFFu)) & 0xFFFFu;
  if (options.bad_checksum) balance ^= 1u;
  data[kLoaderHeaderSize] = static_cast<char>(balance >> 8);
  data[kLoaderHeaderSize + 1] = static_cast<char>(balance & 0xFF);
  if (options.short_loader) data.resize(kLoaderHeaderSize + kPayloadLength / 2);
  return data;
}

std::string MakePackageDescription(const PackageOptions& options) {
  std::string text = kPackageImageName;
  if (options.non) text += " /NON";
  text += "\r\n";
  if (!options.no_loader) {
    text += kPackageLoaderName;
    text += "\r\n";
  }
  return text;
}

bool WritePackage(const std::filesystem::path& outdir, const PackageOptions& options,
                  std::string* error) {
  std::error_code ec;
  std::filesystem::create_directories(outdir, ec);
  if (ec) {
    *error = "cannot create " + outdir.string() + ": " + ec.message();
    return false;
  }
  if (!WriteFile(outdir / kPackageImageName, MakePackageImage(options), error)) return false;
  if (options.no_loader) {
    std::filesystem::remove(outdir / kPackageLoaderName, ec);
  } else if (!WriteFile(outdir / kPackageLoaderName, MakeLoaderData(options), error)) {
    return false;
  }
  return WriteFile(outdir / kPackageDescriptionName, MakePackageDescription(options), error);
}
