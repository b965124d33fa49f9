// Makes firmware packages for the virtual PC: Tellumar.inf, a 526,336-byte
// firmware image with a signature block, and a loader data file whose payload
// sums to 0 and ends in the version digits. Options can break a package on
// purpose so that every refusal of the program can be rehearsed.
//
//   quorvanta-sim pack OUTDIR --model t71|r305 --rev NEW [--digits DDDD]
//                 [--no-loader] [--non] [--break WHAT]...
//
// WHAT is one of: size=+N or size=-N (image N bytes longer or shorter),
// vendor (a vendor id that does not fit the model), checksum (payload no
// longer sums to 0), length (payload length field above 49,088), short
// (loader data file cut before the end of its payload).
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

inline constexpr const char* kPackageDescriptionName = "Tellumar.inf";
inline constexpr const char* kPackageImageName = "Tellumar.bin";
inline constexpr const char* kPackageLoaderName = "Tellmr.bin";

struct PackageOptions {
  std::string model = "t71";    // "t71" (VANTROS T71 CDRW) or "r305" (ORBELLO RX-2210QN)
  std::string rev = "1.10";     // 1 to 4 characters: revision fields 1, 2 and 3
  std::string digits = "0412";  // VersionDigits: model code 04, version 12
  std::string second_rev;       // revision field 2 when not empty (else rev)
  bool no_loader = false;       // a one-line Tellumar.inf and no loader data file
  bool non = false;             // "/NON" after the image name

  // Broken on purpose.
  long size_delta = 0;            // bytes added to (or taken from) the image
  bool wrong_vendor = false;      // vendor id of the other model
  bool bad_checksum = false;      // payload sum off by one
  bool oversized_length = false;  // length field 49,089
  bool short_loader = false;      // loader file ends before its payload does
};

// The package that `quorvanta-sim init --package MODEL` puts into a virtual
// PC: newer than a drive at revision "1.00" with version code 0x10 or 0x11
// and model code 0x04 (rev "1.10", digits "0412").
PackageOptions DefaultPackage(std::string_view model);

// Reads the options after OUTDIR. --model and --rev are required. False with
// a one-line reason in *error on any unknown or malformed option.
bool ParsePackOptions(const std::vector<std::string>& args, PackageOptions* options,
                      std::string* error);

// Writes the package into `outdir` (created when missing), replacing files
// of the same names. False with a reason in *error.
bool WritePackage(const std::filesystem::path& outdir, const PackageOptions& options,
                  std::string* error);

// The bytes WritePackage writes, for tests and for callers that keep files
// elsewhere.
std::string MakePackageImage(const PackageOptions& options);
std::string MakeLoaderData(const PackageOptions& options);
std::string MakePackageDescription(const PackageOptions& options);
