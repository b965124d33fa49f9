// Fuzzes the reader of the registry's REGEDIT4 text: whatever the text holds,
// it is read or refused with a reason, never crashes, and what it reads is
// written back as text that reads back to the very same registry.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "fuzz/fuzz_require.h"
#include "platform/posix/registry_store.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  RegistryStore store;
  std::string error;
  if (!store.Parse(text, &error)) {
    FuzzRequire(!error.empty());
    return 0;
  }
  const std::string written = store.Serialize();
  RegistryStore again;
  FuzzRequire(again.Parse(written, &error));
  FuzzRequire(again.Serialize() == written);
  return 0;
}
