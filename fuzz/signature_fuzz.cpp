// Fuzzes the image checks: the input is an image file whose signature block
// starts at its first byte. An accepted block always names an accepted
// vendor and model, the fields stay terminated, and every refusal shows
// exactly one message.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "fuzz/fuzz_require.h"
#include "fuzz/memory_platform.h"
#include "package/package_files.h"
#include "state/app_state.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  ResetFuzzFiles();
  ResetAppState();
  CopyText(g_app.DataFileName, kMaxPath, "fw.bin");
  PutFuzzFile("fw.bin", std::string_view(reinterpret_cast<const char*>(data), size));

  FuzzRequire(CheckImageSize() == 0);  // a fuzzed input is never 526,336 bytes
  FuzzRequire(FuzzMessageCount() == 1);

  ResetFuzzFiles();
  PutFuzzFile("fw.bin", std::string_view(reinterpret_cast<const char*>(data), size));
  char revisions[15];
  std::memset(revisions, 0x7F, sizeof revisions);
  const int accepted = ReadImageSignature(0, revisions);
  FuzzRequire(FuzzOpenFiles() == 0);
  FuzzRequire(FuzzMessageCount() == (accepted ? 0 : 1));
  if (!accepted) return 0;

  FuzzRequire(size >= static_cast<std::size_t>(SignatureBlockSize));
  FuzzRequire(g_app.ImageModel[9] == '\0');
  const bool t71 = std::memcmp(data + 8, "T71 CDRW", 8) == 0;
  const bool r305 = std::memcmp(data + 8, "RX-2210QN", 9) == 0;
  FuzzRequire((t71 && std::memcmp(data, "VANTROS", 7) == 0) ||
              (r305 && std::memcmp(data, "ORBELLO", 7) == 0));
  for (int field = 0; field < 3; ++field) {
    const char* text = revisions + 5 * field;
    FuzzRequire(text[4] == '\0');
    const std::size_t length = strnlen(text, 5);
    FuzzRequire(std::memcmp(text, data + 24 + 4 * field, length) == 0);
  }
  return 0;
}
