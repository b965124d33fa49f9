// A bench for the emulated drives: one SimAspi on a virtual clock, records
// built by hand, waits in virtual time.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <initializer_list>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "platform/sim/emulated_drive.h"
#include "platform/sim/sim_aspi.h"
#include "platform/sim/virtual_clock.h"

namespace emu_test {

inline DriveSetup Setup(const std::string& text) {
  DriveSetup setup;
  std::string error;
  EXPECT_TRUE(ParseDriveSetup(text, &setup, &error)) << text << ": " << error;
  return setup;
}

// Reads an annotated hex fixture: hex byte pairs, '#' starts a comment.
inline std::vector<BYTE> Fixture(const std::string& name) {
  // Beside this header when the test runs outside ctest (no QV_SOURCE_DIR).
  const char* root = std::getenv("QV_SOURCE_DIR");
  std::string here = __FILE__;
  here = here.substr(0, here.find_last_of('/') + 1);
  std::ifstream in(root != nullptr ? std::string(root) + "/tests/fixtures/" + name
                                   : here + "fixtures/" + name);
  EXPECT_TRUE(in.good()) << name;
  std::vector<BYTE> bytes;
  std::string line;
  while (std::getline(in, line)) {
    line = line.substr(0, line.find('#'));
    std::istringstream words(line);
    std::string word;
    while (words >> word) bytes.push_back(static_cast<BYTE>(std::stoul(word, nullptr, 16)));
  }
  return bytes;
}

struct Sense {
  BYTE status;
  BYTE targ;
  BYTE key;
  BYTE asc;
};

class Bench {
 public:
  explicit Bench(std::initializer_list<std::string> drives, int adapters = 2) : clock(0, false) {
    std::vector<DriveSetup> setups;
    for (const std::string& d : drives) setups.push_back(Setup(d));
    aspi = std::make_unique<SimAspi>(adapters, &clock, setups);
  }

  // A zero-filled record as the program fills one.
  static SRB_ExecSCSICmd Record(int adapter, int target, std::initializer_list<BYTE> cdb,
                                BYTE flags, BYTE* buffer, DWORD length) {
    SRB_ExecSCSICmd r;
    std::memset(&r, 0, sizeof r);
    r.SRB_Cmd = SC_EXEC_SCSI_CMD;
    r.SRB_HaId = static_cast<BYTE>(adapter);
    r.SRB_Target = static_cast<BYTE>(target);
    r.SRB_Flags = flags;
    r.SRB_BufPointer = buffer;
    r.SRB_BufLen = length;
    r.SRB_SenseLen = SENSE_LEN;
    r.SRB_CDBLen = static_cast<BYTE>(cdb.size());
    std::copy(cdb.begin(), cdb.end(), r.CDBByte);
    return r;
  }

  // Sends and waits up to `limit` virtual ms; the status afterwards.
  BYTE Run(SRB_ExecSCSICmd* r, DWORD limit = 600000) {
    aspi->Send(r);
    clock.Wait(r, limit);
    return r->SRB_Status;
  }

  Sense Do(int adapter, int target, std::initializer_list<BYTE> cdb, BYTE flags = SRB_DIR_IN,
           BYTE* buffer = nullptr, DWORD length = 0) {
    SRB_ExecSCSICmd r = Record(adapter, target, cdb, flags, buffer, length);
    Run(&r);
    return {r.SRB_Status, r.SRB_TargStat, static_cast<BYTE>(r.SenseArea[2] & 0x0F),
            r.SenseArea[12]};
  }

  Sense TestUnitReady(int a = 0, int t = 0) { return Do(a, t, {0x00, 0, 0, 0, 0, 0}); }

  std::vector<BYTE> InquiryAnswer(int a, int t, BYTE evpd, BYTE page, BYTE allocation) {
    std::vector<BYTE> buffer(256, 0xEE);
    Sense s = Do(a, t, {0x12, evpd, page, 0, allocation, 0}, SRB_DIR_IN, buffer.data(), 256);
    if (s.status != SS_COMP) return {};
    buffer.resize(allocation);
    return buffer;
  }

  std::string Revision(int a = 0, int t = 0) {
    std::vector<BYTE> page = InquiryAnswer(a, t, 1, 0x81, 255);
    if (page.size() < 36) return "";
    return std::string(page.begin() + 32, page.begin() + 36);
  }

  // One WRITE BUFFER of a 2048-byte chunk from a 4096-byte buffer, as the
  // direct path sends it (10-byte block).
  Sense WriteChunk(int a, int t, BYTE mode, std::size_t offset, const BYTE* data) {
    std::vector<BYTE> buffer(4096, 0);
    std::memcpy(buffer.data(), data, emulated::kChunkSize);
    return Do(a, t,
              {0x3B, mode, 0, static_cast<BYTE>(offset >> 16), static_cast<BYTE>(offset >> 8),
               static_cast<BYTE>(offset), 0x00, 0x08, 0x00, 0x00},
              SRB_DIR_OUT, buffer.data(), 4096);
  }

  // Chunks first..last of an image; stops at the first that is not SS_COMP.
  Sense SendImage(int a, int t, const std::vector<BYTE>& image, std::size_t first = 0,
                  std::size_t last = emulated::kChunkCount - 1) {
    Sense s{};
    for (std::size_t c = first; c <= last; ++c) {
      const BYTE mode = c == emulated::kChunkCount - 1 ? 0x07 : 0x06;
      s = WriteChunk(a, t, mode, c * emulated::kChunkSize, image.data() + c * emulated::kChunkSize);
      if (s.status != SS_COMP) return s;
    }
    return s;
  }

  Sense EndOfLoad(int a = 0, int t = 0) {
    return Do(a, t, {0xCD, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 0);
  }

  VirtualClock clock;
  std::unique_ptr<SimAspi> aspi;
};

// A firmware image whose signature block fits `vendor` + `model`, with
// revision field 1 = `rev` and a pattern elsewhere.
inline std::vector<BYTE> MakeImage(const std::string& vendor, const std::string& model,
                                   const std::string& rev) {
  std::vector<BYTE> image(emulated::kImageSize);
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<BYTE>(i * 7 + (i >> 11));
  std::memset(image.data() + emulated::kSignatureOffset, ' ', 38);
  std::memcpy(image.data() + emulated::kSignatureOffset, vendor.data(), vendor.size());
  std::memcpy(image.data() + emulated::kSignatureOffset + 8, model.data(), model.size());
  std::memcpy(image.data() + emulated::kImageRevisionOffset, rev.data(), 4);
  return image;
}

// A loader payload of `length` bytes carrying `digits` (model pair, version
// pair), its words summing to 0 unless `break_sum`.
inline std::vector<BYTE> MakePayload(std::size_t length, const std::string& digits,
                                     bool break_sum = false) {
  std::vector<BYTE> p(length);
  for (std::size_t i = 0; i < length; ++i) p[i] = static_cast<BYTE>(i * 13 + 5);
  if (length >= emulated::kPayloadDigitsOffset + 4) {
    std::memcpy(p.data() + emulated::kPayloadDigitsOffset, digits.data(), 4);
  }
  unsigned sum = 0;
  for (std::size_t i = 2; i + 1 < length; i += 2) sum += (p[i] << 8) | p[i + 1];
  const unsigned fix = (0x10000 - (sum & 0xFFFF)) & 0xFFFF;
  p[0] = static_cast<BYTE>(fix >> 8);
  p[1] = static_cast<BYTE>(fix);
  if (break_sum) p[1] ^= 0x01;
  return p;
}

}  // namespace emu_test
